#include <gtest/gtest.h>

#include <math.h>

#include "bike/bike.h"
#include "bike/wheel.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

static const float k_R = 0.8333f, k_r = 0.3333f;

TEST(TyreTriangle, FaceContactUnderTheRim)
{
    TyreHit h;
    Vec3 p0 = v3(-10, 0, -10), p1 = v3(10, 0, -10), p2 = v3(0, 0, 10);
    ASSERT_TRUE(tyre_triangle(v3(0, 1, 0), v3(1, 0, 0), k_R, k_r, p0, p1, p2, &h));
    EXPECT_NEAR(h.depth, 0.3333 - (1 - 0.8333), 1e-5);
    EXPECT_NEAR(h.point.x, 0, 1e-5);
    EXPECT_NEAR(h.point.y, 0, 1e-5);
    EXPECT_NEAR(h.point.z, 0, 1e-5);
    EXPECT_NEAR(h.normal.y, 1, 1e-6);
    // The vertex order does not turn the normal over.
    ASSERT_TRUE(tyre_triangle(v3(0, 1, 0), v3(1, 0, 0), k_R, k_r, p0, p2, p1, &h));
    EXPECT_NEAR(h.normal.y, 1, 1e-6);
    // Clear of the ground: nothing.
    EXPECT_FALSE(tyre_triangle(v3(0, 1.2f, 0), v3(1, 0, 0), k_R, k_r, p0, p1, p2, &h));
    // A wheel lying flat touches with its whole tube.
    ASSERT_TRUE(tyre_triangle(v3(0, 0.2f, 0), v3(0, 1, 0), k_R, k_r, p0, p1, p2, &h));
    EXPECT_NEAR(h.depth, 0.1333, 1e-5);
}

TEST(TyreTriangle, SlopedFaceMeasuresAlongItsNormal)
{
    // A 1 in 2 slope rising towards +z; the wheel's plane holds the slope's normal.
    TyreHit h;
    Vec3 p0 = v3(-10, -5, -10), p1 = v3(10, -5, -10), p2 = v3(0, 5, 10);
    float above = 1.3f;             // centre height over the slope at z = 0
    ASSERT_TRUE(tyre_triangle(v3(0, above, 0), v3(1, 0, 0), k_R, k_r, p0, p1, p2, &h));
    double dist = above / sqrt(1.25);
    EXPECT_NEAR(h.depth, 0.8333 + 0.3333 - dist, 1e-5);
    EXPECT_NEAR(h.normal.y, 1 / sqrt(1.25), 1e-5);
    EXPECT_NEAR(h.normal.z, -0.5 / sqrt(1.25), 1e-5);
}

TEST(TyreTriangle, EdgeContactBesideTheWheel)
{
    // The triangle's edge runs along z at x = 0.2; the wheel stands at x = 0 outside it.
    TyreHit h;
    Vec3 p0 = v3(0.2f, 0, -5), p1 = v3(0.2f, 0, 5), p2 = v3(5, 0, -5);
    ASSERT_TRUE(tyre_triangle(v3(0, 1, 0), v3(1, 0, 0), k_R, k_r, p0, p1, p2, &h));
    double d = sqrt(0.04 + (1 - 0.8333) * (1 - 0.8333));
    EXPECT_NEAR(h.depth, 0.3333 - d, 1e-4);
    EXPECT_NEAR(h.point.x, 0.2, 1e-5);
    EXPECT_NEAR(h.point.z, 0, 1e-3);
    EXPECT_NEAR(h.normal.x, -0.2 / d, 1e-3);
    EXPECT_NEAR(h.normal.y, (1 - 0.8333) / d, 1e-3);
    // Moved away sideways it no longer reaches.
    EXPECT_FALSE(tyre_triangle(v3(-0.2f, 1, 0), v3(1, 0, 0), k_R, k_r, p0, p1, p2, &h));
}

TEST(TyreTriangle, PushesFromTheMiddleOfTheFootprint)
{
    TyreHit h;
    Vec3 p0 = v3(-10, 0, -10), p1 = v3(10, 0, -10), p2 = v3(0, 0, 10);
    // Upright: the footprint is short, its middle the lowest point itself.
    ASSERT_TRUE(tyre_triangle(v3(0, 1, 0), v3(1, 0, 0), k_R, k_r, p0, p1, p2, &h));
    EXPECT_NEAR(h.push.x, 0, 1e-5);
    EXPECT_NEAR(h.push.y, 0, 1e-5);
    EXPECT_NEAR(h.push.z, 0, 1e-5);
    // Lying flat: the whole ring presses alike, and it is held under its axle.
    ASSERT_TRUE(tyre_triangle(v3(1, 0.2f, 2), v3(0, 1, 0), k_R, k_r, p0, p1, p2, &h));
    EXPECT_NEAR(h.push.x, 1, 1e-5);
    EXPECT_NEAR(h.push.z, 2, 1e-5);
    // Tipped 30 degrees from flat (axle (sin 30, cos 30, 0)): the rim's lowest point lies along
    // u = (cos 30, -sin 30, 0), R sin 30 = 0.41665 below the centre. With the centre 0.54995
    // up, the tube there is 0.2 deep, and around the rim it is pressed in by
    // A + B cos t with B = 0.41665, A = 0.2 - B = -0.21665, so the footprint's half angle is
    // m = acos(0.519981) = 1.023968. Its middle lies R (2A sin m + B (m + sin m cos m)) /
    // (2A m + 2B sin m) = 0.8333 x 0.241579 / 0.268101 = 0.750863 along u: 0.650267 across,
    // where the lowest point is R cos 30 = 0.721659 across.
    ASSERT_TRUE(tyre_triangle(v3(0, 0.54995f, 0), v3(0.5f, 0.8660254f, 0), k_R, k_r, p0, p1, p2, &h));
    EXPECT_NEAR(h.depth, 0.2, 1e-5);
    EXPECT_NEAR(h.point.x, 0.721659, 1e-5);
    EXPECT_NEAR(h.push.x, 0.650267, 1e-5);
    EXPECT_NEAR(h.push.y, 0, 1e-5);
    EXPECT_NEAR(h.push.z, 0, 1e-5);
}

