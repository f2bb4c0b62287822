// The autopilot's parts as functions: the start, speed control, steering, lost mode and the
// path; and a robot without lines at the gate.
#include <gtest/gtest.h>

#include <math.h>

#include <vector>

#include "../bike/ride_fixture.h"
#include "../race/race_fixture.h"
#include "common/mem.h"
#include "common/mt.h"
#include "bike/steering.h"
#include "race/robot_hooks.h"
#include "race/session_steps.h"
#include "robots/autopilot.h"
#include "robots/pick.h"
#include "robots/robots.h"

namespace {

TEST(RobotStart, SeededPlansBlipOnlyBeforeT5AndLaunchWithinTheReaction)
{
    mt_seed(77);
    const float t5 = 5, drop = 13.5f;
    for (int robot = 0; robot < 200; robot++) {
        StartPlan plan = plan_start(t5, drop, 0.2f, 0.3f);
        ASSERT_GE(plan.blips, 1);
        EXPECT_LT(plan.blip_on[0], 2);
        EXPECT_GE(plan.launch, drop + 0.2f);
        EXPECT_LE(plan.launch, drop + 0.3f);
        EXPECT_GE(plan.rev_at, t5 + 0.125f);
        EXPECT_LT(plan.rev_at, t5 + 0.5f);
        bool revved = false;
        for (int tic = 0; tic < (int)((drop + 6) * 128); tic++) {
            float t = tic / 128.0f;
            RobotInputs in = {};
            bool starting = start_inputs(&plan, t, t5, drop, 1, &in);
            if (t < plan.launch) {
                ASSERT_TRUE(starting);
                EXPECT_EQ(in.front_brake, 1);
                EXPECT_EQ(in.clutch_engagement, 0);
                EXPECT_EQ(in.gear, 1);
                if (t >= t5 && t < plan.rev_at) {
                    ASSERT_EQ(in.throttle, 0) << "blip past T5 at " << t;
                }
                revved |= t >= plan.rev_at && in.throttle == 1;
            } else if (t < plan.launch + 2) {
                ASSERT_TRUE(starting);
                float k = fminf((t - plan.launch) * 4, 1);
                EXPECT_NEAR(in.clutch_engagement, k, 1e-5);
                EXPECT_NEAR(in.sit, 1 - k, 1e-5);
                EXPECT_EQ(in.front_brake, 0);
                EXPECT_EQ(in.auto_shift, k >= 0.75f);
            } else {
                EXPECT_FALSE(starting);
            }
        }
        EXPECT_TRUE(revved);
    }
    // The same seed draws the same start.
    mt_seed(77);
    StartPlan a = plan_start(t5, drop, 0.2f, 0.3f);
    mt_seed(77);
    StartPlan b = plan_start(t5, drop, 0.2f, 0.3f);
    EXPECT_EQ(a.launch, b.launch);
    EXPECT_EQ(a.blip_on[0], b.blip_on[0]);
}

TEST(RobotSpeed, ThrottleAndBrakesTowardsTheTargetSpeed)
{
    SpeedState ground = {};
    ground.gear = 2;
    struct Case {
        float d, m, throttle, brake;
    } cases[] = {
        { 30, 20, 1, 0 }, { 30, 29.25f, 0.75f, 0 }, { 30, 30.5f, 0, 0.5f }, { 30, 40, 0, 1 },
    };
    for (const Case &c : cases) {
        RobotInputs in = {};
        speed_control(c.d, c.m, &ground, &in);
        EXPECT_NEAR(in.throttle, c.throttle, 1e-6) << c.m;
        EXPECT_NEAR(in.front_brake, c.brake, 1e-6) << c.m;
        EXPECT_NEAR(in.rear_brake, c.brake, 1e-6) << c.m;
        EXPECT_EQ(in.clutch_engagement, 1);
    }
    // First gear slips the clutch near the down-shift speed.
    SpeedState first = ground;
    first.gear = 0;
    first.down_shift_rpm = 4000;
    first.rpm = 3500;
    RobotInputs in = {};
    speed_control(30, 10, &first, &in);
    EXPECT_NEAR(in.clutch_engagement, 0.5f, 1e-6);
    // In the air: nose dropping fast, throttle on to lift it; nose high, rear brake to drop it.
    SpeedState air = ground;
    air.rear_airborne = true;
    air.pitch_rate = -1;
    speed_control(30, 30, &air, &in);
    EXPECT_EQ(in.throttle, 1);
    EXPECT_EQ(in.clutch_engagement, 0.125f);
    air.pitch_rate = 0;
    air.front_above_rear = 1.5f;
    speed_control(30, 30, &air, &in);
    EXPECT_EQ(in.throttle, 0);
    EXPECT_EQ(in.rear_brake, 1);
    EXPECT_EQ(in.clutch_engagement, 0);
}

// Slow with the rear tyre spinning, the throttle halves from last tic's; riding, gripping or
// with the wheel in the air it is left alone.
TEST(RobotSpeed, ASpinningRearTyreAtWalkingPaceEasesTheThrottle)
{
    struct Case {
        float throttle, memory, v, slip;
        bool on_ground;
        float out;
    } cases[] = {
        { 1, 1, 1, 30, true, 0.5f },
        { 0.2f, 1, 1, 30, true, 0.2f },     // already lower
        { 1, 1, 9.5f, 30, true, 0.5f },
        { 1, 1, 10.5f, 30, true, 1 },       // riding pace: left to the speed control
        { 1, 1, 1, 6, true, 1 },            // gripping
        { 1, 1, 1, 30, false, 1 },          // in the air
    };
    for (const Case &c : cases)
        EXPECT_EQ(spin_guard(c.throttle, c.memory, c.v, c.slip, c.on_ground), c.out) << c.v << " " << c.slip;
}

TEST(RobotSpeed, ThrottleRisesSlowlyAndHoldsAfterAGripLimitedCorner)
{
    EXPECT_FLOAT_EQ(throttle_rate_limit(1, 0.5f, 1000, -100000), 0.5f + 1.0f / 32);
    EXPECT_FLOAT_EQ(throttle_rate_limit(0.2f, 0.5f, 1000, -100000), 0.2f);     // falls at once
    EXPECT_FLOAT_EQ(throttle_rate_limit(1, 0.5f, 1000, 990), 0.5f);            // 10 tics after
    EXPECT_FLOAT_EQ(throttle_rate_limit(1, 0.5f, 1000, 984), 0.5f + 1.0f / 32); // 16 tics after
}

TEST(RobotSteering, NaturalSteerDeadBands)
{
    EXPECT_EQ(natural_steer_term(0.03f, 0, 0), 0);                 // under 1/32: nothing
    EXPECT_NEAR(natural_steer_term(0.1f, 0, 0), 0.4f, 1e-6);        // e = 0.8, half of it
    EXPECT_NEAR(natural_steer_term(1, 0, 0), 2.0f / 3, 1e-6);       // w capped at 0.25, e = 2
    EXPECT_NEAR(natural_steer_term(-1, 0, 0), -2.0f / 3, 1e-6);
    EXPECT_EQ(natural_steer_term(0, 0, 1.0f / 3000), 0);           // rate under 1/2400
    EXPECT_NEAR(natural_steer_term(0, 0, 0.5f), -0.25f, 1e-6);
}

TEST(RobotSteering, OutputLeansTowardsTheTargetAndStaysFinite)
{
    // Upright on the ground, target lean to the right (negative): steer the other way first.
    float s = steering_output(-0.3f, 0, 0, 1, 0, false, 0, 0, 0, true, 0);
    EXPECT_GT(s, 0);
    EXPECT_LE(s, 1);
    // Front wheel in the air: only the natural-steer term.
    EXPECT_NEAR(steering_output(-0.3f, 0, 0, 1, 0, false, 0.1f, 0, 0, false, 0), 0.4f, 1e-6);
    // Sliding front wheel: no roll command at all.
    EXPECT_NEAR(steering_output(-0.3f, 0, 0, 1, 0, false, 0.1f, 0, 0, true, 5), 0.4f, 1e-6);
    // Many points straight ahead: no roll wanted.
    EXPECT_NEAR(steering_output(-0.3f, 0, 0, 1, 20, false, 0, 0, 0, true, 0), 0, 1e-6);
    EXPECT_TRUE(isfinite(steering_output(NAN, 0, 0, 1, 0, false, 0, 0, 0, true, 0)));
}

TEST(RobotLost, RidesTowardsTheTargetAndDragsStraight)
{
    LostRide ride;
    // Slow and upright: sit, small lean towards a target ahead-left.
    EXPECT_TRUE(lost_ride(-1, -10, 5, 0, &ride));
    EXPECT_EQ(ride.sit, 1);
    EXPECT_NEAR(ride.wanted_lean, 0.05f, 1e-6);
    EXPECT_EQ(ride.target_speed, 15);
    // Leaned over while slow: creep.
    lost_ride(-1, -10, 5, 0.3f, &ride);
    EXPECT_EQ(ride.target_speed, 5);
    // Target behind to the right at speed: the full limit to the right.
    EXPECT_FALSE(lost_ride(5, 10, 25, 0, &ride));
    EXPECT_NEAR(ride.wanted_lean, -0.5f, 1e-6);
    // Between 10 and 20 ft/s the limit grows: at 15, (0.5 x 2/3 x 0.5 + 1/3) / 2.
    lost_ride(-20, 1, 15, 0, &ride);
    EXPECT_NEAR(ride.wanted_lean, (0.5f * 0.1f * 10 * 2 / 3 + 1.0f / 3) * 0.5f, 1e-5);
    // Directly ahead: straight on, never 0/0.
    EXPECT_TRUE(lost_ride(0, -10, 25, 0, &ride));
    EXPECT_EQ(ride.wanted_lean, 0);
    lost_ride(0, 0, 25, 0, &ride);
    EXPECT_EQ(ride.wanted_lean, 0);
    EXPECT_NEAR(drag_steer(0.4f, 0), -0.1f, 1e-6);
    EXPECT_EQ(drag_steer(-8, 0), 1);
    // The drag: a standing wheel hauled with the full 2,000 lbf towards the target; at walking
    // pace already, nothing; at the target itself, nothing (never 0/0).
    float fx, fz;
    drag_force(0, 0, 30, -40, &fx, &fz);
    EXPECT_NEAR(fx, 1200, 1e-2);
    EXPECT_NEAR(fz, -1600, 1e-2);
    drag_force(3, -4, 30, -40, &fx, &fz);
    EXPECT_EQ(fx, 0);
    EXPECT_EQ(fz, 0);
    drag_force(1, 0, 0, 0, &fx, &fz);
    EXPECT_EQ(fx, 0);
    EXPECT_EQ(fz, 0);
    // Half a foot a second off the pace: a fifth of the strength, against the error.
    drag_force(0.5f, -5, 0, -40, &fx, &fz);
    EXPECT_NEAR(fx, -400, 1e-2);
    EXPECT_NEAR(fz, 0, 1e-2);
}

// A bike lying over waits for the rider's foot until it stands well up, not merely until it
// is back at the edge of lying over, where riding off tips it over again; a wait in vain is not
// begun again at once, or a pinned bike would lie there until the drag.
TEST(RobotLost, ALyingBikeWaitsUntilStoodWellUp)
{
    const int never = -100000;
    struct Case {
        int since, gave_up;
        float lean, v;
        int now;
        bool dragging;
        int since_after, gave_up_after;
    } cases[] = {
        { -1, never, 1.2f, 2, 1000, false, 1000, never },   // goes down: the wait starts
        { -1, never, -1.2f, 2, 1000, false, 1000, never },  // either side
        { -1, never, 1.2f, 15, 1000, false, 1000, never },  // sliding on its side: the wait starts
        { -1, never, 1.2f, 22, 1000, false, -1, never },    // fast enough to be cornering: it rides
        { -1, never, 0.9f, 2, 1000, false, -1, never },     // leaned, not lying over
        { -1, never, 1.2f, 2, 1000, true, -1, never },      // the drag is due: no waiting
        { 1000, never, 0.9f, 2, 1100, false, 1000, never }, // half stood up: waits on
        { 1000, never, -0.7f, 0, 1100, false, 1000, never },
        { 1000, never, 0.45f, 2, 1100, false, -1, never },  // well up: rides off
        { 1000, never, 0.9f, 2, 1000 + 3 * 128 + 1, false, -1, 1000 + 3 * 128 + 1 },  // waited 3 s: gives up
        { 1000, never, 0.9f, 2, 1000 + 3 * 128, false, 1000, never },
        { 1000, never, 0.9f, 2, 1100, true, -1, never },
        { -1, 1000, 1.2f, 2, 1000 + 2 * 128, false, -1, 1000 },     // just gave up: rides on
        { -1, 1000, 1.2f, 2, 1000 + 2 * 128 + 1, false, 1000 + 2 * 128 + 1, 1000 },  // then waits again
    };
    for (const Case &c : cases) {
        DownedWait w = { c.since, c.gave_up };
        downed_wait(&w, c.lean, c.v, c.now, c.dragging);
        EXPECT_EQ(w.since, c.since_after) << c.since << " " << c.lean << " " << c.v << " " << c.now << " " << c.dragging;
        EXPECT_EQ(w.gave_up, c.gave_up_after) << c.since << " " << c.lean << " " << c.now;
    }
}

// A lost robot that asks for throttle and goes nowhere for 1 s is wedged: it walks back for
// 1.5 s; wedged again, it walks its bike free for 4 s. Moving, or off the throttle, it never
// backs up.
TEST(RobotLost, AWedgedRobotBacksUpThenWalksItsBikeFree)
{
    BackingUp b = { -1, -1, 0, -1, -1, 0, -1, -1 };
    int first_back = -1, first_walk = -1, backing = 0, walking = 0;
    for (int now = 0; now < 8 * 128; now++) {
        Wedged w = backing_up(&b, 0.2f, 1, now);
        backing += w == WEDGED_BACK_UP;
        walking += w == WEDGED_WALK;
        if (w == WEDGED_BACK_UP && first_back < 0)
            first_back = now;
        if (w == WEDGED_WALK && first_walk < 0)
            first_walk = now;
    }
    EXPECT_EQ(first_back, 128);
    EXPECT_EQ(backing, 3 * 64);
    EXPECT_EQ(first_walk, 128 + 3 * 64 + 128);
    EXPECT_EQ(walking, 4 * 128);
    struct Case {
        float v, throttle;
    } never[] = { { 3, 1 }, { 0.2f, 0.3f }, { 0, 0 } };
    for (const Case &c : never) {
        BackingUp n = { -1, -1, 0, -1, -1, 0, -1, -1 };
        bool any = false;
        for (int now = 0; now < 5 * 128; now++)
            any |= backing_up(&n, c.v, c.throttle, now) != WEDGED_NO;
        EXPECT_FALSE(any) << c.v << " " << c.throttle;
    }
}

// Lost and moving about without getting nearer its target, a robot is caught in a knot of
// bikes: after 3 s it walks its bike free. Coming 3 ft nearer in time, it never does.
TEST(RobotLost, NoNearerForThreeSecondsWalksTheBikeFree)
{
    struct Case {
        float nearer;                   // ft/s towards the target (negative: away)
        int first_walk;                 // -1: none in 12 s
    } cases[] = { { 0, 3 * 128 + 1 }, { 0.5f, 3 * 128 + 1 }, { -2, 3 * 128 + 1 }, { 1.5f, -1 }, { 4, -1 } };
    for (const Case &c : cases) {
        BackingUp b = { -1, -1, 0, -1, -1, 0, -1, -1 };
        int first_walk = -1;
        for (int now = 0; now < 12 * 128 && first_walk < 0; now++) {
            lost_progress(&b, 60 - c.nearer * now / 128.0f, now);
            if (now < b.walk_until)
                first_walk = now;
        }
        EXPECT_EQ(first_walk, c.first_walk) << c.nearer;
        if (first_walk >= 0) {
            EXPECT_EQ(b.walk_until, first_walk + 4 * 128) << c.nearer;
        }
    }
}

// Hooked into another bike a lost robot was carried 60 ft off the track by it, and two slow
// followers held each other still: touching for 1 s, with breaks shorter than 1/8 s, a robot
// walks its bike free. Touches further apart are bumps.
TEST(RobotLost, TouchingAnotherBikeForOneSecondWalksTheBikeFree)
{
    struct Case {
        int touch, gap;                 // tics touching, then tics apart, repeated
        int first_walk;                 // -1: none in 5 s
    } cases[] = { { 1, 0, 128 }, { 8, 8, 128 }, { 8, 16, -1 }, { 0, 1, -1 } };
    for (const Case &c : cases) {
        BackingUp b = { -1, -1, 0, -1, -1, 0, -1, -1 };
        int first_walk = -1;
        for (int now = 0; now < 5 * 128 && first_walk < 0; now++) {
            bool began = hooked_walk(&b, now % (c.touch + c.gap) < c.touch, now);
            if (now < b.walk_until)
                first_walk = now;
            EXPECT_EQ(began, first_walk == now) << c.touch << " " << c.gap << " " << now;
        }
        EXPECT_EQ(first_walk, c.first_walk) << c.touch << " " << c.gap;
        if (first_walk >= 0) {
            EXPECT_EQ(b.walk_until, first_walk + 4 * 128) << c.touch << " " << c.gap;
        }
    }
}

TEST(RobotTraffic, FollowsTheBikeAheadAtADistanceThatGrowsAfterTheStart)
{
    BikeMotion self = { 0, 0, 0, -30 };
    bool slowed;
    struct Case {
        BikeMotion other;
        float race_time, want;
        bool slowed;
    } cases[] = {
        { { 0, -10, 0, -20 }, 60, 20 * (1 - 0.6f / 4), false },    // inside 16.8 ft: its speed, less
        { { 0, -10, 0, -20 }, 2, 20, false },                      // right after the start: 12 ft, its speed
        { { 0, -25, 0, -20 }, 60, 30 + 0.6f * (20 - 30), true },   // closing in: easing off
        { { 0, -40, 0, -20 }, 60, 30, false },                     // corridors apart
        { { 6, -10, 0, -20 }, 60, 30, false },                     // beside, in its own lane
        { { 0, 10, 0, -20 }, 60, 30, false },                      // behind
        { { 0, -10, 0, 0 }, 60, 30, false },                       // standing: not traffic
    };
    for (const Case &c : cases) {
        EXPECT_NEAR(traffic_speed(&self, 0, 32, &c.other, 1, c.race_time, 30, &slowed), c.want, 1e-4)
            << c.other.x << "," << c.other.z << " at " << c.race_time;
        EXPECT_EQ(slowed, c.slowed);
    }
    // Leaned into a turn the useful speed comes round the turning circle, and stays finite.
    BikeMotion ahead = { 0, -10, 0, -20 };
    float d = traffic_speed(&self, -0.4f, 32, &ahead, 1, 60, 30, &slowed);
    EXPECT_TRUE(isfinite(d));
    EXPECT_LE(d, 20);
}

std::vector<LinePoint> straight(float x0, float z0, int n, float step, float speed)
{
    std::vector<LinePoint> v;
    for (int i = 0; i < n; i++)
        v.push_back({ x0, 0, z0 - step * i, speed, 0 });
    return v;
}

TEST(RobotPathUpkeep, JunctionsAreSmoothAndNeverFaster)
{
    RobotPath path = {};
    std::vector<LinePoint> a = straight(0, 0, 20, 5, 40);
    LineEntry ea = {};
    ea.points = a.data();
    ea.count = 20;
    ASSERT_TRUE(path_append_line(&path, &ea));
    EXPECT_EQ(path.count, 25);          // five copies of the first point lead in
    // The next line starts 3 ft to the side, slower.
    std::vector<LinePoint> b = straight(3, -100, 10, 5, 30);
    LineEntry eb = {};
    eb.points = b.data();
    eb.count = 10;
    ASSERT_TRUE(path_append_line(&path, &eb));
    ASSERT_EQ(path.count, 35);
    int junction = 25;
    float last_x = 0;
    for (int i = junction - 5; i < junction; i++) {
        EXPECT_GE(path.points[i].x, last_x - 1e-4f) << i;      // eases across, never back
        EXPECT_LE(path.points[i].x, 3 + 1e-4f);
        EXPECT_LE(fabsf(path.points[i].speed), 40 + 1e-4f);
        EXPECT_GE(fabsf(path.points[i].speed), 30 - 1e-4f);
        last_x = path.points[i].x;
    }
    EXPECT_EQ(path.points[junction].x, 3);
    EXPECT_EQ(path.points[junction - 6].x, 0);
    // A line that begins in the air (negative speed) keeps the approach at full speed: the
    // blend works on magnitudes, never passing through a standstill.
    RobotPath air = {};
    ASSERT_TRUE(path_append_line(&air, &ea));
    std::vector<LinePoint> c = straight(0, -100, 10, 5, -40);
    LineEntry ec = {};
    ec.points = c.data();
    ec.count = 10;
    ASSERT_TRUE(path_append_line(&air, &ec));
    for (int i = junction - 5; i < junction; i++)
        EXPECT_NEAR(fabsf(air.points[i].speed), 40, 1e-3f) << i;
    xfree(air.points);
    // Points far behind the target are dropped on the next append.
    path.target = 34;
    ASSERT_TRUE(path_append_line(&path, &eb));
    EXPECT_EQ(path.target, 30);
    EXPECT_EQ(path.count, 35 - 4 + 10);
    xfree(path.points);
}

TEST(RobotPathUpkeep, TargetAdvancesWithinReachUnlessThePathTurnsBack)
{
    std::vector<LinePoint> pts = straight(0, 0, 10, 10, 30);
    RobotPath path = { pts.data(), 10, 10, 3 };
    // Riding along -z: the target 30 ft ahead is reached within 60 ft.
    EXPECT_TRUE(target_reached(&path, 0, 0, 0, -1, 60));
    EXPECT_FALSE(target_reached(&path, 0, 0, 0, -1, 30));
    // Heading the other way, the path runs against the bike: not reached unless within 4 ft.
    EXPECT_FALSE(target_reached(&path, 0, 0, 0, 1, 60));
    EXPECT_TRUE(target_reached(&path, 0, -28, 0, 1, 60));
}

// A robot knocked off its line rides back to it slowly: the distance counts the path near its target.
TEST(RobotPathUpkeep, DistanceFromThePathNearTheTarget)
{
    std::vector<LinePoint> pts = straight(0, 0, 10, 10, 30);
    RobotPath path = { pts.data(), 10, 10, 3 };
    EXPECT_FLOAT_EQ(path_distance(&path, -15, -22), 15);       // beside a segment
    EXPECT_FLOAT_EQ(path_distance(&path, 3, 4), 5);            // behind the first point
    EXPECT_FLOAT_EQ(path_distance(&path, 0, -80), 20);         // the path past target + 3 is not near
    path.target = 9;
    EXPECT_FLOAT_EQ(path_distance(&path, 0, -80), 0);
    path.count = 0;
    EXPECT_TRUE(isinf(path_distance(&path, 0, 0)));
}

// Two robots stopped in a queue, one a foot behind the other: the jitter of the front one's
// velocity pointed back at the other, which then counted as ahead of it, and both waited until
// they were stuck. Slow, a bike travels the way it points; faster, the way it goes.
TEST_F(BikeWorld, TrafficSeesASlowBikeTravelTheWayItPoints)
{
    BikeState *b = bike_on_ground("yz250f(2017)");      // faces -z
    ASSERT_NE(b, nullptr);
    dBodyID frame = b->body[BODY_FRAME];
    const dReal *p = dBodyGetPosition(frame);
    dBodySetLinearVel(frame, 0.3, 0, 0.4);
    BikeMotion self = traffic_motion(b);
    EXPECT_FLOAT_EQ(self.x, (float)p[0]);
    EXPECT_NEAR(self.vx, 0, 0.01f);
    EXPECT_NEAR(self.vz, -0.5f, 0.01f);
    BikeMotion behind = { self.x, self.z + 1.5f, 0, -0.3f };
    bool slowed;
    EXPECT_FLOAT_EQ(traffic_speed(&self, 0, 32, &behind, 1, 200, 30, &slowed), 30);
    BikeMotion ahead = { self.x, self.z - 1.5f, 0, -0.3f };
    EXPECT_LT(traffic_speed(&self, 0, 32, &ahead, 1, 200, 30, &slowed), 1);
    dBodySetLinearVel(frame, 12, 0, -5);
    BikeMotion sliding = traffic_motion(b);
    EXPECT_FLOAT_EQ(sliding.vx, 12);
    EXPECT_FLOAT_EQ(sliding.vz, -5);
}

// Lost at walking pace the foot holds the bike upright: steered for a lean, it held full lock
// away from its target and rode round into the bikes beside it.
TEST_F(BikeWorld, ALostBikeAtWalkingPaceTurnsTowardsItsTarget)
{
    ASSERT_TRUE(choice_set(&g_setup.arcade, "No"));
    for (float side : { -1.0f, 1.0f }) {
        BikeState *b = bike_on_ground("yz250f(2017)");
        ASSERT_NE(b, nullptr);
        dBodyID frame = b->body[BODY_FRAME];
        // 30 ft away, 60 degrees off the nose (the bike faces -z; +x is its right)
        const dReal *p0 = dBodyGetPosition(frame);
        float tx = (float)p0[0] + side * 30 * sinf(1.0471976f), tz = (float)p0[2] - 30 * cosf(1.0471976f);
        float bearing = 0;
        for (int tic = 0; tic < 5 * 128; tic++) {
            const dReal *p = dBodyGetPosition(frame), *vel = dBodyGetLinearVel(frame);
            dVector3 f;
            dBodyVectorToWorld(frame, 0, 0, -1, f);
            float fl = hypotf((float)f[0], (float)f[2]), hx = (float)f[0] / fl, hz = (float)f[2] / fl;
            float px = tx - (float)p[0], pz = tz - (float)p[2];
            float x = -hz * px + hx * pz, z = -(hx * px + hz * pz);
            bearing = atan2f(x, -z);
            float v = (float)sqrt(vel[0] * vel[0] + vel[1] * vel[1] + vel[2] * vel[2]);
            float lean = (float)lean_angle(frame);
            const dReal *w = dBodyGetAngularVel(frame);
            float roll = -(float)(w[0] * f[0] + w[1] * f[1] + w[2] * f[2]);
            LostRide ride;
            lost_ride(x, z, v, lean, &ride);
            BikeInputs &in = b->inputs;
            in.steer = lost_steer(x, z, v, ride.wanted_lean, lean, roll);
            in.sit = ride.sit;
            in.throttle = v < 3 ? 0.3f : 0;
            in.clutch = 0;
            in.front_brake = in.rear_brake = 0;
            control_tic(b, &terrain, tic + 1000, 0);
            ASSERT_TRUE(bike_is_finite(b));
        }
        EXPECT_LT(fabsf(bearing), 0.35f) << "target to the " << (side < 0 ? "left" : "right");
        EXPECT_FALSE(bike_fallen(b));
    }
    // At riding pace the lean law steers as before: a target to the left wants a lean to the
    // left, for which the bars go right first.
    EXPECT_LT(lost_steer(-5, -20, 15, 0.2f, 0, 0), 0);
    EXPECT_GT(lost_steer(-5, -20, 3, 0.2f, 0, 0), 0);
    EXPECT_EQ(lost_steer(0, 0, 3, 0, 0, 0), 0);
}

class RobotAtTheGate : public RaceTrack {
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
};

TEST_F(RobotAtTheGate, WithoutLinesItWaitsWithBothBrakesOn)
{
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load());
    EXPECT_NE(robot_personality(0), 0);     // the roster gave it one
    for (int t : { k_drop - 100, k_drop + 64, k_drop + 1280 }) {
        set_race_tic(t);
        robot_autopilot(0);
        const BikeInputs &in = rider_slot(0)->bike->inputs;
        EXPECT_EQ(in.throttle, 0) << t;
        EXPECT_EQ(in.front_brake, 1);
        EXPECT_EQ(in.rear_brake, 1);
        EXPECT_EQ(in.clutch, 1);        // lever pulled: nothing engaged
        EXPECT_EQ(in.steer, 0);
        EXPECT_EQ(in.sit, 1);
    }
}

