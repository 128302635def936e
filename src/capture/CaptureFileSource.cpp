#include "capture/CaptureFileSource.h"

#include "capture/LinkLayer.h"

namespace qhs {

CaptureFileSource::CaptureFileSource(std::unique_ptr<CaptureFrames> frames)
    : frames_(std::move(frames)) {}

ReceiveResult CaptureFileSource::receive(const DatagramVisitor& visit) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closed_ || exhausted_) {
                return {false, 0, 0};
            }
        }
        // Only the receiving thread reads the frames.
        CaptureFrame frame;
        const FrameRead read = frames_->next(frame);
        std::lock_guard<std::mutex> lock(mutex_);
        if (read != FrameRead::Frame) {
            exhausted_ = true;
            if (read == FrameRead::Fault) {
                fault_ = frames_->fault();
            }
            return {false, 0, 0};
        }
        ++read_;
        const std::optional<IpInFrame> part = ipInFrame(frame.linkType, frame.bytes, frame.length);
        if (!part) {
            ++skipped_;
            continue;
        }
        visit(frame.bytes + part->offset, part->length);
        return {true, part->length, 0, frame.arrivalNanoseconds};
    }
}

void CaptureFileSource::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
}

bool CaptureFileSource::exhausted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exhausted_;
}

std::uint64_t CaptureFileSource::framesRead() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return read_;
}

std::uint64_t CaptureFileSource::framesSkipped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return skipped_;
}

std::optional<std::string> CaptureFileSource::fault() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fault_;
}

}  // namespace qhs
