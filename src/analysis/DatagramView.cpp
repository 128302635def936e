#include "analysis/DatagramView.h"

#include <cstdio>
#include <cstring>

#include "analysis/SearchText.h"

namespace qhs {

TcpFlags DatagramView::tcpFlags() const {
    const std::uint8_t bits = read8(33);
    TcpFlags flags;
    flags.urgent = (bits & 0x20) != 0;
    flags.acknowledgement = (bits & 0x10) != 0;
    flags.push = (bits & 0x08) != 0;
    flags.reset = (bits & 0x04) != 0;
    flags.synchronize = (bits & 0x02) != 0;
    flags.finish = (bits & 0x01) != 0;
    return flags;
}

std::uint32_t DatagramView::payloadOffset() const {
    switch (protocol()) {
        case ProtocolTcp:
            return IpHeaderLength + tcpHeaderLength();
        case ProtocolUdp:
        case ProtocolIcmp:
            return IpHeaderLength + 8;
        default:
            return IpHeaderLength;
    }
}

std::span<const std::uint8_t> DatagramView::payload() const {
    const std::uint32_t offset = payloadOffset();
    if (offset >= length_) {
        return {};
    }
    return {data_ + offset, length_ - offset};
}

std::string_view DatagramView::searchText(std::string& buffer, bool foldCase) const {
    return makeSearchText(payload(), foldCase, buffer);
}

std::array<std::uint8_t, 4> DatagramView::readBytes4(std::uint32_t offset) const {
    std::array<std::uint8_t, 4> bytes{};
    if (holds(offset, 4)) {
        std::memcpy(bytes.data(), data_ + offset, bytes.size());
    }
    return bytes;
}

std::uint32_t DatagramView::readRaw32(std::uint32_t offset) const {
    std::uint32_t value = 0;
    if (holds(offset, 4)) {
        std::memcpy(&value, data_ + offset, sizeof value);
    }
    return value;
}

std::string DatagramView::addressText(const std::array<std::uint8_t, 4>& bytes) {
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned{bytes[0]},
                                     unsigned{bytes[1]}, unsigned{bytes[2]}, unsigned{bytes[3]});
    return std::string(text, static_cast<std::size_t>(length));
}

std::string DatagramView::addressText(std::uint32_t networkOrderAddress) {
    std::array<std::uint8_t, 4> bytes;
    std::memcpy(bytes.data(), &networkOrderAddress, bytes.size());
    return addressText(bytes);
}

}  // namespace qhs
