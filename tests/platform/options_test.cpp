#include <gtest/gtest.h>

#include <stdlib.h>

#include "platform/input.h"
#include "platform/options.h"
#include "test_support.h"

using namespace platform_test;

namespace {

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override { start_log_capture(); }
    void TearDown() override
    {
        unsetenv("TOVA_OPTIONS");
        options_reset_for_tests();
        stop_log_capture();
    }
    void set_options(const char *text)
    {
        if (text)
            setenv("TOVA_OPTIONS", text, 1);
        else
            unsetenv("TOVA_OPTIONS");
        options_reset_for_tests();
    }
};

} // namespace

TEST_F(OptionsTest, MissingOptionsTakeTheirDefaults)
{
    set_options(nullptr);
    PlatformOptions o = read_platform_options();
    EXPECT_FALSE(o.threaded);
    EXPECT_TRUE(o.dinput);
    EXPECT_TRUE(o.xinput);
    EXPECT_TRUE(o.dinputsticksonly);
    EXPECT_TRUE(logged("Options:\n"));
    EXPECT_TRUE(logged(" threaded: [off]\n"));
    EXPECT_FALSE(logged("unrecognized"));
}

TEST_F(OptionsTest, XinputOffAndThreadedYes)
{
    set_options("[xinput:off][threaded:yes]");
    PlatformOptions o = read_platform_options();
    EXPECT_FALSE(o.xinput);
    EXPECT_TRUE(o.threaded);
    EXPECT_TRUE(o.dinput);
    EXPECT_TRUE(logged(" threaded: [on]\n"));
}

TEST_F(OptionsTest, UnrecognizedValueLogsAndKeepsGamepadsOn)
{
    set_options("[xinput:maybe]");
    PlatformOptions o = read_platform_options();
    EXPECT_TRUE(o.xinput);
    EXPECT_TRUE(logged("unrecognized setting for xinput\n"));
}

TEST_F(OptionsTest, AllFourWordsAreAccepted)
{
    set_options("[a:yes][b:on][c:no][d:off]");
    EXPECT_TRUE(option_bool("a", false));
    EXPECT_TRUE(option_bool("b", false));
    EXPECT_FALSE(option_bool("c", true));
    EXPECT_FALSE(option_bool("d", true));
    EXPECT_FALSE(logged("unrecognized"));
}

TEST_F(OptionsTest, WordsAreCaseSensitive)
{
    set_options("[dinput:OFF]");
    EXPECT_TRUE(option_bool("dinput", true));
    EXPECT_TRUE(logged("unrecognized setting for dinput\n"));
}

TEST_F(OptionsTest, OptionsAreFoundAnywhereInTheText)
{
    set_options("some words [dinputsticksonly:off] more words [sound-rate:22050]");
    EXPECT_FALSE(option_bool("dinputsticksonly", true));
    EXPECT_EQ(option_int("sound-rate", 44100), 22050);
}

TEST_F(OptionsTest, IntegersMustBeDecimalNumbers)
{
    set_options("[sound-channels:-3][sound-rate:fast][sound-mixahead:12x]");
    EXPECT_EQ(option_int("sound-channels", 16), -3);
    EXPECT_EQ(option_int("sound-rate", 44100), 44100);
    EXPECT_TRUE(logged("unrecognized setting for sound-rate\n"));
    EXPECT_EQ(option_int("sound-mixahead", 7), 7);
    EXPECT_TRUE(logged("unrecognized setting for sound-mixahead\n"));
    EXPECT_EQ(option_int("absent", 5), 5);
}

TEST_F(OptionsTest, NameMustBeFollowedByColon)
{
    // "[xinputx:off]" is not "[xinput:".
    set_options("[xinputx:off]");
    EXPECT_TRUE(option_bool("xinput", true));
    EXPECT_FALSE(logged("unrecognized"));
}
