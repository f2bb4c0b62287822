#include "ui/menus.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <SDL.h>

#include "common/messages.h"
#include "common/version.h"
#include "driver/args.h"
#include "driver/bindings.h"
#include "driver/config.h"
#include "driver/lists.h"
#include "platform/input.h"
#include "platform/window.h"
#include "race/world.h"
#include "ui/draw.h"
#include "ui/screens.h"
#include "ui/widgets.h"

enum {
    PADS = 4,
    PAD_UP = 0, PAD_DOWN = 1, PAD_LEFT = 2, PAD_RIGHT = 3, PAD_START = 4, PAD_A = 12, PAD_B = 13,
    CONSOLE_PAGE = 25,              // lines a page key scrolls
};

static const float k_stick_push = 0.5f;         // how far the stick must lean to count
static const double k_stick_delay = 0.4;        // seconds before a held stick repeats
static const double k_stick_repeat = 0.12;

static const char *const k_marker = "^    ^    ^    ^    ^";

enum { KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT, KEY_ENTER, KEY_ESC, KEY_PAGE_UP, KEY_PAGE_DOWN, KEY_BACKSPACE,
       KEY_PAD_ENTER, KEY_COUNT };
static const char *const k_key_names[KEY_COUNT] = { "up", "down", "left", "right", "enter", "esc", "page up",
                                                    "page down", "backspace", "keypad enter" };

static struct {
    MenuHooks hooks;
    int keys[KEY_COUNT];
    int screen;
    int item;
    bool changed;                   // the screen changed in this frame
    bool quit;
    int window_w, window_h;
    float cursor_x, cursor_y;
    bool dragging;                  // the button went down on a number's slider
    char input[CONSOLE_INPUT_MAX + 1];
    int scroll;
    char row[MESSAGE_LINE_CHARS + 1];
    struct {
        int direction;              // the key the stick stands for; -1 centred
        double next;                // game_clock of the next repeat
    } stick[PADS];
} g_menu = {};

static struct MenuInit {
    MenuInit() { g_menu.screen = MENU_NONE; }
} g_menu_init;

void menu_set_hooks(const MenuHooks *hooks)
{
    g_menu.hooks = hooks ? *hooks : MenuHooks{};
}

static void resolve_keys(void)
{
    for (int i = 0; i < KEY_COUNT; i++)
        g_menu.keys[i] = key_code(k_key_names[i]);
    widgets_init();
}

void menu_init(void)
{
    resolve_keys();
    screens_init();
}

void menu_shutdown(void)
{
    screens_free();
}

static bool is(int code, int which)
{
    return code >= 0 && code == g_menu.keys[which];
}

// ---- state

void open_menu(int screen, int item)
{
    if (screen != g_menu.screen) {
        g_menu.changed = true;
        widget_forget_input();
    }
    g_menu.screen = screen;
    g_menu.item = item;
    g_menu.dragging = false;
    if (screen == MENU_CONSOLE)
        g_menu.scroll = 0;
}

void close_menu(void)
{
    if (g_menu.screen != MENU_NONE)
        g_menu.changed = true;
    if (g_menu.screen == MENU_CONTROLS)
        capture_cancel();
    g_menu.screen = MENU_NONE;
    g_menu.dragging = false;
    widget_forget_input();
}

int menu_screen(void)
{
    return g_menu.screen;
}

int menu_item(void)
{
    return g_menu.item;
}

void menu_frame_begin(void)
{
    g_menu.changed = false;
}

bool menu_changed_this_frame(void)
{
    return g_menu.changed;
}

bool menu_quit_requested(void)
{
    return g_menu.quit;
}

void menu_set_window(int width, int height)
{
    g_menu.window_w = width;
    g_menu.window_h = height;
    widgets_set_window(width, height);
}

void menu_reset_for_tests(void)
{
    g_menu.screen = MENU_NONE;
    g_menu.item = 0;
    g_menu.changed = false;
    g_menu.quit = false;
    g_menu.dragging = false;
    g_menu.input[0] = 0;
    g_menu.scroll = 0;
    for (auto &s : g_menu.stick)
        s = { -1, 0 };
    widget_forget_input();
    resolve_keys();
}

// ---- passes over the open screen

static void run_pass(int pass, int target, int key, float x, float y, bool can_draw)
{
    widgets_begin(pass, target, screen_units(g_menu.screen), key, x, y, can_draw);
    screen_run(g_menu.screen);
    widgets_end();
}

