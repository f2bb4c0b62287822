// The ".jm" reader, the model cache with its levels of detail, CPU skinning and the mesh2
// export. Counts in a file are never trusted as allocation sizes: arrays grow with the numbers
// actually read.
#include "render/model/model.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "common/mem.h"
#include "platform/log.h"
#include "vfs/vfs.h"

static struct {
    Model **cache;
    int count, capacity;
    int generation;
    int verbosity;
    float lod_scale, lod_bias;
    ModelGpuHooks hooks;
} g_models = { nullptr, 0, 0, 1, 0, 1, 0, { nullptr, nullptr } };

void model_set_gpu_hooks(const ModelGpuHooks *hooks)
{
    g_models.hooks = hooks ? *hooks : ModelGpuHooks{ nullptr, nullptr };
}

void model_set_verbosity(int level) { g_models.verbosity = level; }

int mesh_mode(const Mesh *mesh)
{
    if (mesh->shininess == -1)
        return MESH_REFLECTIVE;
    if (mesh->shininess == -2)
        return MESH_SELF_LIT;
    return MESH_ORDINARY;
}

// --- reading ---

static void mesh_free(Mesh *m)
{
    if (!m)
        return;
    if (g_models.hooks.release && m->display_list)
        g_models.hooks.release(m);
    xfree(m->positions);
    xfree(m->normals);
    xfree(m->texcoords);
    xfree(m->tangents);
    xfree(m->weights);
    xfree(m->bones);
    xfree(m->skinned_positions);
    xfree(m->skinned_normals);
    xfree(m->triangles);
    xfree(m);
}

void model_free(Model *m)
{
    while (m) {
        Model *lod = m->lod;
        for (Mesh *mesh = m->meshes; mesh;) {
            Mesh *next = mesh->next;
            mesh_free(mesh);
            mesh = next;
        }
        xfree(m->name);
        xfree(m);
        m = lod;
    }
}

static bool read_floats(DataFile *f, float *out, int n)
{
    for (int i = 0; i < n; i++)
        if (data_scanf(f, "%f", &out[i]) != 1 || !isfinite(out[i]))
            return false;
    return true;
}

// Grows an array of `per` elements of `size` bytes for element `i` (doubling).
static void *grow(void *p, int *capacity, int i, int per, size_t size)
{
    if (i < *capacity)
        return p;
    int c = *capacity ? *capacity * 2 : 256;
    while (c <= i)
        c *= 2;
    *capacity = c;
    return xrealloc(p, (size_t)c * (size_t)per * size);
}

// Keeps the four largest positive influences by the replacement rule, then normalises.
static void reduce_weights(const float *w, int bones, float out[4], uint8_t index[4], bool *warned, const char *name)
{
    for (int s = 0; s < 4; s++) {
        out[s] = 0;
        index[s] = 0;
    }
    for (int j = 0; j < bones; j++) {
        if (!(w[j] > 0))
            continue;
        int slot = 0;
        for (int s = 1; s < 4; s++)
            if (out[s] < out[slot])
                slot = s;
        if (out[slot] != 0 && !*warned) {
            log_printf("Warning: vertex with more than 4 bone influences in '%.900s'\n", name);
            *warned = true;
        }
        out[slot] = w[j];
        index[slot] = (uint8_t)j;
    }
    float sum = out[0] + out[1] + out[2] + out[3];
    for (int s = 0; s < 4; s++)
        out[s] = sum > 0 ? out[s] / sum : 0.25f;
}

static void sub3(const float *a, const float *b, float out[3])
{
    out[0] = a[0] - b[0];
    out[1] = a[1] - b[1];
    out[2] = a[2] - b[2];
}

