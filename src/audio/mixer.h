// The software mixer: voices of unsigned 8-bit mono samples (128 is silence), each with its own
// playback rate, volume, pan and loop flag, mixed with integer arithmetic into unsigned 8-bit
// output, mono or interleaved stereo. The live output and the readback device both mix here
// (audio/sound.h chooses and drives them). Every operation takes the mixer lock, so a voice
// never changes in the middle of a fragment. Voice ids are 0..MIXER_VOICES-1; -1 means none.
#pragma once
#include <stdint.h>

enum {
    MIXER_VOICES = 1024,
    MIXER_LEVELS = 32,
    MIXER_MAX_LENGTH = 1 << 28,     // bytes in one voice's buffer
};

// Starts mixing at rate Hz into stereo or mono output; at most channels voices are audible on
// each side in a fragment (the rest advance silently). False when already open.
bool mixer_open(int rate, bool stereo, int channels);
void mixer_close(void);             // frees every voice and buffer
bool mixer_is_open(void);
int  mixer_rate(void);              // 0 when closed
bool mixer_stereo(void);

// Makes room for fragments of this many samples now, so that mixing them never allocates.
void mixer_reserve(int samples);
// Mixes one fragment of samples into out: samples bytes, or 2 x samples interleaved (left
// first) on a stereo output. Silence when closed.
void mixer_mix(uint8_t *out, int samples);

// What a sample adds to the accumulator at a level (0..31): 0 for level 0 and for samples
// 127..129; otherwise (d - 1) x level / 32 towards zero, d the distance from 128.
int  mixer_level_contribution(int level, int sample);

// A new voice holding length bytes of data (silence when data is null), stopped, at volume
// 32,767, pan 0, not looping. A source rate other than 0 resamples the data to the mixer rate
// (nearest sample). -1 when closed, for a length below 1 or a result above MIXER_MAX_LENGTH,
// or when every voice is taken.
int  mixer_create_voice(int length, const uint8_t *data, int source_rate);
// A stopped voice sharing the buffer, with the same rate, volume and pan; -1 on failure.
int  mixer_duplicate_voice(int voice);
void mixer_free_voice(int voice);   // the buffer goes with the last voice that shares it
void mixer_play(int voice);         // from the start; a playing voice restarts at a zero crossing
void mixer_stop(int voice);         // it leaves the mix at the next fragment
void mixer_set_rate(int voice, int hz);         // below 0 counts as 0
void mixer_set_volume(int voice, int volume);   // clamped to 0..32,767
void mixer_set_pan(int voice, int pan);         // clamped to -32,768..32,767
void mixer_set_loop(int voice, bool on);
int  mixer_play_position(int voice);            // byte offset while playing, else 0
// Copies count bytes into the buffer at position, wrapping at its end; of more than one
// buffer length only the last buffer length is copied, where it would have landed.
void mixer_write_voice(int voice, int count, const uint8_t *data, int position);

int  mixer_voice_length(int voice);             // bytes; 0 for no voice
// The voice's playback rate, volume and pan as set; false for no voice.
bool mixer_voice_settings(int voice, int *rate, int *volume, int *pan);
int  mixer_buffer_count(void);                  // sample buffers held (a shared one once)
