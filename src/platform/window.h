// The one window, its OpenGL compatibility context, and message boxes.
#pragma once

enum {
    WINDOW_NO_MODE_SWITCH = 256,    // never change the display mode
    WINDOW_FULLSCREEN = 512,
};

struct VideoMode {
    int width, height, bits;        // a zero entry ends a list
};

// Creates the window, reads the options, enumerates input devices and makes a GL context
// current. color_bits_and_flags: colour bits (16, 24 or 32) or'ed with the flags above.
// Width and height 0 mean the desktop size. False (after logging why, see last_error) on
// failure; also when SDL's video cannot start (no display), which the caller takes for a
// headless run. Only the window functions need a display; nothing else in the platform
// layer opens the video system.
bool open_window(const char *title, int width, int height, int color_bits_and_flags,
                 int alpha_bits, int depth_bits, int stencil_bits, int accum_bits);
bool set_video_mode(int width, int height, int flags);     // false: mode unchanged
// True with the drawable size in pixels; false while minimised, hidden or closing
// (the frame is then skipped; end_frame then does nothing).
bool begin_frame(int *width, int *height);
void end_frame(void);               // swaps buffers; nothing when no frame is open
// Deletes the context, closes the input devices, destroys the window (the display mode is
// restored) and quits SDL's video subsystem.
void close_window(void);
bool window_is_open(void);
// The SDL_Window of the open window (null when none), for message boxes.
void *window_sdl_handle(void);

// Formats at most 1,023 characters. Shown in a modal box when a display is available
// and the run is attended; always copied to standard error and the log.
void message_box(const char *caption, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The desktop's current mode first, then every other 16/24/32-bit mode once; ends with
// a zero entry. The array stays valid until the next call. Starts SDL's video when needed and
// leaves it running for open_window (close_window quits it).
const VideoMode *video_modes(void);
