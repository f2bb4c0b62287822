// The engines as they are heard: each class's default sound, fed held engine speeds from idle
// to its rev limit, synthesised, mixed by the readback device and captured as the game records
// it. The pitch is the firing frequency, the throttle is heard, the capture is the voice's own
// signal with nothing dropped or repeated, and the firings join without clicks.
#include <gtest/gtest.h>

#include <math.h>

#include <complex>
#include <string>
#include <vector>

#include "audio/mixer.h"
#include "audio/sound_table.h"
#include "audio_fixture.h"

using namespace audio_test;

namespace {

const int k_capture_rate = SOUND_READBACK_RATE;
const int k_holds = 5;                  // rpm steps from idle to the rev limit
const double k_hold_seconds = 1;        // at load 0, then again at load 1
const double k_analysed = 0.6;          // the end of each hold, after the 0.1 s lead has passed

struct Hold {
    float rpm, load;
};

// ---- signal analysis

void fft(std::vector<std::complex<double>> &a, bool inverse)
{
    size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; i++) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        double angle = 2 * M_PI / (double)len * (inverse ? 1 : -1);
        std::complex<double> w_len(cos(angle), sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t j = 0; j < len / 2; j++) {
                std::complex<double> u = a[i + j], v = a[i + j + len / 2] * w;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
                w *= w_len;
            }
        }
    }
}

// The fundamental of x (sampled at rate) between lo and hi Hz: the shortest period whose
// normalised autocorrelation comes within 10 % of the best one (longer multiples of the
// period correlate as well, so the shortest is the fundamental's).
double fundamental(const std::vector<double> &x, double rate, double lo, double hi)
{
    size_t w = x.size(), n = 1;
    while (n < 2 * w)
        n <<= 1;
    double mean = 0;
    for (double v : x)
        mean += v;
    mean /= (double)w;
    std::vector<std::complex<double>> a(n);
    std::vector<double> energy(w + 1, 0);           // prefix sums of squares
    for (size_t i = 0; i < w; i++) {
        a[i] = x[i] - mean;
        energy[i + 1] = energy[i] + (x[i] - mean) * (x[i] - mean);
    }
    fft(a, false);
    for (auto &c : a)
        c = std::norm(c);
    fft(a, true);
    size_t first = (size_t)(rate / hi), last = (size_t)(rate / lo);
    std::vector<double> r(last + 2, 0);
    for (size_t lag = first; lag <= last + 1 && lag < w; lag++) {
        double e = sqrt((energy[w - lag] - energy[0]) * (energy[w] - energy[lag]));
        r[lag] = e > 0 ? a[lag].real() / (double)n / e : 0;
    }
    double best = 0;
    for (size_t lag = first + 1; lag <= last; lag++)
        best = fmax(best, r[lag]);
    for (size_t lag = first + 1; lag <= last; lag++) {
        if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            double d = r[lag - 1] - 2 * r[lag] + r[lag + 1];
            double shift = d < 0 ? 0.5 * (r[lag - 1] - r[lag + 1]) / d : 0;
            return rate / ((double)lag + shift);
        }
    }
    return 0;
}

double rms(const std::vector<double> &x)
{
    double mean = 0, sum = 0;
    for (double v : x)
        mean += v;
    mean /= (double)x.size();
    for (double v : x)
        sum += (v - mean) * (v - mean);
    return sqrt(sum / (double)x.size());
}

// Pearson's correlation; two stretches of the same silence count as alike.
double correlation(const double *a, const double *b, size_t n)
{
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; i++)
        ma += a[i], mb += b[i];
    ma /= (double)n;
    mb /= (double)n;
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; i++) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    if (aa == 0 && bb == 0)
        return a[0] - ma == 0 && b[0] - mb == 0 ? 1 : 0;
    return aa > 0 && bb > 0 ? ab / sqrt(aa * bb) : 0;
}

// ---- a class's engine, heard

Hold g_now;
SoundProfile g_profile;

bool held_engine(int slot, EngineReading *out)
{
    *out = {};
    if (slot != 0)
        return true;
    out->present = true;
    out->rpm = g_now.rpm;
    // The torque that gives the wanted load through the profile's own range.
    out->torque = g_profile.low_torque + g_now.load * (g_profile.high_torque - g_profile.low_torque);
    return true;
}

