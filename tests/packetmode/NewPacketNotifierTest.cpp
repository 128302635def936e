#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "packetmode/NewPacketNotifier.h"

namespace qhs {
namespace {

// Stands in for the sound card: records what was played and answers as told.
class RecordingPlayer : public SoundPlayer {
  public:
    bool playWaveFile(const std::string& path) override {
        record("wave:" + path);
        return waveFilePlays;
    }
    bool playTones(std::span<const Tone> tones) override {
        record("tones:" + std::to_string(tones.size()));
        return true;
    }
    std::vector<std::string> sounds() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sounds_;
    }
    bool waveFilePlays = true;

  private:
    void record(std::string sound) {
        std::lock_guard<std::mutex> lock(mutex_);
        sounds_.push_back(std::move(sound));
    }
    std::mutex mutex_;
    std::vector<std::string> sounds_;
};

class NewPacketNotifierTest : public testing::Test {
  protected:
    NewPacketNotifierTest() {
        setTextField(settings.soundFilePath, "/sounds/new.wav");
        published.replace(settings);
    }

    SettingsRecord settings = defaultSettings();
    PublishedSettings published{settings};
    PacketSnifferState state;
    std::atomic<bool> soundBoxTicked{false};
    RecordingPlayer player;
    NewPacketNotifier notifier{state, published, soundBoxTicked, player};
};

TEST_F(NewPacketNotifierTest, OneSoundPerBurstOnlyWhenCapturingTickedAndSignalled) {
    for (int mask = 0; mask < 7; ++mask) {  // every combination but all three
        state.newPacketSignal = (mask & 1) != 0;
        state.capturing = (mask & 2) != 0;
        soundBoxTicked = (mask & 4) != 0;
        EXPECT_FALSE(notifier.notifyOnce()) << mask;
        EXPECT_EQ(state.newPacketSignal, (mask & 1) != 0) << mask;  // only a sound clears it
    }
    EXPECT_TRUE(player.sounds().empty());
    // Ticking the box after packets arrived unticked makes exactly one sound.
    state.capturing = true;
    state.newPacketSignal = true;
    soundBoxTicked = false;
    EXPECT_FALSE(notifier.notifyOnce());
    soundBoxTicked = true;
    EXPECT_TRUE(notifier.notifyOnce());
    EXPECT_FALSE(notifier.notifyOnce());
    EXPECT_EQ(player.sounds(), std::vector<std::string>{"wave:/sounds/new.wav"});
}

TEST_F(NewPacketNotifierTest, TuneStandsInForAnEmptyPathOrAWaveThatFails) {
    state.capturing = true;
    soundBoxTicked = true;
    setTextField(settings.soundFilePath, "");
    published.replace(settings);
    state.newPacketSignal = true;
    notifier.notifyOnce();
    setTextField(settings.soundFilePath, "/missing.wav");
    published.replace(settings);
    player.waveFilePlays = false;
    state.newPacketSignal = true;
    notifier.notifyOnce();
    EXPECT_EQ(player.sounds(),
              (std::vector<std::string>{"tones:7", "wave:/missing.wav", "tones:7"}));
}

}  // namespace
}  // namespace qhs
