// The rider's bike setup: the selected bike and rider graphics, the stability assists, the
// brakes, gearing, suspension and rider springs. The same block of "key=value" lines is
// written into "@config" and forms the whole of a setup file.
#pragma once
#include "common/items.h"

struct DataFile;

enum { SETUP_ASSIST_COUNT = 15 };

struct Setup {
    ChoiceItem bike;                // the catalogue's model names
    char name[64];                  // at most 63 characters
    char number[4];                 // at most 3 characters
    // Texture names as read or chosen (at most 1,023 characters); looked up in the
    // texture lists once they are built.
    char rider_texture[1024], head_texture[1024], bike_texture[1024], wheel_texture[1024];
    NumberItem stability;
    NumberItem leveling, roll_damping, roll_limit_angle, roll_limit_factor, steering_damping,
        steering_strength, max_steering_force, direct_steering, slow_damping_speed,
        slow_damping_factor, land_damping_falloff, land_damping_factor, full_lock_speed,
        restricted_lock_speed, restricted_lock;
    ChoiceItem arcade, front_brake, rear_brake, stop_wheelies, auto_shift, auto_dab, auto_align,
        sticky_dab, reverse_steering, lean_indicator;
    NumberItem auto_clutch_rpms, brake_torque, rear_brake_torque, max_dab_speed,
        front_sprocket_adjustment, rear_sprocket_adjustment;
    NumberItem fork_compression_adjustment, fork_slow_compression_adjustment,
        fork_rebound_adjustment, fork_slow_rebound_adjustment, fork_spring_rate_adjustment,
        fork_preload_adjustment, fork_oil_level_adjustment;
    NumberItem shock_compression_adjustment, shock_slow_compression_adjustment,
        shock_rebound_adjustment, shock_slow_rebound_adjustment, shock_spring_rate_adjustment,
        shock_preload_adjustment;
    NumberItem rider_yspring, rider_ydamping, rider_zspring, rider_zdamping,
        rider_mass_distribution;
};

// The one setup of this computer's rider; the menus edit it in place.
extern Setup g_setup;

// Every value to its default, the bike "yz250f(2017)", then the stability preset for 100.
void setup_set_defaults(void);
// The model names the "Bike" choice offers (the caller keeps the array). Until the catalogue
// sets it, the list holds only the default model. The choice keeps its name if listed,
// else falls back to the default model, else to the first name.
void setup_set_bike_list(const char *const *names, int count);

// Sets the fifteen assist values from the stability level (0..100, clamped).
void apply_stability(int level);
// Applies one key and value; false when the key is not a setup key.
bool read_setup_pair(const char *key, const char *value);
// Appends the setup lines in their fixed order and formats.
void write_setup_text(TextBuf *out);
// Writes the setup lines to a stream; false when a write failed.
bool write_setup_block(DataFile *f);

// Setup files have plain names: one holding "/" or "\", or starting with ".", gets a message
// and touches no file.
// Reads "@setups/" + name line by line ("key=value", lines without "=" skipped); then runs
// the after-read hook (texture lists, the bike of a human rider), prints "Setup updated" and
// marks the setup changed. A missing file prints "Error reading setup" and changes nothing.
bool setup_read_file(const char *name);
// Writes the whole block to "@setups/" + name, replacing the file in one step; prints
// "Setup written", or "Error writing setup" when it could not.
bool setup_write_file(const char *name);
// Called after a setup file was read; null removes it.
void setup_set_after_read_hook(void (*hook)(void));
// Whether a setup file changed the values since the flag was last cleared.
bool setup_changed(void);
void setup_clear_changed(void);
