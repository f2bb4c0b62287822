// The track session: loading and keeping a track, the track hash, the line-up rules, start
// positions, and the game running with a track loaded.
#include "../terrain/terrain_fixture.h"

#include <math.h>
#include <sys/wait.h>
#include <zlib.h>

#include <filesystem>
#include <vector>

#include "bike/bike.h"
#include "bike/placement.h"
#include "bike/setup.h"
#include "bike/shape.h"
#include "common/ripemd160.h"
#include "race/race_rules.h"
#include "race/session.h"
#include "race/simulation.h"
#include "race/time_trial.h"
#include "race/world.h"
#include "render/scenery/scenery.h"

class Session : public TerrainFiles {
protected:
    int requests[SESSION_SLOTS] = {};

    void SetUp() override
    {
        TerrainFiles::SetUp();
        session_reset_for_tests();
        world_reset_for_tests();
        set_session_seed_for_tests(true, 1234);
    }
    void TearDown() override
    {
        session_reset_for_tests();
        clear_rider_slots();
        set_session_seed_for_tests(false, 0);
        TerrainFiles::TearDown();
    }
    int count(const std::string &what)
    {
        std::string text = log_text();
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
    }
    bool load(const char *folder, const int *req = nullptr, int time_limit = 0, int laps = 3)
    {
        EXPECT_TRUE(session_select_track(folder)) << folder;
        return load_session(req, false, false, time_limit, laps, 0);
    }
    static std::string read_all(const std::string &path)
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
    // The expected hash: the listed files' bytes, then "timing_gates", then any further files
    // (the statues file and the statues' models).
    std::string expected_hash(const std::string &folder, std::vector<std::string> more = {})
    {
        Ripemd160 ctx;
        ripemd160_init(&ctx);
        std::vector<std::string> files = { "terrain.hf", "terrain.png", "texturelist", "tilemap", "tileinfo",
                                           "nofrills.js", "timing_gates" };
        files.insert(files.end(), more.begin(), more.end());
        for (const std::string &file : files) {
            std::string bytes = read_all(data + "/" + folder + "/" + file);
            ripemd160_update(&ctx, bytes.data(), bytes.size());
        }
        uint8_t digest[20];
        ripemd160_final(&ctx, digest);
        return std::string((const char *)digest, 20);
    }
    static std::string hash_now() { return std::string((const char *)session_track_hash(), 20); }
    // The bikes' collision shapes of the generated data.
    void copy_shapes()
    {
        for (const char *name : { "generic_frame.shp", "generic_ufork.shp", "generic_lfork.shp", "generic_swingarm.shp",
                                  "generic_fwheel.shp", "generic_rwheel.shp", "rider.shp" })
            std::filesystem::copy_file(std::string(SK_GAME_DATA_DIR) + "/" + name, data + "/" + name);
    }
    void copy_generated(const char *folder)
    {
        std::filesystem::create_directories(data + "/" + folder);
        std::filesystem::copy(std::string(SK_GAME_DATA_DIR) + "/" + folder, data + "/" + folder,
                              std::filesystem::copy_options::recursive);
    }
};

static const char *k_four_gates =
    "startinggate:\n"
    "[ 100 0 50 ] 0\n"
    "[ 110 0 50 ] 0\n"
    "[ 120 0 50 ] 0\n"
    "[ 130 0 50 ] 1.5707963\n"
    "checkpoints:\n"
    "10 [ 100 0 100 ] [ 0 0 1 ]\n10 [ 100 0 200 ] [ 0 0 1 ]\n10 [ 100 0 300 ] [ 0 0 1 ]\n"
    "firstlap:\n0 1 2\nnormallap:\n0 1 2\n";

