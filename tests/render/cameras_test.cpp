// The cameras without a window: the "cameras" file and its gate table, the rider's eye, the
// chase camera, the free camera, quaternions and keyframed paths.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include "render/cameras.h"
#include "vfs/vfs.h"

namespace {

const float k_pi = 3.14159265358979f;

// A slope: the height rises 0.1 ft per ft of x and 0.01 per ft of z.
float slope(float x, float z) { return x * 0.1f + z * 0.01f; }
float plateau(float, float) { return 100; }
float flat(float, float) { return 0; }

struct Cameras : ::testing::Test {
    void SetUp() override { cameras_reset_for_tests(); }
    void TearDown() override { cameras_reset_for_tests(); }
    int read(const char *text)
    {
        DataFile *f = open_memory_data_file(text, strlen(text), false);
        int n = cameras_read(f);
        close_data_file(f);
        return n;
    }
};

void expect_vec(Vec3 v, float x, float y, float z, float tolerance = 1e-4f)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

void expect_orthonormal(const Camera &c)
{
    EXPECT_NEAR(v3_length(c.right), 1, 1e-4f);
    EXPECT_NEAR(v3_length(c.up), 1, 1e-4f);
    EXPECT_NEAR(v3_length(c.back), 1, 1e-4f);
    EXPECT_NEAR(v3_dot(c.right, c.up), 0, 1e-4f);
    EXPECT_NEAR(v3_dot(c.up, c.back), 0, 1e-4f);
    // Right-handed: right x up = back.
    expect_vec(v3_cross(c.right, c.up), c.back.x, c.back.y, c.back.z);
}

} // namespace

TEST_F(Cameras, FileGivesPositionsAboveTheGroundFieldsOfViewAndGates)
{
    cameras_set_ground(slope);
    int n = read("# trackside cameras\n"
                 "fov -60\n"
                 "autofovsize 12\n"
                 "gate 3 7 300 9\n"
                 "addcamera 10 5 20\n"
                 "gate -1 4\n"
                 "look at the bike\n"
                 "addcamera 30 2 40\n"
                 "addcamera 1 2\n"
                 "gate 12\n");
    ASSERT_EQ(n, 2);
    EXPECT_EQ(camera_count(), 2);
    const TrackCamera *a = track_camera(0), *b = track_camera(1);
    ASSERT_TRUE(a && b);
    expect_vec(a->position, 10, 5 + 1 + 0.2f, 20);
    EXPECT_FLOAT_EQ(a->fov, 60);
    EXPECT_FLOAT_EQ(a->autofov, 12);
    // The pending values went with the first camera.
    expect_vec(b->position, 30, 2 + 3 + 0.4f, 40);
    EXPECT_FLOAT_EQ(b->fov, 90);
    EXPECT_FLOAT_EQ(b->autofov, 0);
    EXPECT_EQ(track_camera(2), nullptr);
    EXPECT_EQ(track_camera(-1), nullptr);

    // 3 and 7 before 300; nothing after it, nor after a negative number; 12 has no camera after it.
    const int gates[][2] = { { 3, 0 }, { 7, 0 }, { 9, -1 }, { 4, -1 }, { 12, -1 }, { 0, -1 },
                             { -1, -1 }, { 256, -1 }, { 300, -1 } };
    for (const auto &g : gates)
        EXPECT_EQ(camera_for_gate(g[0]), g[1]) << "gate " << g[0];

    cameras_free();
    EXPECT_EQ(camera_count(), 0);
    EXPECT_EQ(camera_for_gate(3), -1);
}

TEST_F(Cameras, DamagedFilesLoadWhatIsWhole)
{
    cameras_set_ground(flat);
    std::string longline(3000, 'x');
    std::string text = "addcamera 1 2 3\n" + longline + " addcamera 9 9 9\n" + "addcamera nan 1 1\n" +
                       "fov 1e40\naddcamera 4 5 6\ngate 1 2x 3\naddcamera 7 8 9";
    EXPECT_EQ(read(text.c_str()), 3);
    EXPECT_FLOAT_EQ(track_camera(1)->fov, 90) << "a field of view that is not a number is ignored";
    EXPECT_EQ(camera_for_gate(1), 2);
    EXPECT_EQ(camera_for_gate(3), -1) << "the list stops at 2x";
    EXPECT_EQ(read(""), 0);
    EXPECT_EQ(cameras_read(nullptr), 0);
}

