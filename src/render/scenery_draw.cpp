#include "render/scenery_draw.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "bike/bike.h"
#include "common/mem.h"
#include "race/race_rules.h"
#include "race/session.h"
#include "race/world.h"
#include "render/gl.h"
#include "render/model/model.h"
#include "render/model_draw.h"
#include "render/scenery/flaggers.h"
#include "render/scenery/scenery.h"
#include "render/terrain_render.h"
#include "render/texture.h"

static struct {
    int lookahead = 8;
    int *order, *tmp;
    int capacity;
    SceneryDrawStats stats;
} g_draw;
static uint32_t *g_keys;
static int g_keys_capacity;

// ---- hooks

static const Model *load_model(const char *name) { return model_get(name); }
static bool maps_wanted(void) { return shader_program(SHADER_LIT) != 0; }
// Animations run on the race clock (the main loop animates at race_tic / 128 s).
static void restart_animation(unsigned texture) { texture_anim_start(texture, race_tic() / 128.0); }
static void ground_changed(int x0, int z0, int x1, int z1) { terrain_mark_region(x0, z0, x1, z1); }

void scenery_draw_install(void)
{
    SceneryHooks hooks = {};
    hooks.texture_load = texture_load;
    hooks.model_load = load_model;
    hooks.maps_wanted = maps_wanted;
    hooks.image_load = texture_image;
    hooks.animation_restart = restart_animation;
    hooks.ground_changed = ground_changed;
    scenery_set_hooks(&hooks);
}

void scenery_draw_shutdown(void)
{
    scenery_set_hooks(nullptr);
    xfree(g_draw.order);
    xfree(g_draw.tmp);
    xfree(g_keys);
    g_draw.order = g_draw.tmp = nullptr;
    g_keys = nullptr;
    g_draw.capacity = g_keys_capacity = 0;
}

// ---- flaggers

void flaggers_update(void)
{
    const Timing *t = session_timing();
    int down[RIDER_SLOTS], down_count = 0;
    for (int i = 0; i < RIDER_SLOTS; i++) {
        const RiderSlot *s = rider_slot(i);
        const GatePasses *passes = session_passes(i);
        if (!s || !s->bike || s->bike->fall_timer <= 0 || !passes || passes->next < 1 || !t)
            continue;
        down[down_count++] = position_checkpoint(t, passes->next - 1);
    }
    // The drop as the starting gate sees it (replays run behind a server race).
    double since_drop = (race_tic() - gate_drop_tic() - session_replay_delay()) / 128.0;
    FlaggerView view = { since_drop, (int)flagger_board(), down, down_count };
    flaggers_apply(&view);
}

// ---- statues

