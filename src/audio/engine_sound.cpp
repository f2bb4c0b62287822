// Engine voices: templates, definition files, synthesis and placement.
#include "audio/engine_sound.h"

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "audio/sound.h"
#include "audio/sound_table.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/drive.h"
#include "common/mem.h"
#include "common/messages.h"
#include "race/session.h"
#include "race/session_steps.h"
#include "race/world.h"
#include "vfs/vfs.h"

static const double k_samples_per_length = 77.32568794162944;  // twice 44,100 Hz over 1,140.63 ft/s
static const uint32_t k_firing = 1u << 24;                      // one firing on the cycle timer
static const int k_ring_mask = ENGINE_RING - 1;
static const float k_rate = ENGINE_RATE;
static const int k_replay_window = 128;                         // tics: a replayed state this recent
enum { k_line_max = 1024, k_name_max = 1023 };

// The pipe's defaults: a four-stroke's, and every other class's.
static const float k_pipe_four[3] = { 5, 0.91820717f, -0.85f };
static const float k_pipe_two[3] = { 1.75f, 0.3f, -0.75f };
// Every definition file starts from these taps, silent.
static const int k_file_taps[ENGINE_TAPS] = { 77, 72, 67, 62, 57, 52, 47, 42, 37, 32, 26, 21, 16, 10, 5, 0 };

static struct {
    EngineVoice voices[RIDER_SLOTS];
    EngineReader reader;
} g_engine;

// ---- templates and the pipe

static bool four_stroke_class(const char *class_code)
{
    size_t n = class_code ? strlen(class_code) : 0;
    return n == 0 || class_code[n - 1] == 'f';
}

bool set_pipe(SoundProfile *p, float length, float spread, float gain, int first, int last)
{
    if (!isfinite(length) || !isfinite(spread) || !isfinite(gain))
        return false;
    int a = first < 0 ? 0 : first > 15 ? 15 : first;
    int b = last > 15 ? 15 : last;
    if (b < a)
        return false;
    int u = b - a;
    double m = fmin(length, spread);
    for (int k = 0; k <= u; k++) {
        double along = u == 0 ? length : length - (k + ((double)k / u) * ((double)k / u)) * m / (u + 1);
        // The tap must lie inside the ring: between one sample and the whole ring back.
        double back = trunc(along * k_samples_per_length);
        back = back < 1 ? 1 : back > k_ring_mask + 1 ? k_ring_mask + 1 : back;
        p->taps[a + k].delay = ENGINE_RING - (int)back;
        p->taps[a + k].gain = u == 0 ? gain : gain / (u + 1);
    }
    return true;
}

void engine_profile_template(SoundProfile *p, const char *class_code)
{
    bool four = four_stroke_class(class_code);
    bool fifty = class_code && strcmp(class_code, "50") == 0;
    memset(p, 0, sizeof *p);
    sound_tables_init();
    p->table = four ? SOUND_TABLE_FOUR_STROKE : SOUND_TABLE_TWO_STROKE;
    p->firings_per_rev = four ? 0.5f : 1.0f;
    p->low_torque = four ? -2.5f : -3.5f;
    p->high_torque = four ? 2.5f : fifty ? 1.5f : 3.5f;
    p->min_rpm = 1000;
    const float *pipe = four ? k_pipe_four : k_pipe_two;
    set_pipe(p, pipe[0], pipe[1], pipe[2], 0, 15);
    p->bias[0] = 0;
    p->scale[0] = 1;
    p->bias_count = p->scale_count = 1;
}

// ---- definition files

// Numbers after a keyword, up to ENGINE_LIST_MAX, until one fails to parse. -1 when one of
// them is not finite: the line is not applied.
static int read_list(const char *text, float *out)
{
    int count = 0;
    while (count < ENGINE_LIST_MAX) {
        char *end = nullptr;
        double v = strtod(text, &end);
        if (end == text)
            break;
        if (!isfinite(v))
            return -1;
        out[count++] = (float)v;
        text = end;
    }
    return count;
}

static const char *after_keyword(const char *line, const char *keyword)
{
    size_t n = strlen(keyword);
    if (strncmp(line, keyword, n) != 0 || (line[n] && !isspace((unsigned char)line[n])))
        return nullptr;
    return line + n;
}

