#include "robots/record.h"

#include <math.h>
#include <string.h>

#include "bike/bike.h"
#include "common/mem.h"
#include "platform/log.h"
#include "race/puppets.h"
#include "race/race_rules.h"
#include "race/session.h"
#include "race/timing.h"
#include "race/world.h"

static const float k_slow_speed = 5;            // ft/s: slower than this from 2 s after the drop is trouble
static const int k_slow_grace_tics = 256;
static const int k_recent_pass_tics = 128;      // trouble this soon after a checkpoint blames the section before too
static const float k_success_distance = 4;
static const float k_success_speed_factor = 0.9375f;
static const float k_duplicate_distance_sq = 1.0f / 256;
static const float k_duplicate_speed = 1.0f / 16;

static struct {
    LineRecording rec[RIDER_SLOTS];
    RobotPath path[RIDER_SLOTS];
} g_record;

LineRecording *line_recording(int slot)
{
    return slot >= 0 && slot < RIDER_SLOTS ? &g_record.rec[slot] : nullptr;
}

RobotPath *robot_path(int slot)
{
    return slot >= 0 && slot < RIDER_SLOTS ? &g_record.path[slot] : nullptr;
}

static void buffer_empty(SampleBuffer *b)
{
    b->count = 0;
    b->spoiled = false;
}

void lines_clear_slot(int slot)
{
    LineRecording *r = line_recording(slot);
    if (!r)
        return;
    buffer_empty(&r->buffer[0]);
    buffer_empty(&r->buffer[1]);
    r->trouble = r->trouble_asked = false;
    memset(r->pending, 0, sizeof r->pending);
    r->finished = false;
    r->contact_tic = -1;
    g_record.path[slot].count = 0;
    g_record.path[slot].target = 0;
}

void lines_clear_all_progress(void)
{
    for (int i = 0; i < RIDER_SLOTS; i++)
        lines_clear_slot(i);
}

void lines_free_all_progress(void)
{
    lines_clear_all_progress();
    for (int i = 0; i < RIDER_SLOTS; i++) {
        for (SampleBuffer &b : g_record.rec[i].buffer) {
            xfree(b.points);
            b = {};
        }
        xfree(g_record.path[i].points);
        g_record.path[i] = {};
    }
}

// ---- lap order

static bool counting_entry(int entry)
{
    return entry >= 0 && entry < k_non_counting;
}

int counting_before(const Timing *t, int k)
{
    if (!t->valid || k <= 0)
        return 0;
    int n = 0, first = k < t->first_count ? k : t->first_count;
    for (int i = 0; i < first; i++)
        n += counting_entry(t->first[i]);
    if (k <= t->first_count)
        return n;
    int rest = k - t->first_count;
    n += rest / t->normal_count * t->normal_counting;
    for (int i = 0; i < rest % t->normal_count; i++)
        n += counting_entry(t->normal[i]);
    return n;
}

int counting_position(const Timing *t, int n)
{
    if (!t->valid || n < 0 || t->normal_counting <= 0)
        return -1;
    for (int i = 0; i < t->first_count; i++)
        if (counting_entry(t->first[i]) && n-- == 0)
            return i;
    int laps = n / t->normal_counting;
    n %= t->normal_counting;
    for (int i = 0; i < t->normal_count; i++)
        if (counting_entry(t->normal[i]) && n-- == 0)
            return t->first_count + laps * t->normal_count + i;
    return -1;
}

// ---- trials

static LineEntry *pending_line(LineRecording *r, int section)
{
    if (section < 0)
        return nullptr;
    int identity = r->pending[section % k_pending_trials];
    return identity ? line_by_identity(identity, section_slot(section)) : nullptr;
}

static int saturating_add(int a, int b)
{
    int64_t s = (int64_t)a + b;
    return s > 2147483647 ? 2147483647 : (int)s;
}

static void section_failure(int slot, int section)
{
    LineRecording *r = line_recording(slot);
    if (!r || section < 0)
        return;
    if (LineEntry *e = pending_line(r, section))
        e->failures = saturating_add(e->failures, 1);
    r->pending[section % k_pending_trials] = 0;
}

void line_failure(int slot, int position)
{
    section_failure(slot, counting_before(session_timing(), position));
}

void lines_forget_trials(int slot)
{
    if (LineRecording *r = line_recording(slot))
        memset(r->pending, 0, sizeof r->pending);
}

