#include "platform/AlsaSoundPlayer.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <numbers>
#include <vector>

namespace qhs {

namespace {

constexpr unsigned ToneSampleRate = 44100;
constexpr double ToneAmplitude = 0.3 * 32767;
// A short fade at both ends of a tone keeps it from clicking.
constexpr unsigned ToneFadeFrames = ToneSampleRate / 500;
constexpr std::size_t ChunkFrames = 4096;
constexpr unsigned LatencyMicroseconds = 100000;
// Header values beyond these are a damaged file, not a sound to try.
constexpr int MaxChannels = 16;
constexpr int MaxSampleRate = 768000;
constexpr int MaxRecoveries = 8;

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(ignoreAlsaError); });
}

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFileHandle = std::unique_ptr<SNDFILE, SoundFileCloser>;

PcmHandle openPlayback(const std::string& device, unsigned channels, unsigned rate) {
    snd_pcm_t* raw = nullptr;
    // Opened without blocking, so a device held by another program fails at once instead
    // of waiting; writing then blocks as usual.
    if (snd_pcm_open(&raw, device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        return {};
    }
    PcmHandle pcm(raw);
    if (snd_pcm_nonblock(raw, 0) < 0 ||
        snd_pcm_set_params(raw, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate,
                           1, LatencyMicroseconds) < 0) {
        return {};
    }
    return pcm;
}

bool writeFrames(snd_pcm_t* pcm, const std::int16_t* samples, std::size_t frames, unsigned channels,
                 const std::atomic<bool>& stopped) {
    int recoveries = 0;
    while (frames > 0) {
        // Checked between writes, each of which waits at most for one buffer to play.
        if (stopped.load()) {
            return false;
        }
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm, samples, frames);
        if (written < 0) {
            // An underrun or a suspend can be recovered from; anything else ends the sound.
            if (++recoveries > MaxRecoveries ||
                snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0) {
                return false;
            }
            continue;
        }
        samples += static_cast<std::size_t>(written) * channels;
        frames -= static_cast<std::size_t>(written);
    }
    return true;
}

// Fills `samples` with frames [first, first + samples.size()) of one tone.
void synthesizeTone(const Tone& tone, std::size_t first, std::size_t totalFrames,
                    std::vector<std::int16_t>& samples) {
    const bool audible = tone.frequencyHz > 0 && tone.frequencyHz < ToneSampleRate / 2;
    const double step = 2 * std::numbers::pi * tone.frequencyHz / ToneSampleRate;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (!audible) {
            samples[i] = 0;
            continue;
        }
        const std::size_t frame = first + i;
        const std::size_t edge = std::min(frame, totalFrames - 1 - frame);
        const double fade = edge < ToneFadeFrames ? double(edge) / ToneFadeFrames : 1.0;
        samples[i] = static_cast<std::int16_t>(ToneAmplitude * fade * std::sin(step * frame));
    }
}

std::size_t framesOf(unsigned milliseconds) {
    return std::size_t{milliseconds} * ToneSampleRate / 1000;
}

}  // namespace

AlsaSoundPlayer::AlsaSoundPlayer(std::string device) : device_(std::move(device)) {
    silenceAlsaErrors();
}

void AlsaSoundPlayer::stop() {
    stopped_.store(true);
}

void AlsaSoundPlayer::resume() {
    stopped_.store(false);
}

bool AlsaSoundPlayer::playWaveFile(const std::string& path) {
    // Only a regular file: opening a pipe or a device node could block for good.
    std::error_code error;
    if (stopped_.load() || !std::filesystem::is_regular_file(path, error)) {
        return false;
    }
    SF_INFO info{};
    const SoundFileHandle file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file || info.channels < 1 || info.channels > MaxChannels || info.samplerate < 1 ||
        info.samplerate > MaxSampleRate) {
        return false;
    }
    const auto channels = static_cast<unsigned>(info.channels);
    const PcmHandle pcm = openPlayback(device_, channels, static_cast<unsigned>(info.samplerate));
    if (!pcm) {
        return false;
    }
    // Streamed in chunks, so a long file needs no more memory than a short one.
    std::vector<std::int16_t> samples(ChunkFrames * channels);
    for (;;) {
        const sf_count_t frames =
            sf_readf_short(file.get(), samples.data(), static_cast<sf_count_t>(ChunkFrames));
        if (frames <= 0) {
            break;
        }
        if (!writeFrames(pcm.get(), samples.data(), static_cast<std::size_t>(frames), channels,
                         stopped_)) {
            return false;
        }
    }
    snd_pcm_drain(pcm.get());
    return true;
}

bool AlsaSoundPlayer::playTones(std::span<const Tone> tones) {
    if (stopped_.load()) {
        return false;
    }
    const PcmHandle pcm = openPlayback(device_, 1, ToneSampleRate);
    if (!pcm) {
        return false;
    }
    std::vector<std::int16_t> samples;
    for (const Tone& tone : tones) {
        const Tone pause{0, 0, tone.pauseMs};
        for (const Tone& part : {pause, tone}) {
            const std::size_t total = framesOf(part.durationMs);
            for (std::size_t first = 0; first < total; first += ChunkFrames) {
                samples.resize(std::min(ChunkFrames, total - first));
                synthesizeTone(part, first, total, samples);
                if (!writeFrames(pcm.get(), samples.data(), samples.size(), 1, stopped_)) {
                    return false;
                }
            }
        }
    }
    snd_pcm_drain(pcm.get());
    return true;
}

}  // namespace qhs
