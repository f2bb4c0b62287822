#include "driver/capture.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <GL/gl.h>

#include "common/mem.h"
#include "common/messages.h"
#include "platform/log.h"
#include "render/image/image.h"
#include "vfs/vfs.h"

static struct {
    bool numbered;          // the index has been searched once
    int next;
} g_capture;

// "screenshot" followed by decimal digits and one of the two suffixes, nothing else.
static int screenshot_number(const char *name)
{
    const char *slash = strrchr(name, '/');
    if (slash)
        return -1;          // only files at the top of a search directory
    if (strncmp(name, "screenshot", 10) != 0)
        return -1;
    const char *p = name + 10;
    if (*p < '0' || *p > '9')
        return -1;
    long n = 0;
    while (*p >= '0' && *p <= '9') {
        n = n * 10 + (*p - '0');
        if (n > 999999)
            return -1;
        p++;
    }
    if (strcmp(p, ".png") != 0 && strcmp(p, ".ppm") != 0)
        return -1;
    return (int)n;
}

int screenshot_highest_number(const char *const *names)
{
    int highest = 0;
    for (int i = 0; names && names[i]; i++) {
        int n = screenshot_number(names[i]);
        if (n > highest)
            highest = n;
    }
    return highest;
}

static bool home_has(const char *name)
{
    const char *home = home_dir();
    if (!home)
        return false;
    char path[1100];
    snprintf(path, sizeof path, "%s%s", home, name);
    return access(path, F_OK) == 0;
}

int screenshot_free_number(int candidate)
{
    for (int n = candidate < 0 ? 0 : candidate; n <= 999999; n++) {
        char png[32], ppm[32];
        snprintf(png, sizeof png, "screenshot%03d.png", n);
        snprintf(ppm, sizeof ppm, "screenshot%03d.ppm", n);
        if (!home_has(png) && !home_has(ppm))
            return n;
    }
    return -1;
}

// The window's pixels as OpenGL gives them: bottom row first.
static unsigned char *read_window(int width, int height)
{
    if (width <= 0 || height <= 0 || width > 32768 || height > 32768)
        return nullptr;
    unsigned char *rgb = (unsigned char *)xmalloc((size_t)width * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb);
    return rgb;
}

bool take_screenshot(int width, int height)
{
    if (!g_capture.numbered) {
        g_capture.numbered = true;
        g_capture.next = screenshot_highest_number(file_index_names()) + 1;
    }
    int n = screenshot_free_number(g_capture.next);
    if (n < 0) {
        post_message("No free screenshot number");
        return false;
    }
    unsigned char *rgb = read_window(width, height);
    if (!rgb)
        return false;
    // Flip to top row first, as image files store them.
    size_t row = (size_t)width * 3;
    unsigned char *top_down = (unsigned char *)xmalloc(row * height);
    for (int y = 0; y < height; y++)
        memcpy(top_down + row * y, rgb + row * (height - 1 - y), row);
    xfree(rgb);
    char name[64], message[96];
    snprintf(name, sizeof name, "@screenshot%03d.png", n);
    bool ok = write_screenshot_png(name, width, height, top_down);
    xfree(top_down);
    g_capture.next = n + 1;
    if (ok)
        snprintf(message, sizeof message, "Saved \"screenshot%03d.png\"", n);
    else
        snprintf(message, sizeof message, "Couldn't save \"screenshot%03d.png\"", n);
    post_message(message);
    return ok;
}

bool write_screenshot_png(const char *name, int width, int height, const unsigned char *rgb)
{
    return png_write(name, rgb, width, height);
}

bool write_ppm_frame(FILE *out, int width, int height, const unsigned char *rgb_bottom_up)
{
    if (!out || width <= 0 || height <= 0 || !rgb_bottom_up)
        return false;
    if (fprintf(out, "P6\n%d %d\n255\n", width, height) < 0)
        return false;
    size_t row = (size_t)width * 3;
    for (int y = height - 1; y >= 0; y--)
        if (fwrite(rgb_bottom_up + row * y, 1, row, out) != row)
            return false;
    return fflush(out) == 0;
}

void capture_video_frame(int width, int height)
{
    unsigned char *rgb = read_window(width, height);
    if (!rgb)
        return;
    write_ppm_frame(stdout, width, height, rgb);
    xfree(rgb);
}

void capture_reset_for_tests(void)
{
    memset(&g_capture, 0, sizeof g_capture);
}
