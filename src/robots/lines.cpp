#include "robots/lines.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "robots/pick.h"
#include "vfs/vfs.h"

static const char *const k_files[3] = { "lines_novice", "lines_amateur", "lines_expert" };
static const int k_keep_after_prune = 43;
static const int k_max_reduce_rounds = 16;

static struct {
    LineEntry *entries;             // slots x k_line_entries
    int *designated;                // k_line_modes x slots
    int *version;                   // per slot: changes whenever an entry's points do
    int first, normal;              // E, K
    int identity_counter;
} g_lines;

// ---- the store

bool lines_store_create(int first_counting, int normal_counting)
{
    lines_store_free();
    if (first_counting <= 2 || normal_counting <= 2 || first_counting > 4096 || normal_counting > 4096)
        return false;
    int slots = first_counting + normal_counting;
    g_lines.entries = (LineEntry *)xcalloc((size_t)slots * k_line_entries, sizeof(LineEntry));
    g_lines.designated = (int *)xcalloc((size_t)slots * k_line_modes, sizeof(int));
    g_lines.version = (int *)xcalloc((size_t)slots, sizeof(int));
    g_lines.first = first_counting;
    g_lines.normal = normal_counting;
    g_lines.identity_counter = 0;
    for (int i = 0; i < slots * k_line_entries; i++) {
        g_lines.entries[i].points = nullptr;
        line_clear(&g_lines.entries[i]);
        g_lines.entries[i].last_picked = 0;
    }
    return true;
}

void lines_store_free(void)
{
    int n = lines_store_slots() * k_line_entries;
    for (int i = 0; i < n; i++)
        xfree(g_lines.entries[i].points);
    xfree(g_lines.entries);
    xfree(g_lines.designated);
    xfree(g_lines.version);
    g_lines.entries = nullptr;
    g_lines.designated = nullptr;
    g_lines.version = nullptr;
    g_lines.first = g_lines.normal = 0;
}

bool lines_store_exists(void) { return g_lines.entries != nullptr; }
int lines_store_slots(void) { return g_lines.entries ? g_lines.first + g_lines.normal : 0; }
int lines_store_first(void) { return g_lines.entries ? g_lines.first : 0; }
int lines_store_normal(void) { return g_lines.entries ? g_lines.normal : 0; }

int section_slot(int section)
{
    if (!g_lines.entries || section < 0)
        return -1;
    if (section < g_lines.first)
        return section;
    return g_lines.first + (section - g_lines.first) % g_lines.normal;
}

LineEntry *line_entry(int slot, int entry)
{
    if (slot < 0 || slot >= lines_store_slots() || entry < 0 || entry >= k_line_entries)
        return nullptr;
    return &g_lines.entries[slot * k_line_entries + entry];
}

LineEntry *line_by_identity(int identity, int slot)
{
    if (identity <= 0)
        return nullptr;
    if (LineEntry *in_slot = line_entry(slot, 0)) {
        for (int i = 0; i < k_line_entries; i++)
            if (in_slot[i].identity == identity)
                return &in_slot[i];
    }
    int n = lines_store_slots() * k_line_entries;
    for (int i = 0; i < n; i++)
        if (g_lines.entries[i].identity == identity)
            return &g_lines.entries[i];
    return nullptr;
}

int designated_line(int mode, int slot)
{
    if (mode < 0 || mode >= k_line_modes || slot < 0 || slot >= lines_store_slots())
        return 0;
    return g_lines.designated[mode * lines_store_slots() + slot];
}

void set_designated_line(int mode, int slot, int identity)
{
    if (mode >= 0 && mode < k_line_modes && slot >= 0 && slot < lines_store_slots())
        g_lines.designated[mode * lines_store_slots() + slot] = identity;
}

int line_slot_version(int slot)
{
    return slot >= 0 && slot < lines_store_slots() ? g_lines.version[slot] : 0;
}

// Versions are never reused, not even by a later store, so a table made from one is never
// taken for another's.
static void touch_slot(const LineEntry *e)
{
    static int counter;
    if (g_lines.entries && e >= g_lines.entries && e < g_lines.entries + lines_store_slots() * k_line_entries)
        g_lines.version[(e - g_lines.entries) / k_line_entries] = ++counter;
}

