// Engine voices: templates, definition files, sound tables, the firing update and where a
// voice is heard from.
#include <gtest/gtest.h>

#include <math.h>

#include <string>
#include <vector>

#include "audio/mixer.h"
#include "audio/sound_table.h"
#include "audio_fixture.h"

using namespace audio_test;

namespace {

struct Engine : AudioDirs {
    void TearDown() override
    {
        for (EngineVoice &v : offline)
            engine_voice_free(&v);
        AudioDirs::TearDown();
    }
    EngineVoice offline[4] = {};
    // A voice outside the slots made from a definition file with these lines.
    EngineVoice *voice_from(int k, const std::string &lines, const char *class_code = "450f")
    {
        std::string name = "v" + std::to_string(k) + ".braap";
        write_file(name, lines);
        engine_voice_make(&offline[k], class_code, nullptr, ("@" + name).c_str());
        return &offline[k];
    }
    // The taps' distances back in the ring.
    static std::vector<int> taps_back(const SoundProfile &p)
    {
        std::vector<int> back;
        for (const PipeTap &t : p.taps)
            back.push_back(ENGINE_RING - t.delay);
        return back;
    }
    // The message before the newest, and the newest.
    static std::pair<std::string, std::string> last_messages() { return { message_line(1), message_line(0) }; }
};

const std::vector<int> k_four_stroke_taps = { 386, 382, 377, 373, 368, 363, 359, 354,
                                              349, 345, 340, 335, 330, 325, 320, 315 };
const std::vector<int> k_two_stroke_taps = { 135, 133, 132, 130, 129, 127, 126, 124,
                                             123, 121, 120, 118, 116, 115, 113, 112 };

} // namespace

TEST_F(Engine, TemplatesByClass)
{
    struct Case {
        const char *class_code;
        int table;
        float firings, low, high;
        const std::vector<int> *taps;
        float gain;
    } cases[] = {
        { "450f", SOUND_TABLE_FOUR_STROKE, 0.5f, -2.5f, 2.5f, &k_four_stroke_taps, -0.053125f },
        { "250f", SOUND_TABLE_FOUR_STROKE, 0.5f, -2.5f, 2.5f, &k_four_stroke_taps, -0.053125f },
        { "", SOUND_TABLE_FOUR_STROKE, 0.5f, -2.5f, 2.5f, &k_four_stroke_taps, -0.053125f },
        { "125", SOUND_TABLE_TWO_STROKE, 1, -3.5f, 3.5f, &k_two_stroke_taps, -0.046875f },
        { "250", SOUND_TABLE_TWO_STROKE, 1, -3.5f, 3.5f, &k_two_stroke_taps, -0.046875f },
        { "50", SOUND_TABLE_TWO_STROKE, 1, -3.5f, 1.5f, &k_two_stroke_taps, -0.046875f },
    };
    for (const Case &c : cases) {
        SoundProfile p;
        engine_profile_template(&p, c.class_code);
        EXPECT_EQ(p.table, c.table) << c.class_code;
        EXPECT_EQ(p.firings_per_rev, c.firings) << c.class_code;
        EXPECT_EQ(p.low_torque, c.low) << c.class_code;
        EXPECT_EQ(p.high_torque, c.high) << c.class_code;
        EXPECT_EQ(p.min_rpm, 1000) << c.class_code;
        EXPECT_EQ(taps_back(p), *c.taps) << c.class_code;
        for (const PipeTap &t : p.taps)
            EXPECT_FLOAT_EQ(t.gain, c.gain) << c.class_code;
        EXPECT_EQ(p.bias_count, 1);
        EXPECT_EQ(p.bias[0], 0);
        EXPECT_EQ(p.scale_count, 1);
        EXPECT_EQ(p.scale[0], 1);
    }
    // The built-in waveforms: one firing of 1,024 samples, a quarter of it at load 0.
    const SoundTable *t = sound_table(SOUND_TABLE_TWO_STROKE);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->name, "default_two_stroke");
    ASSERT_EQ(t->rows * t->cols, 2);
    const SoundCell *full = sound_table_cell(t, 0, 1), *quarter = sound_table_cell(t, 0, 0);
    EXPECT_EQ(full->length, 1024);
    EXPECT_EQ(full->load, 1);
    EXPECT_NEAR(full->data[64], (1 - 4 * (64 / 1023.0)) * sin(8 * M_PI * 64 / 1023.0), 1e-6);
    EXPECT_EQ(full->data[300], 0) << "silent after the first quarter";
    EXPECT_FLOAT_EQ(quarter->data[64], 0.25f * full->data[64]);
    const SoundCell *four = sound_table_cell(sound_table(SOUND_TABLE_FOUR_STROKE), 0, 1);
    double d = 600 / 1023.0;
    EXPECT_NEAR(four->data[600], (fabs(sin(3 * M_PI * d + 0.5246)) - 0.5) * 0.5, 1e-6);
}

