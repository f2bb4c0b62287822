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
    // (The scenery objects and the roost are simulation records: render/scenery/.)
    void (*track_map_load)(const char *name);
    int  (*cameras_load)(DataFile *f);          // the number of cameras; null: 0
    void (*cameras_free)(void);
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
