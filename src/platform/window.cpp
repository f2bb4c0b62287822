// The one window and its OpenGL compatibility context, over SDL2.
#include "platform/window.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SK_LEAK_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SK_LEAK_CHECKED 1
#endif
#ifdef SK_LEAK_CHECKED
#include <dlfcn.h>
#include <link.h>
#endif

#include <SDL.h>
#include <SDL_opengl.h>

#include "platform/clock.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/platform_internal.h"

// Systems with two graphics processors run a program that exports these on the faster one.
// The link keeps this object (and with it the symbols) in the executable.
extern "C" {
__attribute__((visibility("default"), used)) unsigned int NvOptimusEnablement = 0x00000001;
__attribute__((visibility("default"), used)) int AmdPowerXpressRequestHighPerformance = 1;
}

enum { MAX_MODES = 256 };

static struct {
    std::recursive_mutex drawable;  // held from begin_frame to end_frame, and while the size changes
    SDL_Window *window;
    SDL_GLContext context;
    bool video_open;                // SDL's video subsystem is ours to quit
    bool closing;
    int frames_open;                // begin_frame calls not yet ended (the lock's count)
    bool no_mode_switch;            // flag 256 at open_window
    PlatformOptions options;
    VideoMode modes[MAX_MODES + 1];
    SDL_DisplayMode sdl_modes[MAX_MODES];
    bool modes_logged;
} g_window;

typedef std::lock_guard<std::recursive_mutex> Hold;

// ---------------------------------------------------------------------------------------
// Display modes

// Starts SDL's video on a real display only, once: the display-mode list and the window share
// it, so that it is not shut and restarted just before the window opens (a fresh X server
// then sometimes refuses the window). SDL would otherwise fall back to its "offscreen"
// driver when there is no display, and a headless run would not know it has no screen.
// SDL_VIDEODRIVER, when set, still chooses (kmsdrm on a console, offscreen for capture).
static bool init_video(void)
{
    if (g_window.video_open)
        return true;
    const char *chosen = getenv("SDL_VIDEODRIVER");
    if (!chosen || !*chosen)
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");
    // The window's close button reaches the game as the Close event, not as SDL_QUIT; SIGINT
    // and SIGTERM are the game's own (quit_signals_install).
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "0");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return false;
    g_window.video_open = true;
    return true;
}

// Fills modes (desktop first); returns the count. Needs the video subsystem.
static int list_modes(bool log)
{
    int count = 0;
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
        g_window.sdl_modes[count] = desktop;
        g_window.modes[count] = { desktop.w, desktop.h, (int)SDL_BITSPERPIXEL(desktop.format) };
        count++;
        if (log)
            log_printf("Desktop mode %dx%d %d bits\n", desktop.w, desktop.h, (int)SDL_BITSPERPIXEL(desktop.format));
    }
    int n = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < n && count < MAX_MODES; i++) {
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(0, i, &m) != 0)
            continue;
        int bits = (int)SDL_BITSPERPIXEL(m.format);
        if (bits != 16 && bits != 24 && bits != 32) {
            if (log)
                log_printf("Mode %dx%d %d bits (ignored)\n", m.w, m.h, bits);
            continue;
        }
        bool seen = false;
        for (int k = 0; k < count && !seen; k++)
            seen = g_window.modes[k].width == m.w && g_window.modes[k].height == m.h && g_window.modes[k].bits == bits;
        if (seen)
            continue;
        g_window.sdl_modes[count] = m;
        g_window.modes[count] = { m.w, m.h, bits };
        count++;
        if (log)
            log_printf("Mode %dx%d %d bits\n", m.w, m.h, bits);
    }
    g_window.modes[count] = { 0, 0, 0 };
    return count;
}

const VideoMode *video_modes(void)
{
    Hold hold(g_window.drawable);
    if (!init_video()) {
        log_printf("Can't list display modes: %s\n", SDL_GetError());
        g_window.modes[0] = { 0, 0, 0 };
        return g_window.modes;
    }
    list_modes(!g_window.modes_logged);
    g_window.modes_logged = true;
    return g_window.modes;
}

