// Engine, clutch, gearbox and brakes: the clutch ramp, the automatic clutch, shifting, the
// torque curves and the wheelie guards, the drive-line, the brakes and antilock, the idle.
#include "ride_fixture.h"

#include <math.h>

namespace {

const double k_rpm = 9.549296585513721;     // rpm per rad/s

void set_rpm(BikeState *b, double rpm) { b->engine.speed = (float)(rpm / k_rpm); }

// The torque the drive-line left on a body, about the world x axis (the bike as built faces -z).
double torque_x(const BikeState *b, int body) { return dBodyGetTorque(b->body[body])[0]; }

void clear_torques(BikeState *b)
{
    for (dBodyID body : b->body)
        dBodySetTorque(body, 0, 0, 0);
}

// Where the closed-throttle curve falls through zero, read off the table.
double idle_rpm(const BikeModel *m)
{
    for (int k = 1; k < BIKE_TORQUE_POINTS; k++)
        if (m->closed_torque[k] <= 0)
            return 500 * (k - 1 + m->closed_torque[k - 1] / (m->closed_torque[k - 1] - m->closed_torque[k]));
    return -1;
}

TEST_F(BikeWorld, TheClutchEngagesInAQuarterSecondAndLetsGoAtOnce)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    // After a reset the untouched lever engages 4/128 a tic.
    EXPECT_EQ(bike_clutch_engagement(b), 0);
    for (int k = 1; k <= 32; k++) {
        update_clutch(b);
        ASSERT_FLOAT_EQ(bike_clutch_engagement(b), k / 32.0f) << "tic " << k;
    }
    update_clutch(b);
    EXPECT_EQ(bike_clutch_engagement(b), 1);
    // Pulled beyond 7/8 it is open at once.
    set_clutch_lever(b, 0.9f);
    update_clutch(b);
    EXPECT_EQ(bike_clutch_engagement(b), 0);
    // Half pulled: the target is 1 - 4/7; the last step may pass it, the next tic settles on it.
    set_clutch_lever(b, 0.5f);
    for (int k = 0; k < 14; k++)
        update_clutch(b);
    EXPECT_FLOAT_EQ(bike_clutch_engagement(b), 14 / 32.0f);
    update_clutch(b);
    EXPECT_FLOAT_EQ(bike_clutch_engagement(b), 3 / 7.0f);
    // The channel reaches the lever; nonsense counts as released.
    float channels[9] = { 0, 0, 0, 0, 0, 1, 0, 0, 0 };
    bike_apply_channels(b, channels);
    update_clutch(b);
    EXPECT_EQ(bike_clutch_engagement(b), 0);
    set_clutch_lever(b, NAN);
    update_clutch(b);
    EXPECT_FLOAT_EQ(bike_clutch_engagement(b), 1 / 32.0f);
}