void line_clear(LineEntry *e)
{
    touch_slot(e);
    xfree(e->points);
    e->points = nullptr;
    e->count = 0;
    e->recorded_time = k_line_no_time;
    e->best_time = k_line_no_time;
    e->trials = 0;
    e->best_trial[0] = e->best_trial[1] = k_line_no_time;
    e->trial_sum[0] = e->trial_sum[1] = 0;
    e->failures = 0;
    e->identity = 0;
}

bool line_fill(LineEntry *e, const LinePoint *points, int count, int short_span, int long_span)
{
    line_clear(e);
    if (count <= 0)
        return false;
    LinePoint *copy = (LinePoint *)xmalloc((size_t)count * sizeof(LinePoint));
    memcpy(copy, points, (size_t)count * sizeof(LinePoint));
    e->points = copy;
    e->count = count;
    touch_slot(e);
    e->recorded_time = short_span;
    e->best_time = long_span;
    e->identity = ++g_lines.identity_counter;
    return true;
}

// ---- the file

const char *lines_file_name(int skill)
{
    return k_files[skill < 0 || skill > 2 ? 0 : skill];
}

static int at_least_zero(int v)
{
    return v < 0 ? 0 : v;
}

void line_reduce_statistics(LineEntry *e)
{
    e->trials = at_least_zero(e->trials);
    e->failures = at_least_zero(e->failures);
    e->trial_sum[0] = at_least_zero(e->trial_sum[0]);
    e->trial_sum[1] = at_least_zero(e->trial_sum[1]);
    for (int round = 0; round < k_max_reduce_rounds; round++) {
        if (!(e->trial_sum[1] > k_line_max_sum || e->trials > k_line_max_stat || e->failures > k_line_max_stat))
            break;
        int halved = e->trials / 2;
        if (halved > 0) {
            for (int k = 0; k < 2; k++)
                e->trial_sum[k] = (int)((int64_t)(e->trial_sum[k] / e->trials) * halved);
            e->trials = halved;
        }
        e->failures /= 2;
    }
    if (e->trials > k_line_max_stat)
        e->trials = k_line_max_stat;
    if (e->failures > k_line_max_stat)
        e->failures = k_line_max_stat;
    for (int k = 0; k < 2; k++)
        if (e->trial_sum[k] > k_line_max_sum)
            e->trial_sum[k] = k_line_max_sum;
}

// One point; false when it does not parse or is not a finite number (a robot would steer by it).
static bool read_point(DataFile *f, LinePoint *p)
{
    if (data_scanf(f, " [ %f %f %f ] %f %f ", &p->x, &p->y, &p->z, &p->speed, &p->lean) != 5)
        return false;
    return isfinite(p->x) && isfinite(p->y) && isfinite(p->z) && isfinite(p->speed) && isfinite(p->lean);
}

// One entry into e (null: read and dropped). False when the file ended inside its header.
static bool read_entry(DataFile *f, LineEntry *e)
{
    int v[9];
    if (data_scanf(f, " %d %d %d %d %d %d %d %d %d ", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7],
                   &v[8]) != 9)
        return false;
    int count = v[0];
    bool keep = e && count > 0 && count <= k_line_max_points;
    LinePoint *points = keep ? (LinePoint *)xmalloc((size_t)count * sizeof(LinePoint)) : nullptr;
    // A count out of range is never allocated: its points are read past, one at a time.
    bool whole = true;
    LinePoint scratch;
    for (int i = 0; i < count; i++) {
        if (!read_point(f, keep ? &points[i] : &scratch)) {
            whole = false;
            break;
        }
    }
    if (!keep || !whole) {
        xfree(points);
        return whole;
    }
    line_clear(e);
    e->points = points;
    e->count = count;
    touch_slot(e);
    e->recorded_time = v[1];
    e->best_time = v[2];
    e->trials = v[3];
    e->best_trial[0] = v[4];
    e->best_trial[1] = v[5];
    e->trial_sum[0] = v[6];
    e->trial_sum[1] = v[7];
    e->failures = v[8];
    e->identity = ++g_lines.identity_counter;
    line_reduce_statistics(e);
    return true;
}

void lines_read_store(DataFile *f)
{
    int slots = lines_store_slots();
    for (int s = 0; s < slots; s++) {
        int n;
        if (data_scanf(f, " %d ", &n) != 1)
            return;
        for (int i = 0; i < n; i++) {
            LineEntry *e = i < k_line_entries ? line_entry(s, i) : nullptr;
            if (!read_entry(f, e))
                return;
        }
    }
}

