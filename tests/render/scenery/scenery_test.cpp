// The scenery records as the track files make them, the flaggers' pictures, the decal
// buckets, statues as solid objects and the readers' fuzz corpus.
#include <gtest/gtest.h>

#include <dirent.h>
#include <math.h>

#include <map>
#include <string>

#include "../../bike/ride_fixture.h"
#include "../../fuzz/scenery_fuzz.h"
#include "common/mem.h"
#include "platform/log.h"
#include "render/scenery/decal.h"
#include "render/scenery/flaggers.h"
#include "render/scenery/roost.h"
#include "render/scenery/scenery.h"
#include "terrain/tiles.h"

static std::map<std::string, unsigned> g_textures;
static unsigned test_texture(const char *name)
{
    auto it = g_textures.find(name);
    if (it != g_textures.end())
        return it->second;
    unsigned id = (unsigned)g_textures.size() + 1;
    g_textures[name] = id;
    return id;
}

static std::string g_log;
static void observe(const char *text) { g_log += text; }

struct Scenery : BikeWorld {
    void SetUp() override
    {
        BikeWorld::SetUp();
        g_textures.clear();
        g_log.clear();
        SceneryHooks hooks = {};
        hooks.texture_load = test_texture;
        scenery_set_hooks(&hooks);
        scenery_set_ground(&terrain);
        log_set_observer(observe);
    }
    void TearDown() override
    {
        log_set_observer(nullptr);
        scenery_free_all();
        decals_free(&terrain);
        scenery_set_hooks(nullptr);
        scenery_set_ground(nullptr);
        BikeWorld::TearDown();
    }
    void data_file(const char *name, const char *text)
    {
        FILE *f = fopen((root + "/data/" + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(text, f);
        fclose(f);
    }
    // The ground rises half a foot per foot of x.
    void slope()
    {
        for (int j = 0; j < terrain.dim; j++)
            for (int i = 0; i < terrain.dim; i++)
                terrain_set_height(&terrain, i, j, 0.5f * i * terrain.spacing);
    }
    static int read(int (*reader)(DataFile *), const std::string &text)
    {
        DataFile *f = open_memory_data_file(text.data(), text.size(), false);
        int n = reader(f);
        close_data_file(f);
        return n;
    }
    std::string written(bool (*writer)(DataFile *))
    {
        std::string path = root + "/written";
        DataFile *f = open_data_file(path.c_str(), "w");
        EXPECT_NE(f, nullptr);
        EXPECT_TRUE(writer(f));
        close_data_file(f);
        char *text = file_to_string(path.c_str());
        std::string out = text ? text : "";
        xfree(text);
        return out;
    }
};

TEST_F(Scenery, BillboardsKeepTheirColourPrefixAndStandOnTheGround)
{
    slope();
    int n = read(billboards_load, "[ 10 1 20 ] 8 0.5 #ff0000#banner.png\n[10 0 30] 4 1 #00ff7f#a.png\n"
                                  "[ 12 2 20 ] 6 1 tree.png\n[ 12 nan 20 ] 6 1 broken.png\n[ 1 1 1 ] 1 1 after.png\n");
    ASSERT_EQ(n, 3) << "a non-finite number ends the file like an unparseable entry";
    const Billboard *red = billboard(billboard_first_file());
    EXPECT_EQ(red->rgba[0], 255);
    EXPECT_EQ(red->rgba[1], 0);
    EXPECT_EQ(red->rgba[2], 0);
    EXPECT_EQ(red->rgba[3], 255);
    EXPECT_EQ(red->texture, g_textures["banner.png"]) << "the prefix is not part of the name";
    EXPECT_FLOAT_EQ(red->y, 1 + 5) << "the file's y above the ground at (10, 20)";
    EXPECT_EQ(written(billboards_write), "[10.000000 1.000000 20.000000] 8.000000 0.500000 #ff0000#banner.png\n"
                                         "[10.000000 0.000000 30.000000] 4.000000 1.000000 #00ff7f#a.png\n"
                                         "[12.000000 2.000000 20.000000] 6.000000 1.000000 tree.png\n");
    uint8_t rgb[3];
    const char *rest;
    EXPECT_FALSE(billboard_colour_prefix("#ff00#x.png", rgb, &rest));
    EXPECT_STREQ(rest, "#ff00#x.png") << "an incomplete prefix is part of the name";
}

TEST_F(Scenery, StatueOrientationFollowsTheAngleRules)
{
    slope();
    float m[9];
    statue_orientation(&terrain, 40, 40, 4, m);
    const float identity[9] = { 1, 0, 0, 0, 1, 0, 0, 0, 1 };
    for (int k = 0; k < 9; k++)
        EXPECT_FLOAT_EQ(m[k], identity[k]) << "angle 4 stands upright on the slope";

    statue_orientation(&terrain, 40, 40, -7, m);
    EXPECT_NEAR(m[4], 1, 1e-6) << "turned, not tilted";
    EXPECT_NEAR(m[0], cosf(-7), 1e-6);
    EXPECT_NEAR(m[2], sinf(-7), 1e-6);
    EXPECT_NEAR(m[6], -sinf(-7), 1e-6);

    // Above -2 pi the up axis lies along the ground's normal, and the turn survives the tilt.
    statue_orientation(&terrain, 40, 40, 1, m);
    float len = sqrtf(0.25f + 1);
    EXPECT_NEAR(m[1], -0.5f / len, 1e-5);
    EXPECT_NEAR(m[4], 1 / len, 1e-5);
    EXPECT_NEAR(m[7], 0, 1e-5);
    float forward_x = -m[2], forward_z = -m[8];     // the local -z axis, seen from above
    EXPECT_NEAR(atan2f(-forward_x, -forward_z), 1, 0.1f);
}

TEST_F(Scenery, StatuesReadWriteAndWarnForMissingShapes)
{
    data_file("block.shp", "1\n0 1 0\n1 0.6 20000 100\n");
    int n = read(statues_load, "[ 5 0.5 6 ] 4 @hay.jm @hay.ppm @block.shp\n[ 7 0 8 ] -7 null null @gone.shp\n"
                               "[ 7 0 8 ] inf a b c\n");
    ASSERT_EQ(n, 2);
    EXPECT_NE(statue(0)->shape, 0);
    EXPECT_EQ(statue(1)->shape, 0);
    EXPECT_NE(g_log.find("Warning: missing shape file @gone.shp"), std::string::npos);
    EXPECT_STREQ(statue_model(0), "@hay.jm");
    EXPECT_EQ(statue_model(1), nullptr) << "\"null\" is none";
    EXPECT_EQ(written(statues_write), "[5.000000 0.500000 6.000000] 4.000000 @hay.jm @hay.ppm @block.shp\n"
                                      "[7.000000 0.000000 8.000000] -7.000000 null null @gone.shp\n");
    EXPECT_FALSE(statue_move(0, 1, 0, 1, 0)) << "a solid statue stays put";
    EXPECT_TRUE(statue_move(1, 9, 0, 9, 0));
}

TEST_F(Scenery, AStatueShapeStopsABike)
{
    data_file("generic_frame.shp", "1\n0 0.1 0\n0.4 0.6 20000 100\n");
    data_file("rider.shp", "1\n0 0 0\n0.6 0.6 20000 100\n");
    data_file("wall.shp", "3\n-2 1.5 0\n1.5 0.8 20000 200\n0 1.5 0\n1.5 0.8 20000 200\n2 1.5 0\n1.5 0.8 20000 200\n");
    auto run_into = [&](bool wall) {
        scenery_free_all();
        if (wall)
            statue_add(60, 0, 52, 4, nullptr, nullptr, "@wall.shp");
        scenery_sort_into_grid();
        BikeState *b = bike_on_ground("cr125(2002)");
        EXPECT_NE(b, nullptr);
        if (!b)
            return 0.0;
        for (dBodyID body : b->body)
            dBodySetLinearVel(body, 0, 0, -15);
        for (int k = 0; k < 256; k++) {
            hold_upright(b);
            scenery_gather_near(b);
            bike_touches_world(b, &terrain);
            if (k == 40) {
                EXPECT_EQ(wall, b->near_solid_count == 1);
            }
            bike_world_step();
        }
        return dBodyGetPosition(b->body[BODY_FRAME])[2];
    };
    EXPECT_LT(run_into(false), 45) << "rolls through where the wall would stand";
    EXPECT_GT(run_into(true), 52) << "held in front of the wall";
}

TEST_F(Scenery, AGatePieceStandsAndFallsAboutItsHinge)
{
    // One ball at the free end of a panel modelled lying flat towards the riders (+z).
    data_file("gate.shp", "1\n0 0 2\n0.2 0.6 20000 100\n");
    int piece = scenery_create_gate_piece(nullptr, nullptr, "@gate.shp", 60, 0, 60, 0);
    ASSERT_GE(piece, 0);
    const Statue *s = scenery_gate_piece(piece);
    // Standing (angle 1): the free end lifted towards the riders by 3 pi / 16.
    float a = 3 * (float)M_PI / 16;
    EXPECT_NEAR(s->m[5] * 2, 2 * sinf(a), 1e-5) << "raised";
    EXPECT_NEAR(s->m[8] * 2, 2 * cosf(a), 1e-5) << "still on the riders' side";
    scenery_gate_piece_turn(piece, 0);
    EXPECT_NEAR(s->m[5], 0, 1e-6) << "dropped: lying as modelled";
    EXPECT_NEAR(s->m[8], 1, 1e-6);
    scenery_gate_piece_turn(piece, 1);
    scenery_create_gate_piece(nullptr, nullptr, "@gate.shp", 60, 0, 80, (float)M_PI / 2);
    EXPECT_NEAR(scenery_gate_piece(1)->m[2] * 2, 2 * cosf(a), 1e-5) << "the heading turns the riders' side to +x";
    // A piece standing taller than 3.25 ft is no drop panel: it keeps its own orientation.
    data_file("tower.shp", "1\n0 3 0\n1 0.6 20000 100\n");
    int tower = scenery_create_gate_piece(nullptr, nullptr, "@tower.shp", 70, 0, 60, 0);
    ASSERT_GE(tower, 0);
    EXPECT_NEAR(scenery_gate_piece(tower)->m[4], 1, 1e-6);
    EXPECT_EQ(scenery_create_gate_piece(nullptr, nullptr, nullptr, NAN, 0, 0, 0), -1);
}

TEST_F(Scenery, FlaggersReadTheirPicturesAndClampTheirGates)
{
    std::string text = "[ 10 0 10 ] [ 20 0 10 ] 6 0.5 0 s1 s2 s3 s4 s5\n"
                       "[ 30 0 30 ] 6 0.5 l1 l2 l3 l4\n"
                       "[ 40 0 40 ] 5 0.5 2 7 -9 -1 normal warn\n"
                       "[ 50 0 50 ] 5 0.5 1 -1 -1 -1 normal warn\n";
    DataFile *f = open_memory_data_file(text.data(), text.size(), false);
    EXPECT_EQ(flaggers_load(f, 4), 4);
    close_data_file(f);
    const Flaggers *fl = flaggers();
    ASSERT_EQ(fl->worker_count, 2);
    EXPECT_EQ(fl->workers[0].gates[1], 3) << "clamped to the last checkpoint";
    EXPECT_EQ(fl->workers[0].gates[2], -1);
    EXPECT_EQ(billboard_first_file(), billboard_count()) << "the file's billboards come after the flaggers";

    // A fallen rider whose last gate is 2 puts up the first worker's warning only.
    int down[1] = { 2 };
    FlaggerView view = { 0.5, 1, down, 1 };
    flaggers_apply(&view);
    EXPECT_EQ(billboard(fl->workers[0].billboard)->texture, g_textures["warn"]);
    EXPECT_EQ(billboard(fl->workers[1].billboard)->texture, g_textures["normal"]);
    EXPECT_EQ(billboard(fl->lap_billboard)->texture, g_textures["l2"]) << "half way: the second picture";
    EXPECT_EQ(billboard(fl->start_billboard)->texture, g_textures["s3"]);
    view.down_count = 0;
    view.since_drop = 5;
    flaggers_apply(&view);
    EXPECT_EQ(billboard(fl->workers[0].billboard)->texture, g_textures["normal"]);
    EXPECT_EQ(billboard(fl->start_billboard)->texture, g_textures["s5"]) << "duration 0: the walk is instant";
    EXPECT_FLOAT_EQ(billboard(fl->start_billboard)->x, 20);
}

TEST(StartFlagger, PicturesAndWalkFollowTheClock)
{
    const struct {
        double t;
        int picture;
    } cases[] = { { -1, 0 }, { 0.05, 0 }, { 0.2, 1 }, { 0.5, 2 }, { 2.99, 3 }, { 3.01, 4 } };
    for (auto c : cases)
        EXPECT_EQ(start_flagger_picture(c.t, 2), c.picture) << c.t;
    EXPECT_FLOAT_EQ(start_flagger_progress(2, 2), 0.5f);
    EXPECT_FLOAT_EQ(start_flagger_progress(0.5, 2), 0);
    EXPECT_FLOAT_EQ(start_flagger_progress(9, 2), 1);
    for (float duration : { 0.0f, -3.0f, NAN }) {
        EXPECT_EQ(start_flagger_picture(0.99, duration), 2);
        EXPECT_EQ(start_flagger_picture(1.01, duration), 4) << "no walk: straight to the last picture";
        EXPECT_FLOAT_EQ(start_flagger_progress(1.01, duration), 1);
    }
}

TEST_F(Scenery, ADecalAcrossTheMiddleLinesSitsInSeveralBuckets)
{
    // The field is 256 ft: the middle lines are at 128.
    std::string text = "[ 128 128 ] 0.3 4 2 cross.png\n[ 10 10 ] 0 2 1 corner.png\n[ 1 nan ] 0 1 1 x.png\n";
    DataFile *f = open_memory_data_file(text.data(), text.size(), false);
    EXPECT_TRUE(decals_load(&terrain, f));
    close_data_file(f);
    ASSERT_EQ(terrain.decal_count, 2);
    int count;
    for (int bz = 3; bz <= 4; bz++)
        for (int bx = 3; bx <= 4; bx++) {
            const int *list = decal_bucket(bx, bz, &count);
            ASSERT_EQ(count, 1) << bx << "," << bz;
            EXPECT_EQ(list[0], 0);
        }
    const int *corner = decal_bucket(0, 0, &count);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(corner[0], 1);
    decal_bucket(5, 5, &count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(terrain.decals[0].texture, g_textures["cross.png"]);
}

TEST_F(Scenery, TheReadersFuzzCorpusLeavesNothingNonFinite)
{
    std::string dir = std::string(SK_TEST_DATA_DIR) + "/fuzz-corpus/scenery";
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    int files = 0;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        char *text = file_to_string((dir + "/" + e->d_name).c_str());
        ASSERT_NE(text, nullptr);
        fuzz_scenery((const uint8_t *)text, strlen(text));
        xfree(text);
        files++;
    }
    closedir(d);
    EXPECT_GE(files, 4);
}

// A rear wheel spinning in place throws its tile's roost backwards off the contact; every
// particle is gone once it has fallen back to the ground.
TEST_F(Scenery, ASpinningWheelThrowsRoostBehindIt)
{
    // One bare tile with one roost type (the fixture's terrain owns the tile array).
    terrain.tiles[0] = TileType{};
    terrain.tile_count = 1;
    RoostType &r = terrain.tiles[0].roost[0];
    r.state = 1;
    r.texture = 9;
    r.count = 3;
    r.slip_threshold = 1;
    r.slow_angle = 0.2f, r.fast_angle = 1;
    r.slow_speed = r.fast_speed = 20;     // equal: a step, not 0 / 0
    r.size = 0.3f;
    r.vscale = 0.5f;
    r.randomize = 1;
    r.a = 255;
    r.fade_a = 254;
    roost_pool_create(&terrain);
    roost_set_density(1000);
    BikeState *b = bike_on_ground("cr125(2002)");
    ASSERT_NE(b, nullptr);
    ride(b, 128);       // settled on its wheels
    const float rear_z = (float)dBodyGetPosition(b->body[BODY_REAR_WHEEL])[2];
    for (int k = 0; k < 16; k++) {
        // Spinning as if driving the bike forwards (-z): the contact slips backwards.
        dBodySetAngularVel(b->body[BODY_REAR_WHEEL], -60, 0, 0);
        bike_touches_world(b, &terrain);
        roost_emit(0, b, k);
        bike_contacts_empty();
    }
    roost_set_density(0);
    ASSERT_EQ(roost_live_count(), 16 * 3) << "three a tic from the rear wheel, none from the still front";
    for (int n = 0; n < roost_live_count(); n++) {
        int index;
        float v[3];
        ASSERT_TRUE(roost_particle(n, &index, v));
        EXPECT_GT(v[2], 5) << "thrown backwards";
        EXPECT_GT(billboard(index)->z, rear_z) << "behind the wheel";
        EXPECT_TRUE(isfinite(billboard(index)->y));
    }
    for (int tic = 0; tic < 1024 && roost_live_count() > 0; tic++)
        roost_update();
    EXPECT_EQ(roost_live_count(), 0);
    for (int i = 0; i < billboard_count(); i++)
        EXPECT_EQ(billboard(i)->texture, 0u) << "no slot is left drawn";
}
