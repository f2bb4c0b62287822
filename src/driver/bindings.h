// Control bindings: the twelve analog controls and the eight command keys, each bound to a
// key or to a controller axis, and the capture of a new binding by pressing or moving it.
#pragma once
#include "common/items.h"

enum BindingId {
    BIND_THROTTLE, BIND_FRONT_BRAKE, BIND_REAR_BRAKE, BIND_LEFT, BIND_RIGHT, BIND_CLUTCH,
    BIND_UPSHIFT, BIND_DOWNSHIFT, BIND_DAB, BIND_BACK_UP, BIND_LEAN_FORWARD, BIND_LEAN_BACKWARD,
    BIND_PAUSE, BIND_STEP, BIND_REWIND, BIND_SKIP, BIND_PREV, BIND_NEXT, BIND_CONSOLE,
    BIND_SCREENSHOT,
    BINDING_COUNT,
    ANALOG_BINDING_COUNT = BIND_PAUSE,      // the analog controls come first
    CONTROL_CHANNEL_COUNT = 9,
};

enum { BINDING_NAME_MAX = 127 };

struct Binding {
    const char *config_key;         // "throttle_key"
    const char *label;              // "Throttle"
    const char *default_key;        // "x"
    int channel;                    // 0..8 for the analog controls, -1 for command keys
    int sign;                       // +1 or -1 into the channel
    char key[BINDING_NAME_MAX + 1]; // key name as bound; "" for none
    char axis[BINDING_NAME_MAX + 1];// axis name as bound; "" for none
    float rest, full;               // axis positions (-1..1) that give 0 and 1
    int key_code;                   // resolved key; -1 none
    int axis_handle;                // opened axis; -1 none
    float value;                    // this tic, 0..1
};

// The binding record; null for an id out of range. The menus read key and axis from it.
Binding *binding_get(int id);
int  binding_find(const char *config_key);          // -1 when not a binding key

// Every binding to its default key (open axes are closed).
void bindings_set_defaults(void);
// Clears the binding (no key, no axis, rest 0, full 1), then reads a configuration value:
// "(k)name", "(rest,full)axis" or a bare key name. False: value not usable, binding left clear.
bool binding_read(int id, const char *value);
// Appends "key=(k)name\n" or "key=(%f,%f)axis\n"; nothing for an unbound binding.
void binding_write(int id, TextBuf *out);

// Resolves every key name to its platform code and opens every axis; names that do not
// resolve leave the binding without input. Returns how many bindings have an input.
int  bindings_resolve(void);
// Closes the axes and forgets the codes (the names stay, to be written back).
void bindings_release(void);

// A key event: every analog control bound to the code takes 1 (pressed) or 0 (released).
// True when some control is bound to it.
bool bindings_key_event(int code, int pressed);
// True when the command key (BIND_PAUSE..BIND_SCREENSHOT) is bound to this code.
bool command_key_is(int id, int code);
// Sets every analog control's value to 0 (loading screens, menus).
void bindings_clear_values(void);
// Reads the axes and sums every analog control's value times its sign into its channel.
void bindings_build_channels(float channels[CONTROL_CHANNEL_COUNT]);

// An axis reading on the -1..1 scale: the signed 16-bit value times 2^-15.
float axis_position(int handle);

// Capturing a new binding by pressing a key or moving a controller axis. now is the
// game clock in seconds; verbosity 1 or more logs the axes watched.
bool capture_begin(int id, double now, int verbosity);  // false: bad id
// A key pressed during capture: "esc" ends it unchanged; the first other key is remembered.
void capture_key(int code, double now);
// Once per tic: an axis moved far and held wins, else a key pressed 0.25 s ago.
void capture_tic(double now);
void capture_cancel(void);
bool capture_active(void);
int  capture_binding(void);                            // -1 when not capturing
