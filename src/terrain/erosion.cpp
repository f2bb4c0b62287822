#include "terrain/erosion.h"

#include <limits.h>
#include <math.h>
#include <string.h>

#include "platform/log.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

static const double k_bound_margin = 1.0 / 16;     // feet added to each side of the difference bounds
static const float k_window = 64;                  // feet a record's differences may spread
static const float k_min_push2 = 1.0f / 1024;      // squared push below which a wheel is idle
static const float k_max_radius = 64;              // feet; wider digs would loop over the whole field
static const int64_t k_no_deadline = INT32_MAX;

static struct {
    ErodePoint queue[k_erode_queue_points];
    int head, length;
    int64_t deadline;               // points near the rider wait until this tic
    bool full_logged;               // "Erode queue full!" once per run
    ErodeRecordHooks hooks;
    void (*tap)(const uint8_t *record, int length);
    ErodeStats stats;
} g_erode = { {}, 0, 0, k_no_deadline, false, {}, nullptr, {} };

static const ErodeParams *params_at(const Terrain *t, float x, float z)
{
    static TileType fallback;
    static bool fallback_set;
    if (const TileType *tile = tile_type(t, tile_at(t, x, z)))
        return &tile->erode;
    if (!fallback_set) {
        tile_set_defaults(&fallback);
        fallback_set = true;
    }
    return &fallback.erode;
}

// ---- the record: little-endian fields, never struct copies ----

static void put16(uint8_t *p, unsigned v) { p[0] = (uint8_t)v, p[1] = (uint8_t)(v >> 8); }
static void put24(uint8_t *p, unsigned v) { p[0] = (uint8_t)v, p[1] = (uint8_t)(v >> 8), p[2] = (uint8_t)(v >> 16); }
static unsigned get16(const uint8_t *p) { return p[0] | (unsigned)p[1] << 8; }
static unsigned get24(const uint8_t *p) { return p[0] | (unsigned)p[1] << 8 | (unsigned)p[2] << 16; }

static unsigned bound_code(double v)
{
    if (!(v >= -1024))
        return 0;
    if (v > 1024)
        v = 1024;
    return (unsigned)floor((v + 1024) * 65535 / 2048 + 0.5);
}

static double bound_value(unsigned code) { return code / 65535.0 * 2048 - 1024; }

static unsigned position_code(float x, float world_size)
{
    double v = x > 0 ? (x < world_size ? x : world_size) : 0;     // NaN: 0
    return world_size > 0 ? (unsigned)floor(v / world_size * 16777215 + 0.5) : 0;
}

static double position_value(unsigned code, float world_size) { return code / 16777215.0 * world_size; }

static unsigned difference_code(double diff, double lower, double upper)
{
    if (!(diff >= lower) || !(upper > lower))
        return 0;
    if (diff > upper)
        diff = upper;
    return (unsigned)floor((diff - lower) * 255 / (upper - lower) + 0.5);
}

static double difference_value(unsigned code, double lower, double upper) { return lower + code / 255.0 * (upper - lower); }

static unsigned direction_code(float c)
{
    c = c > -1 ? (c < 1 ? c : 1) : -1;     // NaN: -1
    int q = (int)floorf((c + 1) * 32);
    return q > 63 ? 63 : (unsigned)q;
}

static float direction_value(unsigned q)
{
    float f = q / 64.0f;
    return (f < 1 ? f : 1) * 2 - 1;
}

static void put_point_bytes(uint8_t *p, const ErodePoint &q)
{
    unsigned count = q.count < 0 ? 0 : (q.count > 15 ? 15 : (unsigned)q.count);
    p[0] = (uint8_t)((count & 3) | direction_code(q.dx) << 2);
    p[1] = (uint8_t)((count >> 2 & 3) | direction_code(q.dz) << 2);
}

// Reads a record's points in order; the packer walks the same decoded positions.
struct RecordReader {
    const uint8_t *record;
    int points, next;
    double lower[2], upper[2], position[2];
};