TEST_F(BikeWorld, TheAutomaticClutchSlipsTheDriveNearIdle)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    b->engine.clutch = 1;
    double ratio = bike_gear_ratio(b, 0);
    EXPECT_NEAR(ratio, 2.35714 * 3.15 * 4, 1e-4);
    // At the automatic clutch's rpm (5000 as built) nothing reaches the wheel.
    set_rpm(b, 5000);
    update_drivetrain(b);
    EXPECT_EQ(torque_x(b, BODY_REAR_WHEEL), 0);
    EXPECT_EQ(torque_x(b, BODY_FRAME), 0);
    // 1000 rpm above it the drive is half engaged, the torque a quarter: the damper's
    // (6000 rpm - the still wheel) x 0.75, no wind-up.
    b->engine.angle = 0;
    set_rpm(b, 6000);
    float speed = b->engine.speed, crank = engine_torque(b);
    update_drivetrain(b);
    double quarter = 6000 / k_rpm * 0.75 * 0.25;
    EXPECT_NEAR(torque_x(b, BODY_REAR_WHEEL), -quarter, 1e-3);   // drives the wheel forwards
    EXPECT_NEAR(torque_x(b, BODY_FRAME), quarter, 1e-3);         // and lifts the front
    // The engine feels the same torque through the gearbox.
    EXPECT_NEAR(b->engine.speed, speed + (crank - quarter / ratio) / 0.00488281 / 128, 1e-3);
    // Wound up beyond what the slipping clutch holds (pi/4 x 0.5), the drive-line slips back to
    // that angle; the torque of this tic still comes from the whole wind-up.
    clear_torques(b);
    b->engine.angle = 2;
    set_rpm(b, 6000);
    update_drivetrain(b);
    EXPECT_NEAR(torque_x(b, BODY_REAR_WHEEL), -(6000 / k_rpm * 0.75 + 7500 * 2.0) * 0.25, 1e-2);
    EXPECT_NEAR(b->engine.angle, M_PI / 8 + b->engine.speed / 128 / ratio, 1e-5);
    // Engine braking goes through whatever the lever lets through: the wheel turns the engine
    // at 8000 rpm, the damper holds it back with its full torque.
    clear_torques(b);
    b->engine.angle = 0;
    set_rpm(b, 6000);
    dBodySetAngularVel(b->body[BODY_REAR_WHEEL], -8000 / k_rpm / ratio, 0, 0);
    update_drivetrain(b);
    EXPECT_NEAR(torque_x(b, BODY_REAR_WHEEL), (8000 - 6000) / k_rpm * 0.75, 1e-3);
}

TEST_F(BikeWorld, HoldingAShiftShiftsOnce)
{
    BikeState *b = build_bike(0, "cr125(2002)");    // five gears
    ASSERT_NE(b, nullptr);
    struct Step {
        int direction, gear;
    };
    const Step steps[] = {
        { 1, 1 }, { 1, 1 }, { 0, 1 }, { 1, 2 }, { 0, 2 }, { 1, 3 }, { 0, 3 }, { 1, 4 }, { 0, 4 },
        { 1, 4 },                   // fifth on a five-speed stays fifth
        { -1, 3 }, { -1, 3 }, { 0, 3 }, { -1, 2 }, { 1, 3 },   // a change of direction counts
        { 2, 3 }, { -2, 3 },        // nonsense is ignored and forgotten
        { 0, 3 }, { -1, 2 }, { 0, 2 }, { -1, 1 }, { 0, 1 }, { -1, 0 }, { 0, 0 },
        { -1, 0 },                  // no neutral below first
    };
    for (const Step &s : steps) {
        shift(b, s.direction);
        ASSERT_EQ(bike_gear(b), s.gear) << "after " << &s - steps << " steps";
    }
    // Six gears reach the sixth; the channel shifts beyond +-0.5 only.
    b = build_bike(1, "yz125(2002)");
    float channels[9] = {};
    for (int k = 0; k < 6; k++) {
        channels[4] = 0.5f;
        bike_apply_channels(b, channels);
        channels[4] = 0.6f;
        bike_apply_channels(b, channels);
    }
    EXPECT_EQ(bike_gear(b), 5);
    channels[4] = -0.6f;
    bike_apply_channels(b, channels);
    EXPECT_EQ(bike_gear(b), 4);
    // A fallen rider shifts nothing and opens no throttle.
    b->fall_timer = 1;
    shift(b, 0);
    shift(b, -1);
    set_throttle(b, 1);
    EXPECT_EQ(bike_gear(b), 4);
    EXPECT_EQ(bike_throttle(b), 0);
}

TEST_F(BikeWorld, EngineTorqueBlendsTheTwoCurves)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    const BikeModel *m = bike_catalogue_row(b);
    set_throttle(b, 0.25f);
    auto blend = [](double closed, double full) { return closed + 0.25 * (full - closed); };
    struct Case {
        double rpm, expected;
    };
    const Case cases[] = {
        { 0, blend(m->closed_torque[0], m->full_torque[0]) },
        { 250, blend((m->closed_torque[0] + m->closed_torque[1]) / 2, (m->full_torque[0] + m->full_torque[1]) / 2) },
        { 10000, blend(m->closed_torque[20], 15.97) },
        { 24500, blend(m->closed_torque[49], m->full_torque[49]) },
        { 30000, blend(m->closed_torque[49], m->full_torque[49]) },   // held at the last point
        { -100, blend(m->closed_torque[0], m->full_torque[0]) },
    };
    for (const Case &c : cases) {
        set_rpm(b, c.rpm);
        EXPECT_NEAR(engine_torque(b), c.expected, 1e-4) << c.rpm << " rpm";
    }
}

