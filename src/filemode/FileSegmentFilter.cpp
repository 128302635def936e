#include "filemode/FileSegmentFilter.h"

#include <cstring>

#include "analysis/DatagramView.h"
#include "capture/CaptureFile.h"
#include "capture/LinkLayer.h"

namespace qhs {

namespace {

constexpr std::size_t MinimumSegmentLength = 40;
// A segment of more than 64 KiB (its total length field 0, as Linux sends one) is kept whole,
// up to the largest frame a capture file holds.
constexpr std::size_t MaximumSegmentLength = LargestSnapLength;

bool passes(std::uint32_t value, std::uint32_t must, std::uint32_t mustNot) {
    return (must == 0 || value == must) && (mustNot == 0 || value != mustNot);
}

}  // namespace

std::uint32_t filterAddress(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return 0;
    }
    std::uint8_t bytes[4] = {};
    int part = 0;
    unsigned value = 0;
    int digits = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (++digits > 3 || value > 255) {
                return 0xFFFFFFFFu;
            }
        } else if (c == '.' && digits > 0 && part < 3) {
            bytes[part++] = static_cast<std::uint8_t>(value);
            value = 0;
            digits = 0;
        } else {
            return 0xFFFFFFFFu;
        }
    }
    if (part != 3 || digits == 0) {
        return 0xFFFFFFFFu;
    }
    bytes[3] = static_cast<std::uint8_t>(value);
    std::uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

FileSegmentFilter::FileSegmentFilter(const SettingsRecord& settings)
    : sourceMust_(filterAddress(textField(settings.fileSourceIpMust))),
      sourceMustNot_(filterAddress(textField(settings.fileSourceIpMustNot))),
      destinationMust_(filterAddress(textField(settings.fileDestIpMust))),
      destinationMustNot_(filterAddress(textField(settings.fileDestIpMustNot))),
      sourcePortMust_(settings.fileSourcePortMust),
      sourcePortMustNot_(settings.fileSourcePortMustNot),
      destinationPortMust_(settings.fileDestPortMust),
      destinationPortMustNot_(settings.fileDestPortMustNot) {}

bool FileSegmentFilter::accepts(const std::uint8_t* datagram, std::size_t length) const {
    if (datagram == nullptr || length < MinimumSegmentLength || length > MaximumSegmentLength) {
        return false;
    }
    const DatagramView view(datagram, static_cast<std::uint32_t>(length));
    if (view.isIpv6()) {
        // The address filters hold IPv4 addresses: one that must be there takes no IPv6
        // datagram, one that must not be there never drops one.
        if (sourceMust_ != 0 || destinationMust_ != 0) {
            return false;
        }
    } else if (!passes(view.sourceAddress(), sourceMust_, sourceMustNot_) ||
               !passes(view.destinationAddress(), destinationMust_, destinationMustNot_)) {
        return false;
    }
    // The ports are the first four bytes after the IP header whatever the protocol; the
    // protocol is tested next.
    const std::uint32_t upper = view.upperOffset();
    if (upper + 4 > length) {
        return false;
    }
    const auto port = [&](std::size_t offset) {
        return static_cast<std::uint32_t>((datagram[offset] << 8) | datagram[offset + 1]);
    };
    if (!passes(port(upper), sourcePortMust_, sourcePortMustNot_) ||
        !passes(port(upper + 2), destinationPortMust_, destinationPortMustNot_)) {
        return false;
    }
    if (view.protocol() != DatagramView::ProtocolTcp || !view.hasPorts()) {
        return false;
    }
    if (upper + view.tcpHeaderLength() >= length) {
        return false;
    }
    return streamKeyOf(datagram, length) != 0;
}

std::size_t datagramLength(const std::uint8_t* datagram, std::size_t capturedLength) {
    if (datagram == nullptr || capturedLength < DatagramView::IpHeaderLength) {
        return capturedLength;
    }
    if ((datagram[0] >> 4) == 6) {
        return ipDatagramLength(datagram, capturedLength);
    }
    const std::size_t totalLength = (std::size_t{datagram[2]} << 8) | datagram[3];
    return totalLength >= DatagramView::IpHeaderLength && totalLength < capturedLength
               ? totalLength
               : capturedLength;
}

std::uint32_t streamKeyOf(const std::uint8_t* datagram, std::size_t length) {
    // IPv4's acknowledgement number is always at offset 28; IPv6's after its extension headers.
    std::size_t offset = 28;
    if ((datagram[0] >> 4) == 6) {
        offset = DatagramView(datagram, static_cast<std::uint32_t>(length)).upperOffset() + 8;
    }
    std::uint32_t key = 0;
    if (offset + sizeof key <= length) {
        std::memcpy(&key, datagram + offset, sizeof key);
    }
    return key;
}

}  // namespace qhs
