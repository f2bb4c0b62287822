#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include <SDL_scancode.h>

#include "platform/input.h"
#include "test_support.h"

using namespace platform_test;

namespace {

class InputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        start_log_capture();
        clear_events();
        clear_input_devices();
        reset_aliases();
        use_fake_clock(10 * 1000000LL);
    }
    void TearDown() override
    {
        clear_events();
        clear_input_devices();
        clock_set_source(nullptr);
        stop_log_capture();
    }
};

std::string name_of(int code)
{
    char buf[1100];
    return key_name(code, buf, sizeof buf);
}

// The fixed key table, written out again by hand so that a slip in the source shows.
struct FixedKey {
    const char *name;
    int scan;
};
const FixedKey k_design_keys[] = {
    { "Esc", 0x1 }, { "0", 0xb }, { "1", 0x2 }, { "2", 0x3 }, { "3", 0x4 }, { "4", 0x5 },
    { "5", 0x6 }, { "6", 0x7 }, { "7", 0x8 }, { "8", 0x9 }, { "9", 0xa },
    { "A", 0x1e }, { "B", 0x30 }, { "C", 0x2e }, { "D", 0x20 }, { "E", 0x12 }, { "F", 0x21 },
    { "G", 0x22 }, { "H", 0x23 }, { "I", 0x17 }, { "J", 0x24 }, { "K", 0x25 }, { "L", 0x26 },
    { "M", 0x32 }, { "N", 0x31 }, { "O", 0x18 }, { "P", 0x19 }, { "Q", 0x10 }, { "R", 0x13 },
    { "S", 0x1f }, { "T", 0x14 }, { "U", 0x16 }, { "V", 0x2f }, { "W", 0x11 }, { "X", 0x2d },
    { "Y", 0x15 }, { "Z", 0x2c },
    { "-", 0xc }, { "=", 0xd }, { "[", 0x1a }, { "]", 0x1b }, { ";", 0x27 }, { "'", 0x28 },
    { "`", 0x29 }, { "\\", 0x2b }, { ",", 0x33 }, { ".", 0x34 }, { "/", 0x35 },
    { "Backspace", 0xe }, { "Tab", 0xf }, { "Enter", 0x1c }, { "Left Ctrl", 0x1d },
    { "Left Shift", 0x2a }, { "Right Shift", 0x36 }, { "Space", 0x39 }, { " ", 0x39 },
    { "Caps Lock", 0x3a }, { "Right Ctrl", 0x11d }, { "Insert", 0x152 }, { "Delete", 0x153 },
    { "Home", 0x147 }, { "End", 0x14f }, { "Page Up", 0x149 }, { "Page Down", 0x151 },
    { "Up", 0x148 }, { "Down", 0x150 }, { "Left", 0x14b }, { "Right", 0x14d },
    { "F1", 0x3b }, { "F2", 0x3c }, { "F3", 0x3d }, { "F4", 0x3e }, { "F5", 0x3f },
    { "F6", 0x40 }, { "F7", 0x41 }, { "F8", 0x42 }, { "F9", 0x43 }, { "F10", 0x44 },
    { "F11", 0x57 }, { "F12", 0x58 }, { "Pause", 0x45 }, { "Num Lock", 0x145 },
    { "Keypad /", 0x135 }, { "Keypad *", 0x37 }, { "Keypad -", 0x4a }, { "Keypad 7", 0x47 },
    { "Keypad 8", 0x48 }, { "Keypad 9", 0x49 }, { "Keypad +", 0x4e }, { "Keypad 4", 0x4b },
    { "Keypad 5", 0x4c }, { "Keypad 6", 0x4d }, { "Keypad 1", 0x4f }, { "Keypad 2", 0x50 },
    { "Keypad 3", 0x51 }, { "Keypad Enter", 0x11c }, { "Keypad 0", 0x52 }, { "Keypad .", 0x53 },
};

} // namespace

// ---------------------------------------------------------------------------------------
// The event queue

