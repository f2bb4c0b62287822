// The event queue, key names and input devices.
#pragma once

enum {
    EVENT_KEY_BASE = 4096,          // + PC set-1 scan code, + 256 for extended keys
    EVENT_MOUSE_LEFT = 8192,
    EVENT_MOUSE_MIDDLE = 8193,
    EVENT_MOUSE_RIGHT = 8194,
    EVENT_CLOSE = 57005,
    EVENT_QUEUE_SIZE = 256,
};

struct Event {
    int code;                       // 31 bits: see the codes above; devices use bits 16..30
    int pressed;                    // 1 pressed or typed, 0 released
    long sec, usec;                 // platform clock
};

// Queue: kept sorted by time; a new event goes after every event not later than it;
// when full new events are dropped. False when the queue was full.
bool queue_event(int code, int pressed, long sec, long usec);
// Pumps the window system and devices, then takes the oldest event. False when none.
bool next_event(Event *out);
bool next_event_before(long sec, long usec, Event *out);    // only events not later than the time
void clear_events(void);

// Names. -1 when the name is unknown.
int key_code(const char *name);
// Writes the name of a code into out (at most size bytes) and returns out.
const char *key_name(int code, char *out, int size);

// Aliases: false (and "Second alias for '%s' ('%s') ignored" logged) when already defined.
bool define_alias(const char *name, const char *target);

// Axes. open_axis gives an axis handle (>= 0) or -1.
int   open_axis(const char *name);
float read_axis(int axis);          // absolute: latest value; relative: motion since last read
void  close_axis(int axis);
// Every axis name of every device, each once; null-terminated, valid until devices change.
const char *const *axis_names(void);

// Devices. Axis mode of a device.
enum { AXIS_ABSOLUTE = 0, AXIS_RELATIVE = 1 };

// Adds a device to the device table (used by enumeration, and by tests without hardware).
// Applies "#2" naming, identifier folding, the axis/button limits and their messages.
// Returns the device index, or -1 when it is skipped.
int  add_input_device(const char *instance_name, int axes, int buttons, int axis_mode);
int  input_device_count(void);
const char *input_device_name(int device);
int  input_device_id(int device);           // bits 16..30
// Sets a device axis value (absolute) or adds motion (relative).
void input_device_axis(int device, int axis, float value);
void clear_input_devices(void);
// Folds a device name into bits 16..30 (before the uniqueness rule).
int  fold_device_name(const char *name);
