#include "capture/ClassicPcapFrames.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "capture/LinkLayer.h"

namespace qhs {

namespace {

constexpr std::uint32_t MicrosecondMagic = 0xA1B2C3D4;
constexpr std::uint32_t NanosecondMagic = 0xA1B23C4D;
// Written by a patched tcpdump of old: each record header has 8 more bytes (the interface
// index, the protocol and the packet type), and its time stamps are in microseconds.
constexpr std::uint32_t ModifiedMagic = 0xA1B2CD34;
constexpr std::size_t FileHeaderBytes = 24;
constexpr std::size_t RecordHeaderBytes = 16;
constexpr std::size_t ModifiedRecordHeaderBytes = 24;
constexpr std::size_t EthernetHeaderBytes = 14;

std::uint32_t magicAsWritten(std::uint32_t magic) {
    for (const std::uint32_t known : {MicrosecondMagic, NanosecondMagic, ModifiedMagic}) {
        if (magic == known || magic == byteSwapped(known)) {
            return known;
        }
    }
    return 0;
}

}  // namespace

bool isClassicPcapMagic(std::uint32_t magic) {
    return magicAsWritten(magic) != 0;
}

ClassicPcapFrames::ClassicPcapFrames(std::FILE* file) : file_(file), buffer_(PieceBytes) {
    const std::uint8_t* header = nullptr;
    if (!take(FileHeaderBytes, header)) {
        failed("The file ends inside its header.");
        return;
    }
    std::uint32_t magic = 0;
    std::memcpy(&magic, header, sizeof magic);
    const std::uint32_t written = magicAsWritten(magic);
    if (written == 0) {
        failed("It is neither a pcap nor a pcapng capture file.");
        return;
    }
    swap_ = magic != written;
    nanoseconds_ = written == NanosecondMagic;
    // The two 16-bit version numbers, major first, in the file's byte order.
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::memcpy(&major, header + 4, sizeof major);
    std::memcpy(&minor, header + 6, sizeof minor);
    if (swap_) {
        major = static_cast<std::uint16_t>(major >> 8 | major << 8);
        minor = static_cast<std::uint16_t>(minor >> 8 | minor << 8);
    }
    if (major != 2 || minor > 4) {
        failed(
            numberedText("The file's format version, %llu.%llu, is not one of pcap's (2.0 to 2.4).",
                         major, minor));
        return;
    }
    swapLengths_ = minor < 3;
    maybeSwappedLengths_ = minor == 3;
    snapLength_ = field32(header + 16);
    linkType_ = linkTypeOfFileValue(field32(header + 20));
    if (snapLength_ == 0) {
        failed("The file's snap length is 0.");
        return;
    }
    if (snapLength_ > LargestSnapLength) {
        failed(
            numberedText("The file's snap length, %llu bytes, is larger than any capture takes "
                         "(%llu bytes).",
                         snapLength_, LargestSnapLength));
        return;
    }
    recordHeaderBytes_ = written == ModifiedMagic ? ModifiedRecordHeaderBytes : RecordHeaderBytes;
    if (written == ModifiedMagic) {
        // Its Ethernet frames may hold a made-up link header beyond the snap length, as
        // libpcap allows.
        if (linkType_ == static_cast<int>(LinkType::Ethernet)) {
            snapLength_ += EthernetHeaderBytes;
        }
    }
    position_ = FileHeaderBytes;
    open_ = true;
}

ClassicPcapFrames::~ClassicPcapFrames() {
    std::fclose(file_);
}

FrameRead ClassicPcapFrames::next(CaptureFrame& frame) {
    if (!open_) {
        return FrameRead::Fault;
    }
    if (atEnd()) {
        return FrameRead::End;
    }
    const unsigned long long packet = ++packets_;
    const std::uint8_t* record = nullptr;
    if (!take(recordHeaderBytes_, record)) {
        return failed(numberedText("The file ends inside the header of packet %llu.", packet));
    }
    const std::uint32_t seconds = field32(record);
    const std::uint32_t fraction = field32(record + 4);
    std::uint32_t captured = field32(record + 8);
    std::uint32_t original = field32(record + 12);
    if (swapLengths_ || (maybeSwappedLengths_ && captured > original)) {
        std::swap(captured, original);
    }
    if (captured > snapLength_) {
        return failed(
            numberedText("Packet %llu holds %llu bytes, more than the file's snap length of "
                         "%llu bytes.",
                         packet, captured, snapLength_));
    }
    const std::uint8_t* bytes = nullptr;
    if (!take(captured, bytes)) {
        return failed(numberedText("The file ends inside packet %llu.", packet));
    }
    position_ += recordHeaderBytes_ + captured;
    frame.bytes = bytes;
    frame.length = captured;
    frame.originalLength = std::max(original, captured);
    frame.arrivalNanoseconds =
        std::int64_t{seconds} * 1'000'000'000 + std::int64_t{fraction} * (nanoseconds_ ? 1 : 1000);
    frame.linkType = linkType_;
    return FrameRead::Frame;
}

bool ClassicPcapFrames::take(std::size_t count, const std::uint8_t*& bytes) {
    if (end_ - begin_ < count) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        while (end_ < count) {
            const std::size_t read =
                std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
            if (read == 0) {
                return false;
            }
            end_ += read;
        }
    }
    bytes = buffer_.data() + begin_;
    begin_ += count;
    return true;
}

bool ClassicPcapFrames::atEnd() {
    const std::uint8_t* ignored = nullptr;
    if (!take(1, ignored)) {
        return true;
    }
    --begin_;
    return false;
}

std::uint32_t ClassicPcapFrames::field32(const std::uint8_t* bytes) const {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return swap_ ? byteSwapped(value) : value;
}

FrameRead ClassicPcapFrames::failed(std::string fault) {
    fault_ = std::move(fault);
    open_ = false;
    return FrameRead::Fault;
}

}  // namespace qhs