TEST_F(InputTest, EventsComeOutInTimeOrder)
{
    EXPECT_TRUE(queue_event(EVENT_KEY_BASE + 0x1e, 1, 3, 0));
    EXPECT_TRUE(queue_event(EVENT_KEY_BASE + 0x30, 1, 1, 500000));
    EXPECT_TRUE(queue_event(EVENT_KEY_BASE + 0x2e, 1, 2, 0));
    Event e;
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.code, EVENT_KEY_BASE + 0x30);
    EXPECT_EQ(e.sec, 1);
    EXPECT_EQ(e.usec, 500000);
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.code, EVENT_KEY_BASE + 0x2e);
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.code, EVENT_KEY_BASE + 0x1e);
    EXPECT_FALSE(next_event(&e));
}

TEST_F(InputTest, EqualTimesKeepTheirArrivalOrder)
{
    queue_event(EVENT_KEY_BASE + 0x1e, 1, 2, 0);
    queue_event('a', 1, 2, 0);
    queue_event(EVENT_KEY_BASE + 0x1e, 0, 2, 0);
    queue_event(EVENT_MOUSE_LEFT, 1, 1, 0);
    Event e;
    int order[4];
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(next_event(&e));
        order[i] = e.code * 2 + e.pressed;
    }
    EXPECT_EQ(order[0], EVENT_MOUSE_LEFT * 2 + 1);
    EXPECT_EQ(order[1], (EVENT_KEY_BASE + 0x1e) * 2 + 1);
    EXPECT_EQ(order[2], 'a' * 2 + 1);
    EXPECT_EQ(order[3], (EVENT_KEY_BASE + 0x1e) * 2 + 0);
}

TEST_F(InputTest, FullQueueDropsNewEventsUntilTheGameReads)
{
    for (int i = 0; i < 256; i++)
        ASSERT_TRUE(queue_event(EVENT_KEY_BASE + 0x39, i & 1, 1, i * 1000)) << i;
    EXPECT_EQ(queued_events(), 256);
    EXPECT_FALSE(queue_event(EVENT_KEY_BASE + 0x1c, 1, 0, 0));      // lost, even though earlier
    EXPECT_FALSE(queue_event(EVENT_KEY_BASE + 0x1c, 1, 5, 0));
    EXPECT_EQ(queued_events(), 256);
    Event e;
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.usec, 0);
    EXPECT_TRUE(queue_event(EVENT_KEY_BASE + 0x1c, 1, 5, 0));
    int n = 0, last = -1;
    while (next_event(&e)) {
        n++;
        last = e.code;
    }
    EXPECT_EQ(n, 256);
    EXPECT_EQ(last, EVENT_KEY_BASE + 0x1c);
}

TEST_F(InputTest, RingWrapsAroundAndStaysSorted)
{
    Event e;
    for (int round = 0; round < 5; round++) {
        for (int i = 0; i < 200; i++)
            ASSERT_TRUE(queue_event(i, 1, round, (199 - i) * 1000));
        long long last = -1;
        for (int i = 0; i < 200; i++) {
            ASSERT_TRUE(next_event(&e));
            long long t = (long long)e.sec * 1000000 + e.usec;
            EXPECT_GE(t, last);
            last = t;
            EXPECT_EQ(e.code, 199 - i);
        }
        EXPECT_FALSE(next_event(&e));
    }
}

TEST_F(InputTest, NextEventBeforeTakesOnlyEventsNotLater)
{
    queue_event(EVENT_KEY_BASE + 0x1e, 1, 5, 0);
    queue_event(EVENT_KEY_BASE + 0x1e, 0, 6, 0);
    Event e;
    EXPECT_FALSE(next_event_before(4, 999999, &e));
    ASSERT_TRUE(next_event_before(5, 0, &e));
    EXPECT_EQ(e.pressed, 1);
    EXPECT_FALSE(next_event_before(5, 500000, &e));
    ASSERT_TRUE(next_event_before(7, 0, &e));
    EXPECT_EQ(e.pressed, 0);
}

// ---------------------------------------------------------------------------------------
// Key names