// The smallest listed mode (by width + height) at least as large as asked; the desktop
// mode (index 0) when none is, or when the size is 0.
static int choose_mode(int count, int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    int best = -1;
    for (int i = 0; i < count; i++) {
        const VideoMode &m = g_window.modes[i];
        if (m.width < width || m.height < height)
            continue;
        if (best < 0 || m.width + m.height < g_window.modes[best].width + g_window.modes[best].height)
            best = i;
    }
    if (best < 0)
        return 0;
    // The same size as the desktop needs no switch.
    if (g_window.modes[best].width == g_window.modes[0].width && g_window.modes[best].height == g_window.modes[0].height)
        return 0;
    return best;
}

// Puts the window into the fullscreen or windowed state; the drawable lock is held.
static bool apply_mode(int width, int height, bool fullscreen)
{
    SDL_Window *w = g_window.window;
    if (fullscreen) {
        int count = list_modes(false);
        int mode = (g_window.no_mode_switch || count == 0) ? 0 : choose_mode(count, width, height);
        if (mode == 0) {
            // "Default Fullscreen": a borderless window over the desktop in its own mode.
            if (SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
                log_printf("Can't go fullscreen: %s\n", SDL_GetError());
                return false;
            }
            log_printf("Fullscreen in the desktop mode\n");
            return true;
        }
        SDL_DisplayMode m = g_window.sdl_modes[mode];
        if (SDL_GetWindowFlags(w) & SDL_WINDOW_FULLSCREEN)
            SDL_SetWindowFullscreen(w, 0);
        SDL_SetWindowSize(w, m.w, m.h);
        if (SDL_SetWindowDisplayMode(w, &m) != 0 || SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN) != 0) {
            log_printf("Can't switch to %dx%d: %s\n", m.w, m.h, SDL_GetError());
            return false;
        }
        log_printf("Fullscreen %dx%d %d bits\n", m.w, m.h, (int)SDL_BITSPERPIXEL(m.format));
        return true;
    }
    if (width <= 0 || height <= 0) {
        SDL_DisplayMode desktop;
        if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
            width = desktop.w;
            height = desktop.h;
        } else {
            width = 640;
            height = 480;
        }
    }
    if (SDL_GetWindowFlags(w) & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_FULLSCREEN_DESKTOP))
        SDL_SetWindowFullscreen(w, 0);
    SDL_SetWindowBordered(w, SDL_TRUE);
    SDL_SetWindowSize(w, width, height);
    SDL_SetWindowPosition(w, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    log_printf("Windowed %dx%d\n", width, height);
    return true;
}

// ---------------------------------------------------------------------------------------
// The window

static void fail(const char *what)
{
    char text[512];
    const char *why = SDL_GetError();
    if (why && *why)
        snprintf(text, sizeof text, "%s (%s)", what, why);
    else
        snprintf(text, sizeof text, "%s", what);
    log_error(text);
}

#ifdef SK_LEAK_CHECKED
static int pin_library(struct dl_phdr_info *info, size_t, void *)
{
    if (info->dlpi_name && info->dlpi_name[0])
        dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    return 0;
}
#endif

