// Must not compile: the operations cannot see the command line.
#include "cli/common.h"
