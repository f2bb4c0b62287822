// The cameras a frame is drawn from: the rider's eyes, the chase camera, the track's trackside
// cameras (the "cameras" file and its gate table), the free camera, cameras from a quaternion
// and camera paths. Everything here is arithmetic on plain values: no GL, so the tests run it
// without a window.
#pragma once
#include "common/vecmath.h"

struct BikeState;
struct DataFile;

enum {
    CAMERA_GATES = 256,             // entries of the gate-to-camera table
    TRACK_CAMERAS_MAX = 4096,
};

// What a frame is drawn from. The axes are world directions; the camera looks along -back.
struct Camera {
    Vec3 eye;
    Vec3 right, up, back;
    float fov;                      // vertical, degrees
    int bike;                       // the watched slot, -1 none
};

// Every field of view the renderer takes: 10..170 degrees (NaN: 90). Zero or 180 would make
// a degenerate projection.
float clamp_fov(float degrees);

// The column-major view rotation (no translation) of a camera, for glLoadMatrixf.
void  camera_view_matrix(const Camera *c, float m[16]);
// A camera at eye looking towards target (world up kept up).
void  camera_look_at(Camera *c, Vec3 eye, Vec3 target);

// Where the cameras find the ground: the loaded terrain unless a test sets another (null: the
// terrain). Returns the height under (x, z).
typedef float (*GroundHeight)(float x, float z);
void  cameras_set_ground(GroundHeight ground);
float camera_ground(float x, float z);

// ---- first person

struct FirstPersonSettings {
    float height;                   // "first_person_height", 0..1
    float angle;                    // "first_person_angle", degrees down
    float gimbal;                   // "first_person_gimbal", 0..100
    float fov;                      // "fov"
};
// The pitch the gimbal has reached; reset with valid = false (a new bike, a new view).
struct GimbalState {
    bool valid;
    float pitch;                    // radians, of the forward axis
};
// The eye in the rider body's coordinates for a first-person height: (0, 0.5, -0.4) at
// height 0, rising and moving forward as the height grows.
Vec3  first_person_eye_offset(float height);
// From the rider body's position and axes (right, up, back: columns of its rotation), after
// seconds of game time since the last call (capped at 0.125). eye_base is where the rider
// model's eyes are at height 0 (rider body coordinates); the height moves the eye from there
// as it moves first_person_eye_offset.
void  first_person_camera(Vec3 position, const Mat3 &rotation, Vec3 eye_base, const FirstPersonSettings *s,
                          GimbalState *gimbal, double seconds, Camera *out);
// The same from a bike's rider body, the eyes a little in front of the pose's head point.
void  camera_first_person(const BikeState *bike, const FirstPersonSettings *s, GimbalState *gimbal, double seconds,
                          Camera *out);

// ---- chase

struct ChaseInput {
    Vec3 centre;                    // the chase-camera centre on the bike (world)
    Vec3 heading;                   // the bike's forward direction (world)
    Vec3 velocity;                  // ft/s
    bool own;                       // the player's own bike
    float yaw, distance, height;    // the orbit, for every other bike
    float third_distance, third_height;     // "third_person_distance", "third_person_height"
    bool rigid;                     // "rigid_camera"
    float fov;
};
static const float CHASE_FLOOR = 5;       // feet above the ground under the camera
// The direction the own bike's camera stands behind: the horizontal velocity from 30 ft/s,
// the heading up to 10 ft/s (always with rigid), blended between. Unit length, horizontal.
Vec3  chase_behind(Vec3 heading, Vec3 velocity, bool rigid);
void  chase_camera_place(const ChaseInput *in, Camera *out);

// ---- trackside cameras

struct TrackCamera {
    Vec3 position;                  // y absolute
    float fov;                      // degrees, the file's absolute value
    float autofov;                  // size kept on screen, 0 off
};
// Reads a "cameras" stream over the track's ground (replacing any loaded cameras and the gate
// table). Returns the count.
int   cameras_read(DataFile *f);
int   cameras_load(DataFile *f);    // the session's hook
void  cameras_free(void);
int   camera_count(void);
const TrackCamera *track_camera(int index);         // null outside
int   camera_for_gate(int gate);                    // -1 none or outside 0..255
// The camera of the gate the viewed rider passes next; -1 none (no timing, no camera).
int   camera_for_next_gate(int slot);
// The field of view that keeps a rider of size `autofov` about the same size on screen:
// clamp(2 atan(size / 2d), 10, the camera's own); the camera's own with autofov 0.
float camera_auto_fov(const TrackCamera *cam, float distance);
// A trackside camera aimed at target.
void  track_camera_view(int index, Vec3 target, int bike, Camera *out);

// ---- the free camera

static const float FREE_CAMERA_FLOOR = 2;
void  free_camera_reset(void);
// Along the view direction, then kept FREE_CAMERA_FLOOR above the ground.
void  free_camera_move(double distance);
// Above a bike, looking along its heading.
void  free_camera_place_above(BikeState *bike, float height);
void  free_camera_place(Vec3 position, float yaw, float pitch);
// Position, orientation quaternion (w, x, y, z) and field of view.
void  free_camera_get(float position[3], float rotation[4], float *fov);
void  free_camera_set(const float position[3], const float rotation[4]);
void  free_camera_aim(float yaw_degrees, float pitch_degrees);     // roll 0
void  free_camera_set_fov(float fov);
void  free_camera_view(Camera *out);

// ---- from a quaternion, fixed and along paths

// The rotation of the unit quaternion (w, x, y, z); a zero or non-finite one is the identity.
void  camera_quaternion(Vec3 eye, const float q[4], float fov, Camera *out);
// Heading (radians about y, 0 looking along -z) and pitch (radians, up positive).
void  camera_fixed(Vec3 eye, float heading, float pitch, float fov, Camera *out);

struct CameraKeyframe {
    Vec3 position;
    float rotation[4];              // w, x, y, z
    float fov;
    double time;
};
// A cubic spline through the keyframes' positions and orientations (normalised), the field of
// view linear; before the first and after the last the end keyframe holds. Keyframes with
// equal times hold the earlier one. False with no keyframes.
bool  camera_path_at(const CameraKeyframe *keys, int count, double time, Camera *out);

// Test hook: no cameras, the terrain as ground, the free camera at the origin.
void  cameras_reset_for_tests(void);
