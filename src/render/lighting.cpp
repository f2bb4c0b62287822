#include "render/lighting.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <GL/gl.h>

#include "common/mem.h"
#include "common/progress.h"
#include "platform/log.h"
#include "render/gl.h"
#include "render/ground_textures.h"
#include "render/lighting_internal.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static const char *const k_sky_keys[SKY_FACES] = { "sky_n", "sky_e", "sky_s", "sky_w", "sky_u" };
static const char *const k_sky_defaults[SKY_FACES] = { "@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm", "@sky-w.ppm",
                                                       "@sky-u.ppm" };
static const float k_min_near = 0.0009765625f;  // 2^-10
static const float k_max_far = 1048576;         // 2^20

static struct {
    Lighting state;
    bool ready;
    unsigned sky[SKY_FACES], env;
    bool lens_flare = true;
} g_light;

LightingTextures lighting_textures(void)
{
    LightingTextures t;
    memcpy(t.sky, g_light.sky, sizeof t.sky);
    t.lens_flare = g_light.lens_flare;
    return t;
}

Lighting *lighting_state(void)
{
    if (!g_light.ready) {
        lighting_reset(&g_light.state);
        lighting_finish(&g_light.state);
        g_light.ready = true;
    }
    return &g_light.state;
}

const Lighting *lighting(void) { return lighting_state(); }

static void set3(float *v, float a, float b, float c)
{
    v[0] = a;
    v[1] = b;
    v[2] = c;
}

static void free_flare(LensFlare *f)
{
    for (int i = 0; i < f->count; i++)
        xfree(f->elements[i].texture_name);
    f->count = 0;
}

void lighting_free(Lighting *l)
{
    for (int i = 0; i < l->flare_count; i++)
        free_flare(&l->flares[i]);
    xfree(l->flares);
    if (l->pending) {
        free_flare(l->pending);
        xfree(l->pending);
    }
    l->flares = nullptr;
    l->pending = nullptr;
    l->flare_count = l->flare_capacity = 0;
}

void lighting_reset(Lighting *l)
{
    lighting_free(l);
    memset(l, 0, sizeof *l);
    set3(l->sun_vector, 1, 1, 1);
    set3(l->sun_color, 1, 1, 1);
    set3(l->ambient, 0.5f, 0.5f, 0.5f);
    set3(l->global_ambient, 0.2f, 0.2f, 0.2f);
    l->near_plane = 0.25f;
    l->far_plane = 5000;
}

static bool finite_all(const float *v, int n)
{
    for (int i = 0; i < n; i++)
        if (!isfinite(v[i]))
            return false;
    return true;
}

// " [ %f %f %f ] ": false (and out untouched) unless all three are there and finite.
static bool read_vector(const char *args, float *out)
{
    float v[3];
    if (sscanf(args, " [ %f %f %f ]", &v[0], &v[1], &v[2]) != 3 || !finite_all(v, 3))
        return false;
    memcpy(out, v, sizeof v);
    return true;
}

static void add_element(Lighting *l, const char *args)
{
    float v[6];
    char name[1024];
    if (sscanf(args, " [ %f %f ] [ %f %f %f ] %f %1023s", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], name) != 7 ||
        !finite_all(v, 6))
        return;
    if (!l->pending)
        l->pending = (LensFlare *)xcalloc(1, sizeof(LensFlare));
    LensFlare *f = l->pending;
    if (f->count >= LENS_FLARE_MAX_ELEMENTS)
        return;
    FlareElement *e = &f->elements[f->count++];
    e->factor[0] = v[0];
    e->factor[1] = v[1];
    memcpy(e->color, v + 2, sizeof e->color);
    e->size = v[5];
    e->texture_name = xstrdup(name);
    e->texture = 0;
}

// The anchor closes the elements given since the last one; a flare without elements would
// only cost a read-back, so it is not kept.
static void close_flare(Lighting *l, const char *args, bool point)
{
    float anchor[3];
    if (!read_vector(args, anchor))
        return;
    LensFlare *f = l->pending;
    l->pending = nullptr;
    if (!f)
        return;
    if (l->flare_count == l->flare_capacity) {
        l->flare_capacity = l->flare_capacity ? l->flare_capacity * 2 : 4;
        l->flares = (LensFlare *)xrealloc(l->flares, sizeof(LensFlare) * (size_t)l->flare_capacity);
    }
    memcpy(f->anchor, anchor, sizeof anchor);
    f->is_point = point;
    l->flares[l->flare_count++] = *f;
    xfree(f);
}

