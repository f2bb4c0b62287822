// Bike and rider drawing.
#include "render/bike_draw.h"

#include <stdio.h>
#include <string.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/figure.h"
#include "bike/rider.h"
#include "common/mem.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/image/image.h"
#include "render/model/model.h"
#include "render/model_draw.h"
#include "render/texture.h"
#include "vfs/vfs.h"

enum {
    LOOK_FRAME, LOOK_UPPER_FORK, LOOK_LOWER_FORK, LOOK_SWINGARM, LOOK_FRONT_WHEEL, LOOK_REAR_WHEEL,
    LOOK_HEAD, LOOK_BODY, LOOK_BODY_FP, LOOK_SIDE_PLATES, LOOK_FRONT_PLATE, LOOK_RIDER_PLATE, LOOK_MODELS
};
enum { TEX_BIKE, TEX_WHEELS, TEX_HEAD, TEX_BODY, TEX_SETS };

static const int k_model_file[LOOK_MODELS] = {
    BIKE_FILE_FRAME_MODEL, BIKE_FILE_UPPER_FORK_MODEL, BIKE_FILE_LOWER_FORK_MODEL, BIKE_FILE_SWINGARM_MODEL,
    BIKE_FILE_FRONT_WHEEL_MODEL, BIKE_FILE_REAR_WHEEL_MODEL, BIKE_FILE_HEAD_MODEL, BIKE_FILE_BODY_MODEL,
    BIKE_FILE_FIRST_PERSON_BODY_MODEL, BIKE_FILE_SIDE_PLATES_MODEL, BIKE_FILE_FRONT_PLATE_MODEL,
    BIKE_FILE_RIDER_PLATE_MODEL,
};

struct BikeLooksLoaded {
    const Model *model[LOOK_MODELS];
    unsigned texture[TEX_SETS];
    unsigned normal_map[TEX_SETS], specular_map[TEX_SETS];    // 0 none
    unsigned plate;
};

static struct {
    BikeLooksLoaded slots[BIKE_SLOTS];
    const Terrain *ground;
    unsigned environment;
    bool reflections;
} g_bike_draw;

// --- number plates ---

void plate_colours(const char *info, float background[3], float foreground[3])
{
    for (int i = 0; i < 3; i++) {
        background[i] = 1;
        foreground[i] = 0;
    }
    const char *keys[2] = { "[numberbackground:", "[numberforeground:" };
    float *out[2] = { background, foreground };
    for (int k = 0; k < 2 && info; k++) {
        const char *at = strstr(info, keys[k]);
        float c[3];
        if (at && sscanf(at + strlen(keys[k]), "%f,%f,%f", &c[0], &c[1], &c[2]) == 3)
            for (int i = 0; i < 3; i++)
                out[k][i] = c[i] < 0 ? 0 : c[i] > 1 ? 1 : c[i];
    }
}

bool paint_number_plate(const char *number, const float background[3], const float foreground[3], Image *out)
{
    const int size = 128;
    memset(out, 0, sizeof *out);
    out->width = out->height = size;
    out->channels = out->pixel_bytes = 4;
    out->pixels = (unsigned char *)xmalloc((size_t)size * size * 4);
    for (int i = 0; i < size * size; i++) {
        for (int c = 0; c < 3; c++)
            out->pixels[i * 4 + c] = (unsigned char)(background[c] * 255 + 0.5f);
        out->pixels[i * 4 + 3] = 255;
    }
    const Font *font = font_get(FONT_NUMBERS);
    const Image *digits = texture_image("@numbers.png");
    if (!font || !digits || !digits->pixels)
        return false;
    char text[8];
    int n = 0;
    for (const char *p = number ? number : ""; *p && n < 7; p++)
        if (*p >= '0' && *p <= '9')
            text[n++] = *p;
    if (n == 0)
        return true;
    // The digits side by side, as tall as fits the plate's width and 3/4 of its height.
    float width = 0;
    for (int i = 0; i < n; i++)
        width += font->glyph[(unsigned char)text[i]].aspect;
    float h = 96, margin = 8;
    if (width * h > size - 2 * margin)
        h = (size - 2 * margin) / width;
    float x = (size - width * h) / 2, y = (size - h) / 2;
    for (int i = 0; i < n; i++) {
        const FontGlyph &g = font->glyph[(unsigned char)text[i]];
        int x0 = (int)x, x1 = (int)(x + g.aspect * h);
        for (int py = (int)y; py < (int)(y + h); py++) {
            for (int px = x0; px < x1; px++) {
                float u = g.left + (g.right - g.left) * (px - x + 0.5f) / (g.aspect * h);
                float v = g.top + (g.bottom - g.top) * (py - y + 0.5f) / h;
                int sx = (int)(u * digits->width), sy = (int)(v * digits->height);
                if (sx < 0 || sy < 0 || sx >= digits->width || sy >= digits->height || px < 0 || px >= size)
                    continue;
                const unsigned char *s = &digits->pixels[((size_t)sy * digits->width + sx) * digits->pixel_bytes];
                float a = digits->channels == 4 ? s[3] / 255.0f : s[0] / 255.0f;
                unsigned char *d = &out->pixels[((size_t)py * size + px) * 4];
                for (int c = 0; c < 3; c++)
                    d[c] = (unsigned char)((background[c] * (1 - a) + foreground[c] * a) * 255 + 0.5f);
            }
        }
        x += g.aspect * h;
    }
    return true;
}

