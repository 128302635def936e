#include "app/SpeakerTune.h"

#include <string>

namespace qhs {

bool playSpeakerTune(SoundPlayer& player) {
    return player.playTones(SpeakerTune);
}

void playWaveOrTune(SoundPlayer& player, std::string_view path) {
    if (path.empty() || !player.playWaveFile(std::string(path))) {
        playSpeakerTune(player);
    }
}

}  // namespace qhs
