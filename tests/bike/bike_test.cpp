#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/rider.h"
#include "bike/setup.h"
#include "bike/shape.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

struct Bikes : ::testing::Test {
    std::string root;
    void SetUp() override
    {
        char tmpl[512];
        snprintf(tmpl, sizeof tmpl, "%ssk_bike_XXXXXX", testing::TempDir().c_str());
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        setenv("SK_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
        ASSERT_EQ(system(("mkdir -p '" + root + "/data'").c_str()), 0);
        vfs_reset_for_tests();
        ASSERT_TRUE(bike_world_create());
    }
    void TearDown() override
    {
        bike_world_destroy();
        shape_cache_free();
        vfs_reset_for_tests();
        ASSERT_EQ(system(("rm -rf '" + root + "'").c_str()), 0);
    }
    void data_file(const char *name, const char *text)
    {
        FILE *f = fopen((root + "/data/" + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(text, f);
        fclose(f);
    }
};

static dMass body_mass(const BikeState *b, int body)
{
    dMass m;
    dBodyGetMass(b->body[body], &m);
    return m;
}

static double speed_of_body(dBodyID body)
{
    const dReal *v = dBodyGetLinearVel(body);
    return sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

static void expect_vec(const dReal *v, double x, double y, double z, double tol = 1e-5)
{
    EXPECT_NEAR(v[0], x, tol);
    EXPECT_NEAR(v[1], y, tol);
    EXPECT_NEAR(v[2], z, tol);
}

TEST_F(Bikes, MassRecipesOfTheFirstRow)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    // Frame: a 0.8 x 1.2 x 3.2 box of 3.65375 + 2/3 x 4.6875 slug.
    dMass m = body_mass(b, BODY_FRAME);
    EXPECT_NEAR(m.mass, 6.77875, 1e-5);
    EXPECT_NEAR(m.I[0], 6.77875 * (1.44 + 10.24) / 12, 1e-4);
    EXPECT_NEAR(m.I[5], 6.77875 * (0.64 + 10.24) / 12, 1e-4);
    EXPECT_NEAR(m.I[10], 6.77875 * (0.64 + 1.44) / 12, 1e-4);
    // Front wheel: hub 0.25 slug of radius 0.25, sixteen ring spheres of 0.5/16 slug and
    // radius 0.3333 on a circle of 0.8333.
    m = body_mass(b, BODY_FRONT_WHEEL);
    EXPECT_NEAR(m.mass, 0.75, 1e-6);
    double hub = 0.4 * 0.25 * 0.0625, own = 0.4 * 0.5 * 0.3333 * 0.3333, orbit = 0.5 * 0.8333 * 0.8333;
    EXPECT_NEAR(m.I[0], hub + own + orbit, 1e-4);
    EXPECT_NEAR(m.I[5], hub + own + orbit / 2, 1e-4);
    EXPECT_NEAR(m.I[10], hub + own + orbit / 2, 1e-4);
    expect_vec(m.c, 0, 0, 0, 1e-12);
    m = body_mass(b, BODY_REAR_WHEEL);
    EXPECT_NEAR(m.mass, 0.95, 1e-6);
    // Rider: a sphere of one foot and a third of 4.6875 slug.
    m = body_mass(b, BODY_RIDER);
    EXPECT_NEAR(m.mass, 1.5625, 1e-6);
    EXPECT_NEAR(m.I[0], 0.4 * 1.5625, 1e-6);
    // Fork: two legs of 0.275 slug, radius 0.075 and length 1, 0.3 ft either side of the
    // middle, tipped back by the rake atan(0.81 / 1.6).
    for (int body : { BODY_UPPER_FORK, BODY_LOWER_FORK }) {
        m = body_mass(b, body);
        EXPECT_NEAR(m.mass, 0.55, 1e-6);
        double ixx = 2 * 0.275 * (3 * 0.005625 + 1) / 12, iyy = ixx + 2 * 0.275 * 0.09;
        double izz = 2 * 0.275 * 0.005625 / 2 + 2 * 0.275 * 0.09;
        double a = atan(0.81 / 1.6), c = cos(a), s = sin(a);
        EXPECT_NEAR(m.I[0], ixx, 1e-5);
        EXPECT_NEAR(m.I[5], c * c * iyy + s * s * izz, 1e-5);
        EXPECT_NEAR(m.I[10], s * s * iyy + c * c * izz, 1e-5);
        EXPECT_NEAR(m.I[6], c * s * (iyy - izz), 1e-5);
        EXPECT_NEAR(m.I[9], m.I[6], 1e-12);
    }
    // Swingarm: two boxes of the full 0.3 slug each, 0.2 x 0.2 x L with L the pivot (0, 2.05,
    // 4.05) to rear axle (0, 1.04, 6) distance, 0.4 ft either side of the middle, then turned
    // about x so that each box's long side runs along the arm, (0, -1.01, 1.95) / L.
    m = body_mass(b, BODY_SWINGARM);
    EXPECT_NEAR(m.mass, 0.6, 1e-6);
    {
        double len = sqrt(1.01 * 1.01 + 1.95 * 1.95), box = 0.3, side = 0.2;
        double ixx = 2 * box * (side * side + len * len) / 12, iyy = ixx + 2 * box * 0.16;
        double izz = 2 * box * (2 * side * side) / 12 + 2 * box * 0.16;
        double c = 1.95 / len, s = 1.01 / len;
        EXPECT_NEAR(m.I[0], ixx, 1e-6);
        EXPECT_NEAR(m.I[5], c * c * iyy + s * s * izz, 1e-6);
        EXPECT_NEAR(m.I[10], s * s * iyy + c * c * izz, 1e-6);
        EXPECT_NEAR(m.I[6], c * s * (iyy - izz), 1e-6);
        // About the arm itself the small moment of the boxes' ends.
        double e[3] = { 0, -s, c }, about = 0;
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++)
                about += e[i] * m.I[4 * i + j] * e[j];
        EXPECT_NEAR(about, izz, 1e-6);
        EXPECT_NEAR(m.I[1], 0, 1e-12);
        EXPECT_NEAR(m.I[2], 0, 1e-12);
    }
}

TEST_F(Bikes, JointsHaveTheirAnchorsAxesAndStops)
{
    BikeState *b = build_bike(3, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    dVector3 v;
    dJointID j = b->joint[JOINT_FRONT_AXLE];
    EXPECT_EQ(dJointGetBody(j, 0), b->body[BODY_LOWER_FORK]);
    EXPECT_EQ(dJointGetBody(j, 1), b->body[BODY_FRONT_WHEEL]);
    dJointGetHingeAnchor(j, v);
    expect_vec(v, 0, 1.09, 1.11);
    dJointGetHingeAxis(j, v);
    expect_vec(v, 1, 0, 0);
    j = b->joint[JOINT_REAR_AXLE];
    EXPECT_EQ(dJointGetBody(j, 0), b->body[BODY_SWINGARM]);
    dJointGetHingeAnchor(j, v);
    expect_vec(v, 0, 1.04, 6);
    double len = sqrt(1.6 * 1.6 + 0.81 * 0.81);
    j = b->joint[JOINT_STEERING];
    EXPECT_EQ(dJointGetBody(j, 0), b->body[BODY_UPPER_FORK]);
    EXPECT_EQ(dJointGetBody(j, 1), b->body[BODY_FRAME]);
    dJointGetHingeAnchor(j, v);
    expect_vec(v, 0, 3.35, 2.05);
    dJointGetHingeAxis(j, v);
    expect_vec(v, 0, 1.6 / len, 0.81 / len);
    EXPECT_NEAR(dJointGetHingeParam(j, dParamLoStop), -M_PI / 4, 1e-9);
    EXPECT_NEAR(dJointGetHingeParam(j, dParamHiStop), M_PI / 4, 1e-9);
    j = b->joint[JOINT_FORK];
    EXPECT_EQ(dJointGetType(j), dJointTypeSlider);
    dJointGetSliderAxis(j, v);
    expect_vec(v, 0, 1.6 / len, 0.81 / len);
    EXPECT_NEAR(dJointGetSliderParam(j, dParamLoStop), -1.0, 1e-9);
    EXPECT_EQ(dJointGetSliderParam(j, dParamHiStop), 0);
    EXPECT_NEAR(dJointGetSliderPosition(j), 0, 1e-9);
    j = b->joint[JOINT_SWINGARM];
    dJointGetHingeAnchor(j, v);
    expect_vec(v, 0, 2.05, 4.05);
    EXPECT_NEAR(dJointGetHingeParam(j, dParamLoStop), -0.47, 1e-6);
    EXPECT_EQ(dJointGetHingeParam(j, dParamHiStop), 0);
    j = b->joint[JOINT_RIDER];
    EXPECT_EQ(dJointGetType(j), dJointTypeHinge2);
    EXPECT_EQ(dJointGetBody(j, 0), b->body[BODY_RIDER]);
    dJointGetHinge2Anchor(j, v);
    expect_vec(v, 0, 3.9, -50);
    dJointGetHinge2Axis1(j, v);
    expect_vec(v, 0, M_SQRT1_2, M_SQRT1_2);
    dJointGetHinge2Axis2(j, v);
    expect_vec(v, 1, 0, 0);
    EXPECT_EQ(dJointGetHinge2Param(j, dParamLoStop), 0);
    EXPECT_EQ(dJointGetHinge2Param(j, dParamHiStop), 0);
}

TEST_F(Bikes, NewBikeDefaults)
{
    BikeState *b = build_bike(1, "yz250f(2017)");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->flags, 1 | 4 | 8 | 128);
    EXPECT_EQ(b->activity, 1);
    EXPECT_EQ(b->takeoff_tic, -1);
    EXPECT_NEAR(b->params.restricted_lock_angle, 0.08726646, 1e-7);
    EXPECT_NEAR(b->params.roll_limit_angle, M_PI / 4, 1e-6);
    EXPECT_EQ(b->params.max_dab_speed, 30);
    const BikeModel *m = bike_catalogue_row(b);
    EXPECT_STREQ(m->name, "yz250f(2017)");
    EXPECT_STREQ(bike_class(b), "250f");
    EXPECT_EQ(b->params.shock_ls_rebound, m->shock_damping[DAMP_LS_REBOUND]);
    EXPECT_EQ(b->params.shock_hs_compression, 2 * m->shock_damping[DAMP_HS_COMPRESSION]);
    EXPECT_EQ(b->params.fork_air_gap, m->fork_air_gap[0]);
    // Slots outside the table build nothing; unknown names fall back.
    EXPECT_EQ(build_bike(160, "yz250f(2017)"), nullptr);
    EXPECT_EQ(build_bike(-1, "yz250f(2017)"), nullptr);
    BikeState *other = build_bike(159, "cr125(1990)");
    ASSERT_NE(other, nullptr);
    EXPECT_STREQ(bike_catalogue_row(other)->name, "cr125(2002)");
    // Rebuilding a slot replaces its bike.
    EXPECT_EQ(build_bike(1, "kx450f(2019)"), b);
    EXPECT_STREQ(bike_class(b), "450f");
}

TEST_F(Bikes, SetupDrivesTheParameters)
{
    bike_catalogue_offer();
    setup_set_defaults();
    BikeState *b = build_bike(2, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    read_setup_pair("front_sprocket_adjustment", "1.5");
    read_setup_pair("fork_compression_adjustment", "100");
    read_setup_pair("fork_slow_compression_adjustment", "100");
    read_setup_pair("fork_rebound_adjustment", "0");
    read_setup_pair("shock_spring_rate_adjustment", "25");
    read_setup_pair("max_dab_speed", "5");
    apply_setup_to_bike(b);
    const BikeParams &p = b->params;
    EXPECT_NEAR(p.final_drive, 52.0 / 14, 1e-6);
    EXPECT_NEAR(p.fork_hs_compression, 60 * 4, 1e-4);
    EXPECT_NEAR(p.fork_ls_compression, 60, 1e-5);
    EXPECT_NEAR(p.fork_hs_rebound, 30 * 0.25, 1e-5);
    EXPECT_NEAR(p.fork_ls_rebound, 0, 1e-6);
    EXPECT_NEAR(p.fork_spring, (322.545 + 860.120) / 2, 0.01);
    EXPECT_NEAR(p.shock_spring, 1814.32 + 0.25 * (4502.19 - 1814.32), 0.01);
    EXPECT_NEAR(p.max_dab_speed, 7.3333335, 1e-5);
    EXPECT_NEAR(p.restricted_lock_angle, M_PI / 180, 1e-7);
    EXPECT_NEAR(p.roll_limit_angle, M_PI / 4, 1e-6);
    EXPECT_EQ(p.rider_yspring, 0.5f);
    EXPECT_TRUE(p.arcade);
    // Stop wheelies "Yes", front antilock, shifting, dabbing, realigning, steering.
    EXPECT_EQ(b->flags, 1 | 2 | 4 | 8 | 32 | 64 | 128);
    // The rider's mass split: 0.33 on the rider body, the rest on the frame.
    EXPECT_NEAR(body_mass(b, BODY_RIDER).mass, 0.33 * 4.6875, 1e-5);
    EXPECT_NEAR(body_mass(b, BODY_FRAME).mass, 3.65375 + 0.67 * 4.6875, 1e-5);
    read_setup_pair("stop_wheelies", "Front Only");
    read_setup_pair("auto_shift", "No");
    bike_allow_arcade(false);
    apply_setup_to_bike(b);
    bike_allow_arcade(true);
    EXPECT_EQ(b->flags, 1 | 4 | 8 | 64 | 128);
    EXPECT_FALSE(b->params.arcade);
    setup_set_bike_list(nullptr, 0);
    setup_set_defaults();
}

TEST_F(Bikes, QuarterTurnFacesMinusX)
{
    BikeState *b = build_bike(4, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    turn_bike(b, 0, 1, 0, (float)(M_PI / 2));
    expect_vec(dBodyGetPosition(b->body[BODY_FRONT_WHEEL]), 1.11, 1.09, 0);
    expect_vec(dBodyGetPosition(b->body[BODY_REAR_WHEEL]), 6, 1.04, 0);
    dVector3 v, w;
    dJointGetHingeAnchor(b->joint[JOINT_FRONT_AXLE], v);
    dJointGetHingeAnchor2(b->joint[JOINT_FRONT_AXLE], w);
    expect_vec(v, 1.11, 1.09, 0);
    expect_vec(w, 1.11, 1.09, 0);
    dJointGetHingeAxis(b->joint[JOINT_REAR_AXLE], v);
    expect_vec(v, 0, 0, -1);
    double len = sqrt(1.6 * 1.6 + 0.81 * 0.81);
    dJointGetSliderAxis(b->joint[JOINT_FORK], v);
    expect_vec(v, 0.81 / len, 1.6 / len, 0);
    dJointGetHingeAnchor(b->joint[JOINT_SWINGARM], v);
    dJointGetHingeAnchor2(b->joint[JOINT_SWINGARM], w);
    expect_vec(v, 4.05, 2.05, 0);
    expect_vec(w, 4.05, 2.05, 0);
    dJointGetHinge2Anchor(b->joint[JOINT_RIDER], v);
    dJointGetHinge2Anchor2(b->joint[JOINT_RIDER], w);
    expect_vec(v, -50, 3.9, 0, 1e-4);
    expect_vec(w, -50, 3.9, 0, 1e-4);
    EXPECT_NEAR(dJointGetSliderPosition(b->joint[JOINT_FORK]), 0, 1e-6);
    // Moving keeps the joints together too.
    move_bike(b, 10, -2, 3);
    dJointGetHingeAnchor(b->joint[JOINT_STEERING], v);
    dJointGetHingeAnchor2(b->joint[JOINT_STEERING], w);
    expect_vec(v, 12.05, 1.35, 3);
    expect_vec(w, 12.05, 1.35, 3);
    // Bad input changes nothing.
    turn_bike(b, 0, 0, 0, 1);
    turn_bike(b, 0, 1, 0, NAN);
    move_bike(b, INFINITY, 0, 0);
    expect_vec(dBodyGetPosition(b->body[BODY_FRONT_WHEEL]), 11.11, -0.91, 3);
    // A reset stands it back where it was built, and its wheels start their ruts afresh.
    b->wheel[1].erode.samples = 3;
    b->wheel[1].erode.points = 2;
    reset_bike(b);
    expect_vec(dBodyGetPosition(b->body[BODY_FRAME]), 0, 2.4, 3.6);
    EXPECT_EQ(0, b->wheel[1].erode.samples);
    EXPECT_EQ(0, b->wheel[1].erode.points);
    dJointGetHingeAxis(b->joint[JOINT_REAR_AXLE], v);
    expect_vec(v, 1, 0, 0);
}

struct BikesOnGround : Bikes {
    Terrain terrain = {};
    void SetUp() override
    {
        Bikes::SetUp();
        ASSERT_TRUE(terrain_create(&terrain, 7, 1.0f));
    }
    void TearDown() override
    {
        terrain_unload(&terrain);
        Bikes::TearDown();
    }
    void slope(float per_foot)
    {
        for (int j = 0; j < terrain.dim; j++)
            for (int i = 0; i < terrain.dim; i++)
                terrain_set_height(&terrain, i, j, per_foot * j);
    }
};

TEST_F(BikesOnGround, PlacementRisesInQuarterFeet)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    // On flat ground both tyres start a little below the surface: one rise clears them.
    EXPECT_EQ(place_bike(b, &terrain, 100, 100, 0), 1);
    expect_vec(dBodyGetPosition(b->body[BODY_FRAME]), 100, 2.65, 103.6);
    EXPECT_FALSE(bike_touches_world(b, &terrain));
    // On a 1 in 2 slope the rear tyre sits 3.17 ft into the hill along its normal.
    slope(0.5f);
    EXPECT_EQ(place_bike(b, &terrain, 100, 100, 0), 13);
    expect_vec(dBodyGetPosition(b->body[BODY_FRAME]), 100, 50 + 2.4 + 3.25, 103.6);
    // Nonsense spots leave the bike reset where it was built.
    EXPECT_EQ(place_bike(b, &terrain, NAN, 100, 0), 0);
    EXPECT_EQ(place_bike(b, &terrain, 100, 100, INFINITY), 0);
    EXPECT_TRUE(bike_is_finite(b));
    expect_vec(dBodyGetPosition(b->body[BODY_FRAME]), 0, 2.4, 3.6);
    EXPECT_EQ(place_bike(b, nullptr, 1, 1, 0), 0);
    EXPECT_EQ(place_bike(nullptr, &terrain, 1, 1, 0), 0);
}

TEST_F(BikesOnGround, StaysFiniteAndStandsOnTheGround)
{
    slope(0.05f);
    BikeState *b = build_bike(0, "yz250f(2017)");
    ASSERT_NE(b, nullptr);
    apply_setup_to_bike(b);
    place_bike(b, &terrain, 60, 60, 0.3f);
    for (int tic = 0; tic < 256; tic++) {
        bike_touches_world(b, &terrain);
        bike_world_step();
        ASSERT_TRUE(bike_is_finite(b)) << "tic " << tic;
    }
    float ground = terrain_height(&terrain, (float)dBodyGetPosition(b->body[BODY_REAR_WHEEL])[0],
                                  (float)dBodyGetPosition(b->body[BODY_REAR_WHEEL])[2]);
    EXPECT_GT(dBodyGetPosition(b->body[BODY_REAR_WHEEL])[1], ground);
}

TEST_F(Bikes, FrozenBikesKeepTheirVelocities)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    for (dBodyID body : b->body)
        dBodySetLinearVel(body, 0, 0, -10);
    bike_set_activity(b, 0.25f);
    for (int i = 0; i < 8; i++)
        bike_world_step();
    expect_vec(dBodyGetPosition(b->body[BODY_FRAME]), 0, 2.4, 3.6);
    bike_wake(b);
    EXPECT_EQ(b->activity, 0.25f);
    bike_set_activity(b, 0);
    bike_wake(b);
    EXPECT_EQ(b->activity, 1);
    bike_world_step();
    EXPECT_NEAR(dBodyGetPosition(b->body[BODY_FRAME])[2], 3.6 - 10.0 / 128, 1e-3);
    bike_set_activity(b, 7);
    EXPECT_EQ(b->activity, 1);
    bike_fade(b);
    EXPECT_FLOAT_EQ(b->activity, 127.0f / 128);
    bike_set_activity(b, NAN);
    EXPECT_FLOAT_EQ(b->activity, 127.0f / 128);
}

TEST_F(BikesOnGround, AFrozenBikeGathersNoForce)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    place_bike(b, &terrain, 60, 60, 0);
    for (int tic = 0; tic < 64; tic++) {
        bike_touches_world(b, &terrain);
        bike_world_step();
    }
    ASSERT_GT(b->wheel[0].depth, 0);
    for (dBodyID body : b->body)
        dBodySetLinearVel(body, 0, 0, -10);
    // Ten seconds frozen while rolling on the ground: rolling resistance, and the internal-force
    // correction from the joints' last feedback, ask for force every tic.
    bike_set_activity(b, 0);
    for (int tic = 0; tic < 1280; tic++) {
        bike_touches_world(b, &terrain);
        correct_internal_forces(b);
        bike_world_step();
    }
    for (dBodyID body : b->body) {
        const dReal *f = dBodyGetForce(body), *t = dBodyGetTorque(body);
        EXPECT_EQ(fabs(f[0]) + fabs(f[1]) + fabs(f[2]) + fabs(t[0]) + fabs(t[1]) + fabs(t[2]), 0);
    }
    // Woken, it carries on at its old speed: one ordinary step changes it by little.
    const dReal *v = dBodyGetLinearVel(b->body[BODY_FRONT_WHEEL]);
    double before = v[2];
    bike_set_activity(b, 1);
    bike_touches_world(b, &terrain);
    bike_world_step();
    EXPECT_NEAR(dBodyGetLinearVel(b->body[BODY_FRONT_WHEEL])[2], before, 1.0);
}

TEST_F(Bikes, ReseatingWhereverTheBikeStands)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    // Tipped, turned and moved: the joints follow their bodies, so the mount's layout read back
    // now is the bike's own, expressed in the world.
    turn_bike(b, 1, 2, 0.5f, 0.7f);
    move_bike(b, 30, 4, -7);
    dJointID mount = b->joint[JOINT_RIDER];
    dVector3 anchor, anchor2, axis1, axis2;
    dJointGetHinge2Anchor(mount, anchor);
    dJointGetHinge2Anchor2(mount, anchor2);
    dJointGetHinge2Axis1(mount, axis1);
    dJointGetHinge2Axis2(mount, axis2);
    // The rider thrown off and lying elsewhere, the frame turning.
    dJointAttach(mount, nullptr, nullptr);
    dBodySetPosition(b->body[BODY_RIDER], 33, 1, -2);
    dBodySetAngularVel(b->body[BODY_FRAME], 0, 0.5, 0);
    reseat_rider(b);
    EXPECT_EQ(dJointGetBody(mount, 0), b->body[BODY_RIDER]);
    EXPECT_EQ(dJointGetBody(mount, 1), b->body[BODY_FRAME]);
    double rest[3];
    rider_rest_point(b, rest);
    expect_vec(dBodyGetPosition(b->body[BODY_RIDER]), rest[0], rest[1], rest[2]);
    const dReal *rr = dBodyGetRotation(b->body[BODY_RIDER]), *fr = dBodyGetRotation(b->body[BODY_FRAME]);
    for (int k = 0; k < 12; k++)
        EXPECT_NEAR(rr[k], fr[k], 1e-9) << k;
    // Moving with the frame: its velocity is the frame's at the rest point.
    dVector3 v;
    dBodyGetPointVel(b->body[BODY_FRAME], rest[0], rest[1], rest[2], v);
    expect_vec(dBodyGetLinearVel(b->body[BODY_RIDER]), v[0], v[1], v[2]);
    dVector3 w;
    dJointGetHinge2Anchor(mount, w);
    expect_vec(w, anchor[0], anchor[1], anchor[2], 1e-4);
    dJointGetHinge2Anchor2(mount, w);
    expect_vec(w, anchor2[0], anchor2[1], anchor2[2], 1e-4);
    dJointGetHinge2Axis1(mount, w);
    expect_vec(w, axis1[0], axis1[1], axis1[2]);
    dJointGetHinge2Axis2(mount, w);
    expect_vec(w, axis2[0], axis2[1], axis2[2]);
    EXPECT_NEAR(dJointGetHinge2Angle1(mount), 0, 1e-6);
}

