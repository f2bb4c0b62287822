// Timing gates: the file, the lap order rules, pass lists, gate passing, lap times, the cutting
// penalty and the running order.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>

#include "common/mem.h"
#include "race/timing.h"
#include "vfs/vfs.h"

static Timing *parse_text(const std::string &text, bool *valid = nullptr)
{
    Timing *t = (Timing *)xcalloc(1, sizeof(Timing));
    DataFile *f = open_memory_data_file(text.data(), text.size(), false);
    bool v = timing_parse(t, f, 0);
    close_data_file(f);
    if (valid)
        *valid = v;
    return t;
}

static void free_timing(Timing *t)
{
    timing_clear(t);
    xfree(t);
}

// n checkpoints along +x, 100 ft apart, radius 10, facing +x.
static std::string straight_checkpoints(int n)
{
    std::string s = "checkpoints:\n";
    for (int i = 0; i < n; i++)
        s += "10 [ " + std::to_string(100 * i) + " 0 0 ] [ 1 0 0 ]\n";
    return s;
}

static std::string list(const char *word, int from, int to)
{
    std::string s = std::string(word) + "\n";
    for (int i = from; i <= to; i++)
        s += std::to_string(i) + " ";
    return s + "\n";
}

TEST(TimingFile, GatesOnlyGiveStartPositionsAndNoTiming)
{
    bool valid = true;
    Timing *t = parse_text("startinggate:\n[ 1 2 3 ] 0.5\n[4 5 6] 7.0 @a.jm @a.png @a.shp\n", &valid);
    EXPECT_FALSE(valid);
    ASSERT_EQ(t->gate_count, 2);
    EXPECT_EQ(t->gates[0].x, 1);
    EXPECT_EQ(t->gates[0].z, 3);
    EXPECT_STREQ(t->gates[0].model, "@startgate.jm");
    EXPECT_STREQ(t->gates[0].texture, "@startgate.ppm");
    EXPECT_STREQ(t->gates[0].shape, "@startgate.shp");
    // 7.0 - 2 pi
    EXPECT_NEAR(t->gates[1].heading, 0.7168147f, 1e-6f);
    EXPECT_STREQ(t->gates[1].model, "@a.jm");
    EXPECT_STREQ(t->gates[1].shape, "@a.shp");
    EXPECT_EQ(t->checkpoint_count, 0);
    free_timing(t);
}

TEST(TimingFile, HeadingsWrapIntoPlusMinusPi)
{
    EXPECT_NEAR(wrap_heading(7.0f), 0.7168147f, 1e-6f);
    EXPECT_NEAR(wrap_heading(-4.0f), -4.0f + 2 * (float)M_PI, 1e-6f);
    EXPECT_NEAR(wrap_heading(1.0f), 1.0f, 1e-6f);
    EXPECT_EQ(wrap_heading(NAN), 0.0f);
}

TEST(TimingFile, ValidLapOrderIsCounted)
{
    bool valid = false;
    Timing *t = parse_text(straight_checkpoints(10) + list("firstlap:", 0, 9) + list("normallap:", 2, 9), &valid);
    EXPECT_TRUE(valid);
    EXPECT_EQ(t->checkpoint_count, 10);
    EXPECT_EQ(t->first_count, 10);
    EXPECT_EQ(t->normal_count, 8);
    EXPECT_EQ(t->first_counting, 10);
    EXPECT_EQ(t->checkpoints[3].centre.x, 300);
    EXPECT_EQ(t->checkpoints[3].radius, 10);
    free_timing(t);
}

TEST(TimingFile, ShortNormalLapMeansNoTiming)
{
    bool valid = true;
    Timing *t = parse_text(straight_checkpoints(4) + "firstlap:\n0 1 2\nnormallap:\n1 2\n", &valid);
    EXPECT_FALSE(valid);
    EXPECT_EQ(t->first_count, 3);
    EXPECT_EQ(t->normal_count, 2);
    free_timing(t);
}