static void read_line(Lighting *l, const char *line)
{
    const char *p = line + strspn(line, " \t");
    size_t n = strcspn(p, " \t\r\n");
    if (n == 0)
        return;
    char key[1024];
    if (n >= sizeof key)
        n = sizeof key - 1;
    memcpy(key, p, n);
    key[n] = 0;
    const char *args = p + n;

    struct Vector {
        const char *key;
        float *value;
    };
    const Vector vectors[] = {
        { "sun_vector", l->sun_vector },
        { "sun_color", l->sun_color },
        { "ambient", l->ambient },
        { "global_ambient", l->global_ambient },
    };
    for (const Vector &v : vectors)
        if (strcmp(key, v.key) == 0) {
            float value[3];
            // A sun of no length has no direction: the one before stays.
            if (read_vector(args, value) &&
                (v.value != l->sun_vector || value[0] * value[0] + value[1] * value[1] + value[2] * value[2] >= 1e-12f))
                memcpy(v.value, value, sizeof value);
            return;
        }
    for (int i = 0; i < SKY_FACES; i++)
        if (strcmp(key, k_sky_keys[i]) == 0) {
            char name[1024];
            if (sscanf(args, " %1023s", name) == 1)
                snprintf(l->sky[i], sizeof l->sky[i], "%s", name);
            return;
        }
    if (strcmp(key, "sky_env") == 0) {
        char name[1024];
        if (sscanf(args, " %1023s", name) == 1)
            snprintf(l->sky_env, sizeof l->sky_env, "%s", name);
    } else if (strcmp(key, "fog") == 0) {
        float v[4];
        if (sscanf(args, " [ %f %f %f ] %f", &v[0], &v[1], &v[2], &v[3]) == 4 && finite_all(v, 4)) {
            memcpy(l->fog_color, v, sizeof l->fog_color);
            l->fog_density = v[3];
        }
    } else if (strcmp(key, "dynamic_lighting") == 0) {
        l->dynamic_lighting = atoi(args);
    } else if (strcmp(key, "near_plane") == 0 || strcmp(key, "far_plane") == 0) {
        float v;
        if (sscanf(args, " %f", &v) == 1 && isfinite(v))
            *(key[0] == 'n' ? &l->near_plane : &l->far_plane) = v;
    } else if (strcmp(key, "flare_element") == 0) {
        add_element(l, args);
    } else if (strcmp(key, "flare_point") == 0 || strcmp(key, "flare_vector") == 0) {
        close_flare(l, args, key[6] == 'p');
    } else {
        log_printf("Error reading lighting: Unknown identifier '%.950s'\n", key);
    }
}

void lighting_read(Lighting *l, DataFile *f)
{
    char line[2048];
    bool continuation = false;
    while (data_gets(f, line, sizeof line)) {
        bool whole = strchr(line, '\n') != nullptr;
        // The rest of an over-long line is not a line of its own.
        if (!continuation)
            read_line(l, line);
        continuation = !whole;
    }
}