static void cross3(const float a[3], const float b[3], float out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

static float dot3(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

static void compute_tangents(Mesh *m)
{
    const float tiny = 1.0f / (1 << 20);
    m->tangents = (float *)xcalloc((size_t)m->nv * 3 + 1, sizeof(float));
    for (int t = 0; t < m->nt; t++) {
        const int *tri = &m->triangles[t * 3];
        const float *p0 = &m->positions[tri[0] * 3], *p1 = &m->positions[tri[1] * 3], *p2 = &m->positions[tri[2] * 3];
        const float *t0 = &m->texcoords[tri[0] * 2], *t1 = &m->texcoords[tri[1] * 2], *t2 = &m->texcoords[tri[2] * 2];
        float e1[3], e2[3], tangent[3];
        sub3(p1, p0, e1);
        sub3(p2, p0, e2);
        float du1 = t1[0] - t0[0], dv1 = t1[1] - t0[1], du2 = t2[0] - t0[0], dv2 = t2[1] - t0[1];
        float det = du1 * dv2 - du2 * dv1;
        if (fabsf(det) >= tiny) {
            for (int i = 0; i < 3; i++)
                tangent[i] = (e1[i] * dv2 - e2[i] * dv1) / det;
            // The programs take the bitangent as n x t, pointing up the image, against the
            // stored (flipped) v. Where the texture is mirrored the tangent turns round.
            float bitangent[3], n[3], nt[3];
            for (int i = 0; i < 3; i++)
                bitangent[i] = (e2[i] * du1 - e1[i] * du2) / det;
            cross3(e1, e2, n);
            cross3(n, tangent, nt);
            if (dot3(nt, bitangent) > 0)
                for (int i = 0; i < 3; i++)
                    tangent[i] = -tangent[i];
        } else {
            const float *e = dot3(e1, e1) >= dot3(e2, e2) ? e1 : e2;
            for (int i = 0; i < 3; i++)
                tangent[i] = e[i] * tiny;
        }
        for (int k = 0; k < 3; k++)
            for (int i = 0; i < 3; i++)
                m->tangents[tri[k] * 3 + i] += tangent[i];
    }
    for (int v = 0; v < m->nv; v++) {
        float *t = &m->tangents[v * 3];
        float len = sqrtf(dot3(t, t));
        if (len > 0 && isfinite(len)) {
            t[0] /= len;
            t[1] /= len;
            t[2] /= len;
        } else {
            t[0] = t[1] = 0;
            t[2] = 1;
        }
    }
}

// Removes triangles with (almost) no area; returns how many.
static int drop_flat_triangles(Mesh *m)
{
    const float limit = 8.271806e-25f;
    int kept = 0;
    for (int t = 0; t < m->nt; t++) {
        const int *tri = &m->triangles[t * 3];
        float e1[3], e2[3], c[3];
        sub3(&m->positions[tri[1] * 3], &m->positions[tri[0] * 3], e1);
        sub3(&m->positions[tri[2] * 3], &m->positions[tri[0] * 3], e2);
        cross3(e1, e2, c);
        if (!(dot3(c, c) >= limit))
            continue;
        memmove(&m->triangles[kept * 3], tri, 3 * sizeof(int));
        kept++;
    }
    int dropped = m->nt - kept;
    m->nt = kept;
    return dropped;
}

// Reads one mesh after its header; false when a number is missing or wrong.
static bool read_mesh_body(DataFile *f, Mesh *m, int bones, const char *name, int *dropped)
{
    int nv = m->nv, nt = m->nt;
    m->nv = m->nt = 0;
    int vcap = 0, tcap = 0;
    bool warned = false;
    float w[MODEL_MAX_BONES];
    for (int v = 0; v < nv; v++) {
        int cap = vcap;
        m->positions = (float *)grow(m->positions, &cap, v, 3, sizeof(float));
        cap = vcap;
        m->normals = (float *)grow(m->normals, &cap, v, 3, sizeof(float));
        cap = vcap;
        m->texcoords = (float *)grow(m->texcoords, &cap, v, 2, sizeof(float));
        if (bones > 0) {
            cap = vcap;
            m->weights = (float *)grow(m->weights, &cap, v, 4, sizeof(float));
            cap = vcap;
            m->bones = (uint8_t *)grow(m->bones, &cap, v, 4, 1);
        }
        vcap = cap;
        if (!read_floats(f, &m->positions[v * 3], 3) || !read_floats(f, &m->normals[v * 3], 3) ||
            !read_floats(f, &m->texcoords[v * 2], 2) || !read_floats(f, w, bones))
            return false;
        m->texcoords[v * 2 + 1] = 1 - m->texcoords[v * 2 + 1];
        if (bones > 0)
            reduce_weights(w, bones, &m->weights[v * 4], &m->bones[v * 4], &warned, name);
        m->nv = v + 1;
    }
    int kept = 0;
    for (int t = 0; t < nt; t++) {
        int tri[3];
        if (data_scanf(f, "%d %d %d", &tri[0], &tri[1], &tri[2]) != 3)
            return false;
        bool inside = true;
        for (int k = 0; k < 3; k++)
            inside = inside && tri[k] >= 0 && tri[k] < nv;
        if (!inside) {
            (*dropped)++;
            continue;
        }
        m->triangles = (int *)grow(m->triangles, &tcap, kept, 3, sizeof(int));
        memcpy(&m->triangles[kept * 3], tri, sizeof tri);
        m->nt = ++kept;
    }
    if (!m->positions) {            // no vertices: keep the arrays non-null for the drawers
        m->positions = (float *)xcalloc(3, sizeof(float));
        m->normals = (float *)xcalloc(3, sizeof(float));
        m->texcoords = (float *)xcalloc(2, sizeof(float));
    }
    if (!m->triangles)
        m->triangles = (int *)xcalloc(3, sizeof(int));
    compute_tangents(m);
    *dropped += drop_flat_triangles(m);
    m->bone_count = bones;
    if (bones > 0) {
        if (!m->weights) {
            m->weights = (float *)xcalloc(4, sizeof(float));
            m->bones = (uint8_t *)xcalloc(4, 1);
        }
        m->skinned_positions = (float *)xmalloc(((size_t)m->nv * 3 + 1) * sizeof(float));
        m->skinned_normals = (float *)xmalloc(((size_t)m->nv * 3 + 1) * sizeof(float));
        memcpy(m->skinned_positions, m->positions, (size_t)m->nv * 3 * sizeof(float));
        memcpy(m->skinned_normals, m->normals, (size_t)m->nv * 3 * sizeof(float));
    }
    return true;
}

static void compute_densities(Model *model)
{
    for (const Mesh *m = model->meshes; m; m = m->next) {
        for (int t = 0; t < m->nt; t++) {
            for (int k = 0; k < 3; k++) {
                int a = m->triangles[t * 3 + k], b = m->triangles[t * 3 + (k + 1) % 3];
                float e[3];
                sub3(&m->positions[b * 3], &m->positions[a * 3], e);
                float len = sqrtf(dot3(e, e));
                if (!(len >= 0.0625f))
                    continue;
                float du = fabsf(m->texcoords[b * 2] - m->texcoords[a * 2]) / len;
                float dv = fabsf(m->texcoords[b * 2 + 1] - m->texcoords[a * 2 + 1]) / len;
                if (du > model->density_u)
                    model->density_u = du;
                if (dv > model->density_v)
                    model->density_v = dv;
            }
        }
        model->triangles += m->nt;
        model->vertices += m->nv;
    }
}

static void skip_space(DataFile *f)
{
    int c;
    while ((c = data_peekc(f)) == ' ' || c == '\t' || c == '\n' || c == '\r')
        data_getc(f);
}

Model *model_read(DataFile *f, const char *name)
{
    if (!f)
        return nullptr;
    Model *model = (Model *)xcalloc(1, sizeof(Model));
    model->name = xstrdup(name);
    Mesh **tail = &model->meshes;
    int dropped = 0;
    int version = 0, bones = 0;
    const char *why = nullptr;
    skip_space(f);
    if (data_peekc(f) == 'J') {
        if (data_scanf(f, "JM%d", &version) != 1 || (version != 1 && version != 2))
            why = "unknown version";
        else if (version == 2) {
            char word[1024];
            if (data_scanf(f, "%d %1023s", &bones, word) != 2)
                why = "bad bone line";
            else if (bones < 0 || bones > MODEL_MAX_BONES)
                why = "too many bones";
        }
        for (int i = 0; !why; i++) {
            float h[5];
            int nv, nt;
            int got = data_scanf(f, "%f %f %f %f %f %d %d", &h[0], &h[1], &h[2], &h[3], &h[4], &nv, &nt);
            if (got != 7) {
                if (i == 0)
                    why = "no mesh";
                break;
            }
            if (nv < 0 || nv > MODEL_MAX_COUNT || nt < 0 || nt > MODEL_MAX_COUNT) {
                why = "bad vertex or triangle count";
                break;
            }
            bool finite = true;
            for (float x : h)
                finite = finite && isfinite(x);
            if (!finite) {
                why = "bad number";
                break;
            }
            Mesh *m = (Mesh *)xcalloc(1, sizeof(Mesh));
            *tail = m;
            tail = &m->next;
            m->shininess = h[0];
            m->reflectivity = h[0] < 0 ? h[1] : 1;
            m->colour[0] = h[2];
            m->colour[1] = h[3];
            m->colour[2] = h[4];
            m->colour[3] = h[1];
            m->nv = nv;
            m->nt = nt;
            if (!read_mesh_body(f, m, bones, name, &dropped))
                why = "missing number";
        }
    } else {
        int nv, nt;
        Mesh *m = (Mesh *)xcalloc(1, sizeof(Mesh));
        *tail = m;
        m->shininess = 32;
        m->reflectivity = 1;
        for (float &c : m->colour)
            c = 1;
        if (data_scanf(f, "%d %d", &nv, &nt) != 2)
            why = "no header";
        else if (nv < 0 || nv > MODEL_MAX_COUNT || nt < 0 || nt > MODEL_MAX_COUNT)
            why = "bad vertex or triangle count";
        else {
            m->nv = nv;
            m->nt = nt;
            if (!read_mesh_body(f, m, 0, name, &dropped))
                why = "missing number";
        }
    }
    if (why) {
        log_printf("Error reading model '%.900s': %s\n", name, why);
        model_free(model);
        return nullptr;
    }
    model->bone_count = bones;
    if (dropped > 0)
        log_printf("%d degenerate triangles deleted in %.100s\n", dropped, name);
    if (g_models.hooks.compile)
        for (Mesh *m = model->meshes; m; m = m->next)
            g_models.hooks.compile(m);
    compute_densities(model);
    return model;
}

Model *model_read_memory(const void *bytes, size_t n, const char *name)
{
    static const char empty = 0;
    DataFile *f = open_memory_data_file(n ? bytes : &empty, n, false);
    Model *m = model_read(f, name);
    close_data_file(f);
    return m;
}

// --- the cache ---

int model_generation(void) { return g_models.generation; }
void model_new_generation(void) { g_models.generation++; }
int model_cache_count(void) { return g_models.count; }

static Model *load_model(const char *name)
{
    DataFile *f = open_data_file(name, "rb");
    if (!f)
        return nullptr;
    Model *m = model_read(f, name);
    close_data_file(f);
    return m;
}

// Every index name "<stem>_lod<k>..." becomes a level switching in at 2^k feet.
static void attach_lods(Model *model, const char *name)
{
    const char *stem = name + 1;
    const char *dot = strrchr(stem, '.');
    if (!dot || strchr(dot, '/'))
        return;
    size_t n = (size_t)(dot - stem);
    const char *const *names = file_index_names();
    for (int i = 0; names && names[i]; i++) {
        const char *s = names[i];
        if (strncmp(s, stem, n) != 0 || strncmp(s + n, "_lod", 4) != 0)
            continue;
        char *end;
        float k = strtof(s + n + 4, &end);
        if (end == s + n + 4 || !isfinite(k))
            continue;
        char file[600];
        int len = snprintf(file, sizeof file, "@%s", s);
        if (len <= 0 || len >= (int)sizeof file)
            continue;
        if (len > 3 && strcmp(file + len - 3, ".gz") == 0)
            file[len - 3] = 0;
        Model *lod = load_model(file);
        if (!lod)
            continue;
        lod->lod_distance = exp2f(k);
        Model **at = &model->lod;
        while (*at && (*at)->lod_distance <= lod->lod_distance)
            at = &(*at)->lod;
        lod->lod = *at;
        *at = lod;
    }
}

Model *model_get(const char *name)
{
    if (!name || !name[0])
        return nullptr;
    for (int i = 0; i < g_models.count; i++) {
        if (strcmp(g_models.cache[i]->name, name) == 0) {
            g_models.cache[i]->generation = g_models.generation;
            return g_models.cache[i];
        }
    }
    for (int i = 0; i < g_models.count; i++) {
        if (strcasecmp(g_models.cache[i]->name, name) == 0) {
            log_printf("Warning: case mismatch on '%.900s'\n", name);
            g_models.cache[i]->generation = g_models.generation;
            return g_models.cache[i];
        }
    }
    Model *m = load_model(name);
    if (!m) {
        log_printf("Warning: Can't load %.900s\n", name);
        return nullptr;
    }
    if (name[0] == '@')
        attach_lods(m, name);
    if (g_models.count == g_models.capacity) {
        g_models.capacity = g_models.capacity ? g_models.capacity * 2 : 16;
        g_models.cache = (Model **)xrealloc(g_models.cache, (size_t)g_models.capacity * sizeof(Model *));
    }
    m->generation = g_models.generation;
    g_models.cache[g_models.count++] = m;
    return m;
}

void model_release_stale(bool all)
{
    int kept = 0;
    for (int i = 0; i < g_models.count; i++) {
        Model *m = g_models.cache[i];
        if (all || (m->generation != 0 && m->generation != g_models.generation)) {
            if (g_models.verbosity >= 1)
                log_printf("deleting model %.900s\n", m->name);
            model_free(m);
        } else {
            g_models.cache[kept++] = m;
        }
    }
    g_models.count = kept;
    if (all) {
        xfree(g_models.cache);
        g_models.cache = nullptr;
        g_models.capacity = 0;
    }
}

// --- levels of detail ---

void model_lod_from_detail(int detail, float *scale, float *bias)
{
    float f = (float)(detail > 100 ? 0 : detail < 0 ? 100 : 100 - detail) * 0.02f;
    if (f > 1)
        f = f * f * f;
    float t = (detail - 10) * 0.05f;
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    *scale = f;
    *bias = 50 - 50 * t;
}

void model_set_lod(float scale, float bias)
{
    g_models.lod_scale = scale;
    g_models.lod_bias = bias;
}

const Model *model_choose_lod(const Model *m, float d2)
{
    if (!m)
        return nullptr;
    float f = g_models.lod_scale, b = g_models.lod_bias;
    const Model *chosen = m;
    for (const Model *l = m->lod; l; l = l->lod) {
        float e = l->lod_distance - b;
        if (!(e <= 0 || e * e <= d2 * f * f))
            break;
        chosen = l;
    }
    return chosen;
}

// --- skinning ---

void skin_vertex(const Mesh *mesh, int v, const BonePose *palette, int count, float pos[3], float normal[3])
{
    const float *p = &mesh->positions[v * 3], *n = &mesh->normals[v * 3];
    float sp[3] = { 0, 0, 0 }, sn[3] = { 0, 0, 0 }, total = 0;
    for (int s = 0; s < 4 && mesh->weights; s++) {
        int b = mesh->bones[v * 4 + s];
        float w = mesh->weights[v * 4 + s];
        if (b >= count || w == 0)
            continue;
        const BonePose &bone = palette[b];
        const float *r = bone.rotation;
        float d[3];
        sub3(p, bone.centre, d);
        for (int i = 0; i < 3; i++) {
            sp[i] += w * (r[i] * d[0] + r[3 + i] * d[1] + r[6 + i] * d[2] + bone.translation[i]);
            sn[i] += w * (r[i] * n[0] + r[3 + i] * n[1] + r[6 + i] * n[2]);
        }
        total += w;
    }
    if (!(total > 0)) {
        memcpy(pos, p, 3 * sizeof(float));
        memcpy(normal, n, 3 * sizeof(float));
        return;
    }
    for (int i = 0; i < 3; i++) {
        pos[i] = sp[i] / total;
        normal[i] = sn[i] / total;
    }
}

void skin_mesh(Mesh *mesh, const BonePose *palette, int count)
{
    if (!mesh->skinned_positions)
        return;
    for (int v = 0; v < mesh->nv; v++)
        skin_vertex(mesh, v, palette, count, &mesh->skinned_positions[v * 3], &mesh->skinned_normals[v * 3]);
}

// --- mesh2 text ---

static bool export_mesh(const Mesh *m, DataFile *out)
{
    bool ok = data_puts(out, "mesh2 {\n") >= 0;
    const char *titles[2] = { "\tvertex_vectors {\n", "\tnormal_vectors {\n" };
    const float *arrays[2] = { m->positions, m->normals };
    for (int a = 0; a < 2; a++) {
        ok = ok && data_puts(out, titles[a]) >= 0 && data_printf(out, "\t\t%d\n", m->nv) >= 0;
        for (int v = 0; v < m->nv && ok; v++) {
            const float *p = &arrays[a][v * 3];
            ok = data_printf(out, "\t\t<%f,%f,%f>%s\n", p[0], p[1], p[2], v + 1 < m->nv ? "," : "") >= 0;
        }
        ok = ok && data_puts(out, "\t}\n") >= 0;
    }
    ok = ok && data_puts(out, "\tuv_vectors {\n") >= 0 && data_printf(out, "\t\t%d\n", m->nv) >= 0;
    for (int v = 0; v < m->nv && ok; v++)
        ok = data_printf(out, "\t\t<%f,%f>%s\n", m->texcoords[v * 2], m->texcoords[v * 2 + 1], v + 1 < m->nv ? "," : "") >= 0;
    ok = ok && data_puts(out, "\t}\n") >= 0;
    ok = ok && data_puts(out, "\tface_indices {\n") >= 0 && data_printf(out, "\t\t%d\n", m->nt) >= 0;
    for (int t = 0; t < m->nt && ok; t++) {
        const int *tri = &m->triangles[t * 3];
        ok = data_printf(out, "\t\t<%d,%d,%d>%s\n", tri[0], tri[1], tri[2], t + 1 < m->nt ? "," : "") >= 0;
    }
    return ok && data_puts(out, "\t}\n") >= 0 && data_puts(out, "}\n") >= 0;
}

bool model_export_pov(const Model *m, DataFile *out)
{
    if (!m || !out)
        return false;
    bool several = m->meshes && m->meshes->next;
    bool ok = !several || data_puts(out, "union {\n") >= 0;
    for (const Mesh *mesh = m->meshes; mesh && ok; mesh = mesh->next)
        ok = export_mesh(mesh, out);
    return ok && (!several || data_puts(out, "}\n") >= 0);
}
