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
// A key held down repeats its pressed event (and its typed character) at the system's
// key-repeat rate; Backspace, Tab, Enter and Esc also type characters 8, 9, 13 and 27.
bool next_event(Event *out);
bool next_event_before(long sec, long usec, Event *out);    // only events not later than the time
void clear_events(void);
int  queued_events(void);           // events waiting in the queue

// Moves pending window-system messages and device input into the queue without taking
// anything (for loading screens). Does nothing while no window and no device is open.
void pump_events(void);
// Sleeps like sleep_for, but takes window-system and device input into the queue about every
// millisecond meanwhile: the window system's events get their time stamp when they are
// taken, so a key pressed during the wait is stamped within a millisecond of the press, not
// when the wait ends. Ends early, returning false, when a quit signal arrives. With an
// injected clock it only pumps once.
bool wait_pumping_events(long sec, long usec);
// True once the user asked to close the window (the Close event was queued) since
// open_window; the Close event itself still waits in the queue.
bool close_requested(void);

// Test hook: pushes a press or release of the named key into the window system's queue, as a
// keyboard would (a press of a printable key also types its character). False when the key
// has no scan code or the window system's events are not running.
bool inject_key(const char *name, bool pressed);

// Names. -1 when the name is unknown.
int key_code(const char *name);
// Writes the name of a code into out (at most size bytes) and returns out. Keyboard codes
// are written in the fixed table's spelling where it has one, so configuration files move
// between systems; an unnamed code gives "".
const char *key_name(int code, char *out, int size);
// SDL scancode to PC set-1 scan code (extended keys + 256), -1 for a key without one;
// and back (SDL_SCANCODE_UNKNOWN, 0, when none).
int scan_code_from_sdl(int sdl_scancode);
int sdl_from_scan_code(int scan_code);

// Aliases: false (and "Second alias for '%s' ('%s') ignored" logged) when already defined.
bool define_alias(const char *name, const char *target);
// Forgets every alias but the fixed ones (a configuration is loaded anew).
void reset_aliases(void);

// Axes. open_axis gives an axis handle (>= 0) or -1.
int   open_axis(const char *name);
float read_axis(int axis);          // absolute: latest value; relative: motion since last read
void  close_axis(int axis);
// Every axis name of every device, each once; null-terminated, valid until devices change.
const char *const *axis_names(void);

// Devices. Axis mode of a device.
enum { AXIS_ABSOLUTE = 0, AXIS_RELATIVE = 1 };
enum {
    MAX_INPUT_DEVICES = 32,
    MAX_DEVICE_AXES = 100,          // "Wow! This thing has a lot of axes!"
    MAX_DEVICE_BUTTONS = 500,       // "Wow! This thing has a lot of buttons!"
    MAX_OPEN_AXES = 256,
};

// Adds a device to the device table (used by enumeration, and by tests without hardware).
// Applies "#2" naming, identifier folding, the axis/button limits and their messages.
// Returns the device index, or -1 when it is skipped.
int  add_input_device(const char *instance_name, int axes, int buttons, int axis_mode);
int  input_device_count(void);
const char *input_device_name(int device);
int  input_device_id(int device);           // bits 16..30
int  input_device_axes(int device);         // axes in use (after the limit)
int  input_device_buttons(int device);      // buttons in use (after the limit)
int  find_input_device(const char *name);   // device index, -1 when none has the name
// Sets a device axis value (absolute) or adds motion (relative).
void input_device_axis(int device, int axis, float value);
// Queues the event of a device button (identifier + button index).
void input_device_button(int device, int button, int pressed, long sec, long usec);
// The platform-clock time of a device event whose stamp (milliseconds, on the platform
// clock's scale as the device reports it) may run ahead of the clock: the stamp less the
// device's adjustment, the adjustment growing so that no event lies in the future and the
// device's events keep their order.
void input_device_event_time(int device, long long stamp_ms, long *sec, long *usec);
int  input_device_adjustment(int device);   // milliseconds, 0 until a stamp ran ahead
void clear_input_devices(void);
// Folds a device name into bits 16..30 (before the uniqueness rule).
int  fold_device_name(const char *name);

// The platform options that govern the window and the devices, read from TOVA_OPTIONS
// (logged as "Options:" lines).
struct PlatformOptions {
    bool threaded;                  // "threaded", default off
    bool dinput;                    // "dinput", default on: SDL joysticks
    bool xinput;                    // "xinput", default on: SDL game controllers as XInputGamepad0..3
    bool dinputsticksonly;          // "dinputsticksonly", default on; off adds Keyboard and Mouse
};
PlatformOptions read_platform_options(void);

// Finds the input devices in the Part's order: SDL joysticks (dinput), then up to four
// SDL game controllers (xinput), then "cursor". Needs no display. Returns the device count.
int  open_input_devices(const PlatformOptions *options);
void close_input_devices(void);             // logs "Closing input devices"