// --- loading ---

// A map beside a texture: "@x.png" -> "@x_norm.png"; 0 when the index has none (the maps are
// optional: a missing one is no warning).
static unsigned load_map(const char *texture, const char *suffix)
{
    const char *dot = strrchr(texture, '.');
    if (!dot || texture[0] != '@')
        return 0;
    char name[300];
    snprintf(name, sizeof name, "%.*s%s%s", (int)(dot - texture), texture, suffix, dot);
    return file_index_find(name + 1) >= 0 ? texture_load(name) : 0;
}

// A texture set: the chosen texture (else the fallback) with its normal and specular maps.
static void load_set(BikeLooksLoaded &l, int set, const char *chosen, const char *fallback)
{
    char name[300];
    if (chosen && chosen[0])
        snprintf(name, sizeof name, "%s%s", chosen[0] == '@' ? "" : "@", chosen);
    else
        snprintf(name, sizeof name, "%s", fallback);
    unsigned id = texture_load(name);
    if (!id && strcmp(name, fallback) != 0) {
        snprintf(name, sizeof name, "%s", fallback);
        id = texture_load(name);
    }
    l.texture[set] = id;
    l.normal_map[set] = id ? load_map(name, "_norm") : 0;
    l.specular_map[set] = id ? load_map(name, "_spec") : 0;
}

static void release_looks(const BikeState *bike)
{
    BikeLooksLoaded &l = g_bike_draw.slots[bike->slot];
    if (l.plate)
        texture_delete(l.plate);
    memset(&l, 0, sizeof l);
}

static void load_looks(const BikeState *bike, const BikeLooks *looks)
{
    release_looks(bike);
    const BikeModel *row = bike_catalogue_row(bike);
    BikeLooksLoaded &l = g_bike_draw.slots[bike->slot];
    for (int i = 0; i < LOOK_MODELS; i++)
        l.model[i] = model_get(row->files[k_model_file[i]]);
    load_set(l, TEX_BIKE, looks->bike_texture, row->files[BIKE_FILE_BIKE_TEXTURE]);
    load_set(l, TEX_WHEELS, looks->wheel_texture, row->files[BIKE_FILE_WHEEL_TEXTURE]);
    load_set(l, TEX_HEAD, looks->head_texture, row->files[BIKE_FILE_HEAD_TEXTURE]);
    load_set(l, TEX_BODY, looks->rider_texture, row->files[BIKE_FILE_BODY_TEXTURE]);
    // The plate takes its colours from the bike graphics actually shown.
    char name[300];
    const char *chosen = looks->bike_texture;
    if (chosen && chosen[0])
        snprintf(name, sizeof name, "%s%s", chosen[0] == '@' ? "" : "@", chosen);
    else
        snprintf(name, sizeof name, "%s", row->files[BIKE_FILE_BIKE_TEXTURE]);
    const Image *graphics = texture_image(name);
    float bg[3], fg[3];
    plate_colours(graphics ? graphics->info : nullptr, bg, fg);
    Image plate;
    paint_number_plate(looks->number, bg, fg, &plate);
    l.plate = texture_from_image(&plate, "number plate", 0);
    xfree(plate.pixels);
}

void bike_draw_init(void)
{
    static const BikeRenderHooks hooks = { load_looks, release_looks };
    bike_set_render_hooks(&hooks);
}

