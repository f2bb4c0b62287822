#include "render/cameras.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <ode/ode.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "common/mem.h"
#include "race/session.h"
#include "race/timing.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static const float k_pi = 3.14159265358979f;
static const float k_gimbal_limit = 0.7853982f;     // pi/4: the steadied eye never looks steeper
static const float k_default_track_fov = 90;

static struct {
    GroundHeight ground;
    TrackCamera *cameras;
    int count;
    int gates[CAMERA_GATES];        // camera index, -1 none
    Vec3 free_position;
    Quat free_rotation;
    float free_fov;
} g_cam = { nullptr, nullptr, 0, {}, { 0, 0, 0 }, { 1, 0, 0, 0 }, 90 };

static struct CamInit {
    CamInit() { memset(g_cam.gates, -1, sizeof g_cam.gates); }
} g_cam_init;

static float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }
static bool finite3(Vec3 v) { return isfinite(v.x) && isfinite(v.y) && isfinite(v.z); }

float clamp_fov(float degrees)
{
    if (isnan(degrees))
        return 90;
    return clampf(degrees, 10, 170);
}

void camera_view_matrix(const Camera *c, float m[16])
{
    const float v[16] = { c->right.x, c->up.x, c->back.x, 0, c->right.y, c->up.y, c->back.y, 0,
                          c->right.z, c->up.z, c->back.z, 0, 0, 0, 0, 1 };
    memcpy(m, v, sizeof v);
}

// Axes from a backward direction, world up kept up; straight up or down takes +x as right.
static void axes_from_back(Camera *c, Vec3 back)
{
    c->back = v3_normalize(back);
    if (v3_dot(c->back, c->back) < 0.5f)
        c->back = v3(0, 0, 1);
    Vec3 right = v3_cross(v3(0, 1, 0), c->back);
    c->right = v3_dot(right, right) < 1e-8f ? v3(1, 0, 0) : v3_normalize(right);
    c->up = v3_cross(c->back, c->right);
}

void camera_look_at(Camera *c, Vec3 eye, Vec3 target)
{
    c->eye = eye;
    axes_from_back(c, v3_sub(eye, target));
}

static float terrain_ground(float x, float z)
{
    const Terrain *t = session_terrain();
    return t && t->heights ? terrain_height(t, x, z) : 0;
}

void cameras_set_ground(GroundHeight ground) { g_cam.ground = ground; }

float camera_ground(float x, float z)
{
    return g_cam.ground ? g_cam.ground(x, z) : terrain_ground(x, z);
}

static Vec3 column(const Mat3 &m, int c) { return v3(m.m[0][c], m.m[1][c], m.m[2][c]); }

static Mat3 mat3_from_ode(const dReal *r)
{
    Mat3 m;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            m.m[i][j] = (float)r[i * 4 + j];
    return m;
}

// ---- first person

Vec3 first_person_eye_offset(float height)
{
    return v3(0, 0.558383f * height + 0.5f, -0.79336953f * height - 0.4f);
}

