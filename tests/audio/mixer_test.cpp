// The mixer heard through the readback device, and the software mixer's thread over a wave
// output that the test plays by hand.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "audio/mixer.h"
#include "audio_fixture.h"
#include "common/mem.h"

using namespace audio_test;

namespace {

const int k_rate = 8000;        // readback rate of these tests: voices made here play one byte a sample
const int k_block = 20;

struct Readback : AudioDirs {
    void SetUp() override
    {
        AudioDirs::SetUp();
    }
    void open(int block = k_block)
    {
        ASSERT_TRUE(sound_open_readback(k_rate, block));
    }
    // One block: left and right sample values.
    std::vector<int> left, right;
    void read()
    {
        int bytes = 0;
        const uint8_t *b = sound_read_block(&bytes);
        ASSERT_NE(b, nullptr);
        left.clear();
        right.clear();
        for (int i = 0; i < bytes; i += 2) {
            left.push_back(b[i]);
            right.push_back(b[i + 1]);
        }
    }
    static int voice(const std::vector<uint8_t> &bytes, bool loop = true)
    {
        int v = sound_create_voice((int)bytes.size(), bytes.data(), 0);
        EXPECT_GE(v, 0);
        sound_set_loop(v, loop);
        return v;
    }
    static std::vector<uint8_t> constant(int length, int value) { return std::vector<uint8_t>(length, (uint8_t)value); }
    static std::vector<uint8_t> ramp(int length, int from)
    {
        std::vector<uint8_t> b(length);
        for (int i = 0; i < length; i++)
            b[i] = (uint8_t)(from + i % 100);
        return b;
    }
};

// The smallest volume that gives this level on the left at full left pan.
int volume_for_left_level(int level)
{
    return (int)(((long long)level << 26) + 65534) / 65535;
}

} // namespace

TEST_F(Readback, LevelTableAndOutputClipping)
{
    open();
    struct Case {
        int level, sample, added;       // worked from d = sample - 128
    } cases[] = {
        { 31, 255, 122 },               // (127 - 1) * 31 / 32 = 122.06
        { 31, 0, -123 },                // -(128 - 1) * 31 / 32 = -123.03
        { 31, 130, 0 },                 // (2 - 1) * 31 / 32 < 1
        { 31, 162, 31 },                // 33 * 31 / 32 = 31.97
        { 31, 129, 0 },
        { 31, 127, 0 },
        { 1, 161, 1 },                  // 32 / 32
        { 1, 160, 0 },
        { 1, 95, -1 },
        { 15, 228, 46 },                // 99 * 15 / 32 = 46.4
        { 15, 28, -46 },
        { 7, 200, 15 },                 // 71 * 7 / 32 = 15.5
    };
    for (const Case &c : cases) {
        int v = voice(constant(50, c.sample));
        sound_set_pan(v, -32768);
        sound_set_volume(v, volume_for_left_level(c.level));
        sound_play(v);
        read();
        EXPECT_EQ(left[0], 128 + c.added) << "level " << c.level << " sample " << c.sample;
        EXPECT_EQ(left[k_block - 1], 128 + c.added);
        EXPECT_EQ(right[0], 128) << "full left pan leaves the right silent";
        sound_free_voice(v);
    }

    // Sums beyond the byte: above 126 is 255, below -127 is 0.
    int a = voice(constant(50, 255)), b = voice(constant(50, 255)), c = voice(constant(50, 0)), d = voice(constant(50, 0));
    for (int v : { a, b })
        sound_set_pan(v, -32768), sound_play(v);
    for (int v : { c, d })
        sound_set_pan(v, 32767), sound_play(v);
    read();
    EXPECT_EQ(left[0], 255);
    EXPECT_EQ(right[0], 0);
}

