// Input devices over SDL: joysticks as the general controller interface ("dinput"), game
// controllers as "XInputGamepad%d" ("xinput"), the Keyboard and Mouse devices, "cursor",
// and the translation of SDL's events into the event queue.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <SDL.h>

#include "platform/clock.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/options.h"
#include "platform/platform_internal.h"
#include "platform/process.h"

enum { MAX_PADS = 4, PAD_AXES = 6, PAD_BUTTONS = 16, MAX_HATS = 16 };

// Game controller buttons onto the bits of the classic pad layout.
static const struct {
    SDL_GameControllerButton sdl;
    int bit;
} k_pad_buttons[] = {
    { SDL_CONTROLLER_BUTTON_DPAD_UP, 0 },       { SDL_CONTROLLER_BUTTON_DPAD_DOWN, 1 },
    { SDL_CONTROLLER_BUTTON_DPAD_LEFT, 2 },     { SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 3 },
    { SDL_CONTROLLER_BUTTON_START, 4 },         { SDL_CONTROLLER_BUTTON_BACK, 5 },
    { SDL_CONTROLLER_BUTTON_LEFTSTICK, 6 },     { SDL_CONTROLLER_BUTTON_RIGHTSTICK, 7 },
    { SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 8 },  { SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 9 },
    { SDL_CONTROLLER_BUTTON_GUIDE, 10 },
    { SDL_CONTROLLER_BUTTON_A, 12 },            { SDL_CONTROLLER_BUTTON_B, 13 },
    { SDL_CONTROLLER_BUTTON_X, 14 },            { SDL_CONTROLLER_BUTTON_Y, 15 },
};

// A hat counts as four buttons after the stick's own: up, right, down, left.
static const Uint8 k_hat_bits[4] = { SDL_HAT_UP, SDL_HAT_RIGHT, SDL_HAT_DOWN, SDL_HAT_LEFT };

struct Stick {
    int device;                     // index in the device table
    SDL_Joystick *joystick;         // a general controller, or
    SDL_GameController *pad;        // a gamepad
    SDL_JoystickID instance;
    int buttons;                    // the joystick's own buttons; hats follow
    int hats;
    Uint8 hat_state[MAX_HATS];
};

static struct {
    bool open;                      // open_input_devices has run
    bool sdl_open;                  // the game controller subsystem is ours to quit
    Stick sticks[MAX_INPUT_DEVICES];
    int stick_count;
    int keyboard, mouse, cursor;    // device indexes, -1 when absent
    long long sdl_offset_ms;        // SDL ticks - platform clock, milliseconds
    bool close_requested;
} g_devices = { false, false, {}, 0, -1, -1, -1, 0, false };

// ---------------------------------------------------------------------------------------
// Options

static const char *on_off(bool v)
{
    return v ? "on" : "off";
}

PlatformOptions read_platform_options(void)
{
    PlatformOptions o;
    o.threaded = option_bool("threaded", false);
    o.dinput = option_bool("dinput", true);
    o.xinput = option_bool("xinput", true);
    o.dinputsticksonly = option_bool("dinputsticksonly", true);
    log_printf("Options:\n");
    log_printf("%10s [%s]\n", "threaded:", on_off(o.threaded));
    log_printf("%10s [%s]\n", "dinput:", on_off(o.dinput));
    log_printf("%10s [%s]\n", "xinput:", on_off(o.xinput));
    log_printf("%10s [%s]\n", "dinputsticksonly:", on_off(o.dinputsticksonly));
    return o;
}

// ---------------------------------------------------------------------------------------
// Time

void devices_sync_clock(void)
{
    long sec, usec;
    clock_now(&sec, &usec);
    g_devices.sdl_offset_ms = (long long)SDL_GetTicks64() - ((long long)sec * 1000 + usec / 1000);
}

// The platform-clock time of an SDL event; device is -1 for window-system messages.
static void event_time(const SDL_Event *e, int device, long *sec, long *usec)
{
    long long stamp = (long long)e->common.timestamp - g_devices.sdl_offset_ms;
    input_device_event_time(device, stamp, sec, usec);
}

