// Drawing models: display lists where they can be kept, CPU skinning when no programs run,
// vertex arrays or immediate mode, the material modes, and the levels of detail by distance.
#pragma once

struct Model;
struct BonePose;

// Installs the compile and release hooks of the model reader. shaders: the programs are in use
// (skinned meshes are compiled too and skinned by them); vertex_arrays: false for
// "--novertexarrays".
void model_draw_init(bool shaders, bool vertex_arrays);
void models_delete_all(void);       // every cached model with its display lists
void model_set_camera(float x, float y, float z);

// Draws the non-reflective meshes of the level chosen for a model at world position `at`,
// skinned with the palette of `bones` entries (0: rigid). The current program, if any, gets the
// palette.
void model_draw(const Model *m, const float at[3], int bones, const BonePose *palette);
// Draws the environment-mapped meshes (lighting off, the environment texture bound by the
// caller): colour (r, g, b) with the mesh's reflectivity as alpha.
void model_draw_reflective(const Model *m, const float at[3], int bones, const BonePose *palette);

// Triangles and vertices drawn since the last reset.
void model_stats(long *triangles, long *vertices);
void model_reset_stats(void);
