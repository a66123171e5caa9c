// Must not compile: the file layer cannot see the container layer.
#include "wav/records.h"
