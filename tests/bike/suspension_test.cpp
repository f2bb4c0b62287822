// The fork and shock force laws on worked numbers, the linkage curve, the motors they drive,
// and every catalogue bike sagging under its rider.
#include "ride_fixture.h"

#include <math.h>

namespace {

SuspensionSettings settings(float kc, float lc, float kr, float lr, float spring, float preload, float air_gap)
{
    return { kc, lc, kr, lr, spring, preload, air_gap };
}

TEST(SuspensionForce, DampingIsTheLineHeldWithinAnEighthAndEightTimesTheSlope)
{
    struct Case {
        double u, k, offset, expected;
    };
    const Case cases[] = {
        { 1, 60, 0, 60 },           // slider at 50: exactly k u
        { 0.1, 60, 60, 48 },        // a large offset is held at 8 k u
        { 2, 60, 60, 180 },         // at speed the line applies
        { 1, 60, -60, 7.5 },        // a negative offset is held at k u / 8
        { 1, 60, 10, 70 },
        { 0, 60, 60, 0 },           // no speed, no force
    };
    for (const Case &c : cases)
        EXPECT_NEAR(suspension_damping(c.u, c.k, c.offset), c.expected, 1e-9) << c.u << " " << c.offset;
}

TEST(SuspensionForce, TheForkFadesOutAtFullExtension)
{
    SuspensionSettings s = settings(60, 0, 30, 0, 600, 0.02f, 0.375f);
    // Fully extended the fork pushes nothing, whatever its preload and speed.
    for (double v : { -1.0, 0.0, 1.0 })
        EXPECT_EQ(fork_force(&s, 1, 0, v), 0);
    // At 1/64 of the travel: half of spring (0.035625 ft x 600) and air (1.33 lbf).
    EXPECT_NEAR(fork_force(&s, 1, -1.0 / 64, 0), (21.375 + 1.3300133) / 2, 1e-4);
    // From 1/32 on the whole force: compressing adds damping, extending takes it away.
    double still = fork_force(&s, 1, -0.5, 0);
    EXPECT_NEAR(fork_force(&s, 1, -0.5, -1) - still, 60, 1e-4);
    EXPECT_NEAR(fork_force(&s, 1, -0.5, 1) - still, -30, 1e-4);
    // The air column of 0.25 ft above a foot of travel, fully compressed: (1.25 / 0.25)^1.4.
    SuspensionSettings air = settings(0, 0, 0, 0, 0, 0, 0.25f);
    EXPECT_NEAR(fork_force(&air, 1, -1, 0), 702.43, 0.01);
    // Past the stop the air column is no shorter.
    EXPECT_NEAR(fork_force(&air, 1, -1.2, 0), 702.43, 0.01);
}

TEST_F(BikeWorld, TheFirstRowsForkFollowsItsSliders)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    apply_setup_to_bike(b);
    SuspensionSettings s = bike_fork_settings(b);
    double still = fork_force(&s, 1, -0.5, 0);
    // Every slider at 50: 60 lbf compressing at 1 ft/s, 30 extending.
    EXPECT_NEAR(fork_force(&s, 1, -0.5, -1) - still, 60, 1e-3);
    EXPECT_NEAR(fork_force(&s, 1, -0.5, 1) - still, -30, 1e-3);
    // Low-speed compression at 100 (offset 60): 48 lbf at 0.1 ft/s, 180 at 2 ft/s.
    read_setup_pair("fork_slow_compression_adjustment", "100");
    // Oil level 100: the shortest air column, 0.25 ft.
    read_setup_pair("fork_oil_level_adjustment", "100");
    apply_setup_to_bike(b);
    s = bike_fork_settings(b);
    still = fork_force(&s, 1, -0.5, 0);
    EXPECT_NEAR(fork_force(&s, 1, -0.5, -0.1) - still, 48, 1e-3);
    EXPECT_NEAR(fork_force(&s, 1, -0.5, -2) - still, 180, 1e-3);
    EXPECT_NEAR(fork_force(&s, 1, -1, 0) - (s.preload + 1) * s.spring, 702.43, 0.01);
}

// A table with a split at 0.4 and slopes that rise and fall.
const float k_table[7] = { 0.2f, 0.5f, 0.5f, 0.4f, 0.3f, 0.6f, 0.2f };

TEST(Linkage, TwoCubicPiecesJoinedAtTheSplit)
{
    struct Point {
        double s, length, slope;
    };
    // Ends and split from the table; the middles of the pieces from the Hermite basis
    // (1/2, 1/8, 1/2, -1/8 at u = 1/2).
    const Point points[] = {
        { 0, 0, 0.3 }, { 0.4, 0.2, 0.6 }, { 1, 0.5, 0.2 }, { 0.2, 0.085, 0.525 }, { 0.7, 0.38, 0.55 },
        { -0.5, 0, 0.3 }, { 1.5, 0.5, 0.2 },   // clamped to the travel
    };
    for (const Point &p : points) {
        double length, slope;
        linkage_curve(k_table, p.s, &length, &slope);
        EXPECT_NEAR(length, p.length, 1e-6) << "s " << p.s;
        EXPECT_NEAR(slope, p.slope, 1e-6) << "s " << p.s;
    }
    // Value and slope are continuous across the split.
    double below, above, slope_below, slope_above;
    linkage_curve(k_table, 0.4 - 1e-7, &below, &slope_below);
    linkage_curve(k_table, 0.4 + 1e-7, &above, &slope_above);
    EXPECT_NEAR(below, above, 1e-6);
    EXPECT_NEAR(slope_below, slope_above, 1e-5);
}

