// Stand-in for the key names and device axes the bindings use, until the platform's input
// layer lands: the fixed key table, the special names, and test devices with absolute axes.
#include "platform/input.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

struct KeyName {
    const char *name;
    int scan;
};

static const KeyName k_keys[] = {
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
    { "Pause", 0x45 }, { "Keypad Enter", 0x11c },
};

static const KeyName k_special[] = {
    { "Mouse Left", EVENT_MOUSE_LEFT }, { "Mouse Middle", EVENT_MOUSE_MIDDLE },
    { "Mouse Right", EVENT_MOUSE_RIGHT }, { "Close", EVENT_CLOSE },
};

// "_" and white space count as a space; letters compare without case.
static bool loose_equal(const char *a, const char *b)
{
    for (;; a++, b++) {
        int ca = (*a == '_' || isspace((unsigned char)*a)) ? ' ' : tolower((unsigned char)*a);
        int cb = (*b == '_' || isspace((unsigned char)*b)) ? ' ' : tolower((unsigned char)*b);
        if (ca != cb)
            return false;
        if (!ca)
            return true;
    }
}

int key_code(const char *name)
{
    if (!name || !*name)
        return -1;
    for (int pass = 0; pass < 2; pass++) {
        for (const KeyName &k : k_special)
            if (pass ? loose_equal(k.name, name) : strcmp(k.name, name) == 0)
                return k.scan;
        for (const KeyName &k : k_keys)
            if (pass ? loose_equal(k.name, name) : strcmp(k.name, name) == 0)
                return EVENT_KEY_BASE + k.scan;
    }
    unsigned scan;
    char extra;
    if (sscanf(name, "0x%x%c", &scan, &extra) == 1 && scan <= 0x1ff)
        return EVENT_KEY_BASE + (int)scan;
    return -1;
}

const char *key_name(int code, char *out, int size)
{
    if (!out || size <= 0)
        return out;
    for (const KeyName &k : k_special)
        if (k.scan == code) {
            snprintf(out, size, "%s", k.name);
            return out;
        }
    if (code >= EVENT_KEY_BASE && code < EVENT_KEY_BASE + 512) {
        for (const KeyName &k : k_keys)
            if (EVENT_KEY_BASE + k.scan == code) {
                snprintf(out, size, "%s", k.name);
                return out;
            }
        snprintf(out, size, "0x%x", code - EVENT_KEY_BASE);
        return out;
    }
    snprintf(out, size, "0x%x", code);
    return out;
}

enum { MAX_DEVICES = 8, MAX_AXES = 16, MAX_OPEN = 64 };

struct StubDevice {
    char name[64];
    int axes;
    float value[MAX_AXES];
};

static struct {
    StubDevice devices[MAX_DEVICES];
    int count;
    int open_device[MAX_OPEN], open_axis_index[MAX_OPEN];
    bool open[MAX_OPEN];
    char names[MAX_DEVICES * MAX_AXES][128];
    const char *name_list[MAX_DEVICES * MAX_AXES + 1];
} g_in;

int add_input_device(const char *instance_name, int axes, int, int)
{
    if (g_in.count >= MAX_DEVICES || !instance_name)
        return -1;
    StubDevice *d = &g_in.devices[g_in.count];
    snprintf(d->name, sizeof d->name, "%s", instance_name);
    d->axes = axes < MAX_AXES ? axes : MAX_AXES;
    for (float &v : d->value)
        v = 0;
    return g_in.count++;
}

int input_device_count(void) { return g_in.count; }

const char *input_device_name(int device)
{
    return device >= 0 && device < g_in.count ? g_in.devices[device].name : nullptr;
}

void input_device_axis(int device, int axis, float value)
{
    if (device >= 0 && device < g_in.count && axis >= 0 && axis < g_in.devices[device].axes)
        g_in.devices[device].value[axis] = value;
}

void clear_input_devices(void)
{
    g_in.count = 0;
    for (bool &o : g_in.open)
        o = false;
}

int open_axis(const char *name)
{
    if (!name)
        return -1;
    char dev[64];
    int n;
    if (sscanf(name, "%63[^.].axis[%d]", dev, &n) != 2 && sscanf(name, "%63s axis %d", dev, &n) != 2)
        return -1;
    for (int d = 0; d < g_in.count; d++) {
        if (strcmp(g_in.devices[d].name, dev) != 0)
            continue;
        if (n < 0 || n >= g_in.devices[d].axes)
            return -1;
        for (int h = 0; h < MAX_OPEN; h++)
            if (!g_in.open[h]) {
                g_in.open[h] = true;
                g_in.open_device[h] = d;
                g_in.open_axis_index[h] = n;
                return h;
            }
        return -1;
    }
    return -1;
}

float read_axis(int axis)
{
    if (axis < 0 || axis >= MAX_OPEN || !g_in.open[axis])
        return 0;
    return g_in.devices[g_in.open_device[axis]].value[g_in.open_axis_index[axis]];
}

void close_axis(int axis)
{
    if (axis >= 0 && axis < MAX_OPEN)
        g_in.open[axis] = false;
}

const char *const *axis_names(void)
{
    int k = 0;
    for (int d = 0; d < g_in.count; d++)
        for (int a = 0; a < g_in.devices[d].axes; a++) {
            snprintf(g_in.names[k], sizeof g_in.names[k], "%.100s axis %d", g_in.devices[d].name, a);
            g_in.name_list[k] = g_in.names[k];
            k++;
        }
    g_in.name_list[k] = nullptr;
    return g_in.name_list;
}