TEST(ContactNormal, CleanUp)
{
    Vec3 n = clean_contact_normal(v3(0, -1, 0));
    EXPECT_EQ(n.y, 1);
    n = clean_contact_normal(v3(3, -1, 0));
    EXPECT_EQ(n.x, 1);
    EXPECT_EQ(n.y, 0);
    n = clean_contact_normal(v3(0.01f, -1, 0.01f));
    EXPECT_EQ(n.y, 1);
    n = clean_contact_normal(v3(0, 2, 0));
    EXPECT_EQ(n.y, 1);
}

TEST(TyreSpring, StiffnessRisesWithCompression)
{
    double k, c;
    tyre_spring(0.5f, 0.3333f, &k, &c);
    EXPECT_DOUBLE_EQ(k, 25000);
    EXPECT_DOUBLE_EQ(c, 2500);
    tyre_spring(0.25f, 0.5f, &k, &c);
    EXPECT_DOUBLE_EQ(k, 4000);
    EXPECT_DOUBLE_EQ(c, 487.5);
    tyre_spring(NAN, 0.5f, &k, &c);
    EXPECT_DOUBLE_EQ(k, 1000);
}

TEST(TyreGrip, ArcadeLean)
{
    EXPECT_FLOAT_EQ(arcade_grip_scale(0), 1);
    EXPECT_NEAR(arcade_grip_scale((float)(M_PI / 6)), 0.75, 1e-6);
    EXPECT_NEAR(arcade_grip_scale((float)(-M_PI / 4)), 0.625, 1e-6);
    EXPECT_NEAR(arcade_grip_scale(2), 0.625, 1e-6);
    EXPECT_FLOAT_EQ(arcade_grip_scale(NAN), 1);
}

struct WheelWorld : ::testing::Test {
    Terrain terrain = {};
    dBodyID wheel = nullptr;
    WheelContact contact = {};
    TileType tile = {};
    void SetUp() override
    {
        ASSERT_TRUE(bike_world_create());
        ASSERT_TRUE(terrain_create(&terrain, 7, 1.0f));
        wheel = dBodyCreate(bike_world());
        contact.wheel = wheel;
        contact.axle = v3(1, 0, 0);
        contact.major_radius = k_R;
        contact.minor_radius = k_r;
        tile_set_defaults(&tile);
    }
    void TearDown() override
    {
        dJointGroupEmpty(bike_contact_group());
        dBodyDestroy(wheel);
        terrain_unload(&terrain);
        bike_world_destroy();
    }
    void curve(float k0, float k1, float v0, float v1, int slip)
    {
        tile.friction_key[0] = k0;
        tile.friction_key[1] = k1;
        tile.friction_value[0] = v0;
        tile.friction_value[1] = v1;
        tile.slip_function = slip;
    }
};

TEST_F(WheelWorld, FrictionCurves)
{
    contact.velocity = v3(0, 0, 7);
    tile.friction_value[0] = 1.2f;
    EXPECT_FLOAT_EQ(wheel_friction(&tile, &contact), 1.2f);
    contact.velocity = v3(0, 0, 0);
    EXPECT_FLOAT_EQ(wheel_friction(&tile, &contact), 1.2f);
    curve(5, 20, 1.2f, 0.8f, 0);
    contact.velocity = v3(0, (float)sqrt(212.5), 0);
    EXPECT_NEAR(wheel_friction(&tile, &contact), 1.0, 1e-5);
    curve(5, 20, 1.2f, 0.8f, 1);
    contact.velocity = v3(12.5f, 0, 0);
    EXPECT_NEAR(wheel_friction(&tile, &contact), 1.0, 1e-5);
    // Equal neighbouring keys make a step, never 0/0.
    curve(5, 5, 1.2f, 0.8f, 1);
    contact.velocity = v3(5, 0, 0);
    EXPECT_FLOAT_EQ(wheel_friction(&tile, &contact), 0.8f);
    contact.velocity = v3(4.9f, 0, 0);
    EXPECT_FLOAT_EQ(wheel_friction(&tile, &contact), 1.2f);
    contact.velocity = v3(NAN, 0, 0);
    EXPECT_TRUE(isfinite(wheel_friction(&tile, &contact)));
}

