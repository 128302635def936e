#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace qhs {

// Two connected TCP sockets on 127.0.0.1 whose sequence numbers start where the test says,
// made without a handshake through the kernel's connection repair mode (root only). Lets a
// test send a stream whose numbers wrap past 4294967295 after a few bytes.
class RepairedTcpPair {
  public:
    RepairedTcpPair(std::uint32_t firstSequence, std::uint32_t secondSequence) {
        sockaddr_in first = boundAddress(first_);
        sockaddr_in second = boundAddress(second_);
        connected_ = first.sin_port != 0 && second.sin_port != 0 &&
                     repairConnect(first_, firstSequence, secondSequence, second) &&
                     repairConnect(second_, secondSequence, firstSequence, first) &&
                     // Only once both ends exist may either speak, or the other resets it.
                     set(first_, TCP_REPAIR, 0) && set(second_, TCP_REPAIR, 0);
    }
    ~RepairedTcpPair() {
        ::close(first_);
        ::close(second_);
    }
    RepairedTcpPair(const RepairedTcpPair&) = delete;
    RepairedTcpPair& operator=(const RepairedTcpPair&) = delete;

    bool connected() const { return connected_; }
    int first() const { return first_; }
    int second() const { return second_; }

  private:
    static bool set(int socket, int option, int value) {
        return ::setsockopt(socket, SOL_TCP, option, &value, sizeof value) == 0;
    }
    sockaddr_in boundAddress(int socket) {
        int on = 1;
        set(socket, TCP_REPAIR, 1);
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(socket, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            address.sin_port = 0;
        }
        return address;
    }
    static bool repairConnect(int socket, std::uint32_t sendSequence, std::uint32_t receiveSequence,
                              const sockaddr_in& peer) {
        if (!set(socket, TCP_REPAIR_QUEUE, TCP_SEND_QUEUE) ||
            !set(socket, TCP_QUEUE_SEQ, static_cast<int>(sendSequence)) ||
            !set(socket, TCP_REPAIR_QUEUE, TCP_RECV_QUEUE) ||
            !set(socket, TCP_QUEUE_SEQ, static_cast<int>(receiveSequence)) ||
            !set(socket, TCP_REPAIR_QUEUE, TCP_NO_QUEUE)) {
            return false;
        }
        // In repair mode connect sends nothing: the connection is simply established.
        if (::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
            return false;
        }
        // Loopback's segment size (else 536 bytes) and a window scale for each direction,
        // which the socket assumes anyway: without the option its peer reads 64 KiB as 64.
        const tcp_repair_opt options[] = {{TCPOPT_MAXSEG, 65483},
                                          {TCPOPT_WINDOW, WindowScale | (WindowScale << 16)}};
        // Both windows open, as a handshake would have left them; a repaired socket has none.
        const tcp_repair_window window{receiveSequence, 65535, 65535, 65535, receiveSequence};
        return ::setsockopt(socket, SOL_TCP, TCP_REPAIR_OPTIONS, options, sizeof options) == 0 &&
               ::setsockopt(socket, SOL_TCP, TCP_REPAIR_WINDOW, &window, sizeof window) == 0;
    }

    static constexpr std::uint32_t WindowScale = 7;

    int first_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int second_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool connected_ = false;
};

}  // namespace qhs