static void apply_line(SoundProfile *p, char *line)
{
    char *hash = strchr(line, '#');
    if (hash)
        *hash = 0;
    while (isspace((unsigned char)*line))
        line++;
    float pipe[3] = { k_pipe_four[0], k_pipe_four[1], k_pipe_four[2] };
    int first = 0, last = 15;
    float value;
    const char *rest;
    if (sscanf(line, "pipe %f %f %f %d %d", &pipe[0], &pipe[1], &pipe[2], &first, &last) >= 1) {
        set_pipe(p, pipe[0], pipe[1], pipe[2], first, last);
    } else if (sscanf(line, "minrpm %f", &value) == 1) {
        if (isfinite(value))
            p->min_rpm = value;
    } else if (sscanf(line, "lowtorque %f", &value) == 1) {
        if (isfinite(value))
            p->low_torque = value;
    } else if (sscanf(line, "hightorque %f", &value) == 1) {
        if (isfinite(value))
            p->high_torque = value;
    } else if ((rest = after_keyword(line, "bias"))) {
        float list[ENGINE_LIST_MAX];
        int n = read_list(rest, list);
        if (n >= 0) {
            memcpy(p->bias, list, (size_t)n * sizeof(float));
            p->bias_count = n;
        }
    } else if ((rest = after_keyword(line, "scale"))) {
        float list[ENGINE_LIST_MAX];
        int n = read_list(rest, list);
        if (n >= 0) {
            memcpy(p->scale, list, (size_t)n * sizeof(float));
            p->scale_count = n;
        }
    } else if ((rest = after_keyword(line, "soundtable"))) {
        while (isspace((unsigned char)*rest))
            rest++;
        char name[k_line_max];
        snprintf(name, sizeof name, "%s", rest);
        size_t n = strlen(name);
        while (n > 0 && isspace((unsigned char)name[n - 1]))
            name[--n] = 0;
        int table = n ? sound_table_load(name) : -1;
        if (table >= 0)
            p->table = table;
    }
}

bool engine_profile_read(SoundProfile *p, const char *name)
{
    DataFile *f = open_data_file(name, "rb");
    if (!f)
        return false;
    for (int i = 0; i < ENGINE_TAPS; i++)
        p->taps[i] = { k_file_taps[i], 0 };
    char line[k_line_max];
    while (data_gets(f, line, sizeof line))
        apply_line(p, line);
    close_data_file(f);
    return true;
}

// The name with everything from its last c (after its last "/") replaced by ".braap"; false
// when it has no c there.
static bool definition_beside(const char *name, char c, char *out, size_t size)
{
    const char *slash = strrchr(name, '/');
    const char *mark = strrchr(slash ? slash : name, c);
    if (!mark)
        return false;
    snprintf(out, size, "%.*s.braap", (int)(mark - name), name);
    return true;
}

static void apply_definition(SoundProfile *p, const char *class_code, const char *texture, const char *definition)
{
    const char *name = definition && *definition ? definition : texture;
    char file[k_name_max + 8];
    if (name && *name && strlen(name) <= k_name_max) {
        if (definition_beside(name, '.', file, sizeof file) && engine_profile_read(p, file))
            return;
        if (definition_beside(name, '-', file, sizeof file) && engine_profile_read(p, file))
            return;
    }
    static const char *const k_classes[] = { "50", "125", "250f", "250", "450f" };
    for (const char *c : k_classes) {
        if (class_code && strcmp(class_code, c) == 0) {
            snprintf(file, sizeof file, "@default%s.braap", c);
            engine_profile_read(p, file);
            return;
        }
    }
}

// ---- voices

static void reset_synthesis(EngineVoice *v)
{
    v->write_position = 0;
    v->frequency = 10;
    v->previous_rpm = 1000;
    v->timer = 0;
    v->timer_step = (uint32_t)lround(k_firing * 10.0 / k_rate);
    v->cycles = 0;
    const SoundTable *t = sound_table(v->profile.table);
    const SoundCell *first = t ? sound_table_cell(t, 0, 0) : nullptr;
    for (SampleVoice &s : v->voices)
        s = { first ? first->data : nullptr, first ? first->length : 0, 0, 0, 0 };
    v->audible_gain = 1;
    v->load = 0;
}

static void make_voice(EngineVoice *v, bool with_channel, bool with_ring, const char *class_code, const char *texture,
                       const char *definition)
{
    memset(v, 0, sizeof *v);
    v->active = true;
    v->channel = -1;
    if (with_channel) {
        v->channel = sound_create_voice(ENGINE_RING, nullptr, 0);
        if (v->channel >= 0) {
            sound_set_loop(v->channel, true);
            sound_set_volume(v->channel, 0);
            sound_play(v->channel);
        }
    }
    if (with_ring || v->channel >= 0)
        v->ring = (float *)xcalloc(ENGINE_RING, sizeof(float));
    snprintf(v->class_code, sizeof v->class_code, "%s", class_code ? class_code : "");
    engine_profile_template(&v->profile, class_code);
    apply_definition(&v->profile, class_code, texture, definition);
    reset_synthesis(v);
}

