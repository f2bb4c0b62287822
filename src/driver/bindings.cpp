#include "driver/bindings.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "platform/input.h"
#include "platform/log.h"

// Capture: an axis must move this far from rest (on the -1..1 scale) and stay put this long.
static const float k_capture_travel = 0.5f;
static const double k_capture_settle = 0.25;
// A captured axis maps a sixteenth of its travel to 0 and fifteen sixteenths to 1, so that
// a control at rest reads 0 and one pushed home reads 1.
static const float k_capture_rest = 0.0625f, k_capture_full = 0.9375f;

struct CaptureAxis {
    int handle;
    char name[BINDING_NAME_MAX + 1];
    float rest, farthest;
    double farthest_time;
};

#define ANALOG(key, label, def, channel, sign) { key, label, def, channel, sign, "", "", 0, 1, -1, -1, 0 }
#define COMMAND(key, label, def) { key, label, def, -1, 0, "", "", 0, 1, -1, -1, 0 }

static struct {
    Binding bindings[BINDING_COUNT];
    struct {
        bool active;
        int id;
        int verbosity;
        int esc_code;
        CaptureAxis *axes;
        int axis_count;
        bool key_seen;
        int key_code;
        double key_time;
    } capture;
} g_bind = {
    {
        ANALOG("throttle_key", "Throttle", "x", 1, +1),
        ANALOG("front_brake_key", "Front Brake", "c", 2, +1),
        ANALOG("rear_brake_key", "Rear Brake", "v", 3, +1),
        ANALOG("left_key", "Left", "left", 0, +1),
        ANALOG("right_key", "Right", "right", 0, -1),
        ANALOG("clutch_key", "Clutch", "z", 5, +1),
        ANALOG("upshift_key", "Upshift", "up", 4, +1),
        ANALOG("downshift_key", "Downshift", "down", 4, -1),
        ANALOG("dab_key", "Sit/Dab", "right ctrl", 6, +1),
        ANALOG("back_up_key", "Back up", "b", 7, +1),
        ANALOG("lean_forward_key", "Lean Forward", "n", 8, -1),
        ANALOG("lean_backward_key", "Lean Backward", "m", 8, +1),
        COMMAND("pause_key", "Pause", "pause"),
        COMMAND("step_key", "Step", "."),
        COMMAND("rewind_key", "Rewind", "\\"),
        COMMAND("skip_key", "Skip", "/"),
        COMMAND("prev_key", "Previous Bike", "["),
        COMMAND("next_key", "Next Bike", "]"),
        COMMAND("console_key", "Chat", "t"),
        COMMAND("screenshot_key", "Screenshot", "s"),
    },
    {},
};

#undef ANALOG
#undef COMMAND

Binding *binding_get(int id)
{
    return id >= 0 && id < BINDING_COUNT ? &g_bind.bindings[id] : nullptr;
}

int binding_find(const char *config_key)
{
    if (!config_key)
        return -1;
    for (int i = 0; i < BINDING_COUNT; i++)
        if (strcmp(g_bind.bindings[i].config_key, config_key) == 0)
            return i;
    return -1;
}

static void clear_binding(Binding *b)
{
    if (b->axis_handle >= 0)
        close_axis(b->axis_handle);
    b->key[0] = 0;
    b->axis[0] = 0;
    b->rest = 0;
    b->full = 1;
    b->key_code = -1;
    b->axis_handle = -1;
    b->value = 0;
}

void bindings_set_defaults(void)
{
    capture_cancel();
    for (Binding &b : g_bind.bindings) {
        clear_binding(&b);
        copy_text(b.key, b.default_key, BINDING_NAME_MAX);
    }
}

static bool set_name(char *dst, const char *name)
{
    size_t n = strlen(name);
    if (n == 0 || n > BINDING_NAME_MAX)
        return false;
    memcpy(dst, name, n + 1);
    return true;
}

