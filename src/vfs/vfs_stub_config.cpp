// Stand-in for the few file-layer calls the configuration uses, until the file layer lands.
#include "vfs/vfs.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/mem.h"

struct DataFile {
    FILE *fp;
    char *temp_path;        // replace streams: the file being written
    char *target_path;
};

static struct {
    bool built;
    char dirs[2][1024];
    int count;
} g_stub;

static void build_dirs(void)
{
    if (g_stub.built)
        return;
    g_stub.built = true;
    g_stub.count = 0;
    const char *xdg = getenv("XDG_DATA_HOME");
    const char *home = getenv("HOME");
    if (xdg && *xdg)
        snprintf(g_stub.dirs[g_stub.count++], 1024, "%s/skorva/", xdg);
    else if (home && *home)
        snprintf(g_stub.dirs[g_stub.count++], 1024, "%s/.local/share/skorva/", home);
    const char *sk = getenv("SK_HOME");
    if (sk && *sk)
        snprintf(g_stub.dirs[g_stub.count++], 1024, "%s/", sk);
}

const char *search_dir(int i)
{
    build_dirs();
    return i >= 0 && i < g_stub.count ? g_stub.dirs[i] : nullptr;
}

void vfs_reset_for_tests(void)
{
    g_stub.built = false;
}

static void make_dirs(const char *path)
{
    char buf[1024];
    snprintf(buf, sizeof buf, "%s", path);
    for (char *p = buf + 1; *p; p++)
        if (*p == '/') {
            *p = 0;
            mkdir(buf, 0777);
            *p = '/';
        }
}

static DataFile *wrap(FILE *fp)
{
    if (!fp)
        return nullptr;
    DataFile *f = (DataFile *)xcalloc(1, sizeof *f);
    f->fp = fp;
    return f;
}

DataFile *open_data_file(const char *name, const char *mode)
{
    if (!name || !mode)
        return nullptr;
    bool write = strchr(mode, 'w') || strchr(mode, 'a');
    if (name[0] != '@') {
        if (write)
            make_dirs(name);
        return wrap(fopen(name, mode));
    }
    for (int i = 0; search_dir(i); i++) {
        char path[1024];
        snprintf(path, sizeof path, "%s%s", search_dir(i), name + 1);
        if (write)
            make_dirs(path);
        FILE *fp = fopen(path, mode);
        if (fp)
            return wrap(fp);
    }
    return nullptr;
}

void close_data_file(DataFile *f)
{
    if (!f)
        return;
    if (f->fp)
        fclose(f->fp);
    xfree(f->temp_path);
    xfree(f->target_path);
    xfree(f);
}

char *data_gets(DataFile *f, char *buf, int n)
{
    return f ? fgets(buf, n, f->fp) : nullptr;
}

int data_puts(DataFile *f, const char *s)
{
    return f ? fputs(s, f->fp) : -1;
}

size_t data_write(DataFile *f, const void *buf, size_t n)
{
    return f ? fwrite(buf, 1, n, f->fp) : 0;
}

int data_printf(DataFile *f, const char *format, ...)
{
    if (!f)
        return -1;
    va_list ap;
    va_start(ap, format);
    int r = vfprintf(f->fp, format, ap);
    va_end(ap);
    return r;
}

char *file_to_string(const char *name)
{
    DataFile *f = open_data_file(name, "rb");
    if (!f)
        return nullptr;
    size_t cap = 4096, len = 0;
    char *s = (char *)xmalloc(cap);
    size_t got;
    while ((got = fread(s + len, 1, cap - len - 1, f->fp)) > 0) {
        len += got;
        if (cap - len - 1 == 0) {
            cap *= 2;
            s = (char *)xrealloc(s, cap);
        }
    }
    s[len] = 0;
    close_data_file(f);
    return s;
}

DataFile *begin_replace_file(const char *name)
{
    if (!name || name[0] != '@' || !search_dir(0))
        return nullptr;
    char target[1024], temp[1100];
    snprintf(target, sizeof target, "%s%s", search_dir(0), name + 1);
    snprintf(temp, sizeof temp, "%s.new", target);
    make_dirs(target);
    DataFile *f = wrap(fopen(temp, "wb"));
    if (!f)
        return nullptr;
    f->temp_path = xstrdup(temp);
    f->target_path = xstrdup(target);
    return f;
}

bool finish_replace_file(DataFile *f)
{
    if (!f)
        return false;
    bool ok = fflush(f->fp) == 0 && !ferror(f->fp) && fsync(fileno(f->fp)) == 0;
    ok = fclose(f->fp) == 0 && ok;
    f->fp = nullptr;
    if (ok)
        ok = rename(f->temp_path, f->target_path) == 0;
    if (!ok)
        remove(f->temp_path);
    close_data_file(f);
    return ok;
}

void abandon_replace_file(DataFile *f)
{
    if (!f)
        return;
    fclose(f->fp);
    f->fp = nullptr;
    remove(f->temp_path);
    close_data_file(f);
}
