#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "capture/CaptureFile.h"

namespace qhs {

// A capture filter expression compiled for frames of one link type.
class FrameFilter {
  public:
    virtual ~FrameFilter() = default;
    virtual bool passes(const CaptureFrame& frame) const = 0;
};

struct FrameFilterCompile {
    std::unique_ptr<FrameFilter> filter;  // none: `error` says why
    std::string error;
};

// Compiles a filter expression (pcap-filter syntax) for frames of a link type.
using FrameFilterCompiler =
    std::function<FrameFilterCompile(const std::string& expression, int linkType)>;

// The frames of a capture file that pass a filter expression; the others are passed over as
// if the file did not hold them. The expression is compiled once per link type, when a frame
// of that type first comes; frames of a type it does not compile for do not pass.
class FilteredCaptureFrames final : public CaptureFileFrames {
  public:
    FilteredCaptureFrames(std::unique_ptr<CaptureFileFrames> inner, std::string expression,
                          FrameFilterCompiler compile);

    bool isOpen() const override { return inner_->isOpen(); }
    std::uint64_t size() const override { return inner_->size(); }
    std::optional<std::string> checkWhole(const CaptureFileProgress& progress) override {
        return inner_->checkWhole(progress);
    }
    FrameRead next(CaptureFrame& frame) override;
    std::string fault() const override { return inner_->fault(); }
    std::uint64_t position() const override { return inner_->position(); }

  private:
    const FrameFilter* filterFor(int linkType);

    std::unique_ptr<CaptureFileFrames> inner_;
    std::string expression_;
    FrameFilterCompiler compile_;
    std::map<int, std::unique_ptr<FrameFilter>> filters_;  // null: does not compile for it
};

}  // namespace qhs
