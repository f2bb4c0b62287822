// The engines' default sounds: for each bike class a sound table over engine speed and load,
// its sample files (every firing synthesised here) and the class's ".braap" definition. Each
// cell holds exactly eight firings of a steady engine at the row's rpm and the column's load,
// each firing starting at its exhaust pulse's onset, the eight together one period of the
// signal, so that the last firing runs on into the first without a step.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bike/catalogue.h"
#include "datagen.h"
#include "vfs/vfs.h"

static const double k_pi = 3.14159265358979323846;
static const float k_template_min_rpm = 1000;   // the engine sound's own floor
static const float k_loads[k_sound_columns] = { 0, 0.5f, 1 };

// How each class sounds: resonances in Hz and decays in seconds.
struct Voicing {
    const char *class_code;
    bool two_stroke;
    int rows;
    float body_hz, body_decay;      // the pulse's body: a two-stroke's bark, a four-stroke's thump
    float ring_hz, ring_decay;      // a two-stroke's expansion chamber
    float intake_hz;                // a four-stroke's intake roar, centre of its band
    float valve_hz;                 // and its valve train's ticks
    uint32_t seed;
};

static const Voicing k_voicings[] = {
    { "50", true, 5, 720, 0.004f, 2700, 0.0025f, 0, 0, 501 },
    { "125", true, 6, 480, 0.005f, 2000, 0.003f, 0, 0, 1251 },
    { "250", true, 6, 330, 0.006f, 1450, 0.0035f, 0, 0, 2501 },
    { "250f", false, 6, 190, 0.009f, 0, 0, 950, 3600, 2502 },
    { "450f", false, 6, 130, 0.012f, 0, 0, 720, 3100, 4502 },
};

static const Voicing *voicing(const char *class_code)
{
    for (const Voicing &v : k_voicings)
        if (strcmp(v.class_code, class_code) == 0)
            return &v;
    return nullptr;
}

int samples_per_firing(float rpm, bool two_stroke)
{
    return (int)lround(44100.0 * 60 / (rpm * (two_stroke ? 1.0 : 0.5)));
}

// ---- what the catalogue says about a class

static float curve_at(const float *curve, float rpm)
{
    float u = fminf(fmaxf(rpm / 500, 0), BIKE_TORQUE_POINTS - 1);
    int i = (int)u, next = i + 1 < BIKE_TORQUE_POINTS ? i + 1 : i;
    return curve[i] + (curve[next] - curve[i]) * (u - (float)i);
}

// Where the closed-throttle curve falls through zero: the speed a shut engine settles at.
static float idle_rpm(const BikeModel *m)
{
    float idle = 0;
    for (int i = 0; i + 1 < BIKE_TORQUE_POINTS; i++) {
        float a = m->closed_torque[i], b = m->closed_torque[i + 1];
        if (a > 0 && b <= 0) {
            idle = 500 * (i + a / (a - b));
            break;
        }
    }
    return idle;
}

bool engine_class_sound(const char *class_code, EngineClassSound *out)
{
    const Voicing *v = voicing(class_code);
    if (!v)
        return false;
    *out = {};
    out->class_code = v->class_code;
    out->two_stroke = v->two_stroke;
    out->rows = v->rows;
    out->idle_rpm = INFINITY;
    out->low_torque = -INFINITY;
    out->high_torque = INFINITY;
    int found = 0;
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        if (!m || strcmp(m->class_code, class_code) != 0)
            continue;
        found++;
        out->idle_rpm = fminf(out->idle_rpm, idle_rpm(m));
        out->max_rpm = fmaxf(out->max_rpm, m->shift_points[2]);
        float peak = -INFINITY;
        for (float t : m->full_torque)
            peak = fmaxf(peak, t);
        out->high_torque = fminf(out->high_torque, peak);
    }
    if (!found)
        return false;
    // Whole rpm, as the table's first row is written.
    out->idle_rpm = roundf(fmaxf(out->idle_rpm, k_template_min_rpm));
    // The weakest engine braking anywhere from idle to the rev limit: a shut throttle is
    // load 0 on every bike of the class.
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        if (!m || strcmp(m->class_code, class_code) != 0)
            continue;
        for (float rpm = out->idle_rpm; rpm <= out->max_rpm; rpm += 100)
            out->low_torque = fmaxf(out->low_torque, curve_at(m->closed_torque, rpm));
    }
    return true;
}