void engine_voice_make(EngineVoice *v, const char *class_code, const char *texture, const char *definition)
{
    make_voice(v, false, true, class_code, texture, definition);
}

void engine_voice_free(EngineVoice *v)
{
    if (!v->active)
        return;
    if (v->channel >= 0)
        sound_free_voice(v->channel);
    xfree(v->ring);
    memset(v, 0, sizeof *v);
    v->channel = -1;
}

bool init_engine_voice_for(int slot, const char *class_code, const char *texture, const char *definition)
{
    if (slot < 0 || slot >= RIDER_SLOTS)
        return false;
    engine_voice_free(&g_engine.voices[slot]);
    make_voice(&g_engine.voices[slot], sound_is_open(), false, class_code, texture, definition);
    return true;
}

// The bike's graphics: its slot's chosen bike texture, else its catalogue row's.
static const char *bike_texture(int slot, const BikeState *bike)
{
    const SessionSlot *s = session_slot(slot);
    if (s && s->textures[1][0])
        return s->textures[1];
    const BikeModel *m = bike ? bike_catalogue_row(bike) : nullptr;
    return m ? m->files[BIKE_FILE_BIKE_TEXTURE] : nullptr;
}

bool init_engine_voice(int slot, const BikeState *bike, const char *definition)
{
    return init_engine_voice_for(slot, bike ? bike_class(bike) : nullptr, bike_texture(slot, bike), definition);
}

EngineVoice *engine_voice(int slot)
{
    if (slot < 0 || slot >= RIDER_SLOTS || !g_engine.voices[slot].active)
        return nullptr;
    return &g_engine.voices[slot];
}

void engine_sound_create(int slot, BikeState *bike)
{
    // Without a device nobody hears it: no tables are read, no memory is taken.
    if (sound_is_open())
        init_engine_voice(slot, bike, nullptr);
}

void engine_sound_destroy(int slot)
{
    if (slot >= 0 && slot < RIDER_SLOTS)
        engine_voice_free(&g_engine.voices[slot]);
}

void engine_sounds_release(void)
{
    for (int i = 0; i < RIDER_SLOTS; i++)
        engine_voice_free(&g_engine.voices[i]);
}

void engine_voice_set_audible(int slot, float gain)
{
    EngineVoice *v = engine_voice(slot);
    if (v)
        v->audible_gain = gain;
}

bool set_voice_pipe(int slot, float length, float spread, float gain, int first, int last)
{
    EngineVoice *v = engine_voice(slot);
    return v && set_pipe(&v->profile, length, spread, gain, first, last);
}

bool pipe_command(const char *args)
{
    EngineVoice *v = engine_voice(viewed_slot());
    if (!v)
        return false;
    bool four = strcmp(v->class_code, "250f") == 0 || strcmp(v->class_code, "450f") == 0;
    const float *d = four ? k_pipe_four : k_pipe_two;
    float length = d[0], spread = d[1], gain = d[2];
    int first = 0, last = 15;
    sscanf(args ? args : "", "%f %f %f %d %d", &length, &spread, &gain, &first, &last);
    set_pipe(&v->profile, length, spread, gain, first, last);
    post_message("Pipe updated");
    return true;
}

// ---- synthesis

float engine_profile_load(const SoundProfile *p, float torque)
{
    float width = p->high_torque - p->low_torque;
    if (!(width > 0))
        return torque >= p->high_torque ? 1.0f : 0.0f;
    float load = (torque - p->low_torque) / width;
    return load > 0 ? (load < 1 ? load : 1) : 0;
}

static float weight_between(float x, float lo, float hi)
{
    if (!(hi > lo))
        return 0;
    float w = (x - lo) / (hi - lo);
    return w > 0 ? (w < 1 ? w : 1) : 0;
}

// The last row (or column) whose threshold is at most x (0 when none), and the next one up
// when x lies below it.
static float threshold(const SoundTable *t, bool rows, int i)
{
    return rows ? sound_table_cell(t, i, 0)->rpm : sound_table_cell(t, 0, i)->load;
}

