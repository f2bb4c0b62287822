// The window and its GL context under a real X display (Xvfb through ./test.sh).
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <SDL.h>
#include <SDL_opengl.h>

#include "platform/input.h"
#include "platform/options.h"
#include "platform/window.h"
#include "test_support.h"

using namespace platform_test;

namespace {

bool have_display()
{
    const char *d = getenv("DISPLAY");
    return d && *d;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!have_display())
            GTEST_SKIP() << "no DISPLAY: run through ./test.sh (scripts/with-display.sh)";
        start_log_capture();
        clear_events();
        unsetenv("TOVA_OPTIONS");
        options_reset_for_tests();
    }
    void TearDown() override
    {
        close_window();     // also quits the video a mode list started
        clear_events();
        unsetenv("TOVA_OPTIONS");
        options_reset_for_tests();
        stop_log_capture();
    }

    // Clears the back buffer, reads its centre pixel, and presents the frame.
    void clear_and_read(float r, float g, float b, unsigned char out[4])
    {
        int w = 0, h = 0;
        ASSERT_TRUE(begin_frame(&w, &h));
        glViewport(0, 0, w, h);
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glFinish();
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        memset(out, 0, 4);
        glReadPixels(w / 2, h / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, out);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
        end_frame();
    }
};

} // namespace

TEST_F(WindowTest, ClearsToAColourAndReadsItBack)
{
    ASSERT_TRUE(open_window("Skorva test", 320, 240, 24, 0, 24, 0, 0)) << last_error();
    EXPECT_TRUE(window_is_open());
    EXPECT_TRUE(logged("Choosing pixel format\n"));
    EXPECT_TRUE(logged("Setting pixel format "));
    EXPECT_TRUE(logged("Creating OpenGL context\n"));
    EXPECT_TRUE(logged("Display scaling disabled"));
    int w = 0, h = 0;
    ASSERT_TRUE(begin_frame(&w, &h));
    end_frame();
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    // A compatibility context: legacy calls work.
    int depth = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depth);
    EXPECT_GE(depth, 16);

    unsigned char px[4];
    clear_and_read(1.0f, 0.5f, 0.25f, px);
    EXPECT_NEAR(px[0], 255, 1);
    EXPECT_NEAR(px[1], 128, 1);
    EXPECT_NEAR(px[2], 64, 1);
    // A second frame after the swap: the new colour, not the old one.
    clear_and_read(0.0f, 0.0f, 1.0f, px);
    EXPECT_NEAR(px[0], 0, 1);
    EXPECT_NEAR(px[1], 0, 1);
    EXPECT_NEAR(px[2], 255, 1);

    close_window();
    EXPECT_FALSE(window_is_open());
    EXPECT_TRUE(logged("Closing input devices\n"));
    EXPECT_TRUE(logged("Destroying window\n"));
    int w2, h2;
    EXPECT_FALSE(begin_frame(&w2, &h2));
}

TEST_F(WindowTest, SixteenBitColour)
{
    ASSERT_TRUE(open_window("Skorva 16", 64, 64, 16, 0, 16, 0, 0)) << last_error();
    unsigned char px[4];
    clear_and_read(1.0f, 1.0f, 1.0f, px);
    EXPECT_GE(px[0], 248);
    EXPECT_GE(px[1], 252);
    EXPECT_GE(px[2], 248);
}

TEST_F(WindowTest, NoFrameWhileHidden)
{
    ASSERT_TRUE(open_window("Skorva hidden", 200, 100, 32, 0, 24, 0, 0)) << last_error();
    SDL_HideWindow((SDL_Window *)window_sdl_handle());
    int w, h;
    EXPECT_FALSE(begin_frame(&w, &h));
    end_frame();        // no frame is open: nothing to present or release
    SDL_ShowWindow((SDL_Window *)window_sdl_handle());
    EXPECT_TRUE(begin_frame(&w, &h));
    end_frame();
}

TEST_F(WindowTest, WindowCloseIsTheCloseEvent)
{
    ASSERT_TRUE(open_window("Skorva close", 200, 100, 24, 0, 24, 0, 0)) << last_error();
    pump_events();
    clear_events();
    EXPECT_FALSE(close_requested());
    SDL_Event e;
    SDL_zero(e);
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    e.window.windowID = SDL_GetWindowID((SDL_Window *)window_sdl_handle());
    e.window.timestamp = SDL_GetTicks();
    SDL_PushEvent(&e);
    pump_events();
    EXPECT_TRUE(close_requested());
    Event ev;
    bool seen = false;
    while (next_event(&ev))
        seen = seen || (ev.code == EVENT_CLOSE && ev.pressed == 1);
    EXPECT_TRUE(seen);
}

TEST_F(WindowTest, DisplayModesStartWithTheDesktop)
{
    ASSERT_TRUE(open_window("Skorva modes", 200, 100, 24, 0, 24, 0, 0)) << last_error();
    SDL_DisplayMode desktop;
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    const VideoMode *modes = video_modes();
    ASSERT_NE(modes, nullptr);
    EXPECT_EQ(modes[0].width, desktop.w);
    EXPECT_EQ(modes[0].height, desktop.h);
    int n = 0;
    for (; modes[n].width; n++) {
        EXPECT_TRUE(modes[n].bits == 16 || modes[n].bits == 24 || modes[n].bits == 32) << modes[n].bits;
        for (int k = 1; k < n; k++)
            EXPECT_FALSE(modes[k].width == modes[n].width && modes[k].height == modes[n].height &&
                         modes[k].bits == modes[n].bits);
    }
    EXPECT_GE(n, 1);
    EXPECT_EQ(modes[n].height, 0);
    EXPECT_EQ(modes[n].bits, 0);
}

