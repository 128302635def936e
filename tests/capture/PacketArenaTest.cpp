#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "capture/PacketArena.h"

namespace qhs {
namespace {

// Hands out heap memory and remembers which slabs were obtained, backed (and on which
// thread) and released. Backing is recorded, not done: the slabs are 32 MiB each.
class RecordingSlabMemory : public SlabMemory {
  public:
    std::uint8_t* obtain(std::size_t bytes) override {
        std::lock_guard<std::mutex> guard(mutex_);
        if (obtainsLeft_ == 0) {
            return nullptr;
        }
        --obtainsLeft_;
        auto* slab = static_cast<std::uint8_t*>(std::malloc(bytes));
        obtained_.insert(slab);
        return slab;
    }

    bool back(std::uint8_t* slab, std::size_t) override {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!backingWorks_) {
            return false;
        }
        backed_.insert(slab);
        backingThreads_.insert(std::this_thread::get_id());
        return true;
    }

    void release(std::uint8_t* slab, std::size_t) override {
        std::lock_guard<std::mutex> guard(mutex_);
        EXPECT_TRUE(obtained_.count(slab) == 1) << "released twice or never obtained";
        obtained_.erase(slab);
        std::free(slab);
    }

    void enterPreparingThread() override {
        std::lock_guard<std::mutex> guard(mutex_);
        ++preparingThreads_;
    }

    bool wasBacked(const std::uint8_t* slab) {
        std::lock_guard<std::mutex> guard(mutex_);
        return backed_.count(const_cast<std::uint8_t*>(slab)) == 1;
    }

    std::size_t outstanding() {
        std::lock_guard<std::mutex> guard(mutex_);
        return obtained_.size();
    }

    std::set<std::thread::id> backingThreads() {
        std::lock_guard<std::mutex> guard(mutex_);
        return backingThreads_;
    }

    int preparingThreads() {
        std::lock_guard<std::mutex> guard(mutex_);
        return preparingThreads_;
    }

    void limitObtains(int count) {
        std::lock_guard<std::mutex> guard(mutex_);
        obtainsLeft_ = count;
    }

    void failBacking() {
        std::lock_guard<std::mutex> guard(mutex_);
        backingWorks_ = false;
    }

  private:
    std::mutex mutex_;
    std::set<std::uint8_t*> obtained_;
    std::set<std::uint8_t*> backed_;
    std::set<std::thread::id> backingThreads_;
    int preparingThreads_ = 0;
    int obtainsLeft_ = 1000;
    bool backingWorks_ = true;
};

// Polls for up to two seconds.
bool eventually(const std::function<bool()>& condition) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool slabGetsReady(const PacketArena& arena) {
    return eventually([&] { return arena.readySlabCount() == 1; });
}

// A block as large as a slab: the arena moves on to a new slab and fills it.
std::uint8_t* fillSlabAndMoveOn(PacketArena& arena) {
    return arena.allocate(PacketArena::SlabBytes);
}

TEST(PacketArenaPreparing, NextSlabIsBackedAheadOnAThreadOfItsOwn) {
    RecordingSlabMemory memory;
    {
        PacketArena arena(memory);
        arena.prepareAhead();
        ASSERT_TRUE(slabGetsReady(arena));
        EXPECT_EQ(memory.preparingThreads(), 1);

        std::uint8_t* first = arena.allocate(100);
        ASSERT_NE(first, nullptr);
        EXPECT_TRUE(memory.wasBacked(first)) << "the first slab was the one made ready";
        ASSERT_TRUE(slabGetsReady(arena)) << "taking a ready slab asks for the next";
        std::uint8_t* second = fillSlabAndMoveOn(arena);
        ASSERT_NE(second, nullptr);
        EXPECT_TRUE(memory.wasBacked(second));
        EXPECT_EQ(memory.backingThreads().count(std::this_thread::get_id()), 0u)
            << "the allocating thread never backs slabs itself";
        EXPECT_EQ(arena.slabCount(), 2u) << "the slab ready ahead is not counted";
        EXPECT_EQ(memory.preparingThreads(), 1) << "one preparing thread per arena";
    }
    EXPECT_EQ(memory.outstanding(), 0u) << "slabs in use and ready ahead all given back";
}

TEST(PacketArenaPreparing, WithoutAReadySlabTheCaptureThreadObtainsOneUnbacked) {
    RecordingSlabMemory memory;
    memory.failBacking();  // the preparer can never make one ready
    PacketArena arena(memory);
    std::uint8_t* block = arena.allocate(64);
    ASSERT_NE(block, nullptr);
    EXPECT_FALSE(memory.wasBacked(block));
    block[63] = 1;  // usable all the same
    // A request larger than a slab gets a slab of its own, here and now.
    EXPECT_NE(arena.allocate(PacketArena::SlabBytes + 1), nullptr);
}

TEST(PacketArenaPreparing, RunningOutOfMemoryGivesNullAndNoLeakOrHang) {
    RecordingSlabMemory memory;
    {
        memory.limitObtains(2);
        PacketArena arena(memory);
        ASSERT_NE(arena.allocate(64), nullptr);  // obtained here; the second is made ready
        ASSERT_TRUE(slabGetsReady(arena));
        ASSERT_NE(fillSlabAndMoveOn(arena), nullptr);
        EXPECT_EQ(fillSlabAndMoveOn(arena), nullptr) << "no third slab";
        EXPECT_EQ(arena.allocate(PacketArena::SlabBytes), nullptr);
        arena.releaseSlabs();
        EXPECT_EQ(arena.slabCount(), 1u);
        memory.limitObtains(5);  // memory came back: allocating works again
        EXPECT_NE(fillSlabAndMoveOn(arena), nullptr);
    }
    EXPECT_EQ(memory.outstanding(), 0u);
}

TEST(PacketArenaPreparing, AnArenaNeverUsedStartsNoThread) {
    RecordingSlabMemory memory;
    { PacketArena arena(memory); }
    EXPECT_EQ(memory.preparingThreads(), 0);
    EXPECT_EQ(memory.outstanding(), 0u);
}

}  // namespace
}  // namespace qhs
