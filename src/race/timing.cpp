#include "race/timing.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "common/messages.h"
#include "platform/log.h"
#include "render/scenery/scenery.h"
#include "vfs/vfs.h"

static const double k_pi = 3.14159265358979323846;
static const int k_tics_per_second = 128;
static const int k_line_size = 4096;


void timing_clear(Timing *t)
{
    for (int i = 0; i < t->gate_count; i++) {
        xfree(t->gates[i].model);
        xfree(t->gates[i].texture);
        xfree(t->gates[i].shape);
    }
    memset(t, 0, sizeof *t);
}

float wrap_heading(float h)
{
    if (!isfinite(h))
        return 0;
    double u = (h + k_pi) / (2 * k_pi);
    return (float)((u - floor(u)) * 2 * k_pi - k_pi);
}

bool timing_add_gate(Timing *t, float x, float y, float z, float heading, const char *model, const char *texture,
                     const char *shape)
{
    if (t->gate_count >= k_max_start_gates)
        return false;
    StartGate *g = &t->gates[t->gate_count++];
    g->x = x;
    g->y = y;
    g->z = z;
    g->heading = wrap_heading(heading);
    g->model = xstrdup(model ? model : k_gate_default_model);
    g->texture = xstrdup(texture ? texture : k_gate_default_texture);
    g->shape = xstrdup(shape ? shape : k_gate_default_shape);
    // the piece stands 3 ft behind the riders' line, facing the same way
    g->piece = scenery_create_gate_piece(g->model, g->texture, g->shape, x - 3 * sinf(g->heading), y,
                                         z - 3 * cosf(g->heading), g->heading);
    return true;
}

static bool first_word_is(const char *line, const char *word)
{
    char first[81];
    return sscanf(line, "%80s", first) == 1 && strcmp(first, word) == 0;
}

static bool blank(const char *line)
{
    for (; *line; line++)
        if (*line != ' ' && *line != '\t' && *line != '\r' && *line != '\n')
            return false;
    return true;
}

// Section 1: gate lines up to "checkpoints:". True when that line was reached.
static bool read_gates(Timing *t, DataFile *f)
{
    char *line = (char *)xmalloc(k_line_size);
    bool reached = false;
    while (data_gets(f, line, k_line_size)) {
        if (first_word_is(line, "checkpoints:")) {
            reached = true;
            break;
        }
        if (blank(line))
            continue;
        float x, y, z, h;
        char names[3][1024];
        int n = sscanf(line, " [ %f %f %f ] %f %1023s %1023s %1023s", &x, &y, &z, &h, names[0], names[1], names[2]);
        if (n < 4 || !isfinite(x) || !isfinite(y) || !isfinite(z) || !isfinite(h))
            break;
        timing_add_gate(t, x, y, z, h, n > 4 ? names[0] : nullptr, n > 5 ? names[1] : nullptr,
                        n > 6 ? names[2] : nullptr);
    }
    xfree(line);
    return reached;
}

static void read_checkpoints(Timing *t, DataFile *f)
{
    for (;;) {
        float r, p[3], d[3];
        if (data_scanf(f, "%f [ %f %f %f ] [ %f %f %f ] ", &r, &p[0], &p[1], &p[2], &d[0], &d[1], &d[2]) != 7)
            return;
        if (t->checkpoint_count >= k_max_checkpoints)
            continue;
        Checkpoint *c = &t->checkpoints[t->checkpoint_count++];
        c->radius = r;
        c->centre = v3(p[0], p[1], p[2]);
        c->direction = v3(d[0], d[1], d[2]);
    }
}

// Turns a file value into a lap-order entry; -1 when it names no checkpoint.
static int lap_entry(int v, int checkpoints, bool *counts)
{
    *counts = true;
    if (v < 0)
        return checkpoints > 0 ? 0 : -1;
    int last = checkpoints - 1;
    if (v < k_non_counting)
        return v < last ? v : last;
    int c = v % k_non_counting;
    c = c < last ? c : last;
    if (c < 0)
        return -1;
    *counts = false;
    return c + k_non_counting;
}