// Lays the open screen out again, so that the items and their rectangles are current.
static int lay_out(void)
{
    int screen = g_menu.screen;
    run_pass(PASS_LAYOUT, g_menu.item, -1, 0, 0, false);
    // Laying out never acts, but a screen may adjust its own state (a page in range).
    return screen == g_menu.screen ? widget_count() : 0;
}

int menu_item_count(void)
{
    return g_menu.screen == MENU_NONE ? 0 : lay_out();
}

static bool selectable(int i)
{
    const WidgetItem *it = widget_item(i);
    return it && !it->hidden;
}

static void move_highlight(int by)
{
    int count = lay_out();
    int at = g_menu.item;
    for (int i = at + by; i >= 0 && i < count; i += by) {
        if (selectable(i)) {
            at = i;
            break;
        }
    }
    if (at != g_menu.item) {
        g_menu.item = at;
        widget_forget_input();
    }
}

// A page with fewer names leaves the highlight past the end: it goes to the last item.
static void keep_highlight_on_screen(int screen)
{
    if (g_menu.screen != screen)
        return;
    int count = lay_out();
    if (g_menu.item >= count)
        g_menu.item = count > 0 ? count - 1 : 0;
    while (g_menu.item > 0 && !selectable(g_menu.item))
        g_menu.item--;
}

static void deliver(int pass, int key, float x, float y)
{
    run_pass(pass, g_menu.item, key, x, y, false);
}

// ---- game controllers

// The pad (0..3) and button a code comes from; -1 when it is no pad's.
static int pad_button(int code, int *pad)
{
    if (code < 0x10000)
        return -1;
    for (int p = 0; p < PADS; p++) {
        char name[32];
        snprintf(name, sizeof name, "XInputGamepad%d", p);
        int d = find_input_device(name);
        if (d < 0)
            continue;
        int id = input_device_id(d);
        if ((code & ~0xffff) == id) {
            if (pad)
                *pad = p;
            return code - id;
        }
    }
    return -1;
}

bool menu_opens_with(int code)
{
    return pad_button(code, nullptr) == PAD_START;
}

enum { PAD_KEY, PAD_BACK, PAD_CLOSE };

// A pad button as the key it stands for in the menus (the code itself when none), or as
// going back a screen (B) or leaving the menus (Start).
static int pad_as_key(int code, int *action)
{
    *action = PAD_KEY;
    switch (pad_button(code, nullptr)) {
    case PAD_UP: return g_menu.keys[KEY_UP];
    case PAD_DOWN: return g_menu.keys[KEY_DOWN];
    case PAD_LEFT: return g_menu.keys[KEY_LEFT];
    case PAD_RIGHT: return g_menu.keys[KEY_RIGHT];
    case PAD_A: return g_menu.keys[KEY_ENTER];
    case PAD_B:
        *action = PAD_BACK;
        return code;
    case PAD_START:
        *action = PAD_CLOSE;
        return code;
    default: return code;
    }
}

void menu_pad_frame(double now)
{
    // A stick being moved to bind it is no menu input.
    if (g_menu.screen == MENU_NONE || capture_active())
        return;
    for (int p = 0; p < PADS; p++) {
        char name[64];
        snprintf(name, sizeof name, "XInputGamepad%d", p);
        int direction = -1;
        if (find_input_device(name) >= 0) {
            float axis[2] = {};
            for (int a = 0; a < 2; a++) {
                snprintf(name, sizeof name, "XInputGamepad%d.axis[%d]", p, a);
                int h = open_axis(name);
                if (h >= 0) {
                    axis[a] = axis_position(h);
                    close_axis(h);
                }
            }
            // The pad reports up as positive y.
            if (fabsf(axis[1]) >= fabsf(axis[0]) && fabsf(axis[1]) > k_stick_push)
                direction = axis[1] > 0 ? KEY_UP : KEY_DOWN;
            else if (fabsf(axis[0]) > k_stick_push)
                direction = axis[0] > 0 ? KEY_RIGHT : KEY_LEFT;
        }
        auto &s = g_menu.stick[p];
        if (direction < 0) {
            s.direction = -1;
            continue;
        }
        if (direction != s.direction) {
            s.direction = direction;
            s.next = now + k_stick_delay;
        } else if (now >= s.next) {
            s.next = now + k_stick_repeat;
        } else {
            continue;
        }
        menu_key(g_menu.keys[direction]);
    }
}

// ---- keys

