#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "capture/PacketList.h"
#include "capture/PacketStore.h"

namespace qhs {
namespace {

CapturedPacket packetOf(std::uint32_t length, std::uint8_t fill = 0xAA) {
    const std::vector<std::uint8_t> bytes(length, fill);
    return CapturedPacket::copyOf(bytes.data(), length);
}

void appendPacket(PacketStore& store, std::uint32_t length, std::string_view time = "t") {
    CapturedPacket packet = packetOf(length, static_cast<std::uint8_t>(length));
    store.countAllocation(length);
    ASSERT_TRUE(store.append(packet, time));
}

TEST(PacketStore, BlocksHoldTheDatagramFollowedByZeroedSpareBytes) {
    const std::vector<std::uint8_t> bytes = {1, 2, 3};
    const CapturedPacket packet = CapturedPacket::copyOf(bytes.data(), 3);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet.length, 3u);
    for (std::uint32_t i = 0; i < 3 + PacketBlockSpareBytes; ++i) {
        EXPECT_EQ(packet.block[i], i < 3 ? bytes[i] : 0) << i;
    }
    // An empty datagram still gets its spare bytes, so header reads stay inside.
    const CapturedPacket empty = CapturedPacket::copyOf(nullptr, 0);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty.block[PacketBlockSpareBytes - 1], 0);
}

TEST(PacketStore, SlotsFillInArrivalOrderAndStartAgainAtZeroAfterAClear) {
    PacketStore store;
    appendPacket(store, 60, "first");
    appendPacket(store, 70, "second");
    EXPECT_EQ(store.storedCount(), 2);
    EXPECT_EQ(store.length(0), 60u);
    EXPECT_EQ(store.length(1), 70u);
    EXPECT_EQ(store.time(1), "second");
    EXPECT_EQ(store.packet(1)[0], 70);

    std::vector<std::int32_t> progress;
    store.freeAllSlots([&](std::int32_t slot) { progress.push_back(slot); });
    store.markCleared();
    EXPECT_EQ(progress, std::vector<std::int32_t>{0});
    EXPECT_EQ(store.storedCount(), 0);
    EXPECT_EQ(store.packet(0), nullptr);
    EXPECT_EQ(store.length(1), 0u);
    EXPECT_EQ(store.time(0), "");
    EXPECT_GT(store.lastClearTime(), 0u);

    appendPacket(store, 80);
    EXPECT_EQ(store.storedCount(), 1);
    EXPECT_EQ(store.length(0), 80u);
}

TEST(PacketStore, ClearOfAnEmptyStoreStillMarksTheClearTime) {
    PacketStore store;
    EXPECT_EQ(store.lastClearTime(), 0u);
    int calls = 0;
    store.freeAllSlots([&](std::int32_t) { ++calls; });
    store.markCleared();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(store.storedCount(), 0);
    EXPECT_GT(store.lastClearTime(), 0u);
}

TEST(PacketStore, AllocationCountsLengthPlusSpareBytesUntilReset) {
    PacketStore store;
    appendPacket(store, 100);
    appendPacket(store, 1500);
    EXPECT_EQ(store.allocatedBytes(), 100u + 44 + 1500 + 44);
    // Releasing one slot does not change the running total; only a clear resets it.
    store.release(0);
    EXPECT_EQ(store.allocatedBytes(), 1688u);
    store.resetAllocation();
    EXPECT_EQ(store.allocatedBytes(), 0u);
    // The total does not wrap at 4 GiB.
    for (int i = 0; i < 70000; ++i) {
        store.countAllocation(65535);
    }
    EXPECT_EQ(store.allocatedBytes(), 70000ull * (65535 + 44));
}

TEST(PacketStore, ReleasedSlotIsEmptyButKeepsItsIndexUsed) {
    PacketStore store;
    appendPacket(store, 40);
    appendPacket(store, 41);
    store.release(0);
    EXPECT_EQ(store.packet(0), nullptr);
    EXPECT_EQ(store.length(0), 0u);
    EXPECT_EQ(store.time(0), "");
    EXPECT_EQ(store.storedCount(), 2);
    appendPacket(store, 42);
    EXPECT_EQ(store.length(2), 42u);
    // Out-of-range slots read as empty instead of faulting.
    EXPECT_EQ(store.packet(-1), nullptr);
    EXPECT_EQ(store.length(PacketStoreCapacity), 0u);
    store.release(PacketStoreCapacity + 5);
}

TEST(PacketStore, FullStoreRefusesThePacketAndLeavesItWithTheCaller) {
    PacketStore store;
    for (std::int32_t i = 0; i < PacketStoreCapacity; ++i) {
        CapturedPacket packet = CapturedPacket::copyOf(nullptr, 0);
        ASSERT_TRUE(store.append(packet, ""));
    }
    EXPECT_EQ(store.storedCount(), PacketStoreCapacity);
    CapturedPacket extra = packetOf(20);
    EXPECT_FALSE(store.append(extra, "late"));
    EXPECT_TRUE(extra);
    EXPECT_EQ(store.storedCount(), PacketStoreCapacity);

    std::int32_t lastProgress = -1;
    store.freeAllSlots([&](std::int32_t slot) { lastProgress = slot; });
    EXPECT_EQ(lastProgress, 999900);
    EXPECT_EQ(store.storedCount(), 0);
}

}  // namespace
}  // namespace qhs