TEST_F(Bikes, TheRiderSitsOnHisVerticalSpring)
{
    // The frame held still: the rider (a third of 4.6875 slug, 50 lbf) hangs on the vertical
    // spring, k = 400 x 0.5 (the rider vertical spring of a new bike) x S with
    // S = 4.6875 x 0.21333 = 1: 200 lbf/ft. The spring holds the rider 0.125 ft above the rest
    // point when unloaded (D = 0.125 + J = 0), so it settles where 200 D = 50: D = 0.25,
    // J = 0.125 ft below the rest point. Fore and aft it follows half that, 0.0625.
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    dJointID hold = dJointCreateFixed(bike_world(), 0);
    dJointAttach(hold, b->body[BODY_FRAME], nullptr);
    dJointSetFixed(hold);
    for (int tic = 0; tic < 640; tic++) {
        update_rider_mount(b);
        bike_world_step();
    }
    double rest[3];
    rider_rest_point(b, rest);
    const dReal *q = dBodyGetPosition(b->body[BODY_RIDER]);
    dVector3 u, w;
    dBodyVectorToWorld(b->body[BODY_FRAME], 0, 1, 0, u);
    dBodyVectorToWorld(b->body[BODY_FRAME], 0, 0, 1, w);
    double jump = 0, fore = 0;
    for (int i = 0; i < 3; i++) {
        jump += (rest[i] - q[i]) * u[i];
        fore += (rest[i] - q[i]) * w[i];
    }
    EXPECT_NEAR(jump, 0.125, 0.005);
    EXPECT_NEAR(fore, 0.0625, 0.01);
    EXPECT_LT(speed_of_body(b->body[BODY_RIDER]), 0.01);
    dJointDestroy(hold);
}

