#pragma once

#include "platform/PlatformLayer.h"

#include <chrono>

#include "app/TcpClient.h"

namespace qhs {

// A TCP client on a Linux socket. Connect, send and receive each give up after the
// time-out (ETIMEDOUT for connect, EAGAIN for the others).
class LinuxTcpClient final : public TcpClient {
  public:
    static constexpr std::chrono::milliseconds DefaultTimeout{5000};

    explicit LinuxTcpClient(std::chrono::milliseconds timeout = DefaultTimeout);
    ~LinuxTcpClient() override;
    LinuxTcpClient(const LinuxTcpClient&) = delete;
    LinuxTcpClient& operator=(const LinuxTcpClient&) = delete;

    long connect(const std::string& host, std::uint16_t port) override;
    long send(std::string_view bytes) override;
    TcpReceiveResult receive(std::span<char> buffer) override;
    void close() override;

  private:
    std::chrono::milliseconds timeout_;
    int socket_ = -1;
};

}  // namespace qhs