TEST_F(WheelWorld, SpinOnTheSpotIsNoSlipForFunctionTwo)
{
    // A wheel spinning at 10 rad/s in place: its contact point moves at 10 ft/s, but without
    // the spin it does not move at all.
    dBodySetPosition(wheel, 50, 1, 50);
    dBodySetAngularVel(wheel, 10, 0, 0);
    contact.point = v3(50, 0, 50);
    contact.velocity = v3(0, 0, -10);
    curve(5, 20, 1.2f, 0.8f, 1);
    EXPECT_NEAR(wheel_friction(&tile, &contact), 1.2 - 0.4 / 3, 1e-5);
    tile.slip_function = 2;
    EXPECT_FLOAT_EQ(wheel_friction(&tile, &contact), 1.2f);
    // Sliding sideways without spin the slip counts in full.
    dBodySetAngularVel(wheel, 0, 0, 0);
    dBodySetLinearVel(wheel, 12.5f, 0, 0);
    contact.velocity = v3(12.5f, 0, 0);
    EXPECT_NEAR(wheel_friction(&tile, &contact), 1.0, 1e-5);
}

TEST_F(WheelWorld, ContactJointAndRollingResistance)
{
    // Half the tyre's section below flat ground, rolling forwards at 10 ft/s.
    dBodySetPosition(wheel, 50, k_R + k_r / 2, 50);
    dBodySetLinearVel(wheel, 0, 0, -10);
    ASSERT_TRUE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_NEAR(contact.depth, k_r / 2, 1e-4);
    EXPECT_NEAR(contact.point.y, 0, 1e-5);
    EXPECT_NEAR(contact.normal.y, 1, 1e-6);
    EXPECT_NEAR(contact.velocity.z, -10, 1e-5);
    EXPECT_EQ(dBodyGetNumJoints(wheel), 1);
    // Default roll_resist (5, 15) at half compression: 10 lbf against the motion.
    const dReal *f = dBodyGetForce(wheel);
    EXPECT_NEAR(f[2], 10, 1e-3);
    EXPECT_NEAR(f[0], 0, 1e-6);
    dJointGroupEmpty(bike_contact_group());
    dBodySetForce(wheel, 0, 0, 0);
    // Below 1 ft/s the force shrinks with the speed.
    dBodySetLinearVel(wheel, 0, 0, -0.5);
    ASSERT_TRUE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_NEAR(dBodyGetForce(wheel)[2], 5, 1e-3);
    dJointGroupEmpty(bike_contact_group());
    // The first-hit query agrees on flat ground.
    ASSERT_TRUE(query_wheel_contact(&terrain, &contact));
    EXPECT_NEAR(contact.depth, k_r / 2, 1e-4);
    EXPECT_EQ(dBodyGetNumJoints(wheel), 0);
    // Clear of the ground, and far outside the grid: depth 0 and no joint.
    dBodySetPosition(wheel, 50, 2, 50);
    EXPECT_FALSE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_EQ(contact.depth, 0);
    EXPECT_FALSE(query_wheel_contact(&terrain, &contact));
    dBodySetPosition(wheel, -500, 0.5, 50);
    EXPECT_FALSE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_EQ(dBodyGetNumJoints(wheel), 0);
    // Just past the edge the edge heights carry on.
    dBodySetPosition(wheel, -0.5, k_R + k_r / 2, 50);
    EXPECT_TRUE(create_wheel_contact(&terrain, &contact, 1));
}

#include "bike/shape.h"

TEST_F(WheelWorld, ALoadedTyreSagsToItsStiffnessAndSlidesToAStopAtMuG)
{
    // Lying flat under 666.6 lbf (20.83 slug): at half compression the tyre's stiffness is
    // 24000 / 8 + 1000 = 4000 lbf/ft, and 4000 x r / 2 = 666.6 lbf, so it settles r / 2 deep.
    // Too heavy to turn, so it only slides.
    dMass m;
    dMassSetSphereTotal(&m, 666.6 / 32, 1e3);
    dBodySetMass(wheel, &m);
    contact.axle = v3(0, 1, 0);
    dBodySetPosition(wheel, 50, k_r / 2 + 0.05f, 50);
    for (int tic = 0; tic < 384; tic++) {
        create_wheel_contact(&terrain, &contact, 1);
        bike_world_step();
    }
    EXPECT_NEAR(contact.depth, k_r / 2, 1e-3);
    EXPECT_NEAR(dBodyGetPosition(wheel)[1], k_r / 2, 1e-3);
    // Sliding, braked still, at 10 ft/s along a diagonal of the ground's grid: friction 1 of the
    // default surface times g, 32 ft/s^2 against the slide whatever its direction, plus the
    // rolling resistance at half compression, 10 lbf on 20.83 slug (0.48 ft/s^2). An eighth of
    // a second takes 4.06 ft/s off; with three quarters of the grip, 3.06.
    for (float grip : { 1.0f, 0.75f }) {
        SCOPED_TRACE(grip);
        dBodySetLinearVel(wheel, 7.0710678f, 0, 7.0710678f);
        for (int tic = 0; tic < 16; tic++) {
            dBodySetAngularVel(wheel, 0, 0, 0);
            create_wheel_contact(&terrain, &contact, grip);
            bike_world_step();
        }
        const dReal *v = dBodyGetLinearVel(wheel);
        EXPECT_NEAR(hypot(v[0], v[2]), 10 - (32 * grip + 10 / 20.83) / 8, 0.03);
        EXPECT_NEAR(v[0], v[2], 1e-3) << "straight on along the slide";
    }
}

