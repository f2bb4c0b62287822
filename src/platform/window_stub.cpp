// Temporary stand-in for the window and input layer: one SDL window with a compatibility GL
// context, keyboard, mouse buttons and close events. Just enough for the driver to run.
#include "platform/input.h"
#include "platform/window.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <SDL.h>

#include "platform/clock.h"
#include "platform/log.h"

struct KeyName {
    const char *name;
    int scan;               // PC set-1 code, + 256 when extended
    SDL_Scancode sdl;
};

static const KeyName k_keys[] = {
    { "esc", 0x01, SDL_SCANCODE_ESCAPE }, { "1", 0x02, SDL_SCANCODE_1 }, { "2", 0x03, SDL_SCANCODE_2 },
    { "3", 0x04, SDL_SCANCODE_3 }, { "4", 0x05, SDL_SCANCODE_4 }, { "5", 0x06, SDL_SCANCODE_5 },
    { "6", 0x07, SDL_SCANCODE_6 }, { "7", 0x08, SDL_SCANCODE_7 }, { "8", 0x09, SDL_SCANCODE_8 },
    { "9", 0x0a, SDL_SCANCODE_9 }, { "0", 0x0b, SDL_SCANCODE_0 }, { "-", 0x0c, SDL_SCANCODE_MINUS },
    { "=", 0x0d, SDL_SCANCODE_EQUALS }, { "backspace", 0x0e, SDL_SCANCODE_BACKSPACE },
    { "tab", 0x0f, SDL_SCANCODE_TAB }, { "q", 0x10, SDL_SCANCODE_Q }, { "w", 0x11, SDL_SCANCODE_W },
    { "e", 0x12, SDL_SCANCODE_E }, { "r", 0x13, SDL_SCANCODE_R }, { "t", 0x14, SDL_SCANCODE_T },
    { "y", 0x15, SDL_SCANCODE_Y }, { "u", 0x16, SDL_SCANCODE_U }, { "i", 0x17, SDL_SCANCODE_I },
    { "o", 0x18, SDL_SCANCODE_O }, { "p", 0x19, SDL_SCANCODE_P }, { "[", 0x1a, SDL_SCANCODE_LEFTBRACKET },
    { "]", 0x1b, SDL_SCANCODE_RIGHTBRACKET }, { "enter", 0x1c, SDL_SCANCODE_RETURN },
    { "left ctrl", 0x1d, SDL_SCANCODE_LCTRL }, { "a", 0x1e, SDL_SCANCODE_A }, { "s", 0x1f, SDL_SCANCODE_S },
    { "d", 0x20, SDL_SCANCODE_D }, { "f", 0x21, SDL_SCANCODE_F }, { "g", 0x22, SDL_SCANCODE_G },
    { "h", 0x23, SDL_SCANCODE_H }, { "j", 0x24, SDL_SCANCODE_J }, { "k", 0x25, SDL_SCANCODE_K },
    { "l", 0x26, SDL_SCANCODE_L }, { ";", 0x27, SDL_SCANCODE_SEMICOLON }, { "'", 0x28, SDL_SCANCODE_APOSTROPHE },
    { "`", 0x29, SDL_SCANCODE_GRAVE }, { "left shift", 0x2a, SDL_SCANCODE_LSHIFT },
    { "\\", 0x2b, SDL_SCANCODE_BACKSLASH }, { "z", 0x2c, SDL_SCANCODE_Z }, { "x", 0x2d, SDL_SCANCODE_X },
    { "c", 0x2e, SDL_SCANCODE_C }, { "v", 0x2f, SDL_SCANCODE_V }, { "b", 0x30, SDL_SCANCODE_B },
    { "n", 0x31, SDL_SCANCODE_N }, { "m", 0x32, SDL_SCANCODE_M }, { ",", 0x33, SDL_SCANCODE_COMMA },
    { ".", 0x34, SDL_SCANCODE_PERIOD }, { "/", 0x35, SDL_SCANCODE_SLASH },
    { "right shift", 0x36, SDL_SCANCODE_RSHIFT }, { "left alt", 0x38, SDL_SCANCODE_LALT },
    { "space", 0x39, SDL_SCANCODE_SPACE }, { "keypad enter", 0x11c, SDL_SCANCODE_KP_ENTER },
    { "right ctrl", 0x11d, SDL_SCANCODE_RCTRL }, { "pause", 0x145, SDL_SCANCODE_PAUSE },
    { "home", 0x147, SDL_SCANCODE_HOME }, { "up", 0x148, SDL_SCANCODE_UP },
    { "page up", 0x149, SDL_SCANCODE_PAGEUP }, { "left", 0x14b, SDL_SCANCODE_LEFT },
    { "right", 0x14d, SDL_SCANCODE_RIGHT }, { "end", 0x14f, SDL_SCANCODE_END },
    { "down", 0x150, SDL_SCANCODE_DOWN }, { "page down", 0x151, SDL_SCANCODE_PAGEDOWN },
    { "insert", 0x152, SDL_SCANCODE_INSERT }, { "delete", 0x153, SDL_SCANCODE_DELETE },
};

