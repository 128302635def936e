#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PacketListFixture.h"
#include "packetmode/PacketSorter.h"

namespace qhs {
namespace {

using test::address;
using test::PacketListFixture;
using test::TestDatagram;

class PacketSort : public testing::Test {
  protected:
    SortResult click(std::int32_t column) {
        return sorter.sortByColumn(column, [this](const UserMessage& question) {
            questions.push_back(question);
            return answer;
        });
    }
    std::vector<std::int32_t> order() const { return packets.slotsInRowOrder(); }

    PacketListFixture packets;
    PacketSorter sorter{*packets.table};
    bool answer = true;
    std::vector<UserMessage> questions;
};

TEST_F(PacketSort, DirectionAlternatesWithEveryCompletedSortWhateverTheColumn) {
    for (const int size : {100, 60, 300}) {
        TestDatagram datagram;
        datagram.payload.resize(static_cast<std::size_t>(size) - 40);
        datagram.destinationPort = static_cast<std::uint16_t>(size);  // 100, 60, 300
        packets.add(datagram);
    }
    ASSERT_EQ(click(1), SortResult::Sorted);  // first sort: descending
    EXPECT_EQ(order(), (std::vector<std::int32_t>{2, 0, 1}));
    EXPECT_TRUE(sorter.sortAscending);
    ASSERT_EQ(click(5), SortResult::Sorted);  // another column: ascending
    EXPECT_EQ(order(), (std::vector<std::int32_t>{1, 0, 2}));
    ASSERT_EQ(click(5), SortResult::Sorted);
    EXPECT_EQ(order(), (std::vector<std::int32_t>{2, 0, 1}));
    EXPECT_EQ(click(9), SortResult::NoSuchColumn);
    {
        const PacketTable::Access capturing = packets.table->lock();
        EXPECT_EQ(click(1), SortResult::Busy);  // the click is lost
    }
    EXPECT_EQ(order(), (std::vector<std::int32_t>{2, 0, 1}));
    EXPECT_TRUE(sorter.sortAscending);  // three sorts; the refused clicks do not count
}

TEST_F(PacketSort, KeysAreDecodedValuesNotCellTexts) {
    // Size sorts by the IP total length field, not the captured length.
    TestDatagram claimsLarge;
    claimsLarge.totalLength = 9000;
    packets.add(claimsLarge);                                        // 40 bytes, says 9000
    packets.add(TestDatagram{}.withPayload(std::string(500, 'x')));  // 540 bytes
    // Addresses sort as numbers: 10.0.0.2 is above 9.255.255.255 and 100.0.0.1 above both.
    TestDatagram nine;
    nine.source = address(9, 255, 255, 255);
    nine.protocol = 1;  // ICMP: its ports count as 0
    nine.sourcePort = 65000;
    packets.add(nine);
    TestDatagram hundred;
    hundred.source = address(100, 0, 0, 1);
    hundred.protocol = 17;
    hundred.sourcePort = 7;
    packets.add(hundred);
    TestDatagram ten;
    ten.source = address(10, 0, 0, 2);
    ten.sourcePort = 20000;
    packets.add(ten);

    const PacketTable::Access held = packets.table->lock();
    EXPECT_EQ(sortedRows(held.store(), held.list(), 1, false).front().slot, 0);
    const auto slots = [&](std::int32_t column, bool ascending) {
        std::vector<std::int32_t> result;
        for (const PacketRow& row : sortedRows(held.store(), held.list(), column, ascending)) {
            result.push_back(row.slot);
        }
        return result;
    };
    // Slots 0 and 1 share 10.0.0.1 and keep their order.
    EXPECT_EQ(slots(2, false), (std::vector<std::int32_t>{3, 4, 0, 1, 2}));
    EXPECT_EQ(slots(2, true), (std::vector<std::int32_t>{2, 0, 1, 4, 3}));
    EXPECT_EQ(slots(4, false), (std::vector<std::int32_t>{4, 0, 1, 3, 2}));
    EXPECT_EQ(slots(0, true), (std::vector<std::int32_t>{2, 0, 1, 4, 3}));
}

TEST_F(PacketSort, TimeAndFilterTextsCompareByteByByteAsUnsigned) {
    packets.add(TestDatagram{}.bytes(), "2003.04.03 - 09:05:07.042", "b", "");
    packets.add(TestDatagram{}.bytes(), "2003.04.03 - 09:05:07.041", "\xE9", "");
    // Equal for 32 bytes, then different.
    packets.add(TestDatagram{}.bytes(), "2003.04.03 - 09:05:07.041 and more text 2", "a", "");
    packets.add(TestDatagram{}.bytes(), "2003.04.03 - 09:05:07.041 and more text 1", "", "");
    EXPECT_EQ(click(6), SortResult::Sorted);
    EXPECT_EQ(order(), (std::vector<std::int32_t>{0, 2, 3, 1}));
    EXPECT_EQ(click(7), SortResult::Sorted);
    EXPECT_EQ(order(), (std::vector<std::int32_t>{3, 2, 0, 1}));
    EXPECT_TRUE(questions.empty());
}

TEST_F(PacketSort, RowsWithoutDataSortBelowEveryOtherRowAndTiesKeepTheirOrder) {
    for (int i = 0; i < 6; ++i) {
        TestDatagram datagram;
        datagram.destinationPort = i % 2 == 0 ? 80 : 0;
        packets.add(datagram);
    }
    packets.table->lock().store().release(2);
    packets.add(std::vector<std::uint8_t>(3, 0xFF));  // too short for a port: reads 0
    ASSERT_EQ(click(5), SortResult::Sorted);
    EXPECT_EQ(order(), (std::vector<std::int32_t>{0, 4, 1, 3, 5, 6, 2}));
    ASSERT_EQ(click(5), SortResult::Sorted);
    EXPECT_EQ(order(), (std::vector<std::int32_t>{2, 1, 3, 5, 6, 0, 4}));
    // Released slots have no time text either.
    ASSERT_EQ(click(6), SortResult::Sorted);
    EXPECT_EQ(order().back(), 2);
}

TEST_F(PacketSort, FilterTextColumnsWarnAbove1000RowsAndNoChangesNothing) {
    for (int i = 0; i < 1000; ++i) {
        packets.add(TestDatagram{}.bytes(), "t", i % 2 == 0 ? "even" : "odd", "");
    }
    EXPECT_EQ(click(7), SortResult::Sorted);
    EXPECT_TRUE(questions.empty());

    packets.add(TestDatagram{}.bytes(), "t", "zzz", "");
    const std::vector<std::int32_t> before = order();
    answer = false;
    EXPECT_EQ(click(8), SortResult::Declined);
    EXPECT_EQ(order(), before);
    EXPECT_TRUE(sorter.sortAscending);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].caption, "Are you sure?");

