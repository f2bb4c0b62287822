// Search directories, the home directory and data-file streams.
#pragma once
#include <stddef.h>

struct DataFile;
const char *search_dir(int i);
DataFile *open_data_file(const char *name, const char *mode);
void   close_data_file(DataFile *f);
char  *data_gets(DataFile *f, char *buf, int n);   // null at end before any character
int    data_puts(DataFile *f, const char *s);
size_t data_write(DataFile *f, const void *buf, size_t n);
int    data_printf(DataFile *f, const char *format, ...);
char  *file_to_string(const char *name);           // xmalloc'ed; null on failure
DataFile *begin_replace_file(const char *name);    // "@name": a temp file beside the target in the home dir; null on failure
bool   finish_replace_file(DataFile *f);           // flush, fsync, close, rename over; false leaves the old file intact
void   abandon_replace_file(DataFile *f);
void   vfs_reset_for_tests(void);