static struct {
    SDL_Window *window;
    SDL_GLContext context;
    bool open;
    Event queue[EVENT_QUEUE_SIZE];
    int count;
    VideoMode modes[64];
} g_win;

bool open_window(const char *title, int width, int height, int color_bits_and_flags,
                 int alpha_bits, int depth_bits, int stencil_bits, int accum_bits)
{
    (void)alpha_bits;
    (void)stencil_bits;
    (void)accum_bits;
    // Without a display SDL would fall back to an invisible off-screen driver.
    const char *x11 = getenv("DISPLAY"), *wayland = getenv("WAYLAND_DISPLAY"), *driver = getenv("SDL_VIDEODRIVER");
    if ((!x11 || !*x11) && (!wayland || !*wayland) && (!driver || !*driver)) {
        log_printf("No display to open the window on\n");
        return false;
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        log_printf("Can't start the video system: %s\n", SDL_GetError());
        return false;
    }
    int bits = color_bits_and_flags & 255;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth_bits);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, bits >= 24 ? 8 : 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, bits >= 24 ? 8 : 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, bits >= 24 ? 8 : 5);
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE;
    if (color_bits_and_flags & WINDOW_FULLSCREEN)
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    if (width <= 0 || height <= 0) {
        width = 640;
        height = 480;
    }
    g_win.window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height, flags);
    if (!g_win.window) {
        log_printf("Can't create the window: %s\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    g_win.context = SDL_GL_CreateContext(g_win.window);
    if (!g_win.context) {
        log_printf("Can't create the OpenGL context: %s\n", SDL_GetError());
        SDL_DestroyWindow(g_win.window);
        g_win.window = nullptr;
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    SDL_GL_SetSwapInterval(0);
    g_win.open = true;
    return true;
}

bool set_video_mode(int width, int height, int flags)
{
    if (!g_win.window)
        return false;
    SDL_SetWindowFullscreen(g_win.window, (flags & WINDOW_FULLSCREEN) ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    SDL_SetWindowSize(g_win.window, width, height);
    return true;
}

static void pump(void);

bool begin_frame(int *width, int *height)
{
    if (!g_win.open)
        return false;
    Uint32 f = SDL_GetWindowFlags(g_win.window);
    if (f & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED))
        return false;
    SDL_GL_GetDrawableSize(g_win.window, width, height);
    return *width > 0 && *height > 0;
}

void end_frame(void)
{
    if (g_win.open)
        SDL_GL_SwapWindow(g_win.window);
}

void close_window(void)
{
    if (g_win.context)
        SDL_GL_DeleteContext(g_win.context);
    if (g_win.window)
        SDL_DestroyWindow(g_win.window);
    if (g_win.window)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    g_win.context = nullptr;
    g_win.window = nullptr;
    g_win.open = false;
}

bool window_is_open(void)
{
    return g_win.open;
}

const VideoMode *video_modes(void)
{
    int n = 0;
    SDL_DisplayMode dm;
    if (g_win.open && SDL_GetDesktopDisplayMode(0, &dm) == 0) {
        g_win.modes[n++] = { dm.w, dm.h, (int)SDL_BITSPERPIXEL(dm.format) };
        int count = SDL_GetNumDisplayModes(0);
        for (int i = 0; i < count && n < 63; i++) {
            if (SDL_GetDisplayMode(0, i, &dm) != 0)
                continue;
            VideoMode m = { dm.w, dm.h, (int)SDL_BITSPERPIXEL(dm.format) };
            bool seen = false;
            for (int j = 0; j < n; j++)
                seen = seen || (g_win.modes[j].width == m.width && g_win.modes[j].height == m.height &&
                                g_win.modes[j].bits == m.bits);
            if (!seen)
                g_win.modes[n++] = m;
        }
    }
    g_win.modes[n] = { 0, 0, 0 };
    return g_win.modes;
}

bool queue_event(int code, int pressed, long sec, long usec)
{
    if (g_win.count >= EVENT_QUEUE_SIZE)
        return false;
    int at = g_win.count;
    while (at > 0 && (g_win.queue[at - 1].sec > sec ||
                      (g_win.queue[at - 1].sec == sec && g_win.queue[at - 1].usec > usec))) {
        g_win.queue[at] = g_win.queue[at - 1];
        at--;
    }
    g_win.queue[at] = { code, pressed, sec, usec };
    g_win.count++;
    return true;
}

static int scan_of(SDL_Scancode s)
{
    for (const KeyName &k : k_keys)
        if (k.sdl == s)
            return k.scan;
    return -1;
}

static void pump(void)
{
    if (!g_win.open)
        return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        long sec, usec;
        clock_now(&sec, &usec);
        switch (e.type) {
        case SDL_QUIT:
            queue_event(EVENT_CLOSE, 1, sec, usec);
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            int scan = scan_of(e.key.keysym.scancode);
            if (scan >= 0 && !e.key.repeat)
                queue_event(EVENT_KEY_BASE + scan, e.type == SDL_KEYDOWN, sec, usec);
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            int b = e.button.button == SDL_BUTTON_LEFT ? EVENT_MOUSE_LEFT
                  : e.button.button == SDL_BUTTON_RIGHT ? EVENT_MOUSE_RIGHT : EVENT_MOUSE_MIDDLE;
            queue_event(b, e.type == SDL_MOUSEBUTTONDOWN, sec, usec);
            break;
        }
        default:
            break;
        }
    }
}

