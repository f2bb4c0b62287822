// Choosing lines: expected times by mode, the link rule, chains round a hand-built lap,
// designation, section scores, the fit on to a path and the pick itself.
#include <gtest/gtest.h>

#include <math.h>

#include <string>
#include <vector>

#include "../terrain/terrain_fixture.h"
#include "robots/lines.h"
#include "robots/pick.h"

namespace {

LineEntry stats(int trials, int failures, int sum_short)
{
    LineEntry e = {};
    e.trials = trials;
    e.failures = failures;
    e.trial_sum[0] = sum_short;
    return e;
}

TEST(LineTime, EachModeWeighsFailuresItsOwnWay)
{
    struct Case {
        int mode, trials, failures, sum;
        double want;
    } cases[] = {
        { 0, 4, 0, 400, 1000000 },                              // too few trials to judge
        { 0, 5, 0, 1000, 200 },
        { 0, 6, 2, 1200, 2.0 / 8 * 640 + 200 },
        { 1, 6, 2, 1200, (16.0 / 7) / (6 + 16.0 / 7) * 640 + 200 },
        { 2, 0, 3, 0, 1000000 },
        { 2, 1, 1, 100, 4.0 / 5 * 640 + 100 },                  // one trial is enough, failures x 4
        { 3, 0, 0, 0, 0 },                                      // never ridden: explored first
        { 3, 1, 0, 80, 1 * 1000 + 4000 },
        { 3, 3, 1, 240, 3 * 1000 + 4000 },                      // 3 + 4 = 7: three bits
        { 3, 1, 5, 80, 100000 },                                // mostly failing
        { 0, -7, -3, -100, 1000000 },                           // hostile statistics
    };
    for (const Case &c : cases) {
        LineEntry e = stats(c.trials, c.failures, c.sum);
        EXPECT_NEAR(line_time(&e, c.mode), c.want, 1e-6) << c.mode << " " << c.trials << " " << c.failures;
    }
}

TEST(LineLinks, CircleCentres)
{
    double cx, cz;
    circle_centre(1, 0, 0, 1, -1, 0, &cx, &cz);
    EXPECT_NEAR(cx, 0, 1e-9);
    EXPECT_NEAR(cz, 0, 1e-9);
    // Nearly in line: far away on the first pair's bisector, in lengths of the first segment.
    circle_centre(0, 0, 2, 0, 4, 1e-12, &cx, &cz);
    EXPECT_DOUBLE_EQ(cx, 1);
    EXPECT_DOUBLE_EQ(cz, 2000000);
}

// A line of points every 10 degrees on a circle round the origin, from angle 'from' (degrees).
std::vector<LinePoint> arc(float radius, int from, int points, float speed = 30)
{
    std::vector<LinePoint> v;
    for (int i = 0; i < points; i++) {
        float a = (from + 10 * i) * 3.14159265f / 180;
        v.push_back({ radius * cosf(a), 0, radius * sinf(a), speed, 0 });
    }
    return v;
}

LineEntry entry_of(std::vector<LinePoint> &points)
{
    LineEntry e = {};
    e.points = points.data();
    e.count = (int)points.size();
    return e;
}

TEST(LineLinks, ALineRunsOnIntoOneThatContinuesItsCurve)
{
    std::vector<LinePoint> a = arc(50, 0, 6);
    LineEntry ea = entry_of(a);
    struct Case {
        float radius, speed;
        bool link;
    } cases[] = {
        { 50, 30, true },
        { 52, 30, true },       // within 2.5 ft of the circle
        { 53, 30, false },
        { 50, 15, true },       // 15 ft/s slower at the start is still a link
        { 50, 14.5f, false },
    };
    for (const Case &c : cases) {
        std::vector<LinePoint> b = arc(c.radius, 60, 4, c.speed);
        LineEntry eb = entry_of(b);
        EXPECT_EQ(lines_link(&ea, &eb), c.link) << c.radius << " " << c.speed;
    }
    // Straight on: a centre far away still accepts a line 2 ft to the side and refuses 3 ft.
    std::vector<LinePoint> s = { { 0, 0, 0, 30, 0 }, { 0, 0, 10, 30, 0 }, { 0, 0, 20, 30, 0 } };
    LineEntry es = entry_of(s);
    for (float side : { 2.0f, 3.0f }) {
        std::vector<LinePoint> b = { { side, 0, 30, 30, 0 }, { side, 0, 40, 30, 0 } };
        LineEntry eb = entry_of(b);
        EXPECT_EQ(lines_link(&es, &eb), side < 2.5f) << side;
    }
    // Too short to have a curve, or to go anywhere.
    std::vector<LinePoint> two = arc(50, 0, 2), one = arc(50, 60, 1);
    LineEntry e2 = entry_of(two), e1 = entry_of(one);
    std::vector<LinePoint> b = arc(50, 20, 3);
    LineEntry eb = entry_of(b);
    EXPECT_FALSE(lines_link(&e2, &eb));
    EXPECT_FALSE(lines_link(&ea, &e1));
}

// A hand-built store round a circular lap: 3 first-lap and 3 shared sections of 120 degrees,
// two lanes (radius 50 and 60) that never link to each other.
class HandBuiltLap : public TerrainFiles {
protected:
    std::vector<LinePoint> pts[6][2];
    int lane_entry[2] = { 0, 1 };