void bike_draw_shutdown(void)
{
    bike_set_render_hooks(nullptr);
    for (BikeLooksLoaded &l : g_bike_draw.slots) {
        if (l.plate)
            texture_delete(l.plate);
        memset(&l, 0, sizeof l);
    }
}

void bike_draw_set_ground(const Terrain *ground) { g_bike_draw.ground = ground; }

void bike_draw_set_reflections(unsigned environment_texture, bool on)
{
    g_bike_draw.environment = environment_texture;
    g_bike_draw.reflections = on;
}

unsigned bike_plate_texture(int slot)
{
    return slot >= 0 && slot < BIKE_SLOTS ? g_bike_draw.slots[slot].plate : 0;
}

bool bike_texture_set(int slot, int set, unsigned *texture, unsigned *normal_map, unsigned *specular_map)
{
    if (slot < 0 || slot >= BIKE_SLOTS || set < 0 || set >= TEX_SETS)
        return false;
    const BikeLooksLoaded &l = g_bike_draw.slots[slot];
    *texture = l.texture[set];
    *normal_map = l.normal_map[set];
    *specular_map = l.specular_map[set];
    return true;
}

// --- drawing ---

struct Placed {
    float matrix[16];
    float at[3];
};

static Placed body_place(dBodyID body)
{
    Placed p;
    const dReal *r = dBodyGetRotation(body), *x = dBodyGetPosition(body);
    for (int c = 0; c < 3; c++) {
        for (int row = 0; row < 3; row++)
            p.matrix[c * 4 + row] = (float)r[row * 4 + c];
        p.matrix[c * 4 + 3] = 0;
        p.at[c] = (float)x[c];
        p.matrix[12 + c] = (float)x[c];
    }
    p.matrix[15] = 1;
    return p;
}

static Placed frame_place(Vec3 at, const Mat3 &r)
{
    Placed p;
    const float x[3] = { at.x, at.y, at.z };
    for (int c = 0; c < 3; c++) {
        for (int row = 0; row < 3; row++)
            p.matrix[c * 4 + row] = r.m[row][c];
        p.matrix[c * 4 + 3] = 0;
        p.at[c] = x[c];
        p.matrix[12 + c] = x[c];
    }
    p.matrix[15] = 1;
    return p;
}

static void draw_rigid(const Model *m, const Placed &p, bool reflective)
{
    if (!m)
        return;
    glPushMatrix();
    glMultMatrixf(p.matrix);
    if (reflective)
        model_draw_reflective(m, p.at, 0, nullptr);
    else
        model_draw(m, p.at, 0, nullptr);
    glPopMatrix();
}

static void draw_skinned(const Model *m, const float at[3], const BonePose *palette, bool reflective)
{
    if (!m)
        return;
    if (reflective)
        model_draw_reflective(m, at, RIDER_BONES, palette);
    else
        model_draw(m, at, RIDER_BONES, palette);
}

static void bind(unsigned texture) { glBindTexture(GL_TEXTURE_2D, texture); }

// A texture set for the lit pass: with the programs, its maps on units 1 and 2 and the program
// that reads them.
static void bind_set(const BikeLooksLoaded &l, int set)
{
    bool programs = shader_program(SHADER_LIT) != 0 && glf.glActiveTextureARB;
    if (programs) {
        unsigned n = l.normal_map[set], sp = l.specular_map[set];
        int slot = n && sp ? SHADER_NORM_SPEC_LIT : n ? SHADER_NORM_LIT : SHADER_LIT;
        if (n) {
            shader_set_sampler(slot, "tex", 0);
            shader_set_sampler(slot, "nmap", 1);
            glf.glActiveTextureARB(GL_TEXTURE1_ARB);
            glBindTexture(GL_TEXTURE_2D, n);
            if (sp) {
                shader_set_sampler(slot, "smap", 2);
                glf.glActiveTextureARB(GL_TEXTURE2_ARB);
                glBindTexture(GL_TEXTURE_2D, sp);
            }
            glf.glActiveTextureARB(GL_TEXTURE0_ARB);
        }
        shader_use(slot);
    }
    bind(l.texture[set]);
}

