// Keys from the window system, through SDL's queue and the frame's wait, into the tic they
// were pressed in. Needs the test display.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "driver/args.h"
#include "driver/bindings.h"
#include "driver/frame_timing.h"
#include "driver/loop.h"
#include "driver_fixture.h"
#include "platform/input.h"
#include "platform/window.h"

// A second connection to the X server, from libX11 loaded at run time (SDL loads it the same
// way), that sends key presses to the game's window as a keyboard would.
struct XKeyboard {
    void *lib = nullptr;
    Display *(*open_display)(const char *) = nullptr;
    int (*close_display)(Display *) = nullptr;
    Status (*send_event)(Display *, Window, Bool, long, XEvent *) = nullptr;
    int (*flush)(Display *) = nullptr;
    KeyCode (*keysym_to_keycode)(Display *, KeySym) = nullptr;
    Window (*root_window)(Display *) = nullptr;

    bool load()
    {
        lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return false;
        open_display = (Display * (*)(const char *)) dlsym(lib, "XOpenDisplay");
        close_display = (int (*)(Display *))dlsym(lib, "XCloseDisplay");
        send_event = (Status(*)(Display *, Window, Bool, long, XEvent *))dlsym(lib, "XSendEvent");
        flush = (int (*)(Display *))dlsym(lib, "XFlush");
        keysym_to_keycode = (KeyCode(*)(Display *, KeySym))dlsym(lib, "XKeysymToKeycode");
        root_window = (Window(*)(Display *))dlsym(lib, "XDefaultRootWindow");
        return open_display && close_display && send_event && flush && keysym_to_keycode && root_window;
    }
    ~XKeyboard()
    {
        if (lib)
            dlclose(lib);
    }
    // The press reaches the X server at once; the game sees it when it next takes its messages.
    bool press(Window window, KeySym key)
    {
        Display *d = open_display(nullptr);
        if (!d)
            return false;
        XKeyEvent k = {};
        k.type = KeyPress;
        k.display = d;
        k.window = window;
        k.root = root_window(d);
        k.time = CurrentTime;
        k.same_screen = True;
        k.keycode = keysym_to_keycode(d, key);
        bool sent = send_event(d, window, True, KeyPressMask, (XEvent *)&k) != 0;
        flush(d);
        close_display(d);
        return sent;
    }
};

static std::vector<float> g_throttle;

static void record_throttle(void)
{
    g_throttle.push_back(control_channels()[CHANNEL_THROTTLE]);
}

struct WindowInput : DriverDirs {
    XKeyboard keyboard;
    Window window = 0;

    void SetUp() override
    {
        DriverDirs::SetUp();
        const char *display = getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "needs a display";
        if (!keyboard.load())
            GTEST_SKIP() << "no libX11 to send keys with";
        clock_set_source(nullptr);      // the wait and SDL's stamps are real time
        loop_reset_for_tests();
        ASSERT_TRUE(open_window("Skorva input test", 320, 240, 24, 0, 16, 0, 0)) << last_error();
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (!SDL_GetWindowWMInfo((SDL_Window *)window_sdl_handle(), &info) || info.subsystem != SDL_SYSWM_X11)
            GTEST_SKIP() << "not an X11 window";
        window = info.info.x11.window;
        for (int i = 0; i < 20; i++) {      // the window is mapped and exposed before the test
            pump_events();
            usleep(5000);
        }
        clear_events();
        bindings_set_defaults();
        bindings_resolve();
        g_throttle.clear();
    }
    void TearDown() override
    {
        loop_set_tic_observer(nullptr);
        bindings_release();
        loop_reset_for_tests();
        if (window_is_open())
            close_window();
        clear_events();
        DriverDirs::TearDown();
    }
};

TEST_F(WindowInput, KeyPressedDuringTheFrameWaitLandsInItsOwnTic)
{
    // 4 frames a second: one frame is 32 tics. The key goes down about 60 ms into the
    // frame's 250 ms, so it belongs to a tic in the first third of the frame; a key stamped
    // when the wait ended would show up only in the last tic (31).
    StartupSettings s;
    settings_defaults(&s, 70);
    s.lock_fps = 4;
    loop_init(&s);
    bool sent = false;
    std::thread key([&] {
        usleep(60000);
        sent = keyboard.press(window, XK_x);
    });
    double step = loop_wait_for_frame();
    key.join();
    ASSERT_TRUE(sent);
    ASSERT_DOUBLE_EQ(step, 0.25);
    loop_set_tic_observer(record_throttle);
    ASSERT_EQ(loop_advance(step), 32);
    int first = -1;
    for (int i = 0; i < (int)g_throttle.size() && first < 0; i++)
        if (g_throttle[i] == 1)
            first = i;
    ASSERT_GE(first, 0) << "the key never arrived";
    EXPECT_GE(first, 3);
    EXPECT_LE(first, 24) << "the press was stamped long after it happened";
}
