#pragma once

#include "platform/PlatformLayer.h"

#include <string>

#include "capture/FrameFilter.h"

namespace qhs {

// Compiles a filter expression with libpcap for frames of a link type, as tcpdump does for a
// capture file: with no netmask known, so "ip broadcast" cannot be used.
FrameFilterCompile compilePcapFilter(const std::string& expression, int linkType);

}  // namespace qhs