TEST_F(Readback, VolumeAndPanSetTheLevelsOfBothSides)
{
    open();
    struct Case {
        int volume, pan, left, right;
    } cases[] = {
        { 32767, 0, 15, 15 },           // 32767 * 32767 >> 26 and 32767 * 32768 >> 26
        { 32767, -32768, 31, 0 },
        { 32767, 32767, 0, 31 },
        { 16384, 0, 7, 8 },             // 32767 * 16384 >> 26 = 7.99; 16384 * 32768 >> 26 = 8
        { 0, 0, 0, 0 },
        { 99999, 0, 15, 15 },           // volume clamped to 32,767
        { 32767, 99999, 0, 31 },        // pan clamped to 32,767
    };
    for (const Case &c : cases) {
        int v = voice(constant(10, 255));   // d = 127: (126 * L) / 32 per side
        sound_set_volume(v, c.volume);
        sound_set_pan(v, c.pan);
        sound_play(v);
        read();
        EXPECT_EQ(left[0], 128 + 126 * c.left / 32) << c.volume << " " << c.pan;
        EXPECT_EQ(right[0], 128 + 126 * c.right / 32) << c.volume << " " << c.pan;
        sound_free_voice(v);
    }
}

TEST_F(Readback, ChannelLimitKeepsTheUnheardVoiceInItsPlace)
{
    options("[sound-channels:2]");
    open();
    int a = voice(constant(1000, 148));     // d = 20 at level 15: 19 * 15 / 32 = 8
    int b = voice(constant(1000, 188));     // d = 60: 59 * 15 / 32 = 27
    std::vector<uint8_t> c_bytes = ramp(1000, 140);
    int c = voice(c_bytes);
    for (int v : { a, b, c })
        sound_play(v);
    read();
    for (int i = 0; i < k_block; i++) {
        EXPECT_EQ(left[i], 128 + 8 + 27) << i;
        EXPECT_EQ(right[i], 128 + 8 + 27) << i;
    }
    sound_stop(a);
    read();
    for (int i = 0; i < k_block; i++) {
        int heard = mixer_level_contribution(15, c_bytes[k_block + i]);
        EXPECT_EQ(left[i], 128 + 27 + heard) << "the third voice went on silently: sample " << i;
        EXPECT_EQ(right[i], 128 + 27 + heard);
    }
}

TEST_F(Readback, SilentVoiceAdvancesAndIsHeardWhereItHasGot)
{
    open();
    std::vector<uint8_t> bytes = ramp(500, 140);
    int v = voice(bytes);
    sound_set_volume(v, 0);
    sound_play(v);
    for (int k = 0; k < 3; k++) {
        read();
        EXPECT_EQ(left[0], 128);
    }
    EXPECT_EQ(sound_play_position(v), 3 * k_block);
    sound_set_volume(v, 32767);
    read();
    for (int i = 0; i < k_block; i++)
        EXPECT_EQ(left[i], 128 + mixer_level_contribution(15, bytes[3 * k_block + i])) << i;
}

TEST_F(Readback, VolumeChangeWaitsForTheZeroCrossing)
{
    open();
    // A square wave: 25 samples at d = 64, 25 at d = -64.
    std::vector<uint8_t> square(50);
    for (int i = 0; i < 50; i++)
        square[i] = i < 25 ? 192 : 64;
    int v = voice(square);
    sound_play(v);
    read();                                     // samples 0..19 at level 15
    sound_set_volume(v, 16384);                 // level 7 on the left
    read();                                     // samples 20..39
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(left[i], 128 + 63 * 15 / 32) << "the half wave ends at the old level: " << i;
    for (int i = 5; i < k_block; i++)
        EXPECT_EQ(left[i], 128 - 63 * 7 / 32) << "from the crossing on the new level: " << i;

    // A signal that never crosses takes its new level one fragment later.
    int flat = voice(constant(100, 200));
    sound_free_voice(v);
    sound_play(flat);
    read();
    sound_set_volume(flat, 16384);
    read();
    EXPECT_EQ(left[k_block - 1], 128 + 71 * 15 / 32);
    read();
    EXPECT_EQ(left[0], 128 + 71 * 7 / 32);
}

