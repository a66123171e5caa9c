// Compiles: the operations see their own headers and the container layer's,
// so the probes above fail for the reason they name.
#include "ops/host.h"
#include "wav/records.h"
