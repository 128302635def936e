#pragma once

#include "platform/PlatformLayer.h"

#include <cstdint>
#include <string>

#include "capture/CaptureFile.h"

struct pcap;

namespace qhs {

// A pcap or pcapng file read through libpcap, with nanosecond time stamps.
class CaptureFileReader final : public CaptureFrames {
  public:
    // Opens the file; when it cannot be opened, or a classic pcap file's headers are unsound,
    // isOpen() is false and fault() says why.
    explicit CaptureFileReader(const std::string& path);
    ~CaptureFileReader() override;
    CaptureFileReader(const CaptureFileReader&) = delete;
    CaptureFileReader& operator=(const CaptureFileReader&) = delete;

    bool isOpen() const { return handle_ != nullptr; }
    FrameRead next(CaptureFrame& frame) override;
    std::string fault() const override { return fault_; }
    int linkType() const override { return linkType_; }
    std::uint64_t position() const override;
    // The file's size in bytes, 0 when unknown.
    std::uint64_t size() const { return size_; }

  private:
    pcap* handle_ = nullptr;
    int linkType_ = -1;
    std::uint64_t size_ = 0;
    std::string fault_;
};

}  // namespace qhs