TEST_F(Engine, DefinitionLines)
{
    SoundProfile pipe4;
    engine_profile_template(&pipe4, "450f");
    set_pipe(&pipe4, 4, 0.91820717f, -0.85f, 0, 15);
    const std::vector<int> file_taps = { 77, 72, 67, 62, 57, 52, 47, 42, 37, 32, 26, 21, 16, 10, 5, 0 };

    EngineVoice *v = voice_from(0, "pipe 4   # only a length\nminrpm 1500\nlowtorque -1\nhightorque 30.5\n"
                                   "bias 100 -50 x 7\nscale 1.5 0.5\nwhatever 12\n");
    EXPECT_EQ(taps_back(v->profile), taps_back(pipe4)) << "spread, gain and taps keep their defaults";
    EXPECT_FLOAT_EQ(v->profile.taps[0].gain, -0.85f / 16);
    EXPECT_EQ(v->profile.min_rpm, 1500);
    EXPECT_EQ(v->profile.low_torque, -1);
    EXPECT_EQ(v->profile.high_torque, 30.5f);
    ASSERT_EQ(v->profile.bias_count, 2) << "read until a number fails";
    EXPECT_EQ(v->profile.bias[1], -50);
    ASSERT_EQ(v->profile.scale_count, 2);
    EXPECT_EQ(v->profile.scale[0], 1.5f);

    v = voice_from(1, "pipe 5 0.9 -0.8 12 3\nbias\nscale nothing\n");
    std::vector<int> file_delays;
    for (const PipeTap &t : v->profile.taps) {
        file_delays.push_back(t.delay);
        EXPECT_EQ(t.gain, 0);
    }
    EXPECT_EQ(file_delays, file_taps) << "a last tap below the first changes nothing";
    EXPECT_EQ(v->profile.bias_count, 0) << "no number: the list is empty";
    EXPECT_EQ(v->profile.scale_count, 0);

    // Numbers that are not finite keep the line from being applied.
    v = voice_from(2, "pipe nan\nminrpm inf\nlowtorque nan\nbias 1 inf\npipe 1e30\n");
    EXPECT_EQ(v->profile.min_rpm, 1000);
    EXPECT_EQ(v->profile.low_torque, -2.5f);
    EXPECT_EQ(v->profile.bias_count, 1);
    EXPECT_EQ(v->profile.taps[5].gain, -0.85f / 16) << "a huge length sets taps, clamped into the ring";
    for (const PipeTap &t : v->profile.taps)
        EXPECT_TRUE(t.delay >= 0 && t.delay < ENGINE_RING) << t.delay;

    // One tap: the whole gain, the delay from the length alone; the others keep theirs.
    v = voice_from(3, "pipe 2 0.5 -0.6 4 4\n");
    EXPECT_EQ(ENGINE_RING - v->profile.taps[4].delay, 154);     // 2 * 77.3257
    EXPECT_FLOAT_EQ(v->profile.taps[4].gain, -0.6f);
    EXPECT_EQ(v->profile.taps[3].delay, file_taps[3]);
    EXPECT_EQ(v->profile.taps[3].gain, 0);
}

TEST_F(Engine, DefinitionFoundBesideTheTextureThenByClass)
{
    write_file("bikes/yz-blue.braap", "minrpm 1111\n");
    write_file("bikes/kx.braap", "minrpm 2222\n");
    write_file("default125.braap", "minrpm 3333\n");
    write_file("named.braap", "minrpm 4444\n");
    struct Case {
        const char *class_code, *texture, *definition;
        float min_rpm;
    } cases[] = {
        { "450f", "@bikes/yz-blue.png", nullptr, 1111 },
        { "450f", "@bikes/kx-green.png", nullptr, 2222 },     // from the last "-"
        { "125", "@bikes/cr-red.png", nullptr, 3333 },        // neither: the class's
        { "125", nullptr, nullptr, 3333 },
        { "125", "@bikes/yz-blue.png", "@named.braap", 4444 },
        { "450f", "@bikes/cr-red.png", nullptr, 1000 },       // no default450f here: the template
        { "xl", "@bikes/cr.png", nullptr, 1000 },
    };
    for (const Case &c : cases) {
        EngineVoice v = {};
        engine_voice_make(&v, c.class_code, c.texture, c.definition);
        EXPECT_EQ(v.profile.min_rpm, c.min_rpm) << c.class_code << " " << (c.texture ? c.texture : "-");
        engine_voice_free(&v);
    }
}

