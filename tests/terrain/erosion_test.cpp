// Ruts: the wheel samples that make points, the records they travel in (byte for byte), the
// queue and its budget and deferral, and the digs and deposits on a flat 512 ft field.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/log.h"
#include "terrain/erosion.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

namespace {

std::vector<std::vector<uint8_t>> g_sent;

void tap(const uint8_t *record, int length) { g_sent.emplace_back(record, record + length); }

const int k_full = 102400;          // 100 %
const double k_s = 100.0 / 2048;    // a sample's dig at 100 %, feet

class Erosion : public ::testing::Test {
protected:
    Terrain t = {};
    ErodeProducer p = {};
    std::string log_path;

    void SetUp() override
    {
        log_path = ::testing::TempDir() + "sk_erosion_log_" + std::to_string(getpid()) + ".txt";
        remove(log_path.c_str());
        setenv("TOVA_LOGFILE", log_path.c_str(), 1);
        log_reset_for_tests();
        ASSERT_TRUE(terrain_create(&t, 7, 2.0f));       // dim 257, 512 ft
        erode_reset_for_tests();
        erode_set_record_hooks(nullptr);
        erode_set_record_tap(tap);
        g_sent.clear();
    }
    void TearDown() override
    {
        erode_set_record_tap(nullptr);
        erode_reset_for_tests();
        terrain_unload(&t);
        log_reset_for_tests();
        remove(log_path.c_str());
    }

    ErodeParams &params() { return t.tiles[0].erode; }
    float &height(int i, int j) { return t.heights[i + j * t.dim]; }

    // A rear wheel at 20 ft/s along +x pushed back with 200 lbf: a full-length sample along +x.
    bool sample(float x, float z, int tic, float speed = 20)
    {
        return erode_sample(&p, &t, v3(x, 0, z), v3(speed, 0, 0), v3(0, 0, 0), v3(200, 300, 0), false, tic, nullptr);
    }

    // Queues points through a record; all of them at once.
    void queue(std::vector<ErodePoint> points)
    {
        for (size_t at = 0; at < points.size(); at += 64) {
            int k = (int)std::min<size_t>(64, points.size() - at);
            uint8_t record[k_erode_record_max];
            int length = erode_pack(&points[at], k, t.world_size, record);
            ASSERT_EQ(k, erode_queue_record(&t, record, length));
        }
    }

    double height_sum()
    {
        double sum = 0;
        for (int k = 0; k < t.dim * t.dim; k++)
            sum += t.heights[k];
        return sum;
    }

    std::string log_text()
    {
        std::string text;
        if (FILE *f = fopen(log_path.c_str(), "rb")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0)
                text.append(buf, n);
            fclose(f);
        }
        return text;
    }
};

ErodePoint point(float x, float z, float dx = 1, float dz = 0, int count = 8) { return { x, z, dx, dz, count }; }

// ---- records ----

TEST_F(Erosion, TwoPointRecordByteForByte)
{
    // Differences (1, -0.5): bounds widened by 1/16 ft and coded in 2048 / 65535 ft steps; the
    // second point's differences from the first point's decoded position.
    ErodePoint pts[2] = { { 100, 200, 0.5f, -1, 5 }, { 101, 199.5f, -0.25f, 0.999f, 12 } };
    uint8_t record[k_erode_record_max];
    ASSERT_EQ(21, erode_pack(pts, 2, t.world_size, record));
    const uint8_t expected[21] = { 1, 0x1d, 0x80, 0xee, 0x7f, 0x21, 0x80, 0xf2, 0x7f,   // bounds
                                   0x00, 0x00, 0x32, 0x00, 0x00, 0x64,                  // 100, 200 of 512 ft
                                   193, 1,          // count 5: 01 | q 48 (0.5), 01 | q 0 (-1)
                                   159, 96,         // the differences
                                   96, 255 };       // count 12: 00 | q 24 (-0.25), 11 | q 63
    for (int k = 0; k < 21; k++)
        EXPECT_EQ(expected[k], record[k]) << "byte " << k;

    ErodePoint out[2];
    ASSERT_EQ(2, erode_decode(record, 21, t.world_size, out, 2));
    EXPECT_NEAR(100.0000060, out[0].x, 1e-5);
    EXPECT_NEAR(100.9998374, out[1].x, 1e-4);
    EXPECT_NEAR(199.5001881, out[1].z, 1e-4);
    EXPECT_EQ(0.5f, out[0].dx);
    EXPECT_EQ(-1.0f, out[0].dz);
    EXPECT_EQ(-0.25f, out[1].dx);
    EXPECT_EQ(0.96875f, out[1].dz);     // the largest code
    EXPECT_EQ(5, out[0].count);
    EXPECT_EQ(12, out[1].count);
}

