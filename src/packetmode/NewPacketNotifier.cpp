#include "packetmode/NewPacketNotifier.h"

#include <chrono>
#include <string>

#include "app/SpeakerTune.h"

namespace qhs {

namespace {

constexpr auto CyclePeriod = std::chrono::milliseconds(25);

}  // namespace

NewPacketNotifier::NewPacketNotifier(PacketSnifferState& state, const PublishedSettings& settings,
                                     const std::atomic<bool>& soundBoxTicked, SoundPlayer& player)
    : state_(state), settings_(settings), soundBoxTicked_(soundBoxTicked), player_(player) {}

NewPacketNotifier::~NewPacketNotifier() {
    stop();
}

void NewPacketNotifier::start() {
    if (!thread_.started()) {
        thread_.start([this](std::stop_token stop) { run(stop); });
    }
}

void NewPacketNotifier::stop() {
    thread_.stop();
}

bool NewPacketNotifier::notifyOnce() {
    if (!state_.newPacketSignal || !state_.capturing || !soundBoxTicked_) {
        return false;
    }
    state_.newPacketSignal = false;
    // A copy: the settings dialog may change the path while the sound plays.
    const std::string path(textField(settings_.latest()->soundFilePath));
    playWaveOrTune(player_, path);
    return true;
}

void NewPacketNotifier::run(std::stop_token stop) {
    while (!state_.quitting && !stop.stop_requested()) {
        notifyOnce();
        WorkerThread::pause(stop, CyclePeriod);
    }
}

}  // namespace qhs
