// A captured datagram through everything that shows or stores it: the header fields, the
// detail view with its three renderings and highlights, the search text and the text
// record of a save or log. The first byte picks the options, the rest is the datagram.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "FuzzSupport.h"
#include "analysis/DatagramView.h"
#include "analysis/Ipv6View.h"
#include "analysis/SearchText.h"
#include "capture/PacketStore.h"
#include "capture/ReceiveBuffer.h"
#include "packetmode/ByteRenderings.h"
#include "packetmode/PacketDetail.h"
#include "packetmode/PacketRecord.h"
#include "packetmode/RecordFile.h"

namespace {

using namespace qhs;
using qhs::fuzz::ScratchFolder;

constexpr char HexDigits[] = "0123456789ABCDEF";

void checkRenderings(std::span<const std::uint8_t> bytes) {
    const std::string hex = renderHex(bytes);
    const std::string decimal = renderDecimal(bytes);
    const std::string text = renderText(bytes);
    const std::size_t count = bytes.size();
    // Every byte takes its field and one separator; a line end is one character longer.
    QHS_FUZZ_REQUIRE(hex.size() == 3 * count + count / HexBytesPerLine);
    QHS_FUZZ_REQUIRE(decimal.size() == 4 * count + count / DecimalBytesPerLine);
    std::size_t nonZero = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        const std::size_t at = hexBytePosition(i);
        QHS_FUZZ_REQUIRE(hex[at] == HexDigits[byte >> 4] && hex[at + 1] == HexDigits[byte & 15]);
        const std::size_t field = decimalBytePosition(i);
        unsigned value = 0;
        for (std::size_t digit = 0; digit < DecimalByteWidth; ++digit) {
            const char c = decimal[field + digit];
            QHS_FUZZ_REQUIRE(c == ' ' || (c >= '0' && c <= '9'));
            value = c == ' ' ? value : value * 10 + static_cast<unsigned>(c - '0');
        }
        QHS_FUZZ_REQUIRE(value == byte);
        if (byte != 0) {
            QHS_FUZZ_REQUIRE(static_cast<std::uint8_t>(text[nonZero]) == byte);
            ++nonZero;
        }
    }
    QHS_FUZZ_REQUIRE(text.size() == nonZero);
}

void checkSearchText(const DatagramView& datagram, bool foldCase) {
    const std::span<const std::uint8_t> payload = datagram.payload();
    std::string buffer;
    const std::string_view searched = datagram.searchText(buffer, foldCase);
    QHS_FUZZ_REQUIRE(searched.size() == payload.size());
    for (std::size_t i = 0; i < payload.size(); ++i) {
        std::uint8_t expected = payload[i] == 0 ? ' ' : payload[i];
        if (foldCase && expected >= 'A' && expected <= 'Z') {
            expected = static_cast<std::uint8_t>(expected | 0x20);
        }
        QHS_FUZZ_REQUIRE(static_cast<std::uint8_t>(searched[i]) == expected);
    }
}

