#pragma once

#include "platform/PlatformLayer.h"

#include <atomic>
#include <string>

#include "app/SoundPlayer.h"

namespace qhs {

// Sound through ALSA: a wave file is read with libsndfile and played as it is (its own
// rate and channels); a tone is a sine of its frequency written as 16-bit mono samples.
// The device is opened for each sound and closed after it. ALSA's own error printing is
// silenced once for the process, so a machine without a sound card stays quiet.
class AlsaSoundPlayer final : public SoundPlayer {
  public:
    explicit AlsaSoundPlayer(std::string device = "default");

    bool playWaveFile(const std::string& path) override;
    bool playTones(std::span<const Tone> tones) override;
    void stop() override;
    void resume() override;

  private:
    std::string device_;
    std::atomic<bool> stopped_{false};
};

}  // namespace qhs
