// The sound device: the one way the game's sound leaves it. Three drivers stand behind one
// table of operations: the system mixer ("dsnd", which has none to offer here, so the choice
// falls through), the software mixer feeding a wave output on its own thread ("waveout"), and
// the readback device that mixes on demand for recording the game's sound to a file. Without
// an open device every operation below does nothing and answers "none".
#pragma once
#include <stdint.h>

#include "common/vecmath.h"

enum {
    SOUND_FRAGMENTS = 64,           // the software mixer's ring of fragments
    SOUND_READBACK_RATE = 88320,    // Hz of the recording
    SOUND_READBACK_BLOCK = 690,     // samples of one tic at that rate
};

// A wave output the software mixer feeds: unsigned 8-bit samples, interleaved when stereo.
// The live one is SDL's (audio/live/sdl_output.h); tests give their own.
struct WaveOutput {
    // Opens at rate with two channels or, failing that, one; gives the channels it got and a
    // device name. False after logging why ("No audio device", "Can't open waveOut: ...").
    bool (*open)(int rate, int *channels, char *device_name, int name_size);
    bool (*write)(const uint8_t *data, int bytes);  // queues one fragment
    long (*queued_bytes)(void);                     // handed over and not played yet
    void (*reset)(void);                            // drops what is queued
    void (*close)(void);
};

// The table of device operations; voices are mixer voice ids (audio/mixer.h).
struct SoundDriver {
    const char *name;                               // the option that switches it off
    bool (*open)(const WaveOutput *output);
    bool (*open_readback)(int rate, int samples_per_block);
    void (*close)(void);
    void (*update)(void);                           // once a frame, after the voices are placed
    const uint8_t *(*read_block)(void);             // readback: one block, interleaved stereo
    int  (*create_voice)(int length, const uint8_t *data, int source_rate);
    int  (*duplicate_voice)(int voice);
    void (*free_voice)(int voice);
    void (*play)(int voice);
    void (*stop)(int voice);
    void (*set_rate)(int voice, int hz);
    void (*set_volume)(int voice, int volume);
    void (*set_pan)(int voice, int pan);
    void (*set_loop)(int voice, bool on);
    int  (*play_position)(int voice);
    void (*write_voice)(int voice, int count, const uint8_t *data, int position);
};

extern const SoundDriver g_system_mixer_driver;     // "dsnd"
extern const SoundDriver g_software_mixer_driver;   // "waveout"
extern const SoundDriver g_readback_driver;

// ---- start-up, frames and shutdown
// The recording: the file (a plain path) and the readback device at rate, one block of
// samples_per_tic per tic. False (no device, nothing written) when either cannot open.
bool sound_open_capture(const char *file, int rate, int samples_per_tic);
// The readback device alone.
bool sound_open_readback(int rate, int samples_per_block);
// The live device: "dsnd" when on and it opens, else "waveout" over the output when on.
bool sound_open_device(const WaveOutput *output);
bool sound_is_open(void);
const SoundDriver *sound_driver(void);              // the open device's; null when none
// One frame: records the "volume" and "comp_volume" settings (0..10), synthesises and places
// the engine voices with the master gain, and updates the device.
void sound_mix_frame(float master_gain, float volume, float comp_volume);
const uint8_t *sound_read_block(int *bytes);        // readback only; null otherwise
void sound_capture_tic(void);                       // one block into the recording
void sound_release_voices(void);                    // every engine voice and script sound
void sound_close(void);                             // the device and the recording

float sound_master_gain(void);                      // of the latest frame
void  sound_volume_settings(float *volume, float *comp_volume);

// ---- voices through the open device
int  sound_create_voice(int length, const uint8_t *data, int source_rate);
int  sound_duplicate_voice(int voice);
void sound_free_voice(int voice);
void sound_play(int voice);
void sound_stop(int voice);
void sound_set_rate(int voice, int hz);
void sound_set_volume(int voice, int volume);
void sound_set_pan(int voice, int pan);
void sound_set_loop(int voice, bool on);
int  sound_play_position(int voice);
void sound_write_voice(int voice, int count, const uint8_t *data, int position);

// ---- where the sound is heard
struct SoundListener {
    Vec3 position, velocity;        // ft, ft/s
    Vec3 side;                      // unit axis to the listener's right
};
// The camera places the listener each frame; null hands it back to the viewed bike's frame.
void sound_set_listener(const SoundListener *listener);
bool sound_listener_placed(void);                   // by a camera
void sound_listener_follow(const SoundListener *listener);  // the viewed bike's frame
const SoundListener *sound_listener(void);

// 1 / max(1, (distance - 1) / 48 + 1): full within 1 ft, half at 49 ft.
float sound_distance_gain(float distance);
// The pitch factor of a source at pos moving at vel, heard by the listener: (1 - the
// listener's speed away from the source / c) / (1 - the source's speed towards the listener
// / c), c = 1,140.63 ft/s; 0.125 where it would pass 8 or the source reaches the speed
// of sound towards the listener; 1 within 1/32 ft.
float sound_doppler(const SoundListener *l, Vec3 pos, Vec3 vel);
// -32,767 (left) .. 32,767 (right); 0 within 1/32 ft.
int   sound_pan(const SoundListener *l, Vec3 pos);

// A track script's positional sound, placed once a frame: volume from its own volume (0..1),
// the distance, the master gain and "comp_volume"; rate from its base rate and the Doppler
// factor; pan from its side.
struct SoundPlacement {
    int volume;                     // 0..32,767
    int rate;                       // 100..1,000,000 Hz
    int pan;
};
SoundPlacement place_script_sound(const SoundListener *l, Vec3 pos, Vec3 vel, float base_rate, float volume,
                                  float master_gain, float comp_volume);
// The same with the current listener, gain and settings, applied to the voice.
void position_script_sound(int voice, Vec3 pos, Vec3 vel, float base_rate, float volume);

// Test hook: what the software mixer's thread does for each 15 ms wait (null: sleeps).
void sound_set_wait_for_tests(void (*wait)(void));
