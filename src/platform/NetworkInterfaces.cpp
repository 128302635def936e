#include "platform/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <map>

namespace qhs {

std::optional<std::vector<std::string>> localIpv4Addresses() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    std::vector<std::string> addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) {
            addresses.emplace_back(text);
        }
    }
    ::freeifaddrs(list);
    if (addresses.empty()) {
        return std::nullopt;
    }
    return addresses;
}

bool parseDottedAddress(const std::string& text, std::uint32_t& networkOrderAddress) {
    // inet_pton accepts exactly four decimal parts of 0-255 and nothing else.
    in_addr parsed{};
    if (text.empty() || ::inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
        return false;
    }
    networkOrderAddress = parsed.s_addr;
    return true;
}

std::optional<OwningInterface> interfaceForAddress(const std::string& interfaceAddress) {
    std::uint32_t wanted = 0;
    if (!parseDottedAddress(interfaceAddress, wanted)) {
        return std::nullopt;
    }
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    std::optional<OwningInterface> owner;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (address->sin_addr.s_addr == wanted) {
            owner = OwningInterface{entry->ifa_name, (entry->ifa_flags & IFF_LOOPBACK) != 0};
            break;
        }
    }
    ::freeifaddrs(list);
    return owner;
}

std::optional<OwningInterface> interfaceNamed(const std::string& name) {
    std::string wanted = name;
    if (!name.empty() &&
        std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        char indexed[IF_NAMESIZE] = {};
        if (name.size() > 9 ||
            ::if_indextoname(static_cast<unsigned>(std::stoul(name)), indexed) == nullptr) {
            return std::nullopt;
        }
        wanted = indexed;
    }
    ifaddrs* list = nullptr;
    if (wanted.empty() || ::getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    std::optional<OwningInterface> found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name != wanted || (entry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        found = OwningInterface{entry->ifa_name, (entry->ifa_flags & IFF_LOOPBACK) != 0};
        break;
    }
    ::freeifaddrs(list);
    return found;
}

std::vector<LocalInterface> localInterfaces() {
    std::map<unsigned, LocalInterface> byIndex;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return {};
    }
    // Every interface has an entry of its own link layer; those with IP addresses have more.
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const unsigned index = ::if_nametoindex(entry->ifa_name);
        if (index == 0) {
            continue;
        }
        LocalInterface& known = byIndex[index];
        known.index = index;
        known.name = entry->ifa_name;
        known.up = (entry->ifa_flags & IFF_UP) != 0;
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            char text[INET_ADDRSTRLEN] = {};
            if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) {
                known.ipv4Addresses.emplace_back(text);
            }
        } else if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET6) {
            const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            char text[INET6_ADDRSTRLEN] = {};
            if (::inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text) != nullptr) {
                known.ipv6Addresses.emplace_back(text);
            }
        }
    }
    ::freeifaddrs(list);
    std::vector<LocalInterface> interfaces;
    for (auto& [index, known] : byIndex) {
        interfaces.push_back(std::move(known));
    }
    return interfaces;
}

}  // namespace qhs