TEST_F(Session, RestartingTheSameTrackKeepsItsFilesAndHash)
{
    put_track("tracks/a");
    put("tracks/a/timing_gates", k_four_gates);
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_TRUE(track_is_loaded());
    EXPECT_STREQ(session_track(), "tracks/a");
    EXPECT_EQ(count("] Scanning\n"), 1);
    std::string first = hash_now();
    EXPECT_EQ(first, expected_hash("tracks/a"));

    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_EQ(count("] Scanning\n"), 1);
    EXPECT_EQ(count("] Deallocating track\n"), 0);
    EXPECT_EQ(count("] Deallocating bikes\n"), 2);
    EXPECT_EQ(hash_now(), first);
    EXPECT_EQ(session_loads_scanned(), 1);
    EXPECT_TRUE(session_timing()->valid);

    session_force_reload();
    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_EQ(count("] Scanning\n"), 2);
    EXPECT_EQ(count("] Deallocating track\n"), 1);
    EXPECT_EQ(hash_now(), first);

    // another track is loaded afresh
    put_track("tracks/b", 100);
    vfs_reset_for_tests();
    track_list();
    ASSERT_TRUE(load("tracks/b", requests));
    EXPECT_EQ(count("] Scanning\n"), 3);
    EXPECT_NE(hash_now(), first);
    EXPECT_FALSE(session_timing()->valid);
}

TEST_F(Session, LoadingLogsItsStepsInOrder)
{
    put_track("tracks/a");
    ASSERT_TRUE(load("tracks/a", requests));
    std::string text = log_text();
    size_t at = 0;
    for (const char *line : { "] Resetting\n", "] Remembering lines\n", "] Cleaning up\n", "] Deallocating bikes\n",
                              "] Finished deallocating bikes\n", "] Scanning\n", "] Loading terrain\n",
                              "] Loading flaggers\n", "] Loading map\n", "] Analyzing lines\n", "] Loading bikes\n",
                              "MB texture memory used\n", "] Max loading delay was " }) {
        size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << text;
        at = found;
    }
    // optional files that are not there show nothing
    EXPECT_EQ(text.find("Loading billboards"), std::string::npos);
    EXPECT_EQ(text.find("Loading statues"), std::string::npos);
    put("tracks/a/billboards", "\n");
    put("tracks/a/statues", "\n");
    session_force_reload();
    ASSERT_TRUE(load("tracks/a", requests));
    text = log_text();
    EXPECT_NE(text.find("] Loading billboards\n"), std::string::npos);
    EXPECT_NE(text.find("] Loading statues\n"), std::string::npos);
}

static std::string g_calls;
static void lighting(const char *folder) { g_calls += std::string("lighting ") + folder + "|"; }
static int three_cameras(DataFile *) { g_calls += "cameras|"; return 3; }
static void sound(int slot, BikeState *) { g_calls += "sound " + std::to_string(slot) + "|"; }
static void loaded(void) { g_calls += "loaded|"; }

TEST_F(Session, TheLayersAboveTakePartThroughHooks)
{
    put_track("tracks/a");
    put("tracks/a/statues", "[1 0 1] 0 @tracks/a/rock.jm null null\n[2 0 1] 0 @tracks/a/tree.jm null null\n"
                            "[3 0 1] 0 @tracks/a/rock.jm null null\n[4 0 1] 0 null null null\n"
                            "[5 0 1] 0 @tracks/a/hay.jm null null\n");
    put("tracks/a/cameras", "\n");
    put("tracks/a/rock.jm", "a model");
    put("tracks/a/tree.jm", "another");
    put("tracks/a/hay.jm", "a third");
    SimulationHooks hooks = {};
    hooks.lighting_load = lighting;
    hooks.cameras_load = three_cameras;
    hooks.engine_sound_create = sound;
    hooks.session_loaded = loaded;
    simulation_set_hooks(&hooks);
    ASSERT_TRUE(bike_world_create());
    g_calls.clear();
    requests[0] = requests[1] = REQUEST_ROBOT;
    bool ok = load("tracks/a", requests);
    int statues = statue_count();
    int cameras = track_camera_count();
    std::string hash = hash_now();
    free_riders();
    free_track();
    bike_world_destroy();
    shape_cache_free();
    simulation_set_hooks(nullptr);
    ASSERT_TRUE(ok);
    EXPECT_EQ(g_calls, "lighting tracks/a|cameras|sound 0|sound 1|loaded|");
    EXPECT_EQ(statues, 5);
    EXPECT_EQ(statue_count(), 0) << "freed with the track";
    EXPECT_EQ(cameras, 3);
    EXPECT_EQ(hash, expected_hash("tracks/a", { "statues", "rock.jm", "tree.jm", "hay.jm" }))
        << "each model once, in the order the statues first use it";
}