    answer = true;
    EXPECT_EQ(click(7), SortResult::Sorted);
    EXPECT_EQ(order().front(), 0);  // ascending: "even" rows first, "zzz" last
    EXPECT_EQ(order().back(), 1000);
    EXPECT_FALSE(sorter.sortAscending);
}

}  // namespace
}  // namespace qhs

namespace qhs {
namespace {

// Addresses sort IPv4 first, then IPv6 by its bytes; equal ones keep their order.
TEST_F(PacketSort, Ipv6AddressesSortAfterIpv4ByTheirBytes) {
    packets.add(test::asIpv6(TestDatagram{}, 0x20, 1));  // fd00::20
    packets.add(test::asIpv6(TestDatagram{}, 0x03, 1));  // fd00::3
    TestDatagram high;
    high.source = address(255, 255, 255, 255);
    packets.add(high);
    packets.add(test::asIpv6(TestDatagram{}, 0x03, 1));
    packets.add(TestDatagram{});  // 10.0.0.1

    const PacketTable::Access held = packets.table->lock();
    const auto slots = [&](bool ascending) {
        std::vector<std::int32_t> result;
        for (const PacketRow& row : sortedRows(held.store(), held.list(), 2, ascending)) {
            result.push_back(row.slot);
        }
        return result;
    };
    EXPECT_EQ(slots(true), (std::vector<std::int32_t>{4, 2, 1, 3, 0}));
    EXPECT_EQ(slots(false), (std::vector<std::int32_t>{0, 1, 3, 2, 4}));
}

}  // namespace
}  // namespace qhs
