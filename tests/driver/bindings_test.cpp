#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/items.h"
#include "common/mem.h"
#include "driver/bindings.h"
#include "platform/input.h"

static const int k_key_x = EVENT_KEY_BASE + 0x2d;
static const int k_key_a = EVENT_KEY_BASE + 0x1e;
static const int k_key_up = EVENT_KEY_BASE + 0x148;
static const int k_key_left = EVENT_KEY_BASE + 0x14b;
static const int k_key_right = EVENT_KEY_BASE + 0x14d;
static const int k_key_esc = EVENT_KEY_BASE + 0x1;

// A controller "pad" with four absolute axes, all centred.
struct Bindings : ::testing::Test {
    int pad = -1;
    void SetUp() override
    {
        clear_input_devices();
        pad = add_input_device("pad", 4, 8, AXIS_ABSOLUTE);
        ASSERT_GE(pad, 0);
        bindings_set_defaults();
    }
    void TearDown() override
    {
        bindings_release();
        clear_input_devices();
    }
    std::string line(int id)
    {
        TextBuf out = {};
        binding_write(id, &out);
        char *t = textbuf_take(&out);
        std::string s = t;
        xfree(t);
        return s;
    }
};

TEST_F(Bindings, DefaultsResolveToTheirKeys)
{
    EXPECT_EQ(bindings_resolve(), BINDING_COUNT);
    EXPECT_EQ(binding_get(BIND_THROTTLE)->key_code, k_key_x);
    EXPECT_EQ(binding_get(BIND_UPSHIFT)->key_code, k_key_up);
    EXPECT_EQ(binding_get(BIND_DAB)->key_code, EVENT_KEY_BASE + 0x11d);
    EXPECT_EQ(binding_get(BIND_REWIND)->key_code, EVENT_KEY_BASE + 0x2b);
    EXPECT_EQ(binding_get(BIND_PAUSE)->key_code, EVENT_KEY_BASE + 0x45);
    EXPECT_EQ(binding_get(BIND_SCREENSHOT)->key_code, EVENT_KEY_BASE + 0x1f);
    EXPECT_STREQ(binding_get(BIND_DAB)->label, "Sit/Dab");
    EXPECT_EQ(binding_find("lean_backward_key"), BIND_LEAN_BACKWARD);
    EXPECT_EQ(binding_find("lean_backwards_key"), -1);
    EXPECT_EQ(binding_get(BINDING_COUNT), nullptr);
    EXPECT_EQ(binding_get(-1), nullptr);
}

TEST_F(Bindings, ThreeValueFormsAreRead)
{
    EXPECT_TRUE(binding_read(BIND_LEFT, "(k)a"));
    EXPECT_EQ(line(BIND_LEFT), "left_key=(k)a\n");
    EXPECT_TRUE(binding_read(BIND_RIGHT, "(0.000000,1.000000)joystick.axis[0]"));
    EXPECT_EQ(line(BIND_RIGHT), "right_key=(0.000000,1.000000)joystick.axis[0]\n");
    EXPECT_STREQ(binding_get(BIND_RIGHT)->key, "");
    EXPECT_TRUE(binding_read(BIND_CLUTCH, "  \tright ctrl"));
    EXPECT_EQ(line(BIND_CLUTCH), "clutch_key=(k)right ctrl\n");
    // "(" that is not an axis pair is a key name like any other.
    EXPECT_TRUE(binding_read(BIND_STEP, "(oops"));
    EXPECT_STREQ(binding_get(BIND_STEP)->key, "(oops");
}

TEST_F(Bindings, UnusableValuesLeaveTheBindingClear)
{
    EXPECT_FALSE(binding_read(BIND_THROTTLE, "(k)"));
    EXPECT_EQ(line(BIND_THROTTLE), "");
    EXPECT_FALSE(binding_read(BIND_THROTTLE, "(nan,1)pad axis 0"));
    EXPECT_EQ(line(BIND_THROTTLE), "");
    EXPECT_FALSE(binding_read(BIND_THROTTLE, "(0,1)"));
    EXPECT_FALSE(binding_read(BIND_THROTTLE, std::string(200, 'k').c_str()));
    EXPECT_EQ(line(BIND_THROTTLE), "");
    EXPECT_FALSE(binding_read(BIND_THROTTLE, ""));
    EXPECT_FALSE(binding_read(BINDING_COUNT, "(k)a"));
    Binding *b = binding_get(BIND_THROTTLE);
    EXPECT_EQ(b->rest, 0);
    EXPECT_EQ(b->full, 1);
}

