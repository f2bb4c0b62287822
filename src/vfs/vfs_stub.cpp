// Temporary stand-in for the file layer: plain files only, just what the driver calls.
#include "vfs/vfs.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/mem.h"

struct DataFile {
    FILE *fp;
};

static struct {
    bool dirs_known;
    char dirs[2][1024];
    char **names;
    int count, capacity;
    bool indexed;
    void (*tick)(void);
} g_vfs;

static void find_dirs(void)
{
    if (g_vfs.dirs_known)
        return;
    g_vfs.dirs_known = true;
    const char *xdg = getenv("XDG_DATA_HOME");
    const char *home = getenv("HOME");
    if (xdg && *xdg)
        snprintf(g_vfs.dirs[0], sizeof g_vfs.dirs[0], "%s/Skorva/", xdg);
    else
        snprintf(g_vfs.dirs[0], sizeof g_vfs.dirs[0], "%s/.local/share/Skorva/", home ? home : ".");
    const char *sk = getenv("SK_HOME");
    if (sk && *sk) {
        size_t n = strlen(sk);
        snprintf(g_vfs.dirs[1], sizeof g_vfs.dirs[1], "%s%s", sk, sk[n - 1] == '/' ? "" : "/");
        return;
    }
    char exe[1024];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        snprintf(g_vfs.dirs[1], sizeof g_vfs.dirs[1], "./");
        return;
    }
    exe[n] = 0;
    char *slash = strrchr(exe, '/');
    if (slash)
        slash[1] = 0;
    snprintf(g_vfs.dirs[1], sizeof g_vfs.dirs[1], "%s", exe);
}

const char *search_dir(int i)
{
    find_dirs();
    return (i == 0 || i == 1) ? g_vfs.dirs[i] : nullptr;
}

void make_parent_dirs(const char *path)
{
    char buf[1024];
    snprintf(buf, sizeof buf, "%s", path);
    for (char *p = buf + 1; *p; p++) {
        if (*p != '/')
            continue;
        *p = 0;
        mkdir(buf, 0755);
        *p = '/';
    }
}

DataFile *open_data_file(const char *name, const char *mode)
{
    char path[1024];
    bool writing = strchr(mode, 'w') || strchr(mode, 'a');
    if (name[0] != '@') {
        snprintf(path, sizeof path, "%s", name);
    } else if (writing) {
        snprintf(path, sizeof path, "%s%s", search_dir(0), name + 1);
        make_parent_dirs(path);
    } else {
        FILE *fp = nullptr;
        for (int i = 0; i < 2 && !fp; i++) {
            snprintf(path, sizeof path, "%s%s", search_dir(i), name + 1);
            fp = fopen(path, mode);
        }
        if (!fp)
            return nullptr;
        DataFile *f = (DataFile *)xcalloc(1, sizeof(DataFile));
        f->fp = fp;
        return f;
    }
    FILE *fp = fopen(path, mode);
    if (!fp)
        return nullptr;
    DataFile *f = (DataFile *)xcalloc(1, sizeof(DataFile));
    f->fp = fp;
    return f;
}

void close_data_file(DataFile *f)
{
    if (!f)
        return;
    fclose(f->fp);
    xfree(f);
}

size_t data_write(DataFile *f, const void *buf, size_t n)
{
    return fwrite(buf, 1, n, f->fp);
}

int data_printf(DataFile *f, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = vfprintf(f->fp, format, ap);
    va_end(ap);
    return n;
}

static void add_name(const char *name)
{
    if (g_vfs.count + 2 > g_vfs.capacity) {
        g_vfs.capacity = g_vfs.capacity ? g_vfs.capacity * 2 : 64;
        g_vfs.names = (char **)xrealloc(g_vfs.names, sizeof(char *) * g_vfs.capacity);
    }
    g_vfs.names[g_vfs.count++] = xstrdup(name);
    g_vfs.names[g_vfs.count] = nullptr;
}

static void scan(const char *root, const char *rel, int depth)
{
    char path[1024];
    snprintf(path, sizeof path, "%s%s", root, rel);
    DIR *d = opendir(path);
    if (!d || depth > 8) {
        if (d)
            closedir(d);
        return;
    }
    if (g_vfs.tick)
        g_vfs.tick();
    while (struct dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        char child[1024];
        snprintf(child, sizeof child, "%s%s", rel, e->d_name);
        char full[2048];
        snprintf(full, sizeof full, "%s%s", root, child);
        struct stat st;
        if (stat(full, &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            strncat(child, "/", sizeof child - strlen(child) - 1);
            scan(root, child, depth + 1);
        } else if (file_index_find(child) < 0) {
            add_name(child);
        }
    }
    closedir(d);
}

const char *const *file_index_names(void)
{
    if (!g_vfs.indexed) {
        g_vfs.indexed = true;
        for (int i = 0; search_dir(i); i++)
            scan(search_dir(i), "", 0);
        if (!g_vfs.names)
            add_name("");       // keeps the array non-null; removed below
        if (g_vfs.count && !g_vfs.names[g_vfs.count - 1][0]) {
            xfree(g_vfs.names[--g_vfs.count]);
            g_vfs.names[g_vfs.count] = nullptr;
        }
    }
    return g_vfs.names;
}

int file_index_find(const char *name)
{
    for (int i = 0; i < g_vfs.count; i++)
        if (strcmp(g_vfs.names[i], name) == 0)
            return i;
    return -1;
}

bool open_home_folder(void)
{
    char cmd[1200];
    snprintf(cmd, sizeof cmd, "xdg-open '%s' >/dev/null 2>&1 &", search_dir(0));
    return system(cmd) == 0;
}

void vfs_shutdown(void)
{
    for (int i = 0; i < g_vfs.count; i++)
        xfree(g_vfs.names[i]);
    xfree(g_vfs.names);
    g_vfs.names = nullptr;
    g_vfs.count = g_vfs.capacity = 0;
    g_vfs.indexed = false;
}

void vfs_reset_for_tests(void)
{
    vfs_shutdown();
    g_vfs.dirs_known = false;
}

void vfs_set_progress_hook(void (*tick)(void))
{
    g_vfs.tick = tick;
}
