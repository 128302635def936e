#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qhs {

struct TcpReceiveResult {
    std::size_t length = 0;  // 0 with no error: the peer closed the connection
    long errorCode = 0;
};

// One outgoing TCP connection over IPv4. Every call is bounded by the client's time-out,
// so a dead network cannot hold the caller for long. Error codes are non-zero.
class TcpClient {
  public:
    virtual ~TcpClient() = default;

    // Resolves `host` to its first IPv4 address and connects to `port`. 0 or the error.
    virtual long connect(const std::string& host, std::uint16_t port) = 0;
    // Sends all of `bytes`. 0 or the error.
    virtual long send(std::string_view bytes) = 0;
    // One receive of at most buffer.size() bytes.
    virtual TcpReceiveResult receive(std::span<char> buffer) = 0;
    virtual void close() = 0;
};

}  // namespace qhs
