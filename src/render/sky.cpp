// The sky faces around the eye and the lens flares over the finished frame.
#include <math.h>
#include <string.h>
#include <time.h>

#include <GL/gl.h>

#include "render/gl.h"
#include "render/lighting_internal.h"

// Corners of each face seen from inside, in the order top-left, top-right, bottom-right,
// bottom-left of its picture: north -z, east +x, south +z, west -x; the up face with its top
// edge towards north.
static const float k_faces[SKY_FACES][4][3] = {
    { { -1, 1, -1 }, { 1, 1, -1 }, { 1, -1, -1 }, { -1, -1, -1 } },
    { { 1, 1, -1 }, { 1, 1, 1 }, { 1, -1, 1 }, { 1, -1, -1 } },
    { { 1, 1, 1 }, { -1, 1, 1 }, { -1, -1, 1 }, { 1, -1, 1 } },
    { { -1, 1, 1 }, { -1, 1, -1 }, { -1, -1, -1 }, { -1, -1, 1 } },
    { { 1, 1, -1 }, { -1, 1, -1 }, { -1, 1, 1 }, { 1, 1, 1 } },
};
// Half a texel of a 64-texel picture in from each edge: no seam from the clamped border.
static const float k_lo = 1.0f / 128, k_hi = 127.0f / 128;
static const float k_corner_tex[4][2] = { { k_lo, k_lo }, { k_hi, k_lo }, { k_hi, k_hi }, { k_lo, k_hi } };
// Faces whose picture is missing: a plain sky.
static const float k_untextured[3] = { 0.55f, 0.7f, 0.9f };

