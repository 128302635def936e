#pragma once

#include "platform/PlatformLayer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture/LocalInterface.h"

namespace qhs {

// The machine's IPv4 addresses in dotted form, in the order the system lists them; none
// when the list cannot be had or holds no IPv4 address.
std::optional<std::vector<std::string>> localIpv4Addresses();

// The interface that is up and owns an IPv4 address.
struct OwningInterface {
    std::string name;
    bool loopback = false;
};

// The interface that is up and owns the dotted IPv4 address, if any.
std::optional<OwningInterface> interfaceForAddress(const std::string& interfaceAddress);

// The interface that is up and has the name, or the index given in decimal digits.
std::optional<OwningInterface> interfaceNamed(const std::string& name);

// Every interface of the machine, by index, with its IPv4 and IPv6 addresses.
std::vector<LocalInterface> localInterfaces();

// Strict dotted-quad parse ("a.b.c.d", each 0-255); on success the address in network order.
bool parseDottedAddress(const std::string& text, std::uint32_t& networkOrderAddress);

}  // namespace qhs