namespace qhs {
namespace {

TEST(PacketList, EachDistinctPairOfFilterTextsIsKeptOnceUntilAClear) {
    PacketList list;
    list.insertRow(0, 0, "", "");
    list.insertRow(1, 1, "a,,", ",,");
    list.insertRow(2, 2, "b,,", ",,");
    list.insertRow(3, 3, "a,,", ",,");  // alternating texts reuse their first copy
    list.insertRow(4, 4, "a", ",,,");   // the split between the two texts matters
    EXPECT_EQ(list.row(0).filterTexts, 0u);
    EXPECT_EQ(list.row(3).filterTexts, list.row(1).filterTexts);
    EXPECT_NE(list.row(4).filterTexts, list.row(1).filterTexts);
    EXPECT_EQ(list.filterTextCount(), 4u);
    EXPECT_EQ(list.filterTexts(list.row(4).filterTexts).lacks, ",,,");

    list.clear();
    list.insertRow(0, 0, "b,,", ",,");
    EXPECT_EQ(list.filterTextCount(), 2u);
    EXPECT_EQ(list.filterTexts(list.row(0).filterTexts).contains, "b,,");
}

}  // namespace
}  // namespace qhs

namespace qhs {
namespace {

// The capture thread appends rows under the list guard: the rows must never be copied to
// larger storage on the way to a full store, nor after a clear or a sort.
TEST(PacketList, RowsStayInPlaceAsTheyGrowAfterClearsAndSorts) {
    PacketList list;
    const auto appendRows = [&list](int count) {
        const PacketRow* storage = list.rows().data();
        for (int i = 0; i < count; ++i) {
            list.insertRow(list.rowCount(), list.rowCount(), "", "");
            if (list.rows().data() != storage) {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(appendRows(5000));
    list.clear();
    EXPECT_TRUE(appendRows(5000));
    std::vector<PacketRow> reversed(list.rows().rbegin(), list.rows().rend());
    list.reorder(std::move(reversed));
    EXPECT_TRUE(appendRows(5000));
    EXPECT_GE(list.rowCapacity(), static_cast<std::size_t>(PacketStoreCapacity));
}

TEST(PacketArena, BlocksAreAlignedAndTheLastOneCanBeGivenBack) {
    PacketArena arena;
    std::uint8_t* first = arena.allocate(61);
    std::uint8_t* second = arena.allocate(1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % PacketArena::Alignment, 0u);
    EXPECT_EQ(second, first + 64);
    arena.giveBack(second, 1);
    EXPECT_EQ(arena.allocate(16), second) << "the given-back block is carved again";
    arena.giveBack(first, 61);  // not the last block: nothing happens
    EXPECT_EQ(arena.allocate(1), second + 16);
    EXPECT_STREQ(arena.copyText("09:05:07.042"), "09:05:07.042");
}

TEST(PacketArena, ReleasingKeepsOnlyTheSlabBeingCarved) {
    PacketArena arena;
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(arena.allocate(PacketArena::SlabBytes - 64), nullptr);
    }
    EXPECT_EQ(arena.slabCount(), 3u);
    std::uint8_t* pending = arena.allocate(32);  // held by the capture, not stored yet
    arena.releaseSlabs();
    EXPECT_EQ(arena.slabCount(), 1u);
    std::memset(pending, 0xAB, 32);  // still valid memory (the sanitizer build checks)
    EXPECT_NE(arena.allocate(PacketArena::SlabBytes * 2), nullptr) << "an oversized request";
}

TEST(PacketStore, ArenaSlotsReadLikeHeapSlotsAndAClearGivesTheArenaBack) {
    PacketStore store;
    std::uint8_t* block = store.arena().allocate(20 + PacketBlockSpareBytes);
    std::memset(block, 7, 20 + PacketBlockSpareBytes);
    const char* time = store.arena().copyText("t1");
    ASSERT_TRUE(store.appendFromArena(block, 20, time));
    CapturedPacket heapPacket = CapturedPacket::copyOf(block, 30);
    ASSERT_TRUE(store.append(heapPacket, "t2"));
    EXPECT_EQ(store.packet(0), block);
    EXPECT_EQ(store.length(0), 20u);
    EXPECT_EQ(store.time(0), "t1");
    EXPECT_EQ(store.time(1), "t2");
    store.release(0);  // arena memory is only forgotten
    EXPECT_EQ(store.packet(0), nullptr);
    EXPECT_EQ(store.time(0), "");
    const std::uint64_t clears = store.clearCount();
    store.freeAllSlots();
    EXPECT_EQ(store.clearCount(), clears + 1);
    EXPECT_EQ(store.storedCount(), 0);
    EXPECT_EQ(store.arena().slabCount(), 1u);
}

}  // namespace
}  // namespace qhs