TEST_F(WheelWorld, ALoadedWheelLyingFlatSettlesOnItsFootprint)
{
    // 10 slug on a wheel lying all but flat (tipped 3 degrees): 320 lbf, which the tyre carries
    // where k(d) d = 320 with k = 24000 (d/r)^3 + 1000, at d = 0.1307 (q = 0.392): the axle
    // settles about r - d = 0.203 ft over the ground. Pushed at one point of its rim it would
    // tip about that point, and with the next tic's deepest point on the far side, rock and
    // sink.
    dMass m;
    dMassSetCylinderTotal(&m, 10, 2, k_R + k_r, 2 * k_r);
    dBodySetMass(wheel, &m);
    dMatrix3 tip;
    dRFromAxisAndAngle(tip, 0, 0, 1, 1.5707963 - 0.0523599);
    dBodySetRotation(wheel, tip);
    dBodySetPosition(wheel, 50, k_r, 50);
    float lowest = 1;
    for (int tic = 0; tic < 512; tic++) {
        create_wheel_contact(&terrain, &contact, 1);
        bike_world_step();
        lowest = fminf(lowest, (float)dBodyGetPosition(wheel)[1]);
    }
    // Rocking on its footprint it settles, never sinking far below the resting height.
    EXPECT_GT(lowest, 0.18f);
    EXPECT_NEAR(dBodyGetPosition(wheel)[1], 0.3333 - 0.1307, 0.02);
    const dReal *w = dBodyGetAngularVel(wheel);
    EXPECT_LT(sqrt(w[0] * w[0] + w[2] * w[2]), 0.3);
}

TEST_F(WheelWorld, TyreAgainstSpheres)
{
    ShapeSphere rock = { { 50, 0, 50 }, 0.3f, 1, 20000, 50 };
    Shape scenery = { "rock", 70.8f, 1, &rock };
    dBodySetPosition(wheel, 50, 1, 50);
    EXPECT_TRUE(tyre_shape_contact(&scenery, nullptr, &contact, SHAPE_TEST));
    EXPECT_EQ(dBodyGetNumJoints(wheel), 0);
    EXPECT_TRUE(tyre_shape_contact(&scenery, nullptr, &contact, SHAPE_JOINTS));
    EXPECT_EQ(dBodyGetNumJoints(wheel), 1);
    // Pushed up: the rim's bottom 1/6 ft above the rock's centre, 0.4667 ft deep, held to
    // 1000 lbf.
    EXPECT_TRUE(tyre_shape_contact(&scenery, nullptr, &contact, SHAPE_FORCE));
    EXPECT_NEAR(dBodyGetForce(wheel)[1], 1000, 1e-3);
    dBodySetPosition(wheel, 50, 1.7f, 50);
    EXPECT_FALSE(tyre_shape_contact(&scenery, nullptr, &contact, SHAPE_JOINTS));
    EXPECT_FALSE(tyre_shape_contact(nullptr, nullptr, &contact, SHAPE_JOINTS));
}

TEST_F(WheelWorld, TelemetryAfterTheStep)
{
    BikeState bike = {};
    bike.built = true;
    bike.wheel[0] = contact;
    WheelContact &w = bike.wheel[0];
    dBodySetLinearVel(wheel, 0, 0, -10);
    w.depth = 0.1f;
    w.velocity = v3(0, 0, -3);
    // The ground pushes the wheel up, back and to the left: the tyre pushes the ground the
    // other way.
    w.feedback.f1[0] = 3;
    w.feedback.f1[1] = 100;
    w.feedback.f1[2] = 20;
    wheel_after_step(&bike);
    EXPECT_FLOAT_EQ(w.speed, 10);
    EXPECT_FLOAT_EQ(w.slip, 3);
    EXPECT_FLOAT_EQ(w.fz, 20);
    EXPECT_FLOAT_EQ(w.fx, -3);
    char text[1024];
    wheel_telemetry_text(&bike, text, sizeof text);
    EXPECT_STREQ(text, "front:\nspeed=10.00\nslip=3.00\nfx=-3.00\nfz=20.00\npfx=0.00\npfz=0.00\n"
                       "rear:\nspeed=0.00\nslip=0.00\nfx=0.00\nfz=0.00\npfx=0.00\npfz=0.00\n");
    // Standing still it resolves along its heading (-z for an axle along x).
    dBodySetLinearVel(wheel, 0, 0, 0);
    wheel_after_step(&bike);
    EXPECT_FLOAT_EQ(w.fz, 20);
    // Off the ground everything reads 0.
    w.depth = 0;
    wheel_after_step(&bike);
    EXPECT_EQ(w.fz, 0);
    EXPECT_EQ(w.speed, 0);
    wheel_telemetry_text(&bike, text, 8);
    EXPECT_STREQ(text, "front:\n");
}

