// The line store on its own: its file, the statistics' range, crossing lines, pruning, the
// expected time and the eviction choice.
#include <gtest/gtest.h>

#include <string>

#include "../terrain/terrain_fixture.h"
#include "robots/lines.h"
#include "robots/robots.h"

namespace {

// A straight line of n points from (x, 0, z) going +z, 1 ft apart, at the given speed.
std::string line_text(int n, float x, float z, float speed)
{
    std::string s;
    char buf[128];
    for (int i = 0; i < n; i++) {
        snprintf(buf, sizeof buf, "[%f %f %f] %f %f\n", x, 0.0, z + i, speed, 0.0);
        s += buf;
    }
    return s;
}

std::string header(int count, int recorded, int best, int trials, int fail, int sum_short = 0, int sum_long = 0)
{
    char buf[160];
    snprintf(buf, sizeof buf, "%d %d %d %d %d %d %d %d %d\n", count, recorded, best, trials, 1000000, 1000000, sum_short,
             sum_long, fail);
    return buf;
}

std::string empty_slots(int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += "0\n";
    return s;
}

class LinesFile : public TerrainFiles {
protected:
    void TearDown() override
    {
        lines_store_free();
        TerrainFiles::TearDown();
    }
    // Loads the given file text as "tracks/a"'s amateur lines for 3 first-lap and 3 shared slots.
    void load(const std::string &text)
    {
        put("tracks/a/lines_amateur", text);
        load_lines("tracks/a", 3, 3, 1);
    }
    int filled(int slot)
    {
        int n = 0;
        for (int i = 0; i < k_line_entries; i++)
            n += line_entry(slot, i)->count > 0;
        return n;
    }
};

TEST_F(LinesFile, WrittenStoreReadsBackTheSame)
{
    ASSERT_TRUE(lines_store_create(3, 3));
    LinePoint pts[3] = { { 1.5f, 2.25f, -3, 30, 0.125f }, { 2, 2, -4, -31.5f, -0.25f }, { 3, 2, -5, 32, 0 } };
    ASSERT_TRUE(line_fill(line_entry(0, 0), pts, 3, 500, 900));
    ASSERT_TRUE(line_fill(line_entry(4, 7), pts, 2, 600, 1100));
    LineEntry *e = line_entry(4, 7);
    e->trials = 6;
    e->failures = 2;
    e->best_trial[0] = 580;
    e->best_trial[1] = 1050;
    e->trial_sum[0] = 3600;
    e->trial_sum[1] = 6600;
    ASSERT_TRUE(save_lines("tracks/a", 2));
    ASSERT_EQ(read_home("tracks/a/lines_expert").rfind("ct03 6\n", 0), 0u);

    load_lines("tracks/a", 3, 3, 2);
    ASSERT_EQ(filled(0), 1);
    ASSERT_EQ(filled(4), 1);
    const LineEntry *a = line_entry(0, 0);
    ASSERT_EQ(a->count, 3);
    EXPECT_EQ(a->recorded_time, 500);
    EXPECT_EQ(a->best_time, 900);
    EXPECT_EQ(a->trials, 0);
    EXPECT_FLOAT_EQ(a->points[1].speed, -31.5f);    // airborne stays airborne
    EXPECT_FLOAT_EQ(a->points[1].lean, -0.25f);
    EXPECT_FLOAT_EQ(a->points[0].y, 2.25f);
    // Entries are written in order without gaps: entry 7 comes back as the slot's first.
    const LineEntry *b = line_entry(4, 0);
    ASSERT_EQ(b->count, 2);
    EXPECT_EQ(b->trials, 6);
    EXPECT_EQ(b->failures, 2);
    EXPECT_EQ(b->best_trial[0], 580);
    EXPECT_EQ(b->best_trial[1], 1050);
    EXPECT_EQ(b->trial_sum[0], 3600);
    EXPECT_EQ(b->trial_sum[1], 6600);
    EXPECT_NE(a->identity, 0);
    EXPECT_NE(a->identity, b->identity);
}

TEST_F(LinesFile, AnotherTracksSectionCountLeavesTheStoreEmpty)
{
    load("ct03 5\n1\n" + header(2, 100, 200, 0, 0) + line_text(2, 0, 0, 20) + empty_slots(4));
    ASSERT_TRUE(lines_store_exists());
    for (int s = 0; s < 6; s++)
        EXPECT_EQ(filled(s), 0);
}

TEST_F(LinesFile, EntriesPastFortyFiveAreReadAndDropped)
{
    std::string text = "ct03 6\n" + empty_slots(3) + "47\n";
    for (int i = 0; i < 47; i++)
        text += header(2, 100 + i, 200 + i, 0, 0) + line_text(2, (float)(3 * i), 0, 20);
    text += "1\n" + header(3, 77, 88, 0, 0) + line_text(3, 0, 0, 20) + "0\n";
    load(text);
    EXPECT_EQ(filled(3), 45);       // a shared slot is never pruned
    EXPECT_EQ(line_entry(3, 44)->recorded_time, 144);
    // The slot after it still lines up with its own entry.
    ASSERT_EQ(filled(4), 1);
    EXPECT_EQ(line_entry(4, 0)->count, 3);
    EXPECT_EQ(line_entry(4, 0)->recorded_time, 77);
}

TEST_F(LinesFile, StatisticsComeBackIntoRange)
{
    struct Case {
        int trials, failures, sum_short, sum_long;
        int want_trials, want_failures, want_short, want_long;
    } cases[] = {
        { 200000, 0, 200000000, 400000000, 50000, 0, 50000000, 100000000 },
        { 10, 3, 5000, 9000, 10, 3, 5000, 9000 },
        { -4, -7, -100, -900, 0, 0, 0, 0 },                      // hostile: nothing below 0
        { 0, 1000000, 0, 0, 0, 62500, 0, 0 },                    // no trials: only failures halve
        // One halving leaves 1 trial and a sum still too large; halving again would leave no
        // trials, so the sum is capped instead.
        { 3, 0, 300, 2000000000, 1, 0, 100, 100000000 },
    };
    for (const Case &c : cases) {
        LineEntry e = {};
        e.trials = c.trials;
        e.failures = c.failures;
        e.trial_sum[0] = c.sum_short;
        e.trial_sum[1] = c.sum_long;
        line_reduce_statistics(&e);
        EXPECT_EQ(e.trials, c.want_trials) << c.trials;
        EXPECT_EQ(e.failures, c.want_failures) << c.trials;
        EXPECT_EQ(e.trial_sum[0], c.want_short) << c.trials;
        EXPECT_EQ(e.trial_sum[1], c.want_long) << c.trials;
    }
}

TEST_F(LinesFile, HostilePointCountsAreNeverAllocated)
{
    std::string slot0 = "4\n" + header(-5, 1, 2, 0, 0) +                      // reads no points
                        header(2147483647, 1, 2, 0, 0) + line_text(1, 0, 0, 20) +    // then runs out
                        header(2, 1, 2, 0, 0) + line_text(2, 9, 0, 20);
    load("ct03 6\n" + slot0 + empty_slots(5));
    EXPECT_EQ(filled(0), 0);

    std::string ok = "ct03 6\n2\n" + header(-1, 1, 2, 0, 0) + header(2, 10, 20, 0, 0) + line_text(2, 4, 0, 20) +
                     "1\n" + header(65537, 1, 2, 0, 0) + line_text(2, 0, 0, 20) + empty_slots(4);
    load(ok);
    ASSERT_EQ(filled(0), 1);        // the entry after the negative count still reads
    EXPECT_EQ(line_entry(0, 1)->recorded_time, 10);
    EXPECT_EQ(filled(1), 0);        // too many points claimed: empty, and the file stops there
}

TEST_F(LinesFile, UnparsablePointsLeaveTheEntryEmpty)
{
    load("ct03 6\n1\n" + header(3, 1, 2, 0, 0) + "[1 2 3] 4 5\n[1 2 3] nan 0\n[1 2 3] 4 5\n" + empty_slots(5));
    EXPECT_EQ(filled(0), 0);
}

// ---- crossing and pruning

LinePoint P(float x, float z) { return { x, 0, z, 20, 0 }; }

TEST(LineCrossing, SidesDecideAndZeroCountsAsOneSide)
{
    struct Case {
        LinePoint a, b, c, d;
        bool cross;
    } cases[] = {
        { P(0, 0), P(2, 2), P(0, 2), P(2, 0), true },      // an X
        { P(0, 0), P(1, 0), P(2, 1), P(2, -1), false },    // apart
        { P(0, 0), P(2, 0), P(1, 0), P(1, 1), false },     // touching from the 0-or-above side
        { P(0, 0), P(2, 0), P(1, -1), P(1, 0), true },     // touching from below: the sides differ
        { P(0, 0), P(2, 0), P(1, 0), P(3, 0), false },     // collinear and overlapping
    };
    for (const Case &c : cases)
        EXPECT_EQ(segments_cross(&c.a, &c.b, &c.c, &c.d), c.cross) << c.c.x << "," << c.c.z;
}

TEST_F(LinesFile, PruningThinsFirstLapSlotsOnly)
{
    // 45 parallel lines 1 ft apart in first-lap slot 0 and in shared slot 3; entry 9's long best
    // time makes it the one evicted.
    std::string parallel = "45\n";
    for (int i = 0; i < 45; i++)
        parallel += header(10, 100, i == 9 ? 5000 : 1000, 0, 0) + line_text(10, (float)i, 0, 20);
    load("ct03 6\n" + parallel + empty_slots(2) + parallel + empty_slots(2));
    EXPECT_EQ(filled(0), 44);       // nothing crosses: only the eviction
    EXPECT_EQ(line_entry(0, 9)->count, 0);
    EXPECT_EQ(filled(3), 45);

    // Entry 0 runs across all the others: it goes first, then the eviction.
    std::string crossing = "45\n" + header(2, 100, 100, 0, 0) + "[-1 0 0] 20 0\n[50 0 9] 20 0\n";
    for (int i = 1; i < 45; i++)
        crossing += header(10, 100, i == 9 ? 5000 : 1000, 0, 0) + line_text(10, (float)i, 0, 20);
    load("ct03 6\n" + crossing + empty_slots(5));
    EXPECT_EQ(filled(0), 43);
    EXPECT_EQ(line_entry(0, 0)->count, 0);
    EXPECT_EQ(line_entry(0, 9)->count, 0);
}

// ---- expected time and eviction

class LineStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lines_store_create(3, 3)); }
    void TearDown() override { lines_store_free(); }
    // An entry starting at (x, 0, 0) with the given statistics.
    LineEntry *put(int slot, int i, float x, int best, int trials, int failures, int sum_long)
    {
        LinePoint pts[2] = { P(x, 0), P(x, 5) };
        LineEntry *e = line_entry(slot, i);
        line_fill(e, pts, 2, best / 2, best);
        e->trials = trials;
        e->failures = failures;
        e->trial_sum[1] = sum_long;
        return e;
    }
};

