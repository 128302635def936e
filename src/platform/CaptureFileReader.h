#pragma once

#include "platform/PlatformLayer.h"

#include <cstdint>
#include <memory>
#include <string>

#include "capture/CaptureFile.h"
#include "capture/ClassicPcapFrames.h"
#include "capture/PcapngFrames.h"

namespace qhs {

// A pcap or pcapng capture file, or either on standard input (the path "-"), with
// nanosecond time stamps. Both formats are read here, not by libpcap: libpcap cuts a classic
// record longer than its file's snap length without a word, reads seconds after 2038 as
// before 1970, and takes no pcapng file whose interfaces differ in link type.
class CaptureFileReader final : public CaptureFileFrames {
  public:
    // Opens the file; when it cannot be opened, isOpen() is false and fault() says why.
    explicit CaptureFileReader(const std::string& path);

    bool isOpen() const override { return open_; }
    // Reads the whole file once, from where the reader stands, for anything wrong with it.
    // Call before any frame is read; the frames are used up after it.
    std::optional<std::string> checkWhole(const CaptureFileProgress& progress) override;
    FrameRead next(CaptureFrame& frame) override;
    std::string fault() const override { return fault_; }
    std::uint64_t position() const override;
    // The file's size in bytes; 0 for standard input, whose size is unknown.
    std::uint64_t size() const override { return size_; }

  private:
    std::unique_ptr<CaptureFrames> frames_;  // null when the file could not be opened
    bool open_ = false;
    std::uint64_t size_ = 0;
    std::string fault_;
};

}  // namespace qhs
