#include "robots/pick.h"

#include <math.h>
#include <string.h>

#include "common/mem.h"
#include "platform/log.h"

static const Personality k_personalities[] = {
    { "steady", 0, 0, 1.0f, 0.2f, 0.3f },
    { "hunter", 2, 1, 10.0f, 0.2f, 0.3f },
    { "cruiser", 1, 0, 10.0f, 0.0f, 0.1f },
    { "tester", 3, 3, 1.0f, 0.2f, 0.3f },
};
static const int k_personality_count = (int)(sizeof k_personalities / sizeof k_personalities[0]);
static const double k_failure_cost = 640;       // tics: 5 s for a run that failed
static const double k_far_parameter = 1000000;
static const float k_picked_reach_sq = 9;       // ft²: lines ending this near the winner count as picked
static const int k_pick_fade_tics = 384;

const Personality *personality(int index)
{
    return index >= 1 && index <= k_personality_count ? &k_personalities[index - 1] : nullptr;
}

int personality_count(void)
{
    return k_personality_count;
}

int find_personality(const char *name)
{
    for (int i = 0; name && i < k_personality_count; i++)
        if (strcmp(k_personalities[i].name, name) == 0)
            return i + 1;
    log_printf("auto pilot personality '%s' not found\n", name ? name : "");
    return 1;
}

// ---- expected times

static double clamp01(double v)
{
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}

static int bit_length(unsigned v)
{
    int n = 0;
    for (; v; v >>= 1)
        n++;
    return n;
}

double line_time(const LineEntry *e, int mode)
{
    int trials = e->trials < 0 ? 0 : e->trials, failures = e->failures < 0 ? 0 : e->failures;
    double sum = e->trial_sum[0] < 0 ? 0 : e->trial_sum[0];
    double weight = mode == 1 ? 8.0 / 7 : (mode == 2 ? 4 : 1);
    switch (mode) {
    case 0:
    case 1:
    case 2: {
        if (trials < (mode == 2 ? 1 : 5))
            return k_line_no_time;
        double f = failures * weight, runs = trials + f;
        return (runs > 0 ? clamp01(f / runs) : 0) * k_failure_cost + sum / trials;
    }
    default: {
        int64_t runs = (int64_t)trials + 4 * (int64_t)failures;
        if ((int64_t)trials + failures > 5 && 4 * (int64_t)trials < failures)
            return 100000;
        if (runs == 0)
            return 0;
        return bit_length((unsigned)(runs > 0xffffffffLL ? 0xffffffffLL : runs)) * 1000.0 + 4000;
    }
    }
}

// ---- links

void circle_centre(double x1, double z1, double x2, double z2, double x3, double z3, double *cx, double *cz)
{
    double mx = (x1 + x2) / 2, mz = (z1 + z2) / 2;
    double nx = -(z2 - z1), nz = x2 - x1;           // the first pair's bisector direction
    double dx = x3 - x2, dz = z3 - z2;
    double ex = (x2 + x3) / 2 - mx, ez = (z2 + z3) / 2 - mz;
    double det = nx * dx + nz * dz;
    double t = fabs(det) <= 1e-6 ? k_far_parameter : (ex * dx + ez * dz) / det;
    *cx = mx + t * nx;
    *cz = mz + t * nz;
}

bool lines_link(const LineEntry *a, const LineEntry *b)
{
    if (a->count < 3 || b->count < 2)
        return false;
    const LinePoint *p = &a->points[a->count - 3];
    if (fabsf(p[2].speed) > fabsf(b->points[0].speed) + 15)
        return false;
    double cx, cz;
    circle_centre(p[0].x, p[0].z, p[1].x, p[1].z, p[2].x, p[2].z, &cx, &cz);
    double rho = hypot(p[2].x - cx, p[2].z - cz);
    double d0 = hypot(b->points[0].x - cx, b->points[0].z - cz);
    double d1 = hypot(b->points[1].x - cx, b->points[1].z - cz);
    double low = rho - 2.5 > 0 ? rho - 2.5 : 0;
    return d0 >= low && d0 <= rho + 2.5 && fabs(d0 - d1) <= 2;
}

int next_slot(int slot)
{
    int slots = lines_store_slots();
    if (slot < 0 || slot >= slots)
        return -1;
    return slot + 1 < slots ? slot + 1 : lines_store_first();
}

// Link tables between each slot and the next, kept from load and remade for a slot pair
// whenever either slot's lines change.
static struct {
    uint64_t *links;                // per slot, 45 masks: bit b of mask a when a links to b
    int *version_from, *version_to;
    int slots;
} g_links;

