#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>

namespace qhs {

enum class ServerAnswer { Reply, CloseWithoutReply, NeverReply };

// A one-connection HTTP server on 127.0.0.1: takes the request up to its empty line, then
// answers as told and closes. Every wait is limited, so a missing client cannot hang it.
class LoopbackHttpServer {
  public:
    explicit LoopbackHttpServer(std::string reply, ServerAnswer answer = ServerAnswer::Reply)
        : reply_(std::move(reply)), answer_(answer) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            ::listen(listener_, 1) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
            port_ = ntohs(address.sin_port);
            thread_ = std::thread([this] { serveOne(); });
        }
    }
    ~LoopbackHttpServer() {
        received();
        ::close(listener_);
    }

    std::uint16_t port() const { return port_; }
    // What the client sent, once the exchange has ended.
    std::string received() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return received_;
    }

  private:
    static bool readable(int socket) {
        pollfd wait{socket, POLLIN, 0};
        return ::poll(&wait, 1, 5000) == 1;
    }
    void serveOne() {
        const int connection = readable(listener_) ? ::accept(listener_, nullptr, nullptr) : -1;
        if (connection < 0) {
            return;
        }
        char buffer[4096];
        ssize_t count = 1;
        while (received_.find("\r\n\r\n") == std::string::npos && count > 0 &&
               readable(connection)) {
            count = ::recv(connection, buffer, sizeof buffer, 0);
            received_.append(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
        }
        if (answer_ == ServerAnswer::Reply) {
            ::send(connection, reply_.data(), reply_.size(), MSG_NOSIGNAL);
        } else if (answer_ == ServerAnswer::NeverReply) {
            readable(connection);  // until the client gives up and closes
        }
        ::close(connection);
    }

    std::string reply_;
    ServerAnswer answer_;
    int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::string received_;
};

// A loopback port with nothing listening on it, so connecting to it is refused.
inline std::uint16_t refusingLoopbackPort() {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    std::uint16_t port = 0;
    // The system hands out a free port; nothing listens on it once this socket is closed.
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(socket);
    return port;
}

}  // namespace qhs