TEST_F(Session, TwoHumanGatesGiveOneLocalPlayer)
{
    put_track("tracks/a");
    requests[2] = REQUEST_ROBOT;
    requests[4] = REQUEST_PLAYER;
    requests[6] = REQUEST_PLAYER;
    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_EQ(viewed_slot(), 4);
    EXPECT_EQ(session_slot(4)->request, REQUEST_PLAYER);
    EXPECT_EQ(session_slot(4)->kind, CONTROL_HUMAN);
    EXPECT_STREQ(session_slot(4)->number, "999");
    EXPECT_EQ(session_slot(6)->request, REQUEST_EMPTY);
    EXPECT_EQ(session_slot(6)->kind, -1);
    EXPECT_EQ(session_slot(2)->kind, CONTROL_ROBOT);
    EXPECT_STREQ(session_slot(2)->name, "Roborider");
}

TEST_F(Session, ViewedSlotIsTheFirstRequestedOne)
{
    put_track("tracks/a");
    requests[5] = REQUEST_ROBOT_125;
    requests[9] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_EQ(viewed_slot(), 5);
    EXPECT_NE(strstr(session_slot(5)->bike, "125"), nullptr);
    // nothing requested at all: slot 0 becomes a robot
    int none[SESSION_SLOTS] = {};
    ASSERT_TRUE(load("tracks/a", none));
    EXPECT_EQ(viewed_slot(), 0);
    EXPECT_EQ(session_slot(0)->request, REQUEST_ROBOT);
    EXPECT_EQ(session_slot(0)->kind, CONTROL_ROBOT);
}

TEST_F(Session, FourGatesTenRidersStandInThreeRows)
{
    put_track("tracks/a");
    put("tracks/a/timing_gates", k_four_gates);
    for (int i = 0; i < 10; i++)
        requests[i] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests));
    ASSERT_EQ(session_timing()->gate_count, 4);
    const float row[3] = { 0.625f, 10.625f, 20.625f };
    for (int i = 0; i < 10; i++) {
        const SessionSlot *s = session_slot(i);
        int gate = i % 4;
        float d = row[i / 4];
        if (gate < 3) {
            // heading 0: straight along +z
            EXPECT_NEAR(s->x, 100 + 10 * gate, 1e-4f) << i;
            EXPECT_NEAR(s->z, 50 + d, 1e-4f) << i;
            EXPECT_EQ(s->heading, 0.0f);
        } else {
            // heading pi/2: along +x
            EXPECT_NEAR(s->x, 130 + d, 1e-4f) << i;
            EXPECT_NEAR(s->z, 50, 1e-4f) << i;
        }
        EXPECT_EQ(s->kind, CONTROL_ROBOT);
    }
    EXPECT_EQ(session_slot(10)->kind, -1);
}

TEST_F(Session, WithoutGatesRidersStandFiveApartFromTheCentre)
{
    put_track("tracks/a", 6553, 0, 10);        // 1 ft high everywhere
    for (int i = 0; i < 3; i++)
        requests[i] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests));
    // 2^7 cells of 2 d = 4 ft: the field is 512 ft wide
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(session_slot(i)->x, 256 + 5 * i);
        EXPECT_EQ(session_slot(i)->z, 256);
        EXPECT_EQ(session_slot(i)->heading, 0);
        EXPECT_NEAR(session_slot(i)->y, 1.0f, 1e-3f);
    }
    float x, z, h;
    start_position(nullptr, 100, 7, &x, &z, &h);
    EXPECT_EQ(x, 85);
    EXPECT_EQ(z, 50);
}

// Dropped where it stands clear of everything: a bike whose gate place is taken stands on the
// one before it, not inside it.
TEST_F(Session, ABikeIsDroppedClearOfTheBikesPlacedBeforeIt)
{
    put_track("tracks/a");
    put("tracks/a/timing_gates", "startinggate:\n[ 100 0 100 ] 0\n[ 100 0 100 ] 0\ncheckpoints:\n");
    copy_shapes();
    requests[0] = requests[1] = REQUEST_ROBOT;
    ASSERT_TRUE(bike_world_create());
    bool ok = load("tracks/a", requests);
    float first = session_slot(0)->y, second = session_slot(1)->y;
    BikeState *a = rider_slot(0)->bike, *b = rider_slot(1)->bike;
    bool apart = a && b && !bike_touches_anything(b, session_terrain(), &a, 1);
    free_riders();
    bike_world_destroy();
    shape_cache_free();
    ASSERT_TRUE(ok);
    EXPECT_EQ(first, 0.25f) << "the tyres dip below a flat ground at rest: one step up";
    // its frame (2.1 ft up) clears the first rider's helmet (5.25 ft up)
    EXPECT_GE(second - first, 3.15f);
    EXPECT_LE(second - first, 5.5f);
    EXPECT_TRUE(apart);
}

