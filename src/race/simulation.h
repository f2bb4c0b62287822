// One tic of the world, and the hooks through which the layers above the simulation (the
// renderer, sound, scripts, the editor and the driver) take part in its steps. The simulation
// calls only downward; these hooks are its only way up. Every hook may be null: the step then
// does nothing or reports "nothing there", so skorva-sim, the tests and a server run the same
// code with no window, GL or sound.
#pragma once

struct BikeState;
struct DataFile;

struct SimulationHooks {
    // Track session: the renderer's share of a load ("@<folder>/<file>" names).
    void (*lighting_load)(const char *folder);
    void (*roost_pool_create)(int chunks, float scale, float x, float z);
    void (*flaggers_load)(DataFile *f);
    void (*billboards_load)(DataFile *f);
    void (*statues_load)(DataFile *f);
    int  (*statue_count)(void);                 // null: 0
    const char *(*statue_model)(int statue);    // "@name.jm"; null when none
    void (*track_map_load)(const char *name);
    void (*scenery_sort_into_grid)(void);
    void (*scenery_clear_hit_marks)(void);
    int  (*cameras_load)(DataFile *f);          // the number of cameras; null: 0
    void (*scenery_free_all)(void);             // grids, objects, models, billboards, statues, flaggers
    void (*cameras_free)(void);
    // A starting-gate piece's scenery object; -1 when none was made (null: -1). The race keeps
    // the piece's angle (race/race_rules.h), which the object is drawn turned by.
    int  (*scenery_create_gate_piece)(const char *model, const char *texture, const char *shape, float x, float y,
                                      float z, float heading);
    // Whether a scenery object touches the bike where both are now (null: false).
    bool (*scenery_object_touches)(int object, BikeState *bike);
    unsigned long (*texture_memory_bytes)(void);    // null: 0
    void (*textures_begin_session)(void);       // a track is about to load: textures from now on are its own
    void (*textures_release_unused)(void);      // older sessions' textures, once a load is done
    int  (*terrain_rendering_method)(void);     // 1 software, 2 copy, 3 direct, 4 and 5 copy and direct lit per pixel; null: 1
    bool (*texture_listed)(const char *name);   // one of the game's own textures; null: false
    // Engine sounds of the bikes.
    void (*engine_sound_create)(int slot, BikeState *bike);
    void (*engine_sound_destroy)(int slot);
    void (*sound_release_voices)(void);
    // Track scripts.
    void (*script_run)(const char *name);
    void (*script_shutdown)(void);
    void (*script_tic)(void);                   // first step of every tic
    // The editor holds the loaded track while it is on.
    void (*editor_take_track)(void);
    void (*editor_release_track)(void);
    // Roost thrown by one bike's wheels from its contact records, in the tic's wheel step.
    void (*roost_emit)(int slot, BikeState *bike);
    // Roost particles in flight, once a tic after the bikes' control updates.
    void (*roost_move_chunks)(void);
    // A session finished loading: the driver takes its setup reference and places its cameras.
    void (*session_loaded)(void);
};

// Installs the hooks (copied; null entries stay null); null removes them all.
void simulation_set_hooks(const SimulationHooks *hooks);
// The installed hooks with every null entry answered by a stand-in that does nothing and
// returns "nothing there". Never null.
const SimulationHooks *simulation_hooks(void);

// Test hook: with forced, the tic takes the network state given here instead of the
// connection's (connected; in_race: the own slot takes part in the race).
void simulation_set_network_for_tests(bool forced, bool connected, bool in_race);

// Advances the world by one tic: scripts, replayed bikes, contacts, wheel queries, the physics
// step, erosion, robots, control updates, gate passing, roost, the starting gate, the race tic,
// demos and the time-trial ghost.
void simulation_tic(void);

// The main loop's erosion pass, once after the tics while the session's erosion rate is above
// 0: queued erode points are applied around bike (the first human-driven one, or null), the
// terrain's frozen flag lifted for the call.
void terrain_erode_around(BikeState *bike);