TEST_F(Cameras, AutoFieldOfViewKeepsTheRidersSize)
{
    TrackCamera cam = { v3(0, 0, 0), 60, 6 };
    const float cases[][2] = {
        { 10, 2 * atanf(0.3f) * 180 / k_pi },   // 33.4 degrees
        { 100, 10 },                            // 3.4 degrees is held at 10
        { 5, 60 },                              // 61.9 degrees is held at the camera's own
    };
    for (const auto &c : cases)
        EXPECT_NEAR(camera_auto_fov(&cam, c[0]), c[1], 1e-3f) << "distance " << c[0];
    cam.autofov = 0;
    EXPECT_FLOAT_EQ(camera_auto_fov(&cam, 10), 60);
    cam.fov = 0;
    EXPECT_FLOAT_EQ(camera_auto_fov(&cam, 10), 10) << "a camera with fov 0 still projects";
}

TEST_F(Cameras, FieldsOfViewAreClamped)
{
    const float cases[][2] = { { 0, 10 }, { -5, 10 }, { 180, 170 }, { 110, 110 }, { NAN, 90 }, { INFINITY, 170 } };
    for (const auto &c : cases)
        EXPECT_FLOAT_EQ(clamp_fov(c[0]), c[1]) << c[0];
}

TEST_F(Cameras, FirstPersonEyeWorkedByHand)
{
    FirstPersonSettings s = { 0, 0, 0, 110 };
    GimbalState g = {};
    Camera c = {};
    Mat3 level = m3_identity();
    Vec3 base = first_person_eye_offset(0);
    expect_vec(base, 0, 0.5f, -0.4f);
    first_person_camera(v3(1, 2, 3), level, base, &s, &g, 0, &c);
    expect_vec(c.eye, 1, 2.5f, 2.6f);
    expect_vec(c.back, 0, 0, 1);
    EXPECT_FLOAT_EQ(c.fov, 110);
    s.height = 1;
    first_person_camera(v3(1, 2, 3), level, base, &s, &g, 0, &c);
    expect_vec(c.eye, 1, 2 + 1.058383f, 3 - 1.19336953f);

    // Turned a quarter to the left: the body's forward (-z) is now -x.
    Mat3 left = m3_axis_angle(v3(0, 1, 0), k_pi / 2);
    s.height = 0;
    first_person_camera(v3(1, 2, 3), left, base, &s, &g, 0, &c);
    expect_vec(c.eye, 1 - 0.4f, 2.5f, 3);
    expect_vec(c.back, 1, 0, 0);
    expect_orthonormal(c);

    // The angle setting looks down.
    s.angle = 30;
    first_person_camera(v3(0, 0, 0), level, base, &s, &g, 0, &c);
    expect_vec(c.back, 0, 0.5f, 0.8660254f);
    expect_orthonormal(c);
    s.fov = 0;
    first_person_camera(v3(0, 0, 0), level, base, &s, &g, 0, &c);
    EXPECT_FLOAT_EQ(c.fov, 10);
}

TEST_F(Cameras, GimbalClampsTheClimbAndFollowsSlowly)
{
    FirstPersonSettings s = { 0, 0, 100, 90 };
    GimbalState g = {};
    Camera c = {};
    Vec3 base = first_person_eye_offset(0);
    Mat3 nose_up = m3_axis_angle(v3(1, 0, 0), k_pi / 3);    // 60 degrees
    first_person_camera(v3(0, 0, 0), nose_up, base, &s, &g, 0.01, &c);
    expect_vec(v3_scale(c.back, -1), 0, sinf(k_pi / 4), -cosf(k_pi / 4)) ;
    expect_orthonormal(c);
    // Level again: the eye comes down at 5 per second of its way with the gimbal at 100.
    first_person_camera(v3(0, 0, 0), m3_identity(), base, &s, &g, 0.0625, &c);
    float pitch = k_pi / 4 * (1 - 5 * 0.0625f);
    expect_vec(v3_scale(c.back, -1), 0, sinf(pitch), -cosf(pitch));
    // A loose gimbal (50) catches up within the frame; a step longer than 1/8 s counts as 1/8 s.
    s.gimbal = 50;
    first_person_camera(v3(0, 0, 0), m3_identity(), base, &s, &g, 0.0625, &c);
    expect_vec(c.back, 0, 0, 1);
    s.gimbal = 100;
    first_person_camera(v3(0, 0, 0), nose_up, base, &s, &g, 10, &c);
    pitch = k_pi / 4 * 5 * 0.125f;
    expect_vec(v3_scale(c.back, -1), 0, sinf(pitch), -cosf(pitch));
    // Off (0.5 and below): the body's own 60 degrees.
    s.gimbal = 0.5f;
    first_person_camera(v3(0, 0, 0), nose_up, base, &s, &g, 0.0625, &c);
    expect_vec(v3_scale(c.back, -1), 0, sinf(k_pi / 3), -cosf(k_pi / 3));
}