// A ridge between the wheels: the tyres stand clear, the frame does not.
TEST_F(Session, ABikeIsDroppedClearOfTheGroundUnderItsFrame)
{
    put_track("tracks/a");
    std::vector<uint16_t> samples((size_t)257 * 257, 0);
    // 6 ft high along z = 132, falling to the ground 1 ft either side; the frame's middle
    // sphere (radius 0.4, 2.5 ft up) stands at z = 128 + 3.6
    for (int i = 0; i < 257; i++)
        samples[i + (size_t)132 * 257] = 39321;
    put_inline_hf("tracks/a", 7, 1.0f, 0, 10, samples);
    copy_shapes();
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(bike_world_create());
    bool ok = load("tracks/a", requests);
    const SessionSlot *s = session_slot(0);
    Vec3 frame = {};
    if (BikeState *b = rider_slot(0)->bike) {
        const dReal *p = dBodyGetPosition(b->body[BODY_FRAME]);
        frame = v3((float)p[0], (float)p[1], (float)p[2]);
    }
    free_riders();
    bike_world_destroy();
    shape_cache_free();
    ASSERT_TRUE(ok);
    EXPECT_EQ(s->x, 128);
    EXPECT_EQ(s->z, 128);
    EXPECT_NEAR(frame.z, 131.6f, 1e-4f);
    // 6 * 0.6 = 3.6 ft of ridge under the sphere's centre, whose bottom is 2.1 ft above the bike
    EXPECT_GE(s->y, 1.5f);
    EXPECT_LE(s->y, 6.25f) << "above the ridge's top nothing can touch";
    EXPECT_FALSE(sphere_touches_terrain(session_terrain(), v3(frame.x, frame.y + 0.1f, frame.z), 0.4f));
}

// A player's setup from before the catalogue named its years rides the model it meant; every
// other name stays as it is.
TEST_F(Session, LegacyBikeNamesBecomeTheirCatalogueNames)
{
    static const char *const names[] = { "crf250", "kx250f", "rmz250", "yz250f", "yz250f(2017)", "yz250", "kx250f(2011)" };
    const char *const expected[] = { "crf250(2008)", "kx250f(2008)", "rmz250(2008)", "yz250f(2008)", "yz250f(2017)",
                                     "yz250", "kx250f(2011)" };
    put_track("tracks/a");
    ChoiceItem saved = g_setup.bike;
    setup_set_bike_list(names, 7);
    requests[0] = REQUEST_PLAYER;
    for (int k = 0; k < 7; k++) {
        ASSERT_TRUE(choice_set(&g_setup.bike, names[k]));
        ASSERT_TRUE(load("tracks/a", requests));
        EXPECT_STREQ(session_slot(0)->bike, expected[k]) << names[k];
    }
    g_setup.bike = saved;
}

TEST_F(Session, TimeTrialStartsAt38400)
{
    put_track("tracks/a");
    ASSERT_TRUE(load("tracks/a", nullptr));
    EXPECT_TRUE(session_time_trial());
    EXPECT_EQ(race_tic(), 38400);
    EXPECT_EQ(session_slot(0)->request, REQUEST_PLAYER);
    EXPECT_EQ(session_slot(1)->request, REQUEST_EMPTY);
    EXPECT_EQ(viewed_slot(), 0);
    // placed as attempt 2, then the attempt counted: the next restart stands further back
    EXPECT_EQ(time_trial_attempt(), 3);
    // a race starts its clock at 0 with the gate dropping 13 to 15 s in
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_FALSE(session_time_trial());
    EXPECT_EQ(race_tic(), 0);
    EXPECT_GE(gate_drop_tic(), 13 * 128);
    EXPECT_LT(gate_drop_tic(), 15 * 128);
}

