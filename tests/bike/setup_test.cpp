#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "bike/setup.h"
#include "common/mem.h"

static std::string block(void)
{
    TextBuf out = {};
    write_setup_text(&out);
    char *t = textbuf_take(&out);
    std::string s = t;
    xfree(t);
    return s;
}

static const char *const k_models[] = { "crf450(2019)", "yz250f(2017)", "yz250f(2008)", "kx250f(2008)", "cr125(2002)" };

struct SetupValues : ::testing::Test {
    void SetUp() override
    {
        setup_set_bike_list(k_models, 5);
        setup_set_defaults();
    }
    void TearDown() override
    {
        setup_set_bike_list(nullptr, 0);
    }
};

TEST_F(SetupValues, StoredAssistsOverrideTheStabilityPreset)
{
    EXPECT_TRUE(read_setup_pair("stability", "0"));
    EXPECT_TRUE(read_setup_pair("leveling", "55"));
    EXPECT_EQ(g_setup.roll_limit_angle.value, 90);
    EXPECT_EQ(g_setup.leveling.value, 55);
    EXPECT_EQ(g_setup.restricted_lock.value, 45);
    EXPECT_EQ(g_setup.direct_steering.value, 1);
}

TEST_F(SetupValues, StabilityIsTruncatedAndInterpolated)
{
    read_setup_pair("stability", "37.9");
    EXPECT_DOUBLE_EQ(g_setup.stability.value, 37.9);
    // Level 37: t = 1.85, 85% of the way from the 20 point to the 40 point.
    EXPECT_NEAR(g_setup.roll_damping.value, 58.5, 1e-9);
    EXPECT_NEAR(g_setup.restricted_lock.value, 10.75, 1e-9);
    EXPECT_NEAR(g_setup.slow_damping_factor.value, 1.425, 1e-9);
    EXPECT_NEAR(g_setup.roll_limit_factor.value, 9.25, 1e-9);
    EXPECT_NEAR(g_setup.land_damping_falloff.value, 0.23125, 1e-9);
    // A stability that does not parse runs no preset.
    read_setup_pair("roll_damping", "12");
    read_setup_pair("stability", "x");
    EXPECT_EQ(g_setup.roll_damping.value, 12);
}

TEST_F(SetupValues, PresetEndsAndOutOfRangeLevels)
{
    apply_stability(80);
    EXPECT_EQ(g_setup.steering_damping.value, 50);
    EXPECT_EQ(g_setup.restricted_lock.value, 2.5);
    apply_stability(250);
    EXPECT_EQ(g_setup.steering_damping.value, 60);
    EXPECT_EQ(g_setup.direct_steering.value, 0.125);
    apply_stability(-30);
    EXPECT_EQ(g_setup.roll_damping.value, 40);
    EXPECT_EQ(g_setup.land_damping_factor.value, 1);
}

TEST_F(SetupValues, BikeNamesIncludingLegacyOnes)
{
    EXPECT_TRUE(read_setup_pair("bike", "yz250f"));
    EXPECT_STREQ(choice_label(&g_setup.bike), "yz250f(2008)");
    EXPECT_TRUE(read_setup_pair("bike", "no such bike"));
    EXPECT_STREQ(choice_label(&g_setup.bike), "yz250f(2008)");
    read_setup_pair("bike", "crf450(2019)");
    EXPECT_STREQ(choice_label(&g_setup.bike), "crf450(2019)");
    // A catalogue without the chosen bike falls back to the default model.
    static const char *const fewer[] = { "cr125(2002)", "yz250f(2017)" };
    setup_set_bike_list(fewer, 2);
    EXPECT_STREQ(choice_label(&g_setup.bike), "yz250f(2017)");
}

TEST_F(SetupValues, ValuesAreClampedCutOrIgnored)
{
    EXPECT_TRUE(read_setup_pair("rider_mass_distribution", "0.9"));
    EXPECT_EQ(g_setup.rider_mass_distribution.value, 0.5);
    EXPECT_TRUE(read_setup_pair("fork_preload_adjustment", "abc"));
    EXPECT_EQ(g_setup.fork_preload_adjustment.value, 50);
    EXPECT_TRUE(read_setup_pair("front_sprocket_adjustment", "-7"));
    EXPECT_EQ(g_setup.front_sprocket_adjustment.value, -2);
    EXPECT_TRUE(read_setup_pair("stop_wheelies", "front only"));
    EXPECT_STREQ(choice_label(&g_setup.stop_wheelies), "Yes");
    EXPECT_TRUE(read_setup_pair("stop_wheelies", "Front Only"));
    EXPECT_STREQ(choice_label(&g_setup.stop_wheelies), "Front Only");
    read_setup_pair("name", std::string(100, 'n').c_str());
    EXPECT_EQ(strlen(g_setup.name), 63u);
    read_setup_pair("number", "12345");
    EXPECT_STREQ(g_setup.number, "123");
    read_setup_pair("rider_texture", std::string(2000, 'r').c_str());
    EXPECT_EQ(strlen(g_setup.rider_texture), 1023u);
    EXPECT_FALSE(read_setup_pair("fov", "90"));
    EXPECT_FALSE(read_setup_pair("Name", "x"));
    EXPECT_FALSE(read_setup_pair(nullptr, "x"));
}

TEST_F(SetupValues, ChangedBlockReadsBackTheSame)
{
    read_setup_pair("bike", "kx250f");
    read_setup_pair("stability", "55");
    read_setup_pair("roll_damping", "61");
    read_setup_pair("head_texture", "helmet-red");
    read_setup_pair("sticky_dab", "Yes");
    read_setup_pair("rear_sprocket_adjustment", "1");
    std::string first = block();
    setup_set_defaults();
    ASSERT_NE(block(), first);
    size_t start = 0;
    while (start < first.size()) {
        size_t nl = first.find('\n', start);
        std::string line = first.substr(start, nl - start);
        size_t eq = line.find('=');
        EXPECT_TRUE(read_setup_pair(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str())) << line;
        start = nl + 1;
    }
    EXPECT_EQ(block(), first);
    EXPECT_EQ(g_setup.roll_damping.value, 61);
}
