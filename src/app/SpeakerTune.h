#pragma once

#include <array>
#include <string_view>

#include "app/SoundPlayer.h"

namespace qhs {

// The tune that stands in for a wave file: seven tones, each after a 10 ms pause, about
// 0.43 s in all.
inline constexpr std::array<Tone, 7> SpeakerTune{{
    {10, 700, 40},
    {10, 800, 60},
    {10, 600, 30},
    {10, 1000, 50},
    {10, 400, 70},
    {10, 900, 70},
    {10, 600, 40},
}};

bool playSpeakerTune(SoundPlayer& player);

// Plays the wave file at `path`, or the tune when the path is empty or the file cannot be
// played. Returns when the sound has ended.
void playWaveOrTune(SoundPlayer& player, std::string_view path);

}  // namespace qhs
