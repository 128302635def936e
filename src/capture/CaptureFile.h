#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capture/PacketCaptureLoop.h"

namespace qhs {

// One frame of a capture file, as its link layer framed it.
struct CaptureFrame {
    const std::uint8_t* bytes = nullptr;  // valid until the next read
    std::size_t length = 0;
    // The frame's length on the wire: more than `length` when the capture's snap length cut
    // it, never less.
    std::size_t originalLength = 0;
    std::int64_t arrivalNanoseconds = 0;  // since 1970
    // The link-layer header type of the interface that captured it (LinkType values and any
    // other, as libpcap reports them): a pcapng file's interfaces may differ in it.
    int linkType = -1;
};

enum class FrameRead { Frame, End, Fault };

// The frames of an open capture file, in file order.
class CaptureFrames {
  public:
    virtual ~CaptureFrames() = default;
    virtual FrameRead next(CaptureFrame& frame) = 0;
    // What is wrong with the file once next() gave Fault.
    virtual std::string fault() const = 0;
    // Bytes of the file read so far.
    virtual std::uint64_t position() const = 0;
};

// A 32-bit field of a file written on a machine of the other byte order, as this one reads it.
constexpr std::uint32_t byteSwapped(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

// A text about a capture file with up to three numbers put into `format` (as %llu).
std::string numberedText(const char* format, unsigned long long first,
                         unsigned long long second = 0, unsigned long long third = 0);

// A time stamp of whole seconds and nanoseconds since 1970 in nanoseconds; one that falls
// outside what 64 bits hold (about 1678 to 2262; a capture file may say anything) is held
// at the nearest end.
std::int64_t stampNanoseconds(std::int64_t seconds, std::int64_t nanoseconds);

// Reports how far a read has come, in bytes of the file.
using CaptureFileProgress = std::function<void(std::uint64_t bytesRead)>;

// The largest snap length any capture takes, in bytes.
inline constexpr std::uint32_t LargestSnapLength = 262144;

// A capture file on disk, as the system opens it.
class CaptureFileFrames : public CaptureFrames {
  public:
    // False when the file could not be opened; fault() then says why.
    virtual bool isOpen() const = 0;
    // The file's size in bytes, 0 when unknown.
    virtual std::uint64_t size() const = 0;
    // Reads the whole file once, from where it stands, for anything wrong with it. Call
    // before any frame is read; the frames are used up after it.
    virtual std::optional<std::string> checkWhole(const CaptureFileProgress& progress) = 0;
};

// Opens a capture file; never null, see isOpen().
using CaptureFileOpener = std::function<std::unique_ptr<CaptureFileFrames>(const std::string&)>;

// Reads every frame; what is wrong when the file cannot be read to its end.
std::optional<std::string> checkCaptureFrames(CaptureFrames& frames,
                                              const CaptureFileProgress& progress);

struct CaptureFileLoad {
    std::uint64_t read = 0;            // frames in the file
    std::uint64_t stored = 0;          // became list rows
    std::uint64_t skipped = 0;         // carried no IP datagram
    std::uint64_t filtered = 0;        // left out by the filters
    const char* endedBy = nullptr;     // StatusItemLimit or StatusMemoryError when cut short
    std::optional<std::string> fault;  // the file could not be read to its end
};

// Stores the IPv4 datagram of each frame as a capture does, with the frame's own time
// stamp; frames without one are skipped and counted. Ends early when the window quits.
CaptureFileLoad loadCaptureFrames(CaptureFrames& frames, PacketCaptureContext& context,
                                  const CaptureFileProgress& progress);

// The status line after a capture file was read.
std::string captureFileStatusText(const CaptureFileLoad& load);

// The message for a capture file that cannot be read.
std::string captureFileFaultText(const std::string& path, const std::string& fault);

}  // namespace qhs