TEST_F(Engine, TableFilesAndTheirMessages)
{
    write_file("a.raw", samples16({ 16384, -32768, 0, 32767 }) + std::string(1, 'x'));     // odd byte ignored
    write_file("b.raw", samples16(std::vector<int>(12, 100)));
    write_file("empty.raw", "");
    write_file("good.table", "SOUNDTABLE 2 2\n 1000 5000\n0 1\n 3 1 -1 4 @a.raw\n-1 1 @a.raw\n"
                             "-1 1 @b.raw  -1 2.9 @b.raw\n");
    int id = sound_table_load("@good.table");
    ASSERT_GE(id, 0);
    const SoundTable *t = sound_table(id);
    ASSERT_EQ(t->rows, 2);
    ASSERT_EQ(t->cols, 2);
    const SoundCell *c = sound_table_cell(t, 0, 0);
    ASSERT_EQ(c->length, 4);
    EXPECT_EQ(c->data[0], 0.5f);
    EXPECT_EQ(c->data[1], -1.0f);
    EXPECT_EQ(c->cycles, 4);
    ASSERT_EQ(c->remap_count, 2);
    EXPECT_EQ(c->remap[0], 3u);
    EXPECT_EQ(c->remap[1], 1u);
    EXPECT_EQ(sound_table_cell(t, 1, 1)->cycles, 2) << "the integer part of the count";
    EXPECT_EQ(sound_table_cell(t, 1, 0)->rpm, 5000);
    EXPECT_EQ(sound_table_cell(t, 0, 1)->load, 1);
    EXPECT_EQ(sound_table_cell(t, 0, 1)->data, c->data) << "one copy of a file";
    EXPECT_EQ(sound_sample_file_count(), 2);

    std::string remap_4097 = "SOUNDTABLE 1 1\n0\n0\n";
    for (int i = 0; i < 4097; i++)
        remap_4097 += "1 ";
    remap_4097 += "-1 4 @a.raw\n";
    write_file("big.raw", std::string(2 * (1 << 20) + 2, '\0'));
    struct Case {
        const char *name, *text;
        const char *before, *last;      // the two newest messages ("" when only one)
    } cases[] = {
        { "missing.table", nullptr, "", "Error reading '@missing.table'" },
        { "header.table", "SOUNDTABEL 1 1\n0\n0\n-1 1 @a.raw\n", "", "Error reading '@header.table'" },
        { "wide.table", "SOUNDTABLE 1 65\n", "", "Error reading '@wide.table'" },
        { "none.table", "SOUNDTABLE 0 1\n", "", "Error reading '@none.table'" },
        { "rows.table", "SOUNDTABLE 2 1\n0 x\n0\n", "", "Error reading '@rows.table'" },
        { "remap.table", "SOUNDTABLE 1 2\n0\n0 1\n-1 1 @a.raw\n2 x -1 1 @a.raw\n", "(0, 1) Bad remap entry",
          "Error reading '@remap.table'" },
        { "sample.table", "SOUNDTABLE 1 1\n0\n0\n-1 1 @nope.raw\n", "(0, 0) Error reading '@nope.raw'",
          "Error reading '@sample.table'" },
        { "emptysample.table", "SOUNDTABLE 1 1\n0\n0\n-1 1 @empty.raw\n", "(0, 0) Error reading '@empty.raw'",
          "Error reading '@emptysample.table'" },
        { "cycles.table", "SOUNDTABLE 2 1\n0 1\n0\n-1 1 @a.raw\n-1 0 @a.raw\n", "(1, 0) Error reading '@a.raw'",
          "Error reading '@cycles.table'" },
        { "count.table", "SOUNDTABLE 1 1\n0\n0\n-1 x @a.raw\n", "(0, 0) Error reading ''",
          "Error reading '@count.table'" },
        { "long.table", remap_4097.c_str(), "(0, 0) Error reading '@a.raw'", "Error reading '@long.table'" },
        { "huge.table", "SOUNDTABLE 1 1\n0\n0\n-1 1 @big.raw\n", "(0, 0) Error reading '@big.raw'",
          "Error reading '@huge.table'" },
    };
    int tables = sound_table_count();
    for (const Case &k : cases) {
        if (k.text)
            write_file(k.name, k.text);
        messages_clear();
        std::string name = std::string("@") + k.name;
        EXPECT_EQ(sound_table_load(name.c_str()), -1) << k.name;
        EXPECT_EQ(last_messages(), std::make_pair(std::string(k.before), std::string(k.last))) << k.name;
        EXPECT_EQ(sound_table_find(name.c_str()), -1) << "nothing of a failed table is kept";
    }
    EXPECT_EQ(sound_table_count(), tables);

    // A voice whose definition names a table that fails keeps the table it had.
    EngineVoice *v = voice_from(0, "soundtable @remap.table\n", "125");
    EXPECT_EQ(v->profile.table, SOUND_TABLE_TWO_STROKE);
    v = voice_from(1, "soundtable   @good.table   \n", "125");
    EXPECT_EQ(v->profile.table, id) << "the rest of the line, trailing blanks removed";
}

