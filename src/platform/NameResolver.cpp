#include "platform/NameResolver.h"

#include <cstring>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace qhs {

std::optional<std::string> resolveHostAddress(const std::string& hostName) {
    if (hostName.empty()) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    if (::getaddrinfo(hostName.c_str(), nullptr, &hints, &results) != 0 || results == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> address;
    const auto* first = reinterpret_cast<const sockaddr_in*>(results->ai_addr);
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &first->sin_addr, text, sizeof text) != nullptr) {
        address = text;
    }
    ::freeaddrinfo(results);
    return address;
}

namespace {

template <typename SocketAddress>
std::optional<std::string> registeredName(const SocketAddress& address) {
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host,
                      sizeof host, nullptr, 0, NI_NAMEREQD) != 0) {
        return std::nullopt;
    }
    return std::string(host);
}

}  // namespace

std::optional<std::string> resolveAddressName(std::uint32_t networkOrderAddress) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = networkOrderAddress;
    return registeredName(address);
}

std::optional<std::string> resolveIpv6AddressName(const std::array<std::uint8_t, 16>& address) {
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    std::memcpy(&ipv6.sin6_addr, address.data(), address.size());
    return registeredName(ipv6);
}

}  // namespace qhs
