// Compiled as a core source by the layer tests: reaching a platform header through a core
// header that wrongly includes it must stop the compile.
#include "capture/PacketStore.h"
#include "platform/NameResolver.h"