void first_person_camera(Vec3 position, const Mat3 &rotation, Vec3 eye_base, const FirstPersonSettings *s,
                         GimbalState *gimbal, double seconds, Camera *out)
{
    Vec3 right = column(rotation, 0), up = column(rotation, 1), back = column(rotation, 2);
    Vec3 eye = v3_add(eye_base, v3_sub(first_person_eye_offset(s->height), first_person_eye_offset(0)));
    out->eye = v3_add(position, m3_apply(rotation, eye));
    Vec3 forward = v3_scale(back, -1);
    if (s->gimbal > 0.5f) {
        // The eye keeps level like a rider's head: the forward axis's climb is clamped and
        // follows the bike's only at a rate that slows as the gimbal setting rises.
        float target = clampf(asinf(clampf(forward.y, -1, 1)), -k_gimbal_limit, k_gimbal_limit);
        double dt = seconds < 0 ? 0 : seconds > 0.125 ? 0.125 : seconds;
        float loose = 1 - s->gimbal / 100;
        float k = (float)((loose * loose * loose * 100 + 5) * dt);
        if (!gimbal->valid || k >= 1)
            gimbal->pitch = target;
        else
            gimbal->pitch += (target - gimbal->pitch) * k;
        gimbal->valid = true;
        Vec3 flat = v3_normalize(v3(forward.x, 0, forward.z));
        if (v3_dot(flat, flat) < 0.5f)
            flat = v3_normalize(v3(up.x, 0, up.z));     // looking straight up or down: the top leads
        if (v3_dot(flat, flat) > 0.5f) {
            forward = v3_add(v3_scale(flat, cosf(gimbal->pitch)), v3(0, sinf(gimbal->pitch), 0));
            Vec3 r = v3_cross(forward, up);
            right = v3_dot(r, r) > 1e-8f ? v3_normalize(r) : right;
            up = v3_normalize(v3_cross(right, forward));
        }
    } else {
        gimbal->valid = false;
    }
    // The eye tilted down by the angle setting, about its own right axis.
    float a = s->angle * k_pi / 180;
    Vec3 f = v3_add(v3_scale(forward, cosf(a)), v3_scale(up, -sinf(a)));
    Vec3 u = v3_add(v3_scale(up, cosf(a)), v3_scale(forward, sinf(a)));
    out->right = right;
    out->up = u;
    out->back = v3_scale(f, -1);
    out->fov = clamp_fov(s->fov);
}

void camera_first_person(const BikeState *bike, const FirstPersonSettings *s, GimbalState *gimbal, double seconds,
                         Camera *out)
{
    dBodyID body = bike->body[BODY_RIDER];
    const dReal *p = dBodyGetPosition(body);
    // The rider model's eyes: a little below and in front of its head point.
    Vec3 base = first_person_eye_offset(0);
    if (const BikeModel *m = bike_catalogue_row(bike))
        base = v3(m->rider_pose[0], m->rider_pose[1] - 0.35f, m->rider_pose[2] - 0.05f);
    first_person_camera(v3((float)p[0], (float)p[1], (float)p[2]), mat3_from_ode(dBodyGetRotation(body)), base, s,
                        gimbal, seconds, out);
    out->bike = bike->slot;
}

// ---- chase

static Vec3 flat_unit(Vec3 v)
{
    return v3_normalize(v3(v.x, 0, v.z));
}

Vec3 chase_behind(Vec3 heading, Vec3 velocity, bool rigid)
{
    Vec3 h = flat_unit(heading), v = flat_unit(velocity);
    if (v3_dot(h, h) < 0.5f)
        h = v3(0, 0, -1);
    float speed = v3_length(velocity);
    if (rigid || speed <= 10 || v3_dot(v, v) < 0.5f)
        return h;
    if (speed >= 30)
        return v;
    float t = (speed - 10) / 20;
    Vec3 mix = flat_unit(v3_lerp(h, v, t));
    return v3_dot(mix, mix) < 0.5f ? h : mix;
}

void chase_camera_place(const ChaseInput *in, Camera *out)
{
    Vec3 eye;
    if (in->own) {
        Vec3 ahead = chase_behind(in->heading, in->velocity, in->rigid);
        eye = v3_add(v3_madd(in->centre, ahead, -in->third_distance), v3(0, in->third_height, 0));
    } else {
        eye = v3_add(in->centre, v3(in->distance * sinf(in->yaw), in->height, in->distance * cosf(in->yaw)));
    }
    float floor = camera_ground(eye.x, eye.z) + CHASE_FLOOR;
    if (eye.y < floor)
        eye.y = floor;
    camera_look_at(out, eye, in->centre);
    out->fov = clamp_fov(in->fov);
}

// ---- trackside cameras