static int reader_begin(RecordReader *r, const uint8_t *record, int length, float world_size)
{
    if (!record || length < k_erode_record_header || record[0] != k_erode_record_version)
        return 0;
    r->record = record;
    r->points = 1 + (length - k_erode_record_header) / 4;
    r->next = 0;
    r->lower[0] = bound_value(get16(record + 1));
    r->lower[1] = bound_value(get16(record + 3));
    r->upper[0] = bound_value(get16(record + 5));
    r->upper[1] = bound_value(get16(record + 7));
    r->position[0] = position_value(get24(record + 9), world_size);
    r->position[1] = position_value(get24(record + 12), world_size);
    return r->points;
}

static bool reader_next(RecordReader *r, ErodePoint *q)
{
    if (r->next >= r->points)
        return false;
    const uint8_t *p = r->record + (r->next == 0 ? 15 : 17 + 4 * (r->next - 1) + 2);
    if (r->next > 0) {
        for (int c = 0; c < 2; c++)
            r->position[c] += difference_value(p[c - 2], r->lower[c], r->upper[c]);
    }
    q->x = (float)r->position[0];
    q->z = (float)r->position[1];
    q->dx = direction_value(p[0] >> 2);
    q->dz = direction_value(p[1] >> 2);
    q->count = (p[0] & 3) | (p[1] & 3) << 2;
    r->next++;
    return true;
}

int erode_pack(const ErodePoint *points, int k, float world_size, uint8_t *out)
{
    if (!points || !out || k < 1 || k > k_erode_buffer_points)
        return 0;
    float low[2] = { 0, 0 }, high[2] = { 0, 0 };
    for (int i = 1; i < k; i++) {
        float d[2] = { points[i].x - points[i - 1].x, points[i].z - points[i - 1].z };
        for (int c = 0; c < 2; c++) {
            if (i == 1 || d[c] < low[c])
                low[c] = d[c];
            if (i == 1 || d[c] > high[c])
                high[c] = d[c];
        }
    }
    out[0] = k_erode_record_version;
    put16(out + 1, bound_code(low[0] - k_bound_margin));
    put16(out + 3, bound_code(low[1] - k_bound_margin));
    put16(out + 5, bound_code(high[0] + k_bound_margin));
    put16(out + 7, bound_code(high[1] + k_bound_margin));
    put24(out + 9, position_code(points[0].x, world_size));
    put24(out + 12, position_code(points[0].z, world_size));
    put_point_bytes(out + 15, points[0]);
    int length = k_erode_record_header + 4 * (k - 1);
    RecordReader r;
    reader_begin(&r, out, k_erode_record_header, world_size);
    for (int i = 1; i < k; i++) {
        uint8_t *p = out + 17 + 4 * (i - 1);
        // From the previous point's decoded position, so that rounding never accumulates.
        double target[2] = { points[i].x, points[i].z };
        for (int c = 0; c < 2; c++) {
            unsigned code = difference_code(target[c] - r.position[c], r.lower[c], r.upper[c]);
            p[c] = (uint8_t)code;
            r.position[c] += difference_value(code, r.lower[c], r.upper[c]);
        }
        put_point_bytes(p + 2, points[i]);
    }
    return length;
}

int erode_decode(const uint8_t *record, int length, float world_size, ErodePoint *out, int max)
{
    RecordReader r;
    int k = reader_begin(&r, record, length, world_size);
    ErodePoint q;
    for (int i = 0; i < max && out && reader_next(&r, &q); i++)
        out[i] = q;
    return k;
}

// ---- the queue ----

static void queue_push(const ErodePoint &q)
{
    if (g_erode.length == k_erode_queue_points) {
        if (!g_erode.full_logged)
            log_printf("Erode queue full!\n");
        g_erode.full_logged = true;
        g_erode.stats.points_dropped++;
        return;
    }
    g_erode.queue[(g_erode.head + g_erode.length) & (k_erode_queue_points - 1)] = q;
    g_erode.length++;
    g_erode.stats.points_queued++;
}