TEST_F(Cameras, ChaseCameraPlacement)
{
    cameras_set_ground(flat);
    ChaseInput in = {};
    in.centre = v3(0, 10, 0);
    in.heading = v3(0, 0, -1);
    in.third_distance = 10;
    in.third_height = 5;
    in.fov = 90;
    in.distance = 10;
    in.height = 5;
    in.yaw = k_pi / 2;
    Camera c = {};
    // Another rider's bike: the orbit.
    chase_camera_place(&in, &c);
    expect_vec(c.eye, 10, 15, 0);
    Vec3 to_bike = v3_normalize(v3_sub(c.eye, in.centre));
    expect_vec(c.back, to_bike.x, to_bike.y, to_bike.z);
    expect_orthonormal(c);

    // The own bike heading -z while sliding along +x.
    in.own = true;
    const struct { float speed; bool rigid; Vec3 eye; } cases[] = {
        { 30, false, v3(-10, 15, 0) },                  // behind the velocity
        { 10, false, v3(0, 15, 10) },                   // behind the heading
        { 20, false, v3(-7.0710678f, 15, 7.0710678f) }, // between
        { 40, true, v3(0, 15, 10) },                    // rigid: always the heading
    };
    for (const auto &k : cases) {
        in.velocity = v3(k.speed, 0, 0);
        in.rigid = k.rigid;
        chase_camera_place(&in, &c);
        expect_vec(c.eye, k.eye.x, k.eye.y, k.eye.z);
    }
    // Never less than 5 ft above the ground under it.
    cameras_set_ground(plateau);
    chase_camera_place(&in, &c);
    EXPECT_FLOAT_EQ(c.eye.y, 105);
    in.own = false;
    chase_camera_place(&in, &c);
    EXPECT_FLOAT_EQ(c.eye.y, 105);
}

TEST_F(Cameras, FreeCameraFliesAlongItsViewAndStaysAboveTheGround)
{
    cameras_set_ground(flat);
    free_camera_place(v3(0, 10, 0), 0, 0);
    free_camera_move(10);
    float p[3], q[4], fov;
    free_camera_get(p, q, &fov);
    EXPECT_NEAR(p[0], 0, 1e-4f);
    EXPECT_NEAR(p[1], 10, 1e-4f);
    EXPECT_NEAR(p[2], -10, 1e-4f);
    // Diving into a plateau: held 2 ft above it.
    cameras_set_ground(plateau);
    free_camera_aim(0, -90);
    free_camera_move(50);
    free_camera_get(p, q, &fov);
    EXPECT_NEAR(p[1], 102, 1e-3f);
    free_camera_move(NAN);
    free_camera_get(p, q, &fov);
    EXPECT_NEAR(p[1], 102, 1e-3f) << "a broken step leaves it where it was";
}