TEST_F(Engine, TableSharedByTwoVoicesIsReadOnce)
{
    write_file("s.raw", samples16(std::vector<int>(400, 1000)));
    write_file("s.table", "SOUNDTABLE 1 1\n0\n0\n-1 4 @s.raw\n");
    EngineVoice *a = voice_from(0, "soundtable @s.table\n");
    int tables = sound_table_count(), files = sound_sample_file_count();
    std::filesystem::remove(data + "/s.table");
    std::filesystem::remove(data + "/s.raw");
    EngineVoice *b = voice_from(1, "soundtable @s.table\n");
    EXPECT_GE(a->profile.table, 2);
    EXPECT_EQ(b->profile.table, a->profile.table);
    EXPECT_EQ(sound_table_count(), tables);
    EXPECT_EQ(sound_sample_file_count(), files);
}

namespace {

// Synthesises one sample at a time and lists the voices' state at each firing.
std::vector<EngineVoice> firings(EngineVoice *v, float rpm, float load, int count)
{
    std::vector<EngineVoice> seen;
    for (int i = 0; i < 100000 && (int)seen.size() < count; i++) {
        uint32_t before = v->cycles;
        engine_voice_synthesize(v, rpm, load, 1, nullptr);
        if (v->cycles != before)
            seen.push_back(*v);
    }
    return seen;
}

} // namespace

TEST_F(Engine, RemapListPlaysItsCyclesInTurn)
{
    std::vector<int> cycle_marks(400);
    for (int i = 0; i < 400; i++)
        cycle_marks[i] = 100 * (i / 100);
    write_file("r.raw", samples16(cycle_marks));
    write_file("r.table", "SOUNDTABLE 1 1\n0\n0\n3 1 -1 4 @r.raw\n");
    EngineVoice *v = voice_from(0, "soundtable @r.table\n");
    std::vector<EngineVoice> seen = firings(v, 6000, 0.5f, 6);
    ASSERT_EQ(seen.size(), 6u);
    for (size_t k = 0; k < seen.size(); k++) {
        int expected = k % 2 == 0 ? 1 : 3;      // firing c plays remap[(c + 1) mod 2]
        for (const SampleVoice &s : seen[k].voices)
            EXPECT_EQ(s.phase, (uint32_t)(expected * 100 * 1024)) << "firing " << k;
    }
    // 6,000 rpm at half a firing a revolution is 50 Hz: a cycle of 100 samples plays at 100/882
    // of a sample a sample.
    EXPECT_EQ(seen[0].voices[0].step, (uint32_t)(100.0 * 50 / 44100 * 1024));
    EXPECT_EQ(seen[0].timer_step, (uint32_t)lround(16777216.0 * 50 / 44100));
}