TEST_F(Erosion, MalformedRecordsQueueNothing)
{
    uint8_t record[k_erode_record_max];
    ErodePoint one = point(10, 10);
    ASSERT_EQ(17, erode_pack(&one, 1, t.world_size, record));
    EXPECT_EQ(0, erode_queue_record(&t, record, 16));
    record[0] = 2;
    EXPECT_EQ(0, erode_queue_record(&t, record, 17));
    record[0] = 0;
    EXPECT_EQ(0, erode_queue_record(&t, record, 17));
    EXPECT_EQ(0, erode_queue_length());
    record[0] = 1;
    EXPECT_EQ(1, erode_queue_record(&t, record, 20));     // bytes short of a point are ignored
    EXPECT_EQ(0, erode_pack(&one, 0, t.world_size, record));
    EXPECT_EQ(0, erode_pack(&one, 65, t.world_size, record));
}

TEST_F(Erosion, SaturatedAndEqualBounds)
{
    uint8_t record[k_erode_record_max];
    // Differences of -1100 and +1100 ft: the lower bound saturates to 0, the upper to 65535.
    ErodePoint wide[3] = { point(1200, 0), point(100, 0), point(1200, 0) };
    ASSERT_EQ(25, erode_pack(wide, 3, t.world_size, record));
    EXPECT_EQ(0, record[1] | record[2] << 8);
    EXPECT_EQ(65535, record[5] | record[6] << 8);
    // Both x bounds below -1024 ft code the same: every x difference is 0, nothing divides by 0.
    ErodePoint down[2] = { point(1400, 5), point(100, 5) };
    ASSERT_EQ(21, erode_pack(down, 2, t.world_size, record));
    EXPECT_EQ(0, record[1] | record[2] << 8);
    EXPECT_EQ(0, record[5] | record[6] << 8);
    EXPECT_EQ(0, record[17]);
    ErodePoint out[2];
    ASSERT_EQ(2, erode_decode(record, 21, t.world_size, out, 2));
    EXPECT_EQ(512.0f, out[0].x);        // the first point is clamped into the world
    EXPECT_EQ(-512.0f, out[1].x);
    EXPECT_NEAR(5, out[1].z, 1e-3);
}

TEST_F(Erosion, PositionsAdvanceFromDecodedPositions)
{
    // 64 points whose differences spread over 10 ft: each code is off by up to half a step
    // (10.125 / 255 / 2 ft); from true positions those errors would add up along the record.
    std::vector<ErodePoint> pts;
    float x = 50, z = 300;
    for (int k = 0; k < 64; k++) {
        pts.push_back(point(x, z));
        x += 0.1f + fmodf(k * 3.7f, 10.0f);
        z -= 0.05f + fmodf(k * 1.3f, 2.0f);
    }
    uint8_t record[k_erode_record_max];
    ASSERT_EQ(269, erode_pack(pts.data(), 64, t.world_size, record));
    ErodePoint out[64];
    ASSERT_EQ(64, erode_decode(record, 269, t.world_size, out, 64));
    for (int k = 0; k < 64; k++) {
        EXPECT_NEAR(pts[k].x, out[k].x, 10.2 / 510) << k;
        EXPECT_NEAR(pts[k].z, out[k].z, 2.2 / 510) << k;
    }
}