static void bracket(const SoundTable *t, bool rows, float x, int *low, int *high)
{
    int count = rows ? t->rows : t->cols;
    int f = 0;
    for (int i = 0; i < count; i++)
        if (threshold(t, rows, i) <= x)
            f = i;
    *low = f;
    *high = f + 1 < count && threshold(t, rows, f + 1) > x ? f + 1 : f;
}

// A firing starts at sample j of a block of n: the four cells around the engine's speed and
// load take over, each from the start of the cycle that this firing plays.
static void firing_update(EngineVoice *v, float rpm, float load, int j, int n)
{
    const SoundProfile &p = v->profile;
    uint32_t c = v->cycles;
    int bias_count = p.bias_count > 0 ? p.bias_count : 1, scale_count = p.scale_count > 0 ? p.scale_count : 1;
    float bias = p.bias_count > 0 ? p.bias[c % bias_count] : 0;
    float scale = p.scale_count > 0 ? p.scale[c % scale_count] : 1;
    float q = ((float)j / n * (rpm - v->previous_rpm) + v->previous_rpm + bias) * scale;
    if (!(q >= p.min_rpm))
        q = p.min_rpm;
    v->cycles = c + 1;

    float frequency = p.firings_per_rev * q / 60;
    frequency = frequency > 5 ? (frequency < k_rate / 2 ? frequency : k_rate / 2) : 5;
    v->frequency = frequency;
    v->timer_step = (uint32_t)lround((double)k_firing * frequency / k_rate);

    const SoundTable *t = sound_table(p.table);
    if (!t)
        return;
    int f, r, e, e2;
    bracket(t, true, q, &f, &r);
    bracket(t, false, load, &e, &e2);
    float tw = f == r ? 1 : weight_between(q, sound_table_cell(t, f, 0)->rpm, sound_table_cell(t, r, 0)->rpm);
    float vw = e == e2 ? 1 : weight_between(load, sound_table_cell(t, 0, e)->load, sound_table_cell(t, 0, e2)->load);
    const int rows[4] = { f, r, f, r }, cols[4] = { e, e, e2, e2 };
    const float weights[4] = { (1 - tw) * (1 - vw), tw * (1 - vw), (1 - tw) * vw, tw * vw };
    for (int k = 0; k < ENGINE_SAMPLE_VOICES; k++) {
        const SoundCell *cell = sound_table_cell(t, rows[k], cols[k]);
        SampleVoice &s = v->voices[k];
        uint32_t cycle = cell->remap_count > 0 ? cell->remap[(c + 1) % (uint32_t)cell->remap_count] : c + 1;
        double per_cycle = (double)cell->length / cell->cycles;
        s.data = cell->data;
        s.length = cell->length;
        s.weight = weights[k];
        s.phase = (uint32_t)trunc((cycle % (uint32_t)cell->cycles) * per_cycle) * 1024u;
        s.step = (uint32_t)trunc(per_cycle * frequency / k_rate * 1024);
    }
}

void engine_voice_synthesize(EngineVoice *v, float rpm, float load, int n, uint8_t *out)
{
    if (!v->ring || n <= 0)
        return;
    if (n > ENGINE_BLOCK_MAX)
        n = ENGINE_BLOCK_MAX;
    if (!isfinite(rpm))
        rpm = v->profile.min_rpm;
    if (!(load >= 0))
        load = 0;
    float *ring = v->ring;
    const PipeTap *taps = v->profile.taps;
    int start = v->write_position, p = start;
    for (int j = 0; j < n; j++) {
        float s = 0;
        for (int k = 0; k < ENGINE_TAPS; k++)
            s += ring[(p + taps[k].delay) & k_ring_mask] * taps[k].gain;
        for (SampleVoice &sv : v->voices) {
            // A cycle played past the end of its cell falls silent until the next firing.
            uint32_t index = sv.phase >> 10;
            if ((int)index < sv.length) {
                s += sv.data[index] * sv.weight;
                sv.phase += sv.step;
            }
        }
        s = s < -16 ? -16 : s > 16 ? 16 : s;
        ring[p] = s;
        v->timer += v->timer_step;
        if (v->timer >= k_firing) {
            v->timer -= k_firing;
            firing_update(v, rpm, load, j, n);
        }
        p = (p + 1) & k_ring_mask;
    }
    v->previous_rpm = rpm;
    v->write_position = p;
    if (!out)
        return;
    for (int j = 0; j < n; j++) {
        float b = roundf((ring[(start + j) & k_ring_mask] + 1) * 127);
        out[j] = (uint8_t)(b < 0 ? 0 : b > 255 ? 255 : b);
    }
}