TEST_F(Readback, LoopingEndingAndRestarting)
{
    open();
    std::vector<uint8_t> bytes = ramp(30, 140);
    int once = voice(bytes, false);
    sound_play(once);
    read();
    read();
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(left[i], 128 + mixer_level_contribution(15, bytes[20 + i]));
    for (int i = 10; i < k_block; i++)
        EXPECT_EQ(left[i], 128) << "ended at the end of its buffer";
    EXPECT_EQ(sound_play_position(once), 0);

    int looped = voice(bytes, true);
    sound_play(looped);
    read();
    read();
    for (int i = 0; i < k_block; i++)
        EXPECT_EQ(left[i], 128 + mixer_level_contribution(15, bytes[(20 + i) % 30])) << i;
    EXPECT_EQ(sound_play_position(looped), 10);
    sound_stop(looped);
    EXPECT_EQ(sound_play_position(looped), 0) << "a stopped voice is at 0";
    sound_free_voice(looped);

    // Restarted in the middle of a half wave: that half wave ends, then the buffer starts again.
    std::vector<uint8_t> wave(60);
    for (int i = 0; i < 60; i++)
        wave[i] = (uint8_t)(i < 30 ? 170 + i : 80 - (i - 30));
    int v = voice(wave);
    sound_play(v);
    read();                                     // 0..19
    sound_play(v);
    read();
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(left[i], 128 + mixer_level_contribution(15, wave[20 + i])) << i;
    for (int i = 10; i < k_block; i++)
        EXPECT_EQ(left[i], 128 + mixer_level_contribution(15, wave[i - 10])) << "from the start again: " << i;
}

TEST_F(Readback, WriteVoiceWrapsAndKeepsTheLastBufferOfTooMuch)
{
    open();
    int v = voice(ramp(10, 140));
    auto played = [&](void) {
        sound_play(v);
        read();
        std::vector<int> got;
        for (int i = 0; i < 10; i++)
            got.push_back(left[i]);
        sound_stop(v);
        read();
        return got;
    };
    auto heard = [](std::vector<int> bytes) {
        for (int &b : bytes)
            b = 128 + mixer_level_contribution(15, b);
        return bytes;
    };
    const uint8_t four[4] = { 200, 201, 202, 203 };
    sound_write_voice(v, 4, four, 8);
    EXPECT_EQ(played(), heard({ 202, 203, 142, 143, 144, 145, 146, 147, 200, 201 }));

    uint8_t many[25];
    for (int i = 0; i < 25; i++)
        many[i] = (uint8_t)(150 + i);
    sound_write_voice(v, 25, many, 3);          // bytes 15..24 land at 8, 9, 0, 1, ...
    EXPECT_EQ(played(), heard({ 167, 168, 169, 170, 171, 172, 173, 174, 165, 166 }));

    sound_write_voice(v, 2, four, -1);          // before the start: from the end
    EXPECT_EQ(played(), heard({ 201, 168, 169, 170, 171, 172, 173, 174, 165, 200 }));
}

TEST_F(Readback, ResampledVoicesTakeTheMixerRate)
{
    open();
    std::vector<uint8_t> bytes(1000);
    for (int i = 0; i < 1000; i++)
        bytes[i] = (uint8_t)i;
    struct Case {
        int length, source_rate, stored;
    } cases[] = {
        { 1000, 0, 1000 },                      // no resampling
        { 1000, k_rate, 1000 },
        { 1000, 4000, 2000 },
        { 1000, 16000, 500 },
        { 1000, 11025, 725 },                   // 1000 * 8000 / 11025 = 725.6
        { 3, 48000, 1 },                        // never below one byte
    };
    for (const Case &c : cases) {
        int v = sound_create_voice(c.length, bytes.data(), c.source_rate);
        EXPECT_EQ(mixer_voice_length(v), c.stored) << c.source_rate;
        sound_free_voice(v);
    }
    // Halving the rate keeps every second sample.
    int v = sound_create_voice(1000, bytes.data(), 16000);
    sound_play(v);
    read();
    for (int i = 0; i < k_block; i++)
        EXPECT_EQ(left[i], 128 + mixer_level_contribution(15, bytes[2 * i])) << i;
    // Lengths whose product passes 32 bits are refused, not wrapped.
    std::vector<uint8_t> big(1 << 20, 128);
    EXPECT_EQ(sound_create_voice(1 << 20, big.data(), 1), -1);
    EXPECT_EQ(sound_create_voice(0, big.data(), 0), -1);
}

