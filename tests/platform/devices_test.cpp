// Device enumeration and event translation over SDL, with no display and no hardware:
// SDL's virtual joysticks stand in for controllers.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <SDL.h>

#include "platform/input.h"
#include "platform/options.h"
#include "platform/platform_internal.h"
#include "test_support.h"

using namespace platform_test;

namespace {

class DevicesTest : public ::testing::Test {
protected:
    bool sdl = false;

    void SetUp() override
    {
        start_log_capture();
        clear_events();
        use_fake_clock(20 * 1000000LL);
        unsetenv("TOVA_OPTIONS");
        options_reset_for_tests();
        sdl = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
    }
    void TearDown() override
    {
        close_input_devices();
        if (sdl)
            SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
        clear_events();
        unsetenv("TOVA_OPTIONS");
        options_reset_for_tests();
        clock_set_source(nullptr);
        stop_log_capture();
    }

    PlatformOptions options(const char *text)
    {
        setenv("TOVA_OPTIONS", text, 1);
        options_reset_for_tests();
        return read_platform_options();
    }

    int attach(SDL_JoystickType type, const char *name, int axes, int buttons, int hats)
    {
        SDL_VirtualJoystickDesc d;
        SDL_zero(d);
        d.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        d.type = (Uint16)type;
        d.naxes = (Uint16)axes;
        d.nbuttons = (Uint16)buttons;
        d.nhats = (Uint16)hats;
        d.name = name;
        return SDL_JoystickAttachVirtualEx(&d);
    }

    std::vector<std::string> device_names()
    {
        std::vector<std::string> names;
        for (int i = 0; i < input_device_count(); i++)
            names.push_back(input_device_name(i));
        return names;
    }

    // The SDL joystick behind a device index of SDL's list, opened by enumeration.
    SDL_Joystick *joystick_at(int sdl_index)
    {
        return SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(sdl_index));
    }
};

SDL_Event key_event(Uint32 type, SDL_Scancode scancode, Uint32 stamp, int repeat = 0)
{
    SDL_Event e;
    SDL_zero(e);
    e.type = type;
    e.key.timestamp = stamp;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = (Uint8)repeat;
    e.key.keysym.scancode = scancode;
    return e;
}

} // namespace

TEST_F(DevicesTest, WithoutControllersOnlyTheCursorIsListed)
{
    ASSERT_TRUE(sdl) << SDL_GetError();
    if (SDL_NumJoysticks() > 0)
        GTEST_SKIP() << "this machine has controllers attached";
    PlatformOptions o = options("");
    EXPECT_EQ(open_input_devices(&o), 1);
    EXPECT_EQ(device_names(), std::vector<std::string>{ "cursor" });
    EXPECT_TRUE(logged("XInput roll call...\n"));
    EXPECT_TRUE(logged("End of XInput roll call\n"));
    close_input_devices();
    EXPECT_TRUE(logged("Closing input devices\n"));
    EXPECT_EQ(input_device_count(), 0);
}