float engine_class_row_rpm(const EngineClassSound *c, int row)
{
    double ratio = (double)c->max_rpm / c->idle_rpm;
    return (float)lround(c->idle_rpm * pow(ratio, (double)row / (c->rows - 1)));
}

// ---- one cell

static double onset(double t)
{
    return t <= 0 ? 0 : 1 - exp(-t / 0.00012);
}

static double decaying(double t, double hz, double decay)
{
    return onset(t) * exp(-t / decay) * sin(2 * k_pi * hz * t);
}

// The pressure of one firing t seconds after its exhaust pulse opens; period is the time to
// the next firing, variation this firing's own few per cent.
static double firing_sound(const Voicing &v, double load, double t, double period, int firing, double variation)
{
    if (v.two_stroke) {
        // A sharp bark, and the expansion chamber's bright ring, a little stronger on the throttle.
        double pulse = onset(t) * exp(-t / 0.0012);
        double ring = decaying(t, v.ring_hz * (1 + 0.3 * variation), v.ring_decay);
        return variation * (pulse + 0.7 * decaying(t, v.body_hz, v.body_decay) + (0.4 + 0.15 * load) * ring);
    }
    double pulse = onset(t) * exp(-t / 0.002);
    double s = variation * (0.6 * pulse + decaying(t, v.body_hz, v.body_decay));
    // Intake roar in the second half of the cycle: band-limited noise under a smooth envelope.
    double intake_start = 0.5 * period, intake_length = fmin(0.3 * period, 0.015);
    double u = (t - intake_start) / intake_length;
    if (u > 0 && u < 1) {
        double envelope = sin(k_pi * u) * sin(k_pi * u);
        double noise = 0;
        for (int k = 0; k < 3; k++) {
            double hz = v.intake_hz * (0.7 + 0.3 * k);
            double phase = 2 * k_pi * hash01(v.seed, firing, k);
            noise += sin(2 * k_pi * hz * (t - intake_start) + phase);
        }
        s += (0.06 + 0.1 * load) * envelope * noise / 3;
    }
    // The valve train ticks twice a cycle.
    static const double k_valve_times[2] = { 0.3, 0.65 };     // of the cycle
    for (double at : k_valve_times)
        s += 0.05 * decaying(t - at * period, v.valve_hz, 0.0004);
    return s;
}

// Eight firings of a steady engine, each starting at its pulse's onset, tails wrapped round so
// the loop is one period of the signal. Peak 0.25 of full scale at load 0, 0.6 at load 1.
static void make_cell(const Voicing &v, float load, int row, int col, int16_t *out, int firing_samples)
{
    int length = k_sound_cycles * firing_samples;
    double *signal = (double *)calloc((size_t)length, sizeof(double));
    double period = (double)firing_samples / 44100;
    int tail = (int)(44100 * 0.08);     // every resonance has died away by then
    for (int k = 0; k < k_sound_cycles; k++) {
        double variation = 1 + 0.06 * (hash01(v.seed + (uint32_t)row * 97 + (uint32_t)col * 7, k, 0) - 0.5);
        // The firing's own cycle and the decay of its last sounds; whatever runs past the
        // end of the loop wraps round onto its start.
        for (int m = 0; m < firing_samples + tail; m++)
            signal[(k * firing_samples + m) % length] += firing_sound(v, load, (double)m / 44100, period, k, variation);
    }
    double mean = 0, peak = 0;
    for (int i = 0; i < length; i++)
        mean += signal[i];
    mean /= length;
    for (int i = 0; i < length; i++)
        peak = fmax(peak, fabs(signal[i] - mean));
    double scale = (0.25 + 0.35 * load) / (peak > 0 ? peak : 1);
    for (int i = 0; i < length; i++) {
        long s = lround((signal[i] - mean) * scale * 32768);
        out[i] = (int16_t)(s < -32768 ? -32768 : s > 32767 ? 32767 : s);
    }
    free(signal);
}

