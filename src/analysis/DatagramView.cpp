#include "analysis/DatagramView.h"

#include <cstdio>
#include <cstring>

#include "analysis/Ipv6View.h"
#include "analysis/SearchText.h"

namespace qhs {

void DatagramView::decodeIpv6() {
    ipv6_ = true;
    upperOffset_ = Ipv6HeaderLength;
    protocolByteOffset_ = 6;
    const Ipv6View view(data_, length_);
    if (!view.isDecodable()) {
        ipv6Protocol_ = read8(6);
        return;
    }
    ipv6Protocol_ = view.upperProtocol();
    upperOffset_ = view.upperOffset();
    laterFragment_ = view.isLaterFragment();
    if (const std::size_t count = view.extensionCount(); count > 0) {
        // The next-header field is each extension header's first byte.
        protocolByteOffset_ = view.extension(count - 1).offset;
    }
}

std::uint32_t DatagramView::flowLabel() const {
    if (!ipv6_) {
        return 0;
    }
    return std::uint32_t{read8(1) & 0x0Fu} << 16 | std::uint32_t{read8(2)} << 8 | read8(3);
}

std::string DatagramView::sourceAddressText() const {
    return ipv6_ ? ipv6AddressText(sourceAddress6()) : addressText(sourceAddressBytes());
}

std::string DatagramView::destinationAddressText() const {
    return ipv6_ ? ipv6AddressText(destinationAddress6()) : addressText(destinationAddressBytes());
}

TcpFlags DatagramView::tcpFlags() const {
    const std::uint8_t bits = read8(upperOffset_ + 13);
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
    if (laterFragment_) {
        return upperOffset_;
    }
    switch (protocol()) {
        case ProtocolTcp:
            return upperOffset_ + tcpHeaderLength();
        case ProtocolUdp:
        case ProtocolIcmp:
            return upperOffset_ + 8;
        case ProtocolIcmpv6:
            return ipv6_ ? upperOffset_ + 8 : upperOffset_;
        default:
            return upperOffset_;
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

std::array<std::uint8_t, 16> DatagramView::readBytes16(std::uint32_t offset) const {
    std::array<std::uint8_t, 16> bytes{};
    if (ipv6_ && holds(offset, 16)) {
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
