// Temporary stand-in for the file layer: plain files only, no archives, no gzip.
// Only the calls the terrain code and the data generator make are here.
#include "vfs/vfs.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/mem.h"

struct DataFile {
    FILE *file;
};

struct StubEntry {
    char *name;
    char *path;
    int precedence;
};

static struct {
    bool dirs_built;
    char dirs[2][1024];
    int dir_count;
    bool index_built;
    StubEntry *entries;
    int entry_count, entry_room;
    const char **names;
} g_vfs;

static void build_dirs(void)
{
    g_vfs.dirs_built = true;
    g_vfs.dir_count = 0;
    const char *xdg = getenv("XDG_DATA_HOME");
    const char *home = getenv("HOME");
    if (xdg && *xdg)
        snprintf(g_vfs.dirs[g_vfs.dir_count++], 1024, "%s/Skorva/", xdg);
    else if (home && *home)
        snprintf(g_vfs.dirs[g_vfs.dir_count++], 1024, "%s/.local/share/Skorva/", home);
    const char *sk = getenv("SK_HOME");
    if (sk && *sk) {
        snprintf(g_vfs.dirs[g_vfs.dir_count++], 1024, "%s/", sk);
    } else {
        char exe[1024];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            exe[n] = 0;
            char *slash = strrchr(exe, '/');
            if (slash) {
                slash[1] = 0;
                snprintf(g_vfs.dirs[g_vfs.dir_count++], 1024, "%s", exe);
            }
        }
    }
    for (int i = 0; i < g_vfs.dir_count; i++) {
        char *p = g_vfs.dirs[i], *o = p;
        for (char *s = p; *s; s++) {
            char c = *s == '\\' ? '/' : *s;
            if (c == '/' && o > p && o[-1] == '/')
                continue;
            *o++ = c;
        }
        *o = 0;
    }
}

const char *search_dir(int i)
{
    if (!g_vfs.dirs_built)
        build_dirs();
    return i >= 0 && i < g_vfs.dir_count ? g_vfs.dirs[i] : nullptr;
}

void make_parent_dirs(const char *path)
{
    char buf[1024];
    snprintf(buf, sizeof buf, "%s", path);
    for (char *s = buf + 1; *s; s++) {
        if (*s == '/') {
            *s = 0;
            mkdir(buf, 0777);
            *s = '/';
        }
    }
}

static bool is_write_mode(const char *mode)
{
    return !strchr(mode, 'r') || strchr(mode, '+');
}

static DataFile *open_plain(const char *path, const char *mode)
{
    if (*mode == '~')
        mode++;
    if (is_write_mode(mode))
        make_parent_dirs(path);
    else {
        struct stat st;
        if (stat(path, &st) != 0 || S_ISDIR(st.st_mode))
            return nullptr;
    }
    FILE *f = fopen(path, mode);
    if (!f)
        return nullptr;
    DataFile *d = (DataFile *)xcalloc(1, sizeof *d);
    d->file = f;
    return d;
}

DataFile *open_data_file(const char *name, const char *mode)
{
    if (!name || !mode)
        return nullptr;
    if (name[0] != '@')
        return open_plain(name, mode);
    for (int i = 0; search_dir(i); i++) {
        char path[1024];
        snprintf(path, 512, "%s%s", search_dir(i), name + 1);
        DataFile *d = open_plain(path, mode);
        if (d)
            return d;
    }
    if (is_write_mode(*mode == '~' ? mode + 1 : mode) || !g_vfs.index_built)
        return nullptr;
    for (int i = 0; i < g_vfs.entry_count; i++)
        if (strcasecmp(g_vfs.entries[i].name, name + 1) == 0)
            return open_plain(g_vfs.entries[i].path, "rb");
    return nullptr;
}

void close_data_file(DataFile *f)
{
    if (!f)
        return;
    fclose(f->file);
    xfree(f);
}

int data_getc(DataFile *f) { return fgetc(f->file); }

int data_peekc(DataFile *f)
{
    int c = fgetc(f->file);
    if (c != EOF)
        ungetc(c, f->file);
    return c;
}

size_t data_read(DataFile *f, void *buf, size_t n) { return fread(buf, 1, n, f->file); }
char *data_gets(DataFile *f, char *buf, int n) { return fgets(buf, n, f->file); }

int data_scanf(DataFile *f, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int r = vfscanf(f->file, format, ap);
    va_end(ap);
    return r;
}

int data_read_int(DataFile *f)
{
    int v;
    return fscanf(f->file, "%d", &v) == 1 ? v : INT_MIN;
}

