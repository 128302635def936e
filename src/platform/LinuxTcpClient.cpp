#include "platform/LinuxTcpClient.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qhs {

namespace {

long lastError() {
    return errno != 0 ? errno : EIO;
}

bool setBlocking(int socket, bool blocking) {
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0) {
        return false;
    }
    const int wanted = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
    return ::fcntl(socket, F_SETFL, wanted) == 0;
}

bool setTimeouts(int socket, std::chrono::milliseconds timeout) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
    return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 &&
           ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

// poll() for the socket to become writable within `timeout`: 1, 0 on the time-out, or -1
// with errno. A signal does not end the wait; it goes on with the time that remains.
int waitWritable(int socket, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{socket, POLLOUT, 0};
        const int ready =
            ::poll(&wait, 1, static_cast<int>(std::max<long long>(remaining.count(), 0)));
        if (ready >= 0 || errno != EINTR) {
            return ready;
        }
    }
}

}  // namespace

LinuxTcpClient::LinuxTcpClient(std::chrono::milliseconds timeout) : timeout_(timeout) {}

LinuxTcpClient::~LinuxTcpClient() {
    close();
}

long LinuxTcpClient::connect(const std::string& host, std::uint16_t port) {
    close();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (resolved != 0 || found == nullptr) {
        // getaddrinfo's codes are negative, so they never read as success.
        return resolved != 0 ? resolved : EAI_NONAME;
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);
    address.sin_port = htons(port);

    errno = 0;
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (socket_ < 0) {
        return lastError();
    }
    // Connected without blocking and waited for with poll(), so the wait has our limit
    // instead of the system's retry time of minutes.
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) {
            return lastError();
        }
        const int ready = waitWritable(socket_, timeout_);
        if (ready == 0) {
            return ETIMEDOUT;
        }
        if (ready < 0) {
            return lastError();
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
            return lastError();
        }
        if (error != 0) {
            return error;
        }
    }
    errno = 0;
    if (!setBlocking(socket_, true) || !setTimeouts(socket_, timeout_)) {
        return lastError();
    }
    return 0;
}

long LinuxTcpClient::send(std::string_view bytes) {
    if (socket_ < 0) {
        return ENOTCONN;
    }
    while (!bytes.empty()) {
        errno = 0;
        // No SIGPIPE: a peer that has gone away is an error code, not the end of the process.
        const ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return 0;
}

TcpReceiveResult LinuxTcpClient::receive(std::span<char> buffer) {
    if (socket_ < 0) {
        return {0, ENOTCONN};
    }
    for (;;) {
        errno = 0;
        const ssize_t received = ::recv(socket_, buffer.data(), buffer.size(), 0);
        if (received >= 0) {
            return {static_cast<std::size_t>(received), 0};
        }
        if (errno != EINTR) {
            return {0, lastError()};
        }
    }
}

void LinuxTcpClient::close() {
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

}  // namespace qhs
