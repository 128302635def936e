#include "platform/LinuxCaptureSource.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace qhs {

bool parseDottedAddress(const std::string& text, std::uint32_t& networkOrderAddress) {
    // inet_pton accepts exactly four decimal parts of 0-255 and nothing else.
    in_addr parsed{};
    if (text.empty() || inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
        return false;
    }
    networkOrderAddress = parsed.s_addr;
    return true;
}

int interfaceIndexForAddress(const std::string& interfaceAddress, bool* isLoopback) {
    std::uint32_t wanted = 0;
    if (!parseDottedAddress(interfaceAddress, wanted)) {
        return 0;
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return 0;
    }
    int index = 0;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (address->sin_addr.s_addr == wanted) {
            index = static_cast<int>(if_nametoindex(entry->ifa_name));
            if (isLoopback != nullptr) {
                *isLoopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
            }
            break;
        }
    }
    freeifaddrs(list);
    return index;
}

std::size_t ipDatagramLength(const std::uint8_t* frame, std::size_t received) {
    if (received < 20 || (frame[0] >> 4) != 4) {
        return received;
    }
    const std::size_t totalLength = static_cast<std::size_t>(frame[2] << 8 | frame[3]);
    return totalLength >= 20 && totalLength < received ? totalLength : received;
}

LinuxCaptureSource::LinuxCaptureSource() {
    wakeEvent_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

LinuxCaptureSource::~LinuxCaptureSource() {
    if (socket_ >= 0) {
        ::close(socket_);
    }
    if (wakeEvent_ >= 0) {
        ::close(wakeEvent_);
    }
}

std::unique_ptr<CaptureSource> LinuxCaptureSource::create() {
    return std::make_unique<LinuxCaptureSource>();
}

long LinuxCaptureSource::createSocket() {
    // Protocol 0 receives nothing until bind names the protocol, so no frame of another
    // interface slips in before the socket is bound.
    socket_ = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        return errno;
    }
    return 0;
}

BindResult LinuxCaptureSource::bindToInterface(const std::string& interfaceAddress) {
    if (socket_ < 0) {
        return {BindStatus::NotASocket, 0};
    }
    bool loopback = false;
    const int index = interfaceIndexForAddress(interfaceAddress, &loopback);
    if (index == 0) {
        return {BindStatus::NotAnInterface, 0};
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = index;
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return {BindStatus::OtherError, errno};
    }
    boundInterfaceIndex_ = index;
    boundToLoopback_ = loopback;
    return {BindStatus::Bound, 0};
}

void LinuxCaptureSource::setLargeReceiveBuffer() {
    if (socket_ < 0) {
        return;
    }
    const int size = CaptureReceiveBufferBytes;
    // As root the force variant passes the system's limit; otherwise take what is allowed.
    if (::setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
}

ReceiveResult LinuxCaptureSource::receive(std::uint8_t* buffer, std::size_t capacity) {
    if (socket_ < 0) {
        return {false, 0, EBADF};
    }
    pollfd waits[2] = {{socket_, POLLIN, 0}, {wakeEvent_, POLLIN, 0}};
    for (;;) {
        if (closed_.load(std::memory_order_acquire)) {
            return {false, 0, 0};
        }
        const int ready = ::poll(waits, wakeEvent_ >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {false, 0, errno};
        }
        if (closed_.load(std::memory_order_acquire) || (waits[1].revents & POLLIN) != 0) {
            return {false, 0, 0};
        }
        if ((waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 &&
            (waits[0].revents & POLLIN) == 0) {
            return {false, 0, EIO};
        }
        // Drain what has arrived without blocking, so close() is never kept waiting.
        for (;;) {
            sockaddr_ll from{};
            socklen_t fromLength = sizeof from;
            const ssize_t received = ::recvfrom(socket_, buffer, capacity, MSG_DONTWAIT,
                                                reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (received < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    break;
                }
                return {false, 0, errno};
            }
            if (from.sll_protocol != htons(ETH_P_IP)) {
                continue;
            }
            if (boundToLoopback_ && from.sll_pkttype == PACKET_OUTGOING) {
                continue;
            }
            return {true, ipDatagramLength(buffer, static_cast<std::size_t>(received)), 0};
        }
    }
}

void LinuxCaptureSource::close() {
    closed_.store(true, std::memory_order_release);
    if (wakeEvent_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeEvent_, &one, sizeof one);
    }
}

}  // namespace qhs