TEST_F(LineStore, ExpectedTimeCostsFailuresAndFavoursLoneLines)
{
    put(0, 0, 0, 800, 0, 0, 0);
    put(0, 1, 1, 800, 0, 3, 0);
    put(0, 2, 0.5f, 0, 4, 4, 4000);
    put(0, 3, 100, 800, 0, 0, 0);           // nobody starts within 2 ft of it
    EXPECT_EQ(line_expected_time(0, 0, true), 1000);        // 5/4 of the best time
    EXPECT_EQ(line_expected_time(0, 1, true), 1640);        // and 5 s for having failed
    EXPECT_EQ(line_expected_time(0, 2, true), 320 + 1000);  // failure share of 5 s + mean long span
    EXPECT_EQ(line_expected_time(0, 3, true), 750);         // lone: 3/4
    EXPECT_EQ(line_expected_time(0, 3, false), 1000);
    EXPECT_EQ(line_expected_time(0, 4, true), k_line_empty_expected);
}

TEST_F(LineStore, EvictionSparesReliableLinesUntilMostAreReliable)
{
    for (int i = 0; i < 45; i++)
        put(1, i, 0.01f * i, 1000, 0, 0, 0);
    put(1, 5, 0.05f, 1000, 10, 0, 90000);   // reliable and slowest: spared while few are reliable
    put(1, 6, 0.06f, 1100, 0, 0, 0);
    EXPECT_EQ(choose_eviction(1), 6);
    for (int i = 10; i < 32; i++)
        put(1, i, 0.01f * i, 1000, 5, 1, 5000);
    // 23 reliable lines now: the slowest of all goes.
    EXPECT_EQ(choose_eviction(1), 5);
    // Ties go to the first entry.
    put(1, 5, 0.05f, 1000, 0, 0, 0);
    put(1, 6, 0.06f, 1000, 0, 0, 0);
    EXPECT_EQ(choose_eviction(1), 0);
}

