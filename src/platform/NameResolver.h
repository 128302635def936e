#pragma once

#include "platform/PlatformLayer.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qhs {

// The first IPv4 address of a host name, in dotted form; none when it does not resolve.
std::optional<std::string> resolveHostAddress(const std::string& hostName);

// The host name registered for an IPv4 address (network byte order); none when the
// address has no name.
std::optional<std::string> resolveAddressName(std::uint32_t networkOrderAddress);

// The host name registered for an IPv6 address; none when the address has no name.
std::optional<std::string> resolveIpv6AddressName(const std::array<std::uint8_t, 16>& address);

}  // namespace qhs
