#pragma once

#include "platform/PlatformLayer.h"

#include <cstdint>
#include <string>

#include "capture/CaptureFile.h"

struct pcap;

namespace qhs {

// A pcap or pcapng file read through libpcap, with nanosecond time stamps.
class CaptureFileReader final : public CaptureFileFrames {
  public:
    // Opens the file; when it cannot be opened, isOpen() is false and fault() says why.
    explicit CaptureFileReader(const std::string& path);
    ~CaptureFileReader() override;
    CaptureFileReader(const CaptureFileReader&) = delete;
    CaptureFileReader& operator=(const CaptureFileReader&) = delete;

    bool isOpen() const override { return handle_ != nullptr; }
    // Reads the whole file once, from where the reader stands, for anything wrong with it: a
    // classic pcap file by its record headers, which libpcap does not check in full; any other
    // through libpcap. Call before any frame is read; the frames are used up after it.
    std::optional<std::string> checkWhole(const CaptureFileProgress& progress) override;
    FrameRead next(CaptureFrame& frame) override;
    std::string fault() const override { return fault_; }
    int linkType() const override { return linkType_; }
    std::uint64_t position() const override;
    // The file's size in bytes, 0 when unknown.
    std::uint64_t size() const override { return size_; }

  private:
    pcap* handle_ = nullptr;
    int linkType_ = -1;
    std::uint64_t size_ = 0;
    std::string path_;
    bool classic_ = false;
    std::string fault_;
};

}  // namespace qhs