bool lines_write_store(DataFile *f)
{
    int slots = lines_store_slots();
    bool ok = data_printf(f, "ct03 %d\n", slots) >= 0;
    for (int s = 0; s < slots && ok; s++) {
        int n = 0;
        for (int i = 0; i < k_line_entries; i++)
            n += line_entry(s, i)->count > 0;
        ok = data_printf(f, "%d\n", n) >= 0;
        for (int i = 0; i < k_line_entries && ok; i++) {
            const LineEntry *e = line_entry(s, i);
            if (e->count <= 0)
                continue;
            ok = data_printf(f, "%d %d %d %d %d %d %d %d %d\n", e->count, e->recorded_time, e->best_time, e->trials,
                             e->best_trial[0], e->best_trial[1], e->trial_sum[0], e->trial_sum[1], e->failures) >= 0;
            for (int k = 0; k < e->count && ok; k++) {
                const LinePoint &p = e->points[k];
                ok = data_printf(f, "[%f %f %f] %f %f\n", p.x, p.y, p.z, p.speed, p.lean) >= 0;
            }
        }
    }
    return ok;
}

static void lines_path(char *out, int size, const char *folder, int skill)
{
    snprintf(out, size, "@%.1000s/%s", folder, lines_file_name(skill));
}

void load_lines(const char *folder, int first_counting, int normal_counting, int skill)
{
    if (!lines_store_create(first_counting, normal_counting))
        return;
    char name[1100];
    lines_path(name, sizeof name, folder, skill);
    if (DataFile *f = open_data_file(name, "r")) {
        int count = -1;
        if (data_scanf(f, "ct03 %d", &count) == 1 && count == lines_store_slots())
            lines_read_store(f);
        close_data_file(f);
    }
    prune_lines();
    designate_lines(0);
}

bool save_lines(const char *folder, int skill)
{
    if (!lines_store_exists() || !folder || !folder[0])
        return false;
    char name[1100];
    lines_path(name, sizeof name, folder, skill);
    DataFile *f = begin_replace_file(name);
    if (!f)
        return false;
    if (!lines_write_store(f)) {
        abandon_replace_file(f);
        return false;
    }
    return finish_replace_file(f);
}

// ---- judging lines

static int entries_with_points(int slot)
{
    int n = 0;
    for (int i = 0; i < k_line_entries; i++)
        n += line_entry(slot, i)->count > 0;
    return n;
}

static bool lone(int slot, int entry)
{
    const LineEntry *e = line_entry(slot, entry);
    for (int i = 0; i < k_line_entries; i++) {
        const LineEntry *o = line_entry(slot, i);
        if (i == entry || o->count <= 0)
            continue;
        float dx = o->points[0].x - e->points[0].x, dy = o->points[0].y - e->points[0].y;
        float dz = o->points[0].z - e->points[0].z;
        if (dx * dx + dy * dy + dz * dz < k_line_lone_range_sq)
            return false;
    }
    return true;
}

int line_expected_time(int slot, int entry, bool lone_factor)
{
    const LineEntry *e = line_entry(slot, entry);
    if (!e)
        return k_line_no_time;
    if (e->count <= 0)
        return k_line_empty_expected;
    int64_t t;
    if (e->trials > 0) {
        int64_t runs = (int64_t)e->trials + e->failures;
        t = (runs > 0 ? 640 * (int64_t)e->failures / runs : 0) + e->trial_sum[1] / e->trials;
    } else {
        t = 5 * (int64_t)e->best_time / 4 + (e->failures > 0 ? 640 : 0);
    }
    if (lone_factor && lone(slot, entry))
        t = t * 3 / 4;
    return t > 2000000000 ? 2000000000 : (int)t;
}

int choose_eviction(int slot)
{
    if (slot < 0 || slot >= lines_store_slots())
        return -1;
    int reliable = 0;
    for (int i = 0; i < k_line_entries; i++) {
        const LineEntry *e = line_entry(slot, i);
        reliable += e->failures < e->trials;
    }
    int best = -1, worst_time = 0;
    for (int i = 0; i < k_line_entries; i++) {
        const LineEntry *e = line_entry(slot, i);
        if (e->count <= 0 || (reliable <= 22 && e->failures < e->trials))
            continue;
        int t = line_expected_time(slot, i, true);
        if (best < 0 || t > worst_time) {
            best = i;
            worst_time = t;
        }
    }
    return best;
}

