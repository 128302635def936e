#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "capture/PacketTable.h"
#include "support/TestDatagram.h"

namespace qhs::test {

// A store and its list as the capture thread fills them: each datagram takes the next slot
// and a row at the end.
struct PacketListFixture {
    std::unique_ptr<PacketTable> table = std::make_unique<PacketTable>();

    std::int32_t add(const std::vector<std::uint8_t>& datagram, std::string_view time = "t",
                     std::string_view contains = "", std::string_view lacks = "") {
        CapturedPacket packet =
            CapturedPacket::copyOf(datagram.data(), static_cast<std::uint32_t>(datagram.size()));
        return table->append(packet, time, contains, lacks);
    }
    std::int32_t add(const TestDatagram& datagram, std::string_view time = "t") {
        return add(datagram.bytes(), time);
    }

    std::vector<std::int32_t> slotsInRowOrder() const {
        std::vector<std::int32_t> slots;
        const PacketTable::Access held = table->lock();
        for (const PacketRow& row : held.list().rows()) {
            slots.push_back(row.slot);
        }
        return slots;
    }
};

// A TCP datagram with the given sequence and acknowledgement numbers.
inline std::vector<std::uint8_t> tcpSegment(std::uint32_t sequence, std::uint32_t acknowledgement,
                                            std::string_view payload = "") {
    std::vector<std::uint8_t> bytes = TestDatagram{}.withPayload(payload).bytes();
    for (int i = 0; i < 4; ++i) {
        bytes[24 + i] = static_cast<std::uint8_t>(sequence >> (24 - 8 * i));
        bytes[28 + i] = static_cast<std::uint8_t>(acknowledgement >> (24 - 8 * i));
    }
    return bytes;
}

}  // namespace qhs::test
