// Scenery objects: billboards (camera-facing pictures: trees, banners, flaggers, roost), statues
// (placed models, solid when they have a shape) and the starting-gate pieces. The records live
// here, below the race, so that scripts move them, bikes hit them and roost rides the tic with
// no window; the renderer draws them (render/scenery_draw.h) and gives textures and models
// through the hooks below. Texture ids are plain integers, 0 none.
#pragma once
#include <stdint.h>

struct DataFile;
struct Model;
struct Image;
struct Terrain;
struct BikeState;
struct WorldSolid;

// The renderer's share: every entry may be null (skorva-sim, a server): no textures, no models,
// and objects stay invisible but solid.
struct SceneryHooks {
    unsigned (*texture_load)(const char *name);         // 0 when it cannot load
    const Model *(*model_load)(const char *name);       // null when it cannot load
    bool (*maps_wanted)(void);                          // normal and specular maps are drawn
    const Image *(*image_load)(const char *name);       // a decal's picture for the software composer
    void (*animation_restart)(unsigned texture);        // a flagger's picture was put up
    // Ground cells x0..x1, z0..z1 (inclusive) need their textures composed again (decals).
    void (*ground_changed)(int x0, int z0, int x1, int z1);
};
void scenery_set_hooks(const SceneryHooks *hooks);     // copied; null: none
const SceneryHooks *scenery_hooks(void);                // never null; absent entries are null

struct Billboard {
    float x, y, z;              // y absolute: the file's y offset plus the ground height
    float h, y_offset, aspect;  // width = h * aspect
    uint32_t key;               // depth key of the last frame
    unsigned texture;           // 0: not drawn
    uint8_t rgba[4];
    char *name;                 // texture name as written back; null for flaggers and roost
};

struct Statue {
    const Model *model;         // null: nothing drawn
    char *model_name, *texture_name, *shape_name;   // null for "null"
    unsigned texture, normal_map, specular_map;
    int shape;                  // shape id, 0 none
    float x, y, z, y_offset, angle;
    float m[9];                 // orientation, row-major: world = m * local + position
    int32_t hit_tic;            // race tic a bike last touched it; -1 none
    int bones;                  // 0: rigid; a script's pose otherwise
};

// The ground the objects stand on (heights at creation); null: height 0.
void scenery_set_ground(const Terrain *t);
const Terrain *scenery_ground(void);

// ---- billboards
// Appends one; returns its index (never fails: the array grows).
int  billboard_add(float x, float y_offset, float z, float h, float aspect, unsigned texture, const uint8_t rgba[4]);
Billboard *billboard(int index);         // null outside the array
int  billboard_count(void);
int  billboard_first_file(void);         // index of the first billboard the track's file made
void scenery_reserved_done(void);        // the roost slots and flaggers end here
// Parses the colour prefix "#rrggbb#name": true with the colour and the rest; false (white,
// the whole text) without a complete prefix.
bool billboard_colour_prefix(const char *text, uint8_t rgb[3], const char **rest);
// "[ x y z ] height aspect texture" entries until one fails to parse or holds a non-finite number.
int  billboards_load(DataFile *f);       // entries read
// The billboards made after the flaggers; false when a write failed.
bool billboards_write(DataFile *f);
bool billboards_save(const char *name);  // "Can't open 'billboards'\n" when it cannot create it

// ---- statues
// Orientation for an angle: 3.25 and above upright; above -2 pi turned about the vertical and
// tilted to the ground at (x, z); otherwise only turned.
void statue_orientation(const Terrain *t, float x, float z, float angle, float m[9]);
// Creates a statue as the statues file does (names "null" or null for none); its index.
int  statue_add(float x, float y_offset, float z, float angle, const char *model, const char *texture,
                const char *shape);
Statue *statue(int index);               // null outside the array
int  statue_count(void);
const char *statue_model(int index);     // "@name.jm" as written; null when none
// "[ x y z ] angle model texture shape" entries until one fails; entries read.
int  statues_load(DataFile *f);
bool statues_write(DataFile *f);
bool statues_save(const char *name);     // "Can't open 'statues'\n"
// Moves a statue (y above the ground, angle as in the file) and turns it anew; false for a bad
// index or one with a shape (solid things stay where the bikes met them).
bool statue_move(int index, float x, float y_offset, float z, float angle);

// ---- starting-gate pieces (objects named by the id scenery_create_gate_piece returns)
int  scenery_create_gate_piece(const char *model, const char *texture, const char *shape, float x, float y, float z,
                               float heading);
// The piece turned about its hinge by -angle x 3 pi / 16 (1 standing, 0 lying as modelled).
void scenery_gate_piece_turn(int object, float angle);
const Statue *scenery_gate_piece(int object);   // null outside
int  scenery_gate_piece_count(void);
// Whether the object's shape touches any part of the bike where both are now (a test only).
bool scenery_object_touches(int object, BikeState *bike);
// The object ids that WorldSolid::object holds: gate pieces are marked apart from statues.
bool scenery_solid_is_gate_piece(int object, int *piece);

// ---- the session's steps
// Statues into the 8 x 8 grid of lists over the field, for the bikes' gathering.
void scenery_sort_into_grid(void);
void scenery_clear_hit_marks(void);
// Lists the solid objects whose shapes can reach the bike (statues of its grid cells and the
// gate pieces) into its state; tic marks the ones it touched last.
void scenery_gather_near(BikeState *bike);
// After bike_touches_world: stamps what the bike touched with the race tic.
void scenery_mark_hits(const BikeState *bike, int32_t tic);
// Everything: billboards, statues, pieces, flaggers, roost, grid; bikes forget their lists.
void scenery_free_all(void);