static void console_key(int code)
{
    int max_scroll = (int)MESSAGE_LOG_LINES - (int)CONSOLE_LINES;
    if (is(code, KEY_PAGE_UP)) {
        g_menu.scroll = g_menu.scroll + CONSOLE_PAGE > max_scroll ? max_scroll : g_menu.scroll + CONSOLE_PAGE;
    } else if (is(code, KEY_PAGE_DOWN)) {
        g_menu.scroll = g_menu.scroll > CONSOLE_PAGE ? g_menu.scroll - CONSOLE_PAGE : 0;
    } else if (is(code, KEY_ENTER) || is(code, KEY_PAD_ENTER)) {
        char line[CONSOLE_INPUT_MAX + 1];
        memcpy(line, g_menu.input, sizeof line);
        g_menu.input[0] = 0;
        g_menu.scroll = 0;
        if (line[0] && g_menu.hooks.console_line)
            g_menu.hooks.console_line(line);
    } else if (is(code, KEY_BACKSPACE)) {
        size_t n = strlen(g_menu.input);
        if (n > 0)
            g_menu.input[n - 1] = 0;
    } else if (code >= 32 && code < 127) {
        size_t n = strlen(g_menu.input);
        if (n < CONSOLE_INPUT_MAX) {
            g_menu.input[n] = (char)code;
            g_menu.input[n + 1] = 0;
        }
    }
}

void menu_key(int code)
{
    int screen = g_menu.screen;
    if (screen == MENU_NONE)
        return;
    int action;
    int key = pad_as_key(code, &action);
    if (action == PAD_CLOSE) {
        close_menu();
        return;
    }
    if (action == PAD_BACK) {
        // B goes back one screen, or leaves the menus from the top.
        if (screen == MENU_QUIT || screen == MENU_CONSOLE || !screen_back(screen)) {
            close_menu();
        } else {
            g_menu.item = 0;
            deliver(PASS_KEY, g_menu.keys[KEY_ENTER], 0, 0);
        }
        return;
    }
    if (screen == MENU_QUIT) {
        if (!is(key, KEY_ESC))
            g_menu.quit = true;
        return;
    }
    if (screen == MENU_CONSOLE) {
        console_key(key);
        return;
    }
    if (is(key, KEY_DOWN)) {
        move_highlight(1);
        return;
    }
    if (is(key, KEY_UP)) {
        move_highlight(-1);
        return;
    }
    if (key == EVENT_MOUSE_LEFT) {
        lay_out();
        int at = widget_at(g_menu.cursor_x, g_menu.cursor_y);
        if (at < 0)
            return;
        if (at != g_menu.item)
            widget_forget_input();
        g_menu.item = at;
        const WidgetItem *it = widget_item(at);
        g_menu.dragging = it && it->kind == WIDGET_NUMBER && g_menu.cursor_x >= it->slider.left &&
                          g_menu.cursor_x <= it->slider.right;
        deliver(PASS_CLICK, key, g_menu.cursor_x, g_menu.cursor_y);
        keep_highlight_on_screen(screen);
        return;
    }
    lay_out();
    if (selectable(g_menu.item))
        deliver(PASS_KEY, key, 0, 0);
    keep_highlight_on_screen(screen);
}

void menu_mouse(float x, float y, bool drag)
{
    g_menu.cursor_x = x;
    g_menu.cursor_y = y;
    int screen = g_menu.screen;
    if (screen == MENU_NONE || screen == MENU_QUIT || screen == MENU_CONSOLE)
        return;
    if (drag) {
        if (g_menu.dragging)
            deliver(PASS_DRAG, -1, x, y);
        return;
    }
    g_menu.dragging = false;
    lay_out();
    int at = widget_at(x, y);
    if (at >= 0 && at != g_menu.item) {
        g_menu.item = at;
        widget_forget_input();
    }
}

// ---- the window

static bool set_window_mode(int entry)
{
    if (!window_is_open())
        return false;
    if (entry == VIDEO_MODE_WINDOWED) {
        const StartupSettings *s = startup_settings();
        return set_video_mode(s->width, s->height, 0);
    }
    int w = 0, h = 0;
    if (!video_mode_size(entry, &w, &h))
        w = h = 0;
    return set_video_mode(w, h, WINDOW_FULLSCREEN);
}

bool switch_to_selected_mode(void)
{
    return set_window_mode(g_settings.video_mode.chosen);
}

