// Model drawing over the fixed pipeline or the programs.
#include "render/model_draw.h"

#include <string.h>

#include "render/gl.h"
#include "render/model/model.h"

static struct {
    bool shaders, vertex_arrays;
    float camera[3];
    long triangles, vertices;
} g_draw = { false, true, { 0, 0, 0 }, 0, 0 };

static void emit_immediate(const Mesh *m, const float *pos, const float *nrm)
{
    glBegin(GL_TRIANGLES);
    for (int t = 0; t < m->nt * 3; t++) {
        int v = m->triangles[t];
        glNormal3fv(&nrm[v * 3]);
        glTexCoord2fv(&m->texcoords[v * 2]);
        if (g_draw.shaders && glf.glMultiTexCoord3fvARB) {
            glf.glMultiTexCoord3fvARB(GL_TEXTURE1_ARB, &m->tangents[v * 3]);
            if (m->weights) {
                const uint8_t *b = &m->bones[v * 4];
                glf.glMultiTexCoord4fvARB(GL_TEXTURE2_ARB, &m->weights[v * 4]);
                glf.glMultiTexCoord4fARB(GL_TEXTURE3_ARB, b[0], b[1], b[2], b[3]);
            }
        }
        glVertex3fv(&pos[v * 3]);
    }
    glEnd();
}

