#include "capture/FrameFilter.h"

namespace qhs {

FilteredCaptureFrames::FilteredCaptureFrames(std::unique_ptr<CaptureFileFrames> inner,
                                             std::string expression, FrameFilterCompiler compile)
    : inner_(std::move(inner)), expression_(std::move(expression)), compile_(std::move(compile)) {}

const FrameFilter* FilteredCaptureFrames::filterFor(int linkType) {
    auto found = filters_.find(linkType);
    if (found == filters_.end()) {
        found = filters_.emplace(linkType, compile_(expression_, linkType).filter).first;
    }
    return found->second.get();
}

FrameRead FilteredCaptureFrames::next(CaptureFrame& frame) {
    for (;;) {
        const FrameRead read = inner_->next(frame);
        // A pcapng file's interfaces may each have a link type of their own.
        const FrameFilter* const filter =
            read == FrameRead::Frame ? filterFor(frame.linkType) : nullptr;
        if (read != FrameRead::Frame || (filter != nullptr && filter->passes(frame))) {
            return read;
        }
    }
}

}  // namespace qhs