TEST(TimingFile, EntriesAreClampedAndMarked)
{
    Timing *t = parse_text(straight_checkpoints(3) + "firstlap:\n7 100005 -4 1 200001\nnormallap:\n0 1 2\n");
    ASSERT_EQ(t->first_count, 5);
    EXPECT_EQ(t->first[0], 2);                  // min(7, 2)
    EXPECT_EQ(t->first[1], 100002);             // min(5, 2), not counting
    EXPECT_EQ(t->first[2], 0);                  // negative: checkpoint 0
    EXPECT_EQ(t->first[4], 100001);
    EXPECT_EQ(t->first_counting, 3);
    EXPECT_TRUE(t->valid);
    EXPECT_EQ(position_checkpoint(t, 1), 2);
    EXPECT_EQ(position_entry(t, 1), 100002);
    free_timing(t);
}

TEST(TimingFile, TooFewCountingEntriesMeansNoTiming)
{
    Timing *t = parse_text(straight_checkpoints(3) + "firstlap:\n0 100001 100002 1\nnormallap:\n0 1 2\n");
    EXPECT_EQ(t->first_count, 4);
    EXPECT_EQ(t->first_counting, 2);
    EXPECT_FALSE(t->valid);
    free_timing(t);
}

TEST(TimingFile, OneCheckpointTakesNegativeEntriesAsCheckpointZero)
{
    Timing *t = parse_text("checkpoints:\n5 [ 0 0 0 ] [ 0 0 1 ]\nfirstlap:\n-1 -1 -1\nnormallap:\n-3 0 -2\n");
    EXPECT_TRUE(t->valid);
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(t->first[k], 0);
        EXPECT_EQ(t->normal[k], 0);
    }
    GatePasses p = {};
    EXPECT_EQ(gate_passing_step(t, &p, 0, 1, 50), 0);
    passes_free(&p);
    free_timing(t);
}

TEST(TimingFile, LapOrderWithoutCheckpointsIsInvalid)
{
    Timing *t = parse_text("checkpoints:\nfirstlap:\n-1 0 1 2\nnormallap:\n0 1 2\n");
    EXPECT_EQ(t->checkpoint_count, 0);
    EXPECT_FALSE(t->valid);
    EXPECT_EQ(position_entry(t, 0), -1);
    GatePasses p = {};
    EXPECT_EQ(gate_passing_step(t, &p, 0, 0, 50), -1);
    free_timing(t);
}

TEST(TimingFile, GarbageNeverCrashes)
{
    unsigned seed = 12345;
    for (int round = 0; round < 200; round++) {
        std::string text = round % 2 ? "startinggate:\n" : "checkpoints:\n";
        int n = 1 + round * 7;
        for (int i = 0; i < n; i++) {
            seed = seed * 1103515245u + 12345u;
            const char pieces[] = "[] 0123456789.-e \n\tx\0";
            text.push_back(pieces[(seed >> 16) % (sizeof pieces - 1)]);
        }
        Timing *t = parse_text(text);
        EXPECT_LE(t->gate_count, k_max_start_gates);
        EXPECT_LE(t->checkpoint_count, k_max_checkpoints);
        free_timing(t);
    }
}

TEST(TimingFile, TablesStopAtTheirLimits)
{
    std::string text = "startinggate:\n";
    for (int i = 0; i < 170; i++)
        text += "[ 0 0 0 ] 0\n";
    text += straight_checkpoints(300) + list("firstlap:", 0, 299) + list("normallap:", 0, 9);
    Timing *t = parse_text(text);
    EXPECT_EQ(t->gate_count, 160);
    EXPECT_EQ(t->checkpoint_count, 256);
    EXPECT_EQ(t->first_count, 256);
    EXPECT_EQ(t->first[255], 255);
    EXPECT_EQ(t->normal_count, 10);         // the lists after the long one still read
    EXPECT_TRUE(t->valid);
    free_timing(t);
}

