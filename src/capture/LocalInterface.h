#pragma once

#include <string>
#include <vector>

namespace qhs {

// A network interface of this machine, as the system lists it.
struct LocalInterface {
    unsigned index = 0;  // the system's interface index
    std::string name;
    std::vector<std::string> ipv4Addresses;  // dotted
    std::vector<std::string> ipv6Addresses;  // as RFC 5952 writes them
    bool up = false;
};

}  // namespace qhs
