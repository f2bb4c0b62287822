// Engine sound tables: recorded engine firings arranged over engine speed (rows) and load
// (columns), shared by every voice that names them and kept until shutdown. Two tables are
// built in ("default_four_stroke", "default_two_stroke"); others are "SOUNDTABLE" text files
// whose cells name raw sample files (signed 16-bit little-endian mono), each read once however
// many cells and tables name it. Table ids are small integers; -1 means none.
#pragma once
#include <stdint.h>

enum {
    SOUND_TABLE_FOUR_STROKE = 0,    // the built-in tables' ids
    SOUND_TABLE_TWO_STROKE = 1,
    SOUND_TABLE_MAX_SIDE = 64,      // rows, and columns, of a table file
    SOUND_REMAP_MAX = 4096,         // entries of one cell's remap list
    SOUND_SAMPLES_MAX = 1 << 20,    // samples of one sample file
    SOUND_BUILTIN_LENGTH = 1024,    // samples of the built-in waveform (one firing)
};

struct SoundCell {
    const float *data;              // shared with every cell naming the same file
    int length;                     // samples
    int cycles;                     // engine firings the recording holds, at least 1
    const uint32_t *remap;          // cycle indices, each below cycles; null when none
    int remap_count;
    float rpm, load;                // the row's and the column's thresholds
};

struct SoundTable {
    char *name;
    int rows, cols;
    SoundCell *cells;               // rows x cols, row-major
};

void sound_tables_init(void);               // the built-in tables, once
int  sound_table_find(const char *name);    // an already loaded table; -1 when none
// The table of that name, loaded through the file layer when not yet loaded. -1 after its
// console messages ("Error reading '%.512s'" and the cell's own) when it cannot be read:
// nothing of a failed table is kept.
int  sound_table_load(const char *name);
const SoundTable *sound_table(int id);      // null for no table
const SoundCell *sound_table_cell(const SoundTable *t, int row, int col);
int  sound_table_count(void);
int  sound_sample_file_count(void);         // sample files read so far
void sound_tables_free(void);               // everything, the built-in tables too (shutdown)