void erode_set_record_hooks(const ErodeRecordHooks *hooks)
{
    if (hooks)
        g_erode.hooks = *hooks;
    else
        g_erode.hooks = {};
}

void erode_set_record_tap(void (*tap)(const uint8_t *record, int length)) { g_erode.tap = tap; }

int erode_queue_record(const Terrain *t, const uint8_t *record, int length)
{
    RecordReader r;
    if (!t || !reader_begin(&r, record, length, t->world_size))
        return 0;
    long long before = g_erode.stats.points_queued;
    ErodePoint q;
    while (reader_next(&r, &q))
        queue_push(q);
    return (int)(g_erode.stats.points_queued - before);
}

void erode_send_record(const Terrain *t, const uint8_t *record, int length)
{
    if (!record || length < k_erode_record_header)
        return;
    if (g_erode.tap)
        g_erode.tap(record, length);
    g_erode.stats.records_sent++;
    g_erode.stats.points_sent += 1 + (length - k_erode_record_header) / 4;
    if (g_erode.hooks.record_demo)
        g_erode.hooks.record_demo(record, length);
    if (g_erode.hooks.send_to_server && g_erode.hooks.send_to_server(record, length))
        return;
    erode_queue_record(t, record, length);
}

void erode_reset(void)
{
    g_erode.head = g_erode.length = 0;
    g_erode.deadline = k_no_deadline;
}

int erode_queue_length(void) { return g_erode.length; }
const ErodeStats *erode_stats(void) { return &g_erode.stats; }

void erode_reset_for_tests(void)
{
    erode_reset();
    g_erode.full_logged = false;
    g_erode.stats = {};
}

// ---- the producer ----

void erode_producer_clear(ErodeProducer *p) { memset(p, 0, sizeof *p); }

static void send_buffer(ErodeProducer *p, const Terrain *t, int k)
{
    uint8_t record[k_erode_record_max];
    int length = erode_pack(p->buffer, k, t->world_size, record);
    if (length > 0)
        erode_send_record(t, record, length);
}

// The accumulated samples become one point of the buffer.
static void make_point(ErodeProducer *p, const Terrain *t, int32_t tic)
{
    if (p->samples == 0)
        return;
    if (p->points == k_erode_buffer_points) {
        send_buffer(p, t, p->points);
        p->points = 0;
    }
    double n = p->samples;
    ErodePoint q = { (float)(p->sum_x / n), (float)(p->sum_z / n), (float)(p->sum_dx / n), (float)(p->sum_dz / n),
                     p->samples };
    if (p->points > 0) {
        const ErodePoint &last = p->buffer[p->points - 1];
        float dx = q.x - last.x, dz = q.z - last.z;
        if (p->points == 1) {
            p->min_dx = p->max_dx = dx;
            p->min_dz = p->max_dz = dz;
        } else {
            p->min_dx = fminf(p->min_dx, dx), p->max_dx = fmaxf(p->max_dx, dx);
            p->min_dz = fminf(p->min_dz, dz), p->max_dz = fmaxf(p->max_dz, dz);
        }
        // A record's four-byte points reach 64 ft at most.
        if (p->max_dx - p->min_dx > k_window || p->max_dz - p->min_dz > k_window) {
            send_buffer(p, t, p->points);
            p->points = 0;
            p->min_dx = p->max_dx = p->min_dz = p->max_dz = 0;
        }
    }
    p->buffer[p->points++] = q;
    p->last_tic = tic;
}

static bool ticks_past(int32_t tic, int32_t since, int tics)
{
    return (int32_t)((uint32_t)tic - (uint32_t)since) > tics;
}

