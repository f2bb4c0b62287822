// The software mixer.
#include "audio/mixer.h"

#include <string.h>

#include <mutex>

#include "common/mem.h"
#include "platform/log.h"

enum { k_sides = 2 };
static const uint32_t k_fraction_mask = 0x7fffffffu;   // the position's 31-bit fraction

struct MixBuffer {
    uint8_t *data;
    int length;
    int refs;                       // voices sharing it; 0: free
};

struct MixVoice {
    bool used;
    int buffer;
    int mixer_rate, rate;           // Hz
    uint32_t step, step_fraction;   // rate / mixer rate: whole bytes and a 31-bit fraction
    int volume, pan;
    int level[k_sides];             // from volume and pan
    int in_force[k_sides];          // what the mix uses until the next zero crossing
    int listed[k_sides];            // the level list the voice is in
    uint32_t position, fraction;
    bool looping, playing, restart, ended;
    bool audible[k_sides];          // this fragment
    int prev[k_sides], next[k_sides];
};

static struct {
    bool open;
    int rate;
    bool stereo;
    int channels;
    int table[MIXER_LEVELS][256];
    MixBuffer buffers[MIXER_VOICES];
    MixVoice voices[MIXER_VOICES];
    int head[k_sides][MIXER_LEVELS], tail[k_sides][MIXER_LEVELS];
    int32_t *accumulator[k_sides];
    int accumulator_samples;
    std::recursive_mutex lock;
} g_mix;

int mixer_level_contribution(int level, int sample)
{
    if (level <= 0 || level >= MIXER_LEVELS || sample < 0 || sample > 255)
        return 0;
    int d = sample - 128;
    if (d > 1)
        return (d - 1) * level / 32;
    if (d < -1)
        return -((-d - 1) * level / 32);
    return 0;
}

// ---- level lists: one per side and level, in the order voices joined them

static void list_remove(int id, int side)
{
    MixVoice &v = g_mix.voices[id];
    int level = v.listed[side];
    if (v.prev[side] >= 0)
        g_mix.voices[v.prev[side]].next[side] = v.next[side];
    else
        g_mix.head[side][level] = v.next[side];
    if (v.next[side] >= 0)
        g_mix.voices[v.next[side]].prev[side] = v.prev[side];
    else
        g_mix.tail[side][level] = v.prev[side];
    v.prev[side] = v.next[side] = -1;
}

static void list_append(int id, int side, int level)
{
    MixVoice &v = g_mix.voices[id];
    v.listed[side] = level;
    v.next[side] = -1;
    v.prev[side] = g_mix.tail[side][level];
    if (v.prev[side] >= 0)
        g_mix.voices[v.prev[side]].next[side] = id;
    else
        g_mix.head[side][level] = id;
    g_mix.tail[side][level] = id;
}

static void take_out_of_mix(int id)
{
    MixVoice &v = g_mix.voices[id];
    if (!v.playing)
        return;
    for (int side = 0; side < k_sides; side++)
        list_remove(id, side);
    v.playing = v.restart = v.ended = false;
}

// ---- voices

static MixVoice *voice_at(int id)
{
    if (!g_mix.open || id < 0 || id >= MIXER_VOICES || !g_mix.voices[id].used)
        return nullptr;
    return &g_mix.voices[id];
}

static void derive_levels(MixVoice *v)
{
    // A mono output hears the whole voice on its one side.
    int pan = g_mix.stereo ? v->pan : -32768;
    v->level[0] = (int)(((int64_t)(32767 - pan) * v->volume) >> 26);
    v->level[1] = (int)(((int64_t)v->volume * (pan + 32768)) >> 26);
}

static void derive_step(MixVoice *v)
{
    uint32_t rate = (uint32_t)(v->rate > 0 ? v->rate : 0), base = (uint32_t)v->mixer_rate;
    v->step = rate / base;
    v->step_fraction = (uint32_t)(((uint64_t)(rate % base) << 31) / base);
}

