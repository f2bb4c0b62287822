// skorva-sim revving a bike on the stand and recording its engine: the pitch heard follows
// the engine speed it prints.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <complex>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "audio_fixture.h"

using namespace audio_test;

namespace {

struct RevLine {
    int tic;
    float rpm, load;
};

struct Rev : AudioDirs {
    std::vector<RevLine> lines;
    std::string capture;

    int run_sim(const std::string &args)
    {
        std::string out = root + "/out.txt";
        std::string cmd = "SK_HOME='" + std::string(SK_GAME_DATA_DIR) + "' XDG_DATA_HOME='" + root + "/xdg' '" +
                          SK_SIM_EXE + "' " + args + " >'" + out + "' 2>'" + root + "/err.txt'";
        int status = system(cmd.c_str());
        std::istringstream text(read_file(out));
        std::string line;
        while (std::getline(text, line)) {
            RevLine r;
            if (sscanf(line.c_str(), "rev %d %f %f", &r.tic, &r.rpm, &r.load) == 3)
                lines.push_back(r);
        }
        return status;
    }
};

// The strongest period of x between lo and hi Hz by normalised autocorrelation, the shortest
// of those within 10 % of the best.
double fundamental(const std::vector<double> &x, double rate, double lo, double hi)
{
    size_t w = x.size();
    double mean = 0;
    for (double v : x)
        mean += v;
    mean /= (double)w;
    size_t first = (size_t)(rate / hi), last = (size_t)(rate / lo);
    std::vector<double> r(last + 2, 0);
    for (size_t lag = first; lag <= last + 1 && lag < w; lag++) {
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = 0; i + lag < w; i++) {
            double a = x[i] - mean, b = x[i + lag] - mean;
            ab += a * b;
            aa += a * a;
            bb += b * b;
        }
        r[lag] = aa > 0 && bb > 0 ? ab / sqrt(aa * bb) : 0;
    }
    double best = 0;
    for (size_t lag = first + 1; lag <= last; lag++)
        best = fmax(best, r[lag]);
    for (size_t lag = first + 1; lag <= last; lag++)
        if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1])
            return rate / (double)lag;
    return 0;
}

} // namespace

TEST_F(Rev, RecordedPitchFollowsThePrintedRpm)
{
    std::string file = root + "/rev.raw";
    int status = run_sim("--track tracks/practice --bikes 1 --bike 'yz450f(2014)' --rev --record-audio '" + file +
                         "' --quiet");
    ASSERT_EQ(status, 0) << read_file(root + "/err.txt");
    ASSERT_EQ(lines.size(), 768u) << "one line a tic for 6 s";
    capture = read_file(file);
    ASSERT_EQ(capture.size(), 768u * 1380) << "1,380 bytes a tic";
    EXPECT_LT(lines[127].load, 0.1f) << "a shut throttle at idle";
    // Opening, the engine pulls hard; free of the wheel it then runs out of torque at the top.
    float opening = 0;
    for (int t = 128; t < 3 * 128; t++)
        opening = fmaxf(opening, lines[t].load);
    EXPECT_GT(opening, lines[127].load + 0.3f) << "opening the throttle";
    EXPECT_LT(lines[5 * 128 + 64].load, 0.1f) << "shut again";

    float low = 1e9f, high = 0;
    for (const RevLine &r : lines) {
        low = fminf(low, r.rpm);
        high = fmaxf(high, r.rpm);
    }
    if (high < 2000 || high < 1.5f * low)
        GTEST_SKIP() << "the engine does not rev yet (" << low << " to " << high
                     << " rpm): the drive-train does not turn the crank";

    // The voice is synthesised 0.1 s ahead of where it is heard: the capture at t follows
    // the rpm read at t - 0.1 s. Steady stretches of a quarter second are compared.
    std::ifstream def(std::string(SK_GAME_DATA_DIR) + "/default450f.braap");
    float min_rpm = 1000;
    for (std::string line; std::getline(def, line);)
        sscanf(line.c_str(), "minrpm %f", &min_rpm);
    const int window_tics = 32, lag_tics = 13;
    int compared = 0;
    for (int start = lag_tics; start + window_tics <= 768; start += window_tics / 2) {
        float lo = 1e9f, hi = 0, sum = 0;
        for (int t = start - lag_tics; t < start - lag_tics + window_tics; t++) {
            float rpm = fmaxf(lines[t].rpm, min_rpm);
            lo = fminf(lo, rpm);
            hi = fmaxf(hi, rpm);
            sum += rpm;
        }
        if (hi > 1.02f * lo)
            continue;
        std::vector<double> x;
        for (int i = start * 1380; i < (start + window_tics) * 1380; i += 4)
            x.push_back((uint8_t)capture[i] + (uint8_t)capture[i + 2]);     // left, at 44,160 Hz
        double expected = sum / window_tics / 120;
        double heard = fundamental(x, 44160, expected / 1.5, expected * 1.5);
        EXPECT_NEAR(heard / expected, 1, 0.04) << "tic " << start << ": " << heard << " Hz for " << expected;
        compared++;
    }
    EXPECT_GE(compared, 3) << "steady stretches to compare";
}
