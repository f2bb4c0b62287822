#include "vfs/vfs.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include "common/mem.h"
#include "platform/log.h"

enum {
    k_max_path = 1023,          // longest path the game builds
    k_max_at_path = 511,        // longest expanded "@" name
    k_max_backup_path = 1000,   // longest path that can still take a "%s.~%d~" suffix
    k_gz_in = 16384,
    k_gz_out = 1024,
};

struct GzipState {
    z_stream z;
    unsigned char in[k_gz_in];
    unsigned char out[k_gz_out];
    int out_pos, out_len;
    long long consumed;         // compressed bytes taken from the window
    bool ended;
};

struct DataFile {
    FILE *file;
    long long offset;           // window within the file
    long long size;
    long long pos;              // bytes delivered from the window (or from inflate)
    int pushback;               // -1: empty
    bool gzip;
    bool writing;
    bool write_failed;
    GzipState *gz;
    char *replace_target;       // begin_replace_file: the file to rename over
    char *replace_temp;
};

static struct {
    bool built;
    int count;
    char *dirs[2];
    bool has_home;              // dirs[0] is the home directory, not the data directory
} g_search;

// --- paths ---

// "\" becomes "/" and runs of "/" become one, in place.
static void normalise_path(char *s)
{
    char *out = s;
    for (char *in = s; *in; in++) {
        char c = *in == '\\' ? '/' : *in;
        if (c == '/' && out > s && out[-1] == '/')
            continue;
        *out++ = c;
    }
    *out = 0;
}

static char *dir_with_slash(const char *a, const char *b)
{
    size_t la = strlen(a), lb = b ? strlen(b) : 0;
    char *s = (char *)xmalloc(la + lb + 3);
    memcpy(s, a, la);
    s[la] = '/';
    if (b)
        memcpy(s + la + 1, b, lb);
    s[la + 1 + lb] = '/';
    s[la + 2 + lb] = 0;
    normalise_path(s);
    return s;
}

static void build_search_dirs(void)
{
    g_search.built = true;
    g_search.count = 0;
    const char *xdg = getenv("XDG_DATA_HOME");
    const char *home = getenv("HOME");
    if (xdg && *xdg)
        g_search.dirs[g_search.count++] = dir_with_slash(xdg, "Skorva");
    else if (home && *home)
        g_search.dirs[g_search.count++] = dir_with_slash(home, ".local/share/Skorva");
    g_search.has_home = g_search.count > 0;
    const char *sk_home = getenv("SK_HOME");
    if (sk_home && *sk_home) {
        g_search.dirs[g_search.count++] = dir_with_slash(sk_home, nullptr);
    } else {
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            exe[n] = 0;
            char *slash = strrchr(exe, '/');
            if (slash) {
                *slash = 0;
                g_search.dirs[g_search.count++] = dir_with_slash(exe[0] ? exe : "", nullptr);
            }
        }
    }
}

const char *search_dir(int i)
{
    if (!g_search.built)
        build_search_dirs();
    return i >= 0 && i < g_search.count ? g_search.dirs[i] : nullptr;
}

const char *home_dir(void)
{
    if (!g_search.built)
        build_search_dirs();
    return g_search.has_home ? g_search.dirs[0] : nullptr;
}

int search_dir_count(void)
{
    if (!g_search.built)
        build_search_dirs();
    return g_search.count;
}

// An "@" name must stay inside the search directories, as archive members must: no ".."
// component, with either separator (both become "/").
static bool at_name_stays_inside(const char *name)
{
    for (const char *p = name; *p;) {
        size_t n = strcspn(p, "/\\");
        if (n == 2 && p[0] == '.' && p[1] == '.') {
            log_printf("Refused the name @%.900s: \"..\" may not lead out of the game's folders\n", name);
            return false;
        }
        p += n;
        if (*p)
            p++;
    }
    return true;
}