TEST_F(Engine, OneCellTableAndTheWeightsOfFourCells)
{
    write_file("one.raw", samples16(std::vector<int>(100, 5000)));
    write_file("one.table", "SOUNDTABLE 1 1\n3000\n0.5\n-1 1 @one.raw\n");
    EngineVoice *v = voice_from(0, "soundtable @one.table\n");
    for (float rpm : { 500.0f, 3000.0f, 20000.0f }) {
        for (float load : { 0.0f, 1.0f }) {
            std::vector<EngineVoice> seen = firings(v, rpm, load, 1);
            ASSERT_EQ(seen.size(), 1u);
            float total = 0;
            for (const SampleVoice &s : seen[0].voices) {
                total += s.weight;
                EXPECT_EQ(s.length, 100);
            }
            EXPECT_EQ(total, 1) << rpm << " " << load;
            EXPECT_EQ(seen[0].voices[3].weight, 1) << "the one cell, whole";
        }
    }

    // Between rows and columns: bilinear weights, rows by rpm, columns by load.
    write_file("four.table", "SOUNDTABLE 2 2\n2000 6000\n0 1\n-1 1 @one.raw\n-1 1 @one.raw\n-1 1 @one.raw\n"
                             "-1 1 @one.raw\n");
    v = voice_from(1, "soundtable @four.table\nminrpm 100\n");
    std::vector<EngineVoice> seen = firings(v, 3000, 0.25f, 1);
    ASSERT_EQ(seen.size(), 1u);
    const float t = 0.25f, w = 0.25f;   // (3000 - 2000) / 4000; the load
    EXPECT_FLOAT_EQ(seen[0].voices[0].weight, (1 - t) * (1 - w));
    EXPECT_FLOAT_EQ(seen[0].voices[1].weight, t * (1 - w));
    EXPECT_FLOAT_EQ(seen[0].voices[2].weight, (1 - t) * w);
    EXPECT_FLOAT_EQ(seen[0].voices[3].weight, t * w);
    EXPECT_FLOAT_EQ(seen[0].frequency, 25) << "half a firing a revolution at 3,000 rpm";
}

TEST_F(Engine, BelowMinrpmSoundsLikeMinrpm)
{
    EngineVoice *slow = voice_from(0, "minrpm 1500\n");
    EngineVoice *at = voice_from(1, "minrpm 1500\n");
    std::vector<uint8_t> a(4000), b(4000);
    for (int k = 0; k < 10; k++) {
        engine_voice_synthesize(slow, 500, 1, 4000, a.data());
        engine_voice_synthesize(at, 1500, 1, 4000, b.data());
        ASSERT_EQ(a, b) << "block " << k;
    }
    EXPECT_FLOAT_EQ(slow->frequency, 12.5f);
}

TEST_F(Engine, LoadFromTorque)
{
    SoundProfile p;
    engine_profile_template(&p, "450f");
    p.low_torque = -2;
    p.high_torque = 18;
    EXPECT_FLOAT_EQ(engine_profile_load(&p, 3), 0.25f);
    EXPECT_EQ(engine_profile_load(&p, -5), 0);
    EXPECT_EQ(engine_profile_load(&p, 40), 1);
    EXPECT_EQ(engine_profile_load(&p, NAN), 0);
    p.low_torque = p.high_torque = 10;          // no width: a step at high torque
    EXPECT_EQ(engine_profile_load(&p, 9.99f), 0);
    EXPECT_EQ(engine_profile_load(&p, 10), 1);
    p.low_torque = 12;
    EXPECT_EQ(engine_profile_load(&p, 11), 1);
}

TEST_F(Engine, SampleVoicePastTheEndOfItsCellFallsSilent)
{
    write_file("short.raw", samples16(std::vector<int>(50, 16384)));
    write_file("short.table", "SOUNDTABLE 1 1\n0\n0\n-1 1 @short.raw\n");
    EngineVoice *v = voice_from(0, "soundtable @short.table\n");
    for (int t = 0; t < ENGINE_TAPS; t++)
        v->profile.taps[t].gain = 0;
    // At 6,000 rpm a firing lasts 882 samples; a 50-sample cell played at 50/882 of a sample a
    // sample runs to its end just as the next firing comes. Slowed to a tenth by the step, it
    // stops at the end instead of reading past it.
    std::vector<EngineVoice> seen = firings(v, 6000, 0, 1);
    ASSERT_EQ(seen.size(), 1u);
    v->voices[3].step *= 40;
    std::vector<uint8_t> out(800);
    engine_voice_synthesize(v, 6000, 0, 800, out.data());
    EXPECT_EQ(out[0], 191) << "half of full scale";      // round((0.5 + 1) * 127)
    EXPECT_EQ(out[799], 127) << "silent past the end";
    uint32_t stopped = v->voices[3].phase >> 10;
    EXPECT_TRUE(stopped >= 50 && stopped < 53) << "stopped one step (2.3 samples) past the end: " << stopped;
}

