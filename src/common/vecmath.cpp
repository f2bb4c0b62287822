#include "common/vecmath.h"

#include <math.h>

Vec3 v3_normalize(Vec3 a)
{
    float len = v3_length(a);
    return len > 0.0f ? v3_scale(a, 1.0f / len) : a;
}

Mat3 m3_identity(void)
{
    return { { { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } } };
}

Mat3 m3_mul(const Mat3 &a, const Mat3 &b)
{
    Mat3 r;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
    return r;
}

Vec3 m3_apply(const Mat3 &m, Vec3 v)
{
    return { m.m[0][0] * v.x + m.m[0][1] * v.y + m.m[0][2] * v.z,
             m.m[1][0] * v.x + m.m[1][1] * v.y + m.m[1][2] * v.z,
             m.m[2][0] * v.x + m.m[2][1] * v.y + m.m[2][2] * v.z };
}

Vec3 m3_apply_transposed(const Mat3 &m, Vec3 v)
{
    return { m.m[0][0] * v.x + m.m[1][0] * v.y + m.m[2][0] * v.z,
             m.m[0][1] * v.x + m.m[1][1] * v.y + m.m[2][1] * v.z,
             m.m[0][2] * v.x + m.m[1][2] * v.y + m.m[2][2] * v.z };
}

Mat3 m3_transpose(const Mat3 &m)
{
    Mat3 r;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            r.m[i][j] = m.m[j][i];
    return r;
}

Mat3 m3_axis_angle(Vec3 axis, float angle)
{
    return q_to_m3(q_axis_angle(axis, angle));
}

Mat3 m3_orthonormalize(const Mat3 &m)
{
    Vec3 c0 = { m.m[0][0], m.m[1][0], m.m[2][0] };
    Vec3 c1 = { m.m[0][1], m.m[1][1], m.m[2][1] };
    c0 = v3_normalize(c0);
    c1 = v3_normalize(v3_madd(c1, c0, -v3_dot(c0, c1)));
    Vec3 c2 = v3_cross(c0, c1);
    return { { { c0.x, c1.x, c2.x }, { c0.y, c1.y, c2.y }, { c0.z, c1.z, c2.z } } };
}

Quat q_identity(void)
{
    return { 1, 0, 0, 0 };
}

Quat q_mul(Quat a, Quat b)
{
    return { a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z,
             a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
             a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
             a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w };
}

Quat q_conjugate(Quat q)
{
    return { q.w, -q.x, -q.y, -q.z };
}

Quat q_normalize(Quat q)
{
    float len = sqrtf(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    if (len <= 0.0f)
        return q_identity();
    float s = 1.0f / len;
    return { q.w * s, q.x * s, q.y * s, q.z * s };
}

Quat q_axis_angle(Vec3 axis, float angle)
{
    Vec3 a = v3_normalize(axis);
    if (a.x == 0.0f && a.y == 0.0f && a.z == 0.0f)
        return q_identity();
    float s = sinf(angle * 0.5f);
    return { cosf(angle * 0.5f), a.x * s, a.y * s, a.z * s };
}

Vec3 q_rotate(Quat q, Vec3 v)
{
    Vec3 u = { q.x, q.y, q.z };
    Vec3 t = v3_scale(v3_cross(u, v), 2.0f);
    return v3_add(v3_madd(v, t, q.w), v3_cross(u, t));
}

Quat q_slerp(Quat a, Quat b, float t)
{
    float d = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
    if (d < 0.0f) {
        b = { -b.w, -b.x, -b.y, -b.z };
        d = -d;
    }
    float wa, wb;
    if (d > 0.9995f) {          // nearly parallel: linear blend avoids dividing by sin(0)
        wa = 1.0f - t;
        wb = t;
    } else {
        float theta = acosf(d);
        float s = sinf(theta);
        wa = sinf((1.0f - t) * theta) / s;
        wb = sinf(t * theta) / s;
    }
    return q_normalize({ a.w * wa + b.w * wb, a.x * wa + b.x * wb, a.y * wa + b.y * wb, a.z * wa + b.z * wb });
}

Mat3 q_to_m3(Quat q)
{
    float w = q.w, x = q.x, y = q.y, z = q.z;
    return { { { 1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y) },
               { 2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x) },
               { 2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y) } } };
}

Quat m3_to_q(const Mat3 &m)
{
    float tr = m.m[0][0] + m.m[1][1] + m.m[2][2];
    Quat q;
    if (tr > 0.0f) {
        float s = sqrtf(tr + 1.0f) * 2.0f;
        q = { 0.25f * s, (m.m[2][1] - m.m[1][2]) / s, (m.m[0][2] - m.m[2][0]) / s, (m.m[1][0] - m.m[0][1]) / s };
    } else if (m.m[0][0] > m.m[1][1] && m.m[0][0] > m.m[2][2]) {
        float s = sqrtf(1.0f + m.m[0][0] - m.m[1][1] - m.m[2][2]) * 2.0f;
        q = { (m.m[2][1] - m.m[1][2]) / s, 0.25f * s, (m.m[0][1] + m.m[1][0]) / s, (m.m[0][2] + m.m[2][0]) / s };
    } else if (m.m[1][1] > m.m[2][2]) {
        float s = sqrtf(1.0f + m.m[1][1] - m.m[0][0] - m.m[2][2]) * 2.0f;
        q = { (m.m[0][2] - m.m[2][0]) / s, (m.m[0][1] + m.m[1][0]) / s, 0.25f * s, (m.m[1][2] + m.m[2][1]) / s };
    } else {
        float s = sqrtf(1.0f + m.m[2][2] - m.m[0][0] - m.m[1][1]) * 2.0f;
        q = { (m.m[1][0] - m.m[0][1]) / s, (m.m[0][2] + m.m[2][0]) / s, (m.m[1][2] + m.m[2][1]) / s, 0.25f * s };
    }
    return q_normalize(q);
}