TEST_F(DevicesTest, SticksOnlyOffAddsKeyboardAndMouse)
{
    ASSERT_TRUE(sdl) << SDL_GetError();
    if (SDL_NumJoysticks() > 0)
        GTEST_SKIP() << "this machine has controllers attached";
    PlatformOptions o = options("[dinputsticksonly:off][xinput:off]");
    open_input_devices(&o);
    EXPECT_EQ(device_names(), (std::vector<std::string>{ "Keyboard", "Mouse", "cursor" }));
    EXPECT_FALSE(logged("XInput roll call"));
    int mouse = find_input_device("Mouse");
    EXPECT_EQ(input_device_axes(mouse), 3);
    EXPECT_EQ(key_code("mouse-left"), input_device_id(mouse) + 0);
    EXPECT_EQ(key_code("mouse-right"), input_device_id(mouse) + 1);
    EXPECT_EQ(key_code("mouse-middle"), input_device_id(mouse) + 2);

    // The mouse's axes are relative: motion summed since the last read.
    int x = open_axis("mouse-x");
    ASSERT_GE(x, 0);
    SDL_Event e;
    SDL_zero(e);
    e.type = SDL_MOUSEMOTION;
    e.motion.x = 100;
    e.motion.y = 50;
    e.motion.xrel = 5;
    e.motion.yrel = 1;
    devices_handle_event(&e);
    e.motion.x = 97;
    e.motion.xrel = -3;
    devices_handle_event(&e);
    EXPECT_EQ(read_axis(x), 2.0f);
    EXPECT_EQ(read_axis(x), 0.0f);
    // The cursor follows the pointer, in window pixels (no window: one to one).
    int cx = open_axis("cursor-x");
    EXPECT_EQ(read_axis(cx), 97.0f);

    // A mouse click is both "Mouse Left" and the Mouse device's button 0.
    SDL_zero(e);
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = SDL_BUTTON_LEFT;
    devices_handle_event(&e);
    Event ev;
    ASSERT_TRUE(next_event(&ev));
    EXPECT_EQ(ev.code, EVENT_MOUSE_LEFT);
    ASSERT_TRUE(next_event(&ev));
    EXPECT_EQ(ev.code, key_code("mouse-left"));
}

TEST_F(DevicesTest, GamepadsAndSticksAreEachListedOnce)
{
    ASSERT_TRUE(sdl) << SDL_GetError();
    int before = SDL_NumJoysticks();
    if (before > 0)
        GTEST_SKIP() << "this machine has controllers attached";
    ASSERT_GE(attach(SDL_JOYSTICK_TYPE_FLIGHT_STICK, "Flight Stick 3.0", 3, 4, 1), 0) << SDL_GetError();
    ASSERT_GE(attach(SDL_JOYSTICK_TYPE_GAMECONTROLLER, "Virtual Pad", 6, 15, 0), 0) << SDL_GetError();
    ASSERT_GE(attach(SDL_JOYSTICK_TYPE_FLIGHT_STICK, "Flight Stick 3.0", 3, 4, 1), 0) << SDL_GetError();
    ASSERT_EQ(SDL_NumJoysticks(), 3);

    PlatformOptions o = options("");
    open_input_devices(&o);
    // General controllers first (spaces and "." removed, "#2" for the second), then the
    // gamepads, then the cursor; the pad is not listed by the general enumeration.
    EXPECT_EQ(device_names(), (std::vector<std::string>{ "FlightStick30", "FlightStick30#2",
                                                         "XInputGamepad0", "cursor" }));
    EXPECT_TRUE(logged("Ignoring XInput device \"Virtual Pad\"\n"));
    EXPECT_TRUE(logged("XInputGamepad0 found\n"));
    int pad = find_input_device("XInputGamepad0");
    EXPECT_EQ(input_device_axes(pad), 6);
    EXPECT_EQ(input_device_buttons(pad), 16);
    // Four buttons and one hat (four more buttons).
    EXPECT_EQ(input_device_buttons(find_input_device("FlightStick30")), 8);
    EXPECT_NE(input_device_id(0), input_device_id(1));
}

TEST_F(DevicesTest, WithXinputOffThePadIsAGeneralController)
{
    ASSERT_TRUE(sdl) << SDL_GetError();
    if (SDL_NumJoysticks() > 0)
        GTEST_SKIP() << "this machine has controllers attached";
    ASSERT_GE(attach(SDL_JOYSTICK_TYPE_GAMECONTROLLER, "Virtual Pad", 6, 15, 0), 0) << SDL_GetError();
    PlatformOptions o = options("[xinput:off]");
    open_input_devices(&o);
    EXPECT_EQ(device_names(), (std::vector<std::string>{ "VirtualPad", "cursor" }));
    EXPECT_FALSE(logged("XInput roll call"));
}