TEST_F(Engine, PipeCommandRetunesTheViewedRider)
{
    ASSERT_TRUE(sound_open_readback(8000, 20));
    set_viewed_slot(3);
    EXPECT_FALSE(pipe_command("4")) << "no voice to retune";
    ASSERT_TRUE(init_engine_voice_for(3, "250f", nullptr, nullptr));
    ASSERT_TRUE(init_engine_voice_for(4, "125", nullptr, nullptr));
    ASSERT_TRUE(pipe_command("4"));
    EXPECT_EQ(message_line(0), std::string("Pipe updated"));
    SoundProfile want;
    engine_profile_template(&want, "250f");
    set_pipe(&want, 4, 0.91820717f, -0.85f, 0, 15);
    EXPECT_EQ(taps_back(engine_voice(3)->profile), taps_back(want));
    set_viewed_slot(4);
    ASSERT_TRUE(pipe_command(""));
    EXPECT_EQ(taps_back(engine_voice(4)->profile), k_two_stroke_taps) << "a two-stroke's defaults";
    ASSERT_TRUE(pipe_command("2 1 -0.5 8 6"));
    EXPECT_EQ(taps_back(engine_voice(4)->profile), k_two_stroke_taps) << "last below first: unchanged";
}

// ---- where a voice is heard from

namespace {

EngineReading g_readings[RIDER_SLOTS];

bool scripted(int slot, EngineReading *out)
{
    *out = g_readings[slot];
    return true;
}

struct Placing : Engine {
    void SetUp() override
    {
        Engine::SetUp();
        ASSERT_TRUE(sound_open_readback(SOUND_READBACK_RATE, SOUND_READBACK_BLOCK));
        for (EngineReading &r : g_readings)
            r = {};
        engine_voices_set_reader(scripted);
        SoundListener l = { { 0, 0, 0 }, { 0, 0, 0 }, { 1, 0, 0 } };
        sound_set_listener(&l);
        set_viewed_slot(0);
    }
    void rider(int slot, Vec3 position, Vec3 velocity, int kind = CONTROL_ROBOT)
    {
        ASSERT_TRUE(init_engine_voice_for(slot, "450f", nullptr, nullptr));
        g_readings[slot] = { true, 3000, 0, position, velocity };
        rider_slot(slot)->kind = kind;
    }
    struct Heard {
        int rate, volume, pan;
        bool operator==(const Heard &o) const { return rate == o.rate && volume == o.volume && pan == o.pan; }
    };
    static Heard heard(int slot)
    {
        Heard h = {};
        EXPECT_TRUE(mixer_voice_settings(engine_voice(slot)->channel, &h.rate, &h.volume, &h.pan));
        return h;
    }
};

void PrintTo(const Placing::Heard &h, std::ostream *os)
{
    *os << "rate " << h.rate << " volume " << h.volume << " pan " << h.pan;
}

} // namespace

TEST_F(Placing, VolumePanAndPitchOfTheRiders)
{
    const float mph60 = 60 * 1.4666667f;
    rider(0, { 0, 0, 0 }, { 0, 0, 0 });                 // the viewed rider, where the listener is
    rider(1, { 49, 0, 0 }, { 0, 0, 0 });                // a competitor 49 ft to the right
    rider(2, { -100, 0, 0 }, { mph60, 0, 0 });          // coming at 60 mph from the left
    rider(3, { 100, 0, 0 }, { mph60, 0, 0 });           // going away at 60 mph on the right
    rider(4, { 30, 0, -30 }, { 0, 0, 0 });              // ahead and to the right
    rider(5, { 0, 0, 10 }, { 0, 0, 0 }, CONTROL_REPLAYED);
    sound_mix_frame(1, 10, 8);
    // volume: 1 x 0.1 x 10 for the viewed rider, x 0.1 x 8 for the others, halved at 49 ft.
    EXPECT_EQ(heard(0), (Heard{ 44100, 32767, 0 }));
    EXPECT_EQ(heard(1), (Heard{ 44100, 13106, 32767 }));               // 0.4 x 32,767
    EXPECT_EQ(heard(2), (Heard{ 47786, 8559, -32767 }));               // 44,100 / (1 - 88 / 1,140.63); 0.8 / 3.0625
    EXPECT_EQ(heard(3), (Heard{ 40941, 8559, 32767 }));                // 44,100 / (1 + 88 / 1,140.63)
    EXPECT_EQ(heard(4).pan, 23169) << "32,767 x 30 / 42.43";
    EXPECT_EQ(heard(5).volume, 0) << "a replayed rider without recent states is silent";

    // Behind a menu the gain is a quarter; the settings scale it too.
    sound_mix_frame(0.25f, 5, 8);
    EXPECT_EQ(heard(0).volume, 4095);                   // 0.25 x 0.5 x 32,767
    sound_mix_frame(0, 10, 8);
    EXPECT_EQ(heard(1).volume, 0);
    engine_voice_set_audible(0, 0);
    sound_mix_frame(1, 10, 8);
    EXPECT_EQ(heard(0).volume, 0) << "a demo without the rider's state";
    g_readings[1].present = false;
    sound_mix_frame(1, 10, 8);
    EXPECT_EQ(heard(1).volume, 0) << "no bike, no sound";
}

