#include "capture/PacketCaptureLoop.h"

#include <chrono>
#include <cstring>

#include "capture/PacketIntake.h"

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
    if (context.table.storedCount() >= PacketStoreCapacity) {
        context.setStatus(endCapture(source, state, StatusItemLimit));
        return;
    }
    // The settings are read whole, as published: they may change while capture runs.
    PacketIntake intake(context);
    context.setStatus("Listening on: " +
                      std::string(textField(intake.settings().interfaceAddress)));
    // The datagram is copied once, from where the source holds it into its store block.
    const DatagramVisitor copyIntoStore = [&intake](const std::uint8_t* datagram,
                                                    std::size_t length) {
        std::uint8_t* const block = intake.allocate(length);
        if (block != nullptr && length > 0) {
            std::memcpy(block, datagram, length);
        }
    };
    std::string status;
    for (;;) {
        if (state.quitting.load() || !state.capturing.load()) {
            status = endCapture(source, state, StatusStopped);
            break;
        }
        const ReceiveResult received = source.receive(copyIntoStore);
        if (!received.ok && received.errorCode != 0 && context.lost) {
            context.lost(received.errorCode);
        }
        if (!received.ok) {
            status = endCapture(source, state, StatusStopped);
            break;
        }
        const std::int64_t arrival = received.arrivalNanoseconds != 0 ? received.arrivalNanoseconds
                                                                      : systemClockNanoseconds();
        const PacketIntake::Outcome outcome = intake.take(received.length, arrival);
        if (outcome == PacketIntake::Outcome::NoMemory) {
            status = endCapture(source, state, StatusMemoryError);
            break;
        }
        if (outcome == PacketIntake::Outcome::StoreFull) {
            status = endCapture(source, state, StatusItemLimit);
            break;
        }
        if (outcome == PacketIntake::Outcome::Stored || outcome == PacketIntake::Outcome::Passed) {
            state.newPacketSignal.store(true);
        }
    }
    context.setStatus(status);
}

}  // namespace qhs
