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

#include <stdlib.h>
#include <unistd.h>

#include "common/messages.h"
#include "vfs/vfs.h"

// A fresh home and data directory for the setup files.
struct SetupFiles : SetupValues {
    std::string root;
    void SetUp() override
    {
        SetupValues::SetUp();
        char tmpl[512];
        snprintf(tmpl, sizeof tmpl, "%ssk_setup_XXXXXX", testing::TempDir().c_str());
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        setenv("SK_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
        vfs_reset_for_tests();
        messages_clear();
    }
    void TearDown() override
    {
        vfs_reset_for_tests();
        std::string cmd = "rm -rf '" + root + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        SetupValues::TearDown();
    }
    void write_file(const char *name, const char *text)
    {
        std::string dir = root + "/home/Skorva/setups";
        std::string cmd = "mkdir -p '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        FILE *f = fopen((dir + "/" + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(text, f);
        fclose(f);
    }
};

static int g_after_read_calls;

TEST_F(SetupFiles, WrittenSetupReadsBackIdentical)
{
    read_setup_pair("bike", "crf450(2019)");
    read_setup_pair("stability", "20");
    read_setup_pair("leveling", "33");
    read_setup_pair("name", "Kim");
    read_setup_pair("fork_spring_rate_adjustment", "71");
    read_setup_pair("stop_wheelies", "Front Only");
    std::string first = block();
    ASSERT_TRUE(setup_write_file("mine"));
    EXPECT_STREQ(message_line(0), "Setup written");
    char *text = file_to_string("@setups/mine");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), first);
    xfree(text);

    setup_set_defaults();
    setup_clear_changed();
    g_after_read_calls = 0;
    setup_set_after_read_hook([] { g_after_read_calls++; });
    ASSERT_TRUE(setup_read_file("mine"));
    setup_set_after_read_hook(nullptr);
    EXPECT_EQ(block(), first);
    EXPECT_EQ(g_setup.leveling.value, 33);
    EXPECT_EQ(g_setup.roll_limit_angle.value, 45);
    EXPECT_STREQ(message_line(0), "Setup updated");
    EXPECT_TRUE(setup_changed());
    EXPECT_EQ(g_after_read_calls, 1);
}

TEST_F(SetupFiles, LinesAreSplitAtTheFirstEquals)
{
    write_file("odd", "stability=0\r\nleveling=55\r\nno equals here\n=5\nname=a=b\r\n"
                      "roll_damping=61\nnumber=7");
    ASSERT_TRUE(setup_read_file("odd"));
    EXPECT_EQ(g_setup.roll_limit_angle.value, 90);
    EXPECT_EQ(g_setup.leveling.value, 55);
    EXPECT_STREQ(g_setup.name, "a=b");
    EXPECT_EQ(g_setup.roll_damping.value, 61);
    EXPECT_STREQ(g_setup.number, "7");
}

TEST_F(SetupFiles, MissingOrUnnamedFilesChangeNothing)
{
    std::string before = block();
    setup_clear_changed();
    EXPECT_FALSE(setup_read_file("absent"));
    EXPECT_STREQ(message_line(0), "Error reading setup");
    EXPECT_FALSE(setup_read_file(""));
    EXPECT_FALSE(setup_read_file(nullptr));
    EXPECT_FALSE(setup_changed());
    EXPECT_EQ(block(), before);
    EXPECT_FALSE(setup_write_file(""));
    EXPECT_STREQ(message_line(0), "Error writing setup");
    EXPECT_FALSE(setup_write_file(std::string(600, 'x').c_str()));
}

#include <filesystem>

TEST_F(SetupFiles, OnlyPlainNamesBecomeSetupFiles)
{
    // A setup beside the setups folder, where a name climbing out of it would reach.
    write_file("kept", "leveling=44\n");
    std::string skorva = root + "/home/Skorva";
    FILE *f = fopen((skorva + "/outside_setup").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("leveling=77\n", f);
    fclose(f);
    std::string before = block();
    setup_clear_changed();
    for (const char *name : { "../outside_setup", "../../outside_setup", "sub/mine", "..\\outside_setup", ".hidden",
                              "..", ".", "/tmp/mine" }) {
        messages_clear();
        EXPECT_FALSE(setup_write_file(name)) << name;
        EXPECT_NE(strstr(message_line(0), "is not a setup name"), nullptr) << name;
        EXPECT_FALSE(setup_read_file(name)) << name;
    }
    EXPECT_FALSE(setup_changed());
    EXPECT_EQ(block(), before);
    // Nothing new anywhere: the two files stand as they were.
    int files = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 2);
    // Dots inside a name are plain.
    EXPECT_TRUE(setup_write_file("race.v2"));
    EXPECT_TRUE(setup_read_file("kept"));
    EXPECT_EQ(g_setup.leveling.value, 44);
}