TEST_F(Session, RaceLength)
{
    put_track("tracks/a");
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests, 0, 5));
    EXPECT_EQ(race_lap_limit(), 5);
    EXPECT_EQ(race_half_lap(), 3);
    ASSERT_TRUE(load("tracks/a", requests, 128 * 600, 2));
    EXPECT_EQ(session_time_limit(), 128 * 600);
    EXPECT_EQ(race_lap_limit(), 1000000);
    EXPECT_EQ(race_half_lap(), 1000000);
}

TEST_F(Session, GarbageTimingGatesLeaveTheTrackWithoutTiming)
{
    put_track("tracks/a");
    std::string garbage;
    for (int i = 0; i < 5000; i++)
        garbage.push_back((char)((i * 7919) % 256));
    put("tracks/a/timing_gates", garbage);
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_TRUE(track_is_loaded());
    EXPECT_FALSE(session_timing()->valid);
    EXPECT_EQ(hash_now(), expected_hash("tracks/a"));
}

static std::string gzip(const std::string &plain)
{
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, plain.size()) + 64, '\0');
    z.next_in = (Bytef *)plain.data();
    z.avail_in = (uInt)plain.size();
    z.next_out = (Bytef *)out.data();
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A few kilobytes that unpack to more than 16 MiB are skipped, not read whole; up to 16 MiB
// is read.
TEST_F(Session, CompressedTrackFilesAreReadUpTo16MiB)
{
    const size_t limit = 16 << 20;
    put_track("tracks/a");
    std::string gates = k_four_gates;
    put("tracks/a/timing_gates.gz", gzip(gates + std::string(limit - gates.size(), ' ')));
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_TRUE(session_timing()->valid);
    EXPECT_FALSE(logged("larger than 16 MB"));

    put("tracks/a/timing_gates.gz", gzip(gates + std::string(limit + 1 - gates.size(), ' ')));
    put("tracks/a/statues.gz", gzip("[1 0 1] 0 null null null\n" + std::string(limit, '\n')));
    session_force_reload();
    bool ok = load("tracks/a", requests);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(track_is_loaded());
    EXPECT_FALSE(session_timing()->valid);
    EXPECT_EQ(session_timing()->gate_count, 0);
    EXPECT_EQ(statue_count(), 0) << "the statues file was read";
    EXPECT_TRUE(logged("Warning: 'tracks/a/timing_gates' is larger than 16 MB; the track loads without it\n"));
    EXPECT_TRUE(logged("Warning: 'tracks/a/statues' is larger than 16 MB; the track loads without it\n"));
    EXPECT_EQ(hash_now(), expected_hash("tracks/a")) << "a skipped file adds nothing to the hash";
}

TEST_F(Session, AHeightFieldThatFailsLeavesNoTrack)
{
    put_track("tracks/a");
    put("tracks/bad/terrain.hf", "this is not a height field");
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_FALSE(load("tracks/bad", requests));
    EXPECT_FALSE(track_is_loaded());
    EXPECT_EQ(session_track(), nullptr);
    EXPECT_TRUE(logged("Bad height field parameters"));
    EXPECT_EQ(count("] Deallocating track\n"), 1);
    EXPECT_EQ(hash_now(), std::string(20, '\0'));
    // and the good track loads again afterwards
    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_TRUE(track_is_loaded());
}

// The race goes on on the track the player sees: with nothing chosen an offline load keeps the
// loaded track instead of freeing it and ending on the title view.
TEST_F(Session, WithNoTrackChosenTheLoadedTrackStays)
{
    put_track("tracks/a");
    put("tracks/a/timing_gates", k_four_gates);
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests));
    std::string hash = hash_now();
    ASSERT_TRUE(session_select_track(nullptr));
    EXPECT_EQ(session_selected_track(), nullptr);
    ASSERT_TRUE(load_session(requests, false, false, 0, 3, 0));
    EXPECT_STREQ(session_track(), "tracks/a");
    EXPECT_EQ(count("] Deallocating track\n"), 0);
    EXPECT_EQ(hash_now(), hash);
    EXPECT_TRUE(session_timing()->valid);
    EXPECT_EQ(session_slot(0)->kind, CONTROL_ROBOT);

    // nothing loaded and nothing chosen: the load fails before it tears anything down
    free_track();
    int resets = count("] Resetting\n");
    EXPECT_FALSE(load_session(requests, false, false, 0, 3, 0));
    EXPECT_TRUE(logged("] No track selected\n"));
    EXPECT_EQ(count("] Resetting\n"), resets);
    EXPECT_FALSE(track_is_loaded());
}

