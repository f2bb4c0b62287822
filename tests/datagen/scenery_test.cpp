// The generated tracks' scenery, cameras and map as the game's readers will meet them: every
// entry parses with the file's own patterns and names files that load, nothing stands on the
// racing surface or on a robot's line, every checkpoint has a camera, and the starting-gate
// piece stands clear of a bike placed on its gate.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/shape.h"
#include "bike/wheel.h"
#include "datagen.h"
#include "race/timing.h"
#include "render/image/image.h"
#include "render/model/model.h"
#include "robots/lines.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

namespace {

const float k_pi = 3.14159265f;

std::vector<std::string> read_lines(const std::string &path)
{
    std::vector<std::string> lines;
    FILE *f = fopen(path.c_str(), "r");
    if (!f)
        return lines;
    char buf[2048];
    while (fgets(buf, sizeof buf, f))
        if (strspn(buf, " \t\r\n") != strlen(buf))
            lines.push_back(buf);
    fclose(f);
    return lines;
}

// A picture with the channels the scenery needs: alpha for billboards.
int picture_channels(const char *name)
{
    Image img = {};
    if (!image_read(name, &img))
        return 0;
    int channels = img.channels;
    image_free(&img);
    return channels;
}

struct GameTrack : ::testing::Test {
    std::string dir;
    Terrain t = {};
    TrackLayout layout = {};
    Timing *timing = nullptr;

