// The live device over SDL's audio queue, through SDL's own silent and file-writing drivers.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "../audio_fixture.h"
#include "audio/live/sdl_output.h"
#include "audio/mixer.h"

using namespace audio_test;

namespace {

struct LiveOutput : AudioDirs {
    void TearDown() override
    {
        AudioDirs::TearDown();
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        unsetenv("SDL_DISKAUDIODELAY");
    }
    // Waits (at most limit_s of real time) until the log holds the text.
    static bool logged(const char *text, double limit_s)
    {
        for (int i = 0; i < (int)(limit_s * 100); i++) {
            if (log().find(text) != std::string::npos)
                return true;
            usleep(10000);
        }
        return false;
    }
};

} // namespace

TEST_F(LiveOutput, OpensThroughSdlAndLogsWhatItGot)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(sound_open_device(sdl_wave_output())) << log();
    EXPECT_EQ(sound_driver(), &g_software_mixer_driver);
    ASSERT_TRUE(logged("Audio thread begin\n", 10));
    sound_close();
    EXPECT_FALSE(sound_is_open());
    std::string text = log();
    const char *order[] = { "No system mixer here (dsnd)\n", "Opening waveOut audio...\n", "Found a ",
                            "Waveout rate: 22050\n", "Waveout channels: 2\n", "Waveout mixahead: 125\n",
                            "Audio opened!\n", "Closing audio\n", "Audio thread end\n" };
    size_t at = 0;
    for (const char *line : order) {
        size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << text;
        at = found;
    }
    // The thread starts as the device opens, so its first line may come either side of the last.
    size_t begun = text.find("Audio thread begin\n");
    EXPECT_TRUE(begun > text.find("Waveout mixahead") && begun < text.find("Closing audio")) << text;
    EXPECT_EQ(text.find("Audio thread: Timeout"), std::string::npos) << text;

    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(sound_open_device(sdl_wave_output()));
    EXPECT_NE(log().find("No audio device: "), std::string::npos) << "with SDL's reason" << log();
}

TEST_F(LiveOutput, FileDriverReceivesTheMix)
{
    std::string file = root + "/out.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    options("[sound-rate:8000]");
    ASSERT_TRUE(sound_open_device(sdl_wave_output())) << log();
    std::vector<uint8_t> loud(1000, 200);           // d = 72: 71 x 15 / 32 = 33 at level 15
    int v = sound_create_voice((int)loud.size(), loud.data(), 0);
    sound_set_loop(v, true);
    sound_play(v);
    // This driver takes sound far faster than it plays, so SDL fills the gaps between the
    // mixer's fragments with its own silence: the file holds the mix and silence, nothing else.
    for (int i = 0; i < 500 && read_file(file).size() < 64000; i++)
        usleep(10000);
    sound_close();
    std::string bytes = read_file(file);
    ASSERT_GE(bytes.size(), 64000u) << log();
    size_t mixed = 0, other = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint8_t l = (uint8_t)bytes[i], r = (uint8_t)bytes[i + 1];
        mixed += l == 128 + 33 && r == 128 + 33;
        other += l != r || (l != 128 && l != 128 + 33);
    }
    EXPECT_GE(mixed, 1000u) << "the voice, mixed into both channels, for more than one mix-ahead";
    EXPECT_EQ(other, 0u);
}