// ---- the producer ----

TEST_F(Erosion, NoSamplesBelowTheOffSpeed)
{
    EXPECT_FALSE(sample(100, 100, 1, 5));
    EXPECT_EQ(0, p.samples);
    EXPECT_TRUE(sample(100, 100, 2, 20));
    EXPECT_EQ(1, p.samples);
    EXPECT_FLOAT_EQ(1.0f, (float)p.sum_dx);     // 200 lbf is past the upper force: full length
}

TEST_F(Erosion, SixteenSamplesMakeAPointAndTheSeventeenthStartsTheNext)
{
    for (int k = 0; k < 16; k++)
        ASSERT_TRUE(sample(100 + 0.01f * k, 100, k));
    EXPECT_EQ(0, p.points);
    EXPECT_EQ(16, p.samples);
    sample(100.16f, 100, 16);
    ASSERT_EQ(1, p.points);
    EXPECT_EQ(16, p.buffer[0].count);
    EXPECT_NEAR(100.075, p.buffer[0].x, 1e-4);
    EXPECT_EQ(1, p.samples);
    EXPECT_EQ(0, p.distance);
    // Sixteen samples pack as fifteen: the count field has four bits.
    uint8_t record[k_erode_record_max];
    ASSERT_EQ(17, erode_pack(p.buffer, 1, t.world_size, record));
    EXPECT_EQ(3, record[15] & 3);
    EXPECT_EQ(3, record[16] & 3);
}

TEST_F(Erosion, AccumulationCarriesTheDistanceBeyondOneFoot)
{
    sample(100, 100, 0);
    sample(100.6f, 100, 1);
    EXPECT_EQ(2, p.samples);
    sample(101.5f, 100, 2);      // 1.5 ft: a point, and the next accumulation starts 0.5 ft in
    EXPECT_EQ(1, p.points);
    EXPECT_NEAR(0.5, p.distance, 1e-5);
    sample(104, 100, 3);        // 3 ft on: past 2 ft, it starts afresh
    EXPECT_EQ(2, p.points);
    EXPECT_EQ(0, p.distance);
}

TEST_F(Erosion, TheSixtyFifthPointSendsSixtyFour)
{
    // Samples 1.5 ft apart: each one turns the previous into a point.
    for (int k = 0; k <= 64; k++)
        sample(10 + 1.5f * k, 100, k);
    EXPECT_EQ(64, p.points);
    EXPECT_TRUE(g_sent.empty());
    sample(10 + 1.5f * 65, 100, 65);
    ASSERT_EQ(1u, g_sent.size());
    ASSERT_EQ(269u, g_sent[0].size());
    EXPECT_EQ(1, p.points);
    EXPECT_EQ(106.0f, p.buffer[0].x);
    // Sent locally: the record's 64 points are queued as decoded.
    EXPECT_EQ(64, erode_queue_length());
    ErodePoint out[64];
    ASSERT_EQ(64, erode_decode(g_sent[0].data(), 269, t.world_size, out, 64));
    EXPECT_NEAR(104.5, out[63].x, 0.01);
    EXPECT_EQ(1, out[63].count);
    EXPECT_EQ(64, erode_stats()->points_sent);
}

TEST_F(Erosion, DifferencesBeyondSixtyFourFeetSplitTheBuffer)
{
    const float xs[] = { 10, 11.5f, 13, 83, 84.5f };
    for (int k = 0; k < 5; k++)
        sample(xs[k], 100, k);
    // Points 10, 11.5 and 13 go out; 83 (70 ft on) starts the next buffer.
    ASSERT_EQ(1u, g_sent.size());
    EXPECT_EQ(25u, g_sent[0].size());
    ASSERT_EQ(1, p.points);
    EXPECT_EQ(83.0f, p.buffer[0].x);
    EXPECT_EQ(0, p.max_dx);
}