// ---- readings, muting and placement

static bool read_bike(int slot, EngineReading *out)
{
    const RiderSlot *s = rider_slot(slot);
    const BikeState *bike = s ? s->bike : nullptr;
    *out = {};
    if (!bike || !bike->built)
        return true;
    out->present = true;
    out->rpm = bike_engine_rpm(bike);
    out->torque = engine_torque(bike);
    const dReal *p = dBodyGetPosition(bike->body[BODY_FRAME]);
    const dReal *u = dBodyGetLinearVel(bike->body[BODY_FRAME]);
    out->position = v3((float)p[0], (float)p[1], (float)p[2]);
    out->velocity = v3((float)u[0], (float)u[1], (float)u[2]);
    return true;
}

void engine_voices_set_reader(EngineReader reader)
{
    g_engine.reader = reader;
}

bool engine_voice_read(int slot, EngineReading *out)
{
    *out = {};
    EngineReader reader = g_engine.reader ? g_engine.reader : read_bike;
    return reader(slot, out) && out->present;
}

bool engine_voice_muted(int slot)
{
    const RiderSlot *s = rider_slot(slot);
    EngineReading r;
    if (!s || !engine_voice_read(slot, &r))
        return true;
    if (s->kind != CONTROL_REPLAYED)
        return net_spectating() && slot != viewed_slot();
    return !replay_state_near(slot, race_tic(), k_replay_window) || !remote_rider_live(slot);
}

void listener_follow_viewed_bike(void)
{
    if (sound_listener_placed())
        return;
    const RiderSlot *s = rider_slot(viewed_slot());
    const BikeState *bike = s ? s->bike : nullptr;
    if (!bike || !bike->built)
        return;
    const dReal *p = dBodyGetPosition(bike->body[BODY_FRAME]);
    const dReal *u = dBodyGetLinearVel(bike->body[BODY_FRAME]);
    const dReal *r = dBodyGetRotation(bike->body[BODY_FRAME]);
    SoundListener l;
    l.position = v3((float)p[0], (float)p[1], (float)p[2]);
    l.velocity = v3((float)u[0], (float)u[1], (float)u[2]);
    l.side = v3((float)r[0], (float)r[4], (float)r[8]);
    sound_listener_follow(&l);
}

static void update_voice(int slot, EngineVoice *v, float master_gain, float volume, float comp_volume)
{
    EngineReading r;
    if (!engine_voice_read(slot, &r)) {
        sound_set_volume(v->channel, 0);
        return;
    }
    float x = master_gain * 0.1f * volume;
    float gain = engine_voice_muted(slot) ? 0 : slot == viewed_slot() ? x : x * 0.1f * comp_volume;
    v->load = engine_profile_load(&v->profile, r.torque);

    // The writer keeps 0.1 s ahead of the player; after the player overtook it (a long frame)
    // it catches up at once instead of waiting for the player to come round the ring again.
    int play = sound_play_position(v->channel);
    int n = ((play + ENGINE_LEAD - v->write_position) % ENGINE_RING + ENGINE_RING) % ENGINE_RING;
    if (n > 0) {
        uint8_t block[ENGINE_BLOCK_MAX];
        int start = v->write_position;
        if (n > ENGINE_BLOCK_MAX)
            n = ENGINE_BLOCK_MAX;
        engine_voice_synthesize(v, r.rpm, v->load, n, block);
        sound_write_voice(v->channel, n, block, start);
    }

    const SoundListener *l = sound_listener();
    float distance = v3_length(v3_sub(l->position, r.position));
    float rate = k_rate * sound_doppler(l, r.position, r.velocity);
    float level = gain * v->audible_gain * sound_distance_gain(distance) * 32767;
    sound_set_rate(v->channel, rate > 100 ? (int)fminf(rate, 1000000) : 100);
    sound_set_volume(v->channel, level > 0 ? (int)fminf(level, 32767) : 0);
    sound_set_pan(v->channel, sound_pan(l, r.position));
}

void update_engine_voices(float master_gain)
{
    if (!sound_is_open())
        return;
    listener_follow_viewed_bike();
    float volume, comp_volume;
    sound_volume_settings(&volume, &comp_volume);
    for (int slot = 0; slot < RIDER_SLOTS; slot++) {
        EngineVoice *v = &g_engine.voices[slot];
        if (v->active && v->channel >= 0)
            update_voice(slot, v, master_gain, volume, comp_volume);
    }
}
