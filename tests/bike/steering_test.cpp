// The steering assists on worked numbers: lean-following against direct steering, roll
// damping past the roll limit, the lock limit and its force bounds, the landing multiplier, the
// arcade roll motor and the steering indicator; the lean angle however the frame stands; and
// ten seconds of riding with every assist at either end of its range.
#include "ride_fixture.h"

#include <math.h>

#include "bike/falls.h"
#include "bike/rider.h"
#include "bike/steering.h"

namespace {

const double k_pi = 3.14159265358979323846;

BikeParams assists(double direct)
{
    BikeParams p = {};
    p.leveling = 20;
    p.roll_damping = 60;
    p.roll_limit_angle = (float)(k_pi / 4);
    p.roll_limit_factor = 10;
    p.steering_strength = 75;
    p.max_steering_force = 400;
    p.direct_steering = (float)direct;
    p.slow_damping_speed = 0;
    p.slow_damping_factor = 1;
    p.land_damping_falloff = 0.25f;
    p.land_damping_factor = 2;
    p.full_lock_speed = 10;
    p.restricted_lock_speed = 50;
    p.restricted_lock_angle = 0.08726646f;
    return p;
}

TEST(Steering, StabilityHundredFollowsTheLeanWhereNoughtSteersDirectly)
{
    BikeParams hundred = assists(0.125), nought = assists(1);
    struct Case {
        double s, lean, roll, expected;
    };
    // Direct part s x 75 x 0.125 = 9.375; the lean wanted for s = 1 is -pi/4.
    const Case cases[] = {
        { 1, 0, 0, (9.375 - 75) * 0.125 + 75 },          // far from the wanted roll: full K_s
        { 1, -k_pi / 4, 0, 9.375 * 0.125 },               // at the wanted lean: only the direct share
        { 1, -k_pi / 4, 0.1, 9.375 * 0.125 },             // within the 0.125 rad/s dead band
        { 1, -k_pi / 4, 0.2, (9.375 - 22.5) * 0.125 + 22.5 },   // 75 x 4 x (0.2 - 0.125), to float
        { 0, 0.2, 0, (0 - 75) * 0.125 + 75 },             // leaning left with no input: stand it up
        { -1, k_pi / 4, 0, -9.375 * 0.125 },
    };
    for (const Case &c : cases) {
        EXPECT_NEAR(steering_command(&hundred, c.s, c.lean, c.roll), c.expected, 1e-4) << c.s << " " << c.lean;
        // Stability 0 steers with the direct command alone, whatever the lean.
        EXPECT_NEAR(steering_command(&nought, c.s, c.lean, c.roll), c.s * 75, 1e-9);
    }
}

TEST(Steering, RollDampingGrowsPastTheRollLimitOnlyWhileRollingOutwards)
{
    BikeParams p = assists(1);
    p.leveling = 0;
    const double over = k_pi / 4 + 0.1;
    EXPECT_NEAR(stability_torque(&p, 0.5, 1, 1, 30), 60, 1e-9);
    EXPECT_NEAR(stability_torque(&p, over, 1, 1, 30), 60 * (1 + 10 * 0.1), 1e-4);
    EXPECT_NEAR(stability_torque(&p, -over, -1, 1, 30), -60 * (1 + 10 * 0.1), 1e-4);
    EXPECT_NEAR(stability_torque(&p, over, -1, 1, 30), -60, 1e-9) << "coming back: plain damping";
    EXPECT_NEAR(stability_torque(&p, 0.5, 1, 2, 30), 120, 1e-9) << "the landing multiplier";
    // Leveling pulls towards upright with the bike's lean; slow speed scales both terms.
    p.leveling = 20;
    EXPECT_NEAR(stability_torque(&p, 0.5, 0, 1, 30), 10, 1e-9);
    p.slow_damping_speed = 10;
    p.slow_damping_factor = 3;
    EXPECT_NEAR(stability_torque(&p, 0.5, 1, 1, 0), 3 * 70, 1e-9);
    EXPECT_NEAR(stability_torque(&p, 0.5, 1, 1, 5), 2 * 70, 1e-9);
    EXPECT_NEAR(stability_torque(&p, 0.5, 1, 1, 10), 70, 1e-9);
}

TEST(Steering, FullLockAtWalkingPaceClosingWithSpeed)
{
    BikeParams p = assists(1);
    // 1 ft/s or less: the full pi/4, and no bound is cut however far the wheel points.
    for (double v : { 0.0, 0.5, 1.0 }) {
        EXPECT_NEAR(steering_lock_limit(&p, 1, v), k_pi / 4, 1e-12) << v;
        double kl, ku;
        steering_force_bounds(400, steering_lock_limit(&p, 1, v), v, 0, 0.7, &kl, &ku);
        EXPECT_EQ(kl, -400);
        EXPECT_EQ(ku, 400);
    }
    // N1 = 1/50: at 20 ft/s t = (0.05 - 0.02) / (0.1 - 0.02).
    double m = 0.08726646;
    EXPECT_NEAR(steering_lock_limit(&p, 1, 20), m + 0.375 * (k_pi / 4 - m), 1e-6);
    EXPECT_NEAR(steering_lock_limit(&p, 1, 60), m, 1e-6);
    // Slippery ground allows more lock, dividing by at least 0.125.
    EXPECT_NEAR(steering_lock_limit(&p, 0.5, 60), 2 * m, 1e-6);
    EXPECT_NEAR(steering_lock_limit(&p, 0, 60), 8 * m, 1e-6);
    // The tightest legal setup: full lock speed 1, restricted lock speed 1.
    p.full_lock_speed = 1;
    p.restricted_lock_speed = 1;
    EXPECT_TRUE(isfinite(steering_lock_limit(&p, 1, 60)));
}

TEST(Steering, ForceBoundsNearTheLockLimit)
{
    double kl, ku;
    // Lock 0.1 on the ground: R = 0.1275.
    steering_force_bounds(400, 0.1, 20, 0, 0.2, &kl, &ku);
    EXPECT_NEAR(kl, 0.25 * 400, 1e-9) << "well past the limit the torque steers back";
    EXPECT_EQ(ku, 400);
    steering_force_bounds(400, 0.1, 20, 0, 0.11, &kl, &ku);
    EXPECT_NEAR(kl, (0.25 - 1.25 * (0.0175 / 0.0275)) * 400, 1e-9);
    steering_force_bounds(400, 0.1, 20, 0, -0.2, &kl, &ku);
    EXPECT_EQ(kl, -400);
    EXPECT_NEAR(ku, -0.25 * 400, 1e-9);
    // Within the limit, or with the wheel half a foot off the ground, nothing is cut.
    steering_force_bounds(400, 0.1, 20, 0, 0.05, &kl, &ku);
    EXPECT_EQ(kl, -400);
    steering_force_bounds(400, 0.1, 20, 0.5, 0.2, &kl, &ku);
    EXPECT_EQ(kl, -400);
}

TEST(Steering, LandingMultiplierDecaysOverTheFalloff)
{
    BikeParams p = assists(1);      // factor 2 over 0.25 s: 1/32 a tic
    float land = 2;
    EXPECT_EQ(landing_decay(&p, &land), 2) << "this tic still uses the full factor";
    for (int k = 1; k < 16; k++)
        landing_decay(&p, &land);
    EXPECT_NEAR(land, 1.5, 1e-5);
    for (int k = 0; k < 16; k++)
        landing_decay(&p, &land);
    EXPECT_NEAR(land, 1, 1e-5);
    landing_decay(&p, &land);
    EXPECT_EQ(land, 1);
    p.land_damping_falloff = 0;
    land = 2;
    EXPECT_EQ(landing_decay(&p, &land), 2);
    EXPECT_EQ(land, 1) << "no falloff: back to 1 at once";
}

TEST(Steering, BumpLimitAndArcadeSteering)
{
    EXPECT_EQ(bump_limited(500, 0), 500);
    EXPECT_EQ(bump_limited(500, 64), 0);
    EXPECT_EQ(bump_limited(-500, 32), -100);
    EXPECT_EQ(bump_limited(50, 32), 50);
    // Roll motor: at rest upright no turn; leaned left it rolls back right, capped at 1/16 rad.
    EXPECT_EQ(arcade_roll_rate(0, 0, 60), -0.0);
    EXPECT_NEAR(arcade_roll_rate(0, 0.3, 60), -1.25, 1e-12);
    EXPECT_NEAR(arcade_roll_rate(0, -0.03, 100), 0.03 * 16, 1e-12);
    EXPECT_NEAR(arcade_roll_rate(1, -k_pi / 4, 40), 0, 1e-12) << "at the wanted lean";
    // Steering: dead bands of 1/32 rad and 1/2400, the command within +-2/3.
    EXPECT_EQ(arcade_steering(0.02, 0, 0, 0), 0);
    EXPECT_NEAR(arcade_steering(0.1, 0, 0, 0), 8 * (0.1 - 1.0 / 32) / 2 - 1.0 / 4800, 1e-12);
    EXPECT_EQ(arcade_steering(1, 0, 0, 0), 2.0 / 3);
    EXPECT_EQ(arcade_steering(0, 0, 0, 5), -2.0 / 3);
}

TEST(Steering, IndicatorAtItsEnds)
{
    // At 20 ft/s with the lock 0.1: c2 = 0.025, width 0.05.
    EXPECT_NEAR(steering_indicator(20, 0.1, -0.3, 0.075, 0), 1, 1e-12);
    EXPECT_NEAR(steering_indicator(20, 0.1, -0.3, 0.05, 0), 0.5, 1e-12);
    EXPECT_EQ(steering_indicator(20, 0.1, -0.3, 0.025, 0), 0);
    EXPECT_EQ(steering_indicator(20, 0.1, -0.3, 1, 0), 1) << "never above 1";
    EXPECT_NEAR(steering_indicator(20, 0.1, 0.3, -0.075, 0), 1, 1e-12) << "the mirror side";
    // The bars at pi/6 towards the lean read full whatever the wheel's path.
    EXPECT_NEAR(steering_indicator(20, 0.1, -0.3, 0, -k_pi / 6), 1, 1e-12);
    EXPECT_NEAR(steering_indicator(20, 0.1, 0.3, 0, k_pi / 6), 1, 1e-12);
    // No restricted lock (0 is legal) leaves no width: the reading steps instead of dividing.
    EXPECT_EQ(steering_indicator(20, 0, -0.3, 0.01, 0), 1);
    EXPECT_EQ(steering_indicator(20, 0, -0.3, 0, 0), 0);
    EXPECT_EQ(steering_indicator(20, 0, 0.3, 0.01, 0), 0);
}

TEST_F(BikeWorld, LeanAngleHoweverTheFrameStands)
{
    BikeState *b = build_bike(0, "yz250f(2017)");
    ASSERT_NE(b, nullptr);
    dBodyID frame = b->body[BODY_FRAME];
    dMatrix3 r;
    struct Case {
        double heading, roll, pitch, expected;
    };
    // Rolling about the rearward z axis by +a lifts the right side: a lean of +a. A forward
    // axis with no horizontal part divides by nothing.
    const Case cases[] = {
        { 0, 0, 0, 0 }, { 0, 0.3, 0, 0.3 }, { 0, -0.5, 0, -0.5 }, { 1.2, 0.4, 0, 0.4 },
        { 0, 0.4, 0.6, 0.4 }, { -2, -1.2, 0.3, -1.2 },
        // Standing on its tail or nose its lateral axis stays level, whatever its roll.
        { 0, 0.4, k_pi / 2, 0 }, { 0.5, -0.7, -k_pi / 2, 0 },
    };
    for (const Case &c : cases) {
        dMatrix3 yaw, pitch, roll, yp;
        dRFromAxisAndAngle(yaw, 0, 1, 0, c.heading);
        dRFromAxisAndAngle(pitch, 1, 0, 0, c.pitch);
        dRFromAxisAndAngle(roll, 0, 0, 1, c.roll);
        dMultiply0_333(yp, yaw, pitch);
        dMultiply0_333(r, yp, roll);
        dBodySetRotation(frame, r);
        double lean = lean_angle(frame);
        EXPECT_TRUE(isfinite(lean));
        EXPECT_NEAR(lean, c.expected, 1e-6) << c.heading << " " << c.roll << " " << c.pitch;
    }
}

TEST_F(BikeWorld, ArcadeRollMotorHoldsABikeAtRestWithAtMostAThousand)
{
    BikeState *b = bike_on_ground("yz250f(2017)");
    ASSERT_NE(b, nullptr);
    b->params.arcade = true;
    const dReal *at = dBodyGetPosition(b->body[BODY_FRAME]);
    float x = (float)at[0], y = (float)at[1], z = (float)at[2];
    move_bike(b, -x, -y, -z);
    turn_bike(b, 0, 0, 1, 0.3f);       // leaned left
    move_bike(b, x, y, z);
    RiderTic ctx = { 0, 0, &terrain, nullptr, nullptr };
    bike_touches_world(b, &terrain);
    bike_steering_update(b, &ctx);
    dBodyID frame = b->body[BODY_FRAME];
    int motors = 0;
    for (int k = 0; k < dBodyGetNumJoints(frame); k++) {
        dJointID j = dBodyGetJoint(frame, k);
        if (dJointGetType(j) != dJointTypeAMotor)
            continue;
        motors++;
        EXPECT_EQ(dJointGetAMotorParam(j, dParamFMax), 1000);
        EXPECT_LT(dJointGetAMotorParam(j, dParamVel), 0) << "rolling back upright";
    }
    EXPECT_EQ(motors, 1);
    bike_contacts_empty();
    // Steering head, swingarm and rider mount stay; the motor lived one step.
    EXPECT_EQ(dBodyGetNumJoints(frame), 3);
}

// Every assist at the low or the high end of its range: ten seconds of full throttle with the
// steering swinging side to side stay finite.
TEST_F(BikeWorld, TenSecondsWithEveryAssistAtEitherEnd)
{
    for (double end : { -1e9, 1e9 }) {
        for (const char *arcade : { "No", "Yes" }) {
            ::Setup &s = g_setup;
            for (NumberItem *n : { &s.leveling, &s.roll_damping, &s.roll_limit_angle, &s.roll_limit_factor,
                                   &s.steering_damping, &s.steering_strength, &s.max_steering_force,
                                   &s.direct_steering, &s.slow_damping_speed, &s.slow_damping_factor,
                                   &s.land_damping_falloff, &s.land_damping_factor, &s.full_lock_speed,
                                   &s.restricted_lock_speed, &s.restricted_lock, &s.max_dab_speed })
                n->value = end;
            ASSERT_TRUE(choice_set(&s.arcade, arcade));
            BikeState *b = bike_on_ground("yz250f(2017)");
            ASSERT_NE(b, nullptr);
            for (int k = 0; k < 10 * 128; k++, tic++) {
                set_throttle(b, 1);
                b->inputs.steer = (float)sin(k / 64.0);
                b->inputs.sit = k % 256 < 128 ? 1 : 0;
                control_tic(b, &terrain, tic, 0);
                ASSERT_TRUE(bike_is_finite(b)) << end << " arcade " << arcade << " tic " << k;
                ASSERT_TRUE(isfinite(b->steer_indicator) && isfinite(b->foot_down) && isfinite(b->land_multiplier));
            }
        }
    }
}

}  // namespace
