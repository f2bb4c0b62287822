// The world's state that every part of the simulation shares: the clocks, the 160 rider slots
// with their control kinds, the slot the player watches, this computer's control channels and
// the session seed. The driver advances the game clock and writes the channels; everything
// else is set by the simulation itself.
#pragma once
#include <stdint.h>

struct BikeState;

enum {
    RIDER_SLOTS = 160,
    NO_SLOT = 160,                  // stored wherever a slot number means "none"
    CONTROL_CHANNELS = 9,
};

enum ControlKind { CONTROL_HUMAN = 0, CONTROL_REPLAYED = 1, CONTROL_ROBOT = 2 };
enum { CHANNEL_STEER, CHANNEL_THROTTLE, CHANNEL_FRONT_BRAKE, CHANNEL_REAR_BRAKE, CHANNEL_SHIFT,
       CHANNEL_CLUTCH, CHANNEL_SIT_DAB, CHANNEL_BACK_UP, CHANNEL_LEAN };

struct RiderSlot {
    BikeState *bike;                // null: empty
    int kind;                       // ControlKind; empty slots are CONTROL_REPLAYED
};

// Time.
int    race_tic(void);
void   set_race_tic(int tic);
int    gate_drop_tic(void);
void   set_gate_drop_tic(int tic);
double game_clock(void);            // seconds of game time since start-up
void   advance_game_clock(double step);     // the frame's game-time step; nothing for step <= 0

// Slots.
RiderSlot *rider_slot(int slot);    // null when out of range
void   clear_rider_slots(void);     // forgets every bike (the caller frees them) and marks all replayed
int    viewed_slot(void);           // the slot the camera follows and the HUD reports
void   set_viewed_slot(int slot);   // out of range: unchanged

// This computer's controls: the nine channels of the current tic, rebuilt every tic from the
// bindings. A human slot's bike is driven by them.
const float *control_channels(void);
void   set_control_channels(const float values[CONTROL_CHANNELS]);

// Seed of the random generator for a new session: calendar seconds, or the seed a test set.
uint32_t session_seed(void);
void   set_session_seed_for_tests(bool fixed, uint32_t seed);

// Test hook: clocks 0, every slot empty and replayed, slot 0 viewed, channels 0, seed from
// the calendar.
void   world_reset_for_tests(void);