TEST_F(WheelWorld, DiggingWheelShowsItsPushInTheTelemetry)
{
    BikeState bike = {};
    bike.built = true;
    bike.wheel[0] = contact;
    WheelContact &w = bike.wheel[0];
    dBodySetLinearVel(wheel, 0, 0, -20);
    w.point = v3(64, 0, 64);
    w.depth = 0.1f;
    w.velocity = v3(0, 0, -3);          // slip 3 of the default 0..5: the push is scaled by 1.3
    w.feedback.f1[1] = 300;
    w.feedback.f1[2] = -200;            // driven forward
    wheel_after_step(&bike);
    bike_dig_terrain(&bike, &terrain, 10);
    EXPECT_FLOAT_EQ(w.fz, -200);
    EXPECT_NEAR(w.pfz, 1.3f * w.fz, 1e-3);
    EXPECT_NEAR(w.pfx, 0, 1e-4);
    EXPECT_EQ(1, w.erode.samples);
    EXPECT_EQ(0, bike.wheel[1].erode.samples);
}

TEST(TyreTriangle, OddShapesGiveFiniteContacts)
{
    // Random wheels against random, sometimes degenerate triangles (seeded).
    unsigned state = 12345;
    auto next = [&state]() {
        state = state * 1103515245u + 12345u;
        return (float)((state >> 8) & 0xffff) / 65535.0f * 4 - 2;
    };
    int hits = 0;
    for (int n = 0; n < 4000; n++) {
        Vec3 c = v3(next(), next(), next()), a = v3(next(), next(), next());
        Vec3 p0 = v3(next(), next(), next()), p1 = v3(next(), next(), next());
        Vec3 p2 = n % 7 == 0 ? p1 : v3(next(), next(), next());
        if (n % 11 == 0)
            a = v3(0, 0, 0);
        TyreHit h;
        if (tyre_triangle(c, a, k_R, k_r, p0, p1, p2, &h)) {
            hits++;
            ASSERT_TRUE(isfinite(h.depth) && h.depth > 0 && h.depth < 10) << h.depth;
            ASSERT_TRUE(isfinite(h.point.x) && isfinite(h.point.y) && isfinite(h.point.z));
            ASSERT_NEAR(v3_length(h.normal), 1, 1e-4);
            ASSERT_GE(h.normal.y, 0);
        }
    }
    EXPECT_GT(hits, 100);
}

TEST_F(WheelWorld, NonSpinningVelocity)
{
    // Spin about the axle drops out; a wobble about the vertical stays.
    dBodySetPosition(wheel, 50, 1, 50);
    dBodySetLinearVel(wheel, 0, 0, -4);
    dBodySetAngularVel(wheel, 10, 2, 0);
    contact.point = v3(50, 0, 50);
    Vec3 v = wheel_non_spinning_velocity(&contact);
    // (0, 2, 0) x (0, -1, 0) = 0: the vertical wobble does not move the point under the axle.
    EXPECT_NEAR(v.x, 0, 1e-6);
    EXPECT_NEAR(v.z, -4, 1e-6);
    contact.point = v3(50, 1, 49);  // the front of the rim
    v = wheel_non_spinning_velocity(&contact);
    // (0, 2, 0) x (0, 0, -1) = (-2, 0, 0).
    EXPECT_NEAR(v.x, -2, 1e-6);
    EXPECT_NEAR(v.z, -4, 1e-6);
    WheelContact none = {};
    EXPECT_EQ(wheel_non_spinning_velocity(&none).z, 0);
}

// --- the wheel against small hand-built height fields ---
//
// Tolerances: a face contact is exact up to float rounding, about 4e-6 ft at coordinates near
// 50 ft. An edge contact comes from a golden-section search whose bracket ends near 1e-5 of a
// 1 ft edge; the distance is flat at its minimum, so the depth keeps float precision (1e-4
// leaves room) while the normal, turned by the point's offset over a distance of about 0.1 ft,
// gets 1e-3. A vertex contact is found at the edge's end exactly.

struct HandTerrain : WheelWorld {
    // Heights h(i, j) over the vertices i, j in 40..60; the wheel stays inside that block.
    template <typename F> void shape(F h)
    {
        for (int j = 40; j <= 60; j++)
            for (int i = 40; i <= 60; i++)
                terrain_set_height(&terrain, i, j, h(i, j));
    }
    void place(float x, float y, float z) { dBodySetPosition(wheel, x, y, z); }
    void expect_normal(Vec3 n, double x, double y, double z, double tol)
    {
        EXPECT_NEAR(n.x, x, tol);
        EXPECT_NEAR(n.y, y, tol);
        EXPECT_NEAR(n.z, z, tol);
    }
};

