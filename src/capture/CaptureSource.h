#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace qhs {

// The kernel buffer a Packet Sniffer capture asks for, in bytes.
inline constexpr int PacketCaptureBufferBytes = 10000000;

// File Sniffer Mode keeps every segment of a download, and on loopback a download outruns
// the copying of its segments into fresh memory (1 to 3.5 s/GB to back on a virtual
// machine) by far. Its buffer of 256 MiB holds all of a 200 MB burst.
inline constexpr int FileCaptureBufferBytes = 256 << 20;

// What a capture is opened on and how.
struct CaptureOptions {
    std::string interfaceAddress;  // dotted IPv4 address of a local interface
    int bufferBytes = 0;           // the kernel buffer; 0: the system's default
    // As the command line names it, in place of interfaceAddress: an interface's name, its
    // index, "any" for every interface at once, or an IPv4 address it owns.
    std::string interfaceName{};
    // A capture filter expression (pcap-filter syntax) the kernel applies; empty: none.
    std::string filterExpression{};
};

// How opening a capture ended.
enum class OpenStatus {
    Opened,
    NoPermission,     // the process may not capture (errorCode says why, as errno)
    NoSuchInterface,  // empty, not dotted IPv4, or no interface that is up owns the address
    OtherError,       // errorCode: errno, or libpcap's own negative code
    BadFilter,        // the filter expression could not be compiled or set (see message)
};

struct OpenOutcome {
    OpenStatus status = OpenStatus::Opened;
    long errorCode = 0;
    std::string message{};  // BadFilter: libpcap's words for what is wrong

    bool opened() const { return status == OpenStatus::Opened; }
};

struct ReceiveResult {
    bool ok = false;
    std::size_t length = 0;  // bytes of the datagram, IP header first
    long errorCode = 0;      // errno, or 0 when ended by close()
    // When the datagram arrived, in nanoseconds since 1970 by the system clock, as the kernel
    // stamped it; 0 when the source has no such stamp and the time is read on delivery.
    std::int64_t arrivalNanoseconds = 0;
};

// Looks at a datagram of `length` bytes where the source holds it; it must copy what it keeps.
using DatagramVisitor = std::function<void(const std::uint8_t* datagram, std::size_t length)>;

// The whole IPv4 datagrams one local interface sees, in the shape of a libpcap capture: one
// open that says what failed, then one receive at a time until close(). close() may be
// called from any thread and wakes a blocked receive at once.
class CaptureSource {
  public:
    virtual ~CaptureSource() = default;

    virtual OpenOutcome open(const CaptureOptions& options) = 0;
    // Blocks until one datagram arrives, the source is closed, or it fails. `visit` is handed
    // the datagram in the source's own memory before the receive returns, so the datagram is
    // copied at most once, by the visitor, to where it goes.
    virtual ReceiveResult receive(const DatagramVisitor& visit) = 0;
    virtual void close() = 0;
    // Datagrams the system dropped because the reader fell behind, since the source opened.
    // May be called from any thread.
    virtual std::uint64_t droppedCount() const { return 0; }
};

// Receives the next datagram into `buffer`, cut to `capacity` bytes.
inline ReceiveResult receiveCopy(CaptureSource& source, std::uint8_t* buffer,
                                 std::size_t capacity) {
    std::size_t copied = 0;
    ReceiveResult result = source.receive([&](const std::uint8_t* datagram, std::size_t length) {
        copied = std::min(length, capacity);
        if (copied > 0) {
            std::memcpy(buffer, datagram, copied);
        }
    });
    result.length = copied;
    return result;
}

// Whether a failed receive is worth trying again: a signal came, or the system was briefly
// short of memory. Any other failure means the capture is gone (its interface disappeared or
// went down, or it never opened).
inline bool isPassingReceiveFailure(long errorCode) {
    return errorCode == EINTR || errorCode == EAGAIN || errorCode == ENOBUFS || errorCode == ENOMEM;
}

using CaptureSourceFactory = std::function<std::unique_ptr<CaptureSource>()>;

}  // namespace qhs
