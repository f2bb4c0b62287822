// Engine sound tables and their sample files.
#include "audio/sound_table.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "common/messages.h"
#include "vfs/vfs.h"

enum { k_name_max = 1023, k_read_chunk = 65536 };

struct SampleFile {
    char *name;
    float *data;
    int length;
};

static struct {
    bool built;
    SoundTable *tables;
    int table_count, table_capacity;
    SampleFile *samples;
    int sample_count, sample_capacity;
    float *builtin[2];              // four-stroke, two-stroke waveforms: full and a quarter
} g_tables;

static void *grow(void *array, int count, int *capacity, size_t size)
{
    if (count < *capacity)
        return array;
    *capacity = *capacity ? *capacity * 2 : 8;
    return xrealloc(array, (size_t)*capacity * size);
}

static void post_error(const char *format, int row, int col, const char *name)
{
    char text[700];
    if (row < 0)
        snprintf(text, sizeof text, format, name);
    else
        snprintf(text, sizeof text, format, row, col, name);
    post_message(text);
}

// ---- built-in tables

static float builtin_wave(bool four_stroke, int i)
{
    const double pi = 3.14159265358979323846;
    double d = i / 1023.0, w = 0;
    if (d < 0.25)
        w = (1 - 4 * d) * sin((four_stroke ? 16 : 8) * pi * d);
    if (four_stroke)
        w += (fabs(sin(3 * pi * d + 0.5246)) - 0.5) * 0.5;
    return (float)w;
}

static int add_table(const char *name, int rows, int cols)
{
    g_tables.tables = (SoundTable *)grow(g_tables.tables, g_tables.table_count, &g_tables.table_capacity,
                                         sizeof(SoundTable));
    SoundTable &t = g_tables.tables[g_tables.table_count];
    t.name = xstrdup(name);
    t.rows = rows;
    t.cols = cols;
    t.cells = (SoundCell *)xcalloc((size_t)rows * cols, sizeof(SoundCell));
    return g_tables.table_count++;
}

void sound_tables_init(void)
{
    if (g_tables.built)
        return;
    g_tables.built = true;
    const char *names[2] = { "default_four_stroke", "default_two_stroke" };
    for (int k = 0; k < 2; k++) {
        // Column 1 is the waveform, column 0 the same at a quarter.
        float *w = (float *)xmalloc(2 * SOUND_BUILTIN_LENGTH * sizeof(float));
        for (int i = 0; i < SOUND_BUILTIN_LENGTH; i++) {
            w[SOUND_BUILTIN_LENGTH + i] = builtin_wave(k == 0, i);
            w[i] = 0.25f * w[SOUND_BUILTIN_LENGTH + i];
        }
        g_tables.builtin[k] = w;
        int id = add_table(names[k], 1, 2);
        for (int c = 0; c < 2; c++)
            g_tables.tables[id].cells[c] = { w + c * SOUND_BUILTIN_LENGTH, SOUND_BUILTIN_LENGTH, 1, nullptr, 0, 0,
                                             (float)c };
    }
}

// ---- sample files

// Raw signed 16-bit little-endian mono, read to its end (an odd last byte is ignored). Null
// when it cannot be opened, is empty or holds more than SOUND_SAMPLES_MAX samples.
static const SampleFile *sample_file(const char *name)
{
    for (int i = 0; i < g_tables.sample_count; i++)
        if (strcmp(g_tables.samples[i].name, name) == 0)
            return &g_tables.samples[i];
    DataFile *f = open_data_file(name, "rb");
    if (!f)
        return nullptr;
    uint8_t *bytes = nullptr;
    size_t size = 0, capacity = 0;
    const size_t limit = (size_t)SOUND_SAMPLES_MAX * 2;
    bool too_long = false;
    for (;;) {
        if (size + k_read_chunk > capacity) {
            capacity = capacity ? capacity * 2 : (size_t)k_read_chunk;
            bytes = (uint8_t *)xrealloc(bytes, capacity);
        }
        size_t got = data_read(f, bytes + size, k_read_chunk);
        size += got;
        if (size > limit + 1) {
            too_long = true;
            break;
        }
        if (got == 0)
            break;
    }
    close_data_file(f);
    int length = (int)(size / 2);
    if (too_long || length == 0 || length > SOUND_SAMPLES_MAX) {
        xfree(bytes);
        return nullptr;
    }
    float *data = (float *)xmalloc((size_t)length * sizeof(float));
    for (int i = 0; i < length; i++)
        data[i] = (int16_t)(uint16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8) / 32768.0f;
    xfree(bytes);
    g_tables.samples = (SampleFile *)grow(g_tables.samples, g_tables.sample_count, &g_tables.sample_capacity,
                                          sizeof(SampleFile));
    SampleFile &s = g_tables.samples[g_tables.sample_count++];
    s = { xstrdup(name), data, length };
    return &s;
}