void record_bike_contact(int slot)
{
    if (LineRecording *r = line_recording(slot)) {
        memset(r->pending, 0, sizeof r->pending);
        r->contact_tic = race_tic();
    }
}

int last_bike_contact_tic(int slot)
{
    const LineRecording *r = line_recording(slot);
    return r ? r->contact_tic : -1;
}

void record_scenery_touch(int slot)
{
    if (LineRecording *r = line_recording(slot))
        r->trouble_asked = true;
}

void lines_note_pick(int slot, int section, int identity)
{
    if (LineRecording *r = line_recording(slot); r && section >= 0)
        r->pending[section % k_pending_trials] = identity;
}

// ---- the robot's path

int path_position(const RobotPath *path, float x, float z, float heading_x, float heading_z, float *fraction)
{
    *fraction = 0;
    if (!path || path->count <= 0)
        return -1;
    const LinePoint *p = path->points;
    int i = path->target < 0 ? 0 : (path->target >= path->count ? path->count - 1 : path->target);
    // Back from the target to the last point not ahead of the frame.
    while (i > 0 && (p[i].x - x) * heading_x + (p[i].z - z) * heading_z > 0)
        i--;
    if (i + 1 < path->count) {
        float ax = p[i].x - x, az = p[i].z - z;
        float along_a = ax * heading_x + az * heading_z;
        float along_b = (p[i + 1].x - x) * heading_x + (p[i + 1].z - z) * heading_z;
        float span = along_b - along_a;
        if (span > 1e-6f) {
            float f = -along_a / span;
            *fraction = f < 0 ? 0 : (f > 1 ? 1 : f);
        }
    }
    return i;
}

bool robot_pass_succeeds(const RobotPath *path, float x, float y, float z, float heading_x, float heading_z,
                         float speed)
{
    float fraction;
    int i = path_position(path, x, z, heading_x, heading_z, &fraction);
    if (i < 0)
        return false;
    const LinePoint &a = path->points[i];
    const LinePoint &b = path->points[i + 1 < path->count ? i + 1 : i];
    // Distance from the frame to the line through a and b (to a itself when they coincide).
    float dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
    float px = x - a.x, py = y - a.y, pz = z - a.z;
    float len_sq = dx * dx + dy * dy + dz * dz;
    float t = len_sq > 1e-12f ? (px * dx + py * dy + pz * dz) / len_sq : 0;
    float ex = px - t * dx, ey = py - t * dy, ez = pz - t * dz;
    if (!(ex * ex + ey * ey + ez * ez <= k_success_distance * k_success_distance))
        return false;
    return speed * k_success_speed_factor <= fmaxf(fabsf(a.speed), fabsf(b.speed));
}

void scale_path_to_finish(RobotPath *path, int from)
{
    if (!path || from < 0 || from >= path->count)
        return;
    int left = path->count - from;
    for (int i = from; i < path->count; i++) {
        int left_here = path->count - i;
        path->points[i].speed *= 0.75f / left * left_here + 0.25f;
    }
}

// ---- sampling

static void buffer_append(SampleBuffer *b, const LinePoint &p)
{
    if (b->spoiled)
        return;
    if (b->count >= k_sample_limit) {
        b->spoiled = true;
        return;
    }
    if (b->count == b->room) {
        int room = b->room ? b->room * 2 : 64;
        b->points = (LinePoint *)xrealloc(b->points, (size_t)room * sizeof(LinePoint));
        b->room = room;
    }
    b->points[b->count++] = p;
}

static float frame_lean(const dReal *pos, const dReal *r)
{
    (void)pos;
    // The frame's up and forward points: R (0, 1, 0) and R (0, 0, -1).
    float fx = (float)-r[2], fz = (float)-r[10], len = hypotf(fx, fz);
    if (len < 1e-9f)
        return 0;
    fx /= len;
    fz /= len;
    float s = fx * (float)r[9] - fz * (float)r[1];
    s = s < -1 ? -1 : (s > 1 ? 1 : s);
    return acosf(s) - 1.5707963f;
}

static void heading_of(const dReal *r, float *hx, float *hz)
{
    float fx = (float)-r[2], fz = (float)-r[10], len = hypotf(fx, fz);
    *hx = len > 1e-9f ? fx / len : 0;
    *hz = len > 1e-9f ? fz / len : -1;
}

