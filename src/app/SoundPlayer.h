#pragma once

#include <span>
#include <string>

namespace qhs {

// One tone of a tune: silence for `pauseMs`, then a tone of `frequencyHz` for `durationMs`.
struct Tone {
    unsigned pauseMs = 0;
    unsigned frequencyHz = 0;
    unsigned durationMs = 0;
};

// The sound output of the new-packet notification and the settings dialog's Test button.
// Both calls play to the end before they return. A missing device, a busy device or a file
// that cannot be read makes them return false without saying anything.
class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;

    virtual bool playWaveFile(const std::string& path) = 0;
    virtual bool playTones(std::span<const Tone> tones) = 0;
    // For an owner that is shutting down or about to play something else: ends the sound
    // playing now (on any thread) and makes every later call return false at once, until
    // resume(). A player that cannot cut a sound short plays it to the end.
    virtual void stop() {}
    // Undoes stop(): later calls play again.
    virtual void resume() {}
};

// A player without a sound device: every sound fails at once.
class SilentPlayer final : public SoundPlayer {
  public:
    bool playWaveFile(const std::string&) override { return false; }
    bool playTones(std::span<const Tone>) override { return false; }
};

}  // namespace qhs