// In a server race the ground changes only through the erosion the server relays.
TEST_F(Session, AServerRaceFreezesTheGroundAndAnOfflineLoadFreesIt)
{
    put_track("tracks/a");
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/a", requests));
    Terrain *t = session_terrain();
    EXPECT_FALSE(t->frozen);
    session_set_ground_rule(true);
    EXPECT_TRUE(t->frozen);
    terrain_set_height(t, 5, 5, 3.0f);
    EXPECT_EQ(t->heights[5 + 5 * t->dim], 0.0f);
    // the same track again offline is kept, and its ground is free again
    ASSERT_TRUE(load("tracks/a", requests));
    EXPECT_EQ(count("] Scanning\n"), 1);
    EXPECT_FALSE(t->frozen);
    terrain_set_height(t, 5, 5, 3.0f);
    EXPECT_EQ(t->heights[5 + 5 * t->dim], 3.0f);
}

TEST_F(Session, OnlyListedTracksAreSelected)
{
    put_track("tracks/a");
    EXPECT_FALSE(session_select_track("../../etc"));
    EXPECT_FALSE(session_select_track("tracks/nothere"));
    EXPECT_EQ(session_selected_track(), nullptr);
    EXPECT_TRUE(session_select_track("TRACKS/A"));
    EXPECT_STREQ(session_selected_track(), "tracks/a");
    // start-up: an unknown configured track falls back to the first installed one
    EXPECT_TRUE(track_session_request("abc", false, 1000));
    EXPECT_STREQ(session_track(), "tracks/a");
    EXPECT_EQ(session_slot(0)->kind, CONTROL_ROBOT);
    EXPECT_EQ(race_lap_limit(), 1000);
    // Started as the player (SK_START_AS_PLAYER): slot 0 is this computer's rider.
    EXPECT_TRUE(track_session_request_first("tracks/a", false, 1000, REQUEST_PLAYER));
    EXPECT_EQ(session_slot(0)->kind, CONTROL_HUMAN);
}

TEST_F(Session, TeardownLogsItsLines)
{
    put_track("tracks/a");
    ASSERT_TRUE(load("tracks/a", requests));
    free_riders();
    free_track();
    std::string text = log_text();
    size_t a = text.rfind("] Deallocating bikes\n"), b = text.rfind("] Finished deallocating bikes\n");
    size_t c = text.find("] Deallocating track\n"), d = text.find("] Finished deallocating track\n");
    ASSERT_NE(d, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_LT(c, d);
    EXPECT_FALSE(track_is_loaded());
    EXPECT_EQ(session_terrain()->heights, nullptr);
}

TEST_F(Session, GeneratedTrackHashIsItsFilesInOrder)
{
    copy_generated("tracks/sample");
    copy_generated("tracks/practice");
    // the generated tracks' statues are part of what makes them
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load("tracks/sample", requests));
    std::string sample = hash_now();
    EXPECT_EQ(sample, expected_hash("tracks/sample", { "statues" }));
    ASSERT_TRUE(session_timing()->valid);
    EXPECT_EQ(session_timing()->gate_count, 40);

    ASSERT_TRUE(load("tracks/practice", requests));
    EXPECT_EQ(hash_now(), expected_hash("tracks/practice", { "statues" }));
    EXPECT_TRUE(session_timing()->valid);

    // one byte of the tilemap changed
    std::string path = data + "/tracks/sample/tilemap";
    std::string tilemap = read_all(path);
    tilemap[1000] = (char)(tilemap[1000] ^ 1);
    put("tracks/sample/tilemap", tilemap);
    ASSERT_TRUE(load("tracks/sample", requests));
    EXPECT_NE(hash_now(), sample);
    EXPECT_EQ(hash_now(), expected_hash("tracks/sample", { "statues" }));
}