TEST_F(BikesOnGround, ArcadeGripFollowsTheLean)
{
    // The bike's ground contacts made as the tic makes them, upright and leaned 30 degrees with
    // arcade physics, on the default surface (friction 1). Then each wheel, cut loose from its
    // axle and too heavy to turn, slides sideways at 10 ft/s for one step: the slide cannot
    // stop, so the tyre's grip along it is the whole friction coefficient times the ground's
    // push, 1 upright and 0.75 leaned.
    for (int lean : { 0, 30 }) {
        SCOPED_TRACE(lean);
        BikeState *b = build_bike(0, "cr125(2002)");
        ASSERT_NE(b, nullptr);
        b->params.arcade = true;
        turn_bike(b, 0, 0, 1, (float)(lean * M_PI / 180));    // about the tyres' ground line
        move_bike(b, 60, -0.1f, 60);
        ASSERT_TRUE(bike_touches_world(b, &terrain));
        dJointAttach(b->joint[JOINT_FRONT_AXLE], nullptr, nullptr);
        dJointAttach(b->joint[JOINT_REAR_AXLE], nullptr, nullptr);
        for (const WheelContact &w : b->wheel) {
            dMass m;
            dMassSetSphereTotal(&m, 1, 1e3);
            dBodySetMass(w.wheel, &m);
            dBodySetLinearVel(w.wheel, 10, 0, 0);
            dBodySetAngularVel(w.wheel, 0, 0, 0);
        }
        bike_world_step();
        for (const WheelContact &w : b->wheel) {
            ASSERT_GT(w.feedback.f1[1], 10);
            EXPECT_NEAR(-w.feedback.f1[0] / w.feedback.f1[1], lean ? 0.75 : 1, 1e-3);
        }
    }
}

