#pragma once

#include <cassert>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>

#include "capture/PacketList.h"
#include "capture/PacketStore.h"

namespace qhs {

// The packet store and the packet list of one capture, behind the one guard that keeps them
// consistent: a row and its slot appear together, and a row is never read while its slot
// is freed. The rows and the slot arrays are reached only through an Access, which holds
// the guard for as long as it lives. The guard is held for moments only: nobody waits for
// the window while holding it, so the window may wait for it, and the places that must never
// wait (the list's timer, the selection's detail) use tryLock().
//
// Some parts are read without the guard by design, and are offered here directly: the
// counters of the store (atomic), its arena (only the capture thread allocates from it), and
// a stored slot's block, length and time text (see storedPacket).
class PacketTable {
  public:
    explicit PacketTable(SlabMemory& memory = heapSlabMemory()) : PacketTable(memory, memory) {}
    // The packets themselves in `packetMemory` (which may refuse slabs below a memory floor),
    // the slot arrays and the rows in `memory`.
    PacketTable(SlabMemory& memory, SlabMemory& packetMemory);
    PacketTable(const PacketTable&) = delete;
    PacketTable& operator=(const PacketTable&) = delete;

    // The store and the list while the guard is held. Let go by unlock() or at the end of
    // its life; lock() and tryLock() take it again.
    class Access {
      public:
        Access(Access&&) noexcept = default;
        Access& operator=(Access&&) noexcept = default;

        bool held() const { return guard_.owns_lock(); }
        explicit operator bool() const { return held(); }

        PacketStore& store() {
            assert(held());
            return table_->store_;
        }
        const PacketStore& store() const {
            assert(held());
            return table_->store_;
        }
        PacketList& list() {
            assert(held());
            return table_->list_;
        }
        const PacketList& list() const {
            assert(held());
            return table_->list_;
        }

        void unlock() { guard_.unlock(); }
        // Waits for the guard.
        void lock() { guard_.lock(); }
        // Takes the guard only if it is free at once.
        bool tryLock() { return guard_.try_lock(); }

      private:
        friend class PacketTable;
        Access(PacketTable& table, std::unique_lock<std::mutex> guard)
            : table_(&table), guard_(std::move(guard)) {}

        PacketTable* table_;
        std::unique_lock<std::mutex> guard_;
    };

    // Waits for the guard.
    Access lock() { return Access(*this, std::unique_lock<std::mutex>(busy_)); }
    // Never waits: the access holds nothing when the guard is taken.
    Access tryLock() {
        return Access(*this, std::unique_lock<std::mutex>(busy_, std::try_to_lock));
    }

    // Appends a row at the end and the packet as the next slot together: the capture thread's
    // way, with a block of length + spare bytes carved from arena(). `keepTimeText(arena,
    // clearCount)` runs under the guard and returns the slot's time text kept in the arena
    // (a Clear gives the arena back, and with it a text kept before). Returns the slot.
    template <typename KeepTimeText>
    std::int32_t appendFromArena(const std::uint8_t* block, std::uint32_t length,
                                 KeepTimeText&& keepTimeText, std::string_view contains,
                                 std::string_view lacks, std::int64_t arrivalNanoseconds) {
        std::lock_guard<std::mutex> guard(busy_);
        const char* timeText = keepTimeText(store_.arena(), store_.clearCount());
        const std::int32_t slot = store_.storedCount();
        // Rows never outnumber stored slots, so below the store's limit there is room.
        list_.insertRow(slot, slot, contains, lacks);
        store_.appendFromArena(block, length, timeText, arrivalNanoseconds);
        return slot;
    }
    // Appends a row at the end and a copy of `packet` as the next slot together. Returns the
    // slot.
    std::int32_t append(const CapturedPacket& packet, std::string_view timeText,
                        std::string_view contains = "", std::string_view lacks = "",
                        std::int64_t arrivalNanoseconds = 0);

    // Empties the list and frees every slot, then notes the clear time, all under the guard.
    // `whileGuarded` runs first under it and must not wait for the window; `progress(slot)`
    // as for PacketStore::freeAllSlots.
    void clear(const std::function<void(const PacketStore& store)>& whileGuarded = {},
               const std::function<void(std::int32_t slot)>& progress = {});

    // Read without the guard by any thread at any time.
    std::int32_t storedCount() const { return store_.storedCount(); }
    std::uint64_t allocatedBytes() const { return store_.allocatedBytes(); }
    std::uint64_t lastClearTime() const { return store_.lastClearTime(); }
    std::uint64_t clearCount() const { return store_.clearCount(); }
    void countAllocation(std::uint32_t length) { store_.countAllocation(length); }
    void resetAllocation() { store_.resetAllocation(); }
    // The capture thread carves blocks from it without the guard; see PacketArena.
    PacketArena& arena() { return store_.arena(); }

    // A stored slot's block, length and time text without the guard. They never change once
    // stored; only the release of a slot, on the window's thread, and Clear, only once the
    // shown list has let go of its slots, take them away. So the window's thread may read
    // the slot of a row it copied under the guard and still shows.
    const std::uint8_t* storedPacket(std::int32_t slot) const { return store_.packet(slot); }
    std::uint32_t storedLength(std::int32_t slot) const { return store_.length(slot); }
    std::string_view storedTime(std::int32_t slot) const { return store_.time(slot); }

  private:
    // Lets a test see which thread waits for the guard; no other code names it.
    friend struct PacketTableTestAccess;

    std::mutex busy_;
    PacketStore store_;
    PacketList list_;
};

}  // namespace qhs