TEST_F(DevicesTest, GamepadAxesAndButtonsFollowTheClassicPad)
{
    ASSERT_TRUE(sdl) << SDL_GetError();
    if (SDL_NumJoysticks() > 0)
        GTEST_SKIP() << "this machine has controllers attached";
    ASSERT_GE(attach(SDL_JOYSTICK_TYPE_GAMECONTROLLER, "Virtual Pad", 6, 15, 0), 0) << SDL_GetError();
    PlatformOptions o = options("");
    open_input_devices(&o);
    int pad = find_input_device("XInputGamepad0");
    ASSERT_GE(pad, 0);
    SDL_Joystick *j = joystick_at(0);
    ASSERT_NE(j, nullptr);
    pump_events();
    clear_events();

    int lx = open_axis("XInputGamepad0 axis 0");
    int ly = open_axis("XInputGamepad0.axis[1]");
    int rt = open_axis("XInputGamepad0 axis 5");
    ASSERT_GE(lx, 0);
    ASSERT_GE(ly, 0);
    ASSERT_GE(rt, 0);
    // SDL's virtual pad maps its axes in SDL's order: left x, left y, right x, right y,
    // left trigger, right trigger. Stick up (SDL's negative y) reads positive.
    SDL_JoystickSetVirtualAxis(j, 0, 12000);
    SDL_JoystickSetVirtualAxis(j, 1, -20000);
    SDL_JoystickSetVirtualAxis(j, 5, 32767);
    // And its buttons in SDL's order: a=0, b=1, x=2, y=3, back=4, guide=5, start=6, ...,
    // dpad up=11.
    SDL_JoystickSetVirtualButton(j, 0, 1);      // A: bit 12
    SDL_JoystickSetVirtualButton(j, 6, 1);      // Start: bit 4
    SDL_JoystickSetVirtualButton(j, 11, 1);     // d-pad up: bit 0
    pump_events();
    EXPECT_EQ(read_axis(lx), 12000.0f);
    EXPECT_EQ(read_axis(ly), 20000.0f);
    EXPECT_EQ(read_axis(rt), 32767.0f);

    std::vector<int> codes;
    Event e;
    while (next_event(&e))
        if (e.pressed)
            codes.push_back(e.code - input_device_id(pad));
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, (std::vector<int>{ 0, 4, 12 }));
    EXPECT_EQ(key_code("XInputGamepad0 button 12"), input_device_id(pad) + 12);
}

TEST_F(DevicesTest, StickButtonsAndHatsQueueEvents)
{
    ASSERT_TRUE(sdl) << SDL_GetError();
    if (SDL_NumJoysticks() > 0)
        GTEST_SKIP() << "this machine has controllers attached";
    ASSERT_GE(attach(SDL_JOYSTICK_TYPE_FLIGHT_STICK, "Stick", 2, 3, 1), 0) << SDL_GetError();
    PlatformOptions o = options("");
    open_input_devices(&o);
    int d = find_input_device("Stick");
    ASSERT_GE(d, 0);
    SDL_Joystick *j = joystick_at(0);
    ASSERT_NE(j, nullptr);
    pump_events();
    clear_events();
    int x = open_axis("Stick.axis[0]");
    SDL_JoystickSetVirtualAxis(j, 0, -32768);   // reported from -32,767
    SDL_JoystickSetVirtualButton(j, 2, 1);
    SDL_JoystickSetVirtualHat(j, 0, SDL_HAT_RIGHT);
    pump_events();
    EXPECT_EQ(read_axis(x), -32767.0f);
    std::vector<int> codes;
    Event e;
    while (next_event(&e)) {
        EXPECT_EQ(e.pressed, 1);
        codes.push_back(e.code - input_device_id(d));
    }
    std::sort(codes.begin(), codes.end());
    // Button 2; the hat's "right" is its second button after the stick's three.
    EXPECT_EQ(codes, (std::vector<int>{ 2, 4 }));
}