TEST_F(BikesOnGround, ShapesMeetTheGround)
{
    // One frictionless ball of radius 0.5 on a body of a million slugs (its push shows as
    // dv = f h / m, as in JointPushHeldTo2500), over the 1 in 2 slope y = j / 2: normal
    // (0, 2, -1) / sqrt 5. Half a foot above the ground it is 0.5 x 2 / sqrt 5 = 0.447214 from
    // the plane: 0.052786 deep, 20000 x 0.052786 = 1055.7 lbf along the normal, and gravity
    // would carry it into the slope at 32 / 128 x 2 / sqrt 5 = 0.223607 ft/s within the step,
    // which the joint's damping (hk + c = 206.25) answers with 46.1 lbf more. The -z share
    // (1 / sqrt 5) of that is what gravity leaves alone.
    slope(0.5f);
    ShapeSphere ball = { { 0, 0, 0 }, 0.5f, 0, 20000, 50 };
    Shape s = { "ball", 0.5f, 1, &ball };
    dBodyID heavy = dBodyCreate(bike_world());
    dMass m;
    dMassSetSphereTotal(&m, 1e6, 1);
    dBodySetMass(heavy, &m);
    dBodySetPosition(heavy, 60, 30.5, 60);
    ASSERT_TRUE(shape_ground_contact(&s, heavy, &terrain));
    EXPECT_EQ(dBodyGetNumJoints(heavy), 1);
    bike_world_step();
    double push = 20000 * (0.5 - 1 / sqrt(5)) + 206.25 * 0.25 * 2 / sqrt(5);
    EXPECT_NEAR(dBodyGetLinearVel(heavy)[2] * 1.28e8, -push / sqrt(5), 1);
    EXPECT_NEAR(dBodyGetLinearVel(heavy)[0], 0, 1e-12);
    // Clear of the ground: nothing; a disabled body touches but gets no joint.
    dBodySetPosition(heavy, 60, 30.6, 60);
    EXPECT_FALSE(shape_ground_contact(&s, heavy, &terrain));
    dBodySetPosition(heavy, 60, 30.5, 60);
    dBodyDisable(heavy);
    EXPECT_TRUE(shape_ground_contact(&s, heavy, &terrain));
    EXPECT_EQ(dBodyGetNumJoints(heavy), 0);
    dBodyDestroy(heavy);
}

