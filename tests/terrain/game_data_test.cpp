// The generated default data: both tracks are found and load with every step.
#include "terrain_fixture.h"

#include "common/progress.h"

class GameData : public TerrainFiles {
protected:
    void SetUp() override
    {
        TerrainFiles::SetUp();
        setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
        vfs_reset_for_tests();
    }
};

TEST_F(GameData, BothTracksListed)
{
    ASSERT_EQ(2, track_list());
    EXPECT_STREQ("Practice Field", track_info(0)->name);
    EXPECT_STREQ("tracks/practice", track_info(0)->folder);
    EXPECT_STREQ("Sample Track", track_info(1)->name);
    EXPECT_STREQ("tracks/sample", track_info(1)->folder);
    char *config = file_to_string("@config");
    ASSERT_NE(config, nullptr);
    EXPECT_STREQ("track=tracks/sample\n", config);
    EXPECT_STREQ("tracks/sample", track_choose("tracks/sample"));
    xfree(config);
}

TEST_F(GameData, SampleTrackLoads)
{
    terrain_set_verbosity(2);
    ASSERT_TRUE(terrain_load(&t, "@tracks/sample", 1));
    for (const char *step : { "Loading terrain", "Loading heights", "Loading shading", "Loading shadows",
                              "Loading tileinfo", "Loading tilemap", "Loading decals" })
        EXPECT_TRUE(logged(step)) << step;
    EXPECT_EQ(8, t.size_exponent);
    EXPECT_EQ(34, t.tile_count);
    EXPECT_GT(t.max_height - t.min_height, 20.0f);      // hills round the rim
    int count[34] = {};
    for (int k = 0; k < 256 * 256; k++)
        count[t.tilemap[k]]++;
    EXPECT_GT(count[1] + count[3], 256 * 256 / 2);      // mostly grass
    EXPECT_GT(count[0] + count[2], 500);                 // loose dirt
    EXPECT_GT(count[4], 300);                            // the hard-packed line
    EXPECT_GT(count[5], 100);                            // sand
    // dirt and grass differ in grip, sand rolls heavier
    EXPECT_GT(t.tiles[0].friction_value[0], t.tiles[1].friction_value[0]);
    EXPECT_GT(t.tiles[4].friction_value[0], t.tiles[0].friction_value[0]);
    EXPECT_GT(t.tiles[5].roll_resist[0][0], t.tiles[0].roll_resist[0][0]);
    EXPECT_EQ(0 << 16 | 1 << 8 | 5, t.tiles[6 + 4].blend);    // dirt-grass-0101
    // most ground is lit (the casting itself is checked on a block in the generator's tests)
    int shadowed = 0;
    for (int k = 0; k < t.dim * t.dim; k++)
        shadowed += t.shadow[k] > 100;
    EXPECT_LT(shadowed, t.dim * t.dim / 4);
}

TEST_F(GameData, PracticeTrackLoadsFromItsImage)
{
    ASSERT_TRUE(terrain_load(&t, "@tracks/practice", 1));
    EXPECT_EQ(7, t.size_exponent);
    EXPECT_EQ(0.0f, t.min_height);
    EXPECT_NEAR(5.0f, t.max_height, 1e-4f);
    EXPECT_EQ(0.0f, terrain_height(&t, 20, 20));
}

TEST_F(GameData, SampleTrackLoadReportsEveryStepThroughProgress)
{
    // The generated data, read in place: the load writes nothing.
    static const TerrainProgress k_progress = { progress_log, progress_dots, progress_done };
    terrain_set_progress(&k_progress);
    bool loaded = terrain_load(&t, "@tracks/sample", 1);
    terrain_set_progress(nullptr);
    ASSERT_TRUE(loaded);
    EXPECT_STREQ(progress_shown_text(), "Loading decals...done") << "the last step is shown finished";
    std::string log = log_text();
    size_t at = 0;
    for (const char *step : { "Loading terrain\n", "Loading heights\n", "Loading shading\n", "Loading shadows\n",
                              "Loading tileinfo\n", "Loading tilemap\n", "Loading decals\n" }) {
        size_t found = log.find(std::string("] ") + step, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << step << log;
        at = found;
    }
    // Our own data must load cleanly: a track maker copies it as the example.
    EXPECT_EQ(log.find("warning"), std::string::npos) << log;
    EXPECT_EQ(log.find("Warning"), std::string::npos) << log;
}
