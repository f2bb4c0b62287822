// The game recording its sound: one block of mixed sound for every simulated tic.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "game_exe.h"

TEST_F(GameExe, RecordAudioWritesOneBlockEverySimulatedTic)
{
    std::string file = root + "/game.raw";
    GameRun r = run({ "--lock-fps", "30", "--debug", "--record-audio", file }, { "SK_QUIT_AFTER_FRAMES=40" });
    ASSERT_EQ(r.status, 0) << r.err;
    long long frames = 0, tics = 0;
    size_t at = r.log.find("] Main loop: ");
    ASSERT_NE(at, std::string::npos) << r.log;
    ASSERT_EQ(sscanf(r.log.c_str() + at, "] Main loop: %lld frames, %lld tics", &frames, &tics), 2);
    EXPECT_GT(tics, 100) << "40 frames at 30 a second";
    EXPECT_EQ((long long)read_file(file).size(), tics * 1380) << "690 stereo samples at 88,320 Hz a tic";
    for (const char *line : { "] Opening readback audio...\n", "] Audio opened!\n", "] Closing audio\n" })
        EXPECT_NE(r.log.find(line), std::string::npos) << line;
    EXPECT_EQ(r.log.find("] Closing audio\n"), r.log.rfind("] Closing audio\n")) << "logged once";
    EXPECT_EQ(r.log.find("Opening waveOut"), std::string::npos) << "the recording replaces the device";
}