TEST_F(BikesOnGround, ABikeOnItsSideLiesOnItsBarsAndRider)
{
    // With only its wheels meeting the ground, a bike on its side (its weight outside the two
    // wheels' footprints, towards the rider) would roll over into the ground and hang upside
    // down under its wheels.
    data_file("generic_frame.shp", "1\n0 0.1 0\n0.4 0.6 20000 100\n");
    data_file("generic_ufork.shp", "2\n-0.7 0.3 0.2\n0.15 0.6 20000 100\n0.7 0.3 0.2\n0.15 0.6 20000 100\n");
    data_file("rider.shp", "1\n0 0 0\n0.6 0.6 20000 100\n");
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    turn_bike(b, 0, 0, 1, 1.4f);    // about its own forward axis, through its tyres' ground line
    move_bike(b, 60, 0.5f, 60);
    settle_bike(b, &terrain);
    for (int tic = 0; tic < 512; tic++) {
        bike_touches_world(b, &terrain);
        bike_world_step();
        ASSERT_TRUE(bike_is_finite(b));
    }
    dVector3 up;
    dBodyVectorToWorld(b->body[BODY_FRAME], 0, 1, 0, up);
    EXPECT_GT(fabs(up[0]), 0.8) << "on its side";
    EXPECT_GT(dBodyGetPosition(b->body[BODY_RIDER])[1], 0.3);
    EXPECT_GT(dBodyGetPosition(b->body[BODY_FRAME])[1], 0.3);
    for (int body : { BODY_FRONT_WHEEL, BODY_REAR_WHEEL })
        EXPECT_GT(dBodyGetPosition(b->body[body])[1], 0.1);
}

