#include "capture/CaptureFileSource.h"

#include <algorithm>
#include <cstring>

#include "capture/LinkLayer.h"

namespace qhs {

CaptureFileSource::CaptureFileSource(std::unique_ptr<CaptureFrames> frames)
    : frames_(std::move(frames)) {}

ReceiveResult CaptureFileSource::receive(std::uint8_t* buffer, std::size_t capacity) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (exhausted_) {
                closedOrDone_.wait(lock, [this] { return closed_; });
            }
            if (closed_) {
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
            closedOrDone_.notify_all();
            continue;
        }
        ++read_;
        const std::optional<Ipv4InFrame> part =
            ipv4InFrame(frames_->linkType(), frame.bytes, frame.length);
        if (!part) {
            ++skipped_;
            continue;
        }
        const std::size_t length = std::min(part->length, capacity);
        std::memcpy(buffer, frame.bytes + part->offset, length);
        return {true, length, 0, frame.arrivalNanoseconds};
    }
}

void CaptureFileSource::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    closedOrDone_.notify_all();
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
