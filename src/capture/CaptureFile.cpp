#include "capture/CaptureFile.h"

#include <cstring>
#include <limits>
#include <vector>

#include "capture/LinkLayer.h"
#include "capture/PacketIntake.h"

namespace qhs {

namespace {

constexpr std::uint32_t MicrosecondMagic = 0xA1B2C3D4;
constexpr std::uint32_t NanosecondMagic = 0xA1B23C4D;
constexpr std::size_t FileHeaderBytes = 24;
constexpr std::size_t RecordHeaderBytes = 16;
// Progress is told once per this many frames.
constexpr std::uint64_t ProgressStep = 4096;

std::uint32_t swapped(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

std::uint32_t fieldAt(const std::uint8_t* bytes, bool swap) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return swap ? swapped(value) : value;
}

std::string numbered(const char* format, unsigned long long first, unsigned long long second = 0,
                     unsigned long long third = 0) {
    char text[192];
    std::snprintf(text, sizeof text, format, first, second, third);
    return text;
}

bool isClassicMagic(std::uint32_t magic) {
    return magic == MicrosecondMagic || magic == NanosecondMagic ||
           magic == swapped(MicrosecondMagic) || magic == swapped(NanosecondMagic);
}

}  // namespace

std::int64_t stampNanoseconds(std::int64_t seconds, std::int64_t nanoseconds) {
    std::int64_t stamp = 0;
    if (__builtin_mul_overflow(seconds, std::int64_t{1000000000}, &stamp) ||
        __builtin_add_overflow(stamp, nanoseconds, &stamp)) {
        return seconds < 0 ? std::numeric_limits<std::int64_t>::min()
                           : std::numeric_limits<std::int64_t>::max();
    }
    return stamp;
}

bool startsAsClassicPcap(std::FILE* file) {
    std::uint32_t magic = 0;
    const bool read = std::fread(&magic, 1, sizeof magic, file) == sizeof magic;
    std::rewind(file);
    return read && isClassicMagic(magic);
}

namespace {

// Reads a file front to back in large pieces, so that passing over a record's contents costs
// no read of its own and no copy.
class PieceReader {
  public:
    explicit PieceReader(std::FILE* file) : file_(file), buffer_(PieceBytes) {}

    // Points `bytes` at the next `count` bytes (at most PieceBytes) and moves past them;
    // false when the file ends first.
    bool take(std::size_t count, const std::uint8_t*& bytes) {
        if (end_ - begin_ < count) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
            while (end_ < count) {
                const std::size_t read =
                    std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
                if (read == 0) {
                    return false;
                }
                end_ += read;
            }
        }
        bytes = buffer_.data() + begin_;
        begin_ += count;
        return true;
    }

    // Moves past `count` bytes; false when the file ends first.
    bool skip(std::uint64_t count) {
        while (count > end_ - begin_) {
            count -= end_ - begin_;
            begin_ = 0;
            end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
            if (end_ == 0) {
                return false;
            }
        }
        begin_ += static_cast<std::size_t>(count);
        return true;
    }

    // Whether no byte is left.
    bool atEnd() {
        const std::uint8_t* ignored = nullptr;
        if (!take(1, ignored)) {
            return true;
        }
        --begin_;
        return false;
    }