TEST(Linkage, EveryRowRisesSmoothly)
{
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        SCOPED_TRACE(m->name);
        double b = m->linkage[LINKAGE_SPLIT], below, above, slope_below, slope_above;
        linkage_curve(m->linkage, b - 1e-7, &below, &slope_below);
        linkage_curve(m->linkage, b + 1e-7, &above, &slope_above);
        EXPECT_NEAR(below, above, 1e-6);
        EXPECT_NEAR(slope_below, slope_above, 1e-5);
        // A rising rate: the shock moves more per swingarm travel the deeper it is.
        double last = 0;
        for (int k = 0; k <= 20; k++) {
            double slope;
            linkage_curve(m->linkage, k / 20.0, nullptr, &slope);
            EXPECT_GT(slope, last) << "s " << k / 20.0;
            last = slope;
        }
    }
}

TEST(ShockTorque, SpringAndDampingThroughTheLinkage)
{
    // The parabola rising from slope 0.39 to 0.78: at half travel L = 0.24375, L' = 0.585.
    const float table[7] = { 0.24375f, 0.585f, 0.47f, 0.5f, 0.39f, 0.585f, 0.78f };
    SuspensionSettings s = settings(300, 0, 200, 0, 3000, 0.03f, 0);
    double w = 99;
    EXPECT_EQ(shock_torque(&s, table, 0, -1, &w), 0);       // fully extended: the taper
    EXPECT_NEAR(w, -0.39, 1e-6);
    EXPECT_NEAR(shock_torque(&s, table, -0.235, 0, &w), 0.585 * (0.03 + 0.24375) * 3000, 1e-3);
    EXPECT_EQ(w, 0);
    // Compressing at 1 rad/s the shock moves at -0.585 ft/s and its damping adds; extending takes.
    EXPECT_NEAR(shock_torque(&s, table, -0.235, -1, &w), 583.09875, 1e-3);
    EXPECT_NEAR(w, -0.585, 1e-6);
    EXPECT_NEAR(shock_torque(&s, table, -0.235, 1, nullptr), 411.98625, 1e-3);
    // At 1/64 of the travel angle, half the spring's torque there.
    double length, slope;
    linkage_curve(table, 1.0 / 64, &length, &slope);
    EXPECT_NEAR(shock_torque(&s, table, -0.47 / 64, 0, nullptr), 0.5 * slope * (0.03 + length) * 3000, 1e-4);
}

TEST(SuspensionMotor, PushesOutOrBrakesTheExtension)
{
    SuspensionMotor m = suspension_motor(50, 100);
    EXPECT_EQ(m.velocity, 100);
    EXPECT_EQ(m.max_force, 50);
    m = suspension_motor(-20, 100);
    EXPECT_EQ(m.velocity, 0);
    EXPECT_EQ(m.max_force, 20);
    m = suspension_motor(0, 100);
    EXPECT_EQ(m.max_force, 0);
    m = suspension_motor(NAN, 100);
    EXPECT_EQ(m.max_force, 0);
}

TEST_F(BikeWorld, EveryBikeSagsUnderItsRider)
{
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        SCOPED_TRACE(m->name);
        BikeState *b = bike_on_ground(m->name);
        ASSERT_NE(b, nullptr);
        // Built hanging on its stops: the motors push nothing.
        EXPECT_EQ(dJointGetSliderParam(b->joint[JOINT_FORK], dParamFMax), 0);
        ride(b, 384);
        BikeSuspension s = bike_suspension(b);
        double fork = -s.fork_position / m->fork_travel, rear = -s.swingarm_angle / m->linkage[LINKAGE_TRAVEL_ANGLE];
        // About a third of the rear travel, a fifth to a third of the fork's.
        EXPECT_GT(rear, 0.28);
        EXPECT_LT(rear, 0.38);
        EXPECT_GE(fork, 0.20);
        EXPECT_LE(fork, 0.35);
        // Settled: the readings are still, and each motor pushes out with the force law's value.
        EXPECT_LT(fabs(s.fork_speed), 0.01);
        EXPECT_LT(fabs(s.shock_speed), 0.01);
        SuspensionSettings fs = bike_fork_settings(b);
        double f = fork_force(&fs, m->fork_travel, s.fork_position, s.fork_speed);
        EXPECT_NEAR(dJointGetSliderParam(b->joint[JOINT_FORK], dParamFMax), f, 1e-3);
        EXPECT_EQ(dJointGetSliderParam(b->joint[JOINT_FORK], dParamVel), 100);
        SuspensionSettings ss = bike_shock_settings(b);
        double t = shock_torque(&ss, m->linkage, s.swingarm_angle, dJointGetHingeAngleRate(b->joint[JOINT_SWINGARM]), nullptr);
        EXPECT_NEAR(dJointGetHingeParam(b->joint[JOINT_SWINGARM], dParamFMax), t, 1e-3);
        EXPECT_EQ(dJointGetHingeParam(b->joint[JOINT_SWINGARM], dParamVel), 100);
        EXPECT_TRUE(bike_is_finite(b));
        if (HasFailure())
            return;
    }
}

}  // namespace
