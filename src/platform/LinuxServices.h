#pragma once

#include "capture/SystemServices.h"
#include "platform/PlatformLayer.h"

namespace qhs {

// The Linux side of every system service: libpcap captures and files, huge-page memory,
// ALSA sound, TCP, getifaddrs and the resolver.
SystemServices linuxServices();

}  // namespace qhs