TEST_F(Erosion, IdleWheelSendsAfterSixtyFourQuietTics)
{
    sample(10, 100, 100);
    sample(11.5f, 100, 101);
    sample(13, 100, 102);       // two points, the third sample accumulating
    erode_flush_idle(&p, &t, 166);
    EXPECT_TRUE(g_sent.empty());
    erode_flush_idle(&p, &t, 167);
    ASSERT_EQ(1u, g_sent.size());
    EXPECT_EQ(25u, g_sent[0].size());
    EXPECT_EQ(0, p.points);
    EXPECT_EQ(0, p.samples);
    // A weak push is an idle tic too; a lone short skid is not lost.
    sample(50, 100, 200);
    EXPECT_FALSE(erode_sample(&p, &t, v3(60, 0, 100), v3(20, 0, 0), v3(0, 0, 0), v3(10, 300, 0), false, 264,
                              nullptr));
    EXPECT_EQ(1u, g_sent.size());
    erode_flush_idle(&p, &t, 265);
    ASSERT_EQ(2u, g_sent.size());
    EXPECT_EQ(17u, g_sent[1].size());
}

TEST_F(Erosion, PushFollowsTheGroundAndTheWheel)
{
    // On a 45-degree slope rising along +x, a push straight into the ground is removed
    // entirely; lateral scaling and the front scale apply along and across the travel.
    for (int j = 0; j < t.dim; j++)
        for (int i = 0; i < t.dim; i++)
            height(i, j) = i * t.spacing;
    float push[2];
    Vec3 into = v3(-300, 300, 0);       // along the slope's normal (-1, 1, 0)
    EXPECT_FALSE(erode_sample(&p, &t, v3(100, 100, 100), v3(20, 0, 0), v3(0, 0, 0), into, false, 1, push));
    EXPECT_NEAR(0, push[0], 1e-3);
    for (int k = 0; k < t.dim * t.dim; k++)
        t.heights[k] = 0;
    params().lateral_scale = 3;
    params().front_scale = 0.5f;
    erode_sample(&p, &t, v3(100, 0, 100), v3(0, 0, 20), v3(0, 0, 0), v3(40, 300, 100), true, 2, push);
    EXPECT_NEAR(0.5f * 3 * 40, push[0], 1e-3);     // across the travel: tripled, halved
    EXPECT_NEAR(0.5f * 100, push[1], 1e-3);        // along it: only halved
}

TEST_F(Erosion, EqualRampEndsAndNoDirectionOfTravelStayFinite)
{
    ErodeParams &e = params();
    e.slip_lower = e.slip_upper = 5;
    e.off_speed = e.on_speed = 10;
    e.lower = e.upper = 100;
    float push[2];
    EXPECT_FALSE(erode_sample(&p, &t, v3(100, 0, 100), v3(9.9f, 0, 0), v3(5, 0, 0), v3(200, 300, 0), false, 1, push));
    ASSERT_TRUE(erode_sample(&p, &t, v3(100, 0, 100), v3(10, 0, 0), v3(5, 0, 0), v3(200, 300, 0), false, 2, push));
    EXPECT_FLOAT_EQ(300, push[0]);      // slip at the upper end: the full slip scale 1.5
    EXPECT_FLOAT_EQ(1, (float)p.sum_dx);
    // Falling straight down with a negative off speed: no direction of travel, no lateral term.
    erode_producer_clear(&p);
    e.off_speed = -1;
    e.lateral_scale = 3;
    ASSERT_TRUE(erode_sample(&p, &t, v3(100, 0, 100), v3(0, -20, 0), v3(0, 0, 0), v3(120, 300, 160), false, 3, push));
    EXPECT_FLOAT_EQ(120, push[0]);
    EXPECT_FLOAT_EQ(160, push[1]);
    EXPECT_TRUE(isfinite(p.sum_dx) && isfinite(p.sum_dz));
}