// "@name" joined to search directory dir into out (k_max_at_path + 1 bytes); false when the
// result would be cut, which could name a different, existing file.
static bool join_at_name(int dir, const char *name, char *out)
{
    const char *d = search_dir(dir);
    if (!d)
        return false;
    int n = snprintf(out, k_max_at_path + 1, "%s%s", d, name);
    if (n < 0 || n > k_max_at_path)
        return false;
    normalise_path(out);
    return true;
}

void make_parent_dirs(const char *path)
{
    char *copy = xstrdup(path);
    for (char *p = copy + 1; *p; p++) {
        if (*p != '/')
            continue;
        *p = 0;
        mkdir(copy, 0777);
        *p = '/';
    }
    xfree(copy);
}

// --- stream plumbing ---

static DataFile *new_stream(FILE *file, long long offset, long long size, bool writing)
{
    DataFile *f = (DataFile *)xcalloc(1, sizeof *f);
    f->file = file;
    f->offset = offset;
    f->size = size;
    f->pushback = -1;
    f->writing = writing;
    return f;
}

// Raw bytes from the window, never past its end.
static size_t window_read(DataFile *f, void *buf, size_t n, long long *taken)
{
    long long left = f->size - *taken;
    if (left <= 0)
        return 0;
    if ((long long)n > left)
        n = (size_t)left;
    size_t got = fread(buf, 1, n, f->file);
    *taken += (long long)got;
    return got;
}

// Checks the gzip header within the first block and starts raw inflate after it.
static bool gzip_start(DataFile *f)
{
    GzipState *g = (GzipState *)xcalloc(1, sizeof *g);
    f->gz = g;
    size_t n = window_read(f, g->in, k_gz_in, &g->consumed);
    const unsigned char *b = g->in;
    size_t p = 10;
    if (n < 10 || b[0] != 0x1f || b[1] != 0x8b || b[2] != 8 || b[3] >= 32)
        return false;
    int flags = b[3];
    if (flags & 4) {
        if (p + 2 > n)
            return false;
        size_t extra = b[p] | (size_t)b[p + 1] << 8;
        p += 2;
        if (extra > n - p)
            return false;
        p += extra;
    }
    for (int bit = 8; bit <= 16; bit <<= 1) {
        if (!(flags & bit))
            continue;
        while (p < n && b[p])
            p++;
        if (p >= n)
            return false;
        p++;
    }
    if (flags & 2) {
        if (p + 2 > n)
            return false;
        p += 2;
    }
    if (inflateInit2(&g->z, -15) != Z_OK)
        return false;
    g->z.next_in = g->in + p;
    g->z.avail_in = (uInt)(n - p);
    f->gzip = true;
    return true;
}

static void gzip_end(DataFile *f)
{
    if (!f->gz)
        return;
    if (f->gzip)
        inflateEnd(&f->gz->z);
    xfree(f->gz);
    f->gz = nullptr;
}

// Refills the output buffer; false at the end of the stream (or on corrupt data, which ends it).
static bool gzip_fill(DataFile *f)
{
    GzipState *g = f->gz;
    if (g->ended)
        return false;
    g->z.next_out = g->out;
    g->z.avail_out = k_gz_out;
    while (g->z.avail_out == k_gz_out) {
        if (g->z.avail_in == 0) {
            size_t n = window_read(f, g->in, k_gz_in, &g->consumed);
            if (n == 0) {
                g->ended = true;
                break;
            }
            g->z.next_in = g->in;
            g->z.avail_in = (uInt)n;
        }
        int rc = inflate(&g->z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END || (rc != Z_OK && rc != Z_BUF_ERROR)) {
            g->ended = true;
            break;
        }
        // Z_BUF_ERROR with input left means no progress is possible: stop rather than spin.
        if (rc == Z_BUF_ERROR && g->z.avail_in != 0) {
            g->ended = true;
            break;
        }
    }
    g->out_pos = 0;
    g->out_len = k_gz_out - (int)g->z.avail_out;
    return g->out_len > 0;
}