TEST_F(Bikes, ShapeFiles)
{
    data_file("two.shp", "2\n0 0 1\n0.5 0.8 20000 50\n0 3 4 1 1.0 30000 60\n");
    data_file("none.shp", "0\n");
    data_file("huge.shp", "5000\n0 0 0 1 1 1 1\n");
    data_file("negative.shp", "-1\n");
    data_file("short.shp", "2\n0 0 1\n0.5 0.8 20000 50\n0 3 4 1 1.0\n");
    int id = shape_load("@two.shp");
    ASSERT_GT(id, 0);
    const Shape *s = shape_get(id);
    EXPECT_EQ(s->count, 2);
    EXPECT_FLOAT_EQ(s->bound, 6);
    EXPECT_FLOAT_EQ(s->spheres[1].stiffness, 30000);
    EXPECT_EQ(shape_load("@two.shp"), id);
    int none = shape_load("@none.shp");
    ASSERT_GT(none, 0);
    EXPECT_EQ(shape_get(none)->count, 0);
    EXPECT_EQ(shape_load("@huge.shp"), 0);
    EXPECT_EQ(shape_load("@negative.shp"), 0);
    EXPECT_EQ(shape_load("@short.shp"), 0);
    EXPECT_EQ(shape_load("@absent.shp"), 0);
    EXPECT_EQ(shape_get(0), nullptr);
    EXPECT_EQ(shape_get(99), nullptr);
    // A bike picks its shapes up by the catalogue's names.
    data_file("generic_frame.shp", "1\n0 0 0\n1 1 1000 10\n");
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    EXPECT_GT(b->shape[BODY_FRAME], 0);
    EXPECT_EQ(b->shape[BODY_RIDER], 0);
}

