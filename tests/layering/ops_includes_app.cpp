// Must not compile: the operations cannot see the window.
#include "app/form1.h"