TEST_F(Bindings, KeysDriveTheirChannels)
{
    bindings_resolve();
    float ch[CONTROL_CHANNEL_COUNT];
    EXPECT_TRUE(bindings_key_event(k_key_x, 1));
    EXPECT_TRUE(bindings_key_event(k_key_left, 1));
    bindings_build_channels(ch);
    EXPECT_EQ(ch[1], 1);
    EXPECT_EQ(ch[0], 1);
    // Left and right together cancel; down-shift is the negative side of the shift channel.
    bindings_key_event(k_key_right, 1);
    bindings_key_event(EVENT_KEY_BASE + 0x150, 1);
    bindings_key_event(EVENT_KEY_BASE + 0x31, 1);       // "n": lean forward
    bindings_build_channels(ch);
    EXPECT_EQ(ch[0], 0);
    EXPECT_EQ(ch[4], -1);
    EXPECT_EQ(ch[8], -1);
    bindings_key_event(k_key_x, 0);
    bindings_build_channels(ch);
    EXPECT_EQ(ch[1], 0);
    bindings_clear_values();
    bindings_build_channels(ch);
    for (float c : ch)
        EXPECT_EQ(c, 0);
    // Command keys are not analog controls.
    EXPECT_FALSE(bindings_key_event(EVENT_KEY_BASE + 0x45, 1));
    EXPECT_TRUE(command_key_is(BIND_PAUSE, EVENT_KEY_BASE + 0x45));
    EXPECT_FALSE(command_key_is(BIND_PAUSE, k_key_x));
    EXPECT_FALSE(command_key_is(BIND_THROTTLE, k_key_x));
}

TEST_F(Bindings, AxisValueRunsFromRestToFull)
{
    binding_read(BIND_THROTTLE, "(0.000000,0.500000)pad axis 1");
    binding_read(BIND_FRONT_BRAKE, "(0.000000,-1.000000)pad axis 2");
    binding_read(BIND_REAR_BRAKE, "(0.250000,0.250000)pad axis 1");
    bindings_resolve();
    ASSERT_GE(binding_get(BIND_THROTTLE)->axis_handle, 0);
    float ch[CONTROL_CHANNEL_COUNT];
    input_device_axis(pad, 1, 8192);                    // 0.25: half way to 0.5
    input_device_axis(pad, 2, -32768);                  // -1: fully on
    bindings_build_channels(ch);
    EXPECT_FLOAT_EQ(ch[1], 0.5f);
    EXPECT_FLOAT_EQ(ch[2], 1.0f);
    EXPECT_FLOAT_EQ(ch[3], 0.0f);                       // rest and full coincide
    input_device_axis(pad, 1, 32767);
    input_device_axis(pad, 2, 16384);
    bindings_build_channels(ch);
    EXPECT_FLOAT_EQ(ch[1], 1.0f);
    EXPECT_FLOAT_EQ(ch[2], 0.0f);
}

TEST_F(Bindings, MissingDeviceOrAxisGivesNoInput)
{
    binding_read(BIND_THROTTLE, "(0.000000,1.000000)stick axis 0");
    binding_read(BIND_CLUTCH, "(0.000000,1.000000)pad axis 9");
    binding_read(BIND_LEFT, "(k)no such key");
    EXPECT_EQ(bindings_resolve(), BINDING_COUNT - 3);
    EXPECT_EQ(binding_get(BIND_THROTTLE)->axis_handle, -1);
    EXPECT_EQ(binding_get(BIND_CLUTCH)->axis_handle, -1);
    EXPECT_EQ(binding_get(BIND_LEFT)->key_code, -1);
    float ch[CONTROL_CHANNEL_COUNT];
    bindings_build_channels(ch);
    EXPECT_EQ(ch[1], 0);
    // The names stay, so the player's choice is written back.
    EXPECT_EQ(line(BIND_THROTTLE), "throttle_key=(0.000000,1.000000)stick axis 0\n");
}

TEST_F(Bindings, CaptureTakesAKeyAQuarterSecondAfterItsPress)
{
    bindings_resolve();
    ASSERT_TRUE(capture_begin(BIND_THROTTLE, 10.0, 0));
    EXPECT_EQ(capture_binding(), BIND_THROTTLE);
    capture_key(k_key_a, 10.5);
    capture_key(k_key_up, 10.6);                        // only the first key counts
    capture_tic(10.7);
    EXPECT_TRUE(capture_active());
    capture_tic(10.75);
    EXPECT_FALSE(capture_active());
    const Binding *b = binding_get(BIND_THROTTLE);
    EXPECT_EQ(b->key_code, k_key_a);
    EXPECT_EQ(key_code(b->key), k_key_a);
    EXPECT_EQ(b->axis[0], 0);
    char name[64];
    EXPECT_EQ(line(BIND_THROTTLE), std::string("throttle_key=(k)") + key_name(k_key_a, name, sizeof name) + "\n");
    EXPECT_TRUE(bindings_key_event(k_key_a, 1));
    EXPECT_FALSE(bindings_key_event(k_key_x, 1));
}