static bool driven_by_autopilot(int slot)
{
    return rider_slot(slot)->kind == CONTROL_ROBOT && !is_puppet(slot);
}

static int verbosity(void)
{
    return session_verbosity();
}

// ---- a counting checkpoint

// Whether every position from the counting checkpoint n (the first position when n < 0) up to
// 'to' has a pass time; first_missing gets the first one without.
static bool passes_complete(const Timing *t, const GatePasses *p, int n, int to, int *first_missing)
{
    int from = n < 0 ? 0 : counting_position(t, n);
    *first_missing = -1;
    for (int k = from < 0 ? 0 : from; k <= to; k++)
        if (gate_pass_time(p, k) < 0) {
            *first_missing = k;
            return false;
        }
    return true;
}

static void spans(const Timing *t, const GatePasses *p, int n, int passed, int *short_span, int *long_span)
{
    int t0 = n >= 2 ? gate_pass_time(p, counting_position(t, n - 2)) : 0;
    int t1 = gate_pass_time(p, counting_position(t, n - 1));
    int t2 = gate_pass_time(p, passed);
    *short_span = t1 - t0;
    *long_span = t2 - t0;
}

static void judge_robot(int slot, const BikeState *bike, const Timing *t, const GatePasses *p, int n, int passed)
{
    LineRecording *r = line_recording(slot);
    const dReal *pos = dBodyGetPosition(bike->body[BODY_FRAME]);
    const dReal *rot = dBodyGetRotation(bike->body[BODY_FRAME]);
    const dReal *vel = dBodyGetLinearVel(bike->body[BODY_FRAME]);
    float hx, hz;
    heading_of(rot, &hx, &hz);
    float speed = (float)sqrt(vel[0] * vel[0] + vel[1] * vel[1] + vel[2] * vel[2]);
    if (robot_pass_succeeds(robot_path(slot), (float)pos[0], (float)pos[1], (float)pos[2], hx, hz, speed)) {
        int missing;
        if (passes_complete(t, p, n - 2, passed, &missing)) {
            if (LineEntry *e = pending_line(r, n - 1)) {
                int short_span, long_span;
                spans(t, p, n, passed, &short_span, &long_span);
                e->trials = saturating_add(e->trials, 1);
                e->best_trial[0] = short_span < e->best_trial[0] ? short_span : e->best_trial[0];
                e->best_trial[1] = long_span < e->best_trial[1] ? long_span : e->best_trial[1];
                e->trial_sum[0] = saturating_add(e->trial_sum[0], short_span);
                e->trial_sum[1] = saturating_add(e->trial_sum[1], long_span);
            }
            r->pending[(n - 1) % k_pending_trials] = 0;
        } else if (missing < counting_position(t, n - 1)) {
            line_failure(slot, missing);
        }
    } else {
        line_failure(slot, passed);
        lines_forget_trials(slot);
    }
    buffer_empty(&r->buffer[0]);
    buffer_empty(&r->buffer[1]);
}

static bool same_line(const LineEntry *e, const SampleBuffer *b)
{
    if (e->count != b->count)
        return false;
    for (int i = 0; i < b->count; i++) {
        const LinePoint &p = e->points[i], &q = b->points[i];
        float dx = p.x - q.x, dy = p.y - q.y, dz = p.z - q.z;
        if (dx * dx + dy * dy + dz * dz > k_duplicate_distance_sq || fabsf(p.speed - q.speed) > k_duplicate_speed)
            return false;
    }
    return true;
}

static void offer_candidate(const SampleBuffer *b, int section, int short_span, int long_span)
{
    int slot = section_slot(section);
    if (slot < 0)
        return;
    if (b->count <= 0 || b->spoiled) {
        if (verbosity() >= 1)
            log_printf("auto pilot: %d canceled\n", slot);
        return;
    }
    int chosen = -1;
    for (int i = 0; i < k_line_entries; i++) {
        const LineEntry *e = line_entry(slot, i);
        if (e->count > 0 && same_line(e, b)) {
            if (verbosity() >= 1)
                log_printf("auto pilot: %d rejected (duplicate)\n", slot);
            return;
        }
        if (chosen < 0 && e->count <= 0)
            chosen = i;
    }
    if (chosen < 0)
        chosen = choose_eviction(slot);
    if (chosen < 0)
        return;
    LineEntry *e = line_entry(slot, chosen);
    int64_t expected = line_expected_time(slot, chosen, false);
    if (expected < 5 * (int64_t)long_span / 4) {
        if (verbosity() >= 1)
            log_printf("auto pilot: %d rejected (too slow)\n", slot);
        return;
    }
    if (e->count > 0 && verbosity() >= 1) {
        double tic = 1.0 / 128;
        log_printf("auto pilot: evicting %d (times: %.2f %.2f tested (%d %d): %.2f %.2f repl: %f %f)\n", slot,
                   e->recorded_time * tic, e->best_time * tic, e->trials, e->failures,
                   e->trials > 0 ? e->trial_sum[0] / e->trials * tic : 0.0,
                   e->trials > 0 ? e->trial_sum[1] / e->trials * tic : 0.0, short_span * tic, long_span * tic);
    }
    line_fill(e, b->points, b->count, short_span, long_span);
}

