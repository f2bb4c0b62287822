// The file layer: search directories, "@" names, the file index and the DataFile stream.
#pragma once
#include <stddef.h>

struct DataFile;
const char *search_dir(int i);
DataFile *open_data_file(const char *name, const char *mode);   // "@name" or path; mode as fopen, optional leading "~" = backup
void   close_data_file(DataFile *f);
int    data_getc(DataFile *f);                     // -1 at end
int    data_peekc(DataFile *f);
size_t data_read(DataFile *f, void *buf, size_t n);
char  *data_gets(DataFile *f, char *buf, int n);   // null at end before any character
int    data_scanf(DataFile *f, const char *format, ...);   // scanf conventions; -1 at end before first assignment; always give %s/%[ a width
int    data_read_int(DataFile *f);                 // INT_MIN when nothing read
void   data_skip_comments(DataFile *f);
int    data_putc(DataFile *f, int c);
int    data_puts(DataFile *f, const char *s);
size_t data_write(DataFile *f, const void *buf, size_t n);
int    data_printf(DataFile *f, const char *format, ...);
bool   data_flush(DataFile *f);
bool   data_seek(DataFile *f, long position);
char  *file_to_string(const char *name);
const char *const *file_index_names(void);         // distinct relative names of all data files, null-terminated
int    file_index_find(const char *name);
bool   rename_data_file(const char *from, const char *to);
void   make_parent_dirs(const char *path);
DataFile *begin_replace_file(const char *name);    // temp beside target; null on failure
bool   finish_replace_file(DataFile *f);           // fsync + rename over; false leaves old intact
void   abandon_replace_file(DataFile *f);
void   vfs_reset_for_tests(void);
