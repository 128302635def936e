#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <vector>

#include "app/Templates.h"
#include "capture/PacketList.h"
#include "capture/PacketStore.h"
#include "capture/SlabArray.h"
#include "capture/TimeTextCache.h"

namespace qhs {
namespace {

struct Pair {
    int first = 0;
    int second = 0;
    bool operator==(const Pair&) const = default;
};

std::vector<Pair> contents(const SlabArray<Pair>& array) {
    return {array.values().begin(), array.values().end()};
}

TEST(SlabArray, InsertsEraseAndAppendsKeepOrderAndStopAtTheCapacity) {
    SlabArray<Pair> array(heapSlabMemory(), 4);
    EXPECT_TRUE(array.pushBack({1, 1}));
    EXPECT_TRUE(array.insert(0, {0, 0}));
    EXPECT_TRUE(array.insert(99, {3, 3})) << "past the end means at the end";
    EXPECT_TRUE(array.insert(2, {2, 2}));
    EXPECT_EQ(contents(array), (std::vector<Pair>{{0, 0}, {1, 1}, {2, 2}, {3, 3}}));
    EXPECT_FALSE(array.pushBack({4, 4})) << "a full array takes nothing more";
    EXPECT_FALSE(array.insert(0, {4, 4}));
    EXPECT_EQ(array.size(), 4u);

    array.erase(1);
    array.erase(7);  // past the end: nothing
    EXPECT_EQ(contents(array), (std::vector<Pair>{{0, 0}, {2, 2}, {3, 3}}));

    const std::vector<Pair> more{{5, 5}, {6, 6}, {7, 7}};
    EXPECT_EQ(array.append(more), 1u) << "as many as there is room for";
    EXPECT_EQ(contents(array), (std::vector<Pair>{{0, 0}, {2, 2}, {3, 3}, {5, 5}}));
    array.assign(more);
    EXPECT_EQ(contents(array), more);
}

// Memory that is never there.
class RefusingMemory : public SlabMemory {
  public:
    std::uint8_t* obtain(std::size_t) override { return nullptr; }
    bool back(std::uint8_t*, std::size_t) override { return false; }
    void release(std::uint8_t*, std::size_t) override { ADD_FAILURE() << "nothing to release"; }
};

TEST(SlabArray, WithoutMemoryArraysAndTheStoreHoldNothingAndNeverFault) {
    RefusingMemory none;
    SlabArray<Pair> array(none, 4);
    EXPECT_EQ(array.capacity(), 0u);
    EXPECT_FALSE(array.pushBack({1, 1}));
    EXPECT_EQ(array.append(std::vector<Pair>{{2, 2}}), 0u);
    array.clear();

    PacketStore store(none, none);
    const std::uint8_t datagram[20] = {0x45};
    EXPECT_FALSE(store.append(CapturedPacket::copyOf(datagram, 20), "t"));
    EXPECT_EQ(store.storedCount(), 0);
    EXPECT_EQ(store.packet(0), nullptr);
    store.release(0);
    store.freeAllSlots();
}

TEST(SlabArray, SpareRoomIsFilledFirstAndTakenInByGrowing) {
    SlabArray<Pair> array(heapSlabMemory(), 3);
    array.pushBack({1, 1});
    ASSERT_EQ(array.spare().size(), 2u);
    array.spare()[0] = {2, 2};
    EXPECT_EQ(array.size(), 1u) << "written room is not yet a value";
    array.grow(1);
    array.grow(5);  // never past the capacity
    EXPECT_EQ(array.size(), 3u);
    EXPECT_EQ(array[1], (Pair{2, 2}));

    array.clear();
    EXPECT_TRUE(array.empty());
    EXPECT_TRUE(array.pushBack({9, 9})) << "the room is usable again after a clear";
    EXPECT_EQ(contents(array), (std::vector<Pair>{{9, 9}}));
}

TEST(PacketList, RowsPastOnePerStoreSlotAreRefused) {
    PacketList list;
    for (std::int32_t slot = 0; slot < PacketStoreCapacity; ++slot) {
        list.insertRow(slot, slot, "", "");
    }
    EXPECT_EQ(list.insertRow(0, 0, "", ""), -1);
    EXPECT_EQ(list.rowCount(), PacketStoreCapacity);
    EXPECT_EQ(list.row(0).slot, 0) << "a refused row leaves the others alone";
}

TEST(TimeTextCache, AnArrivalStampIsWrittenAsTheLocalTimeOfThatMoment) {
    using Clock = std::chrono::system_clock;
    const std::string_view format = "%Y-%MY-%D %H24:%MN:%S.%MS";
    // 2001-09-09 01:46:40.123 UTC, some time ago: not the clock's reading now.
    const std::int64_t stamp = 1'000'000'000'123'456'789;
    const Clock::time_point moment(
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(stamp)));
    TimeTextCache cache;
    EXPECT_EQ(cache.text(format, stamp), expandDateTime(format, localTimeAt(moment)));
    const std::uint64_t version = cache.version();
    EXPECT_EQ(cache.text(format, stamp + 400'000), expandDateTime(format, localTimeAt(moment)));
    EXPECT_EQ(cache.version(), version) << "the same millisecond keeps its text";
    cache.text(format, stamp + 1'000'000);
    EXPECT_EQ(cache.version(), version + 1);
}

TEST(TimeTextCache, StampsAtAndBefore1970AreTheirOwnTimes) {
    TimeTextCache cache;
    // Every time zone is a whole number of minutes off, so the seconds are the stamp's.
    EXPECT_EQ(cache.text("%S.%MS", -500'000'000), "59.500");
    EXPECT_EQ(cache.text("%S.%MS", -1), "59.999");
    EXPECT_EQ(cache.text("%S.%MS", 0), "00.000") << "0 is 1970, not the clock's reading";
    const std::string year(cache.text("%Y", 0));
    EXPECT_TRUE(year == "1970" || year == "1969") << year;
    EXPECT_EQ(cache.text("%MS", std::numeric_limits<std::int64_t>::min()), "145");
}

}  // namespace
}  // namespace qhs
