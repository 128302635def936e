#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/CaptureFile.h"

namespace qhs {

// The first four bytes of a pcapng file (its section header block's type).
inline constexpr std::uint32_t PcapngMagic = 0x0A0D0D0A;

// The frames of a pcapng file read front to back, each with the link type of the interface
// that captured it: libpcap refuses a file whose interfaces differ in link type (a capture on
// an Ethernet device and a tunnel at once), so the blocks are read here. Reads any stream,
// standard input too; sections of either byte order, enhanced, simple and obsolete packet
// blocks, and each interface's time stamp resolution and offset.
class PcapngFrames final : public CaptureFrames {
  public:
    // Takes the file, which stands at its start, and closes it; reads its section header.
    explicit PcapngFrames(std::FILE* file);
    ~PcapngFrames() override;
    PcapngFrames(const PcapngFrames&) = delete;
    PcapngFrames& operator=(const PcapngFrames&) = delete;

    // False when the file does not start with a sound section header; fault() says why.
    bool isOpen() const { return open_; }
    FrameRead next(CaptureFrame& frame) override;
    std::string fault() const override { return fault_; }
    std::uint64_t position() const override { return position_; }

  private:
    struct Interface {
        int linkType = -1;
        std::uint32_t snapLength = 0;
        std::uint64_t unitsPerSecond = 1'000'000;
        std::int64_t offsetSeconds = 0;
    };

    // Reads the next block's type and body into block_; false at the end or on a fault.
    bool readBlock(std::uint32_t& type, bool& ended);
    bool readSectionHeader();
    bool addInterface();
    FrameRead packet(const Interface& interface, std::uint64_t stamp, std::uint32_t captured,
                     std::uint32_t original, std::size_t dataOffset, CaptureFrame& frame);
    const Interface* interfaceNumbered(std::uint32_t number);
    std::uint32_t field32(std::size_t offset) const;
    std::uint16_t field16(std::size_t offset) const;
    FrameRead failed(std::string fault);

    std::FILE* file_;
    std::vector<std::uint8_t> block_;
    std::vector<Interface> interfaces_;
    bool swap_ = false;
    bool open_ = false;
    std::uint64_t position_ = 0;
    std::uint64_t blocks_ = 0;
    std::uint64_t packets_ = 0;
    std::string fault_;
};

}  // namespace qhs