void cameras_free(void)
{
    xfree(g_cam.cameras);
    g_cam.cameras = nullptr;
    g_cam.count = 0;
    memset(g_cam.gates, -1, sizeof g_cam.gates);
}

// The rest of an over-long line is not a line of its own.
static void skip_rest_of_line(DataFile *f, const char *line)
{
    size_t n = strlen(line);
    if (n == 0 || line[n - 1] == '\n')
        return;
    int c;
    while ((c = data_getc(f)) >= 0 && c != '\n') {
    }
}

// "gate" numbers: each maps its gate to the next camera; the list stops at anything that is
// not a gate number (a negative one would index before the table).
static void read_gates(const char *p)
{
    for (;;) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (!isdigit((unsigned char)*p) && *p != '-' && *p != '+')
            return;
        char *end;
        errno = 0;
        long g = strtol(p, &end, 10);
        if (end == p || errno || g < 0 || g >= CAMERA_GATES || (*end && !isspace((unsigned char)*end)))
            return;
        g_cam.gates[g] = g_cam.count;
        p = end;
    }
}

static bool read_float(const char *p, float *out)
{
    char *end;
    float v = strtof(p, &end);
    if (end == p || !isfinite(v))
        return false;
    *out = v;
    return true;
}

int cameras_read(DataFile *f)
{
    cameras_free();
    float fov = k_default_track_fov, autofov = 0;
    int room = 0;
    char line[512];
    while (f && data_gets(f, line, sizeof line)) {
        skip_rest_of_line(f, line);
        char word[16];
        int used = 0;
        if (sscanf(line, " %15s%n", word, &used) != 1)
            continue;
        const char *rest = line + used;
        float v;
        if (strcmp(word, "fov") == 0 && read_float(rest, &v)) {
            fov = fabsf(v);
        } else if (strcmp(word, "autofovsize") == 0 && read_float(rest, &v)) {
            autofov = fabsf(v);
        } else if (strcmp(word, "gate") == 0) {
            read_gates(rest);
        } else if (strcmp(word, "addcamera") == 0) {
            float x, y, z;
            if (sscanf(rest, "%f %f %f", &x, &y, &z) != 3 || !finite3(v3(x, y, z)) || g_cam.count >= TRACK_CAMERAS_MAX)
                continue;
            if (g_cam.count == room) {
                room = room ? room * 2 : 8;
                g_cam.cameras = (TrackCamera *)xrealloc(g_cam.cameras, sizeof(TrackCamera) * room);
            }
            g_cam.cameras[g_cam.count++] = { v3(x, camera_ground(x, z) + y, z), fov, autofov };
            fov = k_default_track_fov;
            autofov = 0;
        }
    }
    // Gates named after the last camera have no camera to go to.
    for (int &g : g_cam.gates)
        if (g >= g_cam.count)
            g = -1;
    return g_cam.count;
}

int cameras_load(DataFile *f) { return cameras_read(f); }
int camera_count(void) { return g_cam.count; }

const TrackCamera *track_camera(int index)
{
    return index >= 0 && index < g_cam.count ? &g_cam.cameras[index] : nullptr;
}

int camera_for_gate(int gate)
{
    return gate >= 0 && gate < CAMERA_GATES ? g_cam.gates[gate] : -1;
}

int camera_for_next_gate(int slot)
{
    const Timing *t = session_timing();
    const GatePasses *p = session_passes(slot);
    if (!t || !t->valid || !p)
        return -1;
    return camera_for_gate(position_checkpoint(t, p->next));
}

float camera_auto_fov(const TrackCamera *cam, float distance)
{
    float own = clamp_fov(cam->fov);
    if (!(cam->autofov > 0) || !(distance > 0))
        return own;
    float fov = 2 * atanf(cam->autofov / (2 * distance)) * 180 / k_pi;
    return clampf(fov, 10, own);
}

