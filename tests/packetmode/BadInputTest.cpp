#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "PacketListFixture.h"
#include "packetmode/PacketContextMenu.h"
#include "packetmode/PacketDetail.h"
#include "packetmode/PacketFinder.h"
#include "packetmode/PacketSorter.h"
#include "packetmode/SequenceNavigation.h"

namespace qhs {
namespace {

// Every command over datagrams of every length from 0 to 72 bytes, of each protocol, with
// random bytes (TCP headers that claim 60 bytes among them), released slots and deleted
// rows. Run under the address sanitizer, a read past a datagram's block fails the test.
TEST(PacketModeBadInput, NoCommandReadsOutsideShortRandomOrReleasedSlots) {
    test::PacketListFixture packets;
    std::mt19937 random(5);
    for (std::uint32_t length = 0; length <= 72; ++length) {
        for (const std::uint8_t protocol : {1, 2, 6, 17}) {
            std::vector<std::uint8_t> bytes(length);
            for (std::uint8_t& byte : bytes) {
                byte = static_cast<std::uint8_t>(random());
            }
            if (length > 9) {
                bytes[9] = protocol;
            }
            if (length > 32 && length % 2 == 0) {
                bytes[32] = 0xF0;
            }
            packets.add(bytes, length % 3 == 0 ? "" : "t");
        }
    }
    const std::int32_t count = packets.table->storedCount();
    for (std::int32_t slot = 0; slot < count; slot += 7) {
        packets.table->lock().store().release(slot);
    }
    for (std::int32_t row = 0; row < packets.table->lock().list().rowCount(); row += 5) {
        packets.table->lock().list().removeRow(row);
    }

    for (std::int32_t slot = -1; slot <= count; ++slot) {
        for (const auto rendering : {EntirePacketRendering::Text, EntirePacketRendering::Dec,
                                     EntirePacketRendering::Hex}) {
            const PacketDetail detail =
                renderDetail(packets.table->lock().store(), slot, rendering);
            for (std::size_t field = 0; field < DetailFieldCount; ++field) {
                const auto range = highlightRange(detail, static_cast<DetailField>(field));
                if (range) {
                    EXPECT_LE(range->end, detail.entirePacket.size()) << slot;
                }
            }
        }
        for (const auto command : {SequenceCommand::Next, SequenceCommand::Previous,
                                   SequenceCommand::First, SequenceCommand::Last}) {
            gotoSequence(command, slot, *packets.table, [](const UserMessage&) { return true; });
        }
        reverseResolve(*packets.table, slot, AddressField::Destination,
                       [](const std::array<std::uint8_t, 4>&) { return std::nullopt; });
    }
    PacketSorter sorter(*packets.table);
    for (std::int32_t column = 0; column < PacketListColumnCount; ++column) {
        EXPECT_EQ(sorter.sortByColumn(column, SortHooks{}), SortResult::Sorted);
    }
    for (std::int32_t row = 0; row < packets.table->lock().list().rowCount(); ++row) {
        EXPECT_TRUE(openPacketMenu(*packets.table, row).opens());
    }

    FindHooks hooks;
    hooks.findText = [] { return std::string("\x01"); };
    hooks.matchCase = [] { return false; };
    hooks.setProgressRange = [](std::int32_t) {};
    hooks.setProgress = [](std::int32_t) {};
    hooks.showProgressBar = [](bool) {};
    PacketFinder* running = nullptr;
    hooks.selectMatch = [&running](std::int32_t, std::int32_t) { running->findNext = true; };
    hooks.clearSelection = [] {};
    hooks.showMessage = [](const UserMessage&) {};
    hooks.ask = [](const UserMessage&) { return false; };
    PacketFinder finder(*packets.table, hooks);
    running = &finder;
    finder.run();
}

}  // namespace
}  // namespace qhs
