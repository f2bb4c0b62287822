// 3-vectors of floats, 3x3 rotation matrices (row major) and quaternions (w, x, y, z).
// Positions and directions are in feet; angles in radians.
#pragma once
#include <math.h>

struct Vec3 { float x, y, z; };
struct Mat3 { float m[3][3]; };             // m[row][column]; a vector is a column
struct Quat { float w, x, y, z; };

inline Vec3  v3(float x, float y, float z) { return { x, y, z }; }
inline Vec3  v3_add(Vec3 a, Vec3 b) { return { a.x + b.x, a.y + b.y, a.z + b.z }; }
inline Vec3  v3_sub(Vec3 a, Vec3 b) { return { a.x - b.x, a.y - b.y, a.z - b.z }; }
inline Vec3  v3_scale(Vec3 a, float s) { return { a.x * s, a.y * s, a.z * s }; }
inline Vec3  v3_madd(Vec3 a, Vec3 b, float s) { return { a.x + b.x * s, a.y + b.y * s, a.z + b.z * s }; }
inline float v3_dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3  v3_cross(Vec3 a, Vec3 b)
{
    return { a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x };
}
inline Vec3  v3_lerp(Vec3 a, Vec3 b, float t) { return v3_madd(a, v3_sub(b, a), t); }
inline float v3_length(Vec3 a) { return sqrtf(v3_dot(a, a)); }   // inline: the tyre tests call it a lot
Vec3  v3_normalize(Vec3 a);                  // the zero vector stays zero

Mat3 m3_identity(void);
Mat3 m3_mul(const Mat3 &a, const Mat3 &b);
Vec3 m3_apply(const Mat3 &m, Vec3 v);        // m * v
Vec3 m3_apply_transposed(const Mat3 &m, Vec3 v);
Mat3 m3_transpose(const Mat3 &m);
Mat3 m3_axis_angle(Vec3 axis, float angle);  // axis need not be unit length; zero axis gives identity
Mat3 m3_orthonormalize(const Mat3 &m);       // Gram-Schmidt on the columns

Quat q_identity(void);
Quat q_mul(Quat a, Quat b);
Quat q_conjugate(Quat q);
Quat q_normalize(Quat q);                    // the zero quaternion becomes identity
Quat q_axis_angle(Vec3 axis, float angle);
Vec3 q_rotate(Quat q, Vec3 v);
Quat q_slerp(Quat a, Quat b, float t);       // shortest arc
Mat3 q_to_m3(Quat q);
Quat m3_to_q(const Mat3 &m);