static void release_window(void)
{
#ifdef SK_LEAK_CHECKED
    // The GL driver is unloaded with the video subsystem, and what it leaks would then be
    // reported at exit as unknown code: keep every library mapped so the leak checker can
    // name (and the test suppressions excuse) the driver's own blocks.
    dl_iterate_phdr(pin_library, nullptr);
#endif
    if (g_window.context)
        SDL_GL_DeleteContext(g_window.context);
    g_window.context = nullptr;
    close_input_devices();
    if (g_window.window) {
        log_printf("Destroying window\n");
        SDL_DestroyWindow(g_window.window);   // restores the display mode
    }
    g_window.window = nullptr;
    if (g_window.video_open) {
        SDL_StopTextInput();
        SDL_EnableScreenSaver();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    g_window.video_open = false;
}

bool open_window(const char *title, int width, int height, int color_bits_and_flags,
                 int alpha_bits, int depth_bits, int stencil_bits, int accum_bits)
{
    Hold hold(g_window.drawable);
    if (g_window.window) {
        log_error("Can't create window! (a window is already open)");
        return false;
    }
    g_window.closing = false;
    g_window.options = read_platform_options();
    if (g_window.options.threaded)
        log_printf("threaded: accepted and ignored - window messages are taken on the main thread, "
                   "which also takes them while it waits between frames\n");
    int flags = color_bits_and_flags & (WINDOW_NO_MODE_SWITCH | WINDOW_FULLSCREEN);
    int color_bits = color_bits_and_flags & 0xff;
    g_window.no_mode_switch = (flags & WINDOW_NO_MODE_SWITCH) != 0;

    if (!init_video()) {
        // No display (DISPLAY unset, no Wayland): the caller reports it and may run headless.
        fail("Can't register window class");
        return false;
    }
    log_printf("Video driver %s\n", SDL_GetCurrentVideoDriver());
    // The drawable is always measured in pixels (SDL_GL_GetDrawableSize), so that the
    // system's display scaling never scales the window.
    log_printf("Display scaling disabled via SDL_WINDOW_ALLOW_HIGHDPI\n");

    devices_reset_close_request();
    open_input_devices(&g_window.options);

    log_printf("Choosing pixel format\n");
    SDL_GL_ResetAttributes();
    bool rgb565 = color_bits == 16;
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, rgb565 ? 5 : 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, rgb565 ? 6 : 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, rgb565 ? 5 : 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha_bits > 0 ? alpha_bits : 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth_bits > 0 ? depth_bits : 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil_bits > 0 ? stencil_bits : 0);
    int accum = accum_bits > 0 ? accum_bits / 4 : 0;
    SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // Legacy GL with ARB extensions: a compatibility context, never a core profile.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);

    int create_w = width, create_h = height;
    if (create_w <= 0 || create_h <= 0) {
        SDL_DisplayMode desktop;
        if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
            create_w = desktop.w;
            create_h = desktop.h;
        } else {
            create_w = 640;
            create_h = 480;
        }
    }
    Uint32 window_flags = SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI | SDL_WINDOW_HIDDEN;
    g_window.window = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                       create_w, create_h, window_flags);
    if (!g_window.window) {
        const char *why = SDL_GetError();
        // X11 and Wayland refuse the window when no visual has the asked-for bits.
        bool visual = why && (strstr(why, "visual") || strstr(why, "pixel format") || strstr(why, "GLX") ||
                              strstr(why, "EGL"));
        fail(visual ? "No suitable pixel formats found" : "Can't create window!");
        release_window();
        return false;
    }
    log_printf("Setting pixel format %d\n", (int)SDL_GetWindowPixelFormat(g_window.window));
    log_printf("Creating OpenGL context\n");
    g_window.context = SDL_GL_CreateContext(g_window.window);
    if (!g_window.context) {
        fail("Couldn't create OpenGL context");
        release_window();
        return false;
    }
    if (SDL_GL_MakeCurrent(g_window.window, g_window.context) != 0) {
        fail("Can't set pixel format");
        release_window();
        return false;
    }
    int r = 0, g = 0, b = 0, a = 0, depth = 0, stencil = 0;
    SDL_GL_GetAttribute(SDL_GL_RED_SIZE, &r);
    SDL_GL_GetAttribute(SDL_GL_GREEN_SIZE, &g);
    SDL_GL_GetAttribute(SDL_GL_BLUE_SIZE, &b);
    SDL_GL_GetAttribute(SDL_GL_ALPHA_SIZE, &a);
    SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &depth);
    SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &stencil);
    log_printf("Pixel format: RGBA %d/%d/%d/%d, depth %d, stencil %d\n", r, g, b, a, depth, stencil);
    const char *vendor = (const char *)glGetString(GL_VENDOR);
    const char *renderer = (const char *)glGetString(GL_RENDERER);
    const char *version = (const char *)glGetString(GL_VERSION);
    log_printf("OpenGL %s; %s; %s\n", version ? version : "?", renderer ? renderer : "?", vendor ? vendor : "?");

    // Screen savers and monitor power-off stay off while the window exists.
    SDL_DisableScreenSaver();
    if (flags & WINDOW_FULLSCREEN)
        apply_mode(width, height, true);
    SDL_ShowWindow(g_window.window);
    SDL_RaiseWindow(g_window.window);
    SDL_StartTextInput();
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(g_window.window, &dw, &dh);
    log_printf("Window open: drawable %dx%d\n", dw, dh);
    // Keep the GPU-selection symbols referenced from the code that every game links.
    if (NvOptimusEnablement != 1 || AmdPowerXpressRequestHighPerformance != 1)
        log_printf("GPU preference symbols changed\n");
    return true;
}