void toggle_fullscreen(void)
{
    SDL_Window *w = (SDL_Window *)window_sdl_handle();
    if (!w)
        return;
    bool full = (SDL_GetWindowFlags(w) & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_FULLSCREEN_DESKTOP)) != 0;
    int entry = g_settings.video_mode.chosen;
    set_window_mode(full ? VIDEO_MODE_WINDOWED : entry == VIDEO_MODE_WINDOWED ? VIDEO_MODE_FULLSCREEN : entry);
}

// ---- the console screen

const char *console_input(void)
{
    return g_menu.input;
}

int console_scrolled(void)
{
    return g_menu.scroll;
}

// A log line as one line of text: the line feed a message may end in, and other control
// characters but colour escapes, are not drawn.
static const char *displayable(const char *line)
{
    size_t n = 0;
    for (const char *s = line; *s && n < MESSAGE_LINE_CHARS; s++)
        if ((unsigned char)*s >= 32 || *s == 27)
            g_menu.row[n++] = *s;
    g_menu.row[n] = 0;
    return g_menu.row;
}

const char *console_row(int row)
{
    if (row < 0 || row >= CONSOLE_LINES)
        return "";
    if (row == CONSOLE_LINES - 1 && g_menu.scroll > 0)
        return k_marker;
    return displayable(message_line(g_menu.scroll + CONSOLE_LINES - 1 - row));
}

static void draw_console(int w, int h)
{
    ui_fill(0, 0, (float)w, (float)h, 0, 0, 0, 0.75f);
    float size = h / ((int)CONSOLE_LINES + 3.0f), x = size * 0.5f;
    for (int row = 0; row < CONSOLE_LINES; row++)
        ui_text(x, size * (row + 0.5f), size * 0.85f, 0.85f, 0.85f, 0.85f, 1, console_row(row), false);
    char line[CONSOLE_INPUT_MAX + 8];
    snprintf(line, sizeof line, "> %s_", g_menu.input);
    ui_text(x, size * ((int)CONSOLE_LINES + 1.0f), size * 0.85f, 1, 1, 0.35f, 1, line, false);
}

// ---- drawing

static void draw_quit(int w, int h)
{
    ui_fill(0, 0, (float)w, (float)h, 0, 0, 0, 0.6f);
    float size = h / 12.0f;
    ui_text((w - ui_text_width("Skorva", size)) * 0.5f, h * 0.3f, size, 1, 1, 1, 1, "Skorva", true);
    const char *prompt = "Press any key to exit or ESC to keep playing";
    float small = h / 28.0f;
    ui_text((w - ui_text_width(prompt, small)) * 0.5f, h * 0.5f, small, 1, 1, 1, 1, prompt, true);
    bool modified = g_menu.hooks.editor_track_modified && g_menu.hooks.editor_track_modified();
    if (startup_settings()->editor && modified && fmod(game_clock(), 0.5) < 0.25) {
        const char *warning = "Track has been modified since last save!  Think about it!!!";
        ui_text((w - ui_text_width(warning, small)) * 0.5f, h * 0.6f, small, 1, 0.3f, 0.3f, 1, warning, true);
    }
}

void menu_draw(void)
{
    if (g_menu.screen == MENU_NONE)
        return;
    int w, h;
    if (!ui_begin_2d(&w, &h))
        return;
    menu_set_window(w, h);
    if (g_menu.screen == MENU_CONSOLE) {
        draw_console(w, h);
    } else if (g_menu.screen == MENU_QUIT) {
        draw_quit(w, h);
    } else {
        ui_fill(0, 0, (float)w, (float)h, 0, 0, 0, 0.55f);
        run_pass(PASS_DRAW, g_menu.item, -1, 0, 0, true);
    }
    float small = h / 40.0f;
    ui_text_right(w - small * 0.5f, h - small * 1.5f, small, 0.9f, 0.9f, 0.9f, 1, VERSION_TEXT);
    ui_end_2d();
}

void message_lines_draw(void)
{
    int shown = messages_showing();
    if (shown <= 0 || g_menu.screen == MENU_CONSOLE)
        return;
    int w, h;
    if (!ui_begin_2d(&w, &h))
        return;
    float size = h / 36.0f;
    for (int i = 0; i < shown; i++) {
        const char *line = displayable(message_line(shown - 1 - i));
        ui_text(size * 0.5f, size * (0.5f + i * 1.1f), size, 1, 1, 1, 1, line, true);
    }
    ui_end_2d();
}