TEST_F(InputTest, EveryFixedKeyNameRoundTrips)
{
    for (const FixedKey &k : k_design_keys) {
        int code = key_code(k.name);
        EXPECT_EQ(code, EVENT_KEY_BASE + k.scan) << '"' << k.name << '"';
        // key_name writes the fixed table's spelling: the first name of the scan code.
        std::string written = name_of(code);
        const char *first = nullptr;
        for (const FixedKey &f : k_design_keys)
            if (f.scan == k.scan && !first)
                first = f.name;
        EXPECT_EQ(written, first) << '"' << k.name << '"';
        EXPECT_EQ(key_code(written.c_str()), code);
    }
    EXPECT_EQ(name_of(key_code(" ")), "Space");
}

TEST_F(InputTest, LooseNamesIgnoreCaseAndReadUnderscoreAsSpace)
{
    EXPECT_EQ(key_code("keypad_enter"), EVENT_KEY_BASE + 0x11c);
    EXPECT_EQ(key_code("KEYPAD ENTER"), EVENT_KEY_BASE + 0x11c);
    EXPECT_EQ(key_code("keypad\tenter"), EVENT_KEY_BASE + 0x11c);
    EXPECT_EQ(key_code("right_ctrl"), EVENT_KEY_BASE + 0x11d);
    EXPECT_EQ(key_code("page_down"), EVENT_KEY_BASE + 0x151);
    EXPECT_EQ(key_code("num_lock"), EVENT_KEY_BASE + 0x145);
    EXPECT_EQ(key_code("esc"), EVENT_KEY_BASE + 0x01);
    EXPECT_EQ(key_code("_"), EVENT_KEY_BASE + 0x39);
    EXPECT_EQ(key_code("mouse_left"), EVENT_MOUSE_LEFT);
    EXPECT_EQ(key_code("close"), EVENT_CLOSE);
    EXPECT_EQ(key_code("keypad__enter"), -1);
    EXPECT_EQ(key_code("no such key"), -1);
    EXPECT_EQ(key_code(""), -1);
}

TEST_F(InputTest, SpecialNames)
{
    EXPECT_EQ(key_code("Mouse Left"), 8192);
    EXPECT_EQ(key_code("Mouse Middle"), 8193);
    EXPECT_EQ(key_code("Mouse Right"), 8194);
    EXPECT_EQ(key_code("Close"), 57005);
    EXPECT_EQ(name_of(8192), "Mouse Left");
    EXPECT_EQ(name_of(8193), "Mouse Middle");
    EXPECT_EQ(name_of(8194), "Mouse Right");
    EXPECT_EQ(name_of(57005), "Close");
}

TEST_F(InputTest, HexScanCodes)
{
    EXPECT_EQ(key_code("0x1c"), EVENT_KEY_BASE + 0x1c);
    EXPECT_EQ(key_code("0x1ff"), EVENT_KEY_BASE + 0x1ff);
    EXPECT_EQ(key_code("0x200"), -1);
    EXPECT_EQ(name_of(EVENT_KEY_BASE + 0x1ff), "0x1ff");
    EXPECT_EQ(key_code(name_of(EVENT_KEY_BASE + 0x1ff).c_str()), EVENT_KEY_BASE + 0x1ff);
}

TEST_F(InputTest, PlatformNamesFindTheirOwnKeys)
{
    // SDL's names cover keys the fixed table lacks, and never shadow a fixed name.
    EXPECT_EQ(key_code("Left Alt"), EVENT_KEY_BASE + 0x38);
    EXPECT_EQ(key_code("Right Alt"), EVENT_KEY_BASE + 0x138);
    EXPECT_EQ(key_code("Return"), EVENT_KEY_BASE + 0x1c);
    EXPECT_EQ(name_of(EVENT_KEY_BASE + 0x38), "Left Alt");
    for (int scan = 0; scan < 512; scan++) {
        std::string name = name_of(EVENT_KEY_BASE + scan);
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(key_code(name.c_str()), EVENT_KEY_BASE + scan) << name;
    }
}

TEST_F(InputTest, SdlScancodesMapOntoSetOneCodes)
{
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_A), 0x1e);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_ESCAPE), 0x01);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_RETURN), 0x1c);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_KP_ENTER), 0x11c);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_LCTRL), 0x1d);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_RCTRL), 0x11d);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_UP), 0x148);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_DOWN), 0x150);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_LEFT), 0x14b);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_RIGHT), 0x14d);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_KP_DIVIDE), 0x135);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_NUMLOCKCLEAR), 0x145);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_PAUSE), 0x45);
    EXPECT_EQ(scan_code_from_sdl(SDL_SCANCODE_UNKNOWN), -1);
    // Every fixed-table key is reachable from some SDL key.
    for (const FixedKey &k : k_design_keys)
        EXPECT_EQ(scan_code_from_sdl(sdl_from_scan_code(k.scan)), k.scan) << k.name;
}