TEST_F(Readback, DuplicatesShareOneBufferFreedWithTheLast)
{
    setenv("SK_CHECK_ALLOC", "1", 1);
    mem_reset_for_tests();
    open();
    read();                                     // the mixer's own buffers are made
    int live = mem_live_blocks();
    int v = voice(constant(100, 150));
    int copy = sound_duplicate_voice(v);
    ASSERT_GE(copy, 0);
    EXPECT_EQ(mixer_buffer_count(), 1);
    const uint8_t loud[1] = { 255 };
    for (int i = 0; i < 100; i++)
        sound_write_voice(v, 1, loud, i);
    sound_set_pan(copy, -32768);
    sound_play(copy);
    read();
    EXPECT_EQ(left[0], 128 + 122) << "the duplicate plays what was written through the original";
    sound_free_voice(v);
    read();
    EXPECT_EQ(left[0], 128 + 122) << "and keeps playing it once the original is gone";
    EXPECT_EQ(mixer_buffer_count(), 1);
    sound_free_voice(copy);
    EXPECT_EQ(mixer_buffer_count(), 0);
    EXPECT_EQ(mem_live_blocks(), live);
    sound_close();
    unsetenv("SK_CHECK_ALLOC");
    mem_reset_for_tests();
}

TEST_F(Readback, OpeningClosingAndTheRecording)
{
    open(SOUND_READBACK_BLOCK);
    EXPECT_FALSE(sound_open_readback(k_rate, k_block));
    sound_close();
    sound_close();
    g_readback_driver.close();
    std::string text = log();
    for (const char *line : { "Opening readback audio...\n", "Audio opened!\n", "Audio already open\n", "Closing audio\n",
                              "Can't close audio, not open\n" })
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_EQ(text.find("Closing audio\n"), text.rfind("Closing audio\n")) << "a second close does nothing";

    std::string file = root + "/rec.raw";
    ASSERT_TRUE(sound_open_capture(file.c_str(), SOUND_READBACK_RATE, SOUND_READBACK_BLOCK));
    int v = voice(constant(1000, 200));
    sound_play(v);
    for (int k = 0; k < 3; k++)
        sound_capture_tic();
    sound_close();
    std::string bytes = read_file(file);
    ASSERT_EQ(bytes.size(), 3u * 1380) << "one tic is 690 stereo samples";
    EXPECT_EQ((uint8_t)bytes[0], 128 + 71 * 15 / 32);
    EXPECT_EQ((uint8_t)bytes[1], 128 + 71 * 15 / 32);

    EXPECT_FALSE(sound_open_capture(root.c_str(), SOUND_READBACK_RATE, SOUND_READBACK_BLOCK)) << "a folder";
    EXPECT_FALSE(sound_is_open()) << "without the file there is no device";
    EXPECT_EQ(sound_create_voice(10, nullptr, 0), -1);
}

// ---- the software mixer's thread over a wave output the test plays by hand

namespace {

std::atomic<int> g_writes, g_resets, g_waits, g_permits;
std::atomic<long> g_queued;
std::atomic<bool> g_free_running;
int g_granted_channels = 2;

bool fake_open(int rate, int *channels, char *name, int size)
{
    (void)rate;
    *channels = g_granted_channels;
    snprintf(name, (size_t)size, "test output");
    return true;
}
bool fake_write(const uint8_t *, int bytes)
{
    g_writes++;
    g_queued += bytes;
    return true;
}
long fake_queued(void) { return g_queued; }
void fake_reset(void)
{
    g_resets++;
    g_queued = 0;
}
void fake_close(void) {}
const WaveOutput k_fake = { fake_open, fake_write, fake_queued, fake_reset, fake_close };

// Each 15 ms wait of the thread waits here for the test's permission instead.
void fake_wait(void)
{
    g_waits++;
    while (!g_free_running) {
        int p = g_permits;
        if (p > 0 && g_permits.compare_exchange_weak(p, p - 1))
            return;
        usleep(100);
    }
}

struct WaveOut : AudioDirs {
    void SetUp() override
    {
        AudioDirs::SetUp();
        g_writes = g_resets = g_waits = g_permits = 0;
        g_queued = 0;
        g_free_running = false;
        g_granted_channels = 2;
        sound_set_wait_for_tests(fake_wait);
    }
    void TearDown() override
    {
        g_free_running = true;
        AudioDirs::TearDown();
    }
    // Waits (at most 10 s of real time) until the thread has entered its n-th wait.
    static bool waited(int n)
    {
        for (int i = 0; i < 100000 && g_waits < n; i++)
            usleep(100);
        return g_waits >= n;
    }
};

} // namespace