// ---- files

static bool write_samples(const char *path, const int16_t *samples, int n)
{
    make_parent_dirs(path);
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        return false;
    bool ok = true;
    for (int i = 0; i < n && ok; i++) {
        uint8_t bytes[2] = { (uint8_t)(samples[i] & 0xff), (uint8_t)((uint16_t)samples[i] >> 8) };
        ok = data_write(f, bytes, 2) == 2;
    }
    ok = data_flush(f) && ok;
    close_data_file(f);
    return ok;
}

void engine_sample_name(const char *class_code, int row, int col, char *out, int size)
{
    snprintf(out, (size_t)size, "sounds/%s-r%d-c%d.raw", class_code, row, col);
}

static bool write_class(const char *dir, const Voicing &v)
{
    EngineClassSound c;
    if (!engine_class_sound(v.class_code, &c))
        return false;
    char path[1100], name[256];
    snprintf(path, sizeof path, "%s/sounds/%s.table", dir, v.class_code);
    make_parent_dirs(path);
    DataFile *table = open_data_file(path, "wb");
    if (!table)
        return false;
    data_printf(table, "SOUNDTABLE %d %d\n", c.rows, k_sound_columns);
    for (int r = 0; r < c.rows; r++)
        data_printf(table, "%s%g", r ? " " : "", engine_class_row_rpm(&c, r));
    data_printf(table, "\n");
    for (int col = 0; col < k_sound_columns; col++)
        data_printf(table, "%s%g", col ? " " : "", k_loads[col]);
    data_printf(table, "\n");
    bool ok = true;
    for (int r = 0; r < c.rows && ok; r++) {
        float rpm = engine_class_row_rpm(&c, r);
        int firing = samples_per_firing(rpm, v.two_stroke);
        int16_t *samples = (int16_t *)malloc((size_t)firing * k_sound_cycles * sizeof(int16_t));
        for (int col = 0; col < k_sound_columns && ok; col++) {
            make_cell(v, k_loads[col], r, col, samples, firing);
            engine_sample_name(v.class_code, r, col, name, sizeof name);
            snprintf(path, sizeof path, "%s/%s", dir, name);
            ok = write_samples(path, samples, firing * k_sound_cycles);
            data_printf(table, "-1 %d @%s\n", k_sound_cycles, name);
        }
        free(samples);
    }
    ok = data_flush(table) && ok;
    close_data_file(table);
    if (!ok)
        return false;

    snprintf(path, sizeof path, "%s/default%s.braap", dir, v.class_code);
    DataFile *def = open_data_file(path, "wb");
    if (!def)
        return false;
    data_printf(def, "# The %s class's engine sound\n", v.class_code);
    data_printf(def, "soundtable @sounds/%s.table\n", v.class_code);
    if (v.two_stroke)
        data_printf(def, "pipe 1.75 0.3 -0.75 0 15\n");
    else
        data_printf(def, "pipe 5 0.91820717 -0.85 0 15\n");
    // Every digit of the floats: a bike at its peak is load 1 exactly, not a hair below.
    data_printf(def, "minrpm %.9g\nlowtorque %.9g\nhightorque %.9g\n", c.idle_rpm, c.low_torque, c.high_torque);
    ok = data_flush(def);
    close_data_file(def);
    return ok;
}

bool write_engine_sounds(const char *dir)
{
    for (const Voicing &v : k_voicings)
        if (!write_class(dir, v))
            return false;
    return true;
}