void lighting_finish(Lighting *l)
{
    if (!(l->near_plane >= k_min_near))
        l->near_plane = k_min_near;
    // A near plane beyond the farthest far one would push the far plane out with it.
    if (l->near_plane > k_max_far)
        l->near_plane = k_max_far;
    float far_plane = l->far_plane < k_max_far ? l->far_plane : k_max_far;
    l->far_plane = far_plane > l->near_plane ? far_plane : l->near_plane;
    float *s = l->sun_vector;
    float length = sqrtf(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    if (!(length >= 1e-6f) || !isfinite(length)) {
        set3(s, 1, 1, 1);
        length = sqrtf(3);
    }
    set3(s, s[0] / length, s[1] / length, s[2] / length);
    for (int i = 0; i < SKY_FACES; i++)
        if (!l->sky[i][0])
            snprintf(l->sky[i], sizeof l->sky[i], "%s", k_sky_defaults[i]);
    if (!l->sky_env[0])
        snprintf(l->sky_env, sizeof l->sky_env, "@sky-env.ppm");
    // Elements never closed by an anchor are dropped.
    if (l->pending) {
        free_flare(l->pending);
        xfree(l->pending);
        l->pending = nullptr;
    }
}

bool lighting_read_folder(Lighting *l, const char *folder)
{
    lighting_reset(l);
    char name[1100];
    snprintf(name, sizeof name, "@%.1000s/lighting", folder ? folder : "");
    DataFile *f = open_data_file(name, "rb");
    if (f) {
        lighting_read(l, f);
        close_data_file(f);
    }
    lighting_finish(l);
    return f != nullptr;
}

int lens_flare_elements(const Lighting *l, int flare)
{
    return flare >= 0 && flare < l->flare_count ? l->flares[flare].count : 0;
}

bool lens_flare_anchor(const Lighting *l, int flare, float out[3], bool *is_point)
{
    if (flare < 0 || flare >= l->flare_count)
        return false;
    memcpy(out, l->flares[flare].anchor, sizeof l->flares[flare].anchor);
    *is_point = l->flares[flare].is_point;
    return true;
}

void lighting_load(const char *folder)
{
    progress_log("Loading lighting");
    Lighting *l = lighting_state();
    lighting_read_folder(l, folder);
    const float *s = l->sun_vector, *c = l->sun_color, *a = l->ambient;
    terrain_set_lighting(v3(s[0], s[1], s[2]), v3(c[0], c[1], c[2]), v3(a[0], a[1], a[2]));
    ground_set_dynamic_lighting(l->dynamic_lighting > 0);
    memset(g_light.sky, 0, sizeof g_light.sky);
    g_light.env = 0;
    // The textures belong to the session's generation: the cache releases them with it.
    if (gl_caps.major > 0) {
        for (int i = 0; i < SKY_FACES; i++) {
            g_light.sky[i] = texture_load(l->sky[i]);
            // Always magnified: the base level alone, which the software rasteriser fills
            // much faster than a mip chain.
            if (g_light.sky[i]) {
                glBindTexture(GL_TEXTURE_2D, g_light.sky[i]);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            }
        }
        glBindTexture(GL_TEXTURE_2D, 0);
        g_light.env = texture_load(l->sky_env);
        for (int k = 0; k < l->flare_count; k++)
            for (int i = 0; i < l->flares[k].count; i++)
                l->flares[k].elements[i].texture = texture_load(l->flares[k].elements[i].texture_name);
    }
    progress_done("Loading lighting");
}

unsigned lighting_environment_texture(void) { return g_light.env; }

void lighting_release(void)
{
    lighting_free(&g_light.state);
    g_light.ready = false;
    memset(g_light.sky, 0, sizeof g_light.sky);
    g_light.env = 0;
}

void lighting_set_lens_flare(bool on) { g_light.lens_flare = on; }

void lighting_fog_on(void)
{
    const Lighting *l = lighting();
    // The programs fog always: without fog their density must say none.
    if (!(l->fog_density > 0)) {
        glFogf(GL_FOG_DENSITY, 0);
        glDisable(GL_FOG);
        return;
    }
    const float color[4] = { l->fog_color[0], l->fog_color[1], l->fog_color[2], 1 };
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogf(GL_FOG_DENSITY, l->fog_density);
    glFogfv(GL_FOG_COLOR, color);
    glEnable(GL_FOG);
}

void lighting_fog_off(void) { glDisable(GL_FOG); }

void lighting_light0(void)
{
    const Lighting *l = lighting();
    const float position[4] = { l->sun_vector[0], l->sun_vector[1], l->sun_vector[2], 0 };
    const float ambient[4] = { l->ambient[0], l->ambient[1], l->ambient[2], 1 };
    const float sun[4] = { l->sun_color[0], l->sun_color[1], l->sun_color[2], 1 };
    const float global[4] = { l->global_ambient[0], l->global_ambient[1], l->global_ambient[2], 1 };
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, sun);
    glLightfv(GL_LIGHT0, GL_SPECULAR, sun);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, global);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_TRUE);
    glEnable(GL_LIGHT0);
}