  private:
    static constexpr std::size_t PieceBytes = 1 << 20;
    std::FILE* file_;
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

}  // namespace

std::optional<std::string> classicPcapFault(std::FILE* file, const CaptureFileProgress& progress) {
    PieceReader reader(file);
    const std::uint8_t* header = nullptr;
    if (!reader.take(4, header)) {
        return std::nullopt;
    }
    std::uint32_t magic = 0;
    std::memcpy(&magic, header, sizeof magic);
    if (!isClassicMagic(magic)) {
        return std::nullopt;
    }
    const bool swap = magic == swapped(MicrosecondMagic) || magic == swapped(NanosecondMagic);
    const std::uint8_t* rest = nullptr;
    if (!reader.take(FileHeaderBytes - 4, rest)) {
        return "The file ends inside its header.";
    }
    const std::uint32_t snapLength = fieldAt(rest + 12, swap);
    // Files of version 2.0 to 2.2 hold the two lengths of a record the other way round, and
    // of 2.3 either way, as libpcap reads them.
    std::uint16_t minorVersion = 0;
    std::memcpy(&minorVersion, rest + 2, sizeof minorVersion);
    if (swap) {
        minorVersion = static_cast<std::uint16_t>(minorVersion >> 8 | minorVersion << 8);
    }
    if (snapLength == 0) {
        return "The file's snap length is 0.";
    }
    if (snapLength > LargestSnapLength) {
        return numbered(
            "The file's snap length, %llu bytes, is larger than any capture takes "
            "(%llu bytes).",
            snapLength, LargestSnapLength);
    }
    std::uint64_t position = FileHeaderBytes;
    for (unsigned long long packet = 1;; ++packet) {
        if (progress && packet % ProgressStep == 0) {
            progress(position);
        }
        if (reader.atEnd()) {
            return std::nullopt;
        }
        const std::uint8_t* record = nullptr;
        if (!reader.take(RecordHeaderBytes, record)) {
            return numbered("The file ends inside the header of packet %llu.", packet);
        }
        std::uint32_t captured = fieldAt(record + 8, swap);
        const std::uint32_t original = fieldAt(record + 12, swap);
        if (minorVersion < 3 || (minorVersion == 3 && captured > original)) {
            captured = original;
        }
        if (captured > snapLength) {
            return numbered(
                "Packet %llu holds %llu bytes, more than the file's snap length of "
                "%llu bytes.",
                packet, captured, snapLength);
        }
        if (!reader.skip(captured)) {
            return numbered("The file ends inside packet %llu.", packet);
        }
        position += RecordHeaderBytes + captured;
    }
}

std::optional<std::string> checkCaptureFrames(CaptureFrames& frames,
                                              const CaptureFileProgress& progress) {
    CaptureFrame frame;
    for (std::uint64_t count = 1;; ++count) {
        const FrameRead read = frames.next(frame);
        if (read == FrameRead::End) {
            return std::nullopt;
        }
        if (read == FrameRead::Fault) {
            return frames.fault();
        }
        if (progress && count % ProgressStep == 0) {
            progress(frames.position());
        }
    }
}

CaptureFileLoad loadCaptureFrames(CaptureFrames& frames, PacketCaptureContext& context,
                                  const CaptureFileProgress& progress) {
    CaptureFileLoad load;
    PacketIntake intake(context);
    CaptureFrame frame;
    for (;;) {
        if (context.state.quitting.load()) {
            return load;
        }
        const FrameRead read = frames.next(frame);
        if (read == FrameRead::End) {
            return load;
        }
        if (read == FrameRead::Fault) {
            load.fault = frames.fault();
            return load;
        }
        ++load.read;
        if (progress && load.read % ProgressStep == 0) {
            progress(frames.position());
        }
        const std::optional<Ipv4InFrame> part =
            ipv4InFrame(frame.linkType, frame.bytes, frame.length);
        if (!part) {
            ++load.skipped;
            continue;
        }
        std::uint8_t* const block = intake.allocate(part->length);
        if (block != nullptr && part->length > 0) {
            std::memcpy(block, frame.bytes + part->offset, part->length);
        }
        // What the capture's snap length cut from the frame was cut from its datagram.
        const std::size_t cut =
            frame.originalLength > frame.length ? frame.originalLength - frame.length : 0;
        switch (intake.take(part->length, frame.arrivalNanoseconds, part->length + cut)) {
            case PacketIntake::Outcome::Stored:
            case PacketIntake::Outcome::Passed:
                ++load.stored;
                break;
            case PacketIntake::Outcome::Filtered:
                ++load.filtered;
                break;
            case PacketIntake::Outcome::StoreFull:
                load.endedBy = StatusItemLimit;
                return load;
            case PacketIntake::Outcome::NoMemory:
                load.endedBy = StatusMemoryError;
                return load;
        }
    }
}

std::string captureFileStatusText(const CaptureFileLoad& load) {
    std::string text =
        numbered("Read %llu packets, skipped %llu that are not IPv4", load.read, load.skipped);
    if (load.filtered > 0) {
        text += numbered(", %llu left out by the filters", load.filtered);
    }
    if (load.endedBy != nullptr) {
        text += " - ";
        text += load.endedBy;
    }
    return text;
}

std::string captureFileFaultText(const std::string& path, const std::string& fault) {
    return "Unable to read the capture file: " + path + "\r\n" + fault;
}

}  // namespace qhs
