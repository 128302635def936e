#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "capture/PacketArena.h"
#include "capture/SlabArray.h"

namespace qhs {

inline constexpr std::int32_t PacketStoreCapacity = 1000000;
// Bytes after each datagram in its block, so decoders may read fixed header offsets of a
// short datagram without leaving the block.
inline constexpr std::uint32_t PacketBlockSpareBytes = 44;

// An owned packet block: the datagram followed by PacketBlockSpareBytes zero bytes.
struct CapturedPacket {
    std::unique_ptr<std::uint8_t[]> block;
    std::uint32_t length = 0;

    // A new block for `length` bytes, its spare bytes zeroed; empty when memory runs out.
    static CapturedPacket allocate(std::uint32_t length);
    // Copies `length` bytes into a new block; an empty result when memory runs out.
    static CapturedPacket copyOf(const std::uint8_t* datagram, std::uint32_t length);
    explicit operator bool() const { return block != nullptr; }
};

// Every stored datagram of Packet Sniffer Mode in a fixed number of slots: three parallel
// arrays (block, length, time text) and nothing else per slot. Every block and time text
// lives in the store's arena, which owns them all and which a clear gives back whole; a slot
// only points into it, and a released slot forgets its memory. Slots fill in arrival order
// and are reused only after a clear. The arrays and storedCount are written under the list
// guard of the PacketTable that owns the store; the counters may be read by any thread at
// any time.
class PacketStore {
  public:
    explicit PacketStore(SlabMemory& memory = heapSlabMemory()) : PacketStore(memory, memory) {}
    // The packets themselves in `packetMemory` (which may refuse slabs below a memory floor),
    // the slot arrays in `memory`.
    PacketStore(SlabMemory& memory, SlabMemory& packetMemory);
    ~PacketStore() = default;
    PacketStore(const PacketStore&) = delete;
    PacketStore& operator=(const PacketStore&) = delete;

    // Copies the packet and its time text into the arena and slot storedCount; the caller's
    // packet stays its own. False when the store is full or the arena has no memory left.
    // The caller holds the list guard, as for appendFromArena.
    bool append(const CapturedPacket& packet, std::string_view timeText,
                std::int64_t arrivalNanoseconds = 0);
    // The capture thread's way: a block of length + spare bytes and a time text, both carved
    // from arena(), into slot storedCount. The caller holds the list guard.
    bool appendFromArena(const std::uint8_t* block, std::uint32_t length, const char* timeText,
                         std::int64_t arrivalNanoseconds = 0);
    PacketArena& arena() { return arena_; }
    // Counts the clears, so a holder of arena memory knows when it was given back.
    std::uint64_t clearCount() const { return clearCount_.load(); }

    // Adds a packet accepted for storing to the allocation total (length + spare bytes).
    void countAllocation(std::uint32_t length);

    const std::uint8_t* packet(std::int32_t slot) const;  // null for an empty slot
    std::uint32_t length(std::int32_t slot) const;        // 0 for an empty slot
    std::string_view time(std::int32_t slot) const;       // empty when none was kept
    // When the packet arrived, in nanoseconds since 1970 by the system clock; 0 when unknown.
    std::int64_t arrivalNanoseconds(std::int32_t slot) const;

    // Marks one slot empty; its index stays used and its memory goes back at the next clear.
    void release(std::int32_t slot);

    // Empties every slot, calling progress(slot) for each freed slot whose index is a
    // multiple of 100, then sets storedCount to 0. The caller holds the list guard.
    void freeAllSlots(const std::function<void(std::int32_t slot)>& progress = {});

    void resetAllocation() { allocatedBytes_.store(0); }
    // Notes the time of a Clear; call with the list guard held, together with emptying the
    // slots, so no reader sees emptied slots beside the previous clear time.
    void markCleared();

    std::int32_t storedCount() const { return storedCount_.load(std::memory_order_acquire); }
    std::uint64_t allocatedBytes() const { return allocatedBytes_.load(); }
    std::uint64_t lastClearTime() const { return lastClearTime_.load(); }

  private:
    bool isSlot(std::int32_t slot) const { return slot >= 0 && slot < slotCount_; }

    // One value per slot, from the slab memory: untouched slots cost nothing, and touched
    // ones come in huge pages where the memory offers them.
    SlabArray<const std::uint8_t*> packetData_;
    SlabArray<std::uint32_t> packetLength_;
    SlabArray<const char*> timeText_;
    SlabArray<std::int64_t> arrival_;
    // PacketStoreCapacity, or 0 when the slot arrays could not be had (nothing is stored).
    std::int32_t slotCount_;
    PacketArena arena_;
    std::atomic<std::uint64_t> clearCount_{0};
    std::atomic<std::int32_t> storedCount_{0};
    std::atomic<std::uint64_t> allocatedBytes_{0};
    std::atomic<std::uint64_t> lastClearTime_{0};
};

}  // namespace qhs
