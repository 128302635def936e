#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "app/WorkerThread.h"
#include "capture/SlabMemory.h"

namespace qhs {

// Memory for the packets of one capture, carved in order out of large slabs, so storing a
// datagram costs no heap allocation of its own and a million of them take a few dozen
// slabs. Blocks are never freed one by one: the store forgets them and a clear gives the
// slabs back.
//
// Fresh memory is expensive to touch for the first time (the kernel zeroes and maps each
// page on its first write), and a capture thread waiting for that misses datagrams. So a
// preparing thread keeps ReadySlabs slabs obtained and backed ahead of need; the capture
// thread only obtains a slab itself when none is ready.
//
// Only the capture thread allocates. releaseSlabs() may run on another thread meanwhile:
// it keeps the slab the capture thread is carving from, so a block the capture thread holds
// but has not stored yet stays valid.
class PacketArena {
  public:
    static constexpr std::size_t SlabBytes = std::size_t{32} << 20;
    static constexpr std::size_t Alignment = 16;
    static constexpr std::size_t ReadySlabs = 1;

    explicit PacketArena(SlabMemory& memory = heapSlabMemory());
    ~PacketArena();
    PacketArena(const PacketArena&) = delete;
    PacketArena& operator=(const PacketArena&) = delete;

    // `bytes` of memory aligned to 16, or null when no memory is left. Capture thread only.
    std::uint8_t* allocate(std::size_t bytes);
    // Takes back the block allocated last, when it is not stored after all.
    void giveBack(const std::uint8_t* block, std::size_t bytes);
    // A copy of a text, NUL-terminated, or null. Capture thread only.
    const char* copyText(std::string_view text);

    // Starts backing slabs ahead now rather than when the first slab is needed.
    void prepareAhead();

    // Frees every slab but the one being carved from. Any thread.
    void releaseSlabs();
    // Slabs holding blocks (the one being carved included), not those ready ahead.
    std::size_t slabCount() const;
    // Slabs backed and waiting to be carved from.
    std::size_t readySlabCount() const;

  private:
    struct Slab {
        std::uint8_t* begin;
        std::size_t bytes;
    };

    Slab nextSlab(std::size_t bytes);
    void startPreparing();  // under readyGuard_
    void prepareSlabs();

    SlabMemory& memory_;
    mutable std::mutex slabsGuard_;  // over slabs_ and the choice of the current slab
    std::vector<Slab> slabs_;
    // Capture thread's carving position.
    std::uint8_t* current_ = nullptr;
    std::size_t used_ = 0;
    std::size_t currentBytes_ = 0;

    // Slabs obtained ahead by preparer_, started with the first slab.
    mutable std::mutex readyGuard_;
    std::condition_variable readyWanted_;
    std::vector<Slab> ready_;
    bool stopping_ = false;
    bool memoryRanOut_ = false;  // the preparer waits for the next taking before trying again
    WorkerThread preparer_;
};

}  // namespace qhs