// ---- the queue ----

TEST_F(Erosion, BudgetGrowsWithTheQueue)
{
    params().radius = params().inner_radius = 0;     // nothing to dig: only the count matters
    const int cases[][2] = { { 0, 0 }, { 3, 3 }, { 512, 5 }, { 8192, 20 }, { 9000, 17 + 12 + 4 } };
    for (const auto &c : cases) {
        erode_reset();
        queue(std::vector<ErodePoint>(c[0], point(100, 100)));
        erode_apply(&t, nullptr, k_full, 10);
        EXPECT_EQ(c[0] - c[1], erode_queue_length()) << c[0] << " queued";
    }
    // With no erosion the queue is not consumed.
    erode_apply(&t, nullptr, 0, 11);
    EXPECT_EQ(9000 - 33, erode_queue_length());
}

TEST_F(Erosion, PointsNearTheRiderWaitAtMost257Tics)
{
    const float rider[2] = { 200, 200 };
    queue({ point(208, 200) });
    for (int tic = 1000; tic <= 1256; tic++) {
        erode_apply(&t, rider, k_full, tic);
        ASSERT_EQ(1, erode_queue_length()) << tic;
    }
    EXPECT_EQ(0, height(104, 100));
    erode_apply(&t, rider, k_full, 1257);
    EXPECT_EQ(0, erode_queue_length());
    EXPECT_LT(height(104, 100), -0.1f);
    // Beyond 10 ft nothing waits; with more than 8,192 queued nothing waits either.
    queue({ point(210.5f, 200) });
    erode_apply(&t, rider, k_full, 1300);
    EXPECT_EQ(0, erode_queue_length());
    queue(std::vector<ErodePoint>(8193, point(201, 201)));
    erode_apply(&t, rider, k_full, 1301);
    EXPECT_EQ(8193 - 20, erode_queue_length());
    // Reset: empty, and the deadline gone.
    queue({ point(201, 200) });
    erode_reset();
    EXPECT_EQ(0, erode_queue_length());
}

TEST_F(Erosion, FullQueueDropsAndSaysSoOnce)
{
    std::vector<ErodePoint> pts(64, point(100, 100));
    uint8_t record[k_erode_record_max];
    int length = erode_pack(pts.data(), 64, t.world_size, record);
    for (int k = 0; k < k_erode_queue_points / 64; k++)
        erode_queue_record(&t, record, length);
    EXPECT_EQ(k_erode_queue_points, erode_queue_length());
    EXPECT_EQ(0, erode_queue_record(&t, record, length));
    EXPECT_EQ(64, erode_stats()->points_dropped);
    erode_reset();
    for (int k = 0; k <= k_erode_queue_points / 64; k++)
        erode_queue_record(&t, record, length);
    std::string text = log_text();
    size_t at = text.find("Erode queue full!\n");
    ASSERT_NE(std::string::npos, at);
    EXPECT_EQ(std::string::npos, text.find("Erode queue full!", at + 1));
}

TEST_F(Erosion, ServerTakesTheRecordAndTheDemoSeesIt)
{
    static int to_server, to_demo;
    static bool connected;
    to_server = to_demo = 0;
    connected = true;
    ErodeRecordHooks hooks = { [](const uint8_t *, int) { to_server++; return connected; },
                               [](const uint8_t *, int) { to_demo++; } };
    erode_set_record_hooks(&hooks);
    uint8_t record[k_erode_record_max];
    ErodePoint one = point(10, 10);
    int length = erode_pack(&one, 1, t.world_size, record);
    erode_send_record(&t, record, length);
    EXPECT_EQ(0, erode_queue_length());     // only what the server relays digs
    connected = false;
    erode_send_record(&t, record, length);
    EXPECT_EQ(1, erode_queue_length());
    EXPECT_EQ(2, to_server);
    EXPECT_EQ(2, to_demo);
    erode_set_record_hooks(nullptr);
}

