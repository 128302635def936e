#include "capture/PacketStore.h"

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

PacketStore::PacketStore()
    // Value-initialised arrays start as zero pages, so untouched slots cost no memory.
    : packetData_(new std::unique_ptr<std::uint8_t[]>[PacketStoreCapacity]()),
      packetLength_(new std::uint32_t[PacketStoreCapacity]()),
      timeText_(new std::unique_ptr<char[]>[PacketStoreCapacity]()) {}

bool PacketStore::append(CapturedPacket& packet, std::string_view timeText) {
    const std::int32_t slot = storedCount_.load(std::memory_order_relaxed);
    if (slot >= PacketStoreCapacity) {
        return false;
    }
    // A time text that cannot be allocated leaves the packet stored without one.
    std::unique_ptr<char[]> text(new (std::nothrow) char[timeText.size() + 1]);
    if (text) {
        timeText.copy(text.get(), timeText.size());
        text[timeText.size()] = '\0';
    }
    packetData_[slot] = std::move(packet.block);
    packetLength_[slot] = packet.length;
    timeText_[slot] = std::move(text);
    packet.length = 0;
    storedCount_.store(slot + 1, std::memory_order_release);
    return true;
}

void PacketStore::countAllocation(std::uint32_t length) {
    allocatedBytes_.fetch_add(std::uint64_t{length} + PacketBlockSpareBytes);
}

const std::uint8_t* PacketStore::packet(std::int32_t slot) const {
    return isSlot(slot) ? packetData_[slot].get() : nullptr;
}

std::uint32_t PacketStore::length(std::int32_t slot) const {
    return isSlot(slot) ? packetLength_[slot] : 0;
}

std::string_view PacketStore::time(std::int32_t slot) const {
    if (!isSlot(slot) || !timeText_[slot]) {
        return {};
    }
    return timeText_[slot].get();
}

void PacketStore::release(std::int32_t slot) {
    if (!isSlot(slot)) {
        return;
    }
    packetData_[slot].reset();
    timeText_[slot].reset();
    packetLength_[slot] = 0;
}

void PacketStore::freeAllSlots(const std::function<void(std::int32_t slot)>& progress) {
    // Only slots below storedCount were ever filled, so the walk stops there instead of
    // touching (and paging in) the untouched rest of the arrays.
    const std::int32_t used = storedCount_.load(std::memory_order_acquire);
    for (std::int32_t slot = 0; slot < used; ++slot) {
        if (!packetData_[slot] && !timeText_[slot]) {
            continue;
        }
        release(slot);
        if (progress && slot % 100 == 0) {
            progress(slot);
        }
    }
    storedCount_.store(0, std::memory_order_release);
}

void PacketStore::markCleared() {
    lastClearTime_.store(processClockMs());
}

}  // namespace qhs