TEST_F(RobotAtTheGate, RidesTheLinesAPuppetLeftWithFiniteInputs)
{
    requests[0] = requests[1] = REQUEST_ROBOT;
    ASSERT_TRUE(load(0, 3));
    puppet_set(0, 30, false);
    set_race_tic(0);
    bool picked = false;
    for (int tic = 0; tic < k_drop + 128 * 40; tic++) {
        simulation_tic();
        const BikeInputs &in = rider_slot(1)->bike->inputs;
        ASSERT_TRUE(isfinite(in.throttle) && isfinite(in.steer) && isfinite(in.clutch) && isfinite(in.front_brake) &&
                    isfinite(in.rear_brake) && isfinite(in.sit))
            << "tic " << tic;
        picked |= robot_path(1)->count > 0;
    }
    // The puppet's first sections became lines, and the robot took one from the gate.
    EXPECT_GT(line_entry(0, 0)->count, 0);
    EXPECT_TRUE(picked);
}

TEST_F(RobotAtTheGate, UnknownPersonalityTakesTheFirst)
{
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load());
    robot_set_personality(rider_slot(0)->bike, "daredevil");
    EXPECT_EQ(robot_personality(0), 1);
    EXPECT_NE(log_text().find("auto pilot personality 'daredevil' not found"), std::string::npos);
    robot_set_personality(rider_slot(0)->bike, "tester");
    EXPECT_EQ(personality(robot_personality(0))->mode_near, 3);
}

}  // namespace
