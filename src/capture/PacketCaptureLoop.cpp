#include "capture/PacketCaptureLoop.h"

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

}  // namespace

void runPacketCapture(CaptureSource& source, PacketCaptureContext& context) {
    PacketSnifferState& state = context.state;
    if (context.store.storedCount() >= PacketStoreCapacity) {
        context.setStatus(endCapture(source, state, StatusItemLimit));
        return;
    }
    context.setStatus("Listening on: " + std::string(textField(context.settings.interfaceAddress)));

    TimeTextCache timeTexts;
    std::string status;
    // Each datagram is copied once, from the source straight into a block of its own.
    CapturedPacket packet;
    const DatagramAllocator allocateBlock = [&packet](std::size_t length) {
        packet = CapturedPacket::allocate(static_cast<std::uint32_t>(length));
        return packet.block.get();
    };
    for (;;) {
        if (state.quitting.load() || !state.capturing.load()) {
            status = StatusStopped;
            break;
        }
        packet = CapturedPacket{};
        const ReceiveResult received = source.receiveInto(allocateBlock);
        if (!received.ok) {
            status = endCapture(source, state, StatusStopped);
            break;
        }
        const std::uint32_t length = packet.length;
        if (!packet) {
            status = endCapture(source, state, StatusMemoryError);
            break;
        }
        const FilterVerdict verdict = context.filter.accept(packet.block.get(), length);
        if (!verdict.accepted) {
            continue;  // the block is freed here; a dropped datagram leaves no trace
        }
        if (context.store.storedCount() >= PacketStoreCapacity) {
            status = endCapture(source, state, StatusItemLimit);
            break;
        }
        context.store.countAllocation(length);
        state.newPacketSignal.store(true);
        const std::string_view timeText =
            timeTexts.text(textField(context.settings.dateTimeTemplate));

        // The row and its slot appear together, so no reader sees a row without its packet.
        std::lock_guard<std::mutex> guard(state.listBusy);
        const std::int32_t slot = context.store.storedCount();
        context.list.insertRow(slot, slot, verdict.containsColumn, verdict.lacksColumn);
        context.store.append(packet, timeText);
    }
    context.setStatus(status);
}

}  // namespace qhs
