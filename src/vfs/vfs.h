// The file layer: search directories, "@" names, the file index and data streams.
#pragma once
#include <stddef.h>

struct DataFile;

const char *search_dir(int i);          // 0 home, 1 data directory; null past the last
DataFile *open_data_file(const char *name, const char *mode);   // null when it cannot be opened
void   close_data_file(DataFile *f);
int    data_getc(DataFile *f);          // EOF at the end
int    data_peekc(DataFile *f);         // EOF at the end
size_t data_read(DataFile *f, void *buf, size_t n);     // bytes read, 0 at the end
char  *data_gets(DataFile *f, char *buf, int n);        // null at the end
int    data_scanf(DataFile *f, const char *format, ...);    // items matched, EOF at the end
int    data_read_int(DataFile *f);      // 0 when no number follows
void   data_skip_comments(DataFile *f);
int    data_putc(DataFile *f, int c);   // EOF on failure
int    data_puts(DataFile *f, const char *s);   // EOF on failure
size_t data_write(DataFile *f, const void *buf, size_t n);  // bytes written
int    data_printf(DataFile *f, const char *format, ...);   // negative on failure
bool   data_flush(DataFile *f);         // false on failure
bool   data_seek(DataFile *f, long position);   // false on failure
char  *file_to_string(const char *name);    // null when unreadable; xfree the result
const char *const *file_index_names(void);  // null-terminated, builds the index on first use
int    file_index_find(const char *name);   // -1 when absent
bool   file_index_describe(int position, char *buf, int size);  // false past the end
bool   rename_data_file(const char *from, const char *to);  // false on failure
void   make_parent_dirs(const char *path);
bool   open_home_folder(void);          // false when no file browser could be started
DataFile *begin_replace_file(const char *name);     // null on failure
bool   finish_replace_file(DataFile *f);    // false: the old file is kept
void   abandon_replace_file(DataFile *f);
void   vfs_shutdown(void);
void   vfs_reset_for_tests(void);
void   vfs_set_progress_hook(void (*tick)(void));   // the index build calls it per directory/archive