// The parts in drawing order; `reflective` draws their chrome instead, with the environment.
static void draw_parts(BikeState *bike, const BikeLooksLoaded &l, int view, const RiderFigure *figure,
                       const BonePose *palette, bool reflective)
{
    auto tex = [&](int set) {
        if (!reflective)
            bind_set(l, set);
    };
    Placed frame = body_place(bike->body[BODY_FRAME]), fork = body_place(bike->body[BODY_UPPER_FORK]);
    tex(TEX_BIKE);
    draw_rigid(l.model[LOOK_FRAME], frame, reflective);
    draw_rigid(l.model[LOOK_UPPER_FORK], fork, reflective);
    draw_rigid(l.model[LOOK_LOWER_FORK], body_place(bike->body[BODY_LOWER_FORK]), reflective);
    if (view != BIKE_VIEW_OUTSIDE) {
        tex(TEX_WHEELS);
        draw_rigid(l.model[LOOK_FRONT_WHEEL], body_place(bike->body[BODY_FRONT_WHEEL]), reflective);
    } else {
        draw_rigid(l.model[LOOK_SWINGARM], body_place(bike->body[BODY_SWINGARM]), reflective);
        tex(TEX_WHEELS);
        draw_rigid(l.model[LOOK_FRONT_WHEEL], body_place(bike->body[BODY_FRONT_WHEEL]), reflective);
        draw_rigid(l.model[LOOK_REAR_WHEEL], body_place(bike->body[BODY_REAR_WHEEL]), reflective);
    }
    if (figure && view != BIKE_VIEW_FIRST_PERSON_HIDDEN && l.model[LOOK_BODY]) {
        const float at[3] = { figure->body_position.x, figure->body_position.y, figure->body_position.z };
        tex(TEX_BODY);
        const Model *body = view == BIKE_VIEW_FIRST_PERSON && l.model[LOOK_BODY_FP] ? l.model[LOOK_BODY_FP] : l.model[LOOK_BODY];
        draw_skinned(body, at, palette, reflective);
        if (view == BIKE_VIEW_OUTSIDE) {
            tex(TEX_HEAD);
            draw_rigid(l.model[LOOK_HEAD], frame_place(figure->head_position, figure->head_rotation), reflective);
        }
    }
    if (reflective)
        return;
    if (shader_program(SHADER_LIT))
        shader_use(SHADER_LIT);
    bind(l.plate);
    draw_rigid(l.model[LOOK_FRONT_PLATE], fork, false);
    draw_rigid(l.model[LOOK_SIDE_PLATES], frame, false);
    if (figure && view == BIKE_VIEW_OUTSIDE) {
        const float at[3] = { figure->body_position.x, figure->body_position.y, figure->body_position.z };
        draw_skinned(l.model[LOOK_RIDER_PLATE], at, palette, false);
    }
}

void draw_bike(BikeState *bike, int view, float alpha)
{
    if (!bike || !bike->built || bike->slot < 0 || bike->slot >= BIKE_SLOTS)
        return;
    const BikeLooksLoaded &l = g_bike_draw.slots[bike->slot];
    // After a fall the whole bike is seen, whatever the camera.
    if (bike_fallen(bike))
        view = BIKE_VIEW_OUTSIDE;
    RiderFigure figure;
    BonePose palette[RIDER_BONES];
    bool rider = view != BIKE_VIEW_FIRST_PERSON_HIDDEN && rider_figure(bike, g_bike_draw.ground, &figure);
    if (rider) {
        for (int b = 0; b < RIDER_BONES; b++) {
            const FigureBone &f = figure.bones[b];
            BonePose &p = palette[b];
            const float c[3] = { f.centre.x, f.centre.y, f.centre.z }, t[3] = { f.translation.x, f.translation.y, f.translation.z };
            memcpy(p.centre, c, sizeof c);
            memcpy(p.translation, t, sizeof t);
            for (int col = 0; col < 3; col++)
                for (int row = 0; row < 3; row++)
                    p.rotation[col * 3 + row] = f.rotation.m[row][col];
        }
    }
    const float white[4] = { 1, 1, 1, alpha };
    glEnable(GL_LIGHTING);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    // With the programs built, "lit" skins the rider and "env" draws the chrome.
    bool programs = shader_program(SHADER_LIT) != 0;
    if (programs)
        shader_use(SHADER_LIT);
    draw_parts(bike, l, view, rider ? &figure : nullptr, palette, false);
    if (g_bike_draw.reflections) {
        glDisable(GL_LIGHTING);
        if (programs)
            shader_use(SHADER_ENV);
        bind(g_bike_draw.environment);
        draw_parts(bike, l, view, rider ? &figure : nullptr, palette, true);
        glEnable(GL_LIGHTING);
    }
    if (programs)
        shader_use(SHADER_FIXED);
}