void erode_flush_idle(ErodeProducer *p, const Terrain *t, int32_t tic)
{
    // Samples still accumulating count as well: a short skid leaves its mark.
    if ((p->points == 0 && p->samples == 0) || !ticks_past(tic, p->last_tic, k_erode_idle_tics))
        return;
    make_point(p, t, tic);
    if (p->points > 0)
        send_buffer(p, t, p->points);
    erode_producer_clear(p);
}

bool erode_sample(ErodeProducer *p, const Terrain *t, Vec3 point, Vec3 velocity, Vec3 slip, Vec3 force, bool front,
                  int32_t tic, float push[2])
{
    if (push)
        push[0] = push[1] = 0;
    if (!p || !t || !t->heights)
        return false;
    if (!isfinite(point.x) || !isfinite(point.z)) {
        erode_flush_idle(p, t, tic);
        return false;
    }
    const ErodeParams *e = params_at(t, point.x, point.z);
    Vec3 n = terrain_triangle_normal(t, point.x, point.z);
    float speed = v3_length(velocity);
    float h = sqrtf(velocity.x * velocity.x + velocity.z * velocity.z);
    // Without horizontal speed there is no direction of travel and no lateral part.
    float hx = h > 0 ? velocity.x / h : 0, hz = h > 0 ? velocity.z / h : 0;
    float sigma = e->slip_base_scale + (e->slip_scale - e->slip_base_scale) * tile_ramp(v3_length(slip), e->slip_lower,
                                                                                        e->slip_upper);
    float kappa = tile_ramp(speed, e->off_speed, e->on_speed);
    float nn = v3_dot(n, n);
    float along_normal = nn > 0 ? v3_dot(force, n) / nn : 0;
    float gx = kappa * sigma * (force.x - e->project_to_ground * along_normal * n.x);
    float gz = kappa * sigma * (force.z - e->project_to_ground * along_normal * n.z);
    float lateral = (e->lateral_scale - 1) * (gx * -hz + gz * hx);
    gx += lateral * -hz;
    gz += lateral * hx;
    if (front) {
        gx *= e->front_scale;
        gz *= e->front_scale;
    }
    float r2 = gx * gx + gz * gz;
    if (!isfinite(r2)) {
        erode_flush_idle(p, t, tic);
        return false;
    }
    if (push)
        push[0] = gx, push[1] = gz;
    if (r2 <= e->lower * e->lower || r2 <= k_min_push2) {
        erode_flush_idle(p, t, tic);
        return false;
    }
    float r = sqrtf(r2);
    float scale = (0.125f + 0.875f * tile_ramp(r, e->lower, e->upper)) / r;
    float dx = gx * scale, dz = gz * scale;

    float step = 0;
    if (p->samples > 0) {
        float ax = point.x - p->last_x, az = point.z - p->last_z;
        step = sqrtf(ax * ax + az * az);
    }
    if (p->samples < k_erode_accumulator_samples && p->distance + step < 1) {
        if (p->samples == 0 && p->points == 0)
            p->last_tic = tic;
        p->sum_x += point.x, p->sum_z += point.z;
        p->sum_dx += dx, p->sum_dz += dz;
        p->samples++;
        p->distance += step;
    } else {
        float travelled = p->distance + step;
        bool full = p->samples == k_erode_accumulator_samples;
        make_point(p, t, tic);
        p->sum_x = point.x, p->sum_z = point.z;
        p->sum_dx = dx, p->sum_dz = dz;
        p->samples = 1;
        p->distance = full || travelled >= 2 ? 0 : travelled - 1;
    }
    p->last_x = point.x;
    p->last_z = point.z;
    return true;
}

// ---- the consumer ----

static float clamp_radius(float r) { return r > 0 ? (r < k_max_radius ? r : k_max_radius) : 0; }