bool binding_read(int id, const char *value)
{
    Binding *b = binding_get(id);
    if (!b)
        return false;
    if (capture_active() && g_bind.capture.id == id)
        capture_cancel();
    clear_binding(b);
    if (!value)
        return false;
    if (strncmp(value, "(k)", 3) == 0)
        return set_name(b->key, value + 3);
    float rest, full;
    int used = 0;
    if (value[0] == '(' && sscanf(value, "(%f,%f)%n", &rest, &full, &used) == 2 && used > 0) {
        if (!isfinite(rest) || !isfinite(full) || !set_name(b->axis, value + used))
            return false;
        b->rest = rest;
        b->full = full;
        return true;
    }
    while (*value == ' ' || *value == '\t' || *value == '\v' || *value == '\f')
        value++;
    return set_name(b->key, value);
}

void binding_write(int id, TextBuf *out)
{
    const Binding *b = binding_get(id);
    if (!b)
        return;
    if (b->key[0])
        textbuf_printf(out, "%s=(k)%s\n", b->config_key, b->key);
    else if (b->axis[0])
        textbuf_printf(out, "%s=(%f,%f)%s\n", b->config_key, b->rest, b->full, b->axis);
}

int bindings_resolve(void)
{
    int bound = 0;
    for (Binding &b : g_bind.bindings) {
        b.value = 0;
        b.key_code = b.key[0] ? key_code(b.key) : -1;
        if (b.axis[0] && b.axis_handle < 0)
            b.axis_handle = open_axis(b.axis);
        if (b.key_code >= 0 || b.axis_handle >= 0)
            bound++;
    }
    return bound;
}

void bindings_release(void)
{
    capture_cancel();
    for (Binding &b : g_bind.bindings) {
        if (b.axis_handle >= 0)
            close_axis(b.axis_handle);
        b.axis_handle = -1;
        b.key_code = -1;
        b.value = 0;
    }
}

bool bindings_key_event(int code, int pressed)
{
    if (code < 0)
        return false;
    bool any = false;
    for (int i = 0; i < ANALOG_BINDING_COUNT; i++) {
        Binding &b = g_bind.bindings[i];
        if (b.key_code == code) {
            b.value = pressed ? 1.0f : 0.0f;
            any = true;
        }
    }
    return any;
}

bool command_key_is(int id, int code)
{
    return id >= ANALOG_BINDING_COUNT && id < BINDING_COUNT && code >= 0 &&
           g_bind.bindings[id].key_code == code;
}

void bindings_clear_values(void)
{
    for (Binding &b : g_bind.bindings)
        b.value = 0;
}

float axis_position(int handle)
{
    float raw = read_axis(handle);
    if (!(raw >= -32768.0f))        // also NaN
        raw = -32768.0f;
    if (raw > 32767.0f)
        raw = 32767.0f;
    return (float)(short)raw * (1.0f / 32768.0f);
}

void bindings_build_channels(float channels[CONTROL_CHANNEL_COUNT])
{
    for (int c = 0; c < CONTROL_CHANNEL_COUNT; c++)
        channels[c] = 0;
    for (int i = 0; i < ANALOG_BINDING_COUNT; i++) {
        Binding &b = g_bind.bindings[i];
        if (b.axis_handle >= 0) {
            float v = 0;
            // A binding whose two ends coincide cannot say how far the control is pushed.
            if (b.full != b.rest)
                v = (axis_position(b.axis_handle) - b.rest) / (b.full - b.rest);
            b.value = v < 0 ? 0 : v > 1 ? 1 : v;
        }
        channels[b.channel] += b.value * (float)b.sign;
    }
}

// The pointer's own axes are not controls a rider would bind.
static bool is_cursor_axis(const char *name)
{
    return strncmp(name, "cursor ", 7) == 0 || strncmp(name, "cursor.", 7) == 0;
}