static int next_byte(DataFile *f)
{
    if (!f || f->writing)
        return -1;
    if (f->gzip) {
        GzipState *g = f->gz;
        if (g->out_pos >= g->out_len && !gzip_fill(f))
            return -1;
        f->pos++;
        return g->out[g->out_pos++];
    }
    if (f->pos >= f->size)
        return -1;
    int c = getc(f->file);
    if (c == EOF)
        return -1;
    f->pos++;
    return c;
}

// --- opening ---

static bool is_write_mode(const char *mode)
{
    return !strchr(mode, 'r') || strchr(mode, '+');
}

static bool file_exists(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

// Copies path's content to the first free "%s.~%d~"; false when that cannot be done whole.
static bool make_backup(const char *path)
{
    char backup[k_max_path + 1];
    int counter;
    for (counter = 1; counter <= 9999; counter++) {
        snprintf(backup, sizeof backup, "%s.~%d~", path, counter);
        if (!file_exists(backup))
            break;
    }
    if (counter > 9999)
        return false;
    FILE *in = fopen(path, "rb");
    if (!in)
        return false;
    FILE *out = fopen(backup, "wb");
    if (!out) {
        fclose(in);
        return false;
    }
    bool ok = true;
    unsigned char *block = (unsigned char *)xmalloc(65536);
    for (;;) {
        size_t n = fread(block, 1, 65536, in);
        if (n == 0) {
            ok = !ferror(in);
            break;
        }
        if (fwrite(block, 1, n, out) != n) {
            ok = false;
            break;
        }
    }
    xfree(block);
    fclose(in);
    if (fclose(out) != 0)
        ok = false;
    if (!ok)
        remove(backup);
    return ok;
}

// Opens a regular file for reading; directories and the like count as missing.
static FILE *open_regular(const char *path)
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return nullptr;
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        fclose(file);
        return nullptr;
    }
    return file;
}

static DataFile *open_plain(const char *path, const char *mode)
{
    bool backup = mode[0] == '~';
    if (backup)
        mode++;
    if (!*mode || strlen(mode) > 3)
        return nullptr;
    size_t len = strlen(path);
    if (len == 0 || len > k_max_path)
        return nullptr;
    if (is_write_mode(mode)) {
        make_parent_dirs(path);
        if (backup && file_exists(path)) {
            if (len > k_max_backup_path || !make_backup(path))
                return nullptr;
        }
        FILE *file = fopen(path, mode);
        if (!file)
            return nullptr;
        return new_stream(file, 0, INT_MAX, true);
    }
    FILE *file = open_regular(path);
    if (file)
        return new_stream(file, 0, INT_MAX, false);
    // ".scram" files are enciphered; without the decipher stream they count as unreadable.
    if (len + 3 >= k_max_path)
        return nullptr;
    char gz[k_max_path + 1];
    snprintf(gz, sizeof gz, "%s.gz", path);
    file = open_regular(gz);
    if (!file)
        return nullptr;
    DataFile *f = new_stream(file, 0, INT_MAX, false);
    if (!gzip_start(f)) {
        close_data_file(f);
        return nullptr;
    }
    return f;
}

// An "@" read served by the file index.
static DataFile *open_indexed(const char *name)
{
    static const char *const suffixes[] = { "", ".gz", ".scram", ".gz.scram" };
    int best = -1, best_prec = INT_MAX, best_suffix = 0;
    char probe[k_max_path + 1];
    for (int s = 0; s < 4; s++) {
        int n = snprintf(probe, sizeof probe, "%s%s", name, suffixes[s]);
        if (n < 0 || n > k_max_path)
            continue;
        int pos = file_index_find(probe);
        int prec;
        if (pos >= 0 && file_index_entry(pos, nullptr, nullptr, nullptr, nullptr, &prec) && prec < best_prec) {
            best = pos;
            best_prec = prec;
            best_suffix = s;
        }
    }
    if (best < 0 || best_suffix >= 2)
        return nullptr;
    const char *path;
    int offset, size;
    file_index_entry(best, &path, nullptr, &offset, &size, nullptr);
    FILE *file = open_regular(path);
    if (!file)
        return nullptr;
    if (fseek(file, offset, SEEK_SET) != 0) {
        fclose(file);
        return nullptr;
    }
    DataFile *f = new_stream(file, offset, size, false);
    if (best_suffix == 1 && !gzip_start(f)) {
        close_data_file(f);
        return nullptr;
    }
    return f;
}