TEST_F(DevicesTest, KeysBecomeSetOneCodesWithTheirTime)
{
    PlatformOptions o = options("");
    open_input_devices(&o);
    // The SDL tick now corresponds to the platform clock's 20 s.
    use_fake_clock(20 * 1000000LL);
    Uint32 ticks = SDL_GetTicks();
    devices_sync_clock();
    use_fake_clock(20 * 1000000LL + 100000);
    SDL_Event down = key_event(SDL_KEYDOWN, SDL_SCANCODE_RCTRL, ticks + 50);
    SDL_Event up = key_event(SDL_KEYUP, SDL_SCANCODE_RCTRL, ticks + 70);
    devices_handle_event(&up);
    devices_handle_event(&down);
    Event e;
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.code, EVENT_KEY_BASE + 0x11d);
    EXPECT_EQ(e.pressed, 1);
    long long t_down = (long long)e.sec * 1000000 + e.usec;
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.pressed, 0);
    long long t_up = (long long)e.sec * 1000000 + e.usec;
    EXPECT_EQ(t_up - t_down, 20000);
    EXPECT_NEAR((double)t_down, 20050000.0, 2000.0);

    // A stamp past the clock is given the clock's time.
    SDL_Event late = key_event(SDL_KEYDOWN, SDL_SCANCODE_A, ticks + 500);
    devices_handle_event(&late);
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.code, EVENT_KEY_BASE + 0x1e);
    EXPECT_EQ(e.sec, 20);
    EXPECT_EQ(e.usec, 100000);
}

TEST_F(DevicesTest, EnterAndEscTypeTheirCharacters)
{
    PlatformOptions o = options("");
    open_input_devices(&o);
    SDL_Event e = key_event(SDL_KEYDOWN, SDL_SCANCODE_RETURN, 0);
    devices_handle_event(&e);
    e = key_event(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE, 0, 1);     // a repeat
    devices_handle_event(&e);
    Event ev;
    std::vector<int> codes;
    while (next_event(&ev))
        codes.push_back(ev.code);
    EXPECT_EQ(codes, (std::vector<int>{ EVENT_KEY_BASE + 0x1c, 13, EVENT_KEY_BASE + 0x01, 27 }));
}

TEST_F(DevicesTest, TypedTextBecomesLatin1)
{
    PlatformOptions o = options("");
    open_input_devices(&o);
    SDL_Event e;
    SDL_zero(e);
    e.type = SDL_TEXTINPUT;
    // "a", "é" (U+00E9), "€" (U+20AC, dropped), "ÿ" (U+00FF).
    strcpy(e.text.text, "a\xc3\xa9\xe2\x82\xac\xc3\xbf");
    devices_handle_event(&e);
    Event ev;
    std::vector<int> codes;
    while (next_event(&ev)) {
        EXPECT_EQ(ev.pressed, 1);
        codes.push_back(ev.code);
    }
    EXPECT_EQ(codes, (std::vector<int>{ 'a', 0xe9, 0xff }));
}

TEST_F(DevicesTest, QuitIsTheCloseEvent)
{
    PlatformOptions o = options("");
    open_input_devices(&o);
    devices_reset_close_request();
    EXPECT_FALSE(close_requested());
    SDL_Event e;
    SDL_zero(e);
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    devices_handle_event(&e);
    EXPECT_TRUE(close_requested());
    Event ev;
    ASSERT_TRUE(next_event(&ev));
    EXPECT_EQ(ev.code, EVENT_CLOSE);
    EXPECT_EQ(ev.pressed, 1);
    devices_reset_close_request();
    SDL_zero(e);
    e.type = SDL_QUIT;
    devices_handle_event(&e);
    EXPECT_TRUE(close_requested());
}

TEST_F(DevicesTest, PumpWithoutAnythingOpenDoesNothing)
{
    // The headless simulation calls next_event too: it must not need SDL at all.
    EXPECT_FALSE(SDL_WasInit(SDL_INIT_VIDEO));
    queue_event(EVENT_KEY_BASE + 0x39, 1, 0, 0);
    Event e;
    ASSERT_TRUE(next_event(&e));
    EXPECT_FALSE(next_event(&e));
}
