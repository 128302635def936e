#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <string>
#include <vector>

#include "packetmode/SpeakerTune.h"
#include "packetmode/TestStore.h"
#include "platform/AlsaSoundPlayer.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

// Writes a short mono 16-bit wave file with libsndfile.
bool writeWave(const std::string& path, int frames) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return false;
    }
    std::vector<short> samples(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        samples[static_cast<std::size_t>(i)] = static_cast<short>(8000 * std::sin(i * 0.3));
    }
    const bool written = sf_writef_short(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

class AlsaSoundPlayerTest : public testing::Test {
  protected:
    std::string file(const std::string& name) const { return (dir.path() / name).string(); }

    TempDir dir;
    AlsaSoundPlayer player;
};

TEST_F(AlsaSoundPlayerTest, FilesThatAreNoSoundFailQuietly) {
    test::writeFile(file("notes.wav"), "this is text, not a wave file");
    test::writeFile(file("empty.wav"), "");
    ASSERT_TRUE(writeWave(file("whole.wav"), 800));
    const std::string whole = test::readFile(file("whole.wav"));
    test::writeFile(file("cut.wav"), std::string_view(whole).substr(0, 30));  // header cut short

    testing::internal::CaptureStderr();
    for (const std::string& path : {file("missing.wav"), file("notes.wav"), file("empty.wav"),
                                    file("cut.wav"), dir.path().string(), std::string()}) {
        EXPECT_FALSE(player.playWaveFile(path)) << path;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(AlsaSoundPlayerTest, GoodFileAndTunePlayOrFailWithoutAWord) {
    // Whether they play depends on the machine's sound card; either way nothing is printed
    // and the calls return.
    ASSERT_TRUE(writeWave(file("short.wav"), 400));
    testing::internal::CaptureStderr();
    player.playWaveFile(file("short.wav"));
    playSpeakerTune(player);
    AlsaSoundPlayer noSuchDevice("qhs-no-such-device");
    EXPECT_FALSE(noSuchDevice.playTones(SpeakerTune));
    EXPECT_FALSE(noSuchDevice.playWaveFile(file("short.wav")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace qhs
