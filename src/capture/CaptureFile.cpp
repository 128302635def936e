#include "capture/CaptureFile.h"

#include <cstring>
#include <limits>
#include <vector>

#include "capture/LinkLayer.h"
#include "capture/PacketIntake.h"

namespace qhs {

namespace {

// Progress is told once per this many frames.
constexpr std::uint64_t ProgressStep = 4096;

}  // namespace

std::string numberedText(const char* format, unsigned long long first, unsigned long long second,
                         unsigned long long third) {
    char text[192];
    std::snprintf(text, sizeof text, format, first, second, third);
    return text;
}

std::int64_t stampNanoseconds(std::int64_t seconds, std::int64_t nanoseconds) {
    std::int64_t stamp = 0;
    if (__builtin_mul_overflow(seconds, std::int64_t{1000000000}, &stamp) ||
        __builtin_add_overflow(stamp, nanoseconds, &stamp)) {
        return seconds < 0 ? std::numeric_limits<std::int64_t>::min()
                           : std::numeric_limits<std::int64_t>::max();
    }
    return stamp;
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
        const std::optional<IpInFrame> part = ipInFrame(frame.linkType, frame.bytes, frame.length);
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
        numberedText("Read %llu packets, skipped %llu that are not IP", load.read, load.skipped);
    if (load.filtered > 0) {
        text += numberedText(", %llu left out by the filters", load.filtered);
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
