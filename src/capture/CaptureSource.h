#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "capture/ReceiveBuffer.h"

namespace qhs {

// How binding the capture to an interface address ended.
enum class BindStatus {
    Bound,
    NotAnInterface,  // empty, not dotted IPv4, or no interface that is up owns it
    NotASocket,      // there is no socket to bind: its creation failed
    OtherError,
};

struct BindResult {
    BindStatus status = BindStatus::Bound;
    long errorCode = 0;  // errno for OtherError
};

struct ReceiveResult {
    bool ok = false;
    std::size_t length = 0;  // bytes of the datagram, IP header first
    long errorCode = 0;      // errno, or 0 when ended by close()
    // When the datagram arrived, in nanoseconds since 1970 by the system clock, as the kernel
    // stamped it; 0 when the source has no such stamp and the time is read on delivery.
    std::int64_t arrivalNanoseconds = 0;
};

// The source of whole IPv4 datagrams seen by one local interface. The steps mirror the
// order in which the windows open a capture, so each step's failure can be told apart.
// close() may be called from any thread and wakes a blocked receive() at once.
// Gives the memory for a datagram of `length` bytes, or null to let it go.
using DatagramAllocator = std::function<std::uint8_t*(std::size_t length)>;
// Looks at a datagram of `length` bytes where the source holds it.
using DatagramVisitor = std::function<void(const std::uint8_t* datagram, std::size_t length)>;

class CaptureSource {
  public:
    virtual ~CaptureSource() = default;

    // Creates the underlying socket; returns 0 or the error code.
    virtual long createSocket() = 0;
    virtual BindResult bindToInterface(const std::string& interfaceAddress) = 0;
    virtual void setLargeReceiveBuffer() = 0;
    // Blocks until one datagram arrives, the source is closed, or it fails.
    virtual ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity) = 0;
    // The same, with the datagram copied once into memory that `allocate` gives for its exact
    // length. Sources that can read a datagram in place copy it straight there.
    virtual ReceiveResult receiveInto(const DatagramAllocator& allocate) {
        const ReceiveResult result = receive(scratch(), ReceiveBufferBytes);
        if (result.ok) {
            std::uint8_t* const destination = allocate(result.length);
            if (destination != nullptr && result.length > 0) {
                std::memcpy(destination, scratch_.get(), result.length);
            }
        }
        return result;
    }
    // The same, with no copy at all where the source can help it: `visit` is handed the
    // datagram in the source's own memory before the receive returns, and must not keep it.
    virtual ReceiveResult receiveVisit(const DatagramVisitor& visit) {
        const ReceiveResult result = receive(scratch(), ReceiveBufferBytes);
        if (result.ok) {
            visit(scratch_.get(), result.length);
        }
        return result;
    }
    virtual void close() = 0;
    // Datagrams the system dropped because the reader fell behind, since the source opened.
    // May be called from any thread.
    virtual std::uint64_t droppedCount() const { return 0; }

  private:
    std::uint8_t* scratch() {
        if (!scratch_) {
            scratch_ = std::make_unique<std::uint8_t[]>(ReceiveBufferBytes);
        }
        return scratch_.get();
    }
    std::unique_ptr<std::uint8_t[]> scratch_;
};

// Whether a failed receive is worth trying again: a signal came, or the system was briefly
// short of memory. Any other failure means the capture is gone (its interface disappeared or
// went down, or it never opened).
inline bool isPassingReceiveFailure(long errorCode) {
    return errorCode == EINTR || errorCode == EAGAIN || errorCode == ENOBUFS || errorCode == ENOMEM;
}

using CaptureSourceFactory = std::function<std::unique_ptr<CaptureSource>()>;

}  // namespace qhs