TEST_F(LineStore, NoEvictionWhenEveryLineIsReliableButFew)
{
    for (int i = 0; i < 3; i++)
        put(2, i, 0.5f * i, 1000, 5, 1, 5000);
    EXPECT_EQ(choose_eviction(2), -1);
}

TEST_F(LineStore, SectionsMapToTheirSlots)
{
    int want[] = { 0, 1, 2, 3, 4, 5, 3, 4, 5, 3 };
    for (int s = 0; s < 10; s++)
        EXPECT_EQ(section_slot(s), want[s]) << s;
    EXPECT_EQ(section_slot(-1), -1);
}

// A rider stopped beside the lines turns towards the fastest line four points on, into the
// next section's line past its end; from a line's last point the next section decides.
TEST_F(LineStore, StandstillTargetFourPointsOnAlongTheFastestLine)
{
    LinePoint six[6], three[3];
    for (int i = 0; i < 6; i++)
        six[i] = P(10.0f * i, 0);
    for (int i = 0; i < 3; i++)
        three[i] = P(100, 10.0f * (i + 1));
    line_fill(line_entry(0, 0), six, 6, 400, 800);
    LinePoint slow[6];
    for (int i = 0; i < 6; i++)
        slow[i] = P(10.0f * i, 50);
    line_fill(line_entry(0, 1), slow, 6, 800, 1600);        // slower: never chosen
    line_fill(line_entry(1, 0), three, 3, 400, 800);
    struct Case {
        int section;
        float x, z;
        bool found;
        float tx, tz;
    };
    const Case cases[] = {
        { 0, 1, 3, true, 40, 0 },           // nearest point 0: point 4
        { 0, 1, 45, true, 40, 0 },          // nearer the slower line, still along the fastest
        { 0, 31, -2, true, 100, 20 },       // nearest 3: 3 + 4 - 6 = point 1 of the next line
        { 0, 49, 1, true, 100, 10 },        // nearest 5, the last: section 1 decides; past its end
                                            // section 2 has no line: its nearest point itself
        { 1, 99, 9, true, 100, 10 },
        { 1, 100, 31, false, 0, 0 },        // from the last point on into section 2: no line
        { 2, 0, 0, false, 0, 0 },
    };
    for (const Case &c : cases) {
        float tx = -1, tz = -1;
        bool found = line_standstill_target(c.section, c.x, c.z, &tx, &tz);
        EXPECT_EQ(found, c.found) << c.section << " " << c.x;
        if (found && c.found) {
            EXPECT_EQ(tx, c.tx) << c.section << " " << c.x;
            EXPECT_EQ(tz, c.tz) << c.section << " " << c.x;
        }
    }
}

}  // namespace