void data_skip_comments(DataFile *f)
{
    for (;;) {
        int c;
        while ((c = fgetc(f->file)) != EOF && (c == ' ' || c == '\t' || c == '\r' || c == '\n'))
            ;
        if (c != '#') {
            if (c != EOF)
                ungetc(c, f->file);
            return;
        }
        while ((c = fgetc(f->file)) != EOF && c != '\n')
            ;
    }
}

int data_putc(DataFile *f, int c) { return fputc(c, f->file); }
int data_puts(DataFile *f, const char *s) { return fputs(s, f->file); }
size_t data_write(DataFile *f, const void *buf, size_t n) { return fwrite(buf, 1, n, f->file); }

int data_printf(DataFile *f, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int r = vfprintf(f->file, format, ap);
    va_end(ap);
    return r;
}

bool data_flush(DataFile *f) { return fflush(f->file) == 0 && !ferror(f->file); }
bool data_seek(DataFile *f, long position) { return fseek(f->file, position, SEEK_SET) == 0; }

char *file_to_string(const char *name)
{
    DataFile *f = open_data_file(name, "rb");
    if (!f)
        return nullptr;
    size_t room = 4096, used = 0;
    char *buf = (char *)xmalloc(room);
    for (;;) {
        if (used + 1 >= room)
            buf = (char *)xrealloc(buf, room *= 2);
        size_t n = data_read(f, buf + used, room - used - 1);
        if (n == 0)
            break;
        used += n;
        if (used >= 16777216) {
            close_data_file(f);
            xfree(buf);
            return nullptr;
        }
    }
    buf[used] = 0;
    close_data_file(f);
    return buf;
}

static void add_entry(const char *name, const char *path, int precedence)
{
    if (g_vfs.entry_count == g_vfs.entry_room) {
        g_vfs.entry_room = g_vfs.entry_room ? g_vfs.entry_room * 2 : 16;
        g_vfs.entries = (StubEntry *)xrealloc(g_vfs.entries, g_vfs.entry_room * sizeof *g_vfs.entries);
    }
    g_vfs.entries[g_vfs.entry_count++] = { xstrdup(name), xstrdup(path), precedence };
}

static void walk(const char *root, const char *rel, int precedence, int depth)
{
    if (depth > 32)
        return;
    char dir_path[2048];
    snprintf(dir_path, sizeof dir_path, "%s%s", root, rel);
    DIR *d = opendir(dir_path);
    if (!d)
        return;
    while (struct dirent *e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, ".."))
            continue;
        char sub[1024], full[2048];
        snprintf(sub, sizeof sub, "%s%s%s", rel, *rel ? "/" : "", e->d_name);
        snprintf(full, sizeof full, "%s%s", root, sub);
        struct stat st;
        if (stat(full, &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            walk(root, sub, precedence, depth + 1);
        else
            add_entry(sub, full, precedence);
    }
    closedir(d);
}

static int compare_entries(const void *a, const void *b)
{
    const StubEntry *x = (const StubEntry *)a, *y = (const StubEntry *)b;
    int c = strcasecmp(x->name, y->name);
    return c ? c : x->precedence - y->precedence;
}

const char *const *file_index_names(void)
{
    if (g_vfs.index_built)
        return g_vfs.names;
    g_vfs.index_built = true;
    for (int i = 0; search_dir(i); i++)
        walk(search_dir(i), "", i, 0);
    if (g_vfs.entry_count)
        qsort(g_vfs.entries, g_vfs.entry_count, sizeof *g_vfs.entries, compare_entries);
    g_vfs.names = (const char **)xcalloc(g_vfs.entry_count + 1, sizeof *g_vfs.names);
    int n = 0;
    for (int i = 0; i < g_vfs.entry_count; i++)
        if (n == 0 || strcasecmp(g_vfs.names[n - 1], g_vfs.entries[i].name) != 0)
            g_vfs.names[n++] = g_vfs.entries[i].name;
    return g_vfs.names;
}

int file_index_find(const char *name)
{
    if (!g_vfs.index_built || !name)
        return -1;
    for (int i = 0; i < g_vfs.entry_count; i++)
        if (strcasecmp(g_vfs.entries[i].name, name) == 0)
            return i;
    return -1;
}

void vfs_reset_for_tests(void)
{
    for (int i = 0; i < g_vfs.entry_count; i++) {
        xfree(g_vfs.entries[i].name);
        xfree(g_vfs.entries[i].path);
    }
    xfree(g_vfs.entries);
    xfree(g_vfs.names);
    memset(&g_vfs, 0, sizeof g_vfs);
}