    void SetUp() override
    {
        TerrainFiles::SetUp();
        ASSERT_TRUE(lines_store_create(3, 3));
        for (int s = 0; s < 6; s++)
            for (int lane = 0; lane < 2; lane++) {
                pts[s][lane] = arc(lane == 0 ? 50.0f : 60.0f, 120 * (s % 3), 12);
                LineEntry *e = line_entry(s, lane);
                line_fill(e, pts[s][lane].data(), 12, 100, 200);
                set(s, lane, 5, 0, lane == 0 ? 100 : 90);
            }
    }
    void TearDown() override
    {
        lines_store_free();
        TerrainFiles::TearDown();
    }
    // Per-trial time 'each' (tics) over 'trials' trials, with failures.
    void set(int slot, int lane, int trials, int failures, int each)
    {
        LineEntry *e = line_entry(slot, lane);
        e->trials = trials;
        e->failures = failures;
        e->trial_sum[0] = trials * each;
    }
    int id(int slot, int lane) { return line_entry(slot, lane)->identity; }
};

TEST_F(HandBuiltLap, ChainsFollowTheLinksRoundTheLap)
{
    std::vector<double> cost(k_line_entries * k_line_entries);
    std::vector<int> via(2 * k_line_entries * k_line_entries);
    chain_costs(3, 3, 0, cost.data(), via.data());
    EXPECT_DOUBLE_EQ(cost[0 * k_line_entries + 0], 300);   // lane 0 round to itself
    EXPECT_DOUBLE_EQ(cost[1 * k_line_entries + 1], 270);
    EXPECT_DOUBLE_EQ(cost[0 * k_line_entries + 1], k_chain_none);  // lanes never meet
    EXPECT_EQ(via[(2 - 1) * k_line_entries * k_line_entries + 1 * k_line_entries + 1], 1);
}

TEST_F(HandBuiltLap, DesignationTakesTheBestLapAndItsFirstLap)
{
    set(4, 1, 5, 5, 90);        // lane 1 fails half its runs in slot 4: 320 + 90
    designate_lines(1);
    for (int s = 0; s < 6; s++)
        EXPECT_EQ(designated_line(0, s), id(s, 0)) << s;
    std::string log = log_text();
    EXPECT_NE(log.find("Normal lap: 2.343750"), std::string::npos) << log;     // 300 tics
    EXPECT_NE(log.find("First lap: 2.343750"), std::string::npos) << log;
    // Mode 2 fears failures more, but lane 1 is still slower there.
    EXPECT_EQ(designated_line(2, 4), id(4, 0));
}

TEST_F(HandBuiltLap, LinesWithFewTrialsAreNeverDesignated)
{
    set(4, 0, 4, 0, 100);       // the best lap's line in slot 4 has too few trials ...
    set(4, 1, 4, 0, 90);
    designate_lines(0);
    // ... so both lanes cost 1000000 there: lane 1 wins by its other sections, and slot 4 has
    // no designated line.
    EXPECT_EQ(designated_line(0, 3), id(3, 1));
    EXPECT_EQ(designated_line(0, 4), 0);
    EXPECT_EQ(designated_line(0, 5), id(5, 1));
}

TEST_F(HandBuiltLap, DesignatedLinesGainTheirScoreFrom40To60Seconds)
{
    designate_lines(0);
    ASSERT_EQ(designated_line(0, 4), id(4, 1));
    set_designated_line(0, 4, id(4, 0));    // the slower lane designated, to watch it gain
    float scores[k_line_entries];
    // Over 8 sections lane 0 takes 800 tics, lane 1 720: 0.9 and 1.
    for (auto [seconds, want] : { std::pair{ 40, 0.9f }, std::pair{ 50, 0.95f }, std::pair{ 60, 1.0f } }) {
        section_scores(4, 0, seconds * 128, scores);
        EXPECT_NEAR(scores[0], want, 1e-5) << seconds;
        EXPECT_NEAR(scores[1], 1.0f, 1e-5);
        EXPECT_EQ(scores[2], 0);
    }
    // The first section lifts every score to 0.8 and above.
    section_scores(0, 0, 0, scores);
    EXPECT_NEAR(scores[0], 0.8f + 0.2f * 0.9f, 1e-5);
    EXPECT_NEAR(scores[2], 0.8f, 1e-5);
}

TEST_F(HandBuiltLap, PickTakesTheFirstOfEqualValuesAndHalvesALineTakenHalfAFadeAgo)
{
    int now = 100000;
    float scores[k_line_entries] = {}, match[k_line_entries] = {};
    scores[0] = 1.0f;
    scores[1] = 0.5f;
    line_entry(4, 0)->last_picked = now - 192;      // 1.5 s ago: half of its score
    line_entry(4, 1)->last_picked = 0;
    EXPECT_EQ(choose_line(4, scores, match, now, 0), 0);       // 0.5 against 0.5: the first
    EXPECT_EQ(line_entry(4, 0)->last_picked, now);
    // Just taken, it counts nothing; a match still counts in full.
    match[1] = 0.01f;
    EXPECT_EQ(choose_line(4, scores, match, now + 1, 0), 1);
}

TEST_F(HandBuiltLap, PickMarksLinesEndingNearTheWinner)
{
    std::vector<LinePoint> near_end = pts[4][0];
    near_end.back().x += 2;
    std::vector<LinePoint> far_end = pts[4][0];
    far_end.back().x += 4;
    line_fill(line_entry(4, 2), near_end.data(), (int)near_end.size(), 100, 200);
    line_fill(line_entry(4, 3), far_end.data(), (int)far_end.size(), 100, 200);
    float scores[k_line_entries] = { 1, 0.5f, 0.5f, 0.5f }, match[k_line_entries] = {};
    EXPECT_EQ(choose_line(4, scores, match, 5000, 0), 0);
    EXPECT_EQ(line_entry(4, 2)->last_picked, 5000);
    EXPECT_NE(line_entry(4, 3)->last_picked, 5000);
    EXPECT_NE(line_entry(4, 1)->last_picked, 5000);
}

TEST_F(HandBuiltLap, AnEmptySlotGivesNoLine)
{
    float scores[k_line_entries] = {}, match[k_line_entries] = {};
    for (int i = 0; i < 2; i++)
        line_clear(line_entry(2, i));
    EXPECT_EQ(choose_line(2, scores, match, 0, 0), -1);
    EXPECT_EQ(choose_line(9, scores, match, 0, 0), -1);
}

TEST(LineMatch, FitsOntoThePathOrNearTheFrame)
{
    std::vector<LinePoint> line = arc(50, 60, 4);
    LineEntry e = entry_of(line);
    // No path yet: by the distance from the frame to the line's start.
    LinePoint start = line[0];
    EXPECT_NEAR(line_match(&e, nullptr, 0, start.x + 4, 0, start.z), 10, 1e-4);
    EXPECT_NEAR(line_match(&e, nullptr, 0, start.x + 52, 0, start.z), 1.25f, 1e-4);
    EXPECT_EQ(line_match(&e, nullptr, 0, start.x + 200, 0, start.z), 0);
    // A path along the same circle, at the same speed: a full fit.
    std::vector<LinePoint> path = arc(50, 20, 4);
    EXPECT_NEAR(line_match(&e, path.data(), 4, 0, 0, 0), 1, 1e-4);
    // Far slower at its start than the path's end: no fit.
    for (LinePoint &p : path)
        p.speed = 50;
    EXPECT_NEAR(line_match(&e, path.data(), 4, 0, 0, 0), 0, 1e-6);
    // Off the path's circle by 3 ft: (5 - 3) x 0.2857 cubed.
    std::vector<LinePoint> wide = arc(53, 60, 4);
    LineEntry w = entry_of(wide);
    std::vector<LinePoint> same = arc(50, 20, 4);
    float a = 2 * 0.2857143f;
    EXPECT_NEAR(line_match(&w, same.data(), 4, 0, 0, 0), a * a * a, 1e-4);
}

}  // namespace