static float side(const LinePoint *a, const LinePoint *b, const LinePoint *p)
{
    return (b->x - a->x) * (p->z - a->z) - (b->z - a->z) * (p->x - a->x);
}

bool segments_cross(const LinePoint *a, const LinePoint *b, const LinePoint *c, const LinePoint *d)
{
    bool c_side = side(a, b, c) < 0, d_side = side(a, b, d) < 0;
    bool a_side = side(c, d, a) < 0, b_side = side(c, d, b) < 0;
    return c_side != d_side && a_side != b_side;
}

struct Box {
    float x0, z0, x1, z1;
};

static Box segment_box(const LinePoint *a, const LinePoint *b)
{
    return { fminf(a->x, b->x), fminf(a->z, b->z), fmaxf(a->x, b->x), fmaxf(a->z, b->z) };
}

static bool boxes_meet(const Box &p, const Box &q)
{
    return p.x0 <= q.x1 && q.x0 <= p.x1 && p.z0 <= q.z1 && q.z0 <= p.z1;
}

bool polylines_cross(const LineEntry *a, const LineEntry *b)
{
    if (a->count < 2 || b->count < 2)
        return false;
    Box whole_a = segment_box(&a->points[0], &a->points[0]), whole_b = segment_box(&b->points[0], &b->points[0]);
    for (int i = 1; i < a->count; i++) {
        Box s = segment_box(&a->points[i - 1], &a->points[i]);
        whole_a = { fminf(whole_a.x0, s.x0), fminf(whole_a.z0, s.z0), fmaxf(whole_a.x1, s.x1), fmaxf(whole_a.z1, s.z1) };
    }
    for (int j = 1; j < b->count; j++) {
        Box s = segment_box(&b->points[j - 1], &b->points[j]);
        whole_b = { fminf(whole_b.x0, s.x0), fminf(whole_b.z0, s.z0), fmaxf(whole_b.x1, s.x1), fmaxf(whole_b.z1, s.z1) };
    }
    if (!boxes_meet(whole_a, whole_b))
        return false;
    for (int i = 1; i < a->count; i++) {
        Box sa = segment_box(&a->points[i - 1], &a->points[i]);
        if (!boxes_meet(sa, whole_b))
            continue;
        for (int j = 1; j < b->count; j++)
            if (boxes_meet(sa, segment_box(&b->points[j - 1], &b->points[j])) &&
                segments_cross(&a->points[i - 1], &a->points[i], &b->points[j - 1], &b->points[j]))
                return true;
    }
    return false;
}

// Whether entry a goes before entry b when two cross equally often.
static bool cleared_first(const LineEntry *a, const LineEntry *b)
{
    if ((a->trials > 0) != (b->trials > 0))
        return a->trials > 0;
    if (a->trials > 0)
        return a->trial_sum[1] / a->trials < b->trial_sum[1] / b->trials;
    return a->best_time < b->best_time;
}

static void prune_slot(int slot)
{
    int n = entries_with_points(slot);
    while (n > k_keep_after_prune) {
        int crossings[k_line_entries] = {};
        for (int j = 0; j < k_line_entries; j++)
            for (int k = j + 1; k < k_line_entries; k++)
                if (polylines_cross(line_entry(slot, j), line_entry(slot, k))) {
                    crossings[j]++;
                    crossings[k]++;
                }
        int most = -1;
        for (int j = 0; j < k_line_entries; j++) {
            if (crossings[j] <= 0)
                continue;
            if (most < 0 || crossings[j] > crossings[most] ||
                (crossings[j] == crossings[most] && cleared_first(line_entry(slot, j), line_entry(slot, most))))
                most = j;
        }
        if (most >= 0)
            line_clear(line_entry(slot, most));
        int evicted = choose_eviction(slot);
        if (evicted >= 0)
            line_clear(line_entry(slot, evicted));
        n -= 2;
    }
}

void prune_lines(void)
{
    for (int s = 0; s < lines_store_first(); s++)
        prune_slot(s);
}