// ---------------------------------------------------------------------------------------
// Enumeration

static Stick *add_stick(int device)
{
    Stick *s = &g_devices.sticks[g_devices.stick_count++];
    memset(s, 0, sizeof *s);
    s->device = device;
    s->instance = -1;
    return s;
}

static void open_general_controllers(int joysticks, const bool *is_pad)
{
    for (int i = 0; i < joysticks; i++) {
        const char *name = SDL_JoystickNameForIndex(i);
        if (!name || !*name)
            name = "Joystick";
        if (is_pad[i]) {
            log_printf("Ignoring XInput device \"%s\"\n", name);
            continue;
        }
        if (g_devices.stick_count >= MAX_INPUT_DEVICES)
            break;
        SDL_Joystick *j = SDL_JoystickOpen(i);
        if (!j) {
            log_printf("Can't create \"%s\": %s\n", name, SDL_GetError());
            continue;
        }
        int axes = SDL_JoystickNumAxes(j), buttons = SDL_JoystickNumButtons(j), hats = SDL_JoystickNumHats(j);
        if (axes < 0 || buttons < 0 || hats < 0) {
            log_printf("Can't get device caps \"%s\": %s\n", name, SDL_GetError());
            SDL_JoystickClose(j);
            continue;
        }
        if (hats > MAX_HATS)
            hats = MAX_HATS;
        int d = add_input_device(name, axes, buttons + 4 * hats, AXIS_ABSOLUTE);
        if (d < 0) {
            SDL_JoystickClose(j);
            continue;
        }
        Stick *s = add_stick(d);
        s->joystick = j;
        s->instance = SDL_JoystickInstanceID(j);
        s->buttons = buttons;
        s->hats = hats;
        for (int a = 0; a < axes && a < MAX_DEVICE_AXES; a++) {
            int v = SDL_JoystickGetAxis(j, a);
            input_device_axis(d, a, (float)(v < -32767 ? -32767 : v));
        }
        for (int h = 0; h < hats; h++)
            s->hat_state[h] = SDL_JoystickGetHat(j, h);
        log_printf("%s: %d axes, %d buttons\n", input_device_name(d), input_device_axes(d),
                   input_device_buttons(d));
    }
}

static float pad_axis_value(int axis, int raw)
{
    // Both Y axes are negated so that up is positive, as the classic pad reports them.
    if (axis == SDL_CONTROLLER_AXIS_LEFTY || axis == SDL_CONTROLLER_AXIS_RIGHTY)
        raw = raw <= -32767 ? 32767 : -raw;
    return (float)raw;
}

static void open_gamepads(const int *pad_index, int pads)
{
    log_printf("XInput roll call...\n");
    for (int k = 0; k < pads && g_devices.stick_count < MAX_INPUT_DEVICES; k++) {
        SDL_GameController *c = SDL_GameControllerOpen(pad_index[k]);
        if (!c) {
            log_printf("Can't create \"XInputGamepad%d\": %s\n", k, SDL_GetError());
            continue;
        }
        char name[32];
        snprintf(name, sizeof name, "XInputGamepad%d", k);
        int d = add_input_device(name, PAD_AXES, PAD_BUTTONS, AXIS_ABSOLUTE);
        if (d < 0) {
            SDL_GameControllerClose(c);
            continue;
        }
        Stick *s = add_stick(d);
        s->pad = c;
        s->instance = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c));
        for (int a = 0; a < PAD_AXES; a++)
            input_device_axis(d, a, pad_axis_value(a, SDL_GameControllerGetAxis(c, (SDL_GameControllerAxis)a)));
        log_printf("%s found\n", name);
    }
    log_printf("End of XInput roll call\n");
}

