#include "capture/PacketStore.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "app/ProcessClock.h"

namespace qhs {

CapturedPacket CapturedPacket::allocate(std::uint32_t length) {
    CapturedPacket packet;
    const std::size_t blockSize = std::size_t{length} + PacketBlockSpareBytes;
    packet.block.reset(new (std::nothrow) std::uint8_t[blockSize]);
    if (!packet.block) {
        return packet;
    }
    std::memset(packet.block.get() + length, 0, PacketBlockSpareBytes);
    packet.length = length;
    return packet;
}

CapturedPacket CapturedPacket::copyOf(const std::uint8_t* datagram, std::uint32_t length) {
    CapturedPacket packet = allocate(length);
    if (packet && length > 0) {
        std::memcpy(packet.block.get(), datagram, length);
    }
    return packet;
}

namespace {

constexpr std::uintptr_t HeapOwned = 1;

std::uintptr_t heapTagged(const void* memory) {
    return reinterpret_cast<std::uintptr_t>(memory) | HeapOwned;
}

template <typename T>
T* untagged(std::uintptr_t tagged) {
    return reinterpret_cast<T*>(tagged & ~HeapOwned);
}

}  // namespace

template <typename T>
PacketStore::SlotArray<T>::SlotArray(SlabMemory& memory)
    : memory_(memory), values_(reinterpret_cast<T*>(memory.obtain(Bytes))) {
    if (values_ == nullptr) {
        throw std::bad_alloc();
    }
}

template <typename T>
PacketStore::SlotArray<T>::~SlotArray() {
    memory_.release(reinterpret_cast<std::uint8_t*>(values_), Bytes);
}

PacketStore::PacketStore(SlabMemory& memory, SlabMemory& packetMemory)
    : packetData_(memory), packetLength_(memory), timeText_(memory), arena_(packetMemory) {}

PacketStore::~PacketStore() {
    const std::int32_t used = storedCount_.load();
    for (std::int32_t slot = 0; slot < used; ++slot) {
        release(slot);
    }
}

bool PacketStore::append(CapturedPacket& packet, std::string_view timeText) {
    const std::int32_t slot = storedCount_.load(std::memory_order_relaxed);
    if (slot >= PacketStoreCapacity) {
        return false;
    }
    // A time text that cannot be allocated leaves the packet stored without one.
    char* text = new (std::nothrow) char[timeText.size() + 1];
    if (text != nullptr) {
        timeText.copy(text, timeText.size());
        text[timeText.size()] = '\0';
    }
    packetData_[slot] = packet.block ? heapTagged(packet.block.release()) : 0;
    packetLength_[slot] = packet.length;
    timeText_[slot] = text != nullptr ? heapTagged(text) : 0;
    packet.length = 0;
    storedCount_.store(slot + 1, std::memory_order_release);
    return true;
}

bool PacketStore::appendFromArena(const std::uint8_t* block, std::uint32_t length,
                                  const char* timeText) {
    const std::int32_t slot = storedCount_.load(std::memory_order_relaxed);
    if (slot >= PacketStoreCapacity) {
        return false;
    }
    packetData_[slot] = reinterpret_cast<std::uintptr_t>(block);
    packetLength_[slot] = length;
    timeText_[slot] = reinterpret_cast<std::uintptr_t>(timeText);
    storedCount_.store(slot + 1, std::memory_order_release);
    return true;
}

void PacketStore::countAllocation(std::uint32_t length) {
    allocatedBytes_.fetch_add(std::uint64_t{length} + PacketBlockSpareBytes);
}

const std::uint8_t* PacketStore::packet(std::int32_t slot) const {
    return isSlot(slot) ? untagged<const std::uint8_t>(packetData_[slot]) : nullptr;
}

std::uint32_t PacketStore::length(std::int32_t slot) const {
    return isSlot(slot) ? packetLength_[slot] : 0;
}

std::string_view PacketStore::time(std::int32_t slot) const {
    if (!isSlot(slot) || timeText_[slot] == 0) {
        return {};
    }
    return untagged<const char>(timeText_[slot]);
}

void PacketStore::release(std::int32_t slot) {
    if (!isSlot(slot)) {
        return;
    }
    if ((packetData_[slot] & HeapOwned) != 0) {
        delete[] untagged<std::uint8_t>(packetData_[slot]);
    }
    if ((timeText_[slot] & HeapOwned) != 0) {
        delete[] untagged<char>(timeText_[slot]);
    }
    packetData_[slot] = 0;
    timeText_[slot] = 0;
    packetLength_[slot] = 0;
}

void PacketStore::freeAllSlots(const std::function<void(std::int32_t slot)>& progress) {
    // Only slots below storedCount were ever filled, so the walk stops there instead of
    // touching (and paging in) the untouched rest of the arrays.
    const std::int32_t used = storedCount_.load(std::memory_order_acquire);
    for (std::int32_t slot = 0; slot < used; ++slot) {
        if (packetData_[slot] == 0 && timeText_[slot] == 0) {
            continue;
        }
        release(slot);
        if (progress && slot % 100 == 0) {
            progress(slot);
        }
    }
    storedCount_.store(0, std::memory_order_release);
    arena_.releaseSlabs();
    clearCount_.fetch_add(1);
}

void PacketStore::markCleared() {
    // Readers tell one Clear from the next by this time, so two Clears within one
    // millisecond must still note different times.
    const std::uint64_t previous = lastClearTime_.load();
    lastClearTime_.store(std::max<std::uint64_t>(processClockMs(), previous + 1));
}

}  // namespace qhs