void track_camera_view(int index, Vec3 target, int bike, Camera *out)
{
    const TrackCamera *cam = track_camera(index);
    if (!cam)
        return;
    camera_look_at(out, cam->position, target);
    out->fov = camera_auto_fov(cam, v3_length(v3_sub(target, cam->position)));
    out->bike = bike;
}

// ---- the free camera

static void keep_above_ground(Vec3 *p, float floor)
{
    float g = camera_ground(p->x, p->z) + floor;
    if (p->y < g)
        p->y = g;
}

static Quat yaw_pitch(float yaw, float pitch)
{
    return q_mul(q_axis_angle(v3(0, 1, 0), yaw), q_axis_angle(v3(1, 0, 0), pitch));
}

void free_camera_reset(void)
{
    g_cam.free_position = v3(0, 0, 0);
    g_cam.free_rotation = q_identity();
    g_cam.free_fov = 90;
}

void free_camera_move(double distance)
{
    Vec3 back = q_rotate(g_cam.free_rotation, v3(0, 0, 1));
    Vec3 p = v3_madd(g_cam.free_position, back, (float)-distance);
    if (!finite3(p))
        return;
    keep_above_ground(&p, FREE_CAMERA_FLOOR);
    g_cam.free_position = p;
}

void free_camera_place(Vec3 position, float yaw, float pitch)
{
    if (!finite3(position))
        return;
    g_cam.free_position = position;
    keep_above_ground(&g_cam.free_position, FREE_CAMERA_FLOOR);
    g_cam.free_rotation = yaw_pitch(yaw, pitch);
}

void free_camera_place_above(BikeState *bike, float height)
{
    if (!bike || !bike->body[BODY_FRAME])
        return;
    const dReal *p = dBodyGetPosition(bike->body[BODY_FRAME]);
    dVector3 f;
    dBodyVectorToWorld(bike->body[BODY_FRAME], 0, 0, -1, f);
    float yaw = (f[0] * f[0] + f[2] * f[2]) > 1e-8 ? atan2f(-(float)f[0], -(float)f[2]) : 0;
    // A little behind the bike and looking down at it.
    Vec3 at = v3((float)p[0], (float)p[1] + height, (float)p[2]);
    at = v3_madd(at, v3((float)f[0], 0, (float)f[2]), -height);
    free_camera_place(at, yaw, -0.35f);
}

void free_camera_get(float position[3], float rotation[4], float *fov)
{
    position[0] = g_cam.free_position.x;
    position[1] = g_cam.free_position.y;
    position[2] = g_cam.free_position.z;
    rotation[0] = g_cam.free_rotation.w;
    rotation[1] = g_cam.free_rotation.x;
    rotation[2] = g_cam.free_rotation.y;
    rotation[3] = g_cam.free_rotation.z;
    *fov = g_cam.free_fov;
}

static Quat quat_of(const float q[4])
{
    Quat r = { q[0], q[1], q[2], q[3] };
    if (!isfinite(r.w) || !isfinite(r.x) || !isfinite(r.y) || !isfinite(r.z))
        return q_identity();
    return q_normalize(r);
}

void free_camera_set(const float position[3], const float rotation[4])
{
    Vec3 p = v3(position[0], position[1], position[2]);
    if (finite3(p))
        g_cam.free_position = p;
    g_cam.free_rotation = quat_of(rotation);
}

void free_camera_aim(float yaw_degrees, float pitch_degrees)
{
    if (!isfinite(yaw_degrees) || !isfinite(pitch_degrees))
        return;
    g_cam.free_rotation = yaw_pitch(yaw_degrees * k_pi / 180, pitch_degrees * k_pi / 180);
}

void free_camera_set_fov(float fov) { g_cam.free_fov = clamp_fov(fov); }

void free_camera_view(Camera *out)
{
    float q[4] = { g_cam.free_rotation.w, g_cam.free_rotation.x, g_cam.free_rotation.y, g_cam.free_rotation.z };
    camera_quaternion(g_cam.free_position, q, g_cam.free_fov, out);
    out->bike = -1;
}

