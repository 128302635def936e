#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/CaptureFile.h"
#include "capture/CaptureSource.h"

namespace qhs {

// The IPv4 datagrams of a capture file as a capture source, each with its own time stamp, for
// what takes its datagrams from a source (File Sniffer Mode). Frames without one are passed
// over and counted. Once the file is read, a receive fails as after close(): the capture
// ends with its file.
class CaptureFileSource final : public CaptureSource {
  public:
    explicit CaptureFileSource(std::unique_ptr<CaptureFrames> frames);

    // The file was opened before: there is nothing left to open.
    OpenOutcome open(const CaptureOptions&) override { return {}; }
    ReceiveResult receive(const DatagramVisitor& visit) override;
    void close() override;

    // Whether every frame has been read (or the file found damaged); any thread.
    bool exhausted() const;
    std::uint64_t framesRead() const;
    std::uint64_t framesSkipped() const;
    // What was wrong with the file, once exhausted.
    std::optional<std::string> fault() const;

  private:
    std::unique_ptr<CaptureFrames> frames_;
    mutable std::mutex mutex_;
    bool closed_ = false;
    bool exhausted_ = false;
    std::uint64_t read_ = 0;
    std::uint64_t skipped_ = 0;
    std::optional<std::string> fault_;
};

}  // namespace qhs