DataFile *open_data_file(const char *name, const char *mode)
{
    if (!name || !mode)
        return nullptr;
    if (name[0] != '@')
        return open_plain(name, mode);
    const char *rest = name + 1;
    if (!at_name_stays_inside(rest))
        return nullptr;
    bool writing = is_write_mode(mode[0] == '~' ? mode + 1 : mode);
    char path[k_max_at_path + 1];
    if (writing) {
        // Writes land only in the home directory: a failure there must not scatter files
        // elsewhere, and without a home nothing is written (never into the installed data).
        return home_dir() && join_at_name(0, rest, path) ? open_plain(path, mode) : nullptr;
    }
    for (int i = 0; search_dir(i); i++) {
        if (!join_at_name(i, rest, path))
            continue;
        DataFile *f = open_plain(path, mode);
        if (f)
            return f;
    }
    return open_indexed(rest);
}

DataFile *open_memory_data_file(const void *bytes, size_t n, bool gzip)
{
    static unsigned char empty[1];
    FILE *file = fmemopen(n ? (void *)bytes : empty, n ? n : 1, "rb");
    if (!file)
        return nullptr;
    DataFile *f = new_stream(file, 0, (long long)n, false);
    if (gzip && !gzip_start(f)) {
        close_data_file(f);
        return nullptr;
    }
    return f;
}

void close_data_file(DataFile *f)
{
    if (!f)
        return;
    gzip_end(f);
    if (f->file)
        fclose(f->file);
    xfree(f->replace_target);
    xfree(f->replace_temp);
    xfree(f);
}

// --- reading ---

int data_getc(DataFile *f)
{
    if (f && f->pushback >= 0) {
        int c = f->pushback;
        f->pushback = -1;
        return c;
    }
    return next_byte(f);
}

int data_peekc(DataFile *f)
{
    if (!f)
        return -1;
    if (f->pushback < 0)
        f->pushback = next_byte(f);
    return f->pushback;
}

size_t data_read(DataFile *f, void *buf, size_t n)
{
    if (!f || f->writing || n == 0)
        return 0;
    unsigned char *out = (unsigned char *)buf;
    size_t got = 0;
    if (f->pushback >= 0) {
        out[got++] = (unsigned char)f->pushback;
        f->pushback = -1;
    }
    if (f->gzip) {
        GzipState *g = f->gz;
        while (got < n) {
            if (g->out_pos >= g->out_len && !gzip_fill(f))
                break;
            size_t take = (size_t)(g->out_len - g->out_pos);
            if (take > n - got)
                take = n - got;
            memcpy(out + got, g->out + g->out_pos, take);
            g->out_pos += (int)take;
            got += take;
            f->pos += (long long)take;
        }
        return got;
    }
    got += window_read(f, out + got, n - got, &f->pos);
    return got;
}

char *data_gets(DataFile *f, char *buf, int n)
{
    if (!f || !buf || n <= 0)
        return nullptr;
    int len = 0;
    bool any = false;
    while (len < n - 1) {
        int c = data_getc(f);
        if (c < 0)
            break;
        any = true;
        if (c == '\r' && data_peekc(f) == '\n')
            continue;               // CRLF text from other systems reads as LF
        buf[len++] = (char)c;
        if (c == '\n')
            break;
    }
    buf[len] = 0;
    return any ? buf : nullptr;
}