static ShapeSphere ball(float radius, float friction, float stiffness, float damping)
{
    return { { 0, 0, 0 }, radius, friction, stiffness, damping };
}

TEST_F(Bikes, SpherePairs)
{
    ShapeSphere s1 = ball(1, 0.8f, 20000, 50), s2 = ball(1, 1.2f, 30000, 60);
    Shape a = { "a", 1, 1, &s1 }, b = { "b", 1, 1, &s2 };
    double mu, k, c;
    sphere_pair_surface(&s1, &s2, 0.5f, &mu, &k, &c);
    EXPECT_NEAR(mu, 0.8, 1e-6);
    EXPECT_DOUBLE_EQ(k, 5000);      // 20000 x 0.5 would pass 2500 lbf
    EXPECT_DOUBLE_EQ(c, 50);
    sphere_pair_surface(&s1, &s2, 0.1f, &mu, &k, &c);
    EXPECT_DOUBLE_EQ(k, 20000);

    dBodyID ba = dBodyCreate(bike_world()), bb = dBodyCreate(bike_world());
    dBodySetPosition(ba, 0, 5, 0);
    dBodySetPosition(bb, 1.5, 5, 0);
    EXPECT_TRUE(shape_contact(&a, ba, &b, bb, SHAPE_TEST));
    EXPECT_EQ(dBodyGetNumJoints(ba), 0);
    EXPECT_TRUE(shape_contact(&a, ba, &b, bb, SHAPE_JOINTS));
    EXPECT_EQ(dBodyGetNumJoints(ba), 1);
    EXPECT_EQ(dBodyGetNumJoints(bb), 1);
    dJointGroupEmpty(bike_contact_group());
    // Forces: 0.5 ft deep at 5000 lbf/ft is 2500, held to 1000; equal and opposite.
    EXPECT_TRUE(shape_contact(&a, ba, &b, bb, SHAPE_FORCE));
    EXPECT_NEAR(dBodyGetForce(bb)[0], 1000, 1e-6);
    EXPECT_NEAR(dBodyGetForce(ba)[0], -1000, 1e-6);
    dBodySetForce(ba, 0, 0, 0);
    dBodySetForce(bb, 0, 0, 0);
    // 0.01 ft deep, closing at 1 ft/s, 1 slug each: what the soft joint would give the pair over
    // one step, (k d + (hk + c) v) / (1 + h (1/ma + 1/mb) (hk + c)) with hk + c = 206.25:
    // 406.25 / (1 + 206.25 / 64) = 96.2 lbf, where k d + c v (250) would overshoot.
    dBodySetPosition(bb, 1.99, 5, 0);
    dBodySetLinearVel(ba, 1, 0, 0);
    EXPECT_TRUE(shape_contact(&a, ba, &b, bb, SHAPE_FORCE));
    EXPECT_NEAR(dBodyGetForce(bb)[0], 406.25 / (1 + 206.25 / 64), 1e-3);
    // Against a disabled body the push is the one body's own: 406.25 / (1 + 206.25 / 128).
    dBodySetForce(bb, 0, 0, 0);
    dBodyDisable(ba);
    EXPECT_TRUE(shape_contact(&a, ba, &b, bb, SHAPE_FORCE));
    EXPECT_NEAR(dBodyGetForce(bb)[0], 406.25 / (1 + 206.25 / 128), 1e-3);
    dBodyEnable(ba);
    EXPECT_EQ(dBodyGetNumJoints(ba), 0);
    // Coincident centres touch but give no contact; apart they do not touch.
    dBodySetPosition(bb, 0, 5, 0);
    EXPECT_TRUE(shape_contact(&a, ba, &b, bb, SHAPE_JOINTS));
    EXPECT_EQ(dBodyGetNumJoints(ba), 0);
    dBodySetPosition(bb, 2.5, 5, 0);
    EXPECT_FALSE(shape_contact(&a, ba, &b, bb, SHAPE_JOINTS));
    // Against the static world.
    dBodySetPosition(ba, 1.5, 0, 0);
    EXPECT_TRUE(shape_contact(&a, ba, &b, nullptr, SHAPE_JOINTS));
    EXPECT_EQ(dBodyGetNumJoints(ba), 1);
    dJointGroupEmpty(bike_contact_group());
    dBodyDestroy(ba);
    dBodyDestroy(bb);
}

TEST_F(Bikes, JointPushHeldTo2500)
{
    // A soft contact with ERP = hk / (hk + c) and CFM = 1 / (hk + c) pushes a body at rest
    // with k x depth, less a share h / m / (h / m + CFM) that is negligible for a body of
    // 1e6 slugs (1e-6 against CFM / h = 128 / (hk + c) > 0.1). Frictionless balls along x,
    // so gravity (along -y) takes no part, and the push shows as
    // dv = f h / m = f / 1.28e8 ft/s in one tic.
    ShapeSphere s1 = ball(1, 0, 20000, 50), s2 = ball(1, 0, 30000, 60);
    Shape a = { "a", 1, 1, &s1 }, b = { "b", 1, 1, &s2 };
    dBodyID heavy = dBodyCreate(bike_world());
    dMass m;
    dMassSetSphereTotal(&m, 1e6, 1);
    dBodySetMass(heavy, &m);
    // 0.5 ft deep: min(20000, 30000) x 0.5 = 10000 would pass 2500, so k = 2500 / 0.5 and
    // the push is 2500 lbf, away from the static ball at the origin.
    dBodySetPosition(heavy, 1.5, 0, 0);
    ASSERT_TRUE(shape_contact(&a, heavy, &b, nullptr, SHAPE_JOINTS));
    bike_world_step();
    EXPECT_NEAR(dBodyGetLinearVel(heavy)[0] * 1.28e8, 2500, 1);
    // 0.1 ft deep is under 2500 / 20000 = 0.125: the full 20000 x 0.1 = 2000 lbf.
    dBodySetLinearVel(heavy, 0, 0, 0);
    dBodySetPosition(heavy, 1.9, 0, 0);
    ASSERT_TRUE(shape_contact(&a, heavy, &b, nullptr, SHAPE_JOINTS));
    bike_world_step();
    EXPECT_NEAR(dBodyGetLinearVel(heavy)[0] * 1.28e8, 2000, 1);
    dBodyDestroy(heavy);
}