static void checkpoint_passed(int slot, const BikeState *bike, int passed, int expected)
{
    const Timing *t = session_timing();
    if (!counting_entry(position_entry(t, passed)))
        return;
    const GatePasses *p = session_passes(slot);
    LineRecording *r = line_recording(slot);
    int n = counting_before(t, passed);
    if (driven_by_autopilot(slot)) {
        if (n >= 1)
            judge_robot(slot, bike, t, p, n, passed);
        return;
    }
    if (passed != expected) {
        buffer_empty(&r->buffer[0]);
        buffer_empty(&r->buffer[1]);
        return;
    }
    int missing;
    if (n >= 1 && passes_complete(t, p, n - 2, passed, &missing)) {
        int short_span, long_span;
        spans(t, p, n, passed, &short_span, &long_span);
        offer_candidate(&r->buffer[(n - 1) % 2], n - 1, short_span, long_span);
    }
    buffer_empty(&r->buffer[(n + 1) % 2]);
}

// ---- every tic

static void trouble(int slot, const Timing *t, const GatePasses *p, int section)
{
    LineRecording *r = line_recording(slot);
    r->buffer[section % 2].spoiled = true;
    if (!driven_by_autopilot(slot))
        return;
    section_failure(slot, section);
    int last = section >= 1 ? gate_pass_time(p, counting_position(t, section - 1)) : -1;
    if (last >= 0 && race_tic() - last < k_recent_pass_tics)
        section_failure(slot, section - 1);
    lines_forget_trials(slot);
}

void record_lines(int slot, int passed, int expected)
{
    LineRecording *r = line_recording(slot);
    RiderSlot *s = rider_slot(slot);
    const Timing *t = session_timing();
    if (!r || !s || !s->bike || !s->bike->built || !lines_store_exists() || !t->valid || r->finished)
        return;
    BikeState *bike = s->bike;
    const GatePasses *p = session_passes(slot);
    if (passed >= 0)
        checkpoint_passed(slot, bike, passed, expected);

    const dReal *pos = dBodyGetPosition(bike->body[BODY_FRAME]);
    const dReal *vel = dBodyGetLinearVel(bike->body[BODY_FRAME]);
    float speed = (float)sqrt(vel[0] * vel[0] + vel[1] * vel[1] + vel[2] * vel[2]);
    int section = counting_before(t, p->next);
    r->trouble = r->trouble_asked || (race_tic() >= gate_drop_tic() + k_slow_grace_tics && speed < k_slow_speed);
    r->trouble_asked = false;
    if (r->trouble)
        trouble(slot, t, p, section);

    if (race_tic() % k_sample_tics == 0 && !driven_by_autopilot(slot)) {
        bool airborne = !(bike->wheel[0].depth > 0) && !(bike->wheel[1].depth > 0);
        LinePoint point = { (float)pos[0], (float)pos[1], (float)pos[2], airborne ? -speed : speed,
                            frame_lean(pos, dBodyGetRotation(bike->body[BODY_FRAME])) };
        buffer_append(&r->buffer[section % 2], point);
    }

    if (rider_finished(slot)) {
        r->finished = true;
        if (driven_by_autopilot(slot)) {
            RobotPath *path = robot_path(slot);
            const dReal *rot = dBodyGetRotation(bike->body[BODY_FRAME]);
            float hx, hz, fraction;
            heading_of(rot, &hx, &hz);
            scale_path_to_finish(path, path_position(path, (float)pos[0], (float)pos[2], hx, hz, &fraction));
        }
    }
}
