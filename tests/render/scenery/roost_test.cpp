// Roost particles: emission rounds by density, counts per roost type, flight, fading, death
// below the ground and the fixed pool.
#include <gtest/gtest.h>

#include <math.h>

#include "render/scenery/roost.h"
#include "render/scenery/scenery.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

struct Roost : ::testing::Test {
    Terrain ground = {};
    RoostType type = {};
    void SetUp() override
    {
        ASSERT_TRUE(terrain_create(&ground, 7, 1.0f));
        scenery_set_ground(&ground);
        roost_pool_create(&ground);
        type.state = 1;
        type.texture = 7;
        type.size = 0.5f;
        type.a = type.r = type.g = type.b = 255;
        type.fade_a = 254;             // the default: -2 a tic
    }
    void TearDown() override
    {
        scenery_free_all();
        scenery_set_ground(nullptr);
        terrain_unload(&ground);
        roost_set_density(0);
    }
    bool spawn(float x, float y, float z, float vx, float vy, float vz)
    {
        const float p[3] = { x, y, z }, v[3] = { vx, vy, vz };
        return roost_spawn(&type, p, v);
    }
};

TEST_F(Roost, DensitySetsTheRoundsOfATic)
{
    roost_set_density(0);
    for (int k = 0; k < 200; k++)
        ASSERT_EQ(roost_rounds(), 0);
    roost_set_density(250);
    int threes = 0;
    for (int k = 0; k < 4000; k++) {
        int n = roost_rounds();
        ASSERT_TRUE(n == 2 || n == 3) << n;
        threes += n == 3;
    }
    EXPECT_NEAR(threes / 4000.0, 0.5, 0.04);
    roost_set_density(5000);
    EXPECT_EQ(roost_rounds(), 10) << "clamped to 1000";
}

TEST_F(Roost, ACountOfOneAndAHalfThrowsOneOrTwoButNeverMoreThanTheRounds)
{
    type.count = 1.5f;
    int total = 0;
    for (int k = 0; k < 4000; k++) {
        int n = roost_type_count(&type, 3);
        ASSERT_TRUE(n == 1 || n == 2) << n;
        total += n;
        ASSERT_EQ(roost_type_count(&type, 1), 1);
    }
    EXPECT_NEAR(total / 4000.0, 1.5, 0.04);
}

TEST_F(Roost, ARisingParticleLivesEvenBelowTheGround)
{
    ASSERT_TRUE(spawn(10, -5, 10, 0, 8, 0));     // rises to -4 over 32 tics
    for (int tic = 0; tic < 100; tic++) {
        int billboard_index;
        float v[3];
        ASSERT_TRUE(roost_particle(0, &billboard_index, v));
        bool rising = v[1] > 0;
        roost_update();
        if (rising) {
            ASSERT_EQ(roost_live_count(), 1) << "tic " << tic;
        }
        if (roost_live_count() == 0)
            break;
    }
    EXPECT_EQ(roost_live_count(), 0) << "once falling below the ground it is gone";
}

TEST_F(Roost, FullAlphaFadesOutInOneHundredAndTwentyEightTics)
{
    ASSERT_TRUE(spawn(10, 5000, 10, 0, 0, 0));
    int index;
    float v[3];
    ASSERT_TRUE(roost_particle(0, &index, v));
    for (int tic = 1; tic <= 140; tic++) {
        roost_update();
        int alpha = billboard(index)->rgba[3];
        if (tic == 127) {
            EXPECT_EQ(alpha, 1);
        }
        if (tic >= 128) {
            ASSERT_EQ(alpha, 0) << "tic " << tic;
        }
    }
    EXPECT_EQ(billboard(index)->texture, 7u) << "still flying";
}

TEST_F(Roost, FlightFollowsDragAndGravity)
{
    type.drag = 2;
    type.grow = 1;
    ASSERT_TRUE(spawn(10, 100, 10, 128, 0, 0));
    int index;
    float v[3];
    roost_particle(0, &index, v);
    roost_update();
    roost_particle(0, &index, v);
    EXPECT_FLOAT_EQ(billboard(index)->x, 11) << "moved by its velocity first";
    EXPECT_FLOAT_EQ(v[0], 128 * (1 - 2.0f / 128));
    EXPECT_FLOAT_EQ(v[1], -32.0f / 128);
    EXPECT_FLOAT_EQ(billboard(index)->h, 0.5f + 1.0f / 128);
}

TEST_F(Roost, AnExhaustedPoolDropsParticles)
{
    for (int i = 0; i < ROOST_POOL; i++)
        ASSERT_TRUE(spawn(10, 100, 10, 0, 0, 0));
    EXPECT_FALSE(spawn(10, 100, 10, 0, 0, 0));
    EXPECT_EQ(roost_live_count(), ROOST_POOL);
    int slots = 0;
    for (int i = 0; i < billboard_count(); i++)
        slots += billboard(i)->texture == 7;
    EXPECT_EQ(slots, ROOST_POOL) << "each particle in its own reserved slot";
    EXPECT_FALSE(spawn(NAN, 0, 0, 0, 0, 0));
}
