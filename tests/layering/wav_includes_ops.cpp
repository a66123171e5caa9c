// Must not compile: the container layer cannot see the operations.
#include "ops/host.h"
