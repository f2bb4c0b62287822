// Screenshots and video capture of the window's pixels.
#pragma once
#include <stdio.h>

// The highest n among names "screenshot<n>.png" or "screenshot<n>.ppm"; 0 when none.
int  screenshot_highest_number(const char *const *names);
// The first number from candidate on whose "screenshot%03d.png" and ".ppm" are both absent
// from the home directory; -1 when every number up to 999999 is taken.
int  screenshot_free_number(int candidate);
// Reads the window and saves "@screenshot%03d.png"; posts the result for the player.
// False when nothing was written.
bool take_screenshot(int width, int height);
// Writes the image as PNG; rows top to bottom, 3 bytes a pixel. False on failure.
bool write_screenshot_png(const char *name, int width, int height, const unsigned char *rgb);
// Writes one binary PPM frame: "P6\n%d %d\n255\n", then the rows from the top of the image.
// The pixels come as OpenGL reads them, bottom row first. False when the write failed.
bool write_ppm_frame(FILE *out, int width, int height, const unsigned char *rgb_bottom_up);
// Reads the window and appends it to standard output as a PPM frame.
void capture_video_frame(int width, int height);
void capture_reset_for_tests(void);
