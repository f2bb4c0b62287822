// The renderer's start-up steps and the loading and title screens.
#include "render/screens.h"

#include <math.h>
#include <string.h>

#include <SDL.h>

#include "common/version.h"
#include "platform/log.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/texture.h"

static const char *const k_pictures[PICTURE_COUNT] = { "!@tach.png", "!@shifter.png", "!@pitboard.png", "!@title.png" };

static struct {
    unsigned picture[PICTURE_COUNT];
} g_screens;

void shaders_setup(bool wanted)
{
    gl_probe();
    if (!wanted || !gl_caps.fragment_shader || gl_caps.texture_units < 4) {
        log_printf("Drawing without shader programs\n");
        return;
    }
    if (shaders_build())
        log_printf("Shader programs ready\n");
    else
        log_printf("Shader programs failed: drawing without them\n");
}

void fonts_and_pictures_load(int verbosity, int texture_detail, bool compress_always)
{
    texture_set_verbosity(verbosity);
    texture_set_detail(texture_detail);
    texture_set_compress_always(compress_always);
    fonts_load();
    for (int i = 0; i < PICTURE_COUNT; i++)
        g_screens.picture[i] = texture_load(k_pictures[i]);
    if (verbosity >= 1)
        log_printf("%lu bytes texture memory used after fonts and pictures\n", texture_memory());
}

unsigned picture_texture(int which)
{
    return which >= 0 && which < PICTURE_COUNT ? g_screens.picture[which] : 0;
}

// A pixel-unit projection over the viewport, y up; the old matrices are kept.
static bool begin_2d(int *w, int *h)
{
    if (!SDL_GL_GetCurrentContext())
        return false;
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    *w = vp[2];
    *h = vp[3];
    if (*w <= 0 || *h <= 0)
        return false;
    shader_use(0);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, *w, 0, *h, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_FOG);
    return true;
}

static void end_2d(void)
{
    glPopAttrib();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

// Text of the given height in pixels with its baseline box starting at (x, y).
static void place_text(float x, float y, float size)
{
    glLoadIdentity();
    glTranslatef(x, y, 0);
    glScalef(size, size, 1);
}

void title_screen_draw(const char *text)
{
    int w, h;
    if (!begin_2d(&w, &h))
        return;
    unsigned title = g_screens.picture[PICTURE_TITLE];
    if (title && glIsTexture(title)) {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, title);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glBegin(GL_QUADS);
        glTexCoord2f(0, 1);
        glVertex2f(0, 0);
        glTexCoord2f(1, 1);
        glVertex2f((float)w, 0);
        glTexCoord2f(1, 0);
        glVertex2f((float)w, (float)h);
        glTexCoord2f(0, 0);
        glVertex2f(0, (float)h);
        glEnd();
        glDisable(GL_TEXTURE_2D);
    }
    if (text && *text) {
        float size = h / 22.0f;
        place_text(w * 0.5f, h * 0.5f - size * 0.5f, size);
        text_draw_centred_shadowed(1, 1, 1, 1, 0, 0, text);
    }
    float small = h / 40.0f;
    place_text(w - small * 0.5f, small * 0.5f, small);
    text_draw_right(0.9f, 0.9f, 0.9f, 1, 0, VERSION_TEXT);
    end_2d();
}

// Twelve dots on a ring below the centre; the lit one steps with the ticks, the two before
// it fade out behind it.
void activity_indicator_draw(int ticks)
{
    int w, h;
    if (!begin_2d(&w, &h))
        return;
    const int k_dots = 12;
    float cx = w * 0.5f, cy = h * 0.3f, radius = h / 30.0f, dot = h / 160.0f + 1;
    int lit = ((ticks % k_dots) + k_dots) % k_dots;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glBegin(GL_QUADS);
    for (int i = 0; i < k_dots; i++) {
        int behind = (lit - i + k_dots) % k_dots;
        float a = behind == 0 ? 1.0f : behind == 1 ? 0.7f : behind == 2 ? 0.45f : 0.2f;
        glColor4f(1, 1, 1, a);
        float angle = (float)(i * 2 * M_PI / k_dots);
        float x = cx + radius * sinf(angle), y = cy + radius * cosf(angle);
        glVertex2f(x - dot, y - dot);
        glVertex2f(x + dot, y - dot);
        glVertex2f(x + dot, y + dot);
        glVertex2f(x - dot, y + dot);
    }
    glEnd();
    end_2d();
}

void draw_centered_text(const char *text, float y_fraction)
{
    int w, h;
    if (!text || !*text || !begin_2d(&w, &h))
        return;
    float size = h / 24.0f;
    place_text(w * 0.5f, h * (1 - y_fraction) - size, size);
    text_draw_centred_shadowed(1, 1, 1, 1, 0, 0, text);
    end_2d();
}