TEST_F(BikeWorld, TheThrottleSideGuardStopsAWheelie)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    set_throttle(b, 1);
    set_rpm(b, 8000);
    float pulling = engine_torque(b);
    ASSERT_GT(pulling, 10);
    b->wheel[0].depth = 0;          // front up
    b->wheel[1].depth = 0.05f;      // rear down
    // As built only the brake side is guarded.
    EXPECT_EQ(engine_torque(b), pulling);
    b->flags |= BIKE_FLAG_WHEELIE_THROTTLE;
    EXPECT_EQ(engine_torque(b), 0);
    // Already rotating nose-down (about the frame's own lateral axis), the drive is left alone.
    dBodySetAngularVel(b->body[BODY_FRAME], -0.1, 0, 0);
    EXPECT_EQ(engine_torque(b), pulling);
    dBodySetAngularVel(b->body[BODY_FRAME], -0.01, 0, 0);
    EXPECT_EQ(engine_torque(b), 0);
    // Both wheels up, or both down: no wheelie.
    b->wheel[1].depth = 0;
    EXPECT_EQ(engine_torque(b), pulling);
    b->wheel[0].depth = b->wheel[1].depth = 0.05f;
    EXPECT_EQ(engine_torque(b), pulling);
    // Engine braking is never cut.
    b->wheel[0].depth = 0;
    set_throttle(b, 0);
    EXPECT_LT(engine_torque(b), 0);
}

TEST_F(BikeWorld, WithTheClutchOutTheDriveLineFollowsTheWheel)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    set_clutch_lever(b, 1);
    update_clutch(b);
    // The wheel turned on its axle, the drive-line wound far from it.
    dQuaternion q;
    dQFromAxisAndAngle(q, 1, 0, 0, 0.7);
    dBodySetQuaternion(b->body[BODY_REAR_WHEEL], q);
    double beta = dJointGetHingeAngle(b->joint[JOINT_REAR_AXLE]);
    ASSERT_NEAR(fabs(beta), 0.7, 1e-6);
    b->engine.angle = 2;
    set_rpm(b, 9000);
    set_throttle(b, 1);
    float crank = engine_torque(b);
    update_drivetrain(b);
    EXPECT_EQ(torque_x(b, BODY_REAR_WHEEL), 0);
    EXPECT_EQ(torque_x(b, BODY_FRAME), 0);
    EXPECT_NEAR(b->engine.angle, beta + b->engine.speed / 128 / bike_gear_ratio(b, 0), 1e-5);
    // The free engine speeds up on its own torque alone.
    EXPECT_NEAR(b->engine.speed, 9000 / k_rpm + crank / 0.00488281 / 128, 1e-3);
    // The engine is state the physics library never sees: a broken value fails the bike.
    EXPECT_TRUE(bike_is_finite(b));
    b->engine.angle = INFINITY;
    EXPECT_FALSE(bike_is_finite(b));
    b->engine.angle = 0;
    b->engine.speed = NAN;
    EXPECT_FALSE(bike_is_finite(b));
}