// ---- table files

static void discard_table(SoundTable *t)
{
    for (int i = 0; i < t->rows * t->cols; i++)
        xfree((void *)t->cells[i].remap);
    xfree(t->cells);
    xfree(t->name);
}

// One cell: its remap list ended by -1, then "%f %1023s". False after the cell's message.
static bool read_cell(DataFile *f, SoundCell *cell, int row, int col)
{
    uint32_t *remap = nullptr;
    int count = 0, capacity = 0;
    for (;;) {
        int entry;
        if (data_scanf(f, "%d", &entry) != 1) {
            xfree(remap);
            post_error("(%d, %d) Bad remap entry", row, col, "");
            return false;
        }
        if (entry == -1)
            break;
        // A list past its limit is read to its end, so the message can name the cell's file.
        if (count < SOUND_REMAP_MAX) {
            remap = (uint32_t *)grow(remap, count, &capacity, sizeof(uint32_t));
            remap[count] = (uint32_t)entry;
        }
        count++;
    }
    float cycles = 0;
    char name[k_name_max + 1] = "";
    int got = data_scanf(f, "%f %1023s", &cycles, name);
    const SampleFile *s = got == 2 ? sample_file(name) : nullptr;
    if (got != 2 || !s || !(cycles >= 1 && cycles <= (float)SOUND_SAMPLES_MAX) || count > SOUND_REMAP_MAX) {
        xfree(remap);
        post_error("(%d, %d) Error reading '%.512s'", row, col, name);
        return false;
    }
    cell->data = s->data;
    cell->length = s->length;
    cell->cycles = (int)cycles;
    for (int i = 0; i < count; i++)
        remap[i] %= (uint32_t)cell->cycles;
    cell->remap = remap;
    cell->remap_count = count;
    return true;
}

static bool read_table(DataFile *f, SoundTable *t)
{
    int rows = 0, cols = 0;
    if (data_scanf(f, " SOUNDTABLE %d %d", &rows, &cols) != 2 || rows < 1 || rows > SOUND_TABLE_MAX_SIDE ||
        cols < 1 || cols > SOUND_TABLE_MAX_SIDE)
        return false;
    t->rows = rows;
    t->cols = cols;
    t->cells = (SoundCell *)xcalloc((size_t)rows * cols, sizeof(SoundCell));
    float rpm[SOUND_TABLE_MAX_SIDE], load[SOUND_TABLE_MAX_SIDE];
    for (int r = 0; r < rows; r++)
        if (data_scanf(f, "%f", &rpm[r]) != 1 || !isfinite(rpm[r]))
            return false;
    for (int c = 0; c < cols; c++)
        if (data_scanf(f, "%f", &load[c]) != 1 || !isfinite(load[c]))
            return false;
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < cols; c++) {
            SoundCell *cell = &t->cells[r * cols + c];
            if (!read_cell(f, cell, r, c))
                return false;
            cell->rpm = rpm[r];
            cell->load = load[c];
        }
    }
    return true;
}

int sound_table_find(const char *name)
{
    sound_tables_init();
    for (int i = 0; name && i < g_tables.table_count; i++)
        if (strcmp(g_tables.tables[i].name, name) == 0)
            return i;
    return -1;
}

int sound_table_load(const char *name)
{
    int id = sound_table_find(name);
    if (id >= 0 || !name)
        return id;
    DataFile *f = open_data_file(name, "rb");
    SoundTable t = {};
    t.name = xstrdup(name);
    bool ok = f && read_table(f, &t);
    close_data_file(f);
    if (!ok) {
        discard_table(&t);
        post_error("Error reading '%.512s'", -1, 0, name);
        return -1;
    }
    g_tables.tables = (SoundTable *)grow(g_tables.tables, g_tables.table_count, &g_tables.table_capacity,
                                         sizeof(SoundTable));
    g_tables.tables[g_tables.table_count] = t;
    return g_tables.table_count++;
}

const SoundTable *sound_table(int id)
{
    return id >= 0 && id < g_tables.table_count ? &g_tables.tables[id] : nullptr;
}

const SoundCell *sound_table_cell(const SoundTable *t, int row, int col)
{
    return &t->cells[row * t->cols + col];
}

int sound_table_count(void)
{
    return g_tables.table_count;
}

int sound_sample_file_count(void)
{
    return g_tables.sample_count;
}

void sound_tables_free(void)
{
    for (int i = 0; i < g_tables.table_count; i++)
        discard_table(&g_tables.tables[i]);
    for (int i = 0; i < g_tables.sample_count; i++) {
        xfree(g_tables.samples[i].name);
        xfree(g_tables.samples[i].data);
    }
    xfree(g_tables.tables);
    xfree(g_tables.samples);
    xfree(g_tables.builtin[0]);
    xfree(g_tables.builtin[1]);
    g_tables = {};
}
