// Lines learned in skorva-sim races on the generated practice track: puppets' laps become lines
// in the home directory's file, which the next session reads back.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "common/mem.h"
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

// Lines of each slot in a lines file: the per-slot counts, in order; empty when unreadable.
std::vector<int> slot_counts(const std::string &text)
{
    std::vector<int> counts;
    int slots = 0, used = 0;
    const char *p = text.c_str();
    if (sscanf(p, "ct03 %d%n", &slots, &used) != 1)
        return counts;
    p += used;
    for (int s = 0; s < slots; s++) {
        int n;
        if (sscanf(p, " %d%n", &n, &used) != 1)
            return {};
        p += used;
        counts.push_back(n);
        for (int e = 0; e < n; e++) {
            int count;
            if (sscanf(p, " %d %*d %*d %*d %*d %*d %*d %*d %*d%n", &count, &used) != 1)
                return {};
            p += used;
            for (int k = 0; k < count; k++) {
                const char *end = strchr(p + 1, '\n');
                if (!end)
                    return {};
                p = end;
            }
        }
    }
    return counts;
}

class SimLines : public ::testing::Test {
protected:
    std::string root, home;
    int slots = 0;

    void SetUp() override
    {
        root = sim_make_home("sklines");
        ASSERT_FALSE(root.empty());
        home = root + "/Skorva/";
        Timing *t = (Timing *)xcalloc(1, sizeof(Timing));
        std::string bytes = read_file(std::string(SK_GAME_DATA_DIR) + "/tracks/practice/timing_gates");
        DataFile *f = open_memory_data_file(bytes.data(), bytes.size(), false);
        ASSERT_TRUE(timing_parse(t, f, 0));
        close_data_file(f);
        slots = t->first_counting + t->normal_counting;
        timing_clear(t);
        xfree(t);
    }
    void TearDown() override
    {
        sim_remove_home(root);
    }
    std::string sim(const std::string &args)
    {
        return sim_run(root, "--track tracks/practice --quiet --tics 40000 --log '" + root + "/log.txt' " + args);
    }
    // An amateur lines file with no lines at all, in the home directory where it comes first.
    void empty_store()
    {
        std::string text = "ct03 " + std::to_string(slots) + "\n";
        for (int s = 0; s < slots; s++)
            text += "0\n";
        std::string dir = home + "tracks/practice";
        ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
        FILE *f = fopen((dir + "/lines_amateur").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs(text.c_str(), f);
        fclose(f);
    }
};

TEST_F(SimLines, PuppetsLapsBecomeLinesThatTheNextSessionReads)
{
    empty_store();
    sim("--bikes 2 --laps 2 --puppets 40,30 --learn --skill 1");
    std::vector<int> counts = slot_counts(read_file(home + "tracks/practice/lines_amateur"));
    ASSERT_EQ((int)counts.size(), slots);
    // Every section both rode and whose end they passed holds both puppets' lines; the last
    // section of the race ends at the finish and is never judged.
    int full = 0;
    for (int n : counts)
        full += n == 2;
    EXPECT_GE(full, slots - 1);

    // The same ride again: the lines come back from the file, so every candidate is a duplicate.
    sim("--bikes 2 --laps 2 --puppets 40,30 --learn --skill 1 --debug");
    EXPECT_EQ(slot_counts(read_file(home + "tracks/practice/lines_amateur")), counts);
    EXPECT_NE(read_file(root + "/log.txt").find("rejected (duplicate)"), std::string::npos);
}

TEST_F(SimLines, WithoutLearningNothingIsWritten)
{
    sim("--bikes 1 --laps 1 --puppets 40");
    EXPECT_EQ(read_file(home + "tracks/practice/lines_amateur"), "");
}

// An Expert robot alone on the sample track keeps to its lines closely enough that, after one
// race of three laps, every section of the lap has a trial: the next session's designation in
// the mode that needs one trial gives a whole lap near the robot's own (about 86 s), where a
// section without a trial would add thousands of seconds.
TEST_F(SimLines, ALoneExpertEarnsATrialInEverySectionOfTheLap)
{
    sim_run(root, "--track tracks/sample --quiet --tics 60000 --bikes 1 --laps 3 --skill 2 --learn");
    sim_run(root, "--track tracks/sample --quiet --tics 10 --bikes 1 --skill 2 --debug --log '" + root + "/log.txt'");
    std::string log = read_file(root + "/log.txt");
    double lap = -1;
    for (size_t at = log.find("Normal lap: "); at != std::string::npos; at = log.find("Normal lap: ", at + 1))
        lap = atof(log.c_str() + at + 12);         // modes 0, 1, 2 in order: the last one counts
    EXPECT_GT(lap, 60) << log;
    EXPECT_LT(lap, 100) << log;
}

}  // namespace