// Integers after a section word; returns false when an entry names no checkpoint.
static bool read_lap(Timing *t, DataFile *f, const char *word, int *list, int *count, int *counting)
{
    char first[81];
    if (data_scanf(f, " %80s", first) != 1 || strcmp(first, word) != 0)
        return true;
    bool ok = true;
    int v;
    while (data_scanf(f, "%d", &v) == 1) {
        if (*count >= k_max_lap_entries)
            continue;
        bool counts;
        int e = lap_entry(v, t->checkpoint_count, &counts);
        ok &= e >= 0;
        list[(*count)++] = e;
        *counting += counts;
    }
    return ok;
}

bool timing_parse(Timing *t, DataFile *f, int verbosity)
{
    timing_clear(t);
    if (!f)
        return false;
    char first[81];
    if (data_scanf(f, " %80s", first) != 1)
        return false;
    bool checkpoints = strcmp(first, "checkpoints:") == 0;
    if (strcmp(first, "startinggate:") == 0) {
        char rest[256];
        data_gets(f, rest, sizeof rest);     // the end of the "startinggate:" line
        checkpoints = read_gates(t, f);
    }
    if (!checkpoints)
        return false;
    read_checkpoints(t, f);
    bool entries_ok = read_lap(t, f, "firstlap:", t->first, &t->first_count, &t->first_counting);
    entries_ok &= read_lap(t, f, "normallap:", t->normal, &t->normal_count, &t->normal_counting);
    t->valid = entries_ok && t->checkpoint_count > 0 && t->first_count > 2 && t->normal_count > 2 &&
               t->first_counting > 2 && t->normal_counting > 2;
    if (t->valid && verbosity >= 1)
        log_printf("Found %d timing gates, first lap has %d gates, normal lap has %d\n", t->checkpoint_count,
                   t->first_count, t->normal_count);
    return t->valid;
}

static bool default_names(const StartGate *g)
{
    return g->model && g->texture && g->shape && strcmp(g->model, k_gate_default_model) == 0 &&
           strcmp(g->texture, k_gate_default_texture) == 0 && strcmp(g->shape, k_gate_default_shape) == 0;
}

bool timing_write(const Timing *t, DataFile *f)
{
    bool ok = true;
    if (t->gate_count > 0) {
        ok &= data_puts(f, "startinggate:\n") >= 0;
        for (int i = 0; i < t->gate_count; i++) {
            const StartGate *g = &t->gates[i];
            ok &= data_printf(f, "[%f %f %f] %f", g->x, g->y, g->z, g->heading) >= 0;
            if (default_names(g))
                ok &= data_puts(f, "\n") >= 0;
            else
                ok &= data_printf(f, " %s %s %s\n", g->model ? g->model : "null", g->texture ? g->texture : "null",
                                  g->shape ? g->shape : "null") >= 0;
        }
    }
    if (t->checkpoint_count > 0) {
        ok &= data_puts(f, "checkpoints:\n") >= 0;
        for (int i = 0; i < t->checkpoint_count; i++) {
            const Checkpoint *c = &t->checkpoints[i];
            ok &= data_printf(f, "%f [%f %f %f] [%f %f %f]\n", c->radius, c->centre.x, c->centre.y, c->centre.z,
                              c->direction.x, c->direction.y, c->direction.z) >= 0;
        }
    }
    const int *lists[2] = { t->first, t->normal };
    const int counts[2] = { t->first_count, t->normal_count };
    const char *words[2] = { "firstlap:\n", "normallap:\n" };
    for (int l = 0; l < 2; l++) {
        if (counts[l] <= 0)
            continue;
        ok &= data_puts(f, words[l]) >= 0;
        for (int i = 0; i < counts[l]; i++)
            ok &= data_printf(f, "%d ", lists[l][i]) >= 0;
        ok &= data_puts(f, "\n") >= 0;
    }
    return ok && data_flush(f);
}