int open_input_devices(const PlatformOptions *options)
{
    if (g_devices.open)
        close_input_devices();
    clear_input_devices();
    g_devices.open = true;
    g_devices.stick_count = 0;
    g_devices.keyboard = g_devices.mouse = g_devices.cursor = -1;

    // Game controllers need no display: this works for a headless run too.
    g_devices.sdl_open = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
    if (!g_devices.sdl_open)
        log_printf("Can't open game controllers: %s\n", SDL_GetError());
    devices_sync_clock();
    int joysticks = g_devices.sdl_open ? SDL_NumJoysticks() : 0;
    if (joysticks > 256)
        joysticks = 256;

    // Up to four game controllers go to the gamepad interface and are then kept out of the
    // general enumeration, so no pad is listed twice.
    bool is_pad[256] = {};
    int pad_index[MAX_PADS];
    int pads = 0;
    for (int i = 0; i < joysticks && options->xinput && pads < MAX_PADS; i++) {
        if (SDL_IsGameController(i)) {
            is_pad[i] = true;
            pad_index[pads++] = i;
        }
    }

    if (options->dinput) {
        if (!options->dinputsticksonly) {
            g_devices.keyboard = add_input_device("Keyboard", 0, 256, AXIS_ABSOLUTE);
            // x, y and the wheel; left, right, middle and the two side buttons.
            g_devices.mouse = add_input_device("Mouse", 3, 5, AXIS_RELATIVE);
        }
        open_general_controllers(joysticks, is_pad);
    }
    if (options->xinput)
        open_gamepads(pad_index, pads);
    g_devices.cursor = add_input_device("cursor", 2, 0, AXIS_ABSOLUTE);
    if (g_devices.sdl_open) {
        SDL_JoystickEventState(SDL_ENABLE);
        SDL_GameControllerEventState(SDL_ENABLE);
    }
    return input_device_count();
}

void close_input_devices(void)
{
    if (!g_devices.open)
        return;
    log_printf("Closing input devices\n");
    for (int i = 0; i < input_device_count(); i++) {
        int adjust = input_device_adjustment(i);
        if (adjust > 0)
            log_printf("Timestamp adjustment was %d\n", adjust);
    }
    for (int i = 0; i < g_devices.stick_count; i++) {
        Stick *s = &g_devices.sticks[i];
        if (s->pad)
            SDL_GameControllerClose(s->pad);
        if (s->joystick)
            SDL_JoystickClose(s->joystick);
    }
    g_devices.stick_count = 0;
    g_devices.keyboard = g_devices.mouse = g_devices.cursor = -1;
    clear_input_devices();
    if (g_devices.sdl_open)
        SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    g_devices.sdl_open = false;
    g_devices.open = false;
}

// ---------------------------------------------------------------------------------------
// Events

static Stick *find_stick(SDL_JoystickID instance, bool pad)
{
    for (int i = 0; i < g_devices.stick_count; i++) {
        Stick *s = &g_devices.sticks[i];
        if (s->instance == instance && (pad ? s->pad != nullptr : s->joystick != nullptr))
            return s;
    }
    return nullptr;
}

// The Keyboard device numbers its buttons as DirectInput did: the scan code, with bit 7
// set for an extended key.
static int keyboard_button(int scan)
{
    return scan < 256 ? scan : (0x80 | (scan & 0x7f));
}

// The characters that Windows types for these keys and SDL's text input does not.
static int control_character(int scan)
{
    switch (scan) {
    case 0x0e: return 8;            // Backspace
    case 0x0f: return 9;            // Tab
    case 0x1c: return 13;           // Enter
    case 0x11c: return 13;          // Keypad Enter
    case 0x01: return 27;           // Esc
    default: return -1;
    }
}

