// The rider: its springs' aims, the fall countdown and the knockout delays, the fall limits
// around a landing, the walking pulse of backing up before the start, the dab support's speed
// limits, the bump timer's rules, where the feet go, and the player's channels.
#include "ride_fixture.h"

#include <math.h>

#include "bike/falls.h"
#include "bike/rider.h"
#include "bike/steering.h"

namespace {

const double k_pi = 3.14159265358979323846;

int joints_on(dBodyID body) { return dBodyGetNumJoints(body); }

TEST(RiderMount, SittingLowersTheVerticalAimHalfAFootAndLeaningMovesItForeAndAft)
{
    for (double jump : { -0.3, 0.0, 0.2 })
        EXPECT_NEAR(rider_vertical_error(jump, 1) - rider_vertical_error(jump, 0), -0.5, 1e-12);
    EXPECT_NEAR(rider_vertical_error(0, 0), 0.125, 1e-12);
    EXPECT_NEAR(rider_fore_aft_target(0.2, 0, 0), 0.1, 1e-12);
    EXPECT_NEAR(rider_fore_aft_target(0.2, 1, 0), 0.2, 1e-12);
    EXPECT_NEAR(rider_fore_aft_target(0, 0, 0.5), -0.5, 1e-12);
    EXPECT_EQ(rider_fore_aft_target(0, 0, 1), -0.75) << "at most three quarters of a foot";
    EXPECT_EQ(rider_fore_aft_target(0.5, 1, -1), 0.75);
}

TEST_F(BikeWorld, SpringsWithoutStiffnessOrDampingMakeNoJoint)
{
    BikeState *b = bike_on_ground("yz250f(2017)");
    ASSERT_NE(b, nullptr);
    dBodyID rider = b->body[BODY_RIDER];
    ASSERT_EQ(joints_on(rider), 1) << "the mount";
    update_rider_mount(b);
    EXPECT_EQ(joints_on(rider), 3) << "fore-aft and vertical springs";
    bike_contacts_empty();
    b->params.rider_yspring = b->params.rider_ydamping = 0;
    update_rider_mount(b);
    EXPECT_EQ(joints_on(rider), 2) << "no vertical spring";
    bike_contacts_empty();
    b->params.rider_zspring = 0;
    update_rider_mount(b);
    EXPECT_EQ(joints_on(rider), 1) << "the rider at its fore-aft aim: no force, no joint";
    bike_contacts_empty();
}

TEST_F(BikeWorld, AStillRiderCountsDownToTheSeatAndASlidingOneWaits)
{
    BikeState *b = bike_on_ground("yz250f(2017)");
    ASSERT_NE(b, nullptr);
    const int delays[2] = { 100, 300 };
    set_knockout_delays(delays, 2);
    RiderTic ctx = { 0, 0, &terrain, nullptr, nullptr };
    start_fall(b, &ctx);
    dJointID mount = b->joint[JOINT_RIDER];
    EXPECT_EQ(dJointGetBody(mount, 0), nullptr) << "thrown off the mount";
    EXPECT_EQ(b->fall_timer, 512 + 100);
    EXPECT_TRUE(bike_fallen(b));
    set_throttle(b, 1);
    EXPECT_EQ(bike_throttle(b), 0);

    // Sliding at 3 ft/s the timer waits.
    dBodyID rider = b->body[BODY_RIDER];
    dBodySetLinearVel(rider, 3, 0, 0);
    for (int k = 0; k < 200; k++) {
        update_fallen(b, &ctx);
        bike_contacts_empty();
    }
    EXPECT_EQ(b->fall_timer, 612);
    // Lying still: 4 s plus the delay, then back on the seat.
    dBodySetLinearVel(rider, 0, 0, 0);
    int tics = 0;
    while (b->fall_timer > 0 && tics < 5000) {
        update_fallen(b, &ctx);
        bike_contacts_empty();
        tics++;
    }
    EXPECT_EQ(tics, 612);
    EXPECT_FALSE(bike_fallen(b));
    EXPECT_NE(dJointGetBody(mount, 0), nullptr) << "re-seated";
    double rest[3];
    rider_rest_point(b, rest);
    const dReal *q = dBodyGetPosition(rider);
    EXPECT_NEAR(q[0], rest[0], 1e-9);
    EXPECT_NEAR(q[1], rest[1], 1e-9);

    // The second fall takes the second delay; the table is clamped and holds 16 entries.
    start_fall(b, &ctx);
    EXPECT_EQ(b->fall_timer, 512 + 300);
    const int wild[3] = { -5, 500000, 7 };
    set_knockout_delays(wild, 3);
    EXPECT_EQ(knockout_delay(0), 0);
    EXPECT_EQ(knockout_delay(1), 460800);
    EXPECT_EQ(knockout_delay(2), 7);
    EXPECT_EQ(knockout_delay(3), 0);
    EXPECT_EQ(knockout_delay(40), knockout_delay(15));
    set_knockout_delays(nullptr, 0);
    EXPECT_EQ(knockout_delay(1), 0);
    reset_bike(b);
    EXPECT_EQ(b->fall_timer, 0);
    EXPECT_NE(dJointGetBody(mount, 0), nullptr);
}

TEST_F(BikeWorld, FallenRopesPullOnlyWhenStretched)
{
    BikeState *b = bike_on_ground("yz250f(2017)");
    ASSERT_NE(b, nullptr);
    const double centre[3] = { 0, 0, 0 };
    dBodyID rider = b->body[BODY_RIDER];
    int before = joints_on(rider);
    EXPECT_FALSE(rope(b, BODY_RIDER, centre, BODY_FRAME, centre, 10));
    EXPECT_EQ(joints_on(rider), before);
    EXPECT_TRUE(rope(b, BODY_RIDER, centre, BODY_FRAME, centre, 0.5));
    EXPECT_EQ(joints_on(rider), before + 1);
    bike_contacts_empty();
}

TEST(FallTest, LimitsAroundALanding)
{
    struct Case {
        int now, takeoff, landing;
        double velocity, acceleration;
    };
    const Case cases[] = {
        { 1128 + 13, 1000, 1128, 31, 1376 },        // 0.1 s after a 1 s jump: a third lower
        { 1128 + 38, 1000, 1128, 46.5, 2064 },      // 0.3 s after: back to normal
        { 1128 + 16, 1000, 1128, 31, 1376 },        // an eighth of a second: still low
        { 1100, 1000, 900, 46.5, 2064 },            // in the air
        { 1064 + 13, 1000, 1064, 46.5, 2064 },      // after a half-second hop: normal
        { 10, -1, -1, 46.5, 2064 },                 // after a reset
    };
    for (const Case &c : cases) {
        double v, a;
        fall_limits(c.now, c.takeoff, c.landing, &v, &a);
        EXPECT_NEAR(v, c.velocity, 1e-6) << c.now << " " << c.takeoff << " " << c.landing;
        EXPECT_NEAR(a, c.acceleration, 1e-4) << c.now << " " << c.takeoff << " " << c.landing;
    }
}

TEST(BackingUp, BeforeTheStartTheBikeWalksOneSecondInFour)
{
    // Gate drop at tic 1000: the start is tic 1024.
    int moving[8] = {};
    for (int tic = 0; tic < 1024; tic++) {
        double a = backup_pulse(tic, 1000);
        ASSERT_GE(a, 0);
        ASSERT_LE(a, 1);
        moving[tic / 128] += a > 0;
    }
    for (int s = 0; s < 8; s++)
        EXPECT_EQ(moving[s] > 0, s % 4 == 0) << "second " << s;
    for (int tic = 1024; tic < 1024 + 512; tic += 128)
        EXPECT_NEAR(backup_pulse(tic + 64, 1000), (1 - cos(64 * 2 * k_pi / 127)) / 2, 1e-12) << "after the start";
    EXPECT_EQ(backup_pulse(1024, 1000), 0) << "each pulse starts from rest";
}

TEST_F(BikeWorld, BackingUpWalksTheBikeBackwardsAndStaysUp)
{
    BikeState *b = bike_on_ground("yz250f(2017)");
    ASSERT_NE(b, nullptr);
    dBodyID frame = b->body[BODY_FRAME];
    // The gate drops at tic 1000: before the start only the first of each four seconds walks.
    double moved[12] = {};
    for (int tic = 0; tic < 12 * 128; tic++) {
        b->inputs.back_up = 1;
        const dReal *before = dBodyGetPosition(frame);
        double z0 = before[2];
        control_tic(b, &terrain, tic, 1000);
        moved[tic / 128] += dBodyGetPosition(frame)[2] - z0;
        ASSERT_TRUE(bike_is_finite(b));
    }
    // A step is 4a ft/s over the second (2 ft); between steps the hold lets it drift at most
    // at a quarter of a foot a second.
    for (int s = 0; s < 12; s++) {
        bool walks = s >= 8 || s % 4 == 0;
        if (walks) {
            EXPECT_GT(moved[s], 1.5) << "second " << s << ": backwards is +z";
        } else {
            EXPECT_LT(fabs(moved[s]), 0.3) << "second " << s;
        }
    }
    dVector3 up;
    dBodyVectorToWorld(frame, 0, 1, 0, up);
    EXPECT_GT(up[1], 0.9) << "the foot keeps it up";
    EXPECT_FALSE(bike_fallen(b));
}

TEST_F(BikeWorld, AStoppedBikeLeaningOverIsStoodUpByTheFoot)
{
    ASSERT_TRUE(choice_set(&g_setup.arcade, "No"));    // arcade physics holds it with a motor instead
    for (float lean : { 0.3f, -0.3f }) {
        BikeState *b = bike_on_ground("yz250f(2017)");
        ASSERT_NE(b, nullptr);
        dBodyID frame = b->body[BODY_FRAME];
        const dReal *at = dBodyGetPosition(frame);
        float x = (float)at[0], y = (float)at[1], z = (float)at[2];
        move_bike(b, -x, -y, -z);
        turn_bike(b, 0, 0, 1, lean);
        move_bike(b, x, y, z);
        settle_bike(b, &terrain);
        for (int tic = 0; tic < 5 * 128; tic++)
            control_tic(b, &terrain, tic, 0);
        EXPECT_LT(fabs(lean_angle(frame)), 0.1) << lean;
        EXPECT_EQ(bike_foot_down(b), 1) << "Dab When Stopped put the foot down";
        EXPECT_FALSE(bike_fallen(b));
    }
}

TEST(DabSupport, TheLeanReserve)
{
    // Slow and far over: the whole force. Upright at the dab limit: none unless steering hard
    // towards the foot.
    EXPECT_EQ(dab_reserve(2, 30, 1.0, k_pi / 4, 0), 1);
    EXPECT_EQ(dab_reserve(30, 30, 0.1, k_pi / 4, 0), 0);
    EXPECT_EQ(dab_reserve(30, 30, 0.1, k_pi / 4, -1), 1) << "leaning left, steering left";
    EXPECT_EQ(dab_reserve(30, 30, 0.1, k_pi / 4, 1), 0);
    EXPECT_NEAR(dab_reserve(30, 30, -0.1, k_pi / 4, 0.75), 0.5, 1e-12);
    // Over 15 ft/s the reserve needs the limit above 15: the divisor is then positive.
    EXPECT_TRUE(isfinite(dab_reserve(15.5, 16, 1.5, k_pi, 0)));
    EXPECT_TRUE(isfinite(dab_reserve(15, 15, 1.5, 0, 0)));
}

// A bike leaned by `lean` moving forwards at v with sit/dab on and both wheels down.
void dab_at(BikeState *b, double v, double lean)
{
    reset_bike(b);
    dMatrix3 r;
    dRFromAxisAndAngle(r, 0, 0, 1, lean);
    dBodySetRotation(b->body[BODY_FRAME], r);
    dBodySetLinearVel(b->body[BODY_FRAME], 0, 0, -v);
    b->wheel[0].depth = b->wheel[1].depth = 0.01f;
    b->inputs.sit = 1;
    b->foot_down = 0;
}

TEST_F(BikeWorld, NoDabSupportAtSpeedNearlyUpright)
{
    BikeState *b = bike_on_ground("yz250f(2017)");
    ASSERT_NE(b, nullptr);
    b->params.arcade = false;
    RiderTic ctx = { 0, 0, &terrain, nullptr, nullptr };
    struct Case {
        double v, lean;
        bool support;
    };
    const Case cases[] = {
        { 20, 0.3, false },         // V > 15 and |lean| < 3 pi / 16
        { 20, 0.7, true },
        { 3, 0.3, true },
        { 120, 0.7, false },        // beyond any dab limit
    };
    for (const Case &c : cases) {
        dab_at(b, c.v, c.lean);
        update_dab_and_backup(b, &ctx);
        EXPECT_EQ(b->foot_down, c.support ? 1.0f / 16 : 0.0f) << c.v << " " << c.lean;
        const dReal *f = dBodyGetForce(b->body[BODY_FRAME]);
        if (!c.support) {
            EXPECT_EQ(f[0] * f[0] + f[1] * f[1] + f[2] * f[2], 0) << c.v << " " << c.lean;
        }
        bike_contacts_empty();
        dBodySetForce(b->body[BODY_FRAME], 0, 0, 0);
    }
    // Slow and leaned right, the foot pushes it back up: a lift and a push to the left at the
    // frame's top.
    dab_at(b, 0, -0.5);
    b->foot_down = 1;
    update_dab_and_backup(b, &ctx);
    const dReal *f = dBodyGetForce(b->body[BODY_FRAME]);
    EXPECT_NEAR(f[1], 400.0 / 8 + 400 * sin(0.5), 1e-6);
    EXPECT_LT(f[0], 0);
}

TEST_F(BikeWorld, BumpTimerRules)
{
    BikeState *a = bike_on_ground("yz250f(2017)");
    BikeState *b = build_bike(1, "yz250f(2017)");
    ASSERT_TRUE(a && b);
    const int front = 1 << BODY_FRONT_WHEEL, fork = 1 << BODY_LOWER_FORK, frame = 1 << BODY_FRAME;
    struct Case {
        int mask_a, mask_b;
        double va, vb;
        bool b_fallen;
        float bump_a, bump_b;
    };
    const Case cases[] = {
        { front, front, 12, 8, false, 64, 0 },      // front ends met: each fast bike wobbles
        { fork, fork, 10, 10, false, 64, 64 },
        { front, frame, 12, 6, false, 128, 0 },     // a ran into b
        { front, frame, 12, 4, false, 0, 0 },       // b barely moving
        { front, frame, 9, 6, false, 0, 0 },        // a slow
        { front, frame, 12, 6, true, 0, 0 },        // b already down
        { frame, fork, 6, 12, false, 0, 128 },      // b ran into a
        { front, fork, 12, 12, false, 128, 0 },     // both front ends, different parts: the first
        { frame, frame, 20, 20, false, 0, 0 },
    };
    for (const Case &c : cases) {
        a->bump_timer = b->bump_timer = 0;
        dBodySetLinearVel(a->body[BODY_FRAME], c.va, 0, 0);
        dBodySetLinearVel(b->body[BODY_FRAME], 0, 0, c.vb);
        b->fall_timer = c.b_fallen ? 100 : 0;
        bump_after_collision(a, c.mask_a, b, c.mask_b);
        EXPECT_EQ(a->bump_timer, c.bump_a) << &c - cases;
        EXPECT_EQ(b->bump_timer, c.bump_b) << &c - cases;
    }
    // Raised to at least, never lowered; then down by one a tic, and from 1 to 0.
    a->bump_timer = 100;
    b->fall_timer = 0;
    bump_after_collision(a, front, b, front);
    EXPECT_EQ(a->bump_timer, 100);
    a->bump_timer = 2.5f;
    bump_tick(a);
    EXPECT_EQ(a->bump_timer, 1.5f);
    bump_tick(a);
    EXPECT_EQ(a->bump_timer, 0.5f);
    bump_tick(a);
    EXPECT_EQ(a->bump_timer, 0);
}

TEST_F(BikeWorld, FeetOnThePegsOnTheGroundWhenDabbingAndAtTheFallWhenFallen)
{
    BikeState *b = bike_on_ground("yz250f(2017)");
    ASSERT_NE(b, nullptr);
    Vec3 feet[2];
    float down[2];
    foot_points(b, &terrain, feet, down);
    const float *p = bike_catalogue_row(b)->rider_pose;
    for (int k = 0; k < 2; k++) {
        dVector3 peg;
        dBodyGetRelPointPos(b->body[BODY_FRAME], p[21 + 3 * k], p[22 + 3 * k], p[23 + 3 * k], peg);
        EXPECT_NEAR(feet[k].x, peg[0], 1e-4);
        EXPECT_NEAR(feet[k].y, peg[1], 1e-4);
        EXPECT_EQ(down[k], 0);
    }
    EXPECT_LT(feet[0].x, feet[1].x) << "the -x foot first";
    // Upright with the foot fully down: both feet 0.125 ft above the ground.
    b->foot_down = 1;
    foot_points(b, &terrain, feet, down);
    for (int k = 0; k < 2; k++) {
        EXPECT_NEAR(feet[k].y, terrain_height(&terrain, feet[k].x, feet[k].z) + 0.125f, 1e-4);
        EXPECT_EQ(down[k], 1);
    }
    // Leaned left by 0.2 rad only the -x foot goes down.
    dMatrix3 r;
    dRFromAxisAndAngle(r, 0, 0, 1, 0.2);
    dBodySetRotation(b->body[BODY_FRAME], r);
    foot_points(b, &terrain, feet, down);
    EXPECT_EQ(down[0], 1);
    EXPECT_EQ(down[1], 0);
    // Fallen: the feet where they were when the fall began.
    RiderTic ctx = { 0, 0, &terrain, nullptr, nullptr };
    start_fall(b, &ctx);
    const BikeFoot *recorded = bike_recorded_feet(b);
    ASSERT_NE(recorded, nullptr);
    for (int k = 0; k < 2; k++) {
        EXPECT_NEAR(recorded[k].point.x, feet[k].x, 1e-5) << "the feet as the fall began";
        EXPECT_NEAR(recorded[k].point.y, feet[k].y, 1e-5);
    }
    b->feet[0].point = v3(1, 2, 3);
    b->feet[1].point = v3(4, 5, 6);
    foot_points(b, &terrain, feet, down);
    EXPECT_NEAR(feet[0].x, 1, 1e-5);
    EXPECT_NEAR(feet[1].z, 6, 1e-5);
    EXPECT_EQ(down[0], 1);
    EXPECT_EQ(down[1], 1);
}

TEST_F(BikeWorld, PlayersChannelsWithReversalStickyDabAndAFall)
{
    BikeState *b = bike_on_ground("yz250f(2017)");
    ASSERT_NE(b, nullptr);
    float ch[9] = { 0.5f, 1, 0, 0, 0, 0, 0, 0.25f, -1 };
    bike_apply_channels(b, ch);
    EXPECT_EQ(b->inputs.steer, -0.5f) << "reversed by default";
    EXPECT_EQ(b->inputs.back_up, 0.25f);
    EXPECT_EQ(b->inputs.lean, -1);
    ASSERT_TRUE(choice_set(&g_setup.reverse_steering, "No"));
    ch[0] = NAN;
    ch[8] = 7;
    bike_apply_channels(b, ch);
    EXPECT_EQ(b->inputs.steer, 0) << "not a number counts as 0";
    EXPECT_EQ(b->inputs.lean, 1);
    ch[0] = 0.5f;
    bike_apply_channels(b, ch);
    EXPECT_EQ(b->inputs.steer, 0.5f);

    // Plain sit/dab follows the channel; sticky flips on each rise through 0.5.
    ch[6] = 0.75f;
    bike_apply_channels(b, ch);
    EXPECT_EQ(b->inputs.sit, 0.75f);
    ASSERT_TRUE(choice_set(&g_setup.sticky_dab, "Yes"));
    const float presses[] = { 0, 0.6f, 0.9f, 0.4f, 0.5f, 0.51f, 0, 1 };
    const bool on[] = { false, true, true, true, true, false, false, true };
    for (int k = 0; k < 8; k++) {
        ch[6] = presses[k];
        bike_apply_channels(b, ch);
        EXPECT_EQ(bike_sticky_dab_on(b), on[k]) << k;
        EXPECT_EQ(b->inputs.sit, on[k] ? 1 : 0) << k;
    }
    // Fallen: throttle, sit, back up and lean read 0; steering and brakes still reach the bike.
    RiderTic ctx = { 0, 0, &terrain, nullptr, nullptr };
    start_fall(b, &ctx);
    ch[2] = 1;
    bike_apply_channels(b, ch);
    EXPECT_EQ(b->inputs.throttle, 0);
    EXPECT_EQ(b->inputs.sit, 0);
    EXPECT_EQ(b->inputs.back_up, 0);
    EXPECT_EQ(b->inputs.lean, 0);
    EXPECT_EQ(b->inputs.steer, 0.5f);
    EXPECT_EQ(b->inputs.front_brake, 1);
}

}  // namespace