// ---------------------------------------------------------------------------------------
// Aliases

TEST_F(InputTest, FixedAliasesResolve)
{
    EXPECT_EQ(key_code("cursor-left"), EVENT_MOUSE_LEFT);
    EXPECT_EQ(key_code("cursor-middle"), EVENT_MOUSE_MIDDLE);
    EXPECT_EQ(key_code("cursor-right"), EVENT_MOUSE_RIGHT);
    // Targets on devices resolve once the device exists.
    EXPECT_EQ(key_code("mouse-left"), -1);
    int mouse = add_input_device("Mouse", 3, 5, AXIS_RELATIVE);
    EXPECT_EQ(key_code("mouse-left"), input_device_id(mouse) + 0);
    EXPECT_EQ(key_code("mouse-right"), input_device_id(mouse) + 1);
    EXPECT_EQ(key_code("mouse-middle"), input_device_id(mouse) + 2);
    int stick = add_input_device("Joystick1", 2, 4, AXIS_ABSOLUTE);
    EXPECT_EQ(key_code("joystick-a-2"), input_device_id(stick) + 1);
    EXPECT_EQ(key_code("joystick-b-1"), -1);
}

TEST_F(InputTest, SecondAliasIsIgnoredWithAMessage)
{
    EXPECT_FALSE(define_alias("cursor-left", "Close"));
    EXPECT_TRUE(logged("Second alias for 'cursor-left' ('Close') ignored\n"));
    EXPECT_EQ(key_code("cursor-left"), EVENT_MOUSE_LEFT);

    EXPECT_TRUE(define_alias("throttle-test", "Up"));
    EXPECT_EQ(key_code("throttle-test"), EVENT_KEY_BASE + 0x148);
    EXPECT_FALSE(define_alias("throttle-test", "Down"));
    EXPECT_TRUE(logged("Second alias for 'throttle-test' ('Down') ignored\n"));
    EXPECT_EQ(key_code("throttle-test"), EVENT_KEY_BASE + 0x148);

    // Loading a configuration anew keeps only the fixed aliases.
    reset_aliases();
    EXPECT_EQ(key_code("throttle-test"), -1);
    EXPECT_EQ(key_code("cursor-right"), EVENT_MOUSE_RIGHT);
    EXPECT_TRUE(define_alias("throttle-test", "Down"));
}

// ---------------------------------------------------------------------------------------
// Devices

TEST_F(InputTest, NamesFoldIntoBits16To30)
{
    // "AB": even sum 'A' = 65, odd sum 'B' = 66; (66 * 256 + 65) << 16.
    EXPECT_EQ(fold_device_name("AB"), 0x42410000);
    // "cursor": even c+r+o = 324, odd u+s+r = 346, kept to 8 bits = 90; 90 * 256 + 324 = 0x5b44.
    EXPECT_EQ(fold_device_name("cursor"), 0x5b440000);
    // Bit 31 is masked away: odd 255, even 255 gives 0xffff -> 0x7fff.
    EXPECT_EQ(fold_device_name("\xff\xff"), 0x7fff0000);
    EXPECT_EQ(fold_device_name(""), 0);
}

TEST_F(InputTest, TakenIdentifiersMoveOnBy65536)
{
    // "AxC" and "BxB" have the same even and odd sums.
    ASSERT_EQ(fold_device_name("AxC"), fold_device_name("BxB"));
    int a = add_input_device("AxC", 1, 1, AXIS_ABSOLUTE);
    int b = add_input_device("BxB", 1, 1, AXIS_ABSOLUTE);
    EXPECT_EQ(input_device_id(a), fold_device_name("AxC"));
    EXPECT_EQ(input_device_id(b), fold_device_name("AxC") + 65536);
}