static const uint64_t *link_masks(int slot)
{
    int slots = lines_store_slots();
    if (g_links.slots != slots) {
        xfree(g_links.links);
        xfree(g_links.version_from);
        xfree(g_links.version_to);
        g_links.links = (uint64_t *)xcalloc((size_t)(slots ? slots : 1) * k_line_entries, sizeof(uint64_t));
        g_links.version_from = (int *)xmalloc((size_t)(slots ? slots : 1) * sizeof(int));
        g_links.version_to = (int *)xmalloc((size_t)(slots ? slots : 1) * sizeof(int));
        for (int s = 0; s < slots; s++)
            g_links.version_from[s] = g_links.version_to[s] = -1;
        g_links.slots = slots;
    }
    int to = next_slot(slot);
    uint64_t *m = &g_links.links[slot * k_line_entries];
    if (g_links.version_from[slot] != line_slot_version(slot) || g_links.version_to[slot] != line_slot_version(to)) {
        for (int a = 0; a < k_line_entries; a++) {
            m[a] = 0;
            const LineEntry *ea = line_entry(slot, a);
            for (int b = 0; ea->count >= 3 && b < k_line_entries; b++)
                if (lines_link(ea, line_entry(to, b)))
                    m[a] |= (uint64_t)1 << b;
        }
        g_links.version_from[slot] = line_slot_version(slot);
        g_links.version_to[slot] = line_slot_version(to);
    }
    return m;
}

void link_tables_free(void)
{
    xfree(g_links.links);
    xfree(g_links.version_from);
    xfree(g_links.version_to);
    g_links = {};
}

// ---- chains

// The entries of a slot that hold a line; returns their count.
static int filled_entries(int slot, int *out)
{
    int n = 0;
    for (int i = 0; i < k_line_entries; i++)
        if (line_entry(slot, i)->count > 0)
            out[n++] = i;
    return n;
}

void chain_costs(int s0, int n, int mode, double *cost, int *via)
{
    const int N = k_line_entries;
    for (int i = 0; i < N * N; i++)
        cost[i] = k_chain_none;
    int slot = section_slot(s0);
    if (slot < 0 || n < 1)
        return;
    int starts[k_line_entries], here[k_line_entries], there[k_line_entries];
    int n_starts = filled_entries(slot, starts);
    const uint64_t *links = link_masks(slot);
    int n_there = filled_entries(section_slot(s0 + 1), there);
    for (int ai = 0; ai < n_starts; ai++) {
        int a = starts[ai];
        double t = line_time(line_entry(slot, a), mode);
        for (int ki = 0; ki < n_there; ki++)
            if (links[a] >> there[ki] & 1)
                cost[a * N + there[ki]] = t;
    }
    double next[k_line_entries];
    double times[k_line_entries];
    for (int i = 1; i < n; i++) {
        int from = section_slot(s0 + i);
        int n_here = filled_entries(from, here);
        n_there = filled_entries(section_slot(s0 + i + 1), there);
        links = link_masks(from);
        for (int ki = 0; ki < n_here; ki++)
            times[here[ki]] = line_time(line_entry(from, here[ki]), mode);
        int *step = via ? &via[(i - 1) * N * N] : nullptr;
        if (step)
            for (int j = 0; j < N * N; j++)
                step[j] = -1;
        for (int ai = 0; ai < n_starts; ai++) {
            int a = starts[ai];
            double *row = &cost[a * N];
            for (int ti = 0; ti < n_there; ti++) {
                int k2 = there[ti];
                double best = k_chain_none;
                int took = -1;
                for (int hi = 0; hi < n_here; hi++) {
                    int k = here[hi];
                    if (!(links[k] >> k2 & 1) || !(row[k] < k_chain_none))
                        continue;
                    double c = times[k] + row[k];
                    if (c < k_chain_none && c < best) {
                        best = c;
                        took = k;
                    }
                }
                next[ti] = best;
                if (step)
                    step[a * N + k2] = took;
            }
            for (int k = 0; k < N; k++)
                row[k] = k_chain_none;
            for (int ti = 0; ti < n_there; ti++)
                row[there[ti]] = next[ti];
        }
    }
}

// Designates the slots of a trace from section s0 over n sections, from start entry a to
// target k in section s0 + n; slots of sections before a step that found no entry get none.
static void designate_trace(int mode, int s0, int n, int a, int k, const int *via)
{
    const int N = k_line_entries;
    bool broken = false;
    for (int i = n - 1; i >= 1; i--) {
        int took = broken ? -1 : via[(i - 1) * N * N + a * N + k];
        int slot = section_slot(s0 + i);
        broken |= took < 0;
        const LineEntry *e = took >= 0 ? line_entry(slot, took) : nullptr;
        set_designated_line(mode, slot, e && e->trials >= 5 ? e->identity : 0);
        k = took;
    }
    const LineEntry *e = broken ? nullptr : line_entry(section_slot(s0), a);
    set_designated_line(mode, section_slot(s0), e && e->trials >= 5 ? e->identity : 0);
}

