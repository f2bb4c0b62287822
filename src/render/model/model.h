// Text models (".jm", gzip allowed through the file layer): chains of meshes with one material
// each, optionally skinned to a palette of at most 32 bones, with distance levels of detail
// from "_lod<k>" sibling files. Reading, the cache, the choice of detail, CPU skinning and the
// mesh2 text export need no GL context; the renderer installs hooks that compile and delete
// display lists (model_set_gpu_hooks).
#pragma once
#include <stddef.h>
#include <stdint.h>

struct DataFile;

enum {
    MODEL_MAX_BONES = 32,
    MODEL_MAX_COUNT = 4000000,      // vertices or triangles of one mesh
};

// Material modes by shininess.
enum { MESH_ORDINARY, MESH_REFLECTIVE, MESH_SELF_LIT };

struct Mesh {
    float shininess;                // s; -1 reflective (environment-mapped), -2 self-lit
    float reflectivity;             // k; 1 unless s < 0
    float colour[4];                // r, g, b and alpha (or reflectivity)
    int nv, nt;
    float *positions, *normals;     // 3 per vertex
    float *texcoords;               // 2 per vertex, v flipped from the file's
    float *tangents;                // 3 per vertex, unit
    float *weights;                 // 4 per vertex, summing to 1; null when rigid
    uint8_t *bones;                 // 4 per vertex
    float *skinned_positions, *skinned_normals;   // the CPU-skinned copies; null when rigid
    int *triangles;                 // 3 per triangle
    int bone_count;                 // of the file; 0 rigid
    unsigned display_list;          // 0: drawn directly
    Mesh *next;
};

struct Model {
    char *name;
    Mesh *meshes;
    int bone_count;
    int generation;                 // the cache generation it was last used in
    float density_u, density_v;     // the largest |du| and |dv| per foot over edges >= 1/16 ft
    int triangles, vertices;        // totals over the meshes
    Model *lod;                     // the next coarser level, or null
    float lod_distance;             // where this level switches in (ft); 0 for the model itself
};

// What the renderer does with a freshly read mesh and before one is freed; both may be null.
struct ModelGpuHooks {
    void (*compile)(Mesh *mesh);
    void (*release)(Mesh *mesh);
};
void model_set_gpu_hooks(const ModelGpuHooks *hooks);   // null: none

// Reads a model from a stream; name is for messages and the model's own. Null (after a log
// line) when the header, a count or any number is missing, wrong or not finite.
Model *model_read(DataFile *f, const char *name);
Model *model_read_memory(const void *bytes, size_t n, const char *name);
void   model_free(Model *m);        // with its levels of detail; null is allowed

int  mesh_mode(const Mesh *mesh);   // MESH_ORDINARY, MESH_REFLECTIVE or MESH_SELF_LIT

// --- the cache ---
// The cached model of that name (exact, else ignoring letter case, with a warning), or a newly
// read one with its "_lod" siblings when the name begins with "@". Null when it cannot be read.
Model *model_get(const char *name);
void   model_new_generation(void);  // a new track session: what it does not ask for goes stale
int    model_generation(void);
// Deletes every model not used in the current generation; with all, every model and the cache.
void   model_release_stale(bool all);
int    model_cache_count(void);
void   model_set_verbosity(int level);   // 1 or more logs each deleted model

// --- levels of detail ---
// The scale f and bias b from the "Model Geometric Detail" setting (0..100).
void  model_lod_from_detail(int detail, float *scale, float *bias);
// The settings every choice uses; the command line may replace the detail's (scale clamped to
// 1e-6..1e6).
void  model_set_lod(float scale, float bias);
// The level drawn at squared distance d2 from the camera.
const Model *model_choose_lod(const Model *m, float d2);

// --- skinning ---
// Bone palette entry: v' = rotation (column-major 3x3) * (v - centre) + translation.
struct BonePose {
    float centre[3], translation[3], rotation[9];
};
// Skins one vertex's position and normal with the palette of count bones; an index at or above
// count takes no part and the other weights are scaled up to sum to 1 (none left: unmoved).
void skin_vertex(const Mesh *mesh, int vertex, const BonePose *palette, int count, float pos[3], float normal[3]);
// Fills the mesh's skinned copies from the palette.
void skin_mesh(Mesh *mesh, const BonePose *palette, int count);

// Writes the model as mesh2 text (several meshes in a union); false when a write failed.
bool model_export_pov(const Model *m, DataFile *out);
