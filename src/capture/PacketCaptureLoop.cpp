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

    auto buffer = std::make_unique<std::uint8_t[]>(CaptureBufferSize);
    TimeTextCache timeTexts;
    std::string status;
    for (;;) {
        if (state.quitting.load() || !state.capturing.load()) {
            status = StatusStopped;
            break;
        }
        const ReceiveResult received = source.receive(buffer.get(), CaptureBufferSize);
        if (!received.ok) {
            status = endCapture(source, state, StatusStopped);
            break;
        }
        const auto length = static_cast<std::uint32_t>(received.length);
        CapturedPacket packet = CapturedPacket::copyOf(buffer.get(), length);
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