static void emit(const Mesh *m, const float *pos, const float *nrm)
{
    if (!g_draw.vertex_arrays || g_draw.shaders) {
        emit_immediate(m, pos, nrm);
        return;
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, pos);
    glNormalPointer(GL_FLOAT, 0, nrm);
    glTexCoordPointer(2, GL_FLOAT, 0, m->texcoords);
    glDrawElements(GL_TRIANGLES, m->nt * 3, GL_UNSIGNED_INT, m->triangles);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

// Display lists keep what never changes on the CPU side: with programs everything, without
// them the rigid, non-reflective meshes.
static void compile(Mesh *m)
{
    if (!g_draw.shaders && (m->bone_count > 0 || mesh_mode(m) == MESH_REFLECTIVE))
        return;
    GLuint list = glGenLists(1);
    if (!list)
        return;
    glNewList(list, GL_COMPILE);
    emit_immediate(m, m->positions, m->normals);
    glEndList();
    m->display_list = list;
}

static void release(Mesh *m)
{
    if (m->display_list)
        glDeleteLists(m->display_list, 1);
    m->display_list = 0;
}

void model_draw_init(bool shaders, bool vertex_arrays)
{
    g_draw.shaders = shaders;
    g_draw.vertex_arrays = vertex_arrays;
    static const ModelGpuHooks hooks = { compile, release };
    model_set_gpu_hooks(&hooks);
}

void models_delete_all(void)
{
    model_release_stale(true);
}

void model_set_camera(float x, float y, float z)
{
    g_draw.camera[0] = x;
    g_draw.camera[1] = y;
    g_draw.camera[2] = z;
}

void model_stats(long *triangles, long *vertices)
{
    *triangles = g_draw.triangles;
    *vertices = g_draw.vertices;
}

void model_reset_stats(void)
{
    g_draw.triangles = g_draw.vertices = 0;
}

static const Model *choose(const Model *m, const float at[3])
{
    float d2 = 0;
    for (int i = 0; i < 3; i++)
        d2 += (at[i] - g_draw.camera[i]) * (at[i] - g_draw.camera[i]);
    return model_choose_lod(m, d2);
}

static void load_palette(int bones, const BonePose *palette)
{
    if (!g_draw.shaders || shader_current() <= 0)
        return;
    float c[MAX_BONE * 3], t[MAX_BONE * 3], r[MAX_BONE * 9];
    if (bones > MAX_BONE)
        bones = MAX_BONE;
    for (int b = 0; b < bones; b++) {
        memcpy(&c[b * 3], palette[b].centre, sizeof palette[b].centre);
        memcpy(&t[b * 3], palette[b].translation, sizeof palette[b].translation);
        memcpy(&r[b * 9], palette[b].rotation, sizeof palette[b].rotation);
    }
    shader_set_bones(bones, c, t, r);
}

static void draw_mesh(Mesh *mesh, int bones, const BonePose *palette)
{
    const float *pos = mesh->positions, *nrm = mesh->normals;
    if (!g_draw.shaders && mesh->bone_count > 0 && bones > 0) {
        skin_mesh(mesh, palette, bones);
        pos = mesh->skinned_positions;
        nrm = mesh->skinned_normals;
    }
    if (mesh->display_list)
        glCallList(mesh->display_list);
    else
        emit(mesh, pos, nrm);
    g_draw.triangles += mesh->nt;
    g_draw.vertices += mesh->nv;
}

void model_draw(const Model *model, const float at[3], int bones, const BonePose *palette)
{
    if (!model)
        return;
    const Model *m = choose(model, at);
    load_palette(m->bone_count > 0 ? bones : 0, palette);
    for (Mesh *mesh = m->meshes; mesh; mesh = mesh->next) {
        int mode = mesh_mode(mesh);
        if (mode == MESH_REFLECTIVE)
            break;
        if (mode == MESH_SELF_LIT) {
            const float black[4] = { 0, 0, 0, 1 }, zero[4] = { 0, 0, 0, 0 };
            float saved_model[4], saved_light[4];
            glGetFloatv(GL_LIGHT_MODEL_AMBIENT, saved_model);
            glGetLightfv(GL_LIGHT0, GL_AMBIENT, saved_light);
            glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
            glLightfv(GL_LIGHT0, GL_AMBIENT, mesh->colour);
            glMaterialfv(GL_FRONT, GL_DIFFUSE, zero);
            glMaterialfv(GL_FRONT, GL_SPECULAR, zero);
            glMaterialf(GL_FRONT, GL_SHININESS, 1);
            draw_mesh(mesh, bones, palette);
            const float white[4] = { 1, 1, 1, 1 };
            glLightModelfv(GL_LIGHT_MODEL_AMBIENT, saved_model);
            glLightfv(GL_LIGHT0, GL_AMBIENT, saved_light);
            glMaterialfv(GL_FRONT, GL_DIFFUSE, white);
            continue;
        }
        glMaterialfv(GL_FRONT, GL_SPECULAR, mesh->colour);
        glMaterialf(GL_FRONT, GL_SHININESS, mesh->shininess > 0.125f ? (mesh->shininess > 128 ? 128 : mesh->shininess) : 0.125f);
        draw_mesh(mesh, bones, palette);
    }
}

void model_draw_reflective(const Model *model, const float at[3], int bones, const BonePose *palette)
{
    if (!model)
        return;
    const Model *m = choose(model, at);
    bool any = false;
    for (Mesh *mesh = m->meshes; mesh; mesh = mesh->next)
        any = any || mesh_mode(mesh) == MESH_REFLECTIVE;
    if (!any)
        return;
    load_palette(m->bone_count > 0 ? bones : 0, palette);
    bool texgen = !g_draw.shaders || shader_current() <= 0;
    if (texgen) {
        glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
        glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
        glEnable(GL_TEXTURE_GEN_S);
        glEnable(GL_TEXTURE_GEN_T);
    }
    for (Mesh *mesh = m->meshes; mesh; mesh = mesh->next) {
        if (mesh_mode(mesh) != MESH_REFLECTIVE)
            continue;
        glColor4f(mesh->colour[0], mesh->colour[1], mesh->colour[2], mesh->reflectivity);
        draw_mesh(mesh, bones, palette);
    }
    if (texgen) {
        glDisable(GL_TEXTURE_GEN_S);
        glDisable(GL_TEXTURE_GEN_T);
    }
    glColor4f(1, 1, 1, 1);
}
