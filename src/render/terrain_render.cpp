#include "render/terrain_render.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/mem.h"
#include "render/gl.h"
#include "render/ground_textures.h"
#include "render/scenery/decal.h"
#include "render/terrain_lod.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static struct {
    bool vertex_arrays = true;
    LodFrame frame;
    int vertices, frames;
    // The fans of one texture as triangles: one draw call per run of fans sharing a texture
    // instead of one per fan.
    LodVertex *batch;
    int batch_capacity;
} g_render;

void terrain_render_configure(const TerrainRenderSettings *s)
{
    lod_set_detail(s->terrain_detail);
    GroundSettings g = { s->texture_dim_index, s->texture_lmin, s->mipmaps, s->reshade_delay, s->verbosity };
    ground_configure(&g);
    g_render.vertex_arrays = s->vertex_arrays;
}

static int drawable_side(void)
{
    if (gl_caps.major <= 0)
        return 0;
    GLint view[4] = { 0, 0, 0, 0 };
    glGetIntegerv(GL_VIEWPORT, view);
    return view[2] < view[3] ? view[2] : view[3];
}

static void hook_lod(Terrain *t) { lod_attach(t); }
static void hook_method(Terrain *t, int requested) { ground_choose_method(t, requested, drawable_side()); }
static void hook_build(Terrain *t) { ground_textures_create(t); }
static void hook_release(Terrain *)
{
    ground_textures_release();
    lod_release();
    lod_frame_free(&g_render.frame);
    xfree(g_render.batch);
    g_render.batch = nullptr;
    g_render.batch_capacity = 0;
}
static unsigned long hook_memory(void) { return texture_memory() + ground_texture_memory(); }
static void hook_region(Terrain *, int i0, int j0, int i1, int j1)
{
    // A vertex's shading follows its neighbours' heights: the cells around them change too.
    terrain_mark_region(i0 - 2, j0 - 2, i1 + 1, j1 + 1);
}

void terrain_render_install(void)
{
    TerrainRenderHooks hooks = {};
    hooks.compute_lod_errors = hook_lod;
    hooks.choose_method = hook_method;
    hooks.build_textures = hook_build;
    hooks.release_textures = hook_release;
    hooks.load_tile_texture = texture_load;
    hooks.texture_memory = hook_memory;
    hooks.mark_region = hook_region;
    hooks.load_decals = decals_load;
    hooks.save_decals = decals_save;
    hooks.free_decals = decals_free;
    terrain_set_render_hooks(&hooks);
}

void terrain_render_setup(Terrain *t, int requested)
{
    ground_choose_method(t, requested, drawable_side());
    ground_textures_create(t);
}

void terrain_lod_update(void)
{
    lod_pass_step(LOD_PASS_BUDGET);
    ground_low_detail_step(false);
}

void terrain_lod_rebuild(void)
{
    lod_pass_finish();
    ground_low_detail_step(true);
}

void terrain_textures_update(const Vec3 &camera) { ground_textures_update(camera); }

void terrain_mark_region(int x0, int z0, int x1, int z1) { ground_mark_cells(x0, z0, x1, z1); }

void terrain_redraw_textures(bool decals_hidden)
{
    ground_hide_decals(decals_hidden);
    ground_mark_cells(0, 0, 1 << 30, 1 << 30);
}

static const LodTextureSource k_source = { ground_window, ground_bind };

// The sun as the terrain's vertex shading sees it, for program "terrain": light 0 with the
// material at full strength, so that lit per pixel the ground matches the shaded textures.
static void shader_begin(void)
{
    Vec3 sun, color, ambient;
    terrain_get_lighting(&sun, &color, &ambient);
    glPushAttrib(GL_LIGHTING_BIT | GL_FOG_BIT);
    const float position[4] = { sun.x, sun.y, sun.z, 0 };
    const float diffuse[4] = { color.x, color.y, color.z, 1 }, amb[4] = { ambient.x, ambient.y, ambient.z, 1 };
    const float one[4] = { 1, 1, 1, 1 };
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, diffuse);
    glLightfv(GL_LIGHT0, GL_AMBIENT, amb);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, one);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, one);
    // The program fogs always: without fog its density must say none.
    if (!glIsEnabled(GL_FOG))
        glFogf(GL_FOG_DENSITY, 0);
    shader_use(SHADER_TERRAIN);
}

