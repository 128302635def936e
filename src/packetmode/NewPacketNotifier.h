#pragma once

#include <atomic>

#include "app/PublishedSettings.h"
#include "app/SettingsRecord.h"
#include "app/SoundPlayer.h"
#include "app/WorkerThread.h"
#include "capture/PacketSnifferState.h"

namespace qhs {

// The sound for new packets: every 25 ms, when packets arrived since the last sound, a
// capture is running and "Make sound for new packets" is ticked, plays the settings' wave
// file (or the tune). A burst of packets makes one sound; the new-packet signal is cleared
// only by a sound, so ticking the box after packets arrived makes one sound at once.
class NewPacketNotifier {
  public:
    // `soundBoxTicked` mirrors the window's check box and is read at every cycle.
    NewPacketNotifier(PacketSnifferState& state, const PublishedSettings& settings,
                      const std::atomic<bool>& soundBoxTicked, SoundPlayer& player);
    ~NewPacketNotifier();
    NewPacketNotifier(const NewPacketNotifier&) = delete;
    NewPacketNotifier& operator=(const NewPacketNotifier&) = delete;

    // Starts the notification thread; it runs until `quitting` is set or stop() is called.
    void start();
    // Ends the thread, after the sound playing at the time.
    void stop();

    // One cycle; returns whether it made a sound.
    bool notifyOnce();

  private:
    void run(std::stop_token stop);

    PacketSnifferState& state_;
    const PublishedSettings& settings_;
    const std::atomic<bool>& soundBoxTicked_;
    SoundPlayer& player_;
    WorkerThread thread_;
};

}  // namespace qhs
