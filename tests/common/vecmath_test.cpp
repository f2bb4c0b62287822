#include <gtest/gtest.h>

#include <math.h>

#include "common/vecmath.h"

static void expect_near(Vec3 a, Vec3 b, float eps = 1e-5f)
{
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

TEST(VecMath, RotationsFollowTheRightHandRule)
{
    const float quarter = (float)M_PI / 2;
    // About +y a quarter turn takes -z (a bike's forward) to -x.
    expect_near(m3_apply(m3_axis_angle(v3(0, 1, 0), quarter), v3(0, 0, -1)), v3(-1, 0, 0));
    expect_near(q_rotate(q_axis_angle(v3(0, 1, 0), quarter), v3(0, 0, -1)), v3(-1, 0, 0));
    expect_near(q_rotate(q_axis_angle(v3(1, 0, 0), quarter), v3(0, 1, 0)), v3(0, 0, 1));
}

TEST(VecMath, MatrixAndQuaternionAgree)
{
    Quat q = q_normalize({ 0.3f, -0.5f, 0.7f, 0.2f });
    Mat3 m = q_to_m3(q);
    Vec3 v = v3(1.5f, -2.0f, 0.25f);
    expect_near(m3_apply(m, v), q_rotate(q, v));
    Quat back = m3_to_q(m);
    float d = fabsf(back.w * q.w + back.x * q.x + back.y * q.y + back.z * q.z);
    EXPECT_NEAR(d, 1.0f, 1e-5f);
    expect_near(m3_apply_transposed(m, m3_apply(m, v)), v);
}

TEST(VecMath, SlerpEndsAndMiddle)
{
    Quat a = q_identity();
    Quat b = q_axis_angle(v3(0, 0, 1), (float)M_PI / 2);
    expect_near(q_rotate(q_slerp(a, b, 0), v3(1, 0, 0)), v3(1, 0, 0));
    expect_near(q_rotate(q_slerp(a, b, 1), v3(1, 0, 0)), v3(0, 1, 0));
    float h = sqrtf(0.5f);
    expect_near(q_rotate(q_slerp(a, b, 0.5f), v3(1, 0, 0)), v3(h, h, 0));
}

TEST(VecMath, DegenerateInputsStayFinite)
{
    expect_near(v3_normalize(v3(0, 0, 0)), v3(0, 0, 0));
    Quat q = q_normalize({ 0, 0, 0, 0 });
    EXPECT_EQ(q.w, 1.0f);
    expect_near(m3_apply(m3_axis_angle(v3(0, 0, 0), 1.0f), v3(1, 2, 3)), v3(1, 2, 3));
    Mat3 skew = { { { 2, 0.1f, 0 }, { 0, 1, 0.2f }, { 0, 0, 3 } } };
    Mat3 o = m3_orthonormalize(skew);
    Mat3 should_be_identity = m3_mul(m3_transpose(o), o);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            EXPECT_NEAR(should_be_identity.m[i][j], i == j ? 1.0f : 0.0f, 1e-5f);
}