TEST_F(BikeWorld, BrakesWithAntilockAndTheBrakeSideGuard)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    auto front = [&] { return dJointGetHingeParam(b->joint[JOINT_FRONT_AXLE], dParamFMax); };
    auto rear = [&] { return dJointGetHingeParam(b->joint[JOINT_REAR_AXLE], dParamFMax); };
    // Nothing asked: no brake.
    update_brakes(b);
    EXPECT_EQ(front(), 0);
    EXPECT_EQ(rear(), 0);
    set_front_brake(b, 0.5f);
    set_rear_brake(b, 2);               // clamped to 1
    b->wheel[0].depth = b->wheel[1].depth = 0.05f;
    b->wheel[0].velocity = v3(0, 0, -1.9f);
    b->wheel[1].velocity = v3(3, 0, 0);
    update_brakes(b);
    EXPECT_EQ(front(), 125);            // half of the 250 lbf ft the bike is built with
    EXPECT_EQ(rear(), 250);             // no antilock at the rear as built
    EXPECT_EQ(dJointGetHingeParam(b->joint[JOINT_FRONT_AXLE], dParamVel), 0);
    // The front contact sliding faster than 2 ft/s: antilock lets go completely.
    b->wheel[0].velocity = v3(0, 0.5f, -2.1f);
    update_brakes(b);
    EXPECT_EQ(front(), 0);
    b->flags |= BIKE_FLAG_REAR_ANTILOCK;
    update_brakes(b);
    EXPECT_EQ(rear(), 0);
    // Front down and rear up: the brake-side guard keeps the front from flipping the bike.
    b->wheel[0].velocity = v3(0, 0, 0);
    b->wheel[1].depth = 0;
    update_brakes(b);
    EXPECT_EQ(front(), 0);
    EXPECT_EQ(rear(), 250);             // a wheel in the air has no slide to release
    b->flags &= (uint8_t)~BIKE_FLAG_WHEELIE_BRAKE;
    update_brakes(b);
    EXPECT_EQ(front(), 125);
}

TEST_F(BikeWorld, AResetEngineRunsUpToItsIdle)
{
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        SCOPED_TRACE(m->name);
        BikeState *b = build_bike(0, m->name);
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(bike_engine_rpm(b), 0);
        double idle = idle_rpm(m), highest = 0;
        for (int k = 0; k < 1536; k++) {
            bike_drive_update(b, k);
            highest = fmax(highest, bike_engine_rpm(b));
        }
        EXPECT_NEAR(bike_engine_rpm(b), idle, idle * 0.005);
        EXPECT_LT(highest, idle * 1.01);
        // The engine turned the wheel not at all: the automatic clutch slips at idle.
        EXPECT_EQ(torque_x(b, BODY_REAR_WHEEL), 0);
    }
}

TEST_F(BikeWorld, ARearWheelSpinningFreeFollowsTheEngine)
{
    // On a stand: the frame held still, the rear wheel in the air, full throttle in first.
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        SCOPED_TRACE(m->name);
        BikeState *b = build_bike(0, m->name);
        ASSERT_NE(b, nullptr);
        apply_setup_to_bike(b);
        dJointID stand = dJointCreateFixed(bike_world(), 0);
        dJointAttach(stand, b->body[BODY_FRAME], nullptr);
        dJointSetFixed(stand);
        set_throttle(b, 1);
        double ratio = bike_gear_ratio(b, 0), worst[3] = { 0, 0, 0 };
        for (int k = 0; k < 384; k++) {
            bike_world_step();
            update_suspension(b);
            bike_drive_update(b, k);
            ASSERT_TRUE(bike_is_finite(b)) << "tic " << k;
            double wheel = dJointGetHingeAngleRate(b->joint[JOINT_REAR_AXLE]) * ratio * k_rpm;
            double error = fabs(wheel - bike_engine_rpm(b));
            worst[k / 128] = fmax(worst[k / 128], error);
        }
        dJointDestroy(stand);
        // Forwards, in first, at the top of the full-throttle curve.
        EXPECT_EQ(bike_gear(b), 0);
        EXPECT_GT(bike_engine_rpm(b), m->shift_points[2]);
        EXPECT_GT(dJointGetHingeAngleRate(b->joint[JOINT_REAR_AXLE]), 0);
        // Wheel and engine agree within a percent, and what difference is left dies away.
        EXPECT_LT(worst[2], 0.01 * bike_engine_rpm(b));
        EXPECT_LE(worst[2], worst[1] + 1);
        if (HasFailure())
            return;
    }
}

}  // namespace
