// Compiles: the container layer sees its own headers and the file layer's,
// so the probes around it fail for the reason they name.
#include "io/file.h"
#include "wav/records.h"