// The reach of a model from its origin, remembered for the last models asked about.
static float model_reach(const Model *m)
{
    static const Model *models[64];
    static float reach[64];
    static int next;
    for (int i = 0; i < 64; i++)
        if (models[i] == m)
            return reach[i];
    float r2 = 0;
    for (const Mesh *mesh = m->meshes; mesh; mesh = mesh->next)
        for (int v = 0; v < mesh->nv; v++) {
            const float *p = &mesh->positions[v * 3];
            r2 = fmaxf(r2, p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        }
    models[next] = m;
    reach[next] = sqrtf(r2);
    float r = reach[next];
    next = (next + 1) % 64;
    return r;
}

// The view's six planes from the current projection and model-view matrices.
struct ViewPlanes {
    float p[6][4];
};

static void view_planes(ViewPlanes *out)
{
    float proj[16], model[16], c[16];
    glGetFloatv(GL_PROJECTION_MATRIX, proj);
    glGetFloatv(GL_MODELVIEW_MATRIX, model);
    for (int col = 0; col < 4; col++)
        for (int row = 0; row < 4; row++) {
            float sum = 0;
            for (int k = 0; k < 4; k++)
                sum += proj[k * 4 + row] * model[col * 4 + k];
            c[col * 4 + row] = sum;
        }
    for (int i = 0; i < 6; i++) {
        int axis = i / 2;
        float sign = i % 2 ? -1.0f : 1.0f;
        for (int k = 0; k < 4; k++)
            out->p[i][k] = c[k * 4 + 3] + sign * c[k * 4 + axis];
    }
}

static bool sphere_in_view(const ViewPlanes &v, float x, float y, float z, float r)
{
    for (const float *p : v.p) {
        float len = sqrtf(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        if (len > 0 && p[0] * x + p[1] * y + p[2] * z + p[3] < -r * len)
            return false;
    }
    return true;
}

// What the last statue left bound, so that a run of alike statues changes nothing.
static struct {
    int slot;
    unsigned texture, normal_map, specular_map;
} g_bound;

static void draw_statue(const Statue &s, const ViewPlanes &view)
{
    if (!s.model || !sphere_in_view(view, s.x, s.y, s.z, model_reach(s.model)))
        return;
    const float at[3] = { s.x, s.y, s.z };
    float m[16] = { s.m[0], s.m[3], s.m[6], 0, s.m[1], s.m[4], s.m[7], 0, s.m[2], s.m[5], s.m[8], 0, s.x, s.y, s.z, 1 };
    // With the programs, the lit one that reads the statue's maps on units 1 and 2.
    if (shader_program(SHADER_LIT) != 0 && glf.glActiveTextureARB) {
        int slot = s.normal_map && s.specular_map ? SHADER_NORM_SPEC_LIT : s.normal_map ? SHADER_NORM_LIT : SHADER_LIT;
        if (s.normal_map && (slot != g_bound.slot || s.normal_map != g_bound.normal_map ||
                             s.specular_map != g_bound.specular_map)) {
            shader_set_sampler(slot, "tex", 0);
            shader_set_sampler(slot, "nmap", 1);
            glf.glActiveTextureARB(GL_TEXTURE1_ARB);
            glBindTexture(GL_TEXTURE_2D, s.normal_map);
            if (s.specular_map) {
                shader_set_sampler(slot, "smap", 2);
                glf.glActiveTextureARB(GL_TEXTURE2_ARB);
                glBindTexture(GL_TEXTURE_2D, s.specular_map);
            }
            glf.glActiveTextureARB(GL_TEXTURE0_ARB);
            g_bound.normal_map = s.normal_map;
            g_bound.specular_map = s.specular_map;
        }
        if (slot != g_bound.slot)
            shader_use(slot);
        g_bound.slot = slot;
    }
    if (s.texture != g_bound.texture) {
        glBindTexture(GL_TEXTURE_2D, s.texture);
        if (s.texture)
            glEnable(GL_TEXTURE_2D);
        else
            glDisable(GL_TEXTURE_2D);
        g_bound.texture = s.texture;
    }
    glPushMatrix();
    glMultMatrixf(m);
    model_draw(s.model, at, 0, nullptr);
    glPopMatrix();
    g_draw.stats.statues++;
}

void statues_draw(const float eye[3])
{
    g_draw.stats.statues = 0;
    model_set_camera(eye[0], eye[1], eye[2]);
    glColor4ub(255, 255, 255, 255);
    ViewPlanes view;
    view_planes(&view);
    g_bound = { -1, 0, 0, 0 };
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    for (int i = 0; i < statue_count(); i++)
        draw_statue(*statue(i), view);
    for (int i = 0; i < scenery_gate_piece_count(); i++)
        draw_statue(*scenery_gate_piece(i), view);
    if (shader_program(SHADER_LIT) != 0)
        shader_use(SHADER_FIXED);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
}

// ---- billboards: keys, sort, batching

uint32_t billboard_key(const float p[3], const float back[3])
{
    double d = ((double)p[0] * back[0] + (double)p[1] * back[1] + (double)p[2] * back[2]) * 1024.0 + 16777216.0;
    d = floor(d);
    if (!(d > 0))
        return 0;
    return d >= 4294967295.0 ? 0xffffffffu : (uint32_t)d;
}

void billboard_radix_sort(const uint32_t *keys, int *order, int *tmp, int n)
{
    int *from = order, *to = tmp;
    for (int shift = 0; shift < 32; shift += 8) {
        int count[257] = {};
        for (int i = 0; i < n; i++)
            count[((keys[from[i]] >> shift) & 255) + 1]++;
        for (int b = 0; b < 256; b++)
            count[b + 1] += count[b];
        for (int i = 0; i < n; i++)
            to[count[(keys[from[i]] >> shift) & 255]++] = from[i];
        int *swap = from;
        from = to;
        to = swap;
    }
    // four passes: the result is back in order
}

static void reserve(int n)
{
    if (n <= g_draw.capacity && n <= g_keys_capacity)
        return;
    int c = n + 256;
    g_draw.order = (int *)xrealloc(g_draw.order, (size_t)c * sizeof(int));
    g_draw.tmp = (int *)xrealloc(g_draw.tmp, (size_t)c * sizeof(int));
    g_keys = (uint32_t *)xrealloc(g_keys, (size_t)c * sizeof(uint32_t));
    g_draw.capacity = g_keys_capacity = c;
}

int billboards_collect(const float eye[3], const float back[3], int *order)
{
    int total = billboard_count();
    reserve(total);
    uint32_t own = billboard_key(eye, back);
    int n = 0;
    for (int i = 0; i < total; i++) {
        Billboard *b = billboard(i);
        if (!b->texture || b->rgba[3] == 0)
            continue;
        const float p[3] = { b->x, b->y, b->z };
        b->key = billboard_key(p, back);
        g_keys[i] = b->key;
        if (b->key < own)
            order[n++] = i;
    }
    billboard_radix_sort(g_keys, order, g_draw.tmp, n);
    return n;
}

// Where a billboard lies across the view: the interval of its horizontal extent as seen from
// the eye (tangent of the angle off the view axis).
static bool screen_span(int index, const float eye[3], const float back[3], float *lo, float *hi)
{
    const Billboard *b = billboard(index);
    float dx = b->x - eye[0], dy = b->y - eye[1], dz = b->z - eye[2];
    float depth = -(dx * back[0] + dy * back[1] + dz * back[2]);
    if (!(depth > 1e-3f))
        return false;
    float rx = back[2], rz = -back[0], rl = sqrtf(rx * rx + rz * rz);
    if (!(rl > 0))
        return false;
    float across = (dx * rx + dz * rz) / rl, half = b->h * b->aspect * 0.5f;
    *lo = (across - half) / depth;
    *hi = (across + half) / depth;
    return true;
}

static bool overlap(int a, int b, const float eye[3], const float back[3])
{
    float a0, a1, b0, b1;
    if (!screen_span(a, eye, back, &a0, &a1) || !screen_span(b, eye, back, &b0, &b1))
        return true;
    return a0 < b1 && b0 < a1;
}

void billboards_batch(int *order, int n, int lookahead, const float eye[3], const float back[3])
{
    if (lookahead <= 1)
        return;
    for (int i = 0; i + 1 < n; i++) {
        unsigned texture = billboard(order[i])->texture;
        int limit = i + lookahead - 1 < n - 1 ? i + lookahead - 1 : n - 1;
        for (int j = i + 1; j <= limit; j++) {
            if (billboard(order[j])->texture != texture)
                continue;
            bool blocked = false;
            for (int k = i + 1; k < j && !blocked; k++)
                blocked = overlap(order[k], order[j], eye, back);
            if (!blocked) {
                int moved = order[j];
                memmove(&order[i + 2], &order[i + 1], (size_t)(j - i - 1) * sizeof(int));
                order[i + 1] = moved;
            }
            break;
        }
    }
}

void billboards_set_lookahead(int n) { g_draw.lookahead = n; }

// ---- billboards: drawing

void billboards_draw(const float eye[3], const float back[3])
{
    reserve(billboard_count());
    int n = billboards_collect(eye, back, g_draw.order);
    // Only those the view can show: the rest cost their vertices and clipping for nothing.
    ViewPlanes view;
    view_planes(&view);
    int kept = 0;
    for (int k = 0; k < n; k++) {
        const Billboard *b = billboard(g_draw.order[k]);
        float reach = b->h * (b->aspect > 1 ? b->aspect : 1);
        if (sphere_in_view(view, b->x, b->y + b->h * 0.5f, b->z, reach))
            g_draw.order[kept++] = g_draw.order[k];
    }
    n = kept;
    billboards_batch(g_draw.order, n, g_draw.lookahead, eye, back);
    // Facing the camera across the ground: the camera's right in the horizontal plane.
    float rx = back[2], rz = -back[0], rl = sqrtf(rx * rx + rz * rz);
    if (!(rl > 1e-6f))
        rx = 1, rz = 0, rl = 1;
    rx /= rl, rz /= rl;
    glDepthMask(GL_FALSE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.0f);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    GLboolean culling = glIsEnabled(GL_CULL_FACE);
    glDisable(GL_CULL_FACE);
    unsigned bound = 0;
    int binds = 0;
    bool open = false;
    for (int k = 0; k < n; k++) {
        const Billboard *b = billboard(g_draw.order[k]);
        if (b->texture != bound || !open) {
            if (open)
                glEnd();
            if (b->texture != bound) {
                glBindTexture(GL_TEXTURE_2D, b->texture);
                bound = b->texture;
                binds++;
            }
            glBegin(GL_QUADS);
            open = true;
        }
        float half = b->h * b->aspect * 0.5f;
        glColor4ub(b->rgba[0], b->rgba[1], b->rgba[2], b->rgba[3]);
        glTexCoord2f(0, 1);
        glVertex3f(b->x - rx * half, b->y, b->z - rz * half);
        glTexCoord2f(1, 1);
        glVertex3f(b->x + rx * half, b->y, b->z + rz * half);
        glTexCoord2f(1, 0);
        glVertex3f(b->x + rx * half, b->y + b->h, b->z + rz * half);
        glTexCoord2f(0, 0);
        glVertex3f(b->x - rx * half, b->y + b->h, b->z - rz * half);
    }
    if (open)
        glEnd();
    glColor4ub(255, 255, 255, 255);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_BLEND);
    if (culling)
        glEnable(GL_CULL_FACE);
    glDepthMask(GL_TRUE);
    g_draw.stats.billboards = n;
    if (n > g_draw.stats.billboards_max)
        g_draw.stats.billboards_max = n;
    g_draw.stats.binds = binds;
}

void scenery_draw_stats(SceneryDrawStats *out) { *out = g_draw.stats; }
void scenery_draw_reset_max(void) { g_draw.stats.billboards_max = g_draw.stats.billboards; }

const char *billboard_stats_text(char *out, int size)
{
    snprintf(out, (size_t)size, "Billboards - %d max=%d", g_draw.stats.billboards, g_draw.stats.billboards_max);
    return out;
}