struct TimingSave : ::testing::Test {
    std::string root;
    void SetUp() override
    {
        root = (std::filesystem::temp_directory_path() / "sk_timing_XXXXXX").string();
        ASSERT_NE(mkdtemp(root.data()), nullptr);
        std::filesystem::create_directories(root + "/data");
        setenv("SK_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
        vfs_reset_for_tests();
    }
    void TearDown() override
    {
        vfs_reset_for_tests();
        std::filesystem::remove_all(root);
    }
};

TEST_F(TimingSave, WrittenFileReadsBackEqual)
{
    Timing *a = parse_text("startinggate:\n[ 1.5 2 3 ] 0.25\n[ 4 5 6 ] -1 @gate2.jm @gate2.png @gate2.shp\n" +
                           straight_checkpoints(5) + "firstlap:\n0 1 100002 3 4\nnormallap:\n1 2 3 4 0\n");
    ASSERT_TRUE(a->valid);
    ASSERT_TRUE(timing_save(a, "tracks/x"));
    char *text = file_to_string("@tracks/x/timing_gates");
    ASSERT_NE(text, nullptr);
    const std::string head = "startinggate:\n[1.500000 2.000000 3.000000] 0.250000\n[4.000000 ";
    EXPECT_EQ(std::string(text).substr(0, head.size()), head);
    EXPECT_NE(strstr(text, "-1.000000 @gate2.jm @gate2.png @gate2.shp\n"), nullptr);
    EXPECT_NE(strstr(text, "checkpoints:\n10.000000 [0.000000 0.000000 0.000000] [1.000000 0.000000 0.000000]\n"), nullptr);
    EXPECT_NE(strstr(text, "firstlap:\n0 1 100002 3 4 \nnormallap:\n1 2 3 4 0 \n"), nullptr);
    DataFile *f = open_data_file("@tracks/x/timing_gates", "rb");
    Timing *b = (Timing *)xcalloc(1, sizeof(Timing));
    EXPECT_TRUE(timing_parse(b, f, 0));
    close_data_file(f);
    ASSERT_EQ(b->gate_count, a->gate_count);
    for (int i = 0; i < a->gate_count; i++) {
        EXPECT_EQ(b->gates[i].x, a->gates[i].x);
        EXPECT_EQ(b->gates[i].y, a->gates[i].y);
        EXPECT_EQ(b->gates[i].z, a->gates[i].z);
        EXPECT_EQ(b->gates[i].heading, a->gates[i].heading);
        EXPECT_STREQ(b->gates[i].model, a->gates[i].model);
        EXPECT_STREQ(b->gates[i].texture, a->gates[i].texture);
        EXPECT_STREQ(b->gates[i].shape, a->gates[i].shape);
    }
    ASSERT_EQ(b->checkpoint_count, a->checkpoint_count);
    EXPECT_EQ(0, memcmp(b->checkpoints, a->checkpoints, sizeof(Checkpoint) * a->checkpoint_count));
    ASSERT_EQ(b->first_count, a->first_count);
    ASSERT_EQ(b->normal_count, a->normal_count);
    EXPECT_EQ(0, memcmp(b->first, a->first, sizeof(int) * a->first_count));
    EXPECT_EQ(0, memcmp(b->normal, a->normal, sizeof(int) * a->normal_count));
    EXPECT_EQ(b->first_counting, 4);
    xfree(text);
    free_timing(a);
    free_timing(b);
}

TEST(Laps, CompletedAtTheLapBoundaries)
{
    Timing *t = parse_text(straight_checkpoints(10) + list("firstlap:", 0, 9) + list("normallap:", 2, 9));
    ASSERT_EQ(t->first_count, 10);
    ASSERT_EQ(t->normal_count, 8);
    EXPECT_EQ(laps_completed(t, 9), 0);
    EXPECT_EQ(laps_completed(t, 10), 1);
    EXPECT_EQ(laps_completed(t, 17), 1);
    EXPECT_EQ(laps_completed(t, 18), 2);
    EXPECT_EQ(laps_completed(t, 26), 3);
    EXPECT_TRUE(position_ends_lap(t, 9));
    EXPECT_FALSE(position_ends_lap(t, 10));
    EXPECT_TRUE(position_ends_lap(t, 17));
    EXPECT_TRUE(position_ends_lap(t, 25));
    EXPECT_EQ(lap_end_position(t, 3), 25);
    EXPECT_EQ(position_checkpoint(t, 10), 2);    // the normal lap starts
    EXPECT_EQ(position_checkpoint(t, 18), 2);
    free_timing(t);
}

TEST(PassList, GrowsTruncatesAndReportsMinusOne)
{
    GatePasses p = {};
    EXPECT_EQ(gate_pass_time(&p, 0), -1);
    set_gate_pass(&p, 5, 700);
    EXPECT_EQ(p.count, 6);
    for (int k = 0; k < 5; k++)
        EXPECT_EQ(gate_pass_time(&p, k), -1);
    EXPECT_EQ(gate_pass_time(&p, 5), 700);
    EXPECT_EQ(gate_pass_time(&p, 6), -1);
    EXPECT_EQ(gate_pass_time(&p, -1), -1);
    set_gate_pass(&p, 200, 900);
    EXPECT_EQ(p.count, 201);
    EXPECT_EQ(gate_pass_time(&p, 5), 700);
    truncate_passes(&p, 3);
    EXPECT_EQ(p.count, 3);
    EXPECT_EQ(gate_pass_time(&p, 5), -1);
    truncate_passes(&p, 10);                    // never grows
    EXPECT_EQ(p.count, 3);
    set_gate_pass(&p, -2, 5);
    EXPECT_EQ(p.count, 3);
    passes_free(&p);
    EXPECT_EQ(p.count, 0);
    EXPECT_EQ(gate_pass_time(nullptr, 0), -1);
}

// D = 4 (checkpoints 0..3), C = 4 (checkpoints 4..7): lap ends at positions 3, 7, 11, ...
static Timing *two_loop_timing(void)
{
    return parse_text(straight_checkpoints(8) + list("firstlap:", 0, 3) + list("normallap:", 4, 7));
}

static void pass_up_to(GatePasses *p, int last, int tic0)
{
    for (int k = 0; k <= last; k++)
        set_gate_pass(p, k, tic0 + 100 * k);
    p->next = last + 1;
}

TEST(GatePassing, InsideMeansWithinTheRadiusOnTheForwardSide)
{
    Checkpoint c = { v3(100, 0, 50), v3(1, 0, 0), 10 };
    EXPECT_TRUE(checkpoint_inside(&c, 100, 50));
    EXPECT_TRUE(checkpoint_inside(&c, 106, 58));     // 6, 8: exactly on the rim
    EXPECT_FALSE(checkpoint_inside(&c, 107, 58));
    EXPECT_FALSE(checkpoint_inside(&c, 99, 50));      // behind the line
}

TEST(GatePassing, MissedPositionsAreSkippedUpToTwoAhead)
{
    Timing *t = parse_text(straight_checkpoints(10) + list("firstlap:", 0, 9) + list("normallap:", 2, 9));
    GatePasses p = {};
    pass_up_to(&p, 4, 0);
    EXPECT_EQ(gate_passing_step(t, &p, 801, 0, 5000), -1);    // position 8: three ahead
    EXPECT_EQ(gate_passing_step(t, &p, 701, 0, 5000), 7);
    EXPECT_EQ(p.next, 8);
    EXPECT_EQ(gate_pass_time(&p, 7), 5000);
    EXPECT_EQ(gate_pass_time(&p, 5), -1);
    EXPECT_EQ(gate_pass_time(&p, 6), -1);
    // going back through a missed checkpoint counts it
    EXPECT_EQ(gate_passing_step(t, &p, 501, 0, 5100), 5);
    EXPECT_EQ(p.next, 6);
    EXPECT_EQ(gate_pass_time(&p, 5), 5100);
    passes_free(&p);
    free_timing(t);
}

// A rider who skipped position 6 and passed 7 may still ride back through 6, two behind the
// next position, and have it counted; then it goes on from 7.
TEST(GatePassing, AMissedPositionTwoBackIsPassedOnTheWayBack)
{
    Timing *t = parse_text(straight_checkpoints(10) + list("firstlap:", 0, 9) + list("normallap:", 2, 9));
    GatePasses p = {};
    pass_up_to(&p, 5, 0);
    EXPECT_EQ(gate_passing_step(t, &p, 701, 0, 5000), 7);     // p + 1: 6 is missed
    EXPECT_EQ(p.next, 8);
    EXPECT_EQ(gate_passing_step(t, &p, 501, 0, 5050), -1) << "5 was passed: not again";
    EXPECT_EQ(gate_passing_step(t, &p, 601, 0, 5100), 6);
    EXPECT_EQ(gate_pass_time(&p, 6), 5100);
    EXPECT_EQ(gate_pass_time(&p, 7), 5000);
    EXPECT_EQ(p.next, 7);
    passes_free(&p);
    free_timing(t);
}

TEST(GatePassing, PassedCheckpointsBehindAreNotPassedAgain)
{
    Timing *t = parse_text(straight_checkpoints(10) + list("firstlap:", 0, 9) + list("normallap:", 2, 9));
    GatePasses p = {};
    pass_up_to(&p, 7, 0);
    EXPECT_EQ(gate_passing_step(t, &p, 501, 0, 5000), -1);
    EXPECT_EQ(p.next, 8);
    EXPECT_EQ(gate_pass_time(&p, 5), 500);
    passes_free(&p);
    free_timing(t);
}

TEST(GatePassing, AnUnpassedLapEndIsNeverSkipped)
{
    Timing *t = two_loop_timing();
    GatePasses p = {};
    pass_up_to(&p, 1, 0);                                     // next is 2; position 3 ends lap 1
    EXPECT_EQ(gate_passing_step(t, &p, 401, 0, 900), -1);      // position 4 (p + 2)
    EXPECT_EQ(p.count, 2);
    EXPECT_EQ(gate_passing_step(t, &p, 301, 0, 900), 3);       // the lap end itself (p + 1)
    EXPECT_EQ(laps_completed(t, p.count), 1);
    passes_free(&p);
    free_timing(t);
}

TEST(GatePassing, NoTimingNoPasses)
{
    Timing *t = parse_text(straight_checkpoints(4) + "firstlap:\n0 1 2\nnormallap:\n1 2\n");
    GatePasses p = {};
    EXPECT_EQ(gate_passing_step(t, &p, 1, 0, 10), -1);
    EXPECT_EQ(p.count, 0);
    free_timing(t);
}

TEST(LapTimes, FromTheGateDropAndBetweenLapEnds)
{
    Timing *t = two_loop_timing();
    GatePasses p = {};
    set_gate_pass(&p, 3, 2000);
    set_gate_pass(&p, 7, 2900);
    set_gate_pass(&p, 11, 3700);
    EXPECT_EQ(lap_time_tics(t, &p, 1, 1000), 1000);
    EXPECT_EQ(lap_time_tics(t, &p, 2, 1000), 900);
    EXPECT_EQ(lap_time_tics(t, &p, 3, 1000), 800);
    EXPECT_EQ(lap_time_tics(t, &p, 4, 1000), -1);
    EXPECT_EQ(lap_time_tics(t, &p, 0, 1000), -1);
    EXPECT_EQ(split_time(&p, 3, 11), 1700);
    EXPECT_EQ(split_time(&p, 2, 11), -1);
    passes_free(&p);
    free_timing(t);
}

TEST(CuttingPenalty, FirstLapStretchAgainstTheOthersMean)
{
    Timing *t = parse_text(straight_checkpoints(10) + list("firstlap:", 0, 9) + list("normallap:", 2, 9));
    GatePasses bike = {}, a = {}, b = {};
    for (int k = 0; k <= 4; k++)
        set_gate_pass(&bike, k, 100 * k);
    set_gate_pass(&bike, 7, 700);              // 5 and 6 cut: 300 tics from 4 to 7
    for (int k = 0; k <= 8; k++) {
        set_gate_pass(&a, k, k <= 4 ? 100 * k : 400 + 200 * (k - 4));  // 4 to 7 in 600
        set_gate_pass(&b, k, k <= 4 ? 100 * k : 400 + 800 * (k - 4) / 3);
    }
    ASSERT_EQ(split_time(&b, 4, 7), 800);
    const GatePasses *others[2] = { &a, &b };
    // (600 + 800) / 2 + 128 - 300
    EXPECT_DOUBLE_EQ(cutting_penalty(t, &bike, others, 2), 528.0);
    // a rider that missed 5 has no record of the stretch
    GatePasses c = {};
    pass_up_to(&c, 8, 0);
    c.tics[5] = -1;
    const GatePasses *with_gap[3] = { &a, &b, &c };
    EXPECT_DOUBLE_EQ(cutting_penalty(t, &bike, with_gap, 3), 528.0);
    // nobody to compare with: 60 s + 1 s
    EXPECT_DOUBLE_EQ(cutting_penalty(t, &bike, nullptr, 0), 60 * 128 + 128 - 300.0);
    passes_free(&bike);
    passes_free(&a);
    passes_free(&b);
    passes_free(&c);
    free_timing(t);
}

TEST(CuttingPenalty, LaterLapStretchUsesEveryLapOfTheOthers)
{
    Timing *t = two_loop_timing();
    GatePasses bike = {}, a = {}, b = {};
    pass_up_to(&bike, 5, 0);
    set_gate_pass(&bike, 7, 600);              // 6 cut: 100 tics from 5 to 7
    // a: 5 -> 7 in 200, 9 -> 11 in 300; b: 5 -> 7 in 350
    int at[12] = { 0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1100, 1200 };
    for (int k = 0; k < 12; k++)
        set_gate_pass(&a, k, at[k]);
    for (int k = 0; k < 8; k++)
        set_gate_pass(&b, k, k <= 5 ? 100 * k : 500 + 175 * (k - 5));
    const GatePasses *others[2] = { &a, &b };
    // ((200 + 300) / 2 + 350) / 2 + 128 - 100
    EXPECT_DOUBLE_EQ(cutting_penalty(t, &bike, others, 2), 328.0);
    // slower than the reference: no penalty
    GatePasses slow = {};
    pass_up_to(&slow, 5, 0);
    set_gate_pass(&slow, 7, 2000);
    EXPECT_DOUBLE_EQ(cutting_penalty(t, &slow, others, 2), 0.0);
    passes_free(&bike);
    passes_free(&a);
    passes_free(&b);
    passes_free(&slow);
    free_timing(t);
}

TEST(RunningOrder, MorePositionsThenEarlierPassThenLowerSlot)
{
    GatePasses p[6] = {};
    set_gate_pass(&p[0], 2, 300);     // 3 positions, last at 300
    set_gate_pass(&p[1], 4, 500);     // 5 positions
    set_gate_pass(&p[3], 2, 250);     // 3 positions, earlier
    set_gate_pass(&p[4], 2, 300);     // ties with slot 0
    set_gate_pass(&p[5], 4, 450);     // 5 positions, earlier than slot 1
    const GatePasses *passes[7] = { &p[0], &p[1], nullptr, &p[3], &p[4], &p[5], &p[2] };
    RunningEntry order[7];
    ASSERT_EQ(running_order_build(passes, 7, order), 6);
    const int expected[6] = { 5, 1, 3, 0, 4, 6 };
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(order[i].slot, expected[i]) << i;
    EXPECT_EQ(order[5].positions, 0);
    EXPECT_EQ(order[5].last_tic, -1);
    for (GatePasses &g : p)
        passes_free(&g);
}