static void queue_text(const char *utf8, long sec, long usec)
{
    // UTF-8 to Latin-1; characters beyond 255 are dropped.
    const unsigned char *p = (const unsigned char *)utf8;
    while (*p) {
        unsigned cp;
        int extra;
        if (*p < 0x80) {
            cp = *p;
            extra = 0;
        } else if ((*p & 0xe0) == 0xc0) {
            cp = *p & 0x1f;
            extra = 1;
        } else if ((*p & 0xf0) == 0xe0) {
            cp = *p & 0x0f;
            extra = 2;
        } else if ((*p & 0xf8) == 0xf0) {
            cp = *p & 0x07;
            extra = 3;
        } else {
            p++;
            continue;
        }
        p++;
        bool ok = true;
        for (int i = 0; i < extra; i++, p++) {
            if ((*p & 0xc0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (*p & 0x3f);
        }
        if (ok && cp < 256)
            queue_event((int)cp, 1, sec, usec);
    }
}

static void queue_close(const SDL_Event *e)
{
    long sec, usec;
    event_time(e, -1, &sec, &usec);
    queue_event(EVENT_CLOSE, 1, sec, usec);
    g_devices.close_requested = true;
}

void devices_handle_event(const SDL_Event *e)
{
    long sec, usec;
    switch (e->type) {
    case SDL_QUIT:
        queue_close(e);
        break;
    case SDL_WINDOWEVENT:
        if (e->window.event == SDL_WINDOWEVENT_CLOSE)
            queue_close(e);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        int scan = scan_code_from_sdl(e->key.keysym.scancode);
        if (scan < 0)
            break;
        bool pressed = e->type == SDL_KEYDOWN;
        event_time(e, -1, &sec, &usec);
        queue_event(EVENT_KEY_BASE + scan, pressed, sec, usec);
        if (g_devices.keyboard >= 0 && !e->key.repeat)
            input_device_button(g_devices.keyboard, keyboard_button(scan), pressed, sec, usec);
        int ch = control_character(scan);
        if (pressed && ch >= 0)
            queue_event(ch, 1, sec, usec);
        break;
    }
    case SDL_TEXTINPUT:
        event_time(e, -1, &sec, &usec);
        queue_text(e->text.text, sec, usec);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        bool pressed = e->type == SDL_MOUSEBUTTONDOWN;
        event_time(e, -1, &sec, &usec);
        int code = -1, button = -1;
        switch (e->button.button) {
        case SDL_BUTTON_LEFT: code = EVENT_MOUSE_LEFT; button = 0; break;
        case SDL_BUTTON_RIGHT: code = EVENT_MOUSE_RIGHT; button = 1; break;
        case SDL_BUTTON_MIDDLE: code = EVENT_MOUSE_MIDDLE; button = 2; break;
        case SDL_BUTTON_X1: button = 3; break;
        case SDL_BUTTON_X2: button = 4; break;
        }
        if (code >= 0)
            queue_event(code, pressed, sec, usec);
        if (g_devices.mouse >= 0 && button >= 0)
            input_device_button(g_devices.mouse, button, pressed, sec, usec);
        break;
    }
    case SDL_MOUSEMOTION:
        if (g_devices.cursor >= 0) {
            float sx, sy;
            window_pixel_scale(&sx, &sy);
            input_device_axis(g_devices.cursor, 0, (float)e->motion.x * sx);
            input_device_axis(g_devices.cursor, 1, (float)e->motion.y * sy);
        }
        if (g_devices.mouse >= 0) {
            input_device_axis(g_devices.mouse, 0, (float)e->motion.xrel);
            input_device_axis(g_devices.mouse, 1, (float)e->motion.yrel);
        }
        break;
    case SDL_MOUSEWHEEL:
        if (g_devices.mouse >= 0) {
            // 120 per notch, as the wheel axis counted it on Windows.
            int y = e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e->wheel.y : e->wheel.y;
            input_device_axis(g_devices.mouse, 2, (float)(y * 120));
        }
        break;
    case SDL_JOYAXISMOTION: {
        Stick *s = find_stick(e->jaxis.which, false);
        if (s) {
            int v = e->jaxis.value < -32767 ? -32767 : e->jaxis.value;
            input_device_axis(s->device, e->jaxis.axis, (float)v);
        }
        break;
    }
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP: {
        Stick *s = find_stick(e->jbutton.which, false);
        if (s) {
            event_time(e, s->device, &sec, &usec);
            input_device_button(s->device, e->jbutton.button, e->type == SDL_JOYBUTTONDOWN, sec, usec);
        }
        break;
    }
    case SDL_JOYHATMOTION: {
        Stick *s = find_stick(e->jhat.which, false);
        if (s && e->jhat.hat < s->hats) {
            event_time(e, s->device, &sec, &usec);
            Uint8 before = s->hat_state[e->jhat.hat], now = e->jhat.value;
            for (int b = 0; b < 4; b++) {
                bool was = (before & k_hat_bits[b]) != 0, is = (now & k_hat_bits[b]) != 0;
                if (was != is)
                    input_device_button(s->device, s->buttons + 4 * e->jhat.hat + b, is, sec, usec);
            }
            s->hat_state[e->jhat.hat] = now;
        }
        break;
    }
    case SDL_CONTROLLERAXISMOTION: {
        Stick *s = find_stick(e->caxis.which, true);
        if (s && e->caxis.axis < PAD_AXES)
            input_device_axis(s->device, e->caxis.axis, pad_axis_value(e->caxis.axis, e->caxis.value));
        break;
    }
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: {
        Stick *s = find_stick(e->cbutton.which, true);
        if (!s)
            break;
        for (const auto &b : k_pad_buttons) {
            if (b.sdl == e->cbutton.button) {
                event_time(e, s->device, &sec, &usec);
                input_device_button(s->device, b.bit, e->type == SDL_CONTROLLERBUTTONDOWN, sec, usec);
            }
        }
        break;
    }
    default:
        break;
    }
}