static int take_voice(int buffer)
{
    for (int id = 0; id < MIXER_VOICES; id++) {
        MixVoice &v = g_mix.voices[id];
        if (v.used)
            continue;
        memset(&v, 0, sizeof v);
        v.used = true;
        v.buffer = buffer;
        v.mixer_rate = v.rate = g_mix.rate;
        v.volume = 32767;
        for (int side = 0; side < k_sides; side++)
            v.prev[side] = v.next[side] = -1;
        derive_levels(&v);
        derive_step(&v);
        g_mix.buffers[buffer].refs++;
        return id;
    }
    return -1;
}

// The samples are made outside the lock: running out of memory here closes the device, which
// waits for the mixer's thread, which may be waiting for the lock.
int mixer_create_voice(int length, const uint8_t *data, int source_rate)
{
    int rate = mixer_rate();
    if (rate <= 0 || length < 1)
        return -1;
    int64_t stored = length;
    bool resample = source_rate > 0 && source_rate != rate;
    if (resample)
        stored = (int64_t)length * rate / source_rate;
    if (stored < 1)
        stored = 1;
    if (stored > MIXER_MAX_LENGTH) {
        log_printf("Sound of %d bytes at %d Hz is too long to mix\n", length, source_rate);
        return -1;
    }
    uint8_t *bytes = (uint8_t *)xmalloc((size_t)stored);
    if (!data) {
        memset(bytes, 128, (size_t)stored);
    } else if (!resample) {
        memcpy(bytes, data, (size_t)stored);
    } else {
        for (int64_t i = 0; i < stored; i++) {
            int64_t from = (2 * i * source_rate + rate) / (2 * (int64_t)rate);
            bytes[i] = data[from < length ? from : length - 1];
        }
    }
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    int buffer = -1;
    for (int i = 0; g_mix.open && g_mix.rate == rate && i < MIXER_VOICES && buffer < 0; i++)
        if (g_mix.buffers[i].refs == 0)
            buffer = i;
    int id = buffer >= 0 ? take_voice(buffer) : -1;
    if (id < 0) {
        log_printf("No free sound voice\n");
        xfree(bytes);
        return -1;
    }
    g_mix.buffers[buffer].data = bytes;
    g_mix.buffers[buffer].length = (int)stored;
    return id;
}

int mixer_duplicate_voice(int voice)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *from = voice_at(voice);
    if (!from)
        return -1;
    int id = take_voice(from->buffer);
    if (id < 0)
        return -1;
    MixVoice &v = g_mix.voices[id];
    v.mixer_rate = from->mixer_rate;
    v.rate = from->rate;
    v.volume = from->volume;
    v.pan = from->pan;
    derive_levels(&v);
    derive_step(&v);
    return id;
}

void mixer_free_voice(int voice)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    if (!v)
        return;
    take_out_of_mix(voice);
    MixBuffer &b = g_mix.buffers[v->buffer];
    if (--b.refs == 0) {
        xfree(b.data);
        b = {};
    }
    v->used = false;
}

void mixer_play(int voice)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    if (!v)
        return;
    if (v->playing) {
        v->restart = true;
        v->ended = false;
        return;
    }
    v->position = v->fraction = 0;
    v->playing = true;
    v->restart = v->ended = false;
    for (int side = 0; side < k_sides; side++) {
        v->in_force[side] = v->level[side];
        list_append(voice, side, v->level[side]);
    }
}

void mixer_stop(int voice)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    if (v && v->playing)
        v->ended = true;
}

void mixer_set_rate(int voice, int hz)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    if (!v)
        return;
    v->rate = hz > 0 ? hz : 0;
    derive_step(v);
}

void mixer_set_volume(int voice, int volume)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    if (!v)
        return;
    v->volume = volume < 0 ? 0 : volume > 32767 ? 32767 : volume;
    derive_levels(v);
}

void mixer_set_pan(int voice, int pan)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    if (!v)
        return;
    v->pan = pan < -32768 ? -32768 : pan > 32767 ? 32767 : pan;
    derive_levels(v);
}

void mixer_set_loop(int voice, bool on)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    if (v)
        v->looping = on;
}

int mixer_play_position(int voice)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    return v && v->playing && !v->ended ? (int)v->position : 0;
}