TEST_F(HandTerrain, FlatGroundUprightAndLeaning)
{
    shape([](int, int) { return 2.0f; });
    // Upright, centre 0.9 ft over the ground: the rim's bottom 0.9 - R = 0.0667 ft up, so the
    // tube reaches r - 0.0667 = 0.2666 ft below, straight under the centre.
    place(50.3f, 2.9f, 50.6f);
    ASSERT_TRUE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_NEAR(contact.depth, 0.3333 - (0.9 - 0.8333), 1e-5);
    EXPECT_NEAR(contact.point.x, 50.3, 1e-5);
    EXPECT_NEAR(contact.point.y, 2, 1e-5);
    EXPECT_NEAR(contact.point.z, 50.6, 1e-5);
    expect_normal(contact.normal, 0, 1, 0, 1e-6);
    dJointGroupEmpty(bike_contact_group());
    // Leaning 30 degrees (axle (cos 30, sin 30, 0)): the lowest rim point lies R along
    // (sin 30, -cos 30, 0), so R cos 30 = 0.721659 below the centre and 0.41665 ft across;
    // the rim's bottom is 0.9 - 0.721659 = 0.178341 up, depth 0.3333 - 0.178341 = 0.154959.
    contact.axle = v3(0.8660254f, 0.5f, 0);
    ASSERT_TRUE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_NEAR(contact.depth, 0.154959, 1e-5);
    EXPECT_NEAR(contact.point.x, 50.71665, 1e-5);
    EXPECT_NEAR(contact.point.y, 2, 1e-5);
    EXPECT_NEAR(contact.point.z, 50.6, 1e-5);
    expect_normal(contact.normal, 0, 1, 0, 1e-6);
    // The first hit: the cells span 49..51 both ways around (50.5, 50.5), so the spiral starts
    // in cell (50, 50), on whose diagonal the rim's bottom stands; both its triangles hold it
    // and report the full face contact of the upright wheel, whichever comes first.
    contact.axle = v3(1, 0, 0);
    place(50.5f, 2.9f, 50.5f);
    ASSERT_TRUE(query_wheel_contact(&terrain, &contact));
    EXPECT_NEAR(contact.depth, 0.3333 - (0.9 - 0.8333), 1e-5);
    EXPECT_NEAR(contact.point.x, 50.5, 1e-5);
    EXPECT_NEAR(contact.point.z, 50.5, 1e-5);
    expect_normal(contact.normal, 0, 1, 0, 1e-6);
}

TEST_F(HandTerrain, SlopeUphill)
{
    // y = (z - 40) / 2, rising towards +z; unit normal (0, 2, -1) / sqrt 5 =
    // (0, 0.894427, -0.447214), which lies in the wheel's plane (axle along x).
    shape([](int, int j) { return 0.5f * (j - 40); });
    // Ground at z = 50.6 is 5.3; centre 1.2 ft above it is 1.2 x 0.894427 = 1.073313 from
    // the plane, so depth R + r - 1.073313 = 0.093287 at c - 1.073313 n = (50.3, 5.54, 51.08).
    place(50.3f, 6.5f, 50.6f);
    ASSERT_TRUE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_NEAR(contact.depth, 0.093287, 1e-5);
    EXPECT_NEAR(contact.point.x, 50.3, 1e-5);
    EXPECT_NEAR(contact.point.y, 5.54, 1e-5);
    EXPECT_NEAR(contact.point.z, 51.08, 1e-5);
    expect_normal(contact.normal, 0, 0.894427, -0.447214, 1e-5);
    // The first hit stops short of that. The cells span 49..51 both ways, so the spiral starts
    // in cell (50, 50) (z 50..51), which the contact point at z = 51.08 lies beyond. Its
    // triangle with fu >= fw (z <= x) stays out of reach: the ground falls away from the rim
    // as z drops, so none of it is nearer than the diagonal z = x, which comes no nearer than
    // about 0.46 ft (0.466 at (50.5, 50.5): 0.2 ft off the wheel's plane, 0.4207 inside the rim); the other
    // one reaches up to its edge
    // z = 51, at x = 50.3. There the ground is at 5.5, (-1, 0.4) from the centre in (y, z),
    // rho = sqrt(1.16) = 1.077033: depth 0.3333 - (rho - R) = 0.089567, and the normal points
    // from the edge to the rim, along (0, 1, -0.4) / rho = (0, 0.928477, -0.371391).
    ASSERT_TRUE(query_wheel_contact(&terrain, &contact));
    EXPECT_NEAR(contact.depth, 0.089567, 1e-4);
    EXPECT_NEAR(contact.point.x, 50.3, 1e-3);
    EXPECT_NEAR(contact.point.z, 51, 1e-5);
    expect_normal(contact.normal, 0, 0.928477, -0.371391, 1e-3);
}

