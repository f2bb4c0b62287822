// Races of puppets in skorva-sim on the generated practice track: lap times from the distance
// between the checkpoints, the penalty of a cutting puppet, and a puppet that holds a race open.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/mem.h"
#include "race/puppets.h"
#include "race/timing.h"
#include "vfs/vfs.h"
#include "../sim/sim_run.h"

namespace {

std::string read_file(const std::string &path)
{
    std::string bytes;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, n);
        fclose(f);
    }
    return bytes;
}

std::vector<std::string> split(const std::string &text, const std::string &by)
{
    std::vector<std::string> parts;
    size_t at = 0;
    for (size_t end; (end = text.find(by, at)) != std::string::npos; at = end + by.size())
        parts.push_back(text.substr(at, end - at));
    parts.push_back(text.substr(at));
    return parts;
}

// One finished rider of "results.txt": its row and its passes (seconds after the drop, -1 none).
struct Finisher {
    std::string number;
    int laps;
    double total;
    std::vector<double> passes;
};

std::vector<Finisher> parse_results(const std::string &text)
{
    std::vector<std::string> lines = split(text, "\r\n");
    std::vector<Finisher> out;
    size_t k = 2;
    for (; k < lines.size() && !lines[k].empty(); k++) {
        Finisher f;
        char number[16];
        int m, s, ms;
        if (sscanf(lines[k].c_str(), "%15s | %*s | %d | %d:%d.%d", number, &f.laps, &m, &s, &ms) != 5)
            break;
        f.number = number;
        f.total = m * 60 + s + ms / 1000.0;
        out.push_back(f);
    }
    for (Finisher &f : out) {
        k++;                        // the empty line before each list
        int count = k < lines.size() ? atoi(lines[k++].c_str()) : 0;
        while ((int)f.passes.size() < count && k < lines.size()) {
            std::istringstream in(lines[k++]);
            double v;
            while (in >> v)
                f.passes.push_back(v);
        }
    }
    return out;
}

class SimRace : public ::testing::Test {
protected:
    std::string root, home;
    Timing *timing = nullptr;

    void SetUp() override
    {
        root = sim_make_home("sksimrace");
        ASSERT_FALSE(root.empty());
        home = root + "/Skorva/";
        timing = (Timing *)xcalloc(1, sizeof(Timing));
        std::string bytes = read_file(std::string(SK_GAME_DATA_DIR) + "/tracks/practice/timing_gates");
        DataFile *f = open_memory_data_file(bytes.data(), bytes.size(), false);
        ASSERT_TRUE(timing_parse(timing, f, 0));
        close_data_file(f);
    }
    void TearDown() override
    {
        timing_clear(timing);
        xfree(timing);
        sim_remove_home(root);
    }
    // Runs skorva-sim on the practice track; returns what it printed.
    std::string sim(const std::string &args) { return sim_run(root, "--track tracks/practice --quiet " + args); }
    float centre_distance(int from, int to) const
    {
        const Vec3 &a = timing->checkpoints[position_checkpoint(timing, from)].centre;
        const Vec3 &b = timing->checkpoints[position_checkpoint(timing, to)].centre;
        return hypotf(b.x - a.x, b.z - a.z);
    }
    // The normal lap's length through the centres of its checkpoints.
    double loop_length() const
    {
        double length = 0;
        for (int k = 0; k < timing->normal_count; k++)
            length += centre_distance(timing->first_count + k, timing->first_count + k + 1);
        return length;
    }
    int lap_end(int lap) const { return lap_end_position(timing, lap); }
};

TEST_F(SimRace, PuppetsLapInTheLoopLengthOverTheirSpeed)
{
    // No --tics: a race runs until its results are final.
    std::string out = sim("--bikes 3 --puppets 40,36,32 --laps 3");
    EXPECT_NE(out.find("Final Results"), std::string::npos) << out;
    std::vector<Finisher> riders = parse_results(read_file(home + "results.txt"));
    ASSERT_EQ(riders.size(), 3u) << out;
    const double speeds[3] = { 40, 36, 32 };    // finishing in that order
    for (int r = 0; r < 3; r++) {
        EXPECT_EQ(riders[r].laps, 3);
        ASSERT_EQ((int)riders[r].passes.size(), lap_end(3) + 1);
        for (int lap = 2; lap <= 3; lap++) {
            double time = riders[r].passes[lap_end(lap)] - riders[r].passes[lap_end(lap - 1)];
            EXPECT_NEAR(time, loop_length() / speeds[r], 2 / 128.0 + 0.001) << r << " lap " << lap;
        }
    }
    EXPECT_EQ(out.find("penalized"), std::string::npos) << out;

    // 1 minute and no extra laps: the laps ended before the minute, then one more
    out = sim("--bikes 3 --puppets 40,36,32 --minutes 1 --laps 0 --tics 40000");
    std::string text = read_file(home + "results.txt");
    EXPECT_EQ(text.rfind("Time=60.00|Laps=0|Track=tracks/practice|Date=", 0), 0u) << text;
    riders = parse_results(text);
    ASSERT_FALSE(riders.empty()) << out;
    int ends_before = 0;
    for (int lap = 1; lap_end(lap) < (int)riders[0].passes.size(); lap++)
        ends_before += riders[0].passes[lap_end(lap)] < 60;
    EXPECT_EQ(riders[0].laps, ends_before + 1);
}