void checkDetail(const PacketDetail& detail, EntirePacketRendering rendering) {
    for (std::size_t field = 0; field < DetailFieldCount; ++field) {
        const auto range = highlightRange(detail, static_cast<DetailField>(field));
        if (!range) {
            continue;
        }
        QHS_FUZZ_REQUIRE(rendering == EntirePacketRendering::Dec ||
                         rendering == EntirePacketRendering::Hex);
        QHS_FUZZ_REQUIRE(range->begin <= range->end && range->end <= detail.entirePacket.size());
        const CharacterRange moved = withSingleCharacterLineBreaks(*range, detail.entirePacket);
        QHS_FUZZ_REQUIRE(moved.begin <= moved.end && moved.end <= range->end);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFolder scratch("record");
    static PacketStore store;
    // Kept for the process: its buffer is large, and create() starts every file afresh.
    static RecordFile file;
    if (size < 1 || size > ReceiveBufferBytes + 1) {
        return 0;
    }
    const std::uint8_t options = data[0];
    const auto length = static_cast<std::uint32_t>(size - 1);
    // An exact copy, so that any read past the captured bytes is caught.
    const auto bytes = std::make_unique<std::uint8_t[]>(length == 0 ? 1 : length);
    if (length > 0) {
        std::memcpy(bytes.get(), data + 1, length);
    }
    const DatagramView datagram(bytes.get(), length);
    const std::span<const std::uint8_t> all(bytes.get(), length);

    const std::span<const std::uint8_t> payload = datagram.payload();
    QHS_FUZZ_REQUIRE(payload.empty() || (payload.data() >= bytes.get() &&
                                         payload.data() + payload.size() <= bytes.get() + length));
    checkRenderings(all);
    checkSearchText(datagram, (options & 4) != 0);

    const auto rendering = static_cast<EntirePacketRendering>(options & 3);
    const PacketDetail detail = renderDetail(datagram, rendering);
    QHS_FUZZ_REQUIRE(detail.decodable == datagram.isDecodable());
    if (detail.decodable) {
        checkDetail(detail, rendering);
    }

    CapturedPacket packet = CapturedPacket::copyOf(bytes.get(), length);
    QHS_FUZZ_REQUIRE(packet);
    const bool keepsTime = (options & 64) == 0;
    QHS_FUZZ_REQUIRE(store.append(packet, keepsTime ? "09.07.2004 - 13:05:59.042" : ""));
    const std::int32_t slot = store.storedCount() - 1;
    const PacketDetail stored = renderDetail(store, slot, rendering);
    QHS_FUZZ_REQUIRE(stored.decodable == detail.decodable);
    if (stored.decodable) {
        QHS_FUZZ_REQUIRE(stored.entirePacket == detail.entirePacket);
        QHS_FUZZ_REQUIRE(stored.packetData == detail.packetData);
    }

    if (datagram.isIpv6() && datagram.isDecodable()) {
        // The upper layer is where the IPv6 view's chain ends; the byte that names it lies
        // before it, inside the bytes.
        const Ipv6View ipv6(bytes.get(), length);
        QHS_FUZZ_REQUIRE(datagram.upperOffset() == ipv6.upperOffset());
        QHS_FUZZ_REQUIRE(datagram.protocol() == ipv6.upperProtocol());
        QHS_FUZZ_REQUIRE(datagram.protocolByteOffset() < datagram.upperOffset());
        QHS_FUZZ_REQUIRE(datagram.upperOffset() <= length);
        QHS_FUZZ_REQUIRE(bytes[datagram.protocolByteOffset()] == datagram.protocol());
        QHS_FUZZ_REQUIRE(detail.text(DetailField::FromIp) ==
                         ipv6AddressText(ipv6.sourceAddress()));
        QHS_FUZZ_REQUIRE(!ipv6.isLaterFragment() || !datagram.hasPorts());
    }

    const RecordFlags flags{(options & 8) != 0, (options & 16) != 0, (options & 32) != 0};
    const std::string path = (scratch.path() / "record.txt").string();
    QHS_FUZZ_REQUIRE(file.create(path) == 0);
    QHS_FUZZ_REQUIRE(writePacketRecord(file, store, slot, flags) == 0);
    QHS_FUZZ_REQUIRE(file.close() == 0);
    const std::string written = fuzz::fileContents(path);
    if (length == 0) {
        QHS_FUZZ_REQUIRE(written.empty());
    } else {
        // The heading comes first, then the one rendering the flags choose, whole.
        std::string rendered;
        if (flags.text) {
            rendered.assign(reinterpret_cast<const char*>(bytes.get()), length);
        } else if (flags.dec) {
            rendered = renderDecimal(all);
        } else if (flags.hex) {
            rendered = renderHex(all);
        }
        QHS_FUZZ_REQUIRE(!written.empty());
        const std::string time = keepsTime ? "  [09.07.2004 - 13:05:59.042]" : "  []";
        QHS_FUZZ_REQUIRE(written.find(time) != std::string::npos);
        if (flags.any()) {
            const std::string tail = "\r\n\r\n" + rendered;
            QHS_FUZZ_REQUIRE(written.size() > tail.size() &&
                             written.compare(written.size() - tail.size(), tail.size(), tail) == 0);
        }
    }
    store.freeAllSlots();
    return 0;
}