TEST_F(HandTerrain, SlopeAcrossTheWheel)
{
    // y = (x - 40) / 2: n = (-0.447214, 0.894427, 0), tilted out of the wheel's plane. The
    // rim's point lowest against the plane is -n + a (n.a) = (0, -0.894427, 0) normalised:
    // straight below the centre, R cos(phi) = 0.745326 nearer the plane than the centre.
    shape([](int i, int) { return 0.5f * (i - 40); });
    // Ground at x = 50.3 is 5.15; centre 1 ft above it: 0.894427 from the plane, the rim's
    // bottom 0.894427 - 0.745326 = 0.149101, depth 0.3333 - 0.149101 = 0.184199. The point is
    // the rim's bottom (50.3, 5.3167, 50.6) moved 0.149101 against n: (50.36668, 5.18334).
    place(50.3f, 6.15f, 50.6f);
    ASSERT_TRUE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_NEAR(contact.depth, 0.184199, 1e-5);
    EXPECT_NEAR(contact.point.x, 50.36668, 1e-5);
    EXPECT_NEAR(contact.point.y, 5.18334, 1e-5);
    EXPECT_NEAR(contact.point.z, 50.6, 1e-5);
    expect_normal(contact.normal, -0.447214, 0.894427, 0, 1e-5);
}

TEST_F(HandTerrain, RidgeGivesAnEdgeContact)
{
    // A roof along the grid line x = 50: y = 3 - |x - 50|, two 45 degree planes meeting in
    // the cells' edges from (50, j) to (50, j + 1).
    shape([](int i, int) { return 3.0f - fabsf((float)(i - 50)); });
    // The wheel 0.05 ft beside the ridge, its rim's bottom 0.1 ft above it. The ridge point
    // under the centre, (50, 3, 50.5), is 0.05 off the wheel's plane and 0.9333 - R = 0.1
    // inside it from the rim: distance sqrt(0.05^2 + 0.1^2) = 0.111803, depth
    // 0.3333 - 0.111803 = 0.221497, normal (0.05, 0.1, 0) / 0.111803.
    // Neither face beats it: against the near face (normal (1, 1, 0) / sqrt 2) the rim's lowest
    // point is (50.05, 3.1, 50.5), 0.106066 above the plane, and its foot falls back to
    // x = 50.05 - 0.075 = 49.975, off that face; against the far face it is 0.035355 up and
    // its foot lands at x = 50.075, off that face too.
    place(50.05f, 3.9333f, 50.5f);
    ASSERT_TRUE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_NEAR(contact.depth, 0.221497, 1e-4);
    EXPECT_NEAR(contact.point.x, 50, 1e-5);
    EXPECT_NEAR(contact.point.y, 3, 1e-5);
    EXPECT_NEAR(contact.point.z, 50.5, 1e-3);
    expect_normal(contact.normal, 0.447214, 0.894427, 0, 1e-3);
    // The first hit is some triangle along the ridge: never deeper than the deepest.
    ASSERT_TRUE(query_wheel_contact(&terrain, &contact));
    EXPECT_GT(contact.depth, 0);
    EXPECT_LE(contact.depth, 0.221497 + 1e-4);
    // Standing on the ridge the edge pushes straight up: depth r - 0.1.
    place(50, 3.9333f, 50.5f);
    ASSERT_TRUE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_NEAR(contact.depth, 0.2333, 1e-4);
    expect_normal(contact.normal, 0, 1, 0, 1e-3);
}

TEST_F(HandTerrain, SpikeGivesAVertexContact)
{
    // Flat ground at 0 with one vertex, (50, 50), raised to 2: eight steep triangles meet at
    // the tip T = (50, 2, 50).
    terrain_set_height(&terrain, 50, 50, 2);
    // Centre (50.05, 3, 50.2): T is 0.05 off the wheel's plane (axle x) and, in that plane,
    // at (-1, -0.2) from the centre, rho = sqrt(1.04) = 1.019804 out. Its distance to the rim
    // circle is sqrt(0.05^2 + (rho - R)^2) = sqrt(0.0025 + 0.186504^2) = 0.193091, depth
    // 0.3333 - 0.193091 = 0.140209. The rim's nearest point minus T is
    // (0.05, 0.186504 / rho, 0.186504 x 0.2 / rho) = (0.05, 0.182882, 0.036576), so the normal
    // is (0.258945, 0.947129, 0.189424). Every edge drops 2 ft from T over at most 1.41 ft, so
    // moving off T always moves away from the rim: T is the nearest point of all eight. The
    // faces, 63 degrees steep, each come nearest the rim in their planes beyond T: off the face.
    place(50.05f, 3, 50.2f);
    ASSERT_TRUE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_NEAR(contact.depth, 0.140209, 1e-4);
    EXPECT_NEAR(contact.point.x, 50, 1e-5);
    EXPECT_NEAR(contact.point.y, 2, 1e-5);
    EXPECT_NEAR(contact.point.z, 50, 1e-5);
    expect_normal(contact.normal, 0.258945, 0.947129, 0.189424, 1e-4);
    // Every contact there is comes from T, so the first hit is the same one.
    ASSERT_TRUE(query_wheel_contact(&terrain, &contact));
    EXPECT_NEAR(contact.depth, 0.140209, 1e-4);
    expect_normal(contact.normal, 0.258945, 0.947129, 0.189424, 1e-4);
    // Cell (50, 50) has i + j even, so its diagonal runs from T down to (51, 0, 51): a crease
    // between the faces y = 2 - 2 (x - 50) and y = 2 - 2 (z - 50), normals (2, 1, 0) / sqrt 5
    // and (0, 1, 2) / sqrt 5. Perpendicular to it, between them, lies (1, 1, 1) / sqrt 3. A
    // wheel whose plane holds the crease (axle (1, 0, -1) / sqrt 2), centred R + 0.1 along that
    // direction from the crease's middle (50.5, 1, 50.5), touches it there with depth
    // r - 0.1 = 0.2333. Against either face the rim's lowest point is the crease point moved
    // 0.1 along (1, 1, 1) / sqrt 3; its foot on the first face, (50.48845, 50.55774) in (x, z),
    // has x < z and misses that face (fu >= fw), and the second face by symmetry.
    // Split the other way, the cell would be 0 high along that line.
    contact.axle = v3(0.70710678f, 0, -0.70710678f);
    float out = (0.8333f + 0.1f) / sqrtf(3);
    place(50.5f + out, 1 + out, 50.5f + out);
    ASSERT_TRUE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_NEAR(contact.depth, 0.2333, 1e-4);
    EXPECT_NEAR(contact.point.x, 50.5, 1e-3);
    EXPECT_NEAR(contact.point.y, 1, 2e-3);
    EXPECT_NEAR(contact.point.z, 50.5, 1e-3);
    expect_normal(contact.normal, 0.57735, 0.57735, 0.57735, 1e-3);
    contact.axle = v3(1, 0, 0);
    // Lifted until the tip is r from the rim (T at rho = R + r straight below): no contact.
    place(50, 2 + 0.8333f + 0.34f, 50);
    EXPECT_FALSE(create_wheel_contact(&terrain, &contact, 1));
    EXPECT_EQ(contact.depth, 0);
}

