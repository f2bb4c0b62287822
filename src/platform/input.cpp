// The event queue, key names, aliases, the device table and axes: plain tables, no
// system calls, so that they work (and are tested) without a display or hardware.
#include "platform/input.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <mutex>

#include <SDL_scancode.h>
#include <SDL_keyboard.h>

#include "platform/clock.h"
#include "platform/log.h"

// ---------------------------------------------------------------------------------------
// Fixed tables: the key names and aliases every configuration file relies on

struct KeyName {
    const char *name;
    int scan;                       // PC set-1, + 256 for extended keys
};

// Exactly as the Part lists it; key_name writes these spellings.
static const KeyName k_fixed_keys[] = {
    { "Esc", 0x01 },
    { "0", 0x0b }, { "1", 0x02 }, { "2", 0x03 }, { "3", 0x04 }, { "4", 0x05 },
    { "5", 0x06 }, { "6", 0x07 }, { "7", 0x08 }, { "8", 0x09 }, { "9", 0x0a },
    { "A", 0x1e }, { "B", 0x30 }, { "C", 0x2e }, { "D", 0x20 }, { "E", 0x12 }, { "F", 0x21 },
    { "G", 0x22 }, { "H", 0x23 }, { "I", 0x17 }, { "J", 0x24 }, { "K", 0x25 }, { "L", 0x26 },
    { "M", 0x32 }, { "N", 0x31 }, { "O", 0x18 }, { "P", 0x19 }, { "Q", 0x10 }, { "R", 0x13 },
    { "S", 0x1f }, { "T", 0x14 }, { "U", 0x16 }, { "V", 0x2f }, { "W", 0x11 }, { "X", 0x2d },
    { "Y", 0x15 }, { "Z", 0x2c },
    { "-", 0x0c }, { "=", 0x0d }, { "[", 0x1a }, { "]", 0x1b }, { ";", 0x27 }, { "'", 0x28 },
    { "`", 0x29 }, { "\\", 0x2b }, { ",", 0x33 }, { ".", 0x34 }, { "/", 0x35 },
    { "Backspace", 0x0e }, { "Tab", 0x0f }, { "Enter", 0x1c }, { "Left Ctrl", 0x1d },
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

struct SpecialName {
    const char *name;
    int code;
};
static const SpecialName k_special_names[] = {
    { "Mouse Left", EVENT_MOUSE_LEFT },
    { "Mouse Middle", EVENT_MOUSE_MIDDLE },
    { "Mouse Right", EVENT_MOUSE_RIGHT },
    { "Close", EVENT_CLOSE },
};

struct AliasDef {
    const char *name, *target;
};
static const AliasDef k_fixed_aliases[] = {
    { "cursor-left", "Mouse Left" },         { "cursor-middle", "Mouse Middle" },
    { "cursor-right", "Mouse Right" },       { "cursor-x", "cursor.axis[0]" },
    { "cursor-y", "cursor.axis[1]" },        { "mouse-x", "Mouse.axis[0]" },
    { "mouse-y", "Mouse.axis[1]" },          { "mouse-left", "Mouse.key[0]" },
    { "mouse-right", "Mouse.key[1]" },       { "mouse-middle", "Mouse.key[2]" },
    { "joystick-a-x", "Joystick1.axis[0]" }, { "joystick-a-y", "Joystick1.axis[1]" },
    { "joystick-a-1", "Joystick1.key[0]" },  { "joystick-a-2", "Joystick1.key[1]" },
    { "joystick-b-x", "Joystick2.axis[0]" }, { "joystick-b-y", "Joystick2.axis[1]" },
    { "joystick-b-1", "Joystick2.key[0]" },  { "joystick-b-2", "Joystick2.key[1]" },
};

// SDL scancodes (USB usages) onto PC set-1 scan codes, extended keys + 256. Where two SDL
// keys share a scan code the first one here names it.
struct ScanMap {
    SDL_Scancode sdl;
    int scan;
};
static const ScanMap k_scan_map[] = {
    { SDL_SCANCODE_ESCAPE, 0x01 },
    { SDL_SCANCODE_1, 0x02 }, { SDL_SCANCODE_2, 0x03 }, { SDL_SCANCODE_3, 0x04 },
    { SDL_SCANCODE_4, 0x05 }, { SDL_SCANCODE_5, 0x06 }, { SDL_SCANCODE_6, 0x07 },
    { SDL_SCANCODE_7, 0x08 }, { SDL_SCANCODE_8, 0x09 }, { SDL_SCANCODE_9, 0x0a },
    { SDL_SCANCODE_0, 0x0b }, { SDL_SCANCODE_MINUS, 0x0c }, { SDL_SCANCODE_EQUALS, 0x0d },
    { SDL_SCANCODE_BACKSPACE, 0x0e }, { SDL_SCANCODE_TAB, 0x0f },
    { SDL_SCANCODE_Q, 0x10 }, { SDL_SCANCODE_W, 0x11 }, { SDL_SCANCODE_E, 0x12 },
    { SDL_SCANCODE_R, 0x13 }, { SDL_SCANCODE_T, 0x14 }, { SDL_SCANCODE_Y, 0x15 },
    { SDL_SCANCODE_U, 0x16 }, { SDL_SCANCODE_I, 0x17 }, { SDL_SCANCODE_O, 0x18 },
    { SDL_SCANCODE_P, 0x19 }, { SDL_SCANCODE_LEFTBRACKET, 0x1a },
    { SDL_SCANCODE_RIGHTBRACKET, 0x1b }, { SDL_SCANCODE_RETURN, 0x1c },
    { SDL_SCANCODE_LCTRL, 0x1d },
    { SDL_SCANCODE_A, 0x1e }, { SDL_SCANCODE_S, 0x1f }, { SDL_SCANCODE_D, 0x20 },
    { SDL_SCANCODE_F, 0x21 }, { SDL_SCANCODE_G, 0x22 }, { SDL_SCANCODE_H, 0x23 },
    { SDL_SCANCODE_J, 0x24 }, { SDL_SCANCODE_K, 0x25 }, { SDL_SCANCODE_L, 0x26 },
    { SDL_SCANCODE_SEMICOLON, 0x27 }, { SDL_SCANCODE_APOSTROPHE, 0x28 },
    { SDL_SCANCODE_GRAVE, 0x29 }, { SDL_SCANCODE_LSHIFT, 0x2a },
    { SDL_SCANCODE_BACKSLASH, 0x2b }, { SDL_SCANCODE_NONUSHASH, 0x2b },
    { SDL_SCANCODE_Z, 0x2c }, { SDL_SCANCODE_X, 0x2d }, { SDL_SCANCODE_C, 0x2e },
    { SDL_SCANCODE_V, 0x2f }, { SDL_SCANCODE_B, 0x30 }, { SDL_SCANCODE_N, 0x31 },
    { SDL_SCANCODE_M, 0x32 }, { SDL_SCANCODE_COMMA, 0x33 }, { SDL_SCANCODE_PERIOD, 0x34 },
    { SDL_SCANCODE_SLASH, 0x35 }, { SDL_SCANCODE_RSHIFT, 0x36 },
    { SDL_SCANCODE_KP_MULTIPLY, 0x37 }, { SDL_SCANCODE_LALT, 0x38 },
    { SDL_SCANCODE_SPACE, 0x39 }, { SDL_SCANCODE_CAPSLOCK, 0x3a },
    { SDL_SCANCODE_F1, 0x3b }, { SDL_SCANCODE_F2, 0x3c }, { SDL_SCANCODE_F3, 0x3d },
    { SDL_SCANCODE_F4, 0x3e }, { SDL_SCANCODE_F5, 0x3f }, { SDL_SCANCODE_F6, 0x40 },
    { SDL_SCANCODE_F7, 0x41 }, { SDL_SCANCODE_F8, 0x42 }, { SDL_SCANCODE_F9, 0x43 },
    { SDL_SCANCODE_F10, 0x44 }, { SDL_SCANCODE_PAUSE, 0x45 },
    { SDL_SCANCODE_SCROLLLOCK, 0x46 },
    { SDL_SCANCODE_KP_7, 0x47 }, { SDL_SCANCODE_KP_8, 0x48 }, { SDL_SCANCODE_KP_9, 0x49 },
    { SDL_SCANCODE_KP_MINUS, 0x4a },
    { SDL_SCANCODE_KP_4, 0x4b }, { SDL_SCANCODE_KP_5, 0x4c }, { SDL_SCANCODE_KP_6, 0x4d },
    { SDL_SCANCODE_KP_PLUS, 0x4e },
    { SDL_SCANCODE_KP_1, 0x4f }, { SDL_SCANCODE_KP_2, 0x50 }, { SDL_SCANCODE_KP_3, 0x51 },
    { SDL_SCANCODE_KP_0, 0x52 }, { SDL_SCANCODE_KP_PERIOD, 0x53 },
    { SDL_SCANCODE_NONUSBACKSLASH, 0x56 }, { SDL_SCANCODE_F11, 0x57 },
    { SDL_SCANCODE_F12, 0x58 }, { SDL_SCANCODE_KP_EQUALS, 0x59 },
    { SDL_SCANCODE_F13, 0x64 }, { SDL_SCANCODE_F14, 0x65 }, { SDL_SCANCODE_F15, 0x66 },
    { SDL_SCANCODE_F16, 0x67 }, { SDL_SCANCODE_F17, 0x68 }, { SDL_SCANCODE_F18, 0x69 },
    { SDL_SCANCODE_F19, 0x6a }, { SDL_SCANCODE_F20, 0x6b }, { SDL_SCANCODE_F21, 0x6c },
    { SDL_SCANCODE_F22, 0x6d }, { SDL_SCANCODE_F23, 0x6e },
    { SDL_SCANCODE_INTERNATIONAL2, 0x70 }, { SDL_SCANCODE_INTERNATIONAL1, 0x73 },
    { SDL_SCANCODE_F24, 0x76 }, { SDL_SCANCODE_INTERNATIONAL4, 0x79 },
    { SDL_SCANCODE_INTERNATIONAL5, 0x7b }, { SDL_SCANCODE_INTERNATIONAL3, 0x7d },
    { SDL_SCANCODE_KP_COMMA, 0x7e },
    { SDL_SCANCODE_AUDIOPREV, 0x110 }, { SDL_SCANCODE_AUDIONEXT, 0x119 },
    { SDL_SCANCODE_KP_ENTER, 0x11c }, { SDL_SCANCODE_RCTRL, 0x11d },
    { SDL_SCANCODE_MUTE, 0x120 }, { SDL_SCANCODE_AUDIOMUTE, 0x120 },
    { SDL_SCANCODE_CALCULATOR, 0x121 }, { SDL_SCANCODE_AUDIOPLAY, 0x122 },
    { SDL_SCANCODE_AUDIOSTOP, 0x124 }, { SDL_SCANCODE_VOLUMEDOWN, 0x12e },
    { SDL_SCANCODE_VOLUMEUP, 0x130 }, { SDL_SCANCODE_AC_HOME, 0x132 },
    { SDL_SCANCODE_KP_DIVIDE, 0x135 }, { SDL_SCANCODE_PRINTSCREEN, 0x137 },
    { SDL_SCANCODE_RALT, 0x138 }, { SDL_SCANCODE_NUMLOCKCLEAR, 0x145 },
    { SDL_SCANCODE_HOME, 0x147 }, { SDL_SCANCODE_UP, 0x148 }, { SDL_SCANCODE_PAGEUP, 0x149 },
    { SDL_SCANCODE_LEFT, 0x14b }, { SDL_SCANCODE_RIGHT, 0x14d }, { SDL_SCANCODE_END, 0x14f },
    { SDL_SCANCODE_DOWN, 0x150 }, { SDL_SCANCODE_PAGEDOWN, 0x151 },
    { SDL_SCANCODE_INSERT, 0x152 }, { SDL_SCANCODE_DELETE, 0x153 },
    { SDL_SCANCODE_LGUI, 0x15b }, { SDL_SCANCODE_RGUI, 0x15c },
    { SDL_SCANCODE_APPLICATION, 0x15d }, { SDL_SCANCODE_POWER, 0x15e },
    { SDL_SCANCODE_SLEEP, 0x15f }, { SDL_SCANCODE_AC_SEARCH, 0x165 },
    { SDL_SCANCODE_AC_BOOKMARKS, 0x166 }, { SDL_SCANCODE_AC_REFRESH, 0x167 },
    { SDL_SCANCODE_AC_STOP, 0x168 }, { SDL_SCANCODE_AC_FORWARD, 0x169 },
    { SDL_SCANCODE_AC_BACK, 0x16a }, { SDL_SCANCODE_COMPUTER, 0x16b },
    { SDL_SCANCODE_MAIL, 0x16c }, { SDL_SCANCODE_MEDIASELECT, 0x16d },
};

// ---------------------------------------------------------------------------------------
// Module state

enum { MAX_ALIASES = 256, NAME_SIZE = 64, DEVICE_NAME_SIZE = 64, AXIS_NAME_POOL = 65536 };

struct InputDevice {
    char name[DEVICE_NAME_SIZE];
    int id;                         // bits 16..30
    int axes, buttons, mode;
    int open_axes;                  // reference count of open axes
    float axis[MAX_DEVICE_AXES];    // latest value, or motion summed since the last read
    long long adjust_ms;            // subtracted from the device's stamps; only grows
};

struct OpenAxis {
    int device;                     // -1: the handle is free
    int axis;
};

static struct {
    std::recursive_mutex lock;      // the queue lock: window messages and devices append under it

    Event queue[EVENT_QUEUE_SIZE];  // a ring kept sorted by time
    int head, count;

    bool aliases_ready;
    char alias_name[MAX_ALIASES][NAME_SIZE];
    char alias_target[MAX_ALIASES][NAME_SIZE];
    int alias_count;

    bool platform_names_ready;
    const char *platform_name[512]; // SDL's name for each scan code, null where none

    InputDevice devices[MAX_INPUT_DEVICES];
    int device_count;
    OpenAxis open[MAX_OPEN_AXES];
    int open_count;                 // handles ever used (the free ones have device -1)

    char axis_name_pool[AXIS_NAME_POOL];
    const char *axis_name_list[MAX_INPUT_DEVICES * MAX_DEVICE_AXES + 1];
} g_input;

typedef std::lock_guard<std::recursive_mutex> Hold;

// ---------------------------------------------------------------------------------------
// Event queue

static long long event_us(long sec, long usec)
{
    return (long long)sec * 1000000LL + usec;
}

bool queue_event(int code, int pressed, long sec, long usec)
{
    Hold hold(g_input.lock);
    if (g_input.count >= EVENT_QUEUE_SIZE)
        return false;
    long long t = event_us(sec, usec);
    // After every event that is not later than the new one.
    int pos = g_input.count;
    while (pos > 0) {
        const Event &e = g_input.queue[(g_input.head + pos - 1) % EVENT_QUEUE_SIZE];
        if (event_us(e.sec, e.usec) <= t)
            break;
        g_input.queue[(g_input.head + pos) % EVENT_QUEUE_SIZE] = e;
        pos--;
    }
    Event &slot = g_input.queue[(g_input.head + pos) % EVENT_QUEUE_SIZE];
    slot.code = code & 0x7fffffff;
    slot.pressed = pressed ? 1 : 0;
    slot.sec = sec;
    slot.usec = usec;
    g_input.count++;
    return true;
}

static bool take_event(bool limited, long sec, long usec, Event *out)
{
    pump_events();
    Hold hold(g_input.lock);
    if (g_input.count == 0)
        return false;
    const Event &e = g_input.queue[g_input.head];
    if (limited && event_us(e.sec, e.usec) > event_us(sec, usec))
        return false;
    *out = e;
    g_input.head = (g_input.head + 1) % EVENT_QUEUE_SIZE;
    g_input.count--;
    return true;
}

bool next_event(Event *out)
{
    return take_event(false, 0, 0, out);
}

bool next_event_before(long sec, long usec, Event *out)
{
    return take_event(true, sec, usec, out);
}

void clear_events(void)
{
    Hold hold(g_input.lock);
    g_input.head = 0;
    g_input.count = 0;
}

int queued_events(void)
{
    Hold hold(g_input.lock);
    return g_input.count;
}

// ---------------------------------------------------------------------------------------
// Scan codes

int scan_code_from_sdl(int sdl_scancode)
{
    for (const ScanMap &m : k_scan_map)
        if ((int)m.sdl == sdl_scancode)
            return m.scan;
    return -1;
}

int sdl_from_scan_code(int scan_code)
{
    for (const ScanMap &m : k_scan_map)
        if (m.scan == scan_code)
            return (int)m.sdl;
    return (int)SDL_SCANCODE_UNKNOWN;
}

// SDL's scancode names are a static table: no display or SDL_Init is needed, and they do
// not follow the keyboard layout.
static void make_platform_names(void)
{
    if (g_input.platform_names_ready)
        return;
    for (int scan = 0; scan < 512; scan++) {
        int sdl = sdl_from_scan_code(scan);
        const char *name = sdl != SDL_SCANCODE_UNKNOWN ? SDL_GetScancodeName((SDL_Scancode)sdl) : "";
        g_input.platform_name[scan] = name && *name ? name : nullptr;
    }
    g_input.platform_names_ready = true;
}

// ---------------------------------------------------------------------------------------
// Names

// Case-insensitive, with "_" and whitespace counting as a space.
static bool loose_equal(const char *a, const char *b)
{
    for (;; a++, b++) {
        int ca = (unsigned char)*a, cb = (unsigned char)*b;
        if (ca == '_' || isspace(ca))
            ca = ' ';
        if (cb == '_' || isspace(cb))
            cb = ' ';
        if (tolower(ca) != tolower(cb))
            return false;
        if (!ca)
            return true;
    }
}

static bool exact_equal(const char *a, const char *b)
{
    return strcmp(a, b) == 0;
}

static void make_fixed_aliases(void)
{
    if (g_input.aliases_ready)
        return;
    g_input.aliases_ready = true;
    for (const AliasDef &a : k_fixed_aliases)
        define_alias(a.name, a.target);
}

bool define_alias(const char *name, const char *target)
{
    Hold hold(g_input.lock);
    make_fixed_aliases();
    for (int i = 0; i < g_input.alias_count; i++) {
        if (exact_equal(g_input.alias_name[i], name)) {
            log_printf("Second alias for '%s' ('%s') ignored\n", name, target);
            return false;
        }
    }
    if (g_input.alias_count >= MAX_ALIASES) {
        log_printf("Too many aliases: '%s' ignored\n", name);
        return false;
    }
    snprintf(g_input.alias_name[g_input.alias_count], NAME_SIZE, "%s", name);
    snprintf(g_input.alias_target[g_input.alias_count], NAME_SIZE, "%s", target);
    g_input.alias_count++;
    return true;
}

void reset_aliases(void)
{
    Hold hold(g_input.lock);
    g_input.alias_count = 0;
    g_input.aliases_ready = false;
    make_fixed_aliases();
}

static const char *resolve_alias(const char *name)
{
    make_fixed_aliases();
    for (int i = 0; i < g_input.alias_count; i++)
        if (exact_equal(g_input.alias_name[i], name))
            return g_input.alias_target[i];
    return name;
}

static int find_device_locked(const char *name)
{
    for (int i = 0; i < g_input.device_count; i++)
        if (strcmp(g_input.devices[i].name, name) == 0)
            return i;
    return -1;
}

int key_code(const char *name)
{
    if (!name)
        return -1;
    Hold hold(g_input.lock);
    make_platform_names();
    name = resolve_alias(name);
    // The special names, the platform's names, the fixed table: exactly, then loosely.
    for (int pass = 0; pass < 2; pass++) {
        bool (*same)(const char *, const char *) = pass == 0 ? exact_equal : loose_equal;
        for (const SpecialName &s : k_special_names)
            if (same(name, s.name))
                return s.code;
        for (int scan = 0; scan < 512; scan++)
            if (g_input.platform_name[scan] && same(name, g_input.platform_name[scan]))
                return EVENT_KEY_BASE + scan;
        for (const KeyName &k : k_fixed_keys)
            if (same(name, k.name))
                return EVENT_KEY_BASE + k.scan;
    }
    unsigned hex;
    int used = 0;
    if (sscanf(name, "0x%x%n", &hex, &used) == 1 && name[used] == 0 && hex <= 0x1ff)
        return EVENT_KEY_BASE + (int)hex;
    char device[64];
    int button;
    if (sscanf(name, "%63[^.].key[%d]", device, &button) == 2 ||
        sscanf(name, "%63s button %d", device, &button) == 2) {
        int d = find_device_locked(device);
        if (d >= 0 && button >= 0 && button <= 255 && button < g_input.devices[d].buttons)
            return g_input.devices[d].id + button;
    }
    return -1;
}

const char *key_name(int code, char *out, int size)
{
    if (!out || size <= 0)
        return out;
    Hold hold(g_input.lock);
    out[0] = 0;
    for (const SpecialName &s : k_special_names) {
        if (s.code == code) {
            snprintf(out, (size_t)size, "%s", s.name);
            return out;
        }
    }
    if (code >= EVENT_KEY_BASE && code < EVENT_KEY_BASE + 512) {
        int scan = code - EVENT_KEY_BASE;
        for (const KeyName &k : k_fixed_keys) {
            if (k.scan == scan) {
                snprintf(out, (size_t)size, "%s", k.name);
                return out;
            }
        }
        make_platform_names();
        if (g_input.platform_name[scan])
            snprintf(out, (size_t)size, "%s", g_input.platform_name[scan]);
        else
            snprintf(out, (size_t)size, "0x%x", scan);
        return out;
    }
    if (code >= 65536) {
        int id = code & 0x7fff0000, button = code & 0xffff;
        for (int i = 0; i < g_input.device_count; i++) {
            if (g_input.devices[i].id == id) {
                snprintf(out, (size_t)size, "%.1000s button %d", g_input.devices[i].name, button);
                return out;
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// Devices

int fold_device_name(const char *name)
{
    unsigned even = 0, odd = 0;
    for (int i = 0; name[i]; i++) {
        if (i & 1)
            odd += (unsigned char)name[i];
        else
            even += (unsigned char)name[i];
    }
    even &= 0xffff;
    odd &= 0xff;
    return (int)((((odd << 8) + even) << 16) & 0x7fff0000u);
}

static bool id_taken(int id)
{
    for (int i = 0; i < g_input.device_count; i++)
        if (g_input.devices[i].id == id)
            return true;
    return false;
}

int add_input_device(const char *instance_name, int axes, int buttons, int axis_mode)
{
    Hold hold(g_input.lock);
    // Spaces and "." would break the "%63[^.]" and "%63s" name forms. Names are kept to 59
    // characters, so that "#NN" still fits the 63 that those forms read.
    char base[DEVICE_NAME_SIZE];
    int n = 0;
    for (const char *p = instance_name ? instance_name : ""; *p && n < 59; p++)
        if (!isspace((unsigned char)*p) && *p != '.')
            base[n++] = *p;
    base[n] = 0;
    if (axes <= 0 && buttons <= 0) {
        log_printf("Ignoring Dunsel device \"%s\"\n", base);
        return -1;
    }
    if (g_input.device_count >= MAX_INPUT_DEVICES) {
        log_printf("Too many input devices: \"%s\" ignored\n", base);
        return -1;
    }
    char name[DEVICE_NAME_SIZE + 16];
    snprintf(name, sizeof name, "%s", base);
    for (int copy = 2; find_device_locked(name) >= 0; copy++)
        snprintf(name, sizeof name, "%s#%d", base, copy);

    int id = fold_device_name(name);
    while (id == 0 || id_taken(id))
        id = (int)(((unsigned)id + 65536u) & 0x7fff0000u);

    if (axes > MAX_DEVICE_AXES) {
        char first[256];
        snprintf(first, sizeof first, "%.200s axis %d", name, MAX_DEVICE_AXES);
        log_printf("Wow! This thing has a lot of axes!\nThe first ignored axis is called \"%s\"\n", first);
        axes = MAX_DEVICE_AXES;
    }
    if (buttons > MAX_DEVICE_BUTTONS) {
        char first[256];
        snprintf(first, sizeof first, "%.200s button %d", name, MAX_DEVICE_BUTTONS);
        log_printf("Wow! This thing has a lot of buttons!\nThe first ignored button is called \"%s\"\n", first);
        buttons = MAX_DEVICE_BUTTONS;
    }
    int index = g_input.device_count++;
    InputDevice &d = g_input.devices[index];
    memset(&d, 0, sizeof d);
    memcpy(d.name, name, strnlen(name, sizeof d.name - 1));
    d.id = id;
    d.axes = axes > 0 ? axes : 0;
    d.buttons = buttons > 0 ? buttons : 0;
    d.mode = axis_mode == AXIS_RELATIVE ? AXIS_RELATIVE : AXIS_ABSOLUTE;
    return index;
}

int input_device_count(void)
{
    Hold hold(g_input.lock);
    return g_input.device_count;
}

static bool valid_device(int device)
{
    return device >= 0 && device < g_input.device_count;
}

const char *input_device_name(int device)
{
    Hold hold(g_input.lock);
    return valid_device(device) ? g_input.devices[device].name : "";
}

int input_device_id(int device)
{
    Hold hold(g_input.lock);
    return valid_device(device) ? g_input.devices[device].id : 0;
}

int input_device_axes(int device)
{
    Hold hold(g_input.lock);
    return valid_device(device) ? g_input.devices[device].axes : 0;
}

int input_device_buttons(int device)
{
    Hold hold(g_input.lock);
    return valid_device(device) ? g_input.devices[device].buttons : 0;
}

int find_input_device(const char *name)
{
    Hold hold(g_input.lock);
    return find_device_locked(name);
}

void input_device_axis(int device, int axis, float value)
{
    Hold hold(g_input.lock);
    if (!valid_device(device))
        return;
    InputDevice &d = g_input.devices[device];
    if (axis < 0 || axis >= d.axes)
        return;
    if (d.mode == AXIS_RELATIVE)
        d.axis[axis] += value;
    else
        d.axis[axis] = value;
}

void input_device_button(int device, int button, int pressed, long sec, long usec)
{
    Hold hold(g_input.lock);
    if (!valid_device(device))
        return;
    const InputDevice &d = g_input.devices[device];
    if (button < 0 || button >= d.buttons)
        return;
    queue_event(d.id + button, pressed, sec, usec);
}

void input_device_event_time(int device, long long stamp_ms, long *sec, long *usec)
{
    long now_sec, now_usec;
    clock_now(&now_sec, &now_usec);
    long long now_ms = (long long)now_sec * 1000 + now_usec / 1000;
    Hold hold(g_input.lock);
    long long t = stamp_ms;
    if (valid_device(device)) {
        InputDevice &d = g_input.devices[device];
        t -= d.adjust_ms;
        if (t > now_ms) {
            d.adjust_ms += t - now_ms;
            t = now_ms;
        }
    } else if (t > now_ms) {
        t = now_ms;
    }
    if (t < 0)
        t = 0;
    *sec = (long)(t / 1000);
    *usec = (long)(t % 1000) * 1000;
}

int input_device_adjustment(int device)
{
    Hold hold(g_input.lock);
    return valid_device(device) ? (int)g_input.devices[device].adjust_ms : 0;
}

void clear_input_devices(void)
{
    Hold hold(g_input.lock);
    g_input.device_count = 0;
    for (int i = 0; i < MAX_OPEN_AXES; i++)
        g_input.open[i].device = -1;
    g_input.open_count = 0;
    g_input.axis_name_list[0] = nullptr;
}

// ---------------------------------------------------------------------------------------
// Axes

int open_axis(const char *name)
{
    if (!name)
        return -1;
    Hold hold(g_input.lock);
    name = resolve_alias(name);
    char device[64];
    int axis;
    if (sscanf(name, "%63[^.].axis[%d]", device, &axis) != 2 &&
        sscanf(name, "%63s axis %d", device, &axis) != 2)
        return -1;
    int d = find_device_locked(device);
    if (d < 0 || axis < 0 || axis >= g_input.devices[d].axes)
        return -1;
    int handle = -1;
    for (int i = 0; i < g_input.open_count; i++) {
        if (g_input.open[i].device < 0) {
            handle = i;
            break;
        }
    }
    if (handle < 0) {
        if (g_input.open_count >= MAX_OPEN_AXES) {
            log_printf("Too many open axes: \"%s\" not opened\n", name);
            return -1;
        }
        handle = g_input.open_count++;
    }
    InputDevice &dev = g_input.devices[d];
    if (dev.open_axes++ == 0 && dev.mode == AXIS_RELATIVE) {
        // Opening the device starts its motion from nothing.
        for (int a = 0; a < dev.axes; a++)
            dev.axis[a] = 0;
    }
    g_input.open[handle].device = d;
    g_input.open[handle].axis = axis;
    return handle;
}

float read_axis(int axis)
{
    Hold hold(g_input.lock);
    if (axis < 0 || axis >= g_input.open_count || g_input.open[axis].device < 0)
        return 0;
    InputDevice &d = g_input.devices[g_input.open[axis].device];
    float v = d.axis[g_input.open[axis].axis];
    if (d.mode == AXIS_RELATIVE)
        d.axis[g_input.open[axis].axis] = 0;
    return v;
}

void close_axis(int axis)
{
    Hold hold(g_input.lock);
    if (axis < 0 || axis >= g_input.open_count || g_input.open[axis].device < 0)
        return;
    InputDevice &d = g_input.devices[g_input.open[axis].device];
    if (d.open_axes > 0)
        d.open_axes--;
    g_input.open[axis].device = -1;
}

const char *const *axis_names(void)
{
    Hold hold(g_input.lock);
    int count = 0;
    size_t used = 0;
    for (int i = 0; i < g_input.device_count; i++) {
        const InputDevice &d = g_input.devices[i];
        for (int a = 0; a < d.axes; a++) {
            char *at = g_input.axis_name_pool + used;
            int n = snprintf(at, AXIS_NAME_POOL - used, "%.200s axis %d", d.name, a);
            if (n < 0 || used + (size_t)n + 1 > AXIS_NAME_POOL)
                break;
            used += (size_t)n + 1;
            g_input.axis_name_list[count++] = at;
        }
    }
    g_input.axis_name_list[count] = nullptr;
    return g_input.axis_name_list;
}