bool timing_save(const Timing *t, const char *folder)
{
    char name[1100];
    snprintf(name, sizeof name, "@%.1000s/timing_gates", folder ? folder : "");
    DataFile *f = open_data_file(name, "w");
    if (!f) {
        post_message("Can't open 'timing_gates'\n");
        return false;
    }
    bool ok = timing_write(t, f);
    close_data_file(f);
    return ok;
}

// ---- positions and laps

int position_entry(const Timing *t, int k)
{
    if (!t->valid || k < 0)
        return -1;
    if (k < t->first_count)
        return t->first[k];
    return t->normal[(k - t->first_count) % t->normal_count];
}

int position_checkpoint(const Timing *t, int k)
{
    int e = position_entry(t, k);
    return e >= k_non_counting ? e - k_non_counting : e;
}

bool position_ends_lap(const Timing *t, int k)
{
    if (!t->valid)
        return false;
    int from_end = k - t->first_count + 1;
    return from_end >= 0 && from_end % t->normal_count == 0;
}

int lap_end_position(const Timing *t, int lap)
{
    return t->first_count - 1 + (lap - 1) * t->normal_count;
}

int laps_completed(const Timing *t, int positions)
{
    if (t->normal_count <= 0 || positions < t->first_count)
        return 0;
    return (positions - t->first_count) / t->normal_count + 1;
}

bool checkpoint_inside(const Checkpoint *c, float x, float z)
{
    float dx = x - c->centre.x, dz = z - c->centre.z;
    return dx * dx + dz * dz <= c->radius * c->radius && dx * c->direction.x + dz * c->direction.z >= 0;
}

// ---- pass lists

int gate_pass_time(const GatePasses *p, int k)
{
    return p && k >= 0 && k < p->count ? p->tics[k] : -1;
}

void set_gate_pass(GatePasses *p, int k, int32_t tic)
{
    if (k < 0)
        return;
    if (k >= p->room) {
        int room = p->room ? p->room : 64;
        while (room <= k)
            room *= 2;
        p->tics = (int32_t *)xrealloc(p->tics, (size_t)room * sizeof(int32_t));
        p->room = room;
    }
    while (p->count <= k)
        p->tics[p->count++] = -1;
    p->tics[k] = tic;
}

void truncate_passes(GatePasses *p, int n)
{
    if (n >= 0 && n < p->count)
        p->count = n;
}

void passes_free(GatePasses *p)
{
    xfree(p->tics);
    memset(p, 0, sizeof *p);
}

int gate_passing_step(const Timing *t, GatePasses *p, float x, float z, int32_t race_tic)
{
    if (!t->valid)
        return -1;
    const int offsets[5] = { -3, -2, 0, 1, 2 };
    bool missed = false;
    for (int offset : offsets) {
        int q = p->next + offset;
        if (q < 0)
            continue;
        bool passed = gate_pass_time(p, q) >= 0;
        missed |= !passed;
        if (!checkpoint_inside(&t->checkpoints[position_checkpoint(t, q)], x, z)) {
            if (position_ends_lap(t, q) && !passed)
                return -1;      // a lap end is never skipped
            continue;
        }
        if (q >= p->next || missed) {
            set_gate_pass(p, q, race_tic);
            p->next = q + 1;
            return q;
        }
    }
    return -1;
}

// ---- times

int split_time(const GatePasses *p, int from, int to)
{
    int a = gate_pass_time(p, from), b = gate_pass_time(p, to);
    return a < 0 || b < 0 ? -1 : b - a;
}

int lap_time_tics(const Timing *t, const GatePasses *p, int lap, int32_t gate_drop_tic)
{
    if (!t->valid || lap < 1)
        return -1;
    int end = gate_pass_time(p, lap_end_position(t, lap));
    if (end < 0)
        return -1;
    if (lap == 1)
        return end - gate_drop_tic;
    return split_time(p, lap_end_position(t, lap - 1), lap_end_position(t, lap));
}