TEST_F(InputTest, ZeroIdentifierMovesOn)
{
    // Even d+d+8 = 256, odd ?+@ = 127: 127 * 256 + 256 = 32768, which bits 16..30 lose.
    ASSERT_EQ(fold_device_name("d?d@8"), 0);
    int d = add_input_device("d?d@8", 1, 1, AXIS_ABSOLUTE);
    EXPECT_EQ(input_device_id(d), 65536);
}

TEST_F(InputTest, IdenticalDevicesAreNumbered)
{
    int a = add_input_device("Logitech Dual Action v1.0", 4, 12, AXIS_ABSOLUTE);
    int b = add_input_device("Logitech Dual Action v1.0", 4, 12, AXIS_ABSOLUTE);
    int c = add_input_device("Logitech Dual Action v1.0", 4, 12, AXIS_ABSOLUTE);
    EXPECT_STREQ(input_device_name(a), "LogitechDualActionv10");
    EXPECT_STREQ(input_device_name(b), "LogitechDualActionv10#2");
    EXPECT_STREQ(input_device_name(c), "LogitechDualActionv10#3");
    EXPECT_NE(input_device_id(a), input_device_id(b));
    EXPECT_NE(input_device_id(b), input_device_id(c));
    EXPECT_EQ(find_input_device("LogitechDualActionv10#2"), b);
    EXPECT_EQ(key_code("LogitechDualActionv10#2.key[3]"), input_device_id(b) + 3);
    EXPECT_EQ(key_code("LogitechDualActionv10#2 button 11"), input_device_id(b) + 11);
}

TEST_F(InputTest, DunselDevicesAreSkipped)
{
    EXPECT_EQ(add_input_device("Nothing", 0, 0, AXIS_ABSOLUTE), -1);
    EXPECT_TRUE(logged("Ignoring Dunsel device"));
    EXPECT_EQ(input_device_count(), 0);
}

TEST_F(InputTest, AxisAndButtonLimits)
{
    int d = add_input_device("Big", 150, 600, AXIS_ABSOLUTE);
    ASSERT_GE(d, 0);
    EXPECT_EQ(input_device_axes(d), 100);
    EXPECT_EQ(input_device_buttons(d), 500);
    EXPECT_TRUE(logged("Wow! This thing has a lot of axes!\nThe first ignored axis is called \"Big axis 100\"\n"));
    EXPECT_TRUE(logged("Wow! This thing has a lot of buttons!\nThe first ignored button is called \"Big button 500\"\n"));
    EXPECT_GE(open_axis("Big axis 99"), 0);
    EXPECT_EQ(open_axis("Big axis 100"), -1);

    captured_log().clear();
    int e = add_input_device("Exact", 100, 500, AXIS_ABSOLUTE);
    EXPECT_EQ(input_device_axes(e), 100);
    EXPECT_EQ(input_device_buttons(e), 500);
    EXPECT_FALSE(logged("Wow!"));
}

TEST_F(InputTest, DeviceButtonNames)
{
    int d = add_input_device("Pad", 2, 12, AXIS_ABSOLUTE);
    int id = input_device_id(d);
    EXPECT_EQ(key_code("Pad.key[3]"), id + 3);
    EXPECT_EQ(key_code("Pad button 11"), id + 11);
    EXPECT_EQ(key_code("Pad button 12"), -1);
    EXPECT_EQ(key_code("Pad.key[-1]"), -1);
    EXPECT_EQ(key_code("Other.key[0]"), -1);
    EXPECT_EQ(name_of(id + 3), "Pad button 3");
    EXPECT_EQ(key_code(name_of(id + 3).c_str()), id + 3);

    int big = add_input_device("Wide", 0, 400, AXIS_ABSOLUTE);
    EXPECT_EQ(key_code("Wide button 255"), input_device_id(big) + 255);
    EXPECT_EQ(key_code("Wide button 256"), -1);
}

TEST_F(InputTest, DeviceButtonsQueueEvents)
{
    int d = add_input_device("Pad", 2, 12, AXIS_ABSOLUTE);
    input_device_button(d, 4, 1, 1, 0);
    input_device_button(d, 12, 1, 1, 0);     // beyond the device's buttons: nothing
    Event e;
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.code, input_device_id(d) + 4);
    EXPECT_EQ(e.pressed, 1);
    EXPECT_FALSE(next_event(&e));
}

