// The file layer: search directories, data streams over plain files, gzip files and archive
// members, the file index, and whole-file replacement. Names that begin with "@" are looked up
// in the search directories (and, for reads, in the file index); any other name is a plain path.
// Writes go only to search directory 0 (the home directory).
#pragma once
#include <stddef.h>

struct DataFile;                                    // one open stream, opaque

// --- search directories ---
// The i-th search directory ending in "/"; null past the end. 0 is the home directory
// ($XDG_DATA_HOME/Skorva/ or ~/.local/share/Skorva/), then the data directory (SK_HOME, else
// the executable's directory). Built on first use.
const char *search_dir(int i);
int search_dir_count(void);
// The home directory (search directory 0 when there is one); null when neither XDG_DATA_HOME
// nor HOME is set. Without it every write fails: nothing is written into the data directory.
const char *home_dir(void);

// --- streams ---
// mode as fopen ("r", "rb", "w", "wb", "a", with "+"), optionally preceded by "~", which keeps
// an existing file's old content as "%s.~%d~" first. Null on failure (missing file, rejected
// gzip header, name too long, backup impossible).
DataFile *open_data_file(const char *name, const char *mode);
// A read stream over bytes in memory (the caller keeps them alive until closed), optionally
// gzip-compressed. Null when a gzip header is rejected.
DataFile *open_memory_data_file(const void *bytes, size_t n, bool gzip);
void   close_data_file(DataFile *f);                // null is allowed

int    data_getc(DataFile *f);                      // 0..255; -1 at the end
int    data_peekc(DataFile *f);                     // as data_getc, but the character stays; -1 at the end
size_t data_read(DataFile *f, void *buf, size_t n); // count read; 0 at the end
// Up to n-1 characters, stopping after a line feed (kept); "\r\n" is delivered as "\n".
// Null when the stream ends before any character.
char  *data_gets(DataFile *f, char *buf, int n);
// scanf over the stream: literals, white space, "%%", "*", widths, h hh l ll L q, and
// d i o u x X f e g (E G a) s c [ n. "%d" and friends saturate at the type's range.
// Callers in the game always give "%s" and "%[" a field width (e.g. "%1023s"): the stream
// cannot know the buffer's size. Returns the number of assignments; -1 when the input ends
// before the first.
int    data_scanf(DataFile *f, const char *format, ...);
int    data_read_int(DataFile *f);                  // "%d"; INT_MIN when nothing was read
void   data_skip_comments(DataFile *f);             // white space and "#" lines, repeatedly

int    data_putc(DataFile *f, int c);               // -1 on failure
int    data_puts(DataFile *f, const char *s);       // -1 on failure
size_t data_write(DataFile *f, const void *buf, size_t n);   // count written
int    data_printf(DataFile *f, const char *format, ...) __attribute__((format(printf, 2, 3)));  // -1 on failure
bool   data_flush(DataFile *f);                     // false when a write failed
// Plain (not gzip) streams only, to 0..window size; clears the push-back. False otherwise.
bool   data_seek(DataFile *f, long position);

// The whole content, xmalloc'ed and NUL-terminated; null on failure or when 16 MiB or more.
char  *file_to_string(const char *name);

// --- whole-file replacement (config, setups, results, lines, editor saves) ---
// A temporary file beside the target ("@name": in the home directory); null on failure.
DataFile *begin_replace_file(const char *name);
// Flush, fsync, close and rename over the target. False (temporary removed, old file intact)
// when any write failed or the rename failed.
bool   finish_replace_file(DataFile *f);
void   abandon_replace_file(DataFile *f);           // close and delete the temporary file

// --- files and folders ---
// "@" stands for the home directory; each expanded name at most 511 characters. One atomic
// rename that replaces the destination. False on failure.
bool   rename_data_file(const char *from, const char *to);
void   make_parent_dirs(const char *path);          // every "/"-ended prefix; failures ignored
// Asks the desktop to show the home folder. False, after a message on stderr, when there is
// no desktop (no DISPLAY/WAYLAND_DISPLAY or no xdg-open) or it refused.
bool   open_home_folder(void);

// --- file index ---
const char *const *file_index_names(void);          // distinct names, null-ended; builds the index on first call
int    file_index_find(const char *name);           // -1 when absent or not built
bool   file_index_describe(int position, char *buf, int size);   // "name -> path"; false outside the index
int    file_index_count(void);                      // entries; 0 before the build
// One entry's fields; false outside the index. Any out pointer may be null.
bool   file_index_entry(int position, const char **path, const char **name, int *offset, int *size,
                        int *precedence);

// Called once per directory walked and per archive read while the index is built.
void   vfs_set_progress_hook(void (*tick)(void));

void   vfs_shutdown(void);                          // frees search dirs and the file index
void   vfs_reset_for_tests(void);                   // forget search dirs and index so env changes take effect

// Internal between the stream and index modules.
void   file_index_free(void);
