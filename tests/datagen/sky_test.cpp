// The generated sky as the game finds it: the sun's disc drawn where the sample track's sun
// points, bright enough in every channel for its flare, and the flare's pictures there.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/game_data.h"
#include "common/mem.h"
#include "render/image/image.h"
#include "vfs/vfs.h"

namespace {

struct Sky : ::testing::Test {
    void SetUp() override
    {
        setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
        setenv("XDG_DATA_HOME", (::testing::TempDir() + "sk_sky_home").c_str(), 1);
        vfs_reset_for_tests();
    }
    void TearDown() override { vfs_reset_for_tests(); }
    std::string text(const char *name)
    {
        std::string out;
        if (DataFile *f = open_data_file(name, "rb")) {
            char line[1024];
            while (data_gets(f, line, sizeof line))
                out += line;
            close_data_file(f);
        }
        return out;
    }
};

// The face a direction meets and its picture coordinates, each 0..1 from the top-left: "n" -z,
// "e" +x, "s" +z, "w" -x seen from inside upright, "u" +y with its top edge to the north.
void face_of(const float d[3], char *face, float *u, float *v)
{
    float ax = fabsf(d[0]), ay = fabsf(d[1]), az = fabsf(d[2]);
    if (ay >= ax && ay >= az) {
        *face = 'u';
        *u = (1 - d[0] / ay) / 2;
        *v = (1 + d[2] / ay) / 2;
    } else if (ax >= az) {
        *face = d[0] > 0 ? 'e' : 'w';
        *u = (1 + (d[0] > 0 ? d[2] : -d[2]) / ax) / 2;
        *v = (1 - d[1] / ax) / 2;
    } else {
        *face = d[2] < 0 ? 'n' : 's';
        *u = (1 + (d[2] < 0 ? d[0] : -d[0]) / az) / 2;
        *v = (1 - d[1] / az) / 2;
    }
}

TEST_F(Sky, TheSunsDiscShinesWhereTheSampleSunPointsAndItsFlareIsThere)
{
    std::string lighting = text("@" SK_SAMPLE_TRACK_FOLDER "/lighting");
    size_t at = lighting.find("sun_vector");
    ASSERT_NE(at, std::string::npos);
    float sun[3];
    ASSERT_EQ(sscanf(lighting.c_str() + at, "sun_vector [ %f %f %f ]", &sun[0], &sun[1], &sun[2]), 3);
    at = lighting.find("flare_vector");
    ASSERT_NE(at, std::string::npos) << "the sun has a flare";
    float flare[3];
    ASSERT_EQ(sscanf(lighting.c_str() + at, "flare_vector [ %f %f %f ]", &flare[0], &flare[1], &flare[2]), 3);
    for (int i = 0; i < 3; i++)
        EXPECT_FLOAT_EQ(flare[i], sun[i]);
    // Every picture the flare names opens.
    for (size_t p = lighting.find("flare_element"); p != std::string::npos; p = lighting.find("flare_element", p + 1)) {
        char name[1024];
        ASSERT_EQ(sscanf(lighting.c_str() + p, "flare_element [ %*f %*f ] [ %*f %*f %*f ] %*f %1023s", name), 1);
        DataFile *f = open_data_file(name, "rb");
        EXPECT_TRUE(f) << name;
        close_data_file(f);
    }

    char face;
    float u, v;
    face_of(sun, &face, &u, &v);
    char name[32];
    snprintf(name, sizeof name, "@sky-%c.ppm", face);
    DataFile *f = open_data_file(name, "rb");
    ASSERT_TRUE(f) << name;
    int w = 0, h = 0;
    unsigned char *px = ppm_read(f, &w, &h);
    close_data_file(f);
    ASSERT_TRUE(px);
    const unsigned char *disc = px + ((size_t)(v * h) * w + (size_t)(u * w)) * 3;
    for (int i = 0; i < 3; i++)
        EXPECT_GE(disc[i], 240) << "channel " << i << " of " << name;
    // Away from the disc the sky is not that bright: only the sun lights a flare.
    int bright = 0;
    for (int i = 0; i < w * h; i++)
        bright += px[i * 3] > 223 && px[i * 3 + 1] > 223 && px[i * 3 + 2] > 223;
    EXPECT_LT(bright, w * h / 50);
    xfree(px);

    for (const char *other : { "@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm", "@sky-w.ppm", "@sky-u.ppm", "@sky-env.ppm" }) {
        DataFile *g = open_data_file(other, "rb");
        EXPECT_TRUE(g) << other;
        close_data_file(g);
    }
}

} // namespace
