#include "capture/PcapngFrames.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "capture/LinkLayer.h"

namespace qhs {

namespace {

constexpr std::uint32_t InterfaceBlock = 1;
constexpr std::uint32_t ObsoletePacketBlock = 2;
constexpr std::uint32_t SimplePacketBlock = 3;
constexpr std::uint32_t EnhancedPacketBlock = 6;
constexpr std::uint32_t ByteOrderMagic = 0x1A2B3C4D;
constexpr std::size_t BlockHeaderBytes = 8;
constexpr std::size_t BlockTrailerBytes = 4;
// A block holds at most a frame of the largest snap length with room for its options; a
// longer one is damage, and reading it would take its claimed size in memory.
constexpr std::uint32_t LargestBlockBytes = 16 * 1024 * 1024;

constexpr std::uint16_t OptionEnd = 0;
constexpr std::uint16_t OptionTimeResolution = 9;
constexpr std::uint16_t OptionTimeOffset = 14;

// Whole seconds and a fraction in `unitsPerSecond` as nanoseconds since 1970, held at the
// ends of what 64 bits hold.
std::int64_t stampOf(std::uint64_t units, std::uint64_t unitsPerSecond, std::int64_t offset) {
    const std::uint64_t wholeSeconds = units / unitsPerSecond;
    const auto nanoseconds = static_cast<std::int64_t>(
        static_cast<unsigned __int128>(units % unitsPerSecond) * 1'000'000'000 / unitsPerSecond);
    std::int64_t seconds = static_cast<std::int64_t>(
        std::min<std::uint64_t>(wholeSeconds, std::numeric_limits<std::int64_t>::max()));
    if (__builtin_add_overflow(seconds, offset, &seconds)) {
        seconds = offset < 0 ? std::numeric_limits<std::int64_t>::min()
                             : std::numeric_limits<std::int64_t>::max();
    }
    return stampNanoseconds(seconds, nanoseconds);
}

}  // namespace

PcapngFrames::PcapngFrames(std::FILE* file) : file_(file) {
    std::uint32_t type = 0;
    bool ended = false;
    if (!readBlock(type, ended)) {
        if (ended) {
            fault_ = "The file is empty.";
        }
        return;
    }
    if (type != PcapngMagic) {
        fault_ = "It is neither a pcap nor a pcapng capture file.";
        return;
    }
    open_ = readSectionHeader();
}

PcapngFrames::~PcapngFrames() {
    std::fclose(file_);
}

FrameRead PcapngFrames::failed(std::string fault) {
    fault_ = std::move(fault);
    open_ = false;
    return FrameRead::Fault;
}

std::uint32_t PcapngFrames::field32(std::size_t offset) const {
    std::uint32_t value = 0;
    std::memcpy(&value, block_.data() + offset, sizeof value);
    return swap_ ? byteSwapped(value) : value;
}

std::uint16_t PcapngFrames::field16(std::size_t offset) const {
    std::uint16_t value = 0;
    std::memcpy(&value, block_.data() + offset, sizeof value);
    return swap_ ? static_cast<std::uint16_t>(value >> 8 | value << 8) : value;
}

bool PcapngFrames::readBlock(std::uint32_t& type, bool& ended) {
    std::uint8_t header[BlockHeaderBytes + 4];
    const std::size_t got = std::fread(header, 1, BlockHeaderBytes, file_);
    if (got == 0 && std::feof(file_)) {
        ended = true;
        return false;
    }
    const unsigned long long blockNumber = blocks_ + 1;
    if (got < BlockHeaderBytes) {
        failed(numberedText("The file ends inside block %llu.", blockNumber));
        return false;
    }
    std::memcpy(&type, header, sizeof type);
    std::size_t headerBytes = BlockHeaderBytes;
    if (type == PcapngMagic) {
        // A section states its own byte order, which its header's length is already in.
        if (std::fread(header + BlockHeaderBytes, 1, 4, file_) < 4) {
            failed(numberedText("The file ends inside block %llu.", blockNumber));
            return false;
        }
        std::uint32_t magic = 0;
        std::memcpy(&magic, header + BlockHeaderBytes, sizeof magic);
        if (magic != ByteOrderMagic && magic != byteSwapped(ByteOrderMagic)) {
            failed(blocks_ == 0 ? "It is neither a pcap nor a pcapng capture file."
                                : numberedText("Section header block %llu has no byte-order mark.",
                                               blockNumber));
            return false;
        }
        swap_ = magic != ByteOrderMagic;
        headerBytes += 4;
    } else if (swap_) {
        type = byteSwapped(type);
    }
    std::uint32_t length = 0;
    std::memcpy(&length, header + 4, sizeof length);
    if (swap_) {
        length = byteSwapped(length);
    }
    ++blocks_;
    if (length < headerBytes + BlockTrailerBytes || length % 4 != 0 || length > LargestBlockBytes) {
        failed(numberedText("Block %llu claims a length of %llu bytes, which no pcapng block has.",
                            blockNumber, length));
        return false;
    }
    // The body keeps the byte-order mark of a section header where every section header
    // field is expected, and the trailing length after it.
    const std::size_t kept = headerBytes - BlockHeaderBytes;
    block_.resize(length - BlockHeaderBytes);
    std::memcpy(block_.data(), header + BlockHeaderBytes, kept);
    const std::size_t rest = block_.size() - kept;
    const bool isPacket =
        type == EnhancedPacketBlock || type == SimplePacketBlock || type == ObsoletePacketBlock;
    if (isPacket) {
        ++packets_;
    }
    if (std::fread(block_.data() + kept, 1, rest, file_) < rest) {
        failed(isPacket ? numberedText("The file ends inside packet %llu.", packets_)
                        : numberedText("The file ends inside block %llu.", blockNumber));
        return false;
    }
    block_.resize(length - BlockHeaderBytes - BlockTrailerBytes);
    position_ += length;
    return true;
}

bool PcapngFrames::readSectionHeader() {
    // Byte-order mark, version and section length.
    if (block_.size() < 16) {
        failed(numberedText("Section header block %llu is too short.", blocks_));
        return false;
    }
    const std::uint16_t major = field16(4);
    if (major != 1) {
        failed(numberedText("The file's pcapng version %llu.%llu is not one this reader knows.",
                            major, field16(6)));
        return false;
    }
    // Interfaces belong to their section.
    interfaces_.clear();
    return true;
}

bool PcapngFrames::addInterface() {
    const unsigned long long number = interfaces_.size();
    if (block_.size() < 8) {
        failed(numberedText("The description of interface %llu is too short.", number));
        return false;
    }
    Interface interface;
    interface.linkType = linkTypeOfFileValue(field16(0));
    interface.snapLength = field32(4);
    std::size_t offset = 8;
    while (offset + 4 <= block_.size()) {
        const std::uint16_t code = field16(offset);
        const std::size_t length = field16(offset + 2);
        const std::size_t value = offset + 4;
        if (code == OptionEnd || value + length > block_.size()) {
            break;
        }
        if (code == OptionTimeResolution && length >= 1) {
            const std::uint8_t resolution = block_[value];
            const unsigned exponent = resolution & 0x7F;
            // Units of 2 to the minus or 10 to the minus the exponent; finer than 64 bits
            // count is no capture's.
            const bool binary = (resolution & 0x80) != 0;
            if (exponent > (binary ? 63u : 19u)) {
                failed(
                    numberedText("Interface %llu has a time stamp resolution finer than any "
                                 "capture's.",
                                 number));
                return false;
            }
            std::uint64_t units = 1;
            for (unsigned step = 0; step < exponent; ++step) {
                units *= binary ? 2 : 10;
            }
            interface.unitsPerSecond = units;
        } else if (code == OptionTimeOffset && length >= 8) {
            std::uint64_t seconds = 0;
            std::memcpy(&seconds, block_.data() + value, sizeof seconds);
            interface.offsetSeconds =
                static_cast<std::int64_t>(swap_ ? __builtin_bswap64(seconds) : seconds);
        }
        offset = value + ((length + 3) & ~std::size_t{3});
    }
    interfaces_.push_back(interface);
    return true;
}

const PcapngFrames::Interface* PcapngFrames::interfaceNumbered(std::uint32_t number) {
    if (number >= interfaces_.size()) {
        failed(numberedText("Packet %llu names interface %llu, which the file has not described.",
                            packets_, number));
        return nullptr;
    }
    return &interfaces_[number];
}

FrameRead PcapngFrames::packet(const Interface& interface, std::uint64_t stamp,
                               std::uint32_t captured, std::uint32_t original,
                               std::size_t dataOffset, CaptureFrame& frame) {
    if (captured > block_.size() - dataOffset) {
        return failed(
            numberedText("Packet %llu holds %llu bytes, more than its block.", packets_, captured));
    }
    if (captured > LargestSnapLength) {
        return failed(
            numberedText("Packet %llu holds %llu bytes, more than any capture takes "
                         "(%llu bytes).",
                         packets_, captured, LargestSnapLength));
    }
    frame.bytes = block_.data() + dataOffset;
    frame.length = captured;
    frame.originalLength = std::max(original, captured);
    frame.linkType = interface.linkType;
    frame.arrivalNanoseconds = stampOf(stamp, interface.unitsPerSecond, interface.offsetSeconds);
    return FrameRead::Frame;
}

FrameRead PcapngFrames::next(CaptureFrame& frame) {
    if (!open_) {
        return FrameRead::Fault;
    }
    for (;;) {
        std::uint32_t type = 0;
        bool ended = false;
        if (!readBlock(type, ended)) {
            return ended ? FrameRead::End : FrameRead::Fault;
        }
        switch (type) {
            case PcapngMagic:
                if (!readSectionHeader()) {
                    return FrameRead::Fault;
                }
                break;
            case InterfaceBlock:
                if (!addInterface()) {
                    return FrameRead::Fault;
                }
                break;
            case EnhancedPacketBlock:
            case ObsoletePacketBlock: {
                const bool enhanced = type == EnhancedPacketBlock;
                if (block_.size() < 20) {
                    return failed(numberedText("Packet %llu is too short a block.", packets_));
                }
                const Interface* const interface =
                    interfaceNumbered(enhanced ? field32(0) : field16(0));
                if (interface == nullptr) {
                    return FrameRead::Fault;
                }
                const std::uint64_t stamp =
                    static_cast<std::uint64_t>(field32(4)) << 32 | field32(8);
                return packet(*interface, stamp, field32(12), field32(16), 20, frame);
            }
            case SimplePacketBlock: {
                if (block_.size() < 4) {
                    return failed(numberedText("Packet %llu is too short a block.", packets_));
                }
                const Interface* const interface = interfaceNumbered(0);
                if (interface == nullptr) {
                    return FrameRead::Fault;
                }
                // It holds the frame cut to the interface's snap length, and no time stamp.
                const std::uint32_t original = field32(0);
                std::uint32_t captured = std::min<std::uint32_t>(
                    original, static_cast<std::uint32_t>(block_.size() - 4));
                if (interface->snapLength != 0) {
                    captured = std::min(captured, interface->snapLength);
                }
                return packet(*interface, 0, captured, original, 4, frame);
            }
            default:
                break;  // statistics, name resolution and other blocks say nothing of frames
        }
    }
}

}  // namespace qhs
