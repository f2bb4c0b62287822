// Centre lines of the generated tracks: the closed lap and the open start straight, sampled
// about every foot, with the buckets that find the sample nearest to a point.
#include <math.h>
#include <string.h>

#include "common/mem.h"
#include "datagen.h"

static const float k_pi = 3.14159265f;
static const int k_per_segment = 400;          // dense points per spline segment
static const int k_curvature_span = 8;         // samples either side: the spline's small wiggles make no berms
static const int k_bucket_size = 32;

static Point2 catmull_rom(Point2 a, Point2 b, Point2 c, Point2 d, float t)
{
    float t2 = t * t, t3 = t2 * t;
    Point2 p;
    p.x = 0.5f * (2 * b.x + (-a.x + c.x) * t + (2 * a.x - 5 * b.x + 4 * c.x - d.x) * t2 + (-a.x + 3 * b.x - 3 * c.x + d.x) * t3);
    p.z = 0.5f * (2 * b.z + (-a.z + c.z) * t + (2 * a.z - 5 * b.z + 4 * c.z - d.z) * t2 + (-a.z + 3 * b.z - 3 * c.z + d.z) * t3);
    return p;
}

// A control point of the spline; an open line mirrors its ends so that it starts and ends on them.
static Point2 control(const Point2 *points, int count, bool closed, int k)
{
    if (closed)
        return points[((k % count) + count) % count];
    if (k < 0)
        return { 2 * points[0].x - points[1].x, 2 * points[0].z - points[1].z };
    if (k >= count)
        return { 2 * points[count - 1].x - points[count - 2].x, 2 * points[count - 1].z - points[count - 2].z };
    return points[k];
}

static int wrap(const Line *line, int i)
{
    if (line->closed)
        return ((i % line->n) + line->n) % line->n;
    return i < 0 ? 0 : (i >= line->n ? line->n - 1 : i);
}

// Unit tangents from the neighbours and curvature from the turn of the heading.
static void finish_line(Line *line)
{
    int n = line->n;
    float *heading = (float *)xmalloc(n * sizeof(float));
    for (int i = 0; i < n; i++) {
        const Centre &a = line->c[wrap(line, i - 1)], &b = line->c[wrap(line, i + 1)];
        float dx = b.x - a.x, dz = b.z - a.z, len = hypotf(dx, dz);
        line->c[i].tx = dx / len;
        line->c[i].tz = dz / len;
        heading[i] = atan2f(dz, dx);
    }
    for (int i = 0; i < n; i++) {
        int a = wrap(line, i - k_curvature_span), b = wrap(line, i + k_curvature_span);
        float turn = heading[b] - heading[a];
        while (turn > k_pi)
            turn -= 2 * k_pi;
        while (turn < -k_pi)
            turn += 2 * k_pi;
        line->c[i].curvature = b > a || line->closed ? turn / (((b - a + n) % n) * line->step) : 0;
    }
    xfree(heading);
}

void line_from_spline(Line *line, const Point2 *points, int count, bool closed)
{
    memset(line, 0, sizeof *line);
    line->closed = closed;
    int segments = closed ? count : count - 1;
    int dense_n = segments * k_per_segment;
    Point2 *dense = (Point2 *)xmalloc((dense_n + 1) * sizeof(Point2));
    float *dense_s = (float *)xmalloc((dense_n + 1) * sizeof(float));
    for (int seg = 0; seg < segments; seg++) {
        Point2 a = control(points, count, closed, seg - 1), b = control(points, count, closed, seg);
        Point2 c = control(points, count, closed, seg + 1), d = control(points, count, closed, seg + 2);
        for (int k = 0; k < k_per_segment; k++)
            dense[seg * k_per_segment + k] = catmull_rom(a, b, c, d, k / (float)k_per_segment);
    }
    dense[dense_n] = closed ? dense[0] : points[count - 1];
    dense_s[0] = 0;
    for (int k = 1; k <= dense_n; k++)
        dense_s[k] = dense_s[k - 1] + hypotf(dense[k].x - dense[k - 1].x, dense[k].z - dense[k - 1].z);
    line->length = dense_s[dense_n];
    // a closed line's last sample is one step before its first
    line->n = closed ? (int)line->length : (int)line->length + 1;
    line->step = line->length / (closed ? line->n : line->n - 1);
    line->c = (Centre *)xcalloc(line->n, sizeof(Centre));
    int k = 0;
    for (int i = 0; i < line->n; i++) {
        float s = i * line->step;
        while (k < dense_n - 1 && dense_s[k + 1] < s)
            k++;
        float f = fminf((s - dense_s[k]) / fmaxf(dense_s[k + 1] - dense_s[k], 1e-6f), 1.0f);
        line->c[i].x = dense[k].x + (dense[k + 1].x - dense[k].x) * f;
        line->c[i].z = dense[k].z + (dense[k + 1].z - dense[k].z) * f;
    }
    xfree(dense);
    xfree(dense_s);
    finish_line(line);
}