bool inject_key(const char *name, bool pressed)
{
    int code = key_code(name);
    if (code < EVENT_KEY_BASE || code >= EVENT_KEY_BASE + 512 || !SDL_WasInit(SDL_INIT_VIDEO))
        return false;
    int sdl = sdl_from_scan_code(code - EVENT_KEY_BASE);
    if (sdl == SDL_SCANCODE_UNKNOWN)
        return false;
    SDL_Event e = {};
    e.type = pressed ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = pressed ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = (SDL_Scancode)sdl;
    e.key.keysym.sym = SDL_GetKeyFromScancode((SDL_Scancode)sdl);
    if (SDL_PushEvent(&e) < 0)
        return false;
    SDL_Keycode sym = e.key.keysym.sym;
    if (pressed && sym >= 32 && sym < 127) {
        SDL_Event t = {};
        t.type = SDL_TEXTINPUT;
        t.text.text[0] = (char)sym;
        SDL_PushEvent(&t);
    }
    return true;
}

void pump_events(void)
{
    // Nothing to pump while neither the window nor the devices have opened SDL's events;
    // a headless run never touches the window system here.
    if (!SDL_WasInit(SDL_INIT_VIDEO) && !g_devices.sdl_open)
        return;
    SDL_Event e;
    SDL_PumpEvents();
    while (SDL_PollEvent(&e))
        devices_handle_event(&e);
}

static long long monotonic_us(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}

bool wait_pumping_events(long sec, long usec)
{
    static const long long k_pump_period_us = 1000;
    long long total = (long long)sec * 1000000LL + usec;
    pump_events();
    if (clock_injected() || total <= 0)
        return !quit_signal_received();
    long long begin = monotonic_us();
    for (;;) {
        if (quit_signal_received())
            return false;
        long long left = total - (monotonic_us() - begin);
        if (left <= k_pump_period_us) {
            // The last millisecond: sleep_for spins it for a precise end.
            sleep_for(0, left > 0 ? (long)left : 0);
            pump_events();
            return !quit_signal_received();
        }
        long long slice = left - k_pump_period_us < k_pump_period_us ? left - k_pump_period_us : k_pump_period_us;
        struct timespec req = { 0, (long)slice * 1000 };
        nanosleep(&req, nullptr);
        pump_events();
    }
}

bool close_requested(void)
{
    return g_devices.close_requested;
}

void devices_reset_close_request(void)
{
    g_devices.close_requested = false;
}