bool capture_begin(int id, double now, int verbosity)
{
    if (!binding_get(id))
        return false;
    capture_cancel();
    g_bind.capture.active = true;
    g_bind.capture.id = id;
    g_bind.capture.verbosity = verbosity;
    g_bind.capture.esc_code = key_code("esc");
    g_bind.capture.key_seen = false;
    g_bind.capture.key_code = -1;
    g_bind.capture.key_time = now;
    g_bind.capture.axis_count = 0;
    if (verbosity >= 1)
        log_printf("Watching pots\n");
    const char *const *names = axis_names();
    int count = 0;
    while (names && names[count])
        count++;
    g_bind.capture.axes = count ? (CaptureAxis *)xcalloc((size_t)count, sizeof(CaptureAxis)) : nullptr;
    for (int i = 0; i < count; i++) {
        if (is_cursor_axis(names[i]) || strlen(names[i]) > BINDING_NAME_MAX)
            continue;
        int h = open_axis(names[i]);
        if (verbosity >= 1)
            log_printf("\t%s %s\n", names[i], h >= 0 ? "Ok" : "Failed");
        if (h < 0)
            continue;
        CaptureAxis &a = g_bind.capture.axes[g_bind.capture.axis_count++];
        a.handle = h;
        strcpy(a.name, names[i]);
        a.rest = a.farthest = axis_position(h);
        a.farthest_time = now;
    }
    return true;
}

// Ends a capture, keeping the axis at index taken (-1: none) open for the binding.
static void end_capture(int taken)
{
    for (int i = 0; i < g_bind.capture.axis_count; i++)
        if (i != taken)
            close_axis(g_bind.capture.axes[i].handle);
    xfree(g_bind.capture.axes);
    g_bind.capture.axes = nullptr;
    g_bind.capture.axis_count = 0;
    g_bind.capture.active = false;
    if (g_bind.capture.verbosity >= 1)
        log_printf("Done watching pots\n");
}

void capture_cancel(void)
{
    if (g_bind.capture.active)
        end_capture(-1);
}

bool capture_active(void)
{
    return g_bind.capture.active;
}

int capture_binding(void)
{
    return g_bind.capture.active ? g_bind.capture.id : -1;
}

void capture_key(int code, double now)
{
    if (!g_bind.capture.active || code < 0)
        return;
    if (code == g_bind.capture.esc_code) {
        capture_cancel();
        return;
    }
    if (!g_bind.capture.key_seen) {
        g_bind.capture.key_seen = true;
        g_bind.capture.key_code = code;
        g_bind.capture.key_time = now;
    }
}

void capture_tic(double now)
{
    if (!g_bind.capture.active)
        return;
    Binding *b = &g_bind.bindings[g_bind.capture.id];
    for (int i = 0; i < g_bind.capture.axis_count; i++) {
        CaptureAxis &a = g_bind.capture.axes[i];
        float pos = axis_position(a.handle);
        if (fabsf(pos - a.rest) > fabsf(a.farthest - a.rest)) {
            a.farthest = pos;
            a.farthest_time = now;
        }
        if (fabsf(a.farthest - a.rest) > k_capture_travel && now - a.farthest_time > k_capture_settle) {
            clear_binding(b);
            strcpy(b->axis, a.name);
            b->axis_handle = a.handle;
            b->rest = a.rest + k_capture_rest * (a.farthest - a.rest);
            b->full = a.rest + k_capture_full * (a.farthest - a.rest);
            end_capture(i);
            return;
        }
    }
    if (g_bind.capture.key_seen && now - g_bind.capture.key_time >= k_capture_settle) {
        char name[BINDING_NAME_MAX + 1];
        key_name(g_bind.capture.key_code, name, sizeof name);
        clear_binding(b);
        copy_text(b->key, name, BINDING_NAME_MAX);
        b->key_code = b->key[0] ? g_bind.capture.key_code : -1;
        end_capture(-1);
    }
}