static void shader_end(void)
{
    shader_use(SHADER_FIXED);
    const GLenum units[2] = { GL_TEXTURE2_ARB, GL_TEXTURE1_ARB };
    for (GLenum unit : units) {
        glf.glActiveTextureARB(unit);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    glf.glActiveTextureARB(GL_TEXTURE0_ARB);
    glPopAttrib();
}

static void bind_maps(const LodBinding &b, bool shaders)
{
    if (shaders) {
        glf.glActiveTextureARB(GL_TEXTURE1_ARB);
        glBindTexture(GL_TEXTURE_2D, b.normal);
        glf.glActiveTextureARB(GL_TEXTURE2_ARB);
        glBindTexture(GL_TEXTURE_2D, b.specular);
        glf.glActiveTextureARB(GL_TEXTURE0_ARB);
    }
    glBindTexture(GL_TEXTURE_2D, b.texture);
}

static bool same_maps(const LodBinding &a, const LodBinding &b)
{
    return a.texture == b.texture && a.normal == b.normal && a.specular == b.specular;
}

void terrain_draw(const Vec3 &position, const Vec3 &view)
{
    LodFrame &f = g_render.frame;
    lod_build_frame(position, view, &k_source, &f);
    g_render.frames++;
    g_render.vertices += f.vertex_count;
    if (f.fan_count == 0)
        return;
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glColor4f(1, 1, 1, 1);
    bool shaders = ground_shader_path();
    if (shaders)
        shader_begin();
    if (!g_render.vertex_arrays) {
        const LodBinding *bound = nullptr;
        for (int e = 0; e < f.fan_count; e++) {
            const LodFan &fan = f.fans[e];
            if (!bound || !same_maps(fan.binding, *bound)) {
                bind_maps(fan.binding, shaders);
                bound = &fan.binding;
            }
            glBegin(GL_TRIANGLE_FAN);
            for (int v = fan.first; v < fan.first + fan.count; v++) {
                glTexCoord2f(f.vertices[v].u, f.vertices[v].v);
                if (shaders)
                    glf.glMultiTexCoord2fARB(GL_TEXTURE1_ARB, f.vertices[v].u, f.vertices[v].v);
                glVertex3f(f.vertices[v].x, f.vertices[v].y, f.vertices[v].z);
            }
            glEnd();
        }
        if (shaders)
            shader_end();
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    if (g_render.batch_capacity < 3 * f.triangles) {
        g_render.batch_capacity = 3 * f.triangles + 1024;
        g_render.batch = (LodVertex *)xrealloc(g_render.batch, g_render.batch_capacity * sizeof(LodVertex));
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(LodVertex), &g_render.batch[0].x);
    glTexCoordPointer(2, GL_FLOAT, sizeof(LodVertex), &g_render.batch[0].u);
    if (shaders) {
        // The normal and specular maps share the picture's coordinates.
        glf.glClientActiveTextureARB(GL_TEXTURE1_ARB);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, sizeof(LodVertex), &g_render.batch[0].u);
        glf.glClientActiveTextureARB(GL_TEXTURE0_ARB);
    }
    int first = 0, used = 0;
    for (int e = 0; e < f.fan_count; e++) {
        const LodFan &fan = f.fans[e];
        for (int v = fan.first + 1; v + 1 < fan.first + fan.count; v++) {
            g_render.batch[used++] = f.vertices[fan.first];
            g_render.batch[used++] = f.vertices[v];
            g_render.batch[used++] = f.vertices[v + 1];
        }
        // Fans stay in their front-to-back order; a run ends where the texture changes.
        if (e + 1 == f.fan_count || !same_maps(f.fans[e + 1].binding, fan.binding)) {
            bind_maps(fan.binding, shaders);
            glDrawArrays(GL_TRIANGLES, first, used - first);
            first = used;
        }
    }
    if (shaders) {
        glf.glClientActiveTextureARB(GL_TEXTURE1_ARB);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glf.glClientActiveTextureARB(GL_TEXTURE0_ARB);
        shader_end();
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void terrain_render_stats(TerrainRenderStats *out)
{
    out->fans = g_render.frame.fan_count;
    out->triangles = g_render.frame.triangles;
    out->vertices = g_render.frame.vertex_count;
    out->frame = ground_frame();
    out->texture_age = ground_texture_age();
    out->reshades_pending = ground_reshades_pending();
}