// ---- digging ----

TEST_F(Erosion, RutDepthPicksTheErodeLimitScales)
{
    ErodeParams &e = params();
    e.displacement = 20;            // the deposit lands well clear of the dig
    const float rows[3][3] = { { 0, 1, 1 }, { 1, 3, 2 }, { 2, 5, 4 } };
    for (int k = 0; k < 3; k++)
        e.limit_depth[k] = rows[k][0], e.limit_outer[k] = rows[k][1], e.limit_inner[k] = rows[k][2];
    e.limit_count = 3;
    // rut depth, outer, inner
    const double cases[][3] = { { -0.5, 1, 1 }, { 0, 1, 1 }, { 0.5, 2, 1.5 }, { 1.5, 4, 3 }, { 3, 5, 4 } };
    for (const auto &c : cases) {
        for (int k = 0; k < t.dim * t.dim; k++)
            t.heights[k] = (float)-c[0];
        queue({ point(200, 200, 1, 0, 8) });
        erode_apply(&t, nullptr, k_full, 1);
        double dug = -c[0] - height(100, 100);
        EXPECT_NEAR((8 * c[1] + 0.125 * c[2]) * k_s, dug, 1e-4) << "rut depth " << c[0];
    }
}

TEST_F(Erosion, DigAndDepositMoveTheSameMaterial)
{
    terrain_reshade(&t);
    queue({ point(200.3f, 200.7f, 1, 0, 8) });
    erode_apply(&t, nullptr, k_full, 1);
    EXPECT_LT(height(101, 100), -0.1f);             // dug at the point
    EXPECT_GT(height(98, 100), 0.05f);              // heaped 1.93 ft behind the push
    EXPECT_NEAR(0, height_sum(), 1e-5 * (8 + 0.125) * k_s * 10);
    EXPECT_EQ(3u, t.height_changes);
    // Shading follows only what was edited.
    EXPECT_GE(t.reshade_i0, 94);
    EXPECT_LE(t.reshade_i1, 106);
    terrain_reshade(&t);
    EXPECT_EQ(t.reshade_i0, t.reshade_i1);
}

TEST_F(Erosion, SlopeTestAndDownhillScale)
{
    // Ground falling 0.1 ft per ft along +x; the push along -x sends the dirt downhill.
    for (int j = 0; j < t.dim; j++)
        for (int i = 0; i < t.dim; i++)
            height(i, j) = t.initial_heights[i + j * t.dim] = -0.1f * i * t.spacing;
    ErodeParams &e = params();
    auto dig = [&](float downhill, float dx = -1) {
        e.downhill_scale = downhill;
        float before = height(100, 100);
        queue({ point(200, 200, dx, 0, 8) });
        erode_apply(&t, nullptr, k_full, 1);
        float after = height(100, 100);
        height(100, 100) = before;
        for (int k = 0; k < t.dim * t.dim; k++)
            t.heights[k] = t.initial_heights[k];
        return before - after;
    };
    double plain = dig(0);
    // w = 2 ft, u - b = 0.1 w: the dig grows by 1 + 10 * 0.1 = 2.
    EXPECT_NEAR(2 * plain, dig(10), 0.02 * plain);
    e.min_slope = 0.2f;             // the deposit point must then lie higher
    EXPECT_EQ(0, dig(0));
    // A negative displacement makes w negative: no downhill factor, no division by it.
    e.min_slope = 10, e.max_slope = -10;
    e.displacement = -2;
    double ahead = dig(0, 1);       // the deposit point lies ahead, and lower
    EXPECT_GT(ahead, 0);
    EXPECT_DOUBLE_EQ(ahead, dig(10, 1));
}