TEST_F(WindowTest, ZeroSizeFullscreenCoversTheDesktop)
{
    ASSERT_TRUE(open_window("Skorva full", 0, 0, 24 | WINDOW_FULLSCREEN, 0, 24, 0, 0)) << last_error();
    SDL_DisplayMode desktop;
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    // The window manager-less X server may take a few messages to settle the size.
    int w = 0, h = 0;
    for (int i = 0; i < 50; i++) {
        pump_events();
        ASSERT_TRUE(begin_frame(&w, &h));
        end_frame();
        if (w == desktop.w && h == desktop.h)
            break;
        SDL_Delay(20);
    }
    EXPECT_EQ(w, desktop.w);
    EXPECT_EQ(h, desktop.h);
    EXPECT_TRUE(SDL_GetWindowFlags((SDL_Window *)window_sdl_handle()) & SDL_WINDOW_FULLSCREEN);

    // And back to a window of the asked-for size.
    ASSERT_TRUE(set_video_mode(300, 200, 0));
    for (int i = 0; i < 50; i++) {
        pump_events();
        ASSERT_TRUE(begin_frame(&w, &h));
        end_frame();
        if (w == 300 && h == 200)
            break;
        SDL_Delay(20);
    }
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
    EXPECT_FALSE(SDL_GetWindowFlags((SDL_Window *)window_sdl_handle()) & SDL_WINDOW_FULLSCREEN);
}

TEST_F(WindowTest, ThreadedOptionIsAcceptedAndLogged)
{
    setenv("TOVA_OPTIONS", "[threaded:on][xinput:off]", 1);
    options_reset_for_tests();
    ASSERT_TRUE(open_window("Skorva threaded", 100, 100, 24, 0, 24, 0, 0)) << last_error();
    EXPECT_TRUE(logged("Options:\n"));
    EXPECT_TRUE(logged(" threaded: [on]\n"));
    EXPECT_TRUE(logged("threaded: accepted and ignored"));
    EXPECT_FALSE(logged("XInput roll call"));
    int w, h;
    EXPECT_TRUE(begin_frame(&w, &h));
    end_frame();
}

TEST_F(WindowTest, VideoStaysUpFromTheModeListToTheWindow)
{
    // Shutting the video down between the list and the window made a fresh X server refuse
    // the window now and then.
    ASSERT_FALSE(SDL_WasInit(SDL_INIT_VIDEO));
    const VideoMode *modes = video_modes();
    ASSERT_GT(modes[0].width, 0);
    EXPECT_TRUE(SDL_WasInit(SDL_INIT_VIDEO));
    ASSERT_TRUE(open_window("Skorva after modes", 320, 240, 24, 0, 16, 0, 0)) << last_error();
    EXPECT_GT(video_modes()[0].width, 0) << "the list again, with the window open";
    close_window();
    EXPECT_FALSE(SDL_WasInit(SDL_INIT_VIDEO)) << "closing the window gives the video back";
}

TEST_F(WindowTest, InputIsTakenInWhileTheFrameWaits)
{
    ASSERT_TRUE(open_window("Skorva wait", 320, 240, 24, 0, 16, 0, 0)) << last_error();
    for (int i = 0; i < 10; i++) {
        pump_events();
        SDL_Delay(5);
    }
    clear_events();
    std::thread pusher([] {
        SDL_Delay(20);
        SDL_Event e = {};
        e.type = SDL_KEYDOWN;
        e.key.state = SDL_PRESSED;
        e.key.keysym.scancode = SDL_SCANCODE_X;
        SDL_PushEvent(&e);
    });
    Uint64 begin = SDL_GetTicks64();
    EXPECT_TRUE(wait_pumping_events(0, 80000));
    Uint64 waited = SDL_GetTicks64() - begin;
    pusher.join();
    EXPECT_GE(waited, 79u);
    // Already in the game's queue, taken during the wait: nothing has pumped since.
    EXPECT_EQ(queued_events(), 1);
    Event e;
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.code, key_code("x"));
}

TEST_F(WindowTest, ASecondWindowIsRefused)
{
    ASSERT_TRUE(open_window("Skorva one", 100, 100, 24, 0, 24, 0, 0)) << last_error();
    EXPECT_FALSE(open_window("Skorva two", 100, 100, 24, 0, 24, 0, 0));
    EXPECT_TRUE(window_is_open());
}

// open_window fails cleanly without a display, which the driver takes for a headless run.
TEST(WindowWithoutDisplay, OpenFailsCleanly)
{
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("SDL_VIDEODRIVER");
        log_reset_for_tests();
        bool opened = open_window("Skorva", 320, 240, 24, 0, 24, 0, 0);
        int status = opened ? 1 : 0;
        if (!opened && !strstr(last_error(), "Can't register window class"))
            status = 2;
        if (!opened && (window_is_open() || SDL_WasInit(SDL_INIT_VIDEO)))
            status = 3;
        _exit(status);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: opened, 2: wrong message, 3: left open";
}

// The executable exports the two symbols that choose the faster graphics processor.
TEST(GpuPreference, ExecutableExportsTheTwoSymbols)
{
    std::string cmd = std::string("nm -D --defined-only '") + SK_GAME_EXE + "' 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    EXPECT_NE(out.find(" NvOptimusEnablement\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" AmdPowerXpressRequestHighPerformance\n"), std::string::npos) << out;
}
