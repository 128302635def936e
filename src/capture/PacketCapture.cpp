#include "capture/PacketCapture.h"

namespace qhs {

PacketCapture::PacketCapture(PacketCaptureContext context, CaptureSourceFactory makeSource,
                             std::function<void()> onCaptureThread)
    : context_(std::move(context)),
      makeSource_(makeSource),
      onCaptureThread_(std::move(onCaptureThread)) {}

PacketCapture::~PacketCapture() {
    stop();
}

void PacketCapture::joinFinishedThread() {
    thread_.join();
    if (source_) {
        droppedByEndedSources_ += source_->droppedCount();
    }
    source_.reset();
}

void PacketCapture::joinIfEnded() {
    if (thread_.started() && !context_.state.capturing.load()) {
        joinFinishedThread();
    }
}

std::uint64_t PacketCapture::droppedCount() const {
    return droppedByEndedSources_ + (source_ ? source_->droppedCount() : 0);
}

PacketCaptureStart PacketCapture::start() {
    if (context_.state.capturing.load()) {
        return {};
    }
    // A capture that ended by itself (store full, receive error) has left its thread to join.
    joinFinishedThread();
    source_ = makeSource_();
    PacketCaptureStart started = openPacketCapture(
        *source_, std::string(textField(context_.settings.latest()->interfaceAddress)),
        context_.state.capturing);
    if (!started.startThread) {
        source_.reset();
        return started;
    }
    thread_.start([this, source = source_.get()] {
        if (onCaptureThread_) {
            onCaptureThread_();
        }
        runPacketCapture(*source, context_);
    });
    return started;
}

void PacketCapture::stop() {
    // Closing wakes a blocked receive; every way out of the loop clears `capturing`, so the
    // join below returns once the thread has ended.
    if (source_) {
        source_->close();
    }
    joinFinishedThread();
}

void clearPackets(PacketTable& table, const ClearHooks& hooks) {
    if (hooks.stopSearch) {
        hooks.stopSearch();
    }
    table.resetAllocation();
    if (hooks.beforeFree) {
        hooks.beforeFree(table.storedCount());
    }
    table.clear(hooks.whileGuarded, hooks.progress);
    if (hooks.afterFree) {
        hooks.afterFree();
    }
}

}  // namespace qhs