// A point ridden round the generated lap through every checkpoint's centre passes them all in
// order, lap after lap.
TEST_F(Session, GeneratedTracksAreRiddenRoundInOrder)
{
    copy_generated("tracks/sample");
    copy_generated("tracks/practice");
    for (const char *folder : { "tracks/sample", "tracks/practice" }) {
        requests[0] = REQUEST_ROBOT;
        ASSERT_TRUE(load(folder, requests)) << folder;
        const Timing *t = session_timing();
        ASSERT_TRUE(t->valid) << folder;
        ASSERT_EQ(t->gate_count, 40);
        const Terrain *terrain = session_terrain();
        for (int g = 0; g < 40; g++) {
            const StartGate &gate = t->gates[g];
            EXPECT_GT(gate.x, 0);
            EXPECT_LT(gate.x, terrain->world_size);
            EXPECT_NEAR(gate.y, terrain_height(terrain, gate.x, gate.z), 1e-3f);
        }
        // the sample's gates stand on the track's dirt, not on grass
        if (std::string(folder) == "tracks/sample") {
            for (int g = 0; g < 40; g++) {
                int tile = tile_at(terrain, t->gates[g].x, t->gates[g].z);
                EXPECT_TRUE(tile != 1 && tile != 3) << g << " stands on grass";
            }
        }
        GatePasses p = {};
        float x = t->gates[0].x, z = t->gates[0].z;
        int tic = 0, passes = 0;
        int target = lap_end_position(t, 3) + 1;
        for (int k = 0; k < target; k++) {
            const Checkpoint &c = t->checkpoints[position_checkpoint(t, k)];
            // ride in 1-ft steps to a point just past the checkpoint's centre
            float tx = c.centre.x + c.direction.x, tz = c.centre.z + c.direction.z;
            int steps = (int)ceilf(hypotf(tx - x, tz - z));
            for (int s = 1; s <= steps; s++) {
                float px = x + (tx - x) * s / steps, pz = z + (tz - z) * s / steps;
                int q = gate_passing_step(t, &p, px, pz, ++tic);
                if (q >= 0) {
                    EXPECT_EQ(q, passes) << folder;
                    passes++;
                }
            }
            x = tx;
            z = tz;
        }
        EXPECT_EQ(passes, target) << folder;
        EXPECT_EQ(laps_completed(t, p.count), 3) << folder;
        passes_free(&p);
    }
}

// ---- the game itself