struct ClassSound : AudioDirs {
    std::vector<Hold> holds;
    std::vector<double> left;           // the capture's left channel, 88,320 Hz
    std::vector<uint8_t> offline;       // the same voice synthesised beside it, 44,100 Hz
    float idle = 0, limit = 0;

    void SetUp() override { prepare(SK_GAME_DATA_DIR); }

    // Idle to the rev limit in k_holds steps, each held at load 0 and then at load 1.
    void plan(const SoundProfile &p)
    {
        const SoundTable *t = sound_table(p.table);
        idle = p.min_rpm;
        limit = sound_table_cell(t, t->rows - 1, 0)->rpm;
        for (int k = 0; k < k_holds; k++) {
            float rpm = idle + (limit - idle) * k / (k_holds - 1);
            holds.push_back({ rpm, 0 });
            holds.push_back({ rpm, 1 });
        }
    }

    // The game's frame of 60 a second and tic of 128, the recording's block after every tic.
    void record(const char *class_code)
    {
        ASSERT_TRUE(sound_open_readback(k_capture_rate, SOUND_READBACK_BLOCK));
        ASSERT_TRUE(init_engine_voice_for(0, class_code, nullptr, nullptr));
        rider_slot(0)->kind = CONTROL_ROBOT;
        set_viewed_slot(0);
        SoundListener l = { { 0, 0, 0 }, { 0, 0, 0 }, { 1, 0, 0 } };
        sound_set_listener(&l);
        engine_voices_set_reader(held_engine);
        EngineVoice *v = engine_voice(0);
        g_profile = v->profile;
        plan(v->profile);
        EngineVoice beside = {};
        engine_voice_make(&beside, class_code, nullptr, nullptr);
        int tics = (int)(holds.size() * k_hold_seconds * 128);
        long long frames = 0;
        for (int tic = 0; tic < tics; tic++) {
            g_now = holds[(size_t)(tic / (k_hold_seconds * 128))];
            while (frames * 128 <= (long long)tic * 60) {
                // What the game's frame will synthesise, made again beside it.
                int play = sound_play_position(v->channel);
                int n = ((play + ENGINE_LEAD - beside.write_position) % ENGINE_RING + ENGINE_RING) % ENGINE_RING;
                n = n > ENGINE_BLOCK_MAX ? ENGINE_BLOCK_MAX : n;
                sound_mix_frame(1, 10, 8);
                std::vector<uint8_t> block((size_t)n);
                engine_voice_synthesize(&beside, g_now.rpm, engine_profile_load(&beside.profile, held_torque()), n,
                                        block.data());
                offline.insert(offline.end(), block.begin(), block.end());
                ASSERT_EQ(v->write_position, beside.write_position);
                frames++;
            }
            int bytes = 0;
            const uint8_t *b = sound_read_block(&bytes);
            ASSERT_EQ(bytes, 1380);
            for (int i = 0; i < bytes; i += 2) {
                ASSERT_EQ(b[i], b[i + 1]) << "straight ahead: both sides alike";
                left.push_back(b[i]);
            }
        }
        engine_voice_free(&beside);
    }
    static float held_torque() { return g_profile.low_torque + g_now.load * (g_profile.high_torque - g_profile.low_torque); }

    // The capture during the analysed end of hold k.
    std::vector<double> analysed(size_t k) const
    {
        size_t end = (size_t)((k + 1) * k_hold_seconds * k_capture_rate);
        size_t begin = end - (size_t)(k_analysed * k_capture_rate);
        // Two capture samples make one at 44,160 Hz: the voice itself runs at 44,100.
        std::vector<double> x;
        for (size_t i = begin; i + 1 < end; i += 2)
            x.push_back(left[i] + left[i + 1]);
        return x;
    }
};

const char *const k_classes[] = { "50", "125", "250", "250f", "450f" };

} // namespace