TEST_F(Erosion, RaiseThenDepositKeepsTheVolume)
{
    const float radii[] = { 4, 5.5f, 9.3f, 16 };
    const float amounts[] = { -0.4f, 1.7f };
    for (float r : radii)
        for (float a : amounts) {
            for (int k = 0; k < t.dim * t.dim; k++)
                t.heights[k] = 0;
            float moved = terrain_raise(&t, 257.3f, 250.9f, r, a);
            ASSERT_NE(0, moved);
            EXPECT_NEAR(moved, height_sum(), 1e-5 * fabsf(moved));
            terrain_deposit(&t, 260.1f, 248.2f, r, -moved);
            EXPECT_NEAR(0, height_sum(), 1e-5 * fabsf(moved)) << "radius " << r << " amount " << a;
        }
    // The bump's shape: full at the centre, half at half the radius, nothing at the radius.
    for (int k = 0; k < t.dim * t.dim; k++)
        t.heights[k] = 0;
    terrain_raise(&t, 200, 200, 8, 1);
    EXPECT_FLOAT_EQ(1, height(100, 100));
    EXPECT_FLOAT_EQ(0.5f, height(102, 100));
    EXPECT_EQ(0, height(104, 100));
    EXPECT_EQ(0, terrain_raise(&t, 200, 200, 0, 1));
}

TEST_F(Erosion, DepositAtTheEdgeLosesTheOutsidePart)
{
    terrain_deposit(&t, 256, 256, 8, 10);
    EXPECT_NEAR(10, height_sum(), 1e-4);
    for (int k = 0; k < t.dim * t.dim; k++)
        t.heights[k] = 0;
    terrain_deposit(&t, 0, 256, 8, 10);     // on the edge: the column x = 0 and what lies inside
    double kept = height_sum();
    EXPECT_GT(kept, 5);
    EXPECT_LT(kept, 7);
    for (int k = 0; k < t.dim * t.dim; k++)
        t.heights[k] = 0;
    // Farther outside than the radius, or not finite: nothing, and no conversion out of range.
    terrain_deposit(&t, -8.5f, 256, 8, 10);
    terrain_deposit(&t, 1e30f, 1e30f, 8, 10);
    EXPECT_EQ(0, terrain_raise(&t, -1e30f, 256, 8, 10));
    EXPECT_EQ(0, terrain_raise(&t, NAN, 256, 8, 10));
    EXPECT_EQ(0, terrain_raise(&t, 256, 256, INFINITY, 10));
    EXPECT_EQ(0, height_sum());
    t.frozen = true;
    EXPECT_EQ(0, terrain_raise(&t, 256, 256, 8, 10));
    EXPECT_EQ(0, height_sum());
}

TEST_F(Erosion, HugeRadiiAndDisplacementsStayBounded)
{
    ErodeParams &e = params();
    e.radius = e.inner_radius = 1e9f;       // clamped to 64 ft
    queue({ point(256, 256, 1, 0, 8) });
    erode_apply(&t, nullptr, k_full, 1);
    EXPECT_NE(0, height(128 + 25, 128));           // 50 ft off: reached
    EXPECT_EQ(0, height(128 + 35, 128));           // 70 ft off, away from the deposit: untouched
    e.radius = e.inner_radius = NAN;
    float before = height(128, 128);
    queue({ point(256, 256, 1, 0, 8) });
    erode_apply(&t, nullptr, k_full, 2);
    EXPECT_EQ(before, height(128, 128));
    // A deposit pushed far off the field: the dig happens, its material is lost.
    e.radius = 4, e.inner_radius = 2, e.displacement = 1e12f;
    double sum = height_sum();
    queue({ point(100, 100, 1, 0, 8) });
    erode_apply(&t, nullptr, k_full, 3);
    EXPECT_LT(height_sum(), sum - 1);
}

}  // namespace