void mixer_write_voice(int voice, int count, const uint8_t *data, int position)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    if (!v || !data || count <= 0)
        return;
    MixBuffer &b = g_mix.buffers[v->buffer];
    int64_t at = position;
    if (count > b.length) {
        at += count - b.length;
        data += count - b.length;
        count = b.length;
    }
    at = (at % b.length + b.length) % b.length;
    int first = count < b.length - (int)at ? count : b.length - (int)at;
    memcpy(b.data + at, data, (size_t)first);
    memcpy(b.data, data + first, (size_t)(count - first));
}

int mixer_voice_length(int voice)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    return v ? g_mix.buffers[v->buffer].length : 0;
}

bool mixer_voice_settings(int voice, int *rate, int *volume, int *pan)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    MixVoice *v = voice_at(voice);
    if (!v)
        return false;
    *rate = v->rate;
    *volume = v->volume;
    *pan = v->pan;
    return true;
}

int mixer_buffer_count(void)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    int n = 0;
    for (const MixBuffer &b : g_mix.buffers)
        n += b.refs > 0;
    return n;
}

// ---- mixing

// A side whose level changed waits for the voice's next zero crossing (its sample's top bit
// turning) before it takes the new level, and a restart waits likewise, so that neither
// clicks. Without a crossing in this fragment both happen at its end: a signal that never
// crosses (silence, an offset) must still follow.
static void mix_voice(MixVoice &v, int samples, int sides)
{
    const MixBuffer &b = g_mix.buffers[v.buffer];
    const uint8_t *data = b.data;
    uint32_t length = (uint32_t)b.length;
    bool wait = v.restart;
    for (int side = 0; side < sides; side++)
        wait = wait || v.in_force[side] != v.level[side];
    bool heard = false;
    for (int side = 0; side < sides; side++)
        heard = heard || v.audible[side];

    if (!heard && !wait) {
        uint64_t fraction = (uint64_t)v.fraction + (uint64_t)samples * v.step_fraction;
        uint64_t position = v.position + (uint64_t)samples * v.step + (fraction >> 31);
        v.fraction = (uint32_t)(fraction & k_fraction_mask);
        if (position >= length) {
            if (!v.looping) {
                v.ended = true;
                return;
            }
            position %= length;
        }
        v.position = (uint32_t)position;
        return;
    }

    int32_t *left = v.audible[0] ? g_mix.accumulator[0] : nullptr;
    int32_t *right = sides > 1 && v.audible[1] ? g_mix.accumulator[1] : nullptr;
    const int *table_left = g_mix.table[v.in_force[0]];
    const int *table_right = g_mix.table[v.in_force[1]];
    int top = data[v.position] & 0x80;
    uint32_t position = v.position, fraction = v.fraction;
    for (int i = 0; i < samples; i++) {
        if (wait && (data[position] & 0x80) != top) {
            wait = false;
            v.in_force[0] = v.level[0];
            v.in_force[1] = v.level[1];
            table_left = g_mix.table[v.in_force[0]];
            table_right = g_mix.table[v.in_force[1]];
            if (v.restart) {
                v.restart = false;
                position = fraction = 0;
            }
        }
        int s = data[position];
        if (left)
            left[i] += table_left[s];
        if (right)
            right[i] += table_right[s];
        fraction += v.step_fraction;
        position += v.step + (fraction >> 31);
        fraction &= k_fraction_mask;
        if (position >= length) {
            if (!v.looping) {
                v.ended = true;
                break;
            }
            position %= length;
        }
    }
    if (wait) {
        v.in_force[0] = v.level[0];
        v.in_force[1] = v.level[1];
        if (v.restart) {
            v.restart = false;
            position = fraction = 0;
        }
    }
    v.position = position;
    v.fraction = fraction;
}

