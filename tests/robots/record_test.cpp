// Learning and judging lines from scripted rides through a real session: bikes are moved by
// hand along -z at 30 ft/s and their checkpoint passes are set as the gate passing would.
#include <gtest/gtest.h>

#include "../race/race_fixture.h"
#include "race/robot_hooks.h"
#include "race/session_steps.h"
#include "robots/lines.h"
#include "robots/record.h"
#include "robots/robots.h"
#include "common/mem.h"

namespace {

const float k_speed = 30;

class Recording : public RaceTrack {
protected:
    void SetUp() override
    {
        RaceTrack::SetUp();
        robots_install();
    }
    void TearDown() override
    {
        RaceTrack::TearDown();
        robot_hooks_install(nullptr);
    }

    BikeState *bike(int slot) { return rider_slot(slot)->bike; }
    Vec3 frame(int slot)
    {
        const dReal *p = dBodyGetPosition(bike(slot)->body[BODY_FRAME]);
        return v3((float)p[0], (float)p[1], (float)p[2]);
    }
    // One tic for the slots: each moves 30 ft/s along -z (offset x for the first), passes
    // 'position' when it is not -1, and records.
    void tic(const std::vector<int> &slots, int position, float offset_x = 0)
    {
        for (int slot : slots) {
            BikeState *b = bike(slot);
            move_bike(b, 0, 0, -k_speed / 128);
            if (offset_x != 0 && slot == slots[0])
                move_bike(b, offset_x, 0, 0);
            dBodySetLinearVel(b->body[BODY_FRAME], 0, 0, -k_speed);
            GatePasses *p = passes(slot);
            int expected = p->next, passed = -1;
            if (position >= 0) {
                set_gate_pass(p, position, race_tic());
                p->next = position + 1;
                passed = position;
            }
            lines_record(slot, passed, expected);
        }
    }
    // Rides from now until 'after_drop' and passes the position then.
    void ride_to(const std::vector<int> &slots, int position, int after_drop, float offset_x = 0)
    {
        while (race_tic() < k_drop + after_drop) {
            tic(slots, -1);
            set_race_tic(race_tic() + 1);
        }
        tic(slots, position, offset_x);
        set_race_tic(race_tic() + 1);
    }
    int filled(int slot)
    {
        int n = 0;
        for (int i = 0; i < k_line_entries; i++)
            n += line_entry(slot, i)->count > 0;
        return n;
    }
    // A line along the slot's own path ahead of it, as the autopilot would ride it.
    void give_path(int slot, int points)
    {
        RobotPath *path = robot_path(slot);
        path->points = (LinePoint *)xrealloc(path->points, (size_t)points * sizeof(LinePoint));
        path->room = points;
        path->count = points;
        Vec3 f = frame(slot);
        for (int i = 0; i < points; i++)
            path->points[i] = { f.x, f.y, f.z - 7.5f * i, k_speed, 0 };
        path->target = 2;
    }
};

TEST_F(Recording, HumanLapOnAnEmptyStoreFillsEachSectionItFinished)
{
    requests[0] = REQUEST_PLAYER;
    ASSERT_TRUE(load());
    set_race_tic(k_drop);
    ASSERT_EQ(lines_store_slots(), k_d + k_c);  // every checkpoint counts
    for (int k = 0; k <= 5; k++)
        ride_to({ 0 }, k, 200 * (k + 1));
    for (int s = 0; s <= 4; s++)
        EXPECT_EQ(filled(section_slot(s)), 1) << "section " << s;
    EXPECT_EQ(filled(section_slot(5)), 0);      // its end was never passed
    const LineEntry *e = line_entry(1, 0);
    EXPECT_EQ(e->recorded_time, 200);
    EXPECT_EQ(e->best_time, 400);
    EXPECT_NEAR(e->count, 200 / 32, 1);
    EXPECT_FLOAT_EQ(fabsf(e->points[0].speed), k_speed);
    // Section 0 runs from the session's start.
    EXPECT_EQ(line_entry(0, 0)->recorded_time, k_drop + 200);
}

TEST_F(Recording, SkippedPositionsLearnNothing)
{
    requests[0] = REQUEST_PLAYER;
    ASSERT_TRUE(load());
    set_race_tic(k_drop);
    ride_to({ 0 }, 0, 200);
    ride_to({ 0 }, 2, 400);     // position 1 skipped
    ride_to({ 0 }, 3, 600);
    EXPECT_EQ(filled(0), 0);
    EXPECT_EQ(filled(1), 0);
    EXPECT_EQ(filled(2), 0);    // its long span lacks the pass of position 1
}

TEST_F(Recording, TheSameLineTwiceIsStoredOnce)
{
    requests[1] = requests[2] = REQUEST_ROBOT;
    ASSERT_TRUE(load());
    puppet_set(1, 30, false);
    puppet_set(2, 30, false);
    // Both in the same place, riding the same way.
    Vec3 a = frame(1), b = frame(2);
    move_bike(bike(2), a.x - b.x, a.y - b.y, a.z - b.z);
    set_race_tic(k_drop);
    for (int k = 0; k <= 2; k++)
        ride_to({ 1, 2 }, k, 200 * (k + 1));
    EXPECT_EQ(filled(0), 1);
    EXPECT_EQ(filled(1), 1);
}

TEST_F(Recording, AFullSlotTakesANewLineOnlyWhenItIsMuchFaster)
{
    for (int long_span : { 401, 400 }) {
        requests[0] = REQUEST_PLAYER;
        ASSERT_TRUE(load());
        // 45 lines starting close together, none tried: each expects 5/4 of its best time, and
        // entry 7, the slowest, 500 tics.
        LinePoint pts[2] = { { 0, 0, 0, 20, 0 }, { 0, 0, -5, 20, 0 } };
        for (int i = 0; i < k_line_entries; i++) {
            pts[0].x = pts[1].x = 0.01f * i;
            line_fill(line_entry(1, i), pts, 2, 100, i == 7 ? 400 : 320);
        }
        int before = line_entry(1, 7)->identity;
        set_race_tic(k_drop);
        ride_to({ 0 }, 0, 100);
        ride_to({ 0 }, 1, 300);
        ride_to({ 0 }, 2, 100 + long_span);
        bool replaced = line_entry(1, 7)->identity != before;
        // Replaced only when the new long span is at most 4/5 of the expected 500.
        EXPECT_EQ(replaced, long_span <= 400) << long_span;
        EXPECT_EQ(filled(1), 45);
        free_riders();
    }
}

class RobotTrials : public Recording {
protected:
    int line[3] = {};
    void SetUp() override
    {
        Recording::SetUp();
        requests[0] = REQUEST_ROBOT;
        ASSERT_TRUE(load());
        LinePoint pts[2] = { { 0, 0, 0, 30, 0 }, { 0, 0, -5, 30, 0 } };
        for (int s = 0; s < 3; s++) {
            pts[0].x = pts[1].x = (float)s;
            line_fill(line_entry(s, 0), pts, 2, 100, 200);
            line[s] = line_entry(s, 0)->identity;
            lines_note_pick(0, s, line[s]);
        }
        give_path(0, 200);
        set_race_tic(k_drop);
        ride_to({ 0 }, 0, 200);
        ride_to({ 0 }, 1, 400);
    }
};

TEST_F(RobotTrials, APassOnItsPathCreditsTheSectionBefore)
{
    ride_to({ 0 }, 2, 700);
    const LineEntry *e = line_entry(1, 0);
    EXPECT_EQ(e->trials, 1);
    EXPECT_EQ(e->failures, 0);
    EXPECT_EQ(e->best_trial[0], 200);
    EXPECT_EQ(e->best_trial[1], 500);
    EXPECT_EQ(e->trial_sum[0], 200);
    EXPECT_EQ(e->trial_sum[1], 500);
    EXPECT_EQ(line_entry(2, 0)->trials + line_entry(2, 0)->failures, 0);
    EXPECT_EQ(filled(0) + filled(1) + filled(2), 3);    // a robot's ride adds no line
}

TEST_F(RobotTrials, APassOffItsPathFailsTheSectionItEnds)
{
    ride_to({ 0 }, 2, 700, 5);
    EXPECT_EQ(line_entry(2, 0)->failures, 1);
    EXPECT_EQ(line_entry(1, 0)->trials, 0);
    // Everything pending was forgotten: the next good pass books nothing.
    ride_to({ 0 }, 3, 900, -5);
    EXPECT_EQ(line_entry(2, 0)->trials, 0);
    EXPECT_EQ(line_entry(2, 0)->failures, 1);
}

TEST_F(RobotTrials, TooFastForTheLineFails)
{
    for (int i = 0; i < robot_path(0)->count; i++)
        robot_path(0)->points[i].speed = 27;     // 30 x 0.9375 = 28.1 is too fast for it
    ride_to({ 0 }, 2, 700);
    EXPECT_EQ(line_entry(2, 0)->failures, 1);
    EXPECT_EQ(line_entry(1, 0)->trials, 0);
}

TEST_F(RobotTrials, ABikeContactLeavesTheLinesAsTheyWere)
{
    lines_bike_contact(0);
    ride_to({ 0 }, 2, 700);
    EXPECT_EQ(line_entry(1, 0)->trials, 0);
    EXPECT_EQ(line_entry(1, 0)->failures, 0);
}

TEST_F(RobotTrials, StoppingFailsTheSectionBeingRidden)
{
    at(600);            // 200 tics after passing position 1
    dBodySetLinearVel(bike(0)->body[BODY_FRAME], 0, 0, 0);
    lines_record(0, -1, passes(0)->next);
    EXPECT_EQ(line_entry(2, 0)->failures, 1);   // riding section 2
    EXPECT_EQ(line_entry(1, 0)->failures, 0);
}

TEST_F(RobotTrials, TroubleJustAfterACheckpointBlamesTheSectionBeforeToo)
{
    at(450);            // 50 tics after passing position 1
    dBodySetLinearVel(bike(0)->body[BODY_FRAME], 0, 0, 0);
    lines_record(0, -1, passes(0)->next);
    EXPECT_EQ(line_entry(2, 0)->failures, 1);
    EXPECT_EQ(line_entry(1, 0)->failures, 1);
}

}  // namespace