TEST_F(Bindings, EscEndsCaptureWithoutChange)
{
    bindings_resolve();
    capture_begin(BIND_CLUTCH, 0, 0);
    capture_key(k_key_esc, 0.1);
    EXPECT_FALSE(capture_active());
    capture_tic(1.0);
    EXPECT_EQ(line(BIND_CLUTCH), "clutch_key=(k)z\n");
    EXPECT_EQ(capture_binding(), -1);
}

TEST_F(Bindings, CaptureTakesAnAxisMovedFarAndHeld)
{
    binding_read(BIND_LEFT, "(k)left");
    bindings_resolve();
    input_device_axis(pad, 3, -4096);                   // resting a little off centre: -0.125
    ASSERT_TRUE(capture_begin(BIND_LEFT, 0, 0));
    input_device_axis(pad, 3, 16384);                   // 0.5
    capture_tic(0.01);
    input_device_axis(pad, 3, 24576);                   // 0.75: 0.875 from rest
    capture_tic(0.02);
    capture_tic(0.2);
    EXPECT_TRUE(capture_active());
    capture_tic(0.3);
    EXPECT_FALSE(capture_active());
    const Binding *b = binding_get(BIND_LEFT);
    EXPECT_STREQ(b->key, "");
    EXPECT_EQ(b->key_code, -1);
    EXPECT_STREQ(b->axis, "pad axis 3");
    // rest + 1/16 and 15/16 of the travel from -0.125 to 0.75
    EXPECT_FLOAT_EQ(b->rest, -0.125f + 0.0625f * 0.875f);
    EXPECT_FLOAT_EQ(b->full, -0.125f + 0.9375f * 0.875f);
    EXPECT_EQ(line(BIND_LEFT), "left_key=(-0.070312,0.695312)pad axis 3\n");
    // The captured axis drives the control at once.
    float ch[CONTROL_CHANNEL_COUNT];
    bindings_build_channels(ch);
    EXPECT_FLOAT_EQ(ch[0], 1.0f);
    EXPECT_FALSE(bindings_key_event(k_key_left, 1));
}

TEST_F(Bindings, SmallWobbleLosesToAKey)
{
    bindings_resolve();
    capture_begin(BIND_REAR_BRAKE, 0, 0);
    input_device_axis(pad, 0, 16000);                   // under half travel
    capture_tic(0.01);
    capture_key(k_key_a, 0.02);
    capture_tic(0.5);
    EXPECT_FALSE(capture_active());
    EXPECT_EQ(binding_get(BIND_REAR_BRAKE)->key_code, k_key_a);
    EXPECT_STREQ(binding_get(BIND_REAR_BRAKE)->axis, "");
}

TEST_F(Bindings, AnAxisThatSettlesBeforeTheKeyDeadlineWins)
{
    bindings_resolve();
    capture_begin(BIND_THROTTLE, 0, 0);
    capture_key(k_key_a, 0.0);
    input_device_axis(pad, 1, -30000);
    capture_tic(0.01);
    capture_tic(0.24);
    EXPECT_TRUE(capture_active());
    capture_tic(0.27);
    EXPECT_FALSE(capture_active());
    EXPECT_STREQ(binding_get(BIND_THROTTLE)->axis, "pad axis 1");
    EXPECT_EQ(binding_get(BIND_THROTTLE)->key_code, -1);
}

TEST_F(Bindings, CaptureWithoutControllersStillTakesKeys)
{
    clear_input_devices();
    bindings_resolve();
    ASSERT_TRUE(capture_begin(BIND_NEXT, 0, 1));
    capture_key(k_key_up, 1.0);
    capture_tic(1.25);
    EXPECT_FALSE(capture_active());
    EXPECT_TRUE(command_key_is(BIND_NEXT, k_key_up));
    EXPECT_FALSE(capture_begin(BINDING_COUNT, 0, 0));
}

TEST(AxisPosition, ReadingsAreSixteenBitTimesTwoToTheMinus15)
{
    clear_input_devices();
    int d = add_input_device("knob", 1, 0, AXIS_ABSOLUTE);
    ASSERT_GE(d, 0);
    int h = open_axis("knob axis 0");
    ASSERT_GE(h, 0);
    input_device_axis(d, 0, 32767);
    EXPECT_FLOAT_EQ(axis_position(h), 32767.0f / 32768.0f);
    input_device_axis(d, 0, -32768);
    EXPECT_FLOAT_EQ(axis_position(h), -1.0f);
    input_device_axis(d, 0, 16384);
    EXPECT_FLOAT_EQ(axis_position(h), 0.5f);
    close_axis(h);
    clear_input_devices();
}
