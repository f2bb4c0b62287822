// The session's share in the texture cache's generations: a new generation before a track's
// files load, the older generations released once the session has loaded.
#include "../terrain/terrain_fixture.h"

#include <string>

#include "race/session.h"
#include "race/simulation.h"
#include "race/world.h"

static std::string g_texture_calls;
static void begin_generation(void) { g_texture_calls += "begin|"; }
static void release_unused(void) { g_texture_calls += "release|"; }
static void lighting(const char *) { g_texture_calls += "lighting|"; }
static void loaded(void) { g_texture_calls += "loaded|"; }

class SessionTextures : public TerrainFiles {
protected:
    void SetUp() override
    {
        TerrainFiles::SetUp();
        session_reset_for_tests();
        world_reset_for_tests();
        set_session_seed_for_tests(true, 1234);
        SimulationHooks hooks = {};
        hooks.textures_begin_session = begin_generation;
        hooks.textures_release_unused = release_unused;
        hooks.lighting_load = lighting;
        hooks.session_loaded = loaded;
        simulation_set_hooks(&hooks);
        g_texture_calls.clear();
    }
    void TearDown() override
    {
        session_reset_for_tests();
        clear_rider_slots();
        simulation_set_hooks(nullptr);
        set_session_seed_for_tests(false, 0);
        TerrainFiles::TearDown();
    }
    std::string load(const char *folder)
    {
        g_texture_calls.clear();
        EXPECT_TRUE(session_select_track(folder)) << folder;
        EXPECT_TRUE(load_session(nullptr, false, false, 0, 3, 0)) << folder;
        return g_texture_calls;
    }
};

TEST_F(SessionTextures, ANewGenerationOnlyWhenTheTracksFilesLoad)
{
    put_track("tracks/a");
    put_track("tracks/b");
    // The generation changes before the track's first file, the release comes after the load.
    EXPECT_EQ(load("tracks/a"), "begin|lighting|release|loaded|");
    // A restart keeps the track and its textures: nothing is released from under it.
    EXPECT_EQ(load("tracks/a"), "release|loaded|");
    EXPECT_EQ(load("tracks/b"), "begin|lighting|release|loaded|");
    session_force_reload();
    EXPECT_EQ(load("tracks/b"), "begin|lighting|release|loaded|");
}