TEST_F(Cameras, QuaternionToAxes)
{
    Camera c = {};
    // A quarter turn about y: looking along -x.
    const float turn[4] = { cosf(k_pi / 4), 0, sinf(k_pi / 4), 0 };
    camera_quaternion(v3(1, 2, 3), turn, 75, &c);
    expect_vec(c.right, 0, 0, -1);
    expect_vec(c.up, 0, 1, 0);
    expect_vec(c.back, 1, 0, 0);
    expect_vec(c.eye, 1, 2, 3);
    // Not normalised: the same turn.
    const float doubled[4] = { 2 * turn[0], 0, 2 * turn[2], 0 };
    camera_quaternion(v3(0, 0, 0), doubled, 75, &c);
    expect_vec(c.back, 1, 0, 0);
    // A zero or broken quaternion from a demo or the network: the identity, never NaN.
    const float zero[4] = { 0, 0, 0, 0 }, broken[4] = { NAN, 1, 0, 0 };
    for (const float *q : { zero, broken }) {
        camera_quaternion(v3(0, 0, 0), q, 75, &c);
        expect_vec(c.right, 1, 0, 0);
        expect_vec(c.up, 0, 1, 0);
        expect_vec(c.back, 0, 0, 1);
    }
}

TEST_F(Cameras, SplinePathPassesItsKeyframes)
{
    auto yaw = [](float a, CameraKeyframe *k) {
        k->rotation[0] = cosf(a / 2);
        k->rotation[1] = 0;
        k->rotation[2] = sinf(a / 2);
        k->rotation[3] = 0;
    };
    CameraKeyframe keys[4] = {};
    const float positions[4][3] = { { 0, 10, 0 }, { 20, 12, 5 }, { 40, 8, -5 }, { 60, 20, 0 } };
    const double times[4] = { 0, 1, 2, 4 };
    for (int i = 0; i < 4; i++) {
        keys[i].position = v3(positions[i][0], positions[i][1], positions[i][2]);
        yaw(i * 0.7f, &keys[i]);
        keys[i].fov = 60 + 10 * i;
        keys[i].time = times[i];
    }
    // Opposite signs describe the same turn: the path must not swing the long way.
    for (float &r : keys[2].rotation)
        r = -r;
    Camera c = {};
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(camera_path_at(keys, 4, times[i], &c));
        expect_vec(c.eye, positions[i][0], positions[i][1], positions[i][2]);
        EXPECT_NEAR(c.fov, 60 + 10 * i, 1e-3f);
        Mat3 m = q_to_m3(q_normalize({ keys[i].rotation[0], keys[i].rotation[1], keys[i].rotation[2], keys[i].rotation[3] }));
        expect_vec(c.back, m.m[0][2], m.m[1][2], m.m[2][2]);
    }
    for (double t : { 0.25, 0.5, 1.5, 3.0, 3.9 }) {
        ASSERT_TRUE(camera_path_at(keys, 4, t, &c));
        expect_orthonormal(c);
    }
    camera_path_at(keys, 4, 1.5, &c);
    EXPECT_NEAR(c.fov, 75, 1e-3f) << "the field of view is linear";
    float between = atan2f(c.back.x, c.back.z);
    EXPECT_GT(between, 0.7f);
    EXPECT_LT(between, 1.4f) << "the turn between keyframes 1 and 2";
    // Before the first and after the last the end keyframes hold.
    camera_path_at(keys, 4, -5, &c);
    expect_vec(c.eye, 0, 10, 0);
    camera_path_at(keys, 4, 99, &c);
    expect_vec(c.eye, 60, 20, 0);
    EXPECT_FALSE(camera_path_at(keys, 0, 0, &c));
}

TEST_F(Cameras, EqualKeyframeTimesHoldTheEarlierKeyframe)
{
    CameraKeyframe keys[4] = {};
    const double times[4] = { 0, 1, 1, 2 };
    for (int i = 0; i < 4; i++) {
        keys[i].position = v3((float)i * 10, 0, 0);
        keys[i].rotation[0] = 1;
        keys[i].fov = 90;
        keys[i].time = times[i];
    }
    Camera c = {};
    camera_path_at(keys, 4, 1, &c);
    expect_vec(c.eye, 10, 0, 0);
    for (double t : { 0.999, 1.001, 1.5 }) {
        camera_path_at(keys, 4, t, &c);
        EXPECT_TRUE(isfinite(c.eye.x) && isfinite(c.back.z)) << t;
    }
    camera_path_at(keys, 4, 1.5, &c);
    EXPECT_GT(c.eye.x, 20);
    EXPECT_LT(c.eye.x, 30) << "after the jump the path runs from the later keyframe";
}