bool set_video_mode(int width, int height, int flags)
{
    Hold hold(g_window.drawable);
    if (!g_window.window || g_window.closing)
        return false;
    return apply_mode(width, height, (flags & WINDOW_FULLSCREEN) != 0);
}

bool begin_frame(int *width, int *height)
{
    if (!g_window.window || g_window.closing)
        return false;
    Uint32 f = SDL_GetWindowFlags(g_window.window);
    if (f & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN))
        return false;
    g_window.drawable.lock();
    if (!g_window.window || g_window.closing) {
        g_window.drawable.unlock();
        return false;
    }
    g_window.frames_open++;
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(g_window.window, &w, &h);
    if (width)
        *width = w;
    if (height)
        *height = h;
    return true;
}

void end_frame(void)
{
    // Without an open frame (begin_frame said no) there is nothing to present or release.
    if (g_window.frames_open <= 0)
        return;
    if (g_window.window)
        SDL_GL_SwapWindow(g_window.window);
    g_window.frames_open--;
    g_window.drawable.unlock();
}

void close_window(void)
{
    g_window.closing = true;
    Hold hold(g_window.drawable);
    release_window();
    g_window.closing = false;
}

bool window_is_open(void)
{
    return g_window.window != nullptr;
}

void *window_sdl_handle(void)
{
    return g_window.window;
}

void window_pixel_scale(float *sx, float *sy)
{
    *sx = *sy = 1;
    if (!g_window.window)
        return;
    int ww = 0, wh = 0, dw = 0, dh = 0;
    SDL_GetWindowSize(g_window.window, &ww, &wh);
    SDL_GL_GetDrawableSize(g_window.window, &dw, &dh);
    if (ww > 0 && wh > 0) {
        *sx = (float)dw / (float)ww;
        *sy = (float)dh / (float)wh;
    }
}

void message_box(const char *caption, const char *format, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    fprintf(stderr, "%s: %s%s", caption, text, (text[0] && text[strlen(text) - 1] == '\n') ? "" : "\n");
    log_printf("%s: %s%s", caption, text, (text[0] && text[strlen(text) - 1] == '\n') ? "" : "\n");
    // Unattended runs (tests, capture) never block on a box nobody can click.
    if (getenv("SK_QUIT_AFTER_FRAMES") || getenv("SK_TEST"))
        return;
    const char *display = getenv("DISPLAY");
    const char *wayland = getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland))
        return;
    // Modal to the game's window while there is one; a full-screen window is left
    // first so that the box can be seen.
    SDL_Window *parent = (SDL_Window *)window_sdl_handle();
    if (parent && (SDL_GetWindowFlags(parent) & SDL_WINDOW_FULLSCREEN))
        SDL_SetWindowFullscreen(parent, 0);
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, parent) != 0 && parent)
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
}