void line_from_ellipse(Line *line, float cx, float cz, float rx, float rz, int n)
{
    memset(line, 0, sizeof *line);
    line->closed = true;
    line->n = n;
    line->c = (Centre *)xcalloc(n, sizeof(Centre));
    // Ramanujan's perimeter: the step is the mean spacing of the samples
    float h = (rx - rz) * (rx - rz) / ((rx + rz) * (rx + rz));
    line->length = k_pi * (rx + rz) * (1 + 3 * h / (10 + sqrtf(4 - 3 * h)));
    line->step = line->length / n;
    for (int i = 0; i < n; i++) {
        float a = 2 * k_pi * i / n;
        line->c[i].x = cx + rx * cosf(a);
        line->c[i].z = cz + rz * sinf(a);
    }
    finish_line(line);
}

float line_distance(const Line *line, int from, int to)
{
    float d = (to - from) * line->step;
    if (line->closed && d < 0)
        d += line->length;
    return d;
}

int line_sample_at(const Line *line, float s)
{
    int i = (int)lroundf(s / line->step);
    return wrap(line, i);
}

void line_index(Line *line, float world)
{
    int b = (int)(world / k_bucket_size) + 1;
    line->buckets = b;
    line->bucket_start = (int *)xcalloc(b * b + 1, sizeof(int));
    line->bucket_items = (int *)xmalloc(line->n * sizeof(int));
    int *fill = (int *)xcalloc(b * b, sizeof(int));
    auto bucket_of = [&](int i) {
        int bx = (int)(line->c[i].x / k_bucket_size), bz = (int)(line->c[i].z / k_bucket_size);
        bx = bx < 0 ? 0 : (bx >= b ? b - 1 : bx);
        bz = bz < 0 ? 0 : (bz >= b ? b - 1 : bz);
        return bx + bz * b;
    };
    for (int i = 0; i < line->n; i++)
        line->bucket_start[bucket_of(i) + 1]++;
    for (int k = 0; k < b * b; k++)
        line->bucket_start[k + 1] += line->bucket_start[k];
    for (int i = 0; i < line->n; i++) {
        int k = bucket_of(i);
        line->bucket_items[line->bucket_start[k] + fill[k]++] = i;
    }
    xfree(fill);
}

int line_nearest(const Line *line, float x, float z, float reach, float *lateral, float *beyond)
{
    int b = line->buckets;
    int bx = (int)floorf(x / k_bucket_size), bz = (int)floorf(z / k_bucket_size);
    int span = (int)ceilf(reach / k_bucket_size);
    int best = -1;
    float best_d2 = reach * reach;
    for (int j = bz - span; j <= bz + span; j++)
        for (int i = bx - span; i <= bx + span; i++) {
            if (i < 0 || j < 0 || i >= b || j >= b)
                continue;
            for (int k = line->bucket_start[i + j * b]; k < line->bucket_start[i + j * b + 1]; k++) {
                const Centre &c = line->c[line->bucket_items[k]];
                float d2 = (x - c.x) * (x - c.x) + (z - c.z) * (z - c.z);
                if (d2 < best_d2) {
                    best_d2 = d2;
                    best = line->bucket_items[k];
                }
            }
        }
    if (best < 0)
        return -1;
    const Centre &c = line->c[best];
    float along = (x - c.x) * c.tx + (z - c.z) * c.tz;
    *lateral = (x - c.x) * -c.tz + (z - c.z) * c.tx;
    *beyond = 0;
    if (!line->closed && best == 0)
        *beyond = fmaxf(0.0f, -along);
    else if (!line->closed && best == line->n - 1)
        *beyond = fmaxf(0.0f, along);
    return best;
}

void line_free(Line *line)
{
    xfree(line->c);
    xfree(line->bucket_start);
    xfree(line->bucket_items);
    memset(line, 0, sizeof *line);
}
