#include "capture/PacketCaptureLoop.h"

#include <chrono>
#include <cstring>
#include <memory>

#include "analysis/PacketFilter.h"
#include "capture/TimeTextCache.h"

namespace qhs {

namespace {

std::string endCapture(CaptureSource& source, PacketSnifferState& state, const char* status) {
    source.close();
    state.capturing.store(false);
    return status;
}

// For a source without the kernel's receive stamp: the arrival is the delivery.
std::int64_t systemClockNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void runPacketCapture(CaptureSource& source, PacketCaptureContext& context) {
    PacketSnifferState& state = context.state;
    if (context.store.storedCount() >= PacketStoreCapacity) {
        context.setStatus(endCapture(source, state, StatusItemLimit));
        return;
    }
    // Read whole, as published: the general settings may change while capture runs.
    SettingsView settings(context.settings);
    context.setStatus("Listening on: " + std::string(textField(settings.get().interfaceAddress)));

    TimeTextCache timeTexts;
    std::string status;
    // Each datagram is copied once, from the source straight into a block carved from the
    // store's arena; the time text is kept there once per millisecond and shared.
    PacketArena& arena = context.store.arena();
    arena.prepareAhead();
    std::uint8_t* block = nullptr;
    std::size_t blockBytes = 0;
    const DatagramAllocator allocateBlock = [&](std::size_t length) {
        blockBytes = length + PacketBlockSpareBytes;
        block = arena.allocate(blockBytes);
        if (block != nullptr) {
            std::memset(block + length, 0, PacketBlockSpareBytes);
        }
        return block;
    };
    const char* storedTime = nullptr;
    std::uint64_t storedTimeVersion = 0;
    std::uint64_t storedTimeClears = 0;
    for (;;) {
        if (state.quitting.load() || !state.capturing.load()) {
            status = endCapture(source, state, StatusStopped);
            break;
        }
        block = nullptr;
        const ReceiveResult received = source.receiveInto(allocateBlock);
        if (!received.ok) {
            status = endCapture(source, state, StatusStopped);
            break;
        }
        if (block == nullptr) {
            status = endCapture(source, state, StatusMemoryError);
            break;
        }
        const auto length = static_cast<std::uint32_t>(received.length);
        const FilterVerdict verdict = context.filter.accept(block, length);
        if (!verdict.accepted) {
            arena.giveBack(block, blockBytes);  // a dropped datagram leaves no trace
            continue;
        }
        if (context.store.storedCount() >= PacketStoreCapacity) {
            status = endCapture(source, state, StatusItemLimit);
            break;
        }
        context.store.countAllocation(length);
        state.newPacketSignal.store(true);
        const std::int64_t arrival = received.arrivalNanoseconds != 0 ? received.arrivalNanoseconds
                                                                      : systemClockNanoseconds();
        const std::string_view timeText =
            timeTexts.text(textField(settings.get().dateTimeTemplate), arrival);

        // The row and its slot appear together, so no reader sees a row without its packet.
        std::lock_guard<std::mutex> guard(state.listBusy);
        // A clear gives the arena back, the shared time text with it: keep it anew then.
        if (storedTime == nullptr || storedTimeVersion != timeTexts.version() ||
            storedTimeClears != context.store.clearCount()) {
            storedTime = arena.copyText(timeText);
            storedTimeVersion = timeTexts.version();
            storedTimeClears = context.store.clearCount();
        }
        const std::int32_t slot = context.store.storedCount();
        // Rows never outnumber stored slots, so below the store's limit there is room.
        context.list.insertRow(slot, slot, verdict.containsColumn, verdict.lacksColumn);
        context.store.appendFromArena(block, length, storedTime, arrival);
    }
    context.setStatus(status);
}

}  // namespace qhs