TEST_F(WaveOut, MixaheadInMillisecondsBecomesFragmentsQueuedAhead)
{
    struct Case {
        const char *options;
        int fragments;
        const char *logged;
    } cases[] = {
        { "[sound-mixahead:5]", 1, "Waveout mixahead: 15\n" },        // 5 * 64 / 1000 = 0, at least 1
        { "[sound-mixahead:125]", 8, "Waveout mixahead: 125\n" },
        { "[sound-mixahead:1000]", 32, "Waveout mixahead: 500\n" },   // 64, at most 32
    };
    for (const Case &c : cases) {
        options(c.options);
        g_writes = g_waits = g_permits = 0;
        g_queued = 0;
        ASSERT_TRUE(sound_open_device(&k_fake));
        ASSERT_TRUE(waited(1));
        EXPECT_EQ(g_writes, c.fragments + 1) << c.options;
        EXPECT_EQ(g_queued, (c.fragments + 1) * (22050 / 64) * 2);
        // One fragment played: one more is mixed, and the thread waits again.
        g_queued -= (22050 / 64) * 2;
        g_permits = 1;
        ASSERT_TRUE(waited(2));
        EXPECT_EQ(g_writes, c.fragments + 2) << c.options;
        EXPECT_NE(log().find(c.logged), std::string::npos) << log();
        g_free_running = true;
        sound_close();
        g_free_running = false;
    }
}

TEST_F(WaveOut, OpeningLogsItsSettingsAndATimeoutResetsTheOutput)
{
    options("[sound-rate:0][sound-mixahead:5]");
    g_granted_channels = 1;
    ASSERT_TRUE(sound_open_device(&k_fake));
    ASSERT_TRUE(waited(1));
    EXPECT_EQ(g_queued, 2 * (8000 / 64)) << "a rate of 0 is taken as 8,000 Hz, one channel";
    g_permits = 66;
    ASSERT_TRUE(waited(67));
    EXPECT_EQ(g_resets, 0) << "66 checks are not yet a timeout";
    g_permits = 1;
    ASSERT_TRUE(waited(68)) << "after the reset the thread mixes on and waits again";
    EXPECT_EQ(g_resets, 1) << "after 67 checks of 15 ms the output is reset";
    g_free_running = true;
    sound_close();
    std::string text = log();
    const char *order[] = { "No system mixer here (dsnd)\n", "Opening waveOut audio...\n", "Found a test output\n",
                            "Waveout rate: 8000\n", "Waveout channels: 1\n", "Waveout mixahead: 15\n",
                            "Audio opened!\n", "Audio thread: Timeout on fragment 2\n", "Closing audio\n",
                            "Audio thread end\n" };
    size_t at = 0;
    for (const char *line : order) {
        size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << text;
        at = found;
    }
    // The thread may start logging before the opener says it is open.
    size_t begin = text.find("Audio thread begin\n");
    EXPECT_LT(begin, text.find("Audio thread: Timeout")) << text;
    EXPECT_GT(begin, text.find("Waveout mixahead")) << text;
}

TEST_F(WaveOut, DriverChoiceFollowsTheOptions)
{
    options("[sound-rate:999999999][dsnd:off]");
    ASSERT_TRUE(sound_open_device(&k_fake));
    EXPECT_EQ(sound_driver(), &g_software_mixer_driver);
    EXPECT_FALSE(sound_open_device(&k_fake)) << "one device at a time";
    g_free_running = true;
    sound_close();
    EXPECT_NE(log().find("Waveout rate: 192000\n"), std::string::npos);
    EXPECT_EQ(log().find("dsnd"), std::string::npos) << "switched off, not tried";
    EXPECT_NE(log().find("Audio already open\n"), std::string::npos);

    options("[waveout:off]");
    EXPECT_FALSE(sound_open_device(&k_fake));
    EXPECT_FALSE(sound_is_open());
    options("");
    EXPECT_FALSE(sound_open_device(nullptr));
    EXPECT_NE(log().find("No audio device\n"), std::string::npos);
}
