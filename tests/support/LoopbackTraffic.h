#pragma once

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qhs {

inline sockaddr_in loopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Sends one datagram of `type` (SOCK_DGRAM, or SOCK_RAW of `protocol`) to `target`, whose
// family is `family`; returns whether it went out whole.
template <typename SocketAddress>
bool sendOneDatagram(int family, int type, int protocol, const SocketAddress& target,
                     const void* payload, std::size_t size) {
    const int sender = ::socket(family, type, protocol);
    if (sender < 0) {
        return false;
    }
    const bool sent = ::sendto(sender, payload, size, 0, reinterpret_cast<const sockaddr*>(&target),
                               sizeof target) == static_cast<ssize_t>(size);
    ::close(sender);
    return sent;
}

// Sends one UDP datagram to 127.0.0.1; returns whether it went out whole.
inline bool sendLoopbackUdp(std::uint16_t port, const std::string& payload) {
    return sendOneDatagram(AF_INET, SOCK_DGRAM, 0, loopbackAddress(port), payload.data(),
                           payload.size());
}

// Opens a TCP connection to `address` (of `family`), sends the request, has it answered
// when there is an answer, and closes both ends.
template <typename SocketAddress>
bool exchangeTcp(int family, SocketAddress address, const std::string& request,
                 const std::string& answer) {
    const int listener = ::socket(family, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0) {
        ::close(listener);
        return false;
    }
    const int client = ::socket(family, SOCK_STREAM, 0);
    bool ok = ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const int server = ok ? ::accept(listener, nullptr, nullptr) : -1;
    char received[4096];
    ok =
        ok && server >= 0 &&
        ::send(client, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size()) &&
        ::recv(server, received, sizeof received, 0) > 0;
    if (!answer.empty()) {
        ok = ok &&
             ::send(server, answer.data(), answer.size(), 0) ==
                 static_cast<ssize_t>(answer.size()) &&
             ::recv(client, received, sizeof received, 0) > 0;
    }
    ::close(client);
    if (server >= 0) {
        ::close(server);
    }
    ::close(listener);
    return ok;
}

// Opens a TCP connection on 127.0.0.1, sends the payload over it and closes both ends.
inline bool exchangeLoopbackTcp(std::uint16_t port, const std::string& payload) {
    return exchangeTcp(AF_INET, loopbackAddress(port), payload, "");
}

// Sends one ICMP echo request to 127.0.0.1 (the kernel answers it). Needs root.
inline bool pingLoopback(std::uint16_t sequence) {
    std::uint8_t packet[16] = {ICMP_ECHO,
                               0,
                               0,
                               0,
                               0x12,
                               0x34,
                               static_cast<std::uint8_t>(sequence >> 8),
                               static_cast<std::uint8_t>(sequence)};
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < sizeof packet; i += 2) {
        sum += static_cast<std::uint32_t>(packet[i] << 8 | packet[i + 1]);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    const auto checksum = static_cast<std::uint16_t>(~sum);
    packet[2] = static_cast<std::uint8_t>(checksum >> 8);
    packet[3] = static_cast<std::uint8_t>(checksum);
    return sendOneDatagram(AF_INET, SOCK_RAW, IPPROTO_ICMP, loopbackAddress(0), packet,
                           sizeof packet);
}

// Puts bytes into the loopback device as one IPv4 datagram (or IPv6, given ETH_P_IPV6) through
// a packet socket, so a capture sees them exactly as given, however malformed (the IP layer
// then drops what it cannot take). Needs root.
inline bool injectLoopbackDatagram(const std::vector<std::uint8_t>& datagram,
                                   std::uint16_t etherType = ETH_P_IP) {
    const int sender = ::socket(AF_PACKET, SOCK_DGRAM, 0);
    if (sender < 0) {
        return false;
    }
    sockaddr_ll target{};
    target.sll_family = AF_PACKET;
    target.sll_protocol = htons(etherType);
    target.sll_ifindex = static_cast<int>(::if_nametoindex("lo"));
    target.sll_halen = ETH_ALEN;  // all zero: loopback's own address
    const bool sent = ::sendto(sender, datagram.data(), datagram.size(), 0,
                               reinterpret_cast<const sockaddr*>(&target),
                               sizeof target) == static_cast<ssize_t>(datagram.size());
    ::close(sender);
    return sent;
}

inline sockaddr_in6 loopback6Address(std::uint16_t port) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_loopback;
    return address;
}

// Sends one UDP datagram to ::1; returns whether it went out whole.
inline bool sendLoopbackUdp6(std::uint16_t port, const std::string& payload) {
    return sendOneDatagram(AF_INET6, SOCK_DGRAM, 0, loopback6Address(port), payload.data(),
                           payload.size());
}

// An ICMPv6 echo request to ::1, which the kernel answers; the kernel fills in the checksum.
inline bool pingLoopback6(std::uint16_t sequence) {
    const std::uint8_t packet[16] = {128,
                                     0,
                                     0,
                                     0,
                                     0x12,
                                     0x34,
                                     static_cast<std::uint8_t>(sequence >> 8),
                                     static_cast<std::uint8_t>(sequence)};
    return sendOneDatagram(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6, loopback6Address(0), packet,
                           sizeof packet);
}

// Opens a TCP connection on ::1, sends the request, has it answered and closes both ends.
inline bool exchangeLoopbackTcp6(std::uint16_t port, const std::string& request,
                                 const std::string& answer) {
    return exchangeTcp(AF_INET6, loopback6Address(port), request, answer);
}

}  // namespace qhs