static void take_first(Event *out)
{
    *out = g_win.queue[0];
    memmove(g_win.queue, g_win.queue + 1, sizeof(Event) * (g_win.count - 1));
    g_win.count--;
}

bool next_event(Event *out)
{
    pump();
    if (g_win.count == 0)
        return false;
    take_first(out);
    return true;
}

bool next_event_before(long sec, long usec, Event *out)
{
    pump();
    if (g_win.count == 0)
        return false;
    const Event &e = g_win.queue[0];
    if (e.sec > sec || (e.sec == sec && e.usec > usec))
        return false;
    take_first(out);
    return true;
}

void clear_events(void)
{
    g_win.count = 0;
}

int key_code(const char *name)
{
    if (!name)
        return -1;
    if (strcmp(name, "close") == 0)
        return EVENT_CLOSE;
    if (strcmp(name, "cursor-left") == 0)
        return EVENT_MOUSE_LEFT;
    if (strcmp(name, "cursor-right") == 0)
        return EVENT_MOUSE_RIGHT;
    for (const KeyName &k : k_keys)
        if (strcmp(k.name, name) == 0)
            return EVENT_KEY_BASE + k.scan;
    return -1;
}

const char *key_name(int code, char *out, int size)
{
    const char *name = nullptr;
    if (code == EVENT_CLOSE)
        name = "close";
    else if (code == EVENT_MOUSE_LEFT)
        name = "cursor-left";
    else if (code == EVENT_MOUSE_RIGHT)
        name = "cursor-right";
    for (const KeyName &k : k_keys)
        if (!name && EVENT_KEY_BASE + k.scan == code)
            name = k.name;
    if (name)
        snprintf(out, size, "%s", name);
    else
        snprintf(out, size, "key %d", code);
    return out;
}

int open_axis(const char *name)
{
    if (strcmp(name, "cursor-x") == 0)
        return 0;
    if (strcmp(name, "cursor-y") == 0)
        return 1;
    return -1;
}

float read_axis(int axis)
{
    if (!g_win.open || axis < 0 || axis > 1)
        return 0;
    int x, y;
    SDL_GetMouseState(&x, &y);
    return (float)(axis == 0 ? x : y);
}

void close_axis(int)
{
}