void data_skip_comments(DataFile *f)
{
    for (;;) {
        int c = data_peekc(f);
        while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            data_getc(f);
            c = data_peekc(f);
        }
        if (c != '#')
            return;
        while (c >= 0 && c != '\n')
            c = data_getc(f);
    }
}

// --- writing ---

static void note_write(DataFile *f, bool ok)
{
    if (!ok)
        f->write_failed = true;
}

int data_putc(DataFile *f, int c)
{
    if (!f || !f->writing)
        return -1;
    int rc = fputc(c, f->file);
    note_write(f, rc != EOF);
    return rc == EOF ? -1 : rc;
}

int data_puts(DataFile *f, const char *s)
{
    if (!f || !f->writing)
        return -1;
    int rc = fputs(s, f->file);
    note_write(f, rc >= 0);
    return rc < 0 ? -1 : rc;
}

size_t data_write(DataFile *f, const void *buf, size_t n)
{
    if (!f || !f->writing)
        return 0;
    size_t rc = fwrite(buf, 1, n, f->file);
    note_write(f, rc == n);
    return rc;
}

int data_printf(DataFile *f, const char *format, ...)
{
    if (!f || !f->writing)
        return -1;
    va_list ap;
    va_start(ap, format);
    int rc = vfprintf(f->file, format, ap);
    va_end(ap);
    note_write(f, rc >= 0);
    return rc < 0 ? -1 : rc;
}

bool data_flush(DataFile *f)
{
    if (!f)
        return false;
    if (!f->writing)
        return true;
    note_write(f, fflush(f->file) == 0);
    return !f->write_failed;
}

bool data_seek(DataFile *f, long position)
{
    if (!f || f->gzip || position < 0)
        return false;
    if (f->writing) {
        if (fseek(f->file, position, SEEK_SET) != 0)
            return false;
        f->pushback = -1;
        f->pos = position;
        return true;
    }
    if (position > f->size || f->offset + position > LONG_MAX)
        return false;
    if (fseek(f->file, (long)(f->offset + position), SEEK_SET) != 0)
        return false;
    f->pushback = -1;
    f->pos = position;
    return true;
}

char *file_to_string(const char *name)
{
    const size_t k_limit = 16777216;
    DataFile *f = open_data_file(name, "rb");
    if (!f)
        return nullptr;
    size_t room = 65536, len = 0;
    char *buf = (char *)xmalloc(room + 1);
    for (;;) {
        if (len == room) {
            if (room == k_limit)
                break;
            room = room * 2 > k_limit ? k_limit : room * 2;
            buf = (char *)xrealloc(buf, room + 1);
        }
        size_t n = data_read(f, buf + len, room - len);
        if (n == 0)
            break;
        len += n;
    }
    close_data_file(f);
    if (len == k_limit) {
        log_printf("File %s too long for file_to_string\n", name);
        xfree(buf);
        return nullptr;
    }
    buf[len] = 0;
    return (char *)xrealloc(buf, len + 1);
}

// --- whole-file replacement ---

// "@name" expands to the home directory; plain paths stay. False when too long or no home.
static bool expand_name(const char *name, char *out, int max)
{
    int n;
    if (name[0] == '@') {
        const char *home = home_dir();
        if (!home || !at_name_stays_inside(name + 1))
            return false;
        n = snprintf(out, (size_t)max + 1, "%s%s", home, name + 1);
    } else {
        n = snprintf(out, (size_t)max + 1, "%s", name);
    }
    if (n <= 0 || n > max)
        return false;
    normalise_path(out);
    return true;
}

