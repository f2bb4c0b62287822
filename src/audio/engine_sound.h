// Engine voices: every bike's engine sound, synthesised sample by sample from its engine speed
// and torque. Four cells of the bike's sound table are blended at each firing, the blend goes
// through a 16-tap feedback comb (the "pipe", the exhaust's resonance), and the result streams
// into one looping 8-bit mixer voice per rider slot, 0.1 s ahead of where it plays, placed by
// the bike's distance, side and speed relative to the listener. A ".braap" definition file
// chooses the table and tunes the pipe.
#pragma once
#include <stdint.h>

#include "common/vecmath.h"

struct BikeState;

enum {
    ENGINE_RING = 32768,            // samples of the synthesised history and of the mixer voice
    ENGINE_TAPS = 16,
    ENGINE_LIST_MAX = 100,          // bias and scale values
    ENGINE_SAMPLE_VOICES = 4,
    ENGINE_RATE = 44100,            // Hz of the synthesis
    ENGINE_LEAD = 4410,             // samples the writer keeps ahead of the player
    ENGINE_BLOCK_MAX = 8820,        // samples one update makes at most
};

struct PipeTap {
    int delay;                      // ring positions ahead: the tap hears ENGINE_RING - delay back
    float gain;
};

struct SoundProfile {
    int table;                      // sound table id (audio/sound_table.h)
    float firings_per_rev;
    float low_torque, high_torque;  // lbf ft mapping to load 0 and load 1
    float min_rpm;
    PipeTap taps[ENGINE_TAPS];
    float bias[ENGINE_LIST_MAX], scale[ENGINE_LIST_MAX];
    int bias_count, scale_count;    // 0: one value, 0 and 1.0
};

struct SampleVoice {
    const float *data;
    int length;
    uint32_t phase, step;           // sample index x 1,024
    float weight;
};

struct EngineVoice {
    bool active;
    int channel;                    // mixer voice; -1 without a sound device
    SoundProfile profile;
    float *ring;                    // ENGINE_RING samples; null without a channel
    int write_position;
    float frequency;                // of the firings, Hz
    float previous_rpm;
    uint32_t timer, timer_step;     // 2^24 is one firing
    uint32_t cycles;                // firings since the voice was made
    SampleVoice voices[ENGINE_SAMPLE_VOICES];
    float audible_gain;             // demo playback: 0 while the recording lacks the rider
    char class_code[16];
    float load;                     // of the latest reading
};

// One reading of a slot's engine and where it is: what the voice follows.
struct EngineReading {
    bool present;                   // a bike in the slot
    float rpm;
    float torque;                   // lbf ft at the crank
    Vec3 position, velocity;        // ft, ft/s
};
// Fills the reading of a slot; false leaves the slot silent.
typedef bool (*EngineReader)(int slot, EngineReading *out);

// ---- the session's hooks
// Creates the slot's voice for the bike (init_engine_voice with no definition name).
void engine_sound_create(int slot, BikeState *bike);
void engine_sound_destroy(int slot);
void engine_sounds_release(void);           // every slot's voice

// ---- voices
// Makes the slot's voice: the template of the class ("" or null for none: the four-stroke),
// then the definition file: the one named, else the one beside the bike's texture (its last
// "." or "-" onwards replaced by ".braap"), else the class default ("@default450f.braap"...).
// The mixer voice is made only while a sound device is open. False for a slot out of range.
bool init_engine_voice(int slot, const BikeState *bike, const char *definition);
bool init_engine_voice_for(int slot, const char *class_code, const char *texture, const char *definition);
EngineVoice *engine_voice(int slot);        // null when the slot has none
// Makes a voice record outside the slots (offline synthesis, benchmarks): no mixer voice, a
// ring of its own. Free it with engine_voice_free.
void engine_voice_make(EngineVoice *v, const char *class_code, const char *texture, const char *definition);
void engine_voice_free(EngineVoice *v);
// Applies one ".braap" file to a profile; false when it cannot be opened.
bool engine_profile_read(SoundProfile *p, const char *name);
// The template of a class ("50", "250f", ...; "" or null: the four-stroke).
void engine_profile_template(SoundProfile *p, const char *class_code);

// Synthesises n samples (at most ENGINE_BLOCK_MAX) at the voice's write position from the
// engine's rpm and load (0..1): the ring takes them and out, when not null, their 8-bit form.
void engine_voice_synthesize(EngineVoice *v, float rpm, float load, int n, uint8_t *out);
// Load for a torque: clamp((torque - low) / (high - low), 0, 1); with no width between low
// and high, 1 when torque reaches high and 0 below.
float engine_profile_load(const SoundProfile *p, float torque);

// The pipe formula: length, spread, gain, first tap, last tap. False (nothing changed) when
// the last tap is below the first or a number is not finite.
bool set_pipe(SoundProfile *p, float length, float spread, float gain, int first, int last);
bool set_voice_pipe(int slot, float length, float spread, float gain, int first, int last);
// The console's "pipe %f %f %f %d %d" on the viewed rider's voice: missing numbers take the
// class's defaults; posts "Pipe updated". False when the viewed rider has no voice.
bool pipe_command(const char *args);

// ---- each frame
// Synthesises and places every voice; master gain 1 with no menu open, 0.25 behind a menu,
// 0 while paused. Nothing without a sound device.
void update_engine_voices(float master_gain);
// The readings the voices follow: the bikes' own (null), or a test's.
void engine_voices_set_reader(EngineReader reader);
bool engine_voice_read(int slot, EngineReading *out);
void engine_voice_set_audible(int slot, float gain);    // demo playback: 1 or 0
// Whether a slot is silent: no bike, a spectator's unfollowed local rider, or a replayed rider
// without a state in the last second or no longer live by the race rules.
bool engine_voice_muted(int slot);

// The listener follows the viewed bike's frame (position, velocity, its x axis as the side
// axis) until a camera places it.
void listener_follow_viewed_bike(void);