void designate_lines(int verbosity)
{
    int first = lines_store_first(), normal = lines_store_normal();
    if (!lines_store_exists())
        return;
    const int N = k_line_entries;
    int longest = first > normal ? first : normal;
    double *cost = (double *)xmalloc(sizeof(double) * N * N);
    int *via = (int *)xmalloc(sizeof(int) * N * N * (size_t)(longest > 1 ? longest - 1 : 1));
    for (int mode = 0; mode < k_line_modes; mode++) {
        chain_costs(first, normal, mode, cost, via);
        int d = 0;
        for (int a = 1; a < N; a++)
            if (cost[a * N + a] < cost[d * N + d])
                d = a;
        double lap = cost[d * N + d];
        for (int s = 0; s < first + normal; s++)
            set_designated_line(mode, s, 0);
        if (lap < k_chain_none)
            designate_trace(mode, first, normal, d, d, via);
        chain_costs(0, first, mode, cost, via);
        int h = 0;
        for (int a = 1; a < N; a++)
            if (cost[a * N + d] < cost[h * N + d])
                h = a;
        double first_lap = cost[h * N + d];
        if (first_lap < k_chain_none && lap < k_chain_none)
            designate_trace(mode, 0, first, h, d, via);
        if (verbosity >= 1) {
            log_printf("First lap: %f\n", first_lap / 128);
            log_printf("Normal lap: %f\n", lap / 128);
        }
    }
    xfree(cost);
    xfree(via);
}

void section_scores(int section, int mode, int now, float scores[k_line_entries])
{
    const int N = k_line_entries;
    static double cost[k_line_entries * k_line_entries];
    chain_costs(section, k_score_sections, mode, cost, nullptr);
    double t[k_line_entries], f = k_chain_none;
    for (int i = 0; i < N; i++) {
        t[i] = k_chain_none;
        for (int k = 0; k < N; k++)
            t[i] = cost[i * N + k] < t[i] ? cost[i * N + k] : t[i];
        f = t[i] < f ? t[i] : f;
    }
    int slot = section_slot(section);
    int designated = mode < k_line_modes ? designated_line(mode, slot) : 0;
    double raise = clamp01((now / 128.0 - 40) * 0.05);
    for (int i = 0; i < N; i++) {
        const LineEntry *e = line_entry(slot, i);
        double score = !e || e->count <= 0 ? 0 : (t[i] == 0 ? 1 : f / t[i]);
        if (e && designated && e->identity == designated)
            score += (1 - score) * raise;
        if (slot == 0)
            score = 0.8 + 0.2 * score;
        scores[i] = (float)score;
    }
}

// ---- match and pick

float line_match(const LineEntry *line, const LinePoint *path, int count, float frame_x, float frame_y, float frame_z)
{
    if (line->count < 2)
        return 0;
    const LinePoint &first = line->points[0], &second = line->points[1];
    if (count < 3) {
        float d = sqrtf((first.x - frame_x) * (first.x - frame_x) + (first.y - frame_y) * (first.y - frame_y) +
                        (first.z - frame_z) * (first.z - frame_z));
        float c = (float)clamp01((100 - d) / 96);
        return 10 * c * c * c;
    }
    const LinePoint *p = &path[count - 3];
    double cx, cz;
    circle_centre(p[0].x, p[0].z, p[1].x, p[1].z, p[2].x, p[2].z, &cx, &cz);
    double rho = hypot(p[2].x - cx, p[2].z - cz);
    double v = hypot(first.x - cx, first.z - cz);
    double d2 = hypot(second.x - cx, second.z - cz);
    double a = clamp01((3 - fabs(d2 - v)) * 0.5) * clamp01((5 - fabs(rho - v)) * 0.2857143);
    double b = clamp01((15 + fabsf(first.speed) - fabsf(p[2].speed)) * 0.2);
    return (float)(a * a * a * b);
}

int choose_line(int slot, const float scores[k_line_entries], const float match[k_line_entries], int now,
                int verbosity)
{
    int best = -1;
    float best_value = 0;
    bool any = false;
    for (int i = 0; i < k_line_entries; i++) {
        LineEntry *e = line_entry(slot, i);
        if (!e)
            return -1;
        any |= e->count > 0;
        float fade = (float)clamp01((double)(now - e->last_picked) / k_pick_fade_tics);
        float value = fade * scores[i] + (e->count > 0 ? match[i] : 0);
        if (verbosity >= 1 && e->count > 0)
            log_printf("auto pilot: picking %d score = %f match = %f last_picked = %f\n", i, scores[i], match[i],
                       (now - e->last_picked) / 128.0);
        if (best < 0 || value > best_value) {
            best = i;
            best_value = value;
        }
    }
    if (!any)
        return -1;
    LineEntry *w = line_entry(slot, best);
    w->last_picked = now;
    if (w->count <= 0)
        return best;
    const LinePoint &end = w->points[w->count - 1];
    for (int i = 0; i < k_line_entries; i++) {
        LineEntry *e = line_entry(slot, i);
        if (e->count <= 0)
            continue;
        const LinePoint &q = e->points[e->count - 1];
        float dx = q.x - end.x, dy = q.y - end.y, dz = q.z - end.z;
        if (dx * dx + dy * dy + dz * dz <= k_picked_reach_sq)
            e->last_picked = now;
    }
    return best;
}