TEST_F(Placing, DopplerLimits)
{
    SoundListener l = { { 0, 0, 0 }, { 0, 0, 0 }, { 1, 0, 0 } };
    EXPECT_EQ(sound_doppler(&l, { -100, 0, 0 }, { 1140.63f, 0, 0 }), 0.125f) << "at the speed of sound";
    EXPECT_EQ(sound_doppler(&l, { -100, 0, 0 }, { 2000, 0, 0 }), 0.125f) << "faster than sound";
    EXPECT_EQ(sound_doppler(&l, { -100, 0, 0 }, { 1050, 0, 0 }), 0.125f) << "a factor past 8";
    EXPECT_NEAR(sound_doppler(&l, { -100, 0, 0 }, { 990, 0, 0 }), 7.5723f, 1e-3);
    EXPECT_EQ(sound_doppler(&l, { 0.01f, 0, 0 }, { 500, 0, 0 }), 1) << "within 1/32 ft";
    l.velocity = { -88, 0, 0 };                         // the listener drives away from a source at +x
    EXPECT_NEAR(sound_doppler(&l, { 100, 0, 0 }, { 0, 0, 0 }), 1 - 88 / 1140.63, 1e-5);

    SoundPlacement p = place_script_sound(&l, { 0, 0, -49 }, { 0, 0, 0 }, 22050, 0.5f, 1, 8);
    EXPECT_EQ(p.volume, 6553);                          // 0.5 x 0.5 x 0.8 x 32,767
    EXPECT_EQ(p.rate, 22050);
    EXPECT_EQ(p.pan, 0) << "straight ahead";
    p = place_script_sound(&l, { -10, 0, 0 }, { 0, 0, 0 }, 50, 3, 1, 5);
    EXPECT_EQ(p.volume, 16383) << "its own volume is capped at 1 before the settings: 0.5 x 32,767";
    EXPECT_EQ(p.rate, 100);
    EXPECT_EQ(p.pan, -32767);
}

TEST_F(Placing, WriterKeepsAheadAndCatchesUpOnceOvertaken)
{
    rider(0, { 0, 0, 0 }, { 0, 0, 0 });
    EngineVoice *v = engine_voice(0);
    int bytes;
    // Frames of 60 a second, tics of 128: the writer stays 0.1 s (4,410 samples) ahead.
    long long frames = 0;
    int tic = 0;
    for (; v->write_position < 30000 || v->write_position > 31000; tic++) {
        while (frames * 128 <= (long long)tic * 60) {
            sound_mix_frame(1, 10, 8);
            frames++;
            int lead = (v->write_position - sound_play_position(v->channel) + ENGINE_RING) % ENGINE_RING;
            ASSERT_EQ(lead, ENGINE_LEAD);
        }
        ASSERT_NE(sound_read_block(&bytes), nullptr);
        ASSERT_LT(tic, 10000);
    }
    // A long frame: the player passes the writer and the ring's end before the next update.
    int written = v->write_position;
    while (sound_play_position(v->channel) >= written - ENGINE_LEAD)
        sound_read_block(&bytes);
    for (int k = 0; k < 4; k++)
        sound_read_block(&bytes);
    int play = sound_play_position(v->channel);
    ASSERT_LT(play, written - ENGINE_LEAD) << "overtaken, across the end of the ring";
    sound_mix_frame(1, 10, 8);
    EXPECT_EQ(v->write_position, (play + ENGINE_LEAD) % ENGINE_RING) << "back 0.1 s ahead at once";
}