TEST_F(Bikes, BikesMeetBikes)
{
    data_file("rider.shp", "1\n0 0 0\n0.6 1 20000 50\n");
    data_file("generic_ufork.shp", "1\n0 0 0\n0.6 1 20000 50\n");
    BikeState *a = build_bike(0, "cr125(2002)"), *b = build_bike(1, "cr125(2002)"), *c = build_bike(2, "cr125(2002)");
    ASSERT_TRUE(a && b && c);
    // b's upper fork 0.5 ft beside a's rider.
    move_bike(b, 0.5f, 0.55f, 1.65f);
    int ma = -1, mb = -1;
    int joints = dBodyGetNumJoints(a->body[BODY_RIDER]);
    EXPECT_TRUE(collide_bikes(a, b, true, 7, &ma, &mb));
    EXPECT_EQ(ma, 64);
    EXPECT_EQ(mb, 8);
    EXPECT_EQ(dBodyGetNumJoints(a->body[BODY_RIDER]), joints);
    EXPECT_EQ(a->collide_stamp, 7);
    EXPECT_TRUE(collide_bikes(a, b, false, 8, &ma, &mb));
    EXPECT_EQ(dBodyGetNumJoints(a->body[BODY_RIDER]), joints + 1);
    // Having met b this tic, a meets c by forces only.
    move_bike(c, 0.5f, 0.55f, 1.65f);
    EXPECT_TRUE(collide_bikes(a, c, false, 8, &ma, &mb));
    EXPECT_EQ(dBodyGetNumJoints(c->body[BODY_UPPER_FORK]), 2);   // steering and fork only
    EXPECT_GT(dBodyGetForce(c->body[BODY_UPPER_FORK])[0], 0);
    dJointGroupEmpty(bike_contact_group());
    // Apart, nothing; a bike never meets itself.
    move_bike(b, 20, 0, 0);
    EXPECT_FALSE(collide_bikes(a, b, false, 9, &ma, &mb));
    EXPECT_EQ(ma, 0);
    EXPECT_FALSE(collide_bikes(a, a, false, 9, &ma, &mb));
    EXPECT_FALSE(collide_bikes(a, nullptr, false, 9, nullptr, nullptr));
}

TEST_F(Bikes, InternalForceCorrection)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    for (dJointFeedback &f : b->feedback)
        f = {};
    // 1 lbf along x on the lower fork at (0, 1.75, 1.24), the frame at (0, 2.4, 3.6):
    // lever (0, -0.65, -2.36), moment (0, -2.36, 0.65).
    b->feedback[JOINT_FRONT_AXLE].f1[0] = 1;
    b->feedback[JOINT_STEERING].t2[1] = 0.5;
    correct_internal_forces(b);
    const dReal *f = dBodyGetForce(b->body[BODY_FRAME]), *t = dBodyGetTorque(b->body[BODY_FRAME]);
    EXPECT_NEAR(f[0], -1, 1e-9);
    EXPECT_NEAR(f[1], 0, 1e-9);
    EXPECT_NEAR(t[0], 0, 1e-6);
    EXPECT_NEAR(t[1], 2.36 - 0.5, 1e-6);
    EXPECT_NEAR(t[2], -0.65, 1e-6);
    // With the rider thrown off, no correction.
    dBodySetForce(b->body[BODY_FRAME], 0, 0, 0);
    dJointAttach(b->joint[JOINT_RIDER], nullptr, nullptr);
    correct_internal_forces(b);
    EXPECT_EQ(dBodyGetForce(b->body[BODY_FRAME])[0], 0);
    // A reset seats the rider again.
    reset_bike(b);
    EXPECT_EQ(dJointGetBody(b->joint[JOINT_RIDER], 0), b->body[BODY_RIDER]);
}

#include "bike/wheel.h"

TEST_F(BikesOnGround, WheelQueriesOncePerTic)
{
    BikeState *b = build_bike(0, "cr125(2002)");
    ASSERT_NE(b, nullptr);
    move_bike(b, 60, 0, 60);        // both tyres a little below the flat ground
    bike_refresh_wheel_queries(b, &terrain, 5);
    // The first hit from the middle cell out, which may be shallower than the deepest.
    EXPECT_GT(b->wheel[0].depth, 0);
    EXPECT_LE(b->wheel[0].depth, 0.3333 - (1.09 - 0.8333) + 1e-4);
    EXPECT_GT(b->wheel[1].depth, 0);
    EXPECT_LE(b->wheel[1].depth, 0.3333 - (1.04 - 0.75) + 1e-4);
    EXPECT_EQ(b->contact_stamp, 5);
    // Within the same tic the records stand even though the bike moved.
    move_bike(b, 0, 1, 0);
    bike_refresh_wheel_queries(b, &terrain, 5);
    EXPECT_GT(b->wheel[0].depth, 0);
    bike_refresh_wheel_queries(b, &terrain, 6);
    EXPECT_EQ(b->wheel[0].depth, 0);
    EXPECT_EQ(b->wheel[1].depth, 0);
}
