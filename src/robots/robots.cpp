#include "robots/robots.h"

#include <math.h>
#include <time.h>

#include "bike/bike.h"
#include "platform/log.h"
#include "race/robot_hooks.h"
#include "race/session.h"
#include "race/timing.h"
#include "race/world.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "robots/pick.h"
#include "robots/record.h"

// The store follows the loaded track's timing: made when its timing is set up, and again on
// a restart of the same track after the store was written back and freed.
static bool ensure_store(void)
{
    const Timing *t = session_timing();
    if (!t->valid) {
        lines_store_free();
        return false;
    }
    if (lines_store_exists() && lines_store_first() == t->first_counting && lines_store_normal() == t->normal_counting)
        return true;
    return lines_store_create(t->first_counting, t->normal_counting);
}

static int slot_count(void)
{
    return ensure_store() ? lines_store_slots() : 0;
}

static void read_lines(DataFile *f, int count)
{
    if (ensure_store() && count == lines_store_slots())
        lines_read_store(f);
}

static void analyze(void)
{
    if (!ensure_store())
        return;
    prune_lines();
    designate_lines(session_verbosity());
}

static void write_lines(int skill)
{
    const char *folder = session_track();
    if (folder && lines_store_exists() && !save_lines(folder, skill))
        log_printf("Warning: could not write the riding lines '%.900s/%s'\n", folder, lines_file_name(skill));
}

static void reset(void)
{
    lines_store_free();
    link_tables_free();
    lines_clear_all_progress();
}

static void create_segments(int)
{
    lines_store_free();
    ensure_store();
}

static void write_and_free(bool learn)
{
    if (learn && session_track())
        write_lines(session_skill());
    lines_store_free();
    link_tables_free();
    lines_free_all_progress();
}

static struct {
    AutopilotCost cost;
    int tic;
    double this_tic_us;
} g_timing = { {}, -1, 0 };

static double now_us(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

static void timed_autopilot(int slot)
{
    double start = now_us();
    autopilot(slot);
    double spent = now_us() - start;
    AutopilotCost &c = g_timing.cost;
    if (race_tic() != g_timing.tic) {
        g_timing.tic = race_tic();
        g_timing.this_tic_us = 0;
    }
    g_timing.this_tic_us += spent;
    c.worst_tic_us = g_timing.this_tic_us > c.worst_tic_us ? g_timing.this_tic_us : c.worst_tic_us;
    c.total_us += spent;
    c.calls++;
}

const AutopilotCost *autopilot_cost(void)
{
    return &g_timing.cost;
}

void autopilot_cost_reset(void)
{
    g_timing.cost = {};
    g_timing.tic = -1;
    g_timing.this_tic_us = 0;
}

static void personality_of(BikeState *bike, const char *name)
{
    if (bike)
        set_personality(bike->slot, name);
}

// Nearest point of a line to (x, z), the first on ties.
static int nearest_point(const LineEntry *e, float x, float z)
{
    int best = 0;
    float best_d = INFINITY;
    for (int i = 0; i < e->count; i++) {
        float dx = e->points[i].x - x, dz = e->points[i].z - z, d = dx * dx + dz * dz;
        if (d < best_d) {
            best = i;
            best_d = d;
        }
    }
    return best;
}

bool line_standstill_target(int section, float x, float z, float *tx, float *tz)
{
    for (int tried = 0; tried < 2; tried++, section++) {
        const LineEntry *e = section_fastest_line(section);
        if (!e || e->count < 2)
            return false;
        int i = nearest_point(e, x, z);
        if (i == e->count - 1)
            continue;
        const LinePoint *q = &e->points[i];
        if (i + 4 < e->count) {
            q = &e->points[i + 4];
        } else if (const LineEntry *next = section_fastest_line(section + 1)) {
            int k = i + 4 - e->count;
            q = &next->points[k < next->count ? k : next->count - 1];
        }
        *tx = q->x;
        *tz = q->z;
        return true;
    }
    return false;
}

// The section a bike rides: the one that ends at the next counting checkpoint it is to pass.
static bool standstill_line_hook(int slot, float x, float z, float *tx, float *tz)
{
    const Timing *t = session_timing();
    const GatePasses *p = session_passes(slot);
    if (!t || !t->valid || !p || !lines_store_exists())
        return false;
    return line_standstill_target(counting_before(t, p->next), x, z, tx, tz);
}

static bool path_target_hook(int slot, float *x, float *z)
{
    Vec3 v;
    if (!robot_target_point(slot, &v))
        return false;
    *x = v.x;
    *z = v.z;
    return true;
}

void robots_install(void)
{
    RobotHooks hooks = {};
    hooks.lines_slot_count = slot_count;
    hooks.lines_read = read_lines;
    hooks.lines_analyze = analyze;
    hooks.lines_write = write_lines;
    hooks.lines_reset = reset;
    hooks.lines_clear_progress = lines_clear_all_progress;
    hooks.lines_create_segments = create_segments;
    hooks.lines_write_and_free = write_and_free;
    hooks.lines_record = record_lines;
    hooks.lines_bike_contact = record_bike_contact;
    hooks.lines_scenery_touch = record_scenery_touch;
    hooks.set_personality = personality_of;
    hooks.autopilot = timed_autopilot;
    hooks.lines_standstill_target = standstill_line_hook;
    hooks.path_target = path_target_hook;
    hooks.dragging = robot_drags;
    robot_hooks_install(&hooks);
}

const LineEntry *section_fastest_line(int section)
{
    int slot = section_slot(section);
    const LineEntry *best = nullptr;
    int best_time = 0;
    for (int i = 0; slot >= 0 && i < k_line_entries; i++) {
        const LineEntry *e = line_entry(slot, i);
        if (e->count <= 0)
            continue;
        int t = line_expected_time(slot, i, false);
        if (!best || t < best_time) {
            best = e;
            best_time = t;
        }
    }
    return best;
}

bool robot_target_point(int slot, Vec3 *out)
{
    const RobotPath *path = robot_path(slot);
    if (!path || path->count <= 0)
        return false;
    int i = path->target < 0 ? 0 : (path->target >= path->count ? path->count - 1 : path->target);
    *out = { path->points[i].x, path->points[i].y, path->points[i].z };
    return true;
}
