#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "capture/PacketArena.h"

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
// arrays (block, length, time text) and nothing else per slot. The capture thread's blocks
// and time texts come from an arena that a clear gives back whole; a released slot only
// forgets its arena memory. Slots fill in arrival order
// and are reused only after a clear. The arrays and storedCount are written under the
// window's list guard; the counters may be read by any thread at any time.
class PacketStore {
  public:
    explicit PacketStore(SlabMemory& memory = heapSlabMemory()) : PacketStore(memory, memory) {}
    // The packets themselves in `packetMemory` (which may refuse slabs below a memory floor),
    // the slot arrays in `memory`.
    PacketStore(SlabMemory& memory, SlabMemory& packetMemory);
    ~PacketStore();
    PacketStore(const PacketStore&) = delete;
    PacketStore& operator=(const PacketStore&) = delete;

    // Puts the packet and a copy of its time text into slot storedCount. Fails, leaving the
    // packet with the caller, when the store is full.
    bool append(CapturedPacket& packet, std::string_view timeText);
    // The capture thread's way: a block of length + spare bytes and a time text, both carved
    // from arena(), into slot storedCount. The caller holds the list guard.
    bool appendFromArena(const std::uint8_t* block, std::uint32_t length, const char* timeText);
    PacketArena& arena() { return arena_; }
    // Counts the clears, so a holder of arena memory knows when it was given back.
    std::uint64_t clearCount() const { return clearCount_.load(); }

    // Adds a packet accepted for storing to the allocation total (length + spare bytes).
    void countAllocation(std::uint32_t length);

    const std::uint8_t* packet(std::int32_t slot) const;  // null for an empty slot
    std::uint32_t length(std::int32_t slot) const;        // 0 for an empty slot
    std::string_view time(std::int32_t slot) const;       // empty when none was kept

    // Frees one slot's block and time text and marks it empty; its index stays used.
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
    bool isSlot(std::int32_t slot) const { return slot >= 0 && slot < PacketStoreCapacity; }

    // Block and text pointers; the lowest bit marks memory of the heap, owned by the slot,
    // as against memory of the arena.
    // One value per slot, zeroed, from the slab memory: untouched slots cost nothing, and
    // touched ones come in huge pages where the memory offers them.
    template <typename T>
    class SlotArray {
      public:
        explicit SlotArray(SlabMemory& memory);
        ~SlotArray();
        SlotArray(const SlotArray&) = delete;
        SlotArray& operator=(const SlotArray&) = delete;
        T& operator[](std::int32_t slot) { return values_[slot]; }
        const T& operator[](std::int32_t slot) const { return values_[slot]; }

      private:
        static constexpr std::size_t Bytes = sizeof(T) * PacketStoreCapacity;
        SlabMemory& memory_;
        T* values_;
    };

    SlotArray<std::uintptr_t> packetData_;
    SlotArray<std::uint32_t> packetLength_;
    SlotArray<std::uintptr_t> timeText_;
    PacketArena arena_;
    std::atomic<std::uint64_t> clearCount_{0};
    std::atomic<std::int32_t> storedCount_{0};
    std::atomic<std::uint64_t> allocatedBytes_{0};
    std::atomic<std::uint64_t> lastClearTime_{0};
};

}  // namespace qhs