// Pass tic of position g, with the start of the list counting as time 0.
static int pass_or_start(const GatePasses *p, int g)
{
    return g < 0 ? 0 : gate_pass_time(p, g);
}

// The time another rider took from g to j with every position between passed; -1 otherwise.
static int complete_stretch(const GatePasses *p, int g, int j)
{
    for (int k = g < 0 ? 0 : g; k <= j; k++)
        if (gate_pass_time(p, k) < 0)
            return -1;
    return gate_pass_time(p, j) - pass_or_start(p, g);
}

static double reference_time(const Timing *t, int g, int j, const GatePasses *const *others, int n)
{
    double sum = 0;
    int riders = 0;
    for (int r = 0; r < n; r++) {
        const GatePasses *o = others[r];
        if (!o)
            continue;
        if (g < t->first_count) {
            int time = complete_stretch(o, g, j);
            if (time >= 0) {
                sum += time;
                riders++;
            }
            continue;
        }
        // the same stretch in every normal lap the rider has covered
        int first_k = -((g - t->first_count) / t->normal_count);
        double lap_sum = 0;
        int laps = 0;
        for (int k = first_k; j + k * t->normal_count < o->count; k++) {
            int time = complete_stretch(o, g + k * t->normal_count, j + k * t->normal_count);
            if (time >= 0) {
                lap_sum += time;
                laps++;
            }
        }
        if (laps > 0) {
            sum += lap_sum / laps;
            riders++;
        }
    }
    return riders > 0 ? sum / riders : 60.0 * k_tics_per_second;
}

double cutting_penalty(const Timing *t, const GatePasses *bike, const GatePasses *const *others, int other_count)
{
    if (!t->valid || !bike)
        return 0;
    double penalty = 0;
    int run = 0;
    for (int k = 0; k < bike->count; k++) {
        if (bike->tics[k] < 0) {
            run++;
            continue;
        }
        if (run > 0) {
            int g = k - run - 1;
            int own = bike->tics[k] - pass_or_start(bike, g);
            double limit = reference_time(t, g, k, others, other_count) + k_tics_per_second;
            if (own < limit)
                penalty += limit - own;
        }
        run = 0;
    }
    return penalty;
}

// ---- running order

static bool before(const RunningEntry &a, const RunningEntry &b)
{
    if (a.positions != b.positions)
        return a.positions > b.positions;
    if (a.last_tic != b.last_tic)
        return a.last_tic < b.last_tic;
    return a.slot < b.slot;
}

static void sift_down(RunningEntry *e, int root, int n)
{
    for (;;) {
        int child = 2 * root + 1;
        if (child >= n)
            return;
        // a heap with the last in order on top, so the sorted array runs first to last
        if (child + 1 < n && before(e[child], e[child + 1]))
            child++;
        if (!before(e[root], e[child]))
            return;
        RunningEntry swap = e[root];
        e[root] = e[child];
        e[child] = swap;
        root = child;
    }
}

void running_order_sort(RunningEntry *entries, int n)
{
    for (int i = n / 2 - 1; i >= 0; i--)
        sift_down(entries, i, n);
    for (int end = n - 1; end > 0; end--) {
        RunningEntry swap = entries[0];
        entries[0] = entries[end];
        entries[end] = swap;
        sift_down(entries, 0, end);
    }
}

int running_order_build(const GatePasses *const *passes, int slots, RunningEntry *out)
{
    int n = 0;
    for (int s = 0; s < slots; s++) {
        if (!passes[s])
            continue;
        out[n].slot = s;
        out[n].positions = passes[s]->count;
        out[n].last_tic = passes[s]->count > 0 ? passes[s]->tics[passes[s]->count - 1] : -1;
        n++;
    }
    running_order_sort(out, n);
    return n;
}
