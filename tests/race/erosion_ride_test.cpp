// Ruts in skorva-sim on the practice field: a scripted ride digs only along the wheels' path
// and moves dirt without making or losing any; the same ride digs the same ground twice, and
// its records alone, replayed with no bike, dig it again byte for byte.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "terrain/erosion.h"
#include "../sim/sim_run.h"

namespace {

std::string read_file(const std::string &path)
{
    std::string bytes;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, n);
        fclose(f);
    }
    return bytes;
}

std::vector<float> read_heights(const std::string &path)
{
    std::string bytes = read_file(path);
    std::vector<float> h(bytes.size() / 4);
    for (size_t k = 0; k < h.size(); k++) {
        const uint8_t *b = (const uint8_t *)bytes.data() + 4 * k;
        uint32_t bits = b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24;
        memcpy(&h[k], &bits, 4);
    }
    return h;
}

struct Summary {
    long long records = -1, points = -1, applied = -1, dropped = -1;
    double net = NAN, dug = NAN;
};

Summary summary(const std::string &out)
{
    Summary s;
    size_t at = out.find("erosion: ");
    if (at != std::string::npos)
        sscanf(out.c_str() + at, "erosion: records %lld points %lld applied %lld dropped %lld net %lf dug %lf", &s.records,
               &s.points, &s.applied, &s.dropped, &s.net, &s.dug);
    return s;
}

class ErosionRide : public ::testing::Test {
protected:
    std::string root;

    void SetUp() override
    {
        root = sim_make_home("skerosion");
        ASSERT_FALSE(root.empty());
        sim_open_practice(root);    // the ride leaves the gate before it drops
    }
    void TearDown() override
    {
        sim_remove_home(root);
    }
    std::string sim(const std::string &args) { return sim_run(root, "--track tracks/open --quiet " + args); }
    std::string ride(const char *erode, const std::string &name)
    {
        return sim(std::string("--bikes 1 --tics 900 --script '" SK_TEST_DATA_DIR "/../sim/erode.script' --setup '"
                               SK_TEST_DATA_DIR "/../sim/crf450.setup' --erode ") + erode + " --erode-records '" + root +
                   "/" + name + ".rec' --dump-heights '" + root + "/" + name + ".heights'");
    }
    std::string path(const std::string &name) { return root + "/" + name; }
};

TEST_F(ErosionRide, RutsFollowTheWheelsAndReplayByteForByte)
{
    std::string initial = sim("--bikes 0 --tics 0 --dump-heights '" + path("initial.heights") + "'");
    std::vector<float> h0 = read_heights(path("initial.heights"));
    ASSERT_EQ(257u * 257u, h0.size()) << initial;

    std::string first = ride("100", "a");
    Summary a = summary(first);
    EXPECT_GT(a.records, 1) << first;
    EXPECT_EQ(a.points, a.applied) << first;        // drained after the last tic
    EXPECT_EQ(0, a.dropped);
    EXPECT_GT(a.dug, 1.0) << first;
    EXPECT_LT(fabs(a.net), 1e-4 * a.dug) << first;

    // Where the wheels were: the points of the records the ride sent.
    std::string records = read_file(path("a.rec"));
    std::vector<ErodePoint> points;
    for (size_t at = 0; at + 2 <= records.size();) {
        int length = (uint8_t)records[at] | (uint8_t)records[at + 1] << 8;
        ErodePoint out[k_erode_buffer_points];
        int k = erode_decode((const uint8_t *)records.data() + at + 2, length, 512, out, k_erode_buffer_points);
        ASSERT_GT(k, 0);
        points.insert(points.end(), out, out + k);
        at += 2 + (size_t)length;
    }
    ASSERT_EQ(a.points, (long long)points.size());
    for (const ErodePoint &q : points) {
        ASSERT_GT(fminf(q.x, q.z), 20) << "the ride must keep away from the field's edges";
        ASSERT_LT(fmaxf(q.x, q.z), 492);
    }
    // Every changed vertex lies within radius (5) + displacement (2) + 2 ft of the path.
    std::vector<float> ha = read_heights(path("a.heights"));
    ASSERT_EQ(h0.size(), ha.size());
    int changed = 0;
    for (int j = 0; j < 257; j++)
        for (int i = 0; i < 257; i++) {
            if (ha[i + j * 257] == h0[i + j * 257])
                continue;
            changed++;
            float nearest = INFINITY;
            for (const ErodePoint &q : points)
                nearest = fminf(nearest, hypotf(q.x - 2.0f * i, q.z - 2.0f * j));
            EXPECT_LE(nearest, 9.0f) << "vertex " << i << "," << j;
        }
    EXPECT_GT(changed, 20);

    std::string second = ride("100", "b");
    EXPECT_EQ(read_file(path("a.rec")), read_file(path("b.rec")));
    EXPECT_TRUE(read_file(path("a.heights")) == read_file(path("b.heights")));

    std::string replay = sim("--bikes 0 --tics 0 --erode 100 --erode-replay '" + path("a.rec") + "' --dump-heights '" +
                             path("c.heights") + "'");
    EXPECT_EQ(a.points, summary(replay).applied) << replay;
    EXPECT_TRUE(read_file(path("a.heights")) == read_file(path("c.heights")));

    std::string none = ride("0", "d");
    Summary d = summary(none);
    EXPECT_EQ(0, d.records) << none;
    EXPECT_EQ(0, d.dug);
    EXPECT_TRUE(read_file(path("initial.heights")) == read_file(path("d.heights")));
}

TEST_F(ErosionRide, BadRecordFilesEndTheRun)
{
    FILE *f = fopen(path("short.rec").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite("\x11\x00\x01\x02", 1, 4, f);    // a 17-byte record cut after two bytes
    fclose(f);
    std::string cmd = "SK_HOME='" SK_GAME_DATA_DIR "' XDG_DATA_HOME='" + root + "' '" SK_SIM_EXE
                      "' --track tracks/practice --quiet --bikes 0 --tics 0 --erode 100 --erode-replay '" +
                      path("short.rec") + "' >/dev/null 2>&1";
    EXPECT_EQ(2, WEXITSTATUS(system(cmd.c_str())));
    cmd = "'" SK_SIM_EXE "' --erode x >/dev/null 2>&1";
    EXPECT_EQ(2, WEXITSTATUS(system(cmd.c_str())));
}

}  // namespace
