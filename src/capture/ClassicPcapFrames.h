#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/CaptureFile.h"

namespace qhs {

// Whether four bytes, as they lie in a file, start a classic pcap file of any kind libpcap
// reads: microsecond, nanosecond or "modified" (24-byte record headers), either byte order.
bool isClassicPcapMagic(std::uint32_t magic);

// The frames of a classic pcap file read front to back, from any stream. Each record is
// checked as it is read: one that holds more than the file's snap length is a fault, not
// cut short (as libpcap cuts it), so a file that reads to its end reads whole. Seconds are
// the format's unsigned 32 bits, so times after 2038 stay after 2038.
class ClassicPcapFrames final : public CaptureFrames {
  public:
    // Takes the file, which stands at its start, and closes it; reads the file header.
    explicit ClassicPcapFrames(std::FILE* file);
    ~ClassicPcapFrames() override;
    ClassicPcapFrames(const ClassicPcapFrames&) = delete;
    ClassicPcapFrames& operator=(const ClassicPcapFrames&) = delete;

    // False when the file does not start with a sound header; fault() says why.
    bool isOpen() const { return open_; }
    FrameRead next(CaptureFrame& frame) override;
    std::string fault() const override { return fault_; }
    std::uint64_t position() const override { return position_; }

  private:
    // Points `bytes` at the next `count` bytes of the file (at most PieceBytes) and moves past
    // them; false when the file ends first. Large reads, no copy per record.
    bool take(std::size_t count, const std::uint8_t*& bytes);
    bool atEnd();
    std::uint32_t field32(const std::uint8_t* bytes) const;
    FrameRead failed(std::string fault);

    static constexpr std::size_t PieceBytes = 1 << 20;
    std::FILE* file_;
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool open_ = false;
    bool swap_ = false;
    bool nanoseconds_ = false;
    bool swapLengths_ = false;          // versions before 2.3 hold the two lengths the other way
    bool maybeSwappedLengths_ = false;  // version 2.3 holds them either way
    std::size_t recordHeaderBytes_ = 0;
    std::uint32_t snapLength_ = 0;
    int linkType_ = -1;
    std::uint64_t position_ = 0;
    std::uint64_t packets_ = 0;
    std::string fault_;
};

}  // namespace qhs