void mixer_mix(uint8_t *out, int samples)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    int sides = g_mix.stereo ? 2 : 1;
    if (!g_mix.open || samples <= 0) {
        if (samples > 0)
            memset(out, 128, (size_t)samples * (g_mix.stereo ? 2 : 1));
        return;
    }
    if (samples > g_mix.accumulator_samples)
        mixer_reserve(samples);
    for (int side = 0; side < sides; side++)
        memset(g_mix.accumulator[side], 0, (size_t)samples * sizeof(int32_t));

    // Voices stopped since the last fragment leave; a side silent until now takes its level
    // at once (there is nothing to click against).
    for (int id = 0; id < MIXER_VOICES; id++) {
        MixVoice &v = g_mix.voices[id];
        if (!v.used || !v.playing)
            continue;
        if (v.ended) {
            take_out_of_mix(id);
            continue;
        }
        for (int side = 0; side < k_sides; side++) {
            if (v.in_force[side] == 0 && v.level[side] != 0) {
                v.in_force[side] = v.level[side];
                list_remove(id, side);
                list_append(id, side, v.level[side]);
            }
        }
    }

    // The loudest sides are heard, at most "sound-channels" on each side.
    int heard[k_sides] = {};
    for (int level = MIXER_LEVELS - 1; level >= 0; level--) {
        for (int side = 0; side < sides; side++) {
            for (int id = g_mix.head[side][level]; id >= 0; id = g_mix.voices[id].next[side]) {
                bool audible = level > 0 && heard[side] < g_mix.channels;
                g_mix.voices[id].audible[side] = audible;
                heard[side] += audible;
            }
        }
    }

    for (int id = 0; id < MIXER_VOICES; id++) {
        MixVoice &v = g_mix.voices[id];
        if (v.used && v.playing)
            mix_voice(v, samples, sides);
    }

    for (int id = 0; id < MIXER_VOICES; id++) {
        MixVoice &v = g_mix.voices[id];
        if (!v.used || !v.playing)
            continue;
        if (v.ended) {
            take_out_of_mix(id);
            continue;
        }
        for (int side = 0; side < k_sides; side++) {
            if (v.listed[side] != v.in_force[side]) {
                list_remove(id, side);
                list_append(id, side, v.in_force[side]);
            }
        }
    }

    for (int i = 0; i < samples; i++) {
        for (int side = 0; side < sides; side++) {
            int32_t a = g_mix.accumulator[side][i];
            *out++ = (uint8_t)(a < -127 ? 0 : a > 126 ? 255 : a + 128);
        }
    }
}

// ---- opening and closing

bool mixer_open(int rate, bool stereo, int channels)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    if (g_mix.open || rate <= 0)
        return false;
    g_mix.open = true;
    g_mix.rate = rate;
    g_mix.stereo = stereo;
    g_mix.channels = channels < 0 ? 0 : channels;
    for (int level = 0; level < MIXER_LEVELS; level++)
        for (int s = 0; s < 256; s++)
            g_mix.table[level][s] = mixer_level_contribution(level, s);
    for (int side = 0; side < k_sides; side++)
        for (int level = 0; level < MIXER_LEVELS; level++)
            g_mix.head[side][level] = g_mix.tail[side][level] = -1;
    return true;
}

void mixer_close(void)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    if (!g_mix.open)
        return;
    for (int id = 0; id < MIXER_VOICES; id++)
        if (g_mix.voices[id].used)
            mixer_free_voice(id);
    for (int side = 0; side < k_sides; side++) {
        xfree(g_mix.accumulator[side]);
        g_mix.accumulator[side] = nullptr;
    }
    g_mix.accumulator_samples = 0;
    g_mix.open = false;
    g_mix.rate = 0;
}

void mixer_reserve(int samples)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    if (samples <= g_mix.accumulator_samples)
        return;
    for (int side = 0; side < k_sides; side++)
        g_mix.accumulator[side] = (int32_t *)xrealloc(g_mix.accumulator[side], (size_t)samples * sizeof(int32_t));
    g_mix.accumulator_samples = samples;
}

bool mixer_is_open(void)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    return g_mix.open;
}

int mixer_rate(void)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    return g_mix.open ? g_mix.rate : 0;
}

bool mixer_stereo(void)
{
    std::lock_guard<std::recursive_mutex> hold(g_mix.lock);
    return g_mix.open && g_mix.stereo;
}