// --- the wheel over the generated tracks ---

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "vfs/vfs.h"

struct TrackGround : ::testing::Test {
    std::string home;
    Terrain terrain = {};
    dBodyID wheel = nullptr;
    WheelContact contact = {};
    void SetUp() override
    {
        char tmpl[512];
        snprintf(tmpl, sizeof tmpl, "%ssk_wheel_XXXXXX", testing::TempDir().c_str());
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home = tmpl;
        setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        vfs_reset_for_tests();
        ASSERT_TRUE(bike_world_create());
        wheel = dBodyCreate(bike_world());
        contact.wheel = wheel;
        contact.major_radius = k_R;
        contact.minor_radius = k_r;
    }
    void TearDown() override
    {
        dJointGroupEmpty(bike_contact_group());
        dBodyDestroy(wheel);
        terrain_unload(&terrain);
        bike_world_destroy();
        vfs_reset_for_tests();
        ASSERT_EQ(system(("rm -rf '" + home + "'").c_str()), 0);
    }
    float deepest(float x, float y, float z)
    {
        dBodySetPosition(wheel, x, y, z);
        create_wheel_contact(&terrain, &contact, 1);
        dJointGroupEmpty(bike_contact_group());
        return contact.depth;
    }
};

TEST_F(TrackGround, PushingAWheelDownOnlyDeepensItsContact)
{
    // Seeded spots all over both tracks, at every lean from upright to lying flat, pushed from
    // clear of the ground to 1.5 ft below it in steps of 1/64 ft. The contact may only deepen
    // (the edge search and its skipping of hopeless edges may each lose 1e-3 ft), and a wheel
    // whose axle is below the ground is always pushed back up.
    unsigned seed = 2024;
    auto uniform = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (float)((seed >> 8) & 0xffff) / 65536.0f;
    };
    const float leans[] = { 0, 20, 45, 70, 85, 89, 90 };
    for (const char *track : { "@tracks/sample", "@tracks/practice" }) {
        SCOPED_TRACE(track);
        terrain_unload(&terrain);
        ASSERT_TRUE(terrain_load(&terrain, track, 1));
        int sunk = 0;
        for (int spot = 0; spot < 120; spot++) {
            float x = 20 + uniform() * (terrain.world_size - 40), z = 20 + uniform() * (terrain.world_size - 40);
            float heading = uniform() * 6.2831853f;
            float ground = terrain_height(&terrain, x, z), top = ground;
            for (int k = 0; k < 16; k++) {
                float t = k * 0.39269908f;
                top = fmaxf(top, terrain_height(&terrain, x + 1.2f * cosf(t), z + 1.2f * sinf(t)));
            }
            for (float lean : leans) {
                float l = lean * 0.017453293f;
                contact.axle = v3(cosf(l) * cosf(heading), sinf(l), cosf(l) * sinf(heading));
                float y = top + k_R + k_r + 0.05f, previous = deepest(x, y, z);
                ASSERT_EQ(previous, 0) << "spot " << spot << " starts clear";
                for (; y > ground - 1.5f; y -= 1.0f / 64) {
                    float d = deepest(x, y, z);
                    ASSERT_GE(d, previous - 2e-3f) << "spot " << spot << " (" << x << ", " << z << ") lean " << lean
                                                   << " at " << y - ground << " ft over the ground";
                    if (y < ground) {
                        ASSERT_GT(d, 0) << "spot " << spot << " lean " << lean << " axle " << ground - y << " ft under";
                        ASSERT_GT(contact.normal.y, 0);
                        sunk++;
                    }
                    previous = fmaxf(previous, d);
                }
            }
        }
        EXPECT_GT(sunk, 1000);
    }
}
