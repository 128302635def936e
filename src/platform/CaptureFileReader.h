#pragma once

#include "platform/PlatformLayer.h"

#include <cstdint>
#include <memory>
#include <string>

#include "capture/CaptureFile.h"
#include "capture/PcapngFrames.h"

struct pcap;

namespace qhs {

// A pcap or pcapng capture file, or either on standard input (the path "-"), with
// nanosecond time stamps: classic pcap through libpcap, pcapng by PcapngFrames, as libpcap
// takes no pcapng file whose interfaces differ in link type.
class CaptureFileReader final : public CaptureFileFrames {
  public:
    // Opens the file; when it cannot be opened, isOpen() is false and fault() says why.
    explicit CaptureFileReader(const std::string& path);
    ~CaptureFileReader() override;
    CaptureFileReader(const CaptureFileReader&) = delete;
    CaptureFileReader& operator=(const CaptureFileReader&) = delete;

    bool isOpen() const override { return open_; }
    // Reads the whole file once, from where the reader stands, for anything wrong with it: a
    // classic pcap file by its record headers, which libpcap does not check in full; any other
    // by reading its frames. Call before any frame is read; the frames are used up after it.
    // Standard input, which cannot be read twice, is checked by its frames alone.
    std::optional<std::string> checkWhole(const CaptureFileProgress& progress) override;
    FrameRead next(CaptureFrame& frame) override;
    std::string fault() const override { return fault_; }
    std::uint64_t position() const override;
    // The file's size in bytes; 0 for standard input, whose size is unknown.
    std::uint64_t size() const override { return size_; }

  private:
    pcap* handle_ = nullptr;                // a classic pcap file
    std::unique_ptr<PcapngFrames> pcapng_;  // a pcapng file
    bool open_ = false;
    int linkType_ = -1;
    std::uint64_t size_ = 0;
    std::string path_;
    bool standardInput_ = false;
    bool classic_ = false;
    std::string fault_;
};

}  // namespace qhs