TEST_F(ClassSound, PitchFollowsTheFiringsAndTheThrottleIsHeard)
{
    for (const char *class_code : k_classes) {
        SCOPED_TRACE(class_code);
        left.clear();
        offline.clear();
        holds.clear();
        record(class_code);
        ASSERT_FALSE(HasFatalFailure());
        bool two_stroke = strcmp(class_code, "250f") != 0 && strcmp(class_code, "450f") != 0;
        EXPECT_LE(idle, 2200) << "the class's idle";
        EXPECT_GT(limit, 7500) << "up to the class's rev limit";
        for (size_t k = 0; k < holds.size(); k++) {
            double firing = holds[k].rpm / (two_stroke ? 60.0 : 120.0);
            double heard = fundamental(analysed(k), k_capture_rate / 2.0, 4, 1000);
            EXPECT_NEAR(heard / firing, 1, 0.03) << holds[k].rpm << " rpm, load " << holds[k].load << ": heard "
                                                 << heard << " Hz for " << firing << " Hz";
            if (holds[k].load == 1) {
                double louder = 20 * log10(rms(analysed(k)) / rms(analysed(k - 1)));
                EXPECT_GE(louder, 6) << holds[k].rpm << " rpm: full throttle against a shut one";
            }
        }
        sound_close();
    }
}

TEST_F(ClassSound, CaptureIsTheVoiceWithNothingDroppedOrRepeated)
{
    for (const char *class_code : { "125", "450f" }) {
        SCOPED_TRACE(class_code);
        left.clear();
        offline.clear();
        holds.clear();
        record(class_code);
        ASSERT_FALSE(HasFatalFailure());
        // Where the mixer stands in the voice after m capture samples: 44,100 / 88,320 a
        // sample in 31-bit fixed point. The viewed rider straight ahead is heard at level 15
        // of 31 on each side.
        const uint64_t step = ((uint64_t)44100 << 31) / k_capture_rate;
        std::vector<double> expected(left.size());
        for (size_t m = 0; m < left.size(); m++) {
            uint64_t at = (m * step) >> 31;
            ASSERT_LT(at, offline.size());
            expected[m] = 128 + mixer_level_contribution(15, offline[at]);
        }
        size_t window = k_capture_rate / 10;
        double worst = 1;
        for (size_t at = 0; at + window <= left.size(); at += window)
            worst = fmin(worst, correlation(&left[at], &expected[at], window));
        EXPECT_GE(worst, 0.99) << "every 0.1 s over " << left.size() / k_capture_rate << " s";
        sound_close();
    }
}

TEST_F(ClassSound, FiringsJoinWithoutClicks)
{
    for (const char *class_code : k_classes) {
        SCOPED_TRACE(class_code);
        EngineVoice v = {};
        engine_voice_make(&v, class_code, nullptr, nullptr);
        for (PipeTap &t : v.profile.taps)
            t.gain = 0;                 // the blend of the cells alone
        const SoundTable *t = sound_table(v.profile.table);
        ASSERT_GE(t->rows, 5);
        float inside = 0;
        for (int c = 0; c < t->rows * t->cols; c++) {
            const SoundCell &cell = t->cells[c];
            for (int i = 0; i + 1 < cell.length; i++)
                inside = fmaxf(inside, fabsf(cell.data[i + 1] - cell.data[i]));
            EXPECT_LE(fabsf(cell.data[0] - cell.data[cell.length - 1]), inside)
                << "the last firing runs on into the first";
        }
        holds.clear();
        plan(v.profile);
        // A sweep through every row and between them while the throttle opens and closes over a
        // second each, sample by sample: a firing's new cycles start with the sample after it.
        float worst = 0, previous = 0;
        int joins = 0;
        bool join_next = false;
        int samples = 6 * ENGINE_RATE;
        for (int i = 0; i < samples; i++) {
            float rpm = idle + (limit - idle) * (float)i / (float)samples;
            uint32_t before = v.cycles;
            float swing = (float)(i % (2 * ENGINE_RATE)) / (float)ENGINE_RATE;
            engine_voice_synthesize(&v, rpm, swing < 1 ? swing : 2 - swing, 1, nullptr);
            float s = v.ring[(v.write_position - 1) & (ENGINE_RING - 1)];
            if (join_next) {
                worst = fmaxf(worst, fabsf(s - previous));
                joins++;
            }
            join_next = v.cycles != before;
            previous = s;
        }
        EXPECT_GT(joins, 100);
        EXPECT_LE(worst, inside);
        engine_voice_free(&v);
    }
}
