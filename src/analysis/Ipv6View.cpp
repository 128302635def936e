#include "analysis/Ipv6View.h"

#include <cstdio>
#include <cstring>

namespace qhs {

Ipv6View::Ipv6View(const std::uint8_t* data, std::uint32_t capturedLength)
    : data_(data), length_(data == nullptr ? 0 : capturedLength) {
    decodable_ = length_ >= FixedHeaderLength && (data_[0] >> 4) == 6;
    if (decodable_) {
        walkChain();
    }
}

std::uint8_t Ipv6View::trafficClass() const {
    return static_cast<std::uint8_t>((read8(0) & 0x0F) << 4 | read8(1) >> 4);
}

std::uint32_t Ipv6View::flowLabel() const {
    return std::uint32_t{read8(1) & 0x0Fu} << 16 | std::uint32_t{read8(2)} << 8 | read8(3);
}

std::array<std::uint8_t, 16> Ipv6View::read16Bytes(std::uint32_t offset) const {
    std::array<std::uint8_t, 16> bytes{};
    if (offset + bytes.size() <= length_) {
        std::memcpy(bytes.data(), data_ + offset, bytes.size());
    }
    return bytes;
}

void Ipv6View::walkChain() {
    std::uint8_t type = nextHeader();
    std::uint32_t offset = FixedHeaderLength;
    for (;;) {
        std::uint32_t length = 0;
        switch (type) {
            case HopByHopOptions:
            case Routing:
            case DestinationOptions:
                // In units of 8 bytes, not counting the first 8.
                length = offset + 2 <= length_ ? (std::uint32_t{data_[offset + 1]} + 1) * 8 : 0;
                break;
            case Fragment:
                length = 8;
                break;
            case Authentication:
                // In units of 4 bytes, not counting the first 8.
                length = offset + 2 <= length_ ? (std::uint32_t{data_[offset + 1]} + 2) * 4 : 0;
                break;
            default:
                // The upper layer, ESP, "no next header" or a header this view does not know.
                upperProtocol_ = type;
                upperOffset_ = offset;
                return;
        }
        if (length == 0 || offset + length > length_ || extensionCount_ == MostExtensions) {
            chainSound_ = false;
            upperProtocol_ = type;
            upperOffset_ = offset;
            return;
        }
        extensions_[extensionCount_++] = {type, offset, length};
        if (type == Fragment) {
            const auto fragmentOffset =
                static_cast<std::uint16_t>(data_[offset + 2] << 8 | data_[offset + 3]) >> 3;
            laterFragment_ = laterFragment_ || fragmentOffset != 0;
        }
        type = data_[offset];
        offset += length;
    }
}

std::string ipv6AddressText(const std::array<std::uint8_t, 16>& address) {
    std::uint16_t fields[8];
    for (int index = 0; index < 8; ++index) {
        fields[index] =
            static_cast<std::uint16_t>(address[2 * index] << 8 | address[2 * index + 1]);
    }
    // The longest run of zero fields, the first of equal ones; a single zero stays "0".
    int bestStart = -1;
    int bestLength = 0;
    for (int index = 0; index < 8;) {
        if (fields[index] != 0) {
            ++index;
            continue;
        }
        int end = index;
        while (end < 8 && fields[end] == 0) {
            ++end;
        }
        if (end - index > bestLength) {
            bestStart = index;
            bestLength = end - index;
        }
        index = end;
    }
    if (bestLength < 2) {
        bestStart = -1;
    }
    // ::a.b.c.d and ::ffff:a.b.c.d carry an IPv4 address in their last 32 bits.
    const bool embedsIpv4 =
        bestStart == 0 && (bestLength == 6 || (bestLength == 5 && fields[5] == 0xFFFF));
    std::string text;
    char piece[16];
    for (int index = 0; index < 8; ++index) {
        if (index == bestStart) {
            text += "::";
            index += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':') {
            text += ':';
        }
        if (embedsIpv4 && index == 6) {
            std::snprintf(piece, sizeof piece, "%u.%u.%u.%u", address[12], address[13], address[14],
                          address[15]);
            text += piece;
            break;
        }
        std::snprintf(piece, sizeof piece, "%x", fields[index]);
        text += piece;
    }
    return text;
}

}  // namespace qhs