    void SetUp() override
    {
        setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
        setenv("XDG_DATA_HOME", (::testing::TempDir() + "sk_scenery_home").c_str(), 1);
        vfs_reset_for_tests();
        dir = std::string(SK_GAME_DATA_DIR) + "/tracks/sample";
        ASSERT_TRUE(terrain_load(&t, dir.c_str(), 1));
        ASSERT_TRUE(sample_track_layout(&layout));
        timing = new Timing();
        DataFile *f = open_data_file((dir + "/timing_gates").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        timing_parse(timing, f, 0);
        close_data_file(f);
        ASSERT_TRUE(timing->valid);
    }
    void TearDown() override
    {
        if (timing)
            timing_clear(timing);
        delete timing;
        track_layout_free(&layout);
        terrain_unload(&t);
        model_release_stale(true);
        shape_cache_free();
        vfs_reset_for_tests();
    }
    float clearance(float x, float z) { return track_clearance(&layout, x, z, 200); }
};

// Trees, bushes and banners: each line parses, stands on the field clear of the track by its
// own half width, and names a picture with alpha; banners line the start straight, tinted.
TEST_F(GameTrack, BillboardsParseAndStandOffTheTrack)
{
    std::vector<std::string> lines = read_lines(dir + "/billboards");
    ASSERT_GT(lines.size(), 100u);
    int tinted = 0, white = 0;
    for (const std::string &line : lines) {
        float x, y, z, h, a;
        char name[1024];
        ASSERT_EQ(sscanf(line.c_str(), "[ %f %f %f ] %f %f %1023s ", &x, &y, &z, &h, &a, name), 6) << line;
        ASSERT_TRUE(isfinite(x) && isfinite(y) && isfinite(z) && h > 0 && a > 0) << line;
        EXPECT_TRUE(x > 0 && z > 0 && x < t.world_size && z < t.world_size) << line;
        EXPECT_GT(clearance(x, z), h * a / 2) << line;
        const char *picture = name;
        unsigned rgb = 0xffffff;
        if (name[0] == '#') {
            ASSERT_EQ(sscanf(name, "#%6x#", &rgb), 1) << line;
            ASSERT_EQ(name[7], '#') << line;
            picture = name + 8;
        }
        EXPECT_EQ(picture_channels(picture), 4) << line;
        if (strcmp(picture, k_banner_picture) == 0) {
            float lateral, beyond;
            EXPECT_GE(line_nearest(&layout.start, x, z, 100, &lateral, &beyond), 0) << "banner off the start: " << line;
            (rgb == 0xffffff ? white : tinted)++;
        }
    }
    EXPECT_GE(tinted, 6);
    EXPECT_GE(white, 1);
}

// Hay bales and tuff blocks: each line parses, its model, texture and shape load, and neither
// the track's surface nor any robot line comes within its shape's reach.
TEST_F(GameTrack, StatuesLoadAndKeepOffTheRacingLines)
{
    std::vector<std::string> lines = read_lines(dir + "/statues");
    ASSERT_GE(lines.size(), 30u);
    std::vector<float> spots;       // x, z, reach
    for (const std::string &line : lines) {
        float x, y, z, angle;
        char model[1024], texture[1024], shape[1024];
        ASSERT_EQ(sscanf(line.c_str(), "[ %f %f %f ] %f %1023s %1023s %1023s ", &x, &y, &z, &angle, model, texture, shape),
                  7)
            << line;
        ASSERT_TRUE(isfinite(x) && isfinite(y) && isfinite(z) && isfinite(angle)) << line;
        EXPECT_LT(angle, 3.25f) << "statues follow the track and the ground: " << line;
        const Model *m = model_get(model);
        ASSERT_NE(m, nullptr) << line;
        EXPECT_GT(m->triangles, 0);
        EXPECT_EQ(picture_channels(texture), 3) << line;
        const Shape *s = shape_get(shape_load(shape));
        ASSERT_NE(s, nullptr) << line;
        EXPECT_GT(s->count, 0);
        EXPECT_GT(clearance(x, z), s->bound) << line;
        spots.insert(spots.end(), { x, z, s->bound });
    }
    // a bike is at most 0.85 ft either side of the line its rider follows
    load_lines("tracks/sample", timing->first_counting, timing->normal_counting, 2);
    int points = 0;
    for (int slot = 0; slot < lines_store_slots(); slot++)
        for (int i = 0; i < k_line_entries; i++) {
            const LineEntry *e = line_entry(slot, i);
            for (int k = 0; k < e->count; k++, points++)
                for (size_t j = 0; j < spots.size(); j += 3)
                    ASSERT_GT(hypotf(e->points[k].x - spots[j], e->points[k].z - spots[j + 1]), spots[j + 2] + 0.85f)
                        << "a line runs into the statue at " << spots[j] << ", " << spots[j + 1];
        }
    lines_store_free();
    EXPECT_GT(points, 1000);
}

// The starter (five pictures), the finish flagger (four) and a marshal per corner: the fields
// of each entry parse in order, gate numbers name checkpoints, everyone stands off the track.
TEST_F(GameTrack, FlaggersParseInTheirOrder)
{
    FILE *f = fopen((dir + "/flaggers").c_str(), "r");
    ASSERT_NE(f, nullptr);
    float p[6], h, a, d;
    char name[1024];
    ASSERT_EQ(fscanf(f, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &p[0], &p[1], &p[2], &p[3], &p[4], &p[5], &h, &a, &d), 9);
    EXPECT_GT(d, 0);
    EXPECT_GT(clearance(p[0], p[2]), 2);
    EXPECT_GT(clearance(p[3], p[5]), 2);
    EXPECT_LT(hypotf(p[0] - timing->gates[20].x, p[2] - timing->gates[20].z), 100) << "the starter is near the gate";
    for (int k = 0; k < 5; k++) {
        ASSERT_EQ(fscanf(f, " %1023s ", name), 1);
        EXPECT_STREQ(name, k_start_flagger_pictures[k]);
        EXPECT_EQ(picture_channels(name), 4) << name;
    }
    ASSERT_EQ(fscanf(f, " [ %f %f %f ] %f %f ", &p[0], &p[1], &p[2], &h, &a), 5);
    EXPECT_GT(clearance(p[0], p[2]), 2);
    const Checkpoint &finish = timing->checkpoints[0];
    EXPECT_LT(hypotf(p[0] - finish.centre.x, p[2] - finish.centre.z), finish.radius + 10) << "at the finish line";
    for (int k = 0; k < 4; k++) {
        ASSERT_EQ(fscanf(f, " %1023s ", name), 1);
        EXPECT_STREQ(name, k_lap_flagger_pictures[k]);
        EXPECT_EQ(picture_channels(name), 4) << name;
    }
    int workers = 0, g[4];
    char normal[1024], warning[1024];
    while (fscanf(f, " [ %f %f %f ] %f %f %d %d %d %d", &p[0], &p[1], &p[2], &h, &a, &g[0], &g[1], &g[2], &g[3]) == 9) {
        ASSERT_EQ(fscanf(f, " %1023s %1023s ", normal, warning), 2);
        EXPECT_GT(clearance(p[0], p[2]), 2);
        EXPECT_GE(g[0], 0) << "marshal " << workers << " watches no checkpoint";
        for (int k : g)
            EXPECT_TRUE(k >= -1 && k < timing->checkpoint_count) << k;
        EXPECT_EQ(picture_channels(normal), 4);
        EXPECT_EQ(picture_channels(warning), 4);
        workers++;
    }
    EXPECT_TRUE(feof(f)) << "an entry stopped the file early";
    fclose(f);
    EXPECT_GE(workers, 6) << "one at each of the six corners";
}

// The finish line lies across the lap on checkpoint 0, as long as the track is wide.
TEST_F(GameTrack, FinishLineDecalLiesAcrossTheFinish)
{
    std::vector<std::string> lines = read_lines(dir + "/decals");
    ASSERT_EQ(lines.size(), 1u);
    float x, z, angle, size, aspect;
    char name[1024];
    ASSERT_EQ(sscanf(lines[0].c_str(), "[ %f %f ] %f %f %f %1023s ", &x, &z, &angle, &size, &aspect, name), 6);
    const Checkpoint &finish = timing->checkpoints[0];
    EXPECT_LT(hypotf(x - finish.centre.x, z - finish.centre.z), 1.5f);
    // its length runs along (cos, sin): square to the way riders cross the line
    float dl = hypotf(finish.direction.x, finish.direction.z);
    EXPECT_NEAR((cosf(angle) * finish.direction.x + sinf(angle) * finish.direction.z) / dl, 0, 0.02f);
    EXPECT_NEAR(size * aspect, 30, 1) << "the track is 30 ft wide";
    EXPECT_EQ(picture_channels(name), 4);
}

// Six cameras, the first overlooking the gate; every checkpoint belongs to exactly one of them.
TEST_F(GameTrack, CamerasCoverEveryCheckpoint)
{
    std::vector<std::string> lines = read_lines(dir + "/cameras");
    std::vector<int> owner(timing->checkpoint_count, -1);
    std::vector<Vec3> cams;
    for (const std::string &line : lines) {
        float x, y, z, v;
        if (sscanf(line.c_str(), "addcamera %f %f %f", &x, &y, &z) == 3) {
            EXPECT_TRUE(x > 0 && z > 0 && x < t.world_size && z < t.world_size) << line;
            EXPECT_GT(y, 5) << line;
            EXPECT_GT(clearance(x, z), 20) << line;
            cams.push_back(v3(x, y + terrain_height(&t, x, z), z));
        } else if (strncmp(line.c_str(), "gate", 4) == 0) {
            const char *p = line.c_str() + 4;
            int k, used;
            while (sscanf(p, "%d%n", &k, &used) == 1) {
                ASSERT_TRUE(k >= 0 && k < timing->checkpoint_count) << line;
                EXPECT_EQ(owner[k], -1) << "checkpoint " << k << " given twice";
                owner[k] = (int)cams.size();
                p += used;
            }
        } else if (line[0] != '#') {
            ASSERT_TRUE(sscanf(line.c_str(), "fov %f", &v) == 1 || sscanf(line.c_str(), "autofovsize %f", &v) == 1)
                << line;
        }
    }
    ASSERT_EQ(cams.size(), 6u);
    for (int k = 0; k < timing->checkpoint_count; k++) {
        ASSERT_GE(owner[k], 0) << "checkpoint " << k << " has no camera";
        ASSERT_LT(owner[k], 6) << "checkpoint " << k << " after the last camera";
        const Checkpoint &c = timing->checkpoints[k];
        EXPECT_LT(hypotf(c.centre.x - cams[owner[k]].x, c.centre.z - cams[owner[k]].z), 500) << k;
    }
    // the first looks down on the line-up from within 150 ft
    const StartGate &mid = timing->gates[timing->gate_count / 2];
    EXPECT_LT(hypotf(mid.x - cams[0].x, mid.z - cams[0].z), 150);
    EXPECT_GT(cams[0].y, mid.y + 10);
}

// The map is the field from above with row 0 at z = 0: the lap shows opaque where it runs and
// the grass well away from it stays faint.
TEST_F(GameTrack, MapShowsTheTrackWhereItLies)
{
    Image img = {};
    ASSERT_TRUE(image_read((dir + "/map.png").c_str(), &img));
    ASSERT_EQ(img.channels, 4);
    ASSERT_EQ(img.width, img.height);
    float ft = t.world_size / img.width;
    auto alpha = [&](float x, float z) {
        int col = (int)(x / ft), row = (int)(z / ft);
        return img.pixels[((size_t)row * img.width + col) * 4 + 3];
    };
    for (int i = 0; i < layout.lap.n; i += 10)
        ASSERT_GT(alpha(layout.lap.c[i].x, layout.lap.c[i].z), 200) << "lap sample " << i;
    int faint = 0, far = 0;
    for (float z = 10; z < t.world_size - 10; z += 37)
        for (float x = 10; x < t.world_size - 10; x += 37)
            if (clearance(x, z) > 20) {
                far++;
                faint += alpha(x, z) < 160;
            }
    EXPECT_EQ(faint, far);
    image_free(&img);
}

// The gate piece, 3 ft ahead of each place and turned about its hinge anywhere from lying flat
// to standing (either way round), touches neither the bike on its place nor the neighbours';
// moved back onto a bike it does touch, so the check can fail.
TEST_F(GameTrack, GatePieceStandsClearOfTheBikesOnTheGate)
{
    ASSERT_TRUE(bike_world_create());
    const Shape *piece = shape_get(shape_load(k_gate_default_shape));
    ASSERT_NE(piece, nullptr);
    ASSERT_NE(model_get(k_gate_default_model), nullptr);
    EXPECT_EQ(picture_channels(k_gate_default_texture), 3);
    BikeState *bike = build_bike(0, bike_model(0)->name);
    ASSERT_NE(bike, nullptr);
    std::vector<ShapeSphere> spheres(piece->count);
    // the piece's spheres in the world: turned about the hinge, then by the heading
    auto place = [&](const StartGate &g, float hinge, float back) {
        float h = g.heading, px = g.x - (3 - back) * sinf(h), pz = g.z - (3 - back) * cosf(h);
        Shape s = *piece;
        s.spheres = spheres.data();
        s.bound = 0;
        for (int i = 0; i < piece->count; i++) {
            const ShapeSphere &b = piece->spheres[i];
            float y = b.centre[1] * cosf(hinge) - b.centre[2] * sinf(hinge);
            float z = b.centre[1] * sinf(hinge) + b.centre[2] * cosf(hinge);
            float x = b.centre[0];
            spheres[i] = b;
            spheres[i].centre[0] = px + x * cosf(h) + z * sinf(h);
            spheres[i].centre[1] = g.y + y;
            spheres[i].centre[2] = pz - x * sinf(h) + z * cosf(h);
            float reach = sqrtf(spheres[i].centre[0] * spheres[i].centre[0] + spheres[i].centre[1] * spheres[i].centre[1] +
                                spheres[i].centre[2] * spheres[i].centre[2]) + b.radius;
            s.bound = fmaxf(s.bound, reach);
        }
        return s;
    };
    auto touches = [&](const Shape &s) {
        bool hit = tyre_shape_contact(&s, nullptr, &bike->wheel[0], SHAPE_TEST) ||
                   tyre_shape_contact(&s, nullptr, &bike->wheel[1], SHAPE_TEST);
        for (int body : { BODY_FRAME, BODY_UPPER_FORK, BODY_LOWER_FORK, BODY_SWINGARM, BODY_RIDER })
            hit = hit || shape_contact(shape_get(bike->shape[body]), bike->body[body], &s, nullptr, SHAPE_TEST);
        return hit;
    };
    const float standing = 3 * k_pi / 16;
    for (int i = 0; i < timing->gate_count; i++) {
        const StartGate &g = timing->gates[i];
        place_bike(bike, &t, g.x, g.z, g.heading);
        for (int j = i - 1; j <= i + 1; j++) {
            if (j < 0 || j >= timing->gate_count)
                continue;
            for (float hinge : { 0.0f, -standing / 2, -standing, standing })
                EXPECT_FALSE(touches(place(timing->gates[j], hinge, 0)))
                    << "piece " << j << " turned " << hinge << " touches the bike on place " << i;
        }
        EXPECT_TRUE(touches(place(g, -standing, 2.5f))) << "a piece moved back onto the bike must touch it";
    }
    destroy_bike(bike);
    bike_world_destroy();
}

}  // namespace
