#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/SpeakerTune.h"
#include "packetmode/TestStore.h"
#include "platform/AlsaSoundPlayer.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

// Without a sound card (or without the named device) every sound fails, and nothing may be
// printed; with one, the good file and the tune play. Bad files fail on any machine.
TEST(AlsaSoundPlayer, BadFilesAndMissingDevicesFailQuietly) {
    TempDir dir;
    const auto file = [&](const char* name) { return (dir.path() / name).string(); };
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* wave = sf_open(file("good.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(wave, nullptr);
    std::vector<short> samples(400, 1000);
    sf_writef_short(wave, samples.data(), 400);
    sf_close(wave);
    test::writeFile(file("cut.wav"), test::readFile(file("good.wav")).substr(0, 30));
    test::writeFile(file("notes.wav"), "text, not a wave file");

    testing::internal::CaptureStderr();
    AlsaSoundPlayer player;
    for (const std::string& path : {file("missing.wav"), file("notes.wav"), file("cut.wav"),
                                    dir.path().string(), std::string()}) {
        EXPECT_FALSE(player.playWaveFile(path)) << path;
    }
    player.playWaveFile(file("good.wav"));
    playSpeakerTune(player);
    AlsaSoundPlayer noSuchDevice("qhs-no-such-device");
    EXPECT_FALSE(noSuchDevice.playTones(SpeakerTune));
    EXPECT_FALSE(noSuchDevice.playWaveFile(file("good.wav")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A pipe would block the reader until someone writes to it; a stopped player plays nothing
// more. Both return at once.
TEST(AlsaSoundPlayer, PipesAndStoppedPlayersReturnAtOnce) {
    TempDir dir;
    const std::string pipe = (dir.path() / "sound.wav").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    AlsaSoundPlayer player;
    EXPECT_FALSE(player.playWaveFile(pipe));
    player.stop();
    EXPECT_FALSE(player.playTones(SpeakerTune));
}

}  // namespace
}  // namespace qhs