void sky_draw(void)
{
    LightingTextures t = lighting_textures();
    int program = shader_current();
    if (program)
        shader_use(SHADER_FIXED);
    glPushAttrib(GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
    // A clear honours the depth mask.
    glDepthMask(GL_TRUE);
    glClear(GL_DEPTH_BUFFER_BIT);
    // The cube of radius 1 between planes of its own; only the depth rows of the projection
    // change, so the faces cover the view exactly as the world's would. The near plane stays
    // well inside the cube: with a wide view the side faces come close to the eye's plane.
    float p[16];
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    if (p[11] != 0) {
        const float n = 0.01f, f = 4;
        p[10] = p[11] * (f + n) / (f - n);
        p[14] = p[11] * 2 * f * n / (f - n);
        glLoadMatrixf(p);
    }
    glMatrixMode(GL_MODELVIEW);
    // Behind everything and just cleared: neither tested nor written.
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_CULL_FACE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    glColor3fv(k_untextured);
    for (int face = 0; face < SKY_FACES; face++) {
        if (t.sky[face]) {
            glEnable(GL_TEXTURE_2D);
            glBindTexture(GL_TEXTURE_2D, t.sky[face]);
        } else {
            glDisable(GL_TEXTURE_2D);
        }
        glBegin(GL_QUADS);
        for (int c = 0; c < 4; c++) {
            glTexCoord2fv(k_corner_tex[c]);
            glVertex3fv(k_faces[face][c]);
        }
        glEnd();
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
    if (program)
        shader_use(program);
}

static struct {
    double readback_ms;
    int tested;
} g_flare_stats;

void lens_flare_stats(double *readback_ms, int *tested)
{
    *readback_ms = g_flare_stats.readback_ms;
    *tested = g_flare_stats.tested;
}

static double now_ms(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec * 1e-6;
}

static float clamp01(float x) { return x < 0 ? 0 : x > 1 ? 1 : x; }

// Projects the anchor and reads the frame under it: the flare's window position and
// visibility (0 when hidden, outside the view or behind the eye).
static void test_flare(LensFlare *f, const float eye[3], const float mv[16], const float pr[16], const GLint vp[4])
{
    f->visibility = 0;
    float a[3] = { f->anchor[0], f->anchor[1], f->anchor[2] };
    if (f->is_point)
        for (int i = 0; i < 3; i++)
            a[i] -= eye[i];
    // The rotation only: the eye is taken off above, whether or not the model-view holds it.
    float v[3];
    for (int r = 0; r < 3; r++)
        v[r] = mv[r] * a[0] + mv[4 + r] * a[1] + mv[8 + r] * a[2];
    float w1 = f->is_point ? 1 : 0, clip[4];
    for (int r = 0; r < 4; r++)
        clip[r] = pr[r] * v[0] + pr[4 + r] * v[1] + pr[8 + r] * v[2] + pr[12 + r] * w1;
    float w = clip[3];
    if (!(w > 0) || fabsf(clip[0]) > w || fabsf(clip[1]) > w || (f->is_point && fabsf(clip[2]) > w))
        return;
    float x = vp[0] + (clip[0] / w + 1) * 0.5f * vp[2], y = vp[1] + (clip[1] / w + 1) * 0.5f * vp[3];
    f->screen[0] = x;
    f->screen[1] = y;
    int px = (int)x, py = (int)y;
    if (px >= vp[0] + vp[2])
        px = vp[0] + vp[2] - 1;
    if (py >= vp[1] + vp[3])
        py = vp[1] + vp[3] - 1;
    unsigned char rgb[4] = { 0, 0, 0, 0 };
    float depth = 1;
    g_flare_stats.tested++;
    double t0 = now_ms();
    glReadPixels(px, py, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgb);
    g_flare_stats.readback_ms += now_ms() - t0;
    // Only the sun's disc or a bright light really in view.
    if (rgb[0] <= 223 || rgb[1] <= 223 || rgb[2] <= 223)
        return;
    t0 = now_ms();
    glReadPixels(px, py, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    g_flare_stats.readback_ms += now_ms() - t0;
    // Normalised linear depth, 0 at the near plane and 1 at the far one.
    float n = pr[14] / (pr[10] - 1), far_plane = pr[14] / (pr[10] + 1);
    float ndc = 2 * depth - 1, distance = 2 * far_plane * n / (far_plane + n - ndc * (far_plane - n));
    float linear = (distance - n) / (far_plane - n);
    float limit = f->is_point ? clamp01((-0.25f - v[2]) * 0.00020001f) : 0.4f;
    if (!(linear >= limit))
        return;
    float margin = (vp[2] < vp[3] ? vp[2] : vp[3]) / 32.0f;
    float edge = fminf(fminf(x - vp[0], vp[0] + vp[2] - x), fminf(y - vp[1], vp[1] + vp[3] - y));
    f->visibility = margin > 0 ? clamp01(edge / margin) : 1;
}

void lens_flares_draw(const float eye[3])
{
    g_flare_stats.readback_ms = 0;
    g_flare_stats.tested = 0;
    Lighting *l = lighting_state();
    if (!lighting_textures().lens_flare || l->flare_count == 0)
        return;
    float mv[16], pr[16];
    GLint vp[4];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    glGetFloatv(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    // A perspective projection is needed to tell the depth; nothing to do without a view.
    if (pr[11] == 0 || vp[2] <= 0 || vp[3] <= 0)
        return;
    bool any = false;
    for (int k = 0; k < l->flare_count; k++) {
        test_flare(&l->flares[k], eye, mv, pr, vp);
        any = any || l->flares[k].visibility > 0;
    }
    if (!any)
        return;
    int program = shader_current();
    if (program)
        shader_use(SHADER_FIXED);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(vp[0], vp[0] + vp[2], vp[1], vp[1] + vp[3], -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_CULL_FACE);
    glDisable(GL_ALPHA_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    float cx = vp[0] + vp[2] * 0.5f, cy = vp[1] + vp[3] * 0.5f;
    unsigned bound = ~0u;
    for (int k = 0; k < l->flare_count; k++) {
        const LensFlare *f = &l->flares[k];
        if (!(f->visibility > 0))
            continue;
        float dx = f->screen[0] - cx, dy = f->screen[1] - cy;
        for (int i = 0; i < f->count; i++) {
            const FlareElement *e = &f->elements[i];
            if (e->texture != bound) {
                bound = e->texture;
                if (bound) {
                    glEnable(GL_TEXTURE_2D);
                    glBindTexture(GL_TEXTURE_2D, bound);
                } else {
                    glDisable(GL_TEXTURE_2D);
                }
            }
            float x = cx + e->factor[0] * dx - e->factor[1] * dy, y = cy + e->factor[1] * dx + e->factor[0] * dy;
            float s = e->size;
            glColor3f(e->color[0] * f->visibility, e->color[1] * f->visibility, e->color[2] * f->visibility);
            glBegin(GL_QUADS);
            glTexCoord2f(0, 0);
            glVertex2f(x - s, y - s);
            glTexCoord2f(1, 0);
            glVertex2f(x + s, y - s);
            glTexCoord2f(1, 1);
            glVertex2f(x + s, y + s);
            glTexCoord2f(0, 1);
            glVertex2f(x - s, y + s);
            glEnd();
        }
    }
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
    if (program)
        shader_use(program);
}
