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

PacketStore::PacketStore(SlabMemory& memory, SlabMemory& packetMemory)
    : packetData_(memory, PacketStoreCapacity, AllZero),
      packetLength_(memory, PacketStoreCapacity, AllZero),
      timeText_(memory, PacketStoreCapacity, AllZero),
      arrival_(memory, PacketStoreCapacity, AllZero),
      slotCount_(static_cast<std::int32_t>(
          std::min({packetData_.size(), packetLength_.size(), timeText_.size(), arrival_.size()}))),
      arena_(packetMemory) {}

bool PacketStore::append(const CapturedPacket& packet, std::string_view timeText,
                         std::int64_t arrivalNanoseconds) {
    if (storedCount_.load(std::memory_order_relaxed) >= slotCount_ || !packet) {
        return false;
    }
    const std::size_t blockSize = std::size_t{packet.length} + PacketBlockSpareBytes;
    std::uint8_t* block = arena_.allocate(blockSize);
    if (block == nullptr) {
        return false;
    }
    std::memcpy(block, packet.block.get(), blockSize);
    // A time text that cannot be had leaves the packet stored without one.
    return appendFromArena(block, packet.length, arena_.copyText(timeText), arrivalNanoseconds);
}

bool PacketStore::appendFromArena(const std::uint8_t* block, std::uint32_t length,
                                  const char* timeText, std::int64_t arrivalNanoseconds) {
    const std::int32_t slot = storedCount_.load(std::memory_order_relaxed);
    if (slot >= slotCount_) {
        return false;
    }
    const auto index = static_cast<std::size_t>(slot);
    packetData_[index] = block;
    packetLength_[index] = length;
    timeText_[index] = timeText;
    arrival_[index] = arrivalNanoseconds;
    storedCount_.store(slot + 1, std::memory_order_release);
    return true;
}

void PacketStore::countAllocation(std::uint32_t length) {
    allocatedBytes_.fetch_add(std::uint64_t{length} + PacketBlockSpareBytes);
}

const std::uint8_t* PacketStore::packet(std::int32_t slot) const {
    return isSlot(slot) ? packetData_[static_cast<std::size_t>(slot)] : nullptr;
}

std::uint32_t PacketStore::length(std::int32_t slot) const {
    return isSlot(slot) ? packetLength_[static_cast<std::size_t>(slot)] : 0;
}

std::string_view PacketStore::time(std::int32_t slot) const {
    const char* text = isSlot(slot) ? timeText_[static_cast<std::size_t>(slot)] : nullptr;
    return text != nullptr ? std::string_view(text) : std::string_view();
}

std::int64_t PacketStore::arrivalNanoseconds(std::int32_t slot) const {
    return isSlot(slot) ? arrival_[static_cast<std::size_t>(slot)] : 0;
}

void PacketStore::release(std::int32_t slot) {
    if (!isSlot(slot)) {
        return;
    }
    const auto index = static_cast<std::size_t>(slot);
    packetData_[index] = nullptr;
    timeText_[index] = nullptr;
    packetLength_[index] = 0;
    arrival_[index] = 0;
}

void PacketStore::freeAllSlots(const std::function<void(std::int32_t slot)>& progress) {
    // Only slots below storedCount were ever filled, so the walk stops there instead of
    // touching (and paging in) the untouched rest of the arrays.
    const std::int32_t used = storedCount_.load(std::memory_order_acquire);
    for (std::int32_t slot = 0; slot < used; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        if (packetData_[index] == nullptr && timeText_[index] == nullptr) {
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
