#pragma once

#include "platform/PlatformLayer.h"

#include <optional>
#include <string>
#include <vector>

namespace qhs {

// The machine's IPv4 addresses in dotted form, in the order the system lists them; none
// when the list cannot be had or holds no IPv4 address.
std::optional<std::vector<std::string>> localIpv4Addresses();

}  // namespace qhs
