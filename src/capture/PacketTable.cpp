#include "capture/PacketTable.h"

namespace qhs {

PacketTable::PacketTable(SlabMemory& memory, SlabMemory& packetMemory)
    : store_(memory, packetMemory), list_(memory) {}

std::int32_t PacketTable::append(const CapturedPacket& packet, std::string_view timeText,
                                 std::string_view contains, std::string_view lacks,
                                 std::int64_t arrivalNanoseconds) {
    std::lock_guard<std::mutex> guard(busy_);
    const std::int32_t slot = store_.storedCount();
    list_.insertRow(slot, slot, contains, lacks);
    store_.append(packet, timeText, arrivalNanoseconds);
    return slot;
}

void PacketTable::clear(const std::function<void(const PacketStore& store)>& whileGuarded,
                        const std::function<void(std::int32_t slot)>& progress) {
    std::lock_guard<std::mutex> guard(busy_);
    if (whileGuarded) {
        whileGuarded(store_);
    }
    list_.clear();
    store_.freeAllSlots(progress);
    store_.markCleared();
}

}  // namespace qhs