class SessionGame : public Session {
protected:
    struct Run {
        int status;
        std::string out, err, log;
    };
    void SetUp() override
    {
        Session::SetUp();
        if (!getenv("DISPLAY"))
            GTEST_SKIP() << "needs a display";
        // The game counts its data as found by its main font.
        std::filesystem::copy_file(std::string(SK_GAME_DATA_DIR) + "/font.png", data + "/font.png");
    }
    Run run(const std::string &args, int frames)
    {
        std::string cmd = "env -u TOVA_LOGFILE SK_QUIT_AFTER_FRAMES=" + std::to_string(frames) + " '" + SK_GAME_EXE +
                          "' --nosound --lock-fps 60 " + args + " >'" + root + "/out' 2>'" + root + "/err'";
        int rc = system(cmd.c_str());
        Run r;
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        r.out = read_all(root + "/out");
        r.err = read_all(root + "/err");
        r.log = read_all(home + "/Skorva/lastlog.txt");
        return r;
    }
    void put_home_config(const std::string &text)
    {
        FILE *f = fopen((home + "/Skorva/config").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs(text.c_str(), f);
        fclose(f);
    }
    // Counts whole "P6" frames; -1 when the stream is not exactly a run of them.
    static int ppm_frames(const std::string &s)
    {
        size_t at = 0;
        int frames = 0;
        while (at < s.size()) {
            int w = 0, h = 0, used = 0;
            if (sscanf(s.c_str() + at, "P6\n%d %d\n255\n%n", &w, &h, &used) != 2 || used == 0 || w <= 0 || h <= 0)
                return -1;
            at += used + (size_t)w * h * 3;
            if (at > s.size())
                return -1;
            frames++;
        }
        return frames;
    }
};

TEST_F(SessionGame, RecordVideoWritesOneFramePerFrameWithATrack)
{
    copy_generated("tracks/practice");
    Run r = run("--record-video --track tracks/practice", 4);
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_NE(r.log.find("] Scanning\n"), std::string::npos) << r.log;
    EXPECT_EQ(ppm_frames(r.out), 4) << r.out.size();
    EXPECT_NE(r.log.find("] Deallocating track\n"), std::string::npos);
}

TEST_F(SessionGame, ABrokenTrackLeavesTheTitleView)
{
    put("tracks/bad/terrain.hf", "12 nonsense");
    Run r = run("--record-video --track tracks/bad", 3);
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_NE(r.log.find("Bad height field parameters\n"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("Error reading heights\n"), std::string::npos);
    EXPECT_EQ(r.out, "") << "the title view is not captured";
}

TEST_F(SessionGame, GarbageTimingGatesStillRace)
{
    copy_generated("tracks/practice");
    put("tracks/practice/timing_gates", std::string("startinggate:\n[ 1 2 \0\0 garbage\n]]]", 35));
    Run r = run("--record-video --track tracks/practice", 2);
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(ppm_frames(r.out), 2);
}

// Scenery files of garbage: non-finite numbers, a walk of no length, missing models, textures
// and shapes, objects a billion feet away. The track loads, warns of the shape and rides.
TEST_F(SessionGame, GarbageSceneryStillRaces)
{
    copy_generated("tracks/practice");
    put("tracks/practice/flaggers", "[ 1 0 1 ] [ 2 0 2 ] 5 0.5 0 a b c d e\n[ 3 0 3 ] 5 0.5 f g h i\n"
                                    "[ 4 0 4 ] 5 0.5 99 -99 nan 2 n w\n[ nan 0 0 ] 1 1 0 0 0 0 n w\n");
    put("tracks/practice/billboards", "[ 1e9 0 1e9 ] 10 1 #zz0000#x.png\n[ -1e9 0 5 ] 1e9 1 @missing.png\n"
                                      "[ 1 nan 1 ] 1 1 x.png\n");
    put("tracks/practice/statues", "[ 40 0 40 ] 0 @missing.jm @missing.ppm @missing.shp\n"
                                   "[ 1e9 0 -1e9 ] -7 null null null\n[ inf 0 0 ] 0 a b c\n");
    put("tracks/practice/decals", "[ 1e9 1e9 ] 0 1e9 1e9 @missing.png\n[ nan 0 ] 0 1 1 x\n");
    Run r = run("--record-video --track tracks/practice", 2);
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(ppm_frames(r.out), 2);
    EXPECT_NE(r.log.find("Warning: missing shape file @missing.shp"), std::string::npos) << r.log;
}

// A player names a track by its folder (with or without "tracks/" and a trailing "/") or by
// its name; the track that loads is written back as its folder. Any other name is reported
// and the first listed track loads, leaving the configured one in the file.
TEST_F(SessionGame, TheTrackOptionTakesFoldersAndNames)
{
    copy_generated("tracks/sample");
    copy_generated("tracks/practice");
    mkdir((home + "/Skorva").c_str(), 0777);
    for (const char *name : { "sample", "Sample Track", "tracks/sample/" }) {
        put_home_config("track=tracks/practice\n");
        Run r = run(std::string("--debug --track '") + name + "'", 2);
        ASSERT_EQ(r.status, 0) << r.log;
        EXPECT_NE(r.log.find("] Start track tracks/sample (Sample Track)\n"), std::string::npos) << name << "\n" << r.log;
        EXPECT_EQ(r.err.find("not found"), std::string::npos) << name << ": " << r.err;
        EXPECT_NE(read_home("config").find("\ntrack=tracks/sample\n"), std::string::npos) << name;
    }
    put_home_config("track=tracks/sample\n");
    Run r = run("--debug --track tracks/nope", 2);
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(r.err, "Track 'tracks/nope' not found\n");
    EXPECT_NE(r.log.find("] Track 'tracks/nope' not found\n"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("] Start track tracks/practice (Practice Field)\n"), std::string::npos) << r.log;
    EXPECT_NE(read_home("config").find("\ntrack=tracks/sample\n"), std::string::npos) << "the configured track stays";
}