DataFile *begin_replace_file(const char *name)
{
    char target[k_max_path + 1];
    if (!name || !expand_name(name, target, k_max_path - 16))
        return nullptr;
    make_parent_dirs(target);
    char *temp = (char *)xmalloc(strlen(target) + 16);
    sprintf(temp, "%s.~new~XXXXXX", target);
    int fd = mkstemp(temp);
    if (fd < 0) {
        xfree(temp);
        return nullptr;
    }
    // mkstemp makes the file private; the result should look like any file the game writes.
    struct stat st;
    mode_t perms;
    if (stat(target, &st) == 0) {
        perms = st.st_mode & 0777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        perms = 0666 & ~mask;
    }
    fchmod(fd, perms);
    FILE *file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        unlink(temp);
        xfree(temp);
        return nullptr;
    }
    DataFile *f = new_stream(file, 0, INT_MAX, true);
    f->replace_target = xstrdup(target);
    f->replace_temp = temp;
    return f;
}

bool finish_replace_file(DataFile *f)
{
    if (!f)
        return false;
    if (!f->replace_temp) {
        close_data_file(f);
        return false;
    }
    bool ok = !f->write_failed && fflush(f->file) == 0 && fsync(fileno(f->file)) == 0;
    if (fclose(f->file) != 0)
        ok = false;
    f->file = nullptr;
    if (ok && rename(f->replace_temp, f->replace_target) != 0)
        ok = false;
    if (!ok)
        unlink(f->replace_temp);
    close_data_file(f);
    return ok;
}

void abandon_replace_file(DataFile *f)
{
    if (!f)
        return;
    if (f->file)
        fclose(f->file);
    f->file = nullptr;
    if (f->replace_temp)
        unlink(f->replace_temp);
    close_data_file(f);
}

// --- files and folders ---

bool rename_data_file(const char *from, const char *to)
{
    char a[k_max_at_path + 1], b[k_max_at_path + 1];
    if (!from || !to || !expand_name(from, a, k_max_at_path) || !expand_name(to, b, k_max_at_path))
        return false;
    return rename(a, b) == 0;
}

// True when an executable named prog is on PATH.
static bool on_path(const char *prog)
{
    const char *path = getenv("PATH");
    if (!path)
        return false;
    char *copy = xstrdup(path);
    bool found = false;
    for (char *dir = strtok(copy, ":"); dir && !found; dir = strtok(nullptr, ":")) {
        char full[k_max_path + 1];
        int n = snprintf(full, sizeof full, "%s/%s", dir, prog);
        found = n > 0 && n <= k_max_path && access(full, X_OK) == 0;
    }
    xfree(copy);
    return found;
}

bool open_home_folder(void)
{
    const char *home = home_dir();
    if (!home) {
        fprintf(stderr, "There is no home folder to open: neither XDG_DATA_HOME nor HOME is set.\n");
        return false;
    }
    make_parent_dirs(home);
    char *folder = xstrdup(home);
    size_t len = strlen(folder);
    while (len > 1 && folder[len - 1] == '/')
        folder[--len] = 0;
    const char *display = getenv("DISPLAY"), *wayland = getenv("WAYLAND_DISPLAY");
    bool ok = false;
    if ((!display || !*display) && (!wayland || !*wayland)) {
        fprintf(stderr, "Can't show the home folder %s: there is no desktop (DISPLAY and WAYLAND_DISPLAY are unset).\n", folder);
    } else if (!on_path("xdg-open")) {
        fprintf(stderr, "Can't show the home folder %s: xdg-open was not found.\n", folder);
    } else {
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            execlp("xdg-open", "xdg-open", folder, (char *)nullptr);
            _exit(127);
        }
        int status = 0;
        if (pid > 0) {
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (!ok)
            fprintf(stderr, "Can't show the home folder %s: the desktop refused to open it.\n", folder);
    }
    xfree(folder);
    return ok;
}

void vfs_shutdown(void)
{
    for (int i = 0; i < g_search.count; i++)
        xfree(g_search.dirs[i]);
    g_search.count = 0;
    g_search.built = false;
    file_index_free();
}

void vfs_reset_for_tests(void)
{
    vfs_shutdown();
}
