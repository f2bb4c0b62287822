#include "ui/draw.h"

#include <GL/gl.h>
#include <SDL.h>

#include "render/font.h"
#include "render/gl.h"

static struct {
    int height;                     // of the 2D area begun last
} g_draw;

bool ui_begin_2d(int *width, int *height)
{
    if (!SDL_GL_GetCurrentContext())
        return false;
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    if (vp[2] <= 0 || vp[3] <= 0)
        return false;
    *width = vp[2];
    *height = vp[3];
    g_draw.height = vp[3];
    shader_use(0);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, vp[2], 0, vp[3], -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_FOG);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    return true;
}

void ui_end_2d(void)
{
    glPopAttrib();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void ui_fill(float left, float top, float right, float bottom, float r, float g, float b, float a)
{
    float h = (float)g_draw.height;
    glDisable(GL_TEXTURE_2D);
    glColor4f(r, g, b, a);
    glBegin(GL_QUADS);
    glVertex2f(left, h - bottom);
    glVertex2f(right, h - bottom);
    glVertex2f(right, h - top);
    glVertex2f(left, h - top);
    glEnd();
}

// The font draws a line from its baseline box upwards: the origin goes to the line's bottom.
static void place(float x, float y, float size)
{
    glLoadIdentity();
    glTranslatef(x, (float)g_draw.height - y - size, 0);
    glScalef(size, size, 1);
}

void ui_text(float x, float y, float size, float r, float g, float b, float a, const char *text, bool shadowed)
{
    if (!text || !*text)
        return;
    place(x, y, size);
    if (shadowed)
        text_draw_shadowed(r, g, b, a, text);
    else
        text_draw(r, g, b, a, text);
    glLoadIdentity();
}

void ui_text_right(float x, float y, float size, float r, float g, float b, float a, const char *text)
{
    if (!text || !*text)
        return;
    place(x, y, size);
    text_draw_right(r, g, b, a, 0, text);
    glLoadIdentity();
}

float ui_text_width(const char *text, float size)
{
    return text_width(text) * size;
}