TEST_F(SimRace, ACuttingPuppetIsPenalisedByTheOthersTimesOverTheStretch)
{
    // The generated checkpoints are wider than the bends the cut takes out: narrowed here (in
    // the home directory, which is searched first), the straight line misses two of them.
    for (int c = 0; c < timing->checkpoint_count; c++)
        timing->checkpoints[c].radius = 4;
    make_parent_dirs((home + "tracks/practice/").c_str());
    DataFile *f = open_data_file((home + "tracks/practice/timing_gates").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(timing_write(timing, f));
    close_data_file(f);

    std::string out = sim("--bikes 3 --puppets 40,36,32c --laps 3 --tics 40000");
    std::vector<Finisher> riders = parse_results(read_file(home + "results.txt"));
    ASSERT_EQ(riders.size(), 3u) << out;
    const Finisher &cutter = riders[2];
    int d = timing->first_count, c = timing->normal_count;
    int missed = 0;
    for (double v : cutter.passes)
        missed += v < 0;
    EXPECT_EQ(missed, 4) << "entries 3 and 4 of laps 2 and 3";

    double penalty = 0;
    for (int lap = 2; lap <= 3; lap++) {
        int g = d + (lap - 2) * c + 2, j = g + 3;
        ASSERT_LT(cutter.passes[g + 1], 0);
        double own = cutter.passes[j] - cutter.passes[g];
        double sum = 0;
        for (int r = 0; r < 2; r++) {
            double laps_sum = 0;
            for (int k = 2; k <= 3; k++)
                laps_sum += riders[r].passes[d + (k - 2) * c + 5] - riders[r].passes[d + (k - 2) * c + 2];
            sum += laps_sum / 2;
        }
        double reference = sum / 2 + 1;
        EXPECT_LT(own, reference);
        penalty += reference - own;
    }
    char head[32];
    snprintf(head, sizeof head, "%3s penalized ", cutter.number.c_str());
    size_t at = out.find(head);
    ASSERT_NE(at, std::string::npos) << out;
    double shown = -1;
    char rest[64] = "";
    ASSERT_EQ(sscanf(out.c_str() + at + strlen(head), "%lf %63[^\n]", &shown, rest), 2);
    EXPECT_STREQ(rest, "seconds for cutting track");
    EXPECT_NEAR(shown, penalty, 0.006);
    EXPECT_NEAR(cutter.total, cutter.passes.back() + penalty, 0.006) << "times printed to the millisecond";
}

TEST_F(SimRace, APuppetStandingStillHoldsTheRaceOpen)
{
    std::string out = sim("--bikes 2 --puppets 40,0 --laps 1 --tics 8000");
    EXPECT_NE(out.find("race not over"), std::string::npos) << out;
    EXPECT_NE(out.find("Unofficial Results"), std::string::npos) << "the moving puppet finished\n" << out;
    EXPECT_FALSE(std::filesystem::exists(home + "results.txt"));
}

TEST(PuppetList, SpeedsWithCutsOrNothing)
{
    float speeds[4];
    bool cuts[4];
    ASSERT_EQ(puppets_parse("40,36.5c,0", speeds, cuts, 4), 3);
    EXPECT_EQ(speeds[1], 36.5f);
    EXPECT_FALSE(cuts[0]);
    EXPECT_TRUE(cuts[1]);
    EXPECT_EQ(speeds[2], 0);
    for (const char *bad : { "", "40,", ",40", "40x", "40cc", "-5", "nan", "1,2,3,4,5", "1e9" })
        EXPECT_EQ(puppets_parse(bad, speeds, cuts, 4), -1) << bad;
}

} // namespace
