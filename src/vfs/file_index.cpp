// The file index: every file below the search directories and every member of their ".saf"
// archives, sorted by name (case-insensitively) and precedence.
#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "common/mem.h"
#include "platform/log.h"
#include "vfs/archive.h"
#include "vfs/vfs.h"

enum {
    k_max_depth = 32,           // deeper trees are not game data; also stops runaway walks
    k_max_path = 1023,
};

struct IndexEntry {
    char *path;
    char *name;
    int offset;
    int size;
    int precedence;
};

static struct {
    bool built;
    IndexEntry *entries;
    int count, room;
    const char **names;         // distinct names, null-ended
    void (*progress)(void);
} g_index;

static int lower(int c)
{
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

static int name_compare(const char *a, const char *b)
{
    for (;; a++, b++) {
        int ca = lower((unsigned char)*a), cb = lower((unsigned char)*b);
        if (ca != cb || !ca)
            return ca - cb;
    }
}

static int entry_compare(const void *pa, const void *pb)
{
    const IndexEntry *a = (const IndexEntry *)pa, *b = (const IndexEntry *)pb;
    int c = name_compare(a->name, b->name);
    if (c)
        return c;
    return (a->precedence > b->precedence) - (a->precedence < b->precedence);
}

static void add_entry(char *path, char *name, int offset, int size, int precedence)
{
    if (g_index.count == g_index.room) {
        g_index.room = g_index.room ? g_index.room * 2 : 16;
        g_index.entries = (IndexEntry *)xrealloc(g_index.entries, (size_t)g_index.room * sizeof(IndexEntry));
    }
    IndexEntry *e = &g_index.entries[g_index.count++];
    e->path = path;
    e->name = name;
    e->offset = offset;
    e->size = size;
    e->precedence = precedence;
}

static void tick(void)
{
    if (g_index.progress)
        g_index.progress();
}

// base: the search directory without its trailing "/"; rel: "" or "a/b/" below it.
static void walk(const char *base, const char *rel, int precedence, int depth)
{
    char dir_path[k_max_path + 1];
    int n = snprintf(dir_path, sizeof dir_path, "%s/%s", base, rel);
    if (n < 0 || n > k_max_path)
        return;
    DIR *dir = opendir(dir_path);
    if (!dir)
        return;
    tick();
    struct dirent *d;
    while ((d = readdir(dir)) != nullptr) {
        if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0)
            continue;
        char rel_path[k_max_path + 1];
        char full[k_max_path + 1];
        int rn = snprintf(rel_path, sizeof rel_path, "%s%s", rel, d->d_name);
        int fn = snprintf(full, sizeof full, "%s/%s", base, rel_path);
        if (rn < 0 || rn > k_max_path - 1 || fn < 0 || fn > k_max_path)
            continue;
        struct stat st;
        if (lstat(full, &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode)) {
            // Linked files count; linked folders are not followed, so a loop cannot trap the walk.
            if (stat(full, &st) != 0 || S_ISDIR(st.st_mode))
                continue;
        }
        if (S_ISDIR(st.st_mode)) {
            if (depth < k_max_depth) {
                strcat(rel_path, "/");
                walk(base, rel_path, precedence, depth + 1);
            }
            continue;
        }
        if (!S_ISREG(st.st_mode))
            continue;
        int size = st.st_size > INT_MAX ? INT_MAX : (int)st.st_size;
        add_entry(xstrdup(full), xstrdup(rel_path), 0, size, precedence);
    }
    closedir(dir);
}

static bool ends_with_saf(const char *name)
{
    size_t len = strlen(name);
    return len > 4 && name_compare(name + len - 4, ".saf") == 0;
}

static void read_archive(const char *path, int precedence)
{
    tick();
    FILE *file = fopen(path, "rb");
    if (!file)
        return;
    struct stat st;
    ArchiveMember *members = nullptr;
    int count = -1;
    if (fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode))
        count = archive_read_header(file, (long long)st.st_size, &members);
    fclose(file);
    // A malformed archive is dropped whole.
    for (int i = 0; i < count; i++) {
        add_entry(xstrdup(path), members[i].name, members[i].offset, members[i].size, precedence);
        members[i].name = nullptr;
    }
    if (count > 0)
        archive_free_members(members, count);
}

static void build_index(void)
{
    g_index.built = true;
    log_printf("Listing directories\n");
    int dirs = search_dir_count();
    for (int i = 0; i < dirs; i++) {
        char *base = xstrdup(search_dir(i));
        size_t len = strlen(base);
        while (len > 0 && base[len - 1] == '/')
            base[--len] = 0;
        walk(base, "", i, 0);
        xfree(base);
    }
    qsort(g_index.entries, (size_t)g_index.count, sizeof(IndexEntry), entry_compare);

    log_printf("Listing archives\n");
    int listed = g_index.count;
    int precedence = dirs;
    for (int i = 0; i < listed; i++) {
        if (ends_with_saf(g_index.entries[i].name)) {
            // The array may move while members are added: copy the path first.
            char *path = xstrdup(g_index.entries[i].path);
            read_archive(path, precedence++);
            xfree(path);
        }
    }
    qsort(g_index.entries, (size_t)g_index.count, sizeof(IndexEntry), entry_compare);

    log_printf("Creating file list\n");
    g_index.names = (const char **)xmalloc(((size_t)g_index.count + 1) * sizeof(char *));
    int distinct = 0;
    for (int i = 0; i < g_index.count; i++) {
        if (distinct > 0 && name_compare(g_index.names[distinct - 1], g_index.entries[i].name) == 0)
            continue;
        g_index.names[distinct++] = g_index.entries[i].name;
    }
    g_index.names[distinct] = nullptr;
    log_printf("File index complete\n");
}

const char *const *file_index_names(void)
{
    if (!g_index.built)
        build_index();
    return g_index.names;
}

int file_index_count(void)
{
    return g_index.built ? g_index.count : 0;
}

int file_index_find(const char *name)
{
    if (!g_index.built || !name)
        return -1;
    int lo = 0, hi = g_index.count;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (name_compare(g_index.entries[mid].name, name) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < g_index.count && name_compare(g_index.entries[lo].name, name) == 0 ? lo : -1;
}

bool file_index_entry(int position, const char **path, const char **name, int *offset, int *size, int *precedence)
{
    if (!g_index.built || position < 0 || position >= g_index.count)
        return false;
    const IndexEntry *e = &g_index.entries[position];
    if (path)
        *path = e->path;
    if (name)
        *name = e->name;
    if (offset)
        *offset = e->offset;
    if (size)
        *size = e->size;
    if (precedence)
        *precedence = e->precedence;
    return true;
}

bool file_index_describe(int position, char *buf, int size)
{
    if (!g_index.built || position < 0 || position >= g_index.count || !buf || size <= 0)
        return false;
    snprintf(buf, (size_t)size, "%s -> %s", g_index.entries[position].name, g_index.entries[position].path);
    return true;
}

void vfs_set_progress_hook(void (*tick_fn)(void))
{
    g_index.progress = tick_fn;
}

void file_index_free(void)
{
    for (int i = 0; i < g_index.count; i++) {
        xfree(g_index.entries[i].path);
        xfree(g_index.entries[i].name);
    }
    xfree(g_index.entries);
    xfree(g_index.names);
    void (*progress)(void) = g_index.progress;
    memset(&g_index, 0, sizeof g_index);
    g_index.progress = progress;
}