// ---- from a quaternion, fixed and along paths

void camera_quaternion(Vec3 eye, const float q[4], float fov, Camera *out)
{
    Mat3 m = q_to_m3(quat_of(q));
    out->eye = eye;
    out->right = column(m, 0);
    out->up = column(m, 1);
    out->back = column(m, 2);
    out->fov = clamp_fov(fov);
}

void camera_fixed(Vec3 eye, float heading, float pitch, float fov, Camera *out)
{
    Quat q = yaw_pitch(heading, pitch);
    const float r[4] = { q.w, q.x, q.y, q.z };
    camera_quaternion(eye, r, fov, out);
}

// Cubic Hermite over one interval of length h with tangents per unit time.
static float hermite(float p0, float m0, float p1, float m1, float h, float s)
{
    float s2 = s * s, s3 = s2 * s;
    return (2 * s3 - 3 * s2 + 1) * p0 + (s3 - 2 * s2 + s) * h * m0 + (-2 * s3 + 3 * s2) * p1 + (s3 - s2) * h * m1;
}

// Key k's values: position, the quaternion turned to the same side as `like`, field of view.
static void key_values(const CameraKeyframe *k, const float like[4], float v[8])
{
    v[0] = k->position.x;
    v[1] = k->position.y;
    v[2] = k->position.z;
    float dot = 0;
    for (int i = 0; i < 4; i++)
        dot += k->rotation[i] * like[i];
    for (int i = 0; i < 4; i++)
        v[3 + i] = dot < 0 ? -k->rotation[i] : k->rotation[i];
    v[7] = k->fov;
}

bool camera_path_at(const CameraKeyframe *keys, int count, double time, Camera *out)
{
    if (!keys || count <= 0)
        return false;
    int i = 0;
    // The segment [t_i, t_i+1) holding the time; the first of equal-timed keys at its time.
    if (time > keys[0].time && count > 1) {
        int lo = 0, hi = count - 1;
        while (lo < hi) {
            int mid = (lo + hi + 1) / 2;
            if (keys[mid].time <= time)
                lo = mid;
            else
                hi = mid - 1;
        }
        i = lo;
        while (i > 0 && keys[i - 1].time == time)
            i--;
    }
    const CameraKeyframe *a = &keys[i];
    bool hold = i == count - 1 || time <= a->time || !(keys[i + 1].time > a->time);
    if (hold) {
        camera_quaternion(a->position, a->rotation, a->fov, out);
        out->bike = -1;
        return true;
    }
    const CameraKeyframe *b = &keys[i + 1];
    const CameraKeyframe *before = i > 0 ? &keys[i - 1] : a, *after = i + 2 < count ? &keys[i + 2] : b;
    float va[8], vb[8], v0[8], v3_[8];
    key_values(a, a->rotation, va);
    key_values(b, va + 3, vb);
    key_values(before, va + 3, v0);
    key_values(after, vb + 3, v3_);
    float h = (float)(b->time - a->time);
    float s = (float)((time - a->time) / (b->time - a->time));
    double span_a = b->time - before->time, span_b = after->time - a->time;
    float r[8];
    for (int c = 0; c < 7; c++) {
        float ma = span_a > 0 ? (float)((vb[c] - v0[c]) / span_a) : 0;
        float mb = span_b > 0 ? (float)((v3_[c] - va[c]) / span_b) : 0;
        r[c] = hermite(va[c], ma, vb[c], mb, h, s);
    }
    r[7] = va[7] + (vb[7] - va[7]) * s;
    camera_quaternion(v3(r[0], r[1], r[2]), r + 3, r[7], out);
    out->bike = -1;
    return true;
}

void cameras_reset_for_tests(void)
{
    cameras_free();
    g_cam.ground = nullptr;
    free_camera_reset();
}