// Outer and inner scale of the erode-limit table at rut depth S.
static void limit_scales(const ErodeParams *e, double S, double *outer, double *inner)
{
    int k = e->limit_count < k_max_erode_limits ? e->limit_count : k_max_erode_limits;
    if (k < 1) {
        *outer = *inner = 1;
        return;
    }
    double at = 0;
    if (k > 1 && S >= e->limit_depth[0]) {
        int i = 1;
        while (i < k && !(e->limit_depth[i] > S))
            i++;
        // depths strictly increase (the loader drops any other row), so the step is positive
        at = i < k ? (i - 1) + (S - e->limit_depth[i - 1]) / (e->limit_depth[i] - e->limit_depth[i - 1]) : k - 1;
    }
    int row = (int)floor(at);
    double f = at - row;
    int next = row + 1 < k ? row + 1 : k - 1;
    *outer = e->limit_outer[row] + f * (e->limit_outer[next] - e->limit_outer[row]);
    *inner = e->limit_inner[row] + f * (e->limit_inner[next] - e->limit_inner[row]);
}

static void apply_point(Terrain *t, const ErodePoint &q, double strength)
{
    if (!isfinite(q.x) || !isfinite(q.z) || !isfinite(q.dx) || !isfinite(q.dz))
        return;
    const ErodeParams *e = params_at(t, q.x, q.z);
    float u = terrain_height(t, q.x, q.z);
    double v = sqrt((double)q.dx * q.dx + (double)q.dz * q.dz);
    double reach = (v - 0.125) * 8 / 7;
    double w = (reach > 0 ? (reach < 1 ? reach : 1) : 0) * e->displacement;
    double deposit_x = q.x, deposit_z = q.z;
    if (v > 0) {
        deposit_x -= q.dx / v * w;
        deposit_z -= q.dz / v * w;
    }
    float b = terrain_height(t, (float)deposit_x, (float)deposit_z);
    double rise = (double)b - u;
    if (rise > e->max_slope * w || rise < e->min_slope * w)
        return;
    double s = strength;
    if (b < u && w > 0)
        s *= 1 + e->downhill_scale * (u - b) / w;
    double outer, inner;
    limit_scales(e, (double)terrain_initial_height(t, q.x, q.z) - u, &outer, &inner);
    float radius = clamp_radius(e->radius);
    float a1 = terrain_raise(t, q.x, q.z, radius, (float)-(q.count * outer * e->depth * s));
    float a2 = terrain_raise(t, q.x, q.z, clamp_radius(e->inner_radius), (float)-(inner * e->inner_depth * s));
    terrain_deposit(t, (float)deposit_x, (float)deposit_z, radius, -(a1 + a2));
}

void erode_apply(Terrain *t, const float *rider, int rate, int32_t tic)
{
    if (!t || !t->heights || rate <= 0)
        return;
    if (g_erode.deadline < tic || g_erode.length > k_erode_defer_budget) {
        rider = nullptr;
        g_erode.deadline = k_no_deadline;
    }
    int length = g_erode.length;
    int budget = length / 512 + (length > k_erode_defer_budget ? (length - k_erode_defer_budget) / 64 : 0) + 4;
    // The rate is a percentage in 1/1024 steps; a sample at 100 % digs 100 / 2048 ft.
    double strength = rate / 1024.0 / 2048.0;
    for (; budget > 0 && g_erode.length > 0; budget--) {
        const ErodePoint &q = g_erode.queue[g_erode.head];
        if (rider) {
            // The ground does not change under the rider's wheels, for a while.
            double dx = (double)q.x - rider[0], dz = (double)q.z - rider[1];
            if (dx * dx + dz * dz < 100) {
                int64_t until = (int64_t)tic + k_erode_defer_tics;
                if (until < g_erode.deadline)
                    g_erode.deadline = until;
                break;
            }
        }
        ErodePoint point = q;
        g_erode.head = (g_erode.head + 1) & (k_erode_queue_points - 1);
        g_erode.length--;
        g_erode.stats.points_applied++;
        apply_point(t, point, strength);
        g_erode.deadline = k_no_deadline;
    }
}
