#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "packetmode/NewPacketNotifier.h"
#include "packetmode/SpeakerTune.h"

namespace qhs {
namespace {

using namespace std::chrono_literals;

// Stands in for the sound card: records what was played and answers as told.
class RecordingPlayer : public SoundPlayer {
  public:
    bool waveFilePlays = true;

    bool playWaveFile(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sounds_.push_back("wave:" + path);
        return waveFilePlays;
    }
    bool playTones(std::span<const Tone> tones) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sounds_.push_back("tones:" + std::to_string(tones.size()));
        return true;
    }
    std::vector<std::string> sounds() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sounds_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> sounds_;
};

class NewPacketNotifierTest : public testing::Test {
  protected:
    NewPacketNotifierTest() {
        state.capturing = true;
        setTextField(settings.soundFilePath, "/sounds/new.wav");
    }

    SettingsRecord settings = defaultSettings();
    PacketSnifferState state;
    std::atomic<bool> soundBoxTicked{true};
    RecordingPlayer player;
    NewPacketNotifier notifier{state, settings, soundBoxTicked, player};
};

TEST_F(NewPacketNotifierTest, SoundsOnlyWhenCapturingTickedAndSignalled) {
    for (int mask = 0; mask < 7; ++mask) {  // every combination but all three
        state.newPacketSignal = (mask & 1) != 0;
        state.capturing = (mask & 2) != 0;
        soundBoxTicked = (mask & 4) != 0;
        EXPECT_FALSE(notifier.notifyOnce()) << mask;
        // The signal is cleared only by a sound.
        EXPECT_EQ(state.newPacketSignal, (mask & 1) != 0) << mask;
    }
    EXPECT_TRUE(player.sounds().empty());
}

TEST_F(NewPacketNotifierTest, BurstMakesOneSoundAndTheSignalIsTaken) {
    state.newPacketSignal = true;
    EXPECT_TRUE(notifier.notifyOnce());
    EXPECT_FALSE(state.newPacketSignal);
    EXPECT_FALSE(notifier.notifyOnce());
    EXPECT_EQ(player.sounds(), std::vector<std::string>{"wave:/sounds/new.wav"});
}

TEST_F(NewPacketNotifierTest, TickingTheBoxLaterMakesExactlyOneSound) {
    soundBoxTicked = false;
    for (int packet = 0; packet < 5; ++packet) {
        state.newPacketSignal = true;
        notifier.notifyOnce();
    }
    EXPECT_TRUE(player.sounds().empty());
    soundBoxTicked = true;
    notifier.notifyOnce();
    notifier.notifyOnce();
    EXPECT_EQ(player.sounds().size(), 1u);
}

TEST_F(NewPacketNotifierTest, TuneStandsInForAnEmptyPathOrAWaveThatFails) {
    setTextField(settings.soundFilePath, "");
    state.newPacketSignal = true;
    notifier.notifyOnce();
    EXPECT_EQ(player.sounds(), std::vector<std::string>{"tones:7"});

    setTextField(settings.soundFilePath, "/missing.wav");
    player.waveFilePlays = false;
    state.newPacketSignal = true;
    notifier.notifyOnce();
    EXPECT_EQ(player.sounds(),
              (std::vector<std::string>{"tones:7", "wave:/missing.wav", "tones:7"}));
}

TEST_F(NewPacketNotifierTest, ThreadPlaysForArrivalsUntilStopped) {
    notifier.start();
    state.newPacketSignal = true;
    for (int i = 0; i < 400 && player.sounds().empty(); ++i) {
        std::this_thread::sleep_for(5ms);
    }
    notifier.stop();
    EXPECT_EQ(player.sounds().size(), 1u);
    EXPECT_FALSE(state.newPacketSignal);
}

}  // namespace
}  // namespace qhs
