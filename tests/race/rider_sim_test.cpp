// The rider in skorva-sim's scripted rides: the bike stays up and leans into a turn on the
// practice field, and over the edge of a plateau the rider falls, comes back, stands the bike
// up and turns it towards the next checkpoint. Read from the trace's named columns.
#include <gtest/gtest.h>
#include "../sim/sim_run.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Trace {
    std::vector<std::string> names;
    std::vector<std::vector<double>> rows;
    double at(size_t row, const std::string &name) const
    {
        for (size_t k = 0; k < names.size(); k++)
            if (names[k] == name)
                return rows[row][k];
        ADD_FAILURE() << "no column " << name;
        return NAN;
    }
};

class RiderSim : public ::testing::Test {
protected:
    std::string root;

    void SetUp() override
    {
        root = sim_make_home("skridersim");
        ASSERT_FALSE(root.empty());
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    void write(const std::string &name, const std::string &bytes)
    {
        std::filesystem::create_directories(std::filesystem::path(root + "/" + name).parent_path());
        FILE *f = fopen((root + "/" + name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }

    // Rides the script on the track with the setup lines; the trace of slot 0.
    Trace ride(const std::string &track, const std::string &script, const std::string &setup, int tics)
    {
        write("ride.script", script);
        write("ride.setup", setup + "\n");
        sim_run(root, "--track " + track + " --bikes 1 --quiet --tics " + std::to_string(tics) + " --script '" + root +
                    "/ride.script' --setup '" + root + "/ride.setup' --trace 0 --trace-file '" + root +
                    "/trace.txt'");
        Trace t;
        FILE *f = fopen((root + "/trace.txt").c_str(), "r");
        if (!f)
            return t;
        char line[2048];
        while (fgets(line, sizeof line, f)) {
            std::istringstream in(line);
            if (line[0] == '#') {
                std::string word;
                in >> word;
                while (in >> word)
                    t.names.push_back(word);
                continue;
            }
            std::vector<double> row;
            double v;
            while (in >> v)
                row.push_back(v);
            if (row.size() == t.names.size())
                t.rows.push_back(row);
        }
        fclose(f);
        EXPECT_EQ((int)t.rows.size(), tics);
        return t;
    }
};

// Degrees from heading a to heading b, in (-180, 180].
double turned(double a, double b)
{
    double d = fmod(b - a, 360.0);
    return d > 180 ? d - 360 : d <= -180 ? d + 360 : d;
}

TEST_F(RiderSim, FullThrottleFromTheGateStaysUpright)
{
    sim_open_practice(root);
    for (const char *setup : { "", "arcade=No" }) {
        Trace t = ride("tracks/open", "0 throttle=1\n", setup, 512);
        ASSERT_FALSE(t.rows.empty()) << setup;
        double worst = 0;
        for (size_t k = 0; k < t.rows.size(); k++) {
            EXPECT_EQ(t.at(k, "fall_timer"), 0) << setup << " tic " << k;
            worst = fmax(worst, fabs(t.at(k, "lean")));
        }
        EXPECT_LT(worst, 20) << setup;
        EXPECT_GT(t.at(t.rows.size() - 1, "mph"), 30) << setup;
    }
}

TEST_F(RiderSim, HalfASteerLeansAndTurnsToThatSideAndLettingGoRightsTheBike)
{
    sim_open_practice(root);
    // The script's steer channel as the keys give it: "Left" is +1, which the default reversal
    // makes a left turn (a negative steer input).
    for (double channel : { 0.5, -0.5 }) {
        char script[256];
        snprintf(script, sizeof script, "0 throttle=1\n256 throttle=0.6 steer=%g\n448 throttle=0.6\n", channel);
        Trace t = ride("tracks/open", script, "arcade=No", 640);
        ASSERT_EQ(t.rows.size(), 640u);
        double left = channel > 0 ? 1 : -1;
        EXPECT_EQ(t.at(300, "steer"), -channel);
        // Leaning left is a positive lean; turning left a growing heading.
        EXPECT_GT(left * t.at(440, "lean"), 8) << channel;
        EXPECT_GT(left * turned(t.at(255, "heading"), t.at(447, "heading")), 10) << channel;
        for (size_t k = 0; k < t.rows.size(); k++)
            ASSERT_EQ(t.at(k, "fall_timer"), 0) << channel << " tic " << k;
        // Let go, the leveling stands it up: most of the way in a second and a half.
        EXPECT_LT(fabs(t.at(639, "lean")), 5) << channel;
        EXPECT_LT(fabs(t.at(639, "lean")), fabs(t.at(447, "lean")) / 3) << channel;
    }
}

// A plateau 40 ft high that ends in a cliff at x = 300, the gate on it facing the edge, the
// first checkpoint before the edge and the next one below, off to the north.
std::string drop_terrain(void)
{
    const int n = 7, dim = (1 << (n + 1)) + 1;
    const float spacing = 2;
    char header[64];
    snprintf(header, sizeof header, "%d %f %f %f\n:", n, spacing, 0.0, 40.0);
    std::string bytes = header;
    for (int z = 0; z < dim; z++)
        for (int x = 0; x < dim; x++) {
            uint16_t s = x * spacing < 300 ? 65535 : 0;
            bytes.push_back((char)(s & 255));
            bytes.push_back((char)(s >> 8));
        }
    return bytes;
}

TEST_F(RiderSim, OffACliffTheRiderFallsComesBackAndTheBikeIsStoodUpAndTurned)
{
    const std::string track = "Skorva/tracks/drop/";
    write(track + "terrain.hf", drop_terrain());
    write(track + "shadingx2.ppm", "P6\n257 257\n255\n" + std::string(257 * 257 * 3, (char)100));
    write(track + "tileinfo", "texture @dirt.png\naddtile\n");
    write(track + "tilemap", std::string(128 * 128, '\0'));
    write(track + "timing_gates", "startinggate:\n[ 180 40 256 ] -1.5707963 null null null\n"
                                  "checkpoints:\n30 [ 240 40 256 ] [ 1 0 0 ]\n20 [ 400 0 120 ] [ 0 0 -1 ]\n"
                                  "firstlap:\n0 1\nnormallap:\n0 1\n");
    // Full throttle to the edge, then nothing: "Dab When Stopped" and "Realign After Fall" are on.
    Trace t = ride("tracks/drop", "0 throttle=1\n420\n", "arcade=No", 2800);
    ASSERT_EQ(t.rows.size(), 2800u);

    int edge = -1, fell = -1, back = -1;
    for (int k = 0; k < (int)t.rows.size(); k++) {
        if (edge < 0 && t.at(k, "x") > 300)
            edge = k;
        if (fell < 0 && t.at(k, "fall_timer") > 0)
            fell = k;
        if (fell >= 0 && back < 0 && t.at(k, "fall_timer") == 0)
            back = k;
    }
    ASSERT_GT(edge, 0);
    ASSERT_GT(fell, edge) << "no fall over the edge";
    EXPECT_LT(fell, edge + 2 * 128) << "the fall comes on landing";
    ASSERT_GT(back, fell) << "the rider never came back";
    // The countdown runs only while the rider lies still: 512 tics of it, at least.
    EXPECT_EQ(t.at(fell, "fall_timer"), 512);
    EXPECT_GE(back - fell, 512);
    int stood = 0;
    for (int k = fell + 1; k < back; k++) {
        ASSERT_LE(t.at(k, "fall_timer"), t.at(k - 1, "fall_timer")) << "tic " << k;
        stood += t.at(k, "fall_timer") == t.at(k - 1, "fall_timer");
    }
    EXPECT_GT(stood, 0) << "the timer waits while the rider slides";
    EXPECT_LT(t.at(back, "rider_off"), 0.5) << "re-seated";
    for (int k = back; k < (int)t.rows.size(); k++)
        ASSERT_EQ(t.at(k, "fall_timer"), 0) << "fell again at tic " << k;

    // Lying on its side when the rider is back, it is stood up with the foot down. On the way,
    // while it leans between 22.5 and 63 degrees, it turns towards the checkpoint at (400, 120).
    EXPECT_LT(t.at(back, "up"), 0.5);
    size_t last = t.rows.size() - 1;
    EXPECT_GT(t.at(last, "up"), 0.95);
    EXPECT_EQ(t.at(last, "foot_down"), 1);
    auto off_target = [&](size_t k) {
        double to = atan2(-(400 - t.at(k, "x")), -(120 - t.at(k, "z"))) * 180 / M_PI;
        return fabs(turned(t.at(k, "heading"), to));
    };
    size_t from = 0, to = 0;
    for (size_t k = back; k < t.rows.size(); k++) {
        double lean = fabs(t.at(k, "lean"));
        if (!from && lean < 63)
            from = k;
        if (lean > 22.5)
            to = k;
    }
    ASSERT_GT(to, from);
    EXPECT_LT(off_target(to), off_target(from) - 4);
}

}  // namespace