// ---------------------------------------------------------------------------------------
// Axes

TEST_F(InputTest, AbsoluteAxesGiveTheirLatestValue)
{
    int d = add_input_device("Stick", 3, 2, AXIS_ABSOLUTE);
    int a = open_axis("Stick.axis[1]");
    int b = open_axis("Stick axis 1");
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_NE(a, b);
    input_device_axis(d, 1, 1000);
    input_device_axis(d, 1, -32767);
    EXPECT_EQ(read_axis(a), -32767.0f);
    EXPECT_EQ(read_axis(a), -32767.0f);
    EXPECT_EQ(read_axis(b), -32767.0f);
    EXPECT_EQ(open_axis("Stick.axis[3]"), -1);
    EXPECT_EQ(open_axis("Nope.axis[0]"), -1);
    close_axis(a);
    close_axis(b);
    EXPECT_EQ(read_axis(a), 0.0f);
}

TEST_F(InputTest, RelativeAxesSumMotionSinceTheLastRead)
{
    int mouse = add_input_device("Mouse", 3, 5, AXIS_RELATIVE);
    input_device_axis(mouse, 0, 50);            // before opening: forgotten
    int x = open_axis("mouse-x");
    int y = open_axis("mouse-y");
    ASSERT_GE(x, 0);
    ASSERT_GE(y, 0);
    input_device_axis(mouse, 0, 3);
    input_device_axis(mouse, 0, -10);
    input_device_axis(mouse, 1, 4);
    EXPECT_EQ(read_axis(x), -7.0f);
    EXPECT_EQ(read_axis(x), 0.0f);
    EXPECT_EQ(read_axis(y), 4.0f);
    close_axis(x);
    close_axis(y);
}

TEST_F(InputTest, CursorAliasesOpenCursorAxes)
{
    int cursor = add_input_device("cursor", 2, 0, AXIS_ABSOLUTE);
    int x = open_axis("cursor-x");
    int y = open_axis("cursor-y");
    input_device_axis(cursor, 0, 320);
    input_device_axis(cursor, 1, 200);
    EXPECT_EQ(read_axis(x), 320.0f);
    EXPECT_EQ(read_axis(y), 200.0f);
}

TEST_F(InputTest, AxisNamesListEveryAxisOnce)
{
    add_input_device("Stick", 2, 2, AXIS_ABSOLUTE);
    add_input_device("Stick", 1, 2, AXIS_ABSOLUTE);
    add_input_device("cursor", 2, 0, AXIS_ABSOLUTE);
    std::vector<std::string> names;
    for (const char *const *p = axis_names(); *p; p++)
        names.push_back(*p);
    std::vector<std::string> expected = { "Stick axis 0", "Stick axis 1", "Stick#2 axis 0",
                                          "cursor axis 0", "cursor axis 1" };
    EXPECT_EQ(names, expected);
    for (const std::string &n : names)
        EXPECT_GE(open_axis(n.c_str()), 0) << n;
}

// ---------------------------------------------------------------------------------------
// Event time of buffered device input

TEST_F(InputTest, DeviceStampsAreNeverInTheFuture)
{
    int d = add_input_device("Stick", 2, 2, AXIS_ABSOLUTE);
    use_fake_clock(10 * 1000000LL);                         // 10.000 s
    long sec, usec;
    input_device_event_time(d, 9500, &sec, &usec);          // in the past: kept
    EXPECT_EQ(sec, 9);
    EXPECT_EQ(usec, 500000);
    EXPECT_EQ(input_device_adjustment(d), 0);
    input_device_event_time(d, 10040, &sec, &usec);         // 40 ms ahead: now
    EXPECT_EQ(sec, 10);
    EXPECT_EQ(usec, 0);
    EXPECT_EQ(input_device_adjustment(d), 40);
    use_fake_clock(10 * 1000000LL + 100000);                // 10.100 s
    input_device_event_time(d, 10090, &sec, &usec);         // 10.090 - 0.040
    EXPECT_EQ(sec, 10);
    EXPECT_EQ(usec, 50000);
}
