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
    char *path;                 // owned by the entry for plain files, by archive_paths for members
    char *name;
    int offset;
    int size;
    int precedence;
    bool owns_path;
};

struct FolderId {
    dev_t dev;
    ino_t ino;
};

static struct {
    bool built;
    IndexEntry *entries;
    int count, room;
    const char **names;         // distinct names, null-ended
    char **archive_paths;       // one copy per archive, shared by its members
    int archive_count, archive_room;
    // Folders entered through a link during the current search directory's walk, as an
    // open-addressing set (room a power of two, used marks the taken slots).
    FolderId *linked;
    bool *linked_used;
    int linked_count, linked_room;
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

static void add_entry(char *path, bool owns_path, char *name, int offset, int size, int precedence)
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
    e->owns_path = owns_path;
}

static void tick(void)
{
    if (g_index.progress)
        g_index.progress();
}

static size_t folder_hash(FolderId id)
{
    unsigned long long h = (unsigned long long)id.ino * 0x9e3779b97f4a7c15ull ^ (unsigned long long)id.dev;
    return (size_t)(h ^ h >> 29);
}

static bool same_folder(FolderId a, FolderId b)
{
    return a.dev == b.dev && a.ino == b.ino;
}

// Adds a linked folder to the set; false when it was entered before.
static bool remember_linked(FolderId id)
{
    if (2 * (g_index.linked_count + 1) > g_index.linked_room) {
        FolderId *old = g_index.linked;
        bool *old_used = g_index.linked_used;
        int old_room = g_index.linked_room;
        g_index.linked_room = old_room ? old_room * 2 : 64;
        g_index.linked = (FolderId *)xcalloc((size_t)g_index.linked_room, sizeof(FolderId));
        g_index.linked_used = (bool *)xcalloc((size_t)g_index.linked_room, sizeof(bool));
        g_index.linked_count = 0;
        for (int i = 0; i < old_room; i++)
            if (old_used[i])
                remember_linked(old[i]);
        xfree(old);
        xfree(old_used);
    }
    size_t mask = (size_t)g_index.linked_room - 1;
    for (size_t i = folder_hash(id) & mask;; i = (i + 1) & mask) {
        if (!g_index.linked_used[i]) {
            g_index.linked_used[i] = true;
            g_index.linked[i] = id;
            g_index.linked_count++;
            return true;
        }
        if (same_folder(g_index.linked[i], id))
            return false;
    }
}

static void forget_linked(void)
{
    xfree(g_index.linked);
    xfree(g_index.linked_used);
    g_index.linked = nullptr;
    g_index.linked_used = nullptr;
    g_index.linked_count = g_index.linked_room = 0;
}

// base: the search directory without its trailing "/"; rel: "" or "a/b/" below it. chain[0..depth]:
// the folders being walked, this one last. Real folders are always listed. A linked folder is
// listed under the link's name unless it is one of the folders being walked (a loop) or another
// link already led to it, so no layout of links makes the walk endless or repeat itself.
static void walk(const char *base, const char *rel, int precedence, int depth, FolderId *chain)
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
        bool linked = S_ISLNK(st.st_mode);
        if (linked && stat(full, &st) != 0)
            continue;                           // a dangling link
        if (S_ISDIR(st.st_mode)) {
            if (depth >= k_max_depth)
                continue;
            FolderId id = { st.st_dev, st.st_ino };
            if (linked) {
                bool loop = false;
                for (int i = 0; i <= depth && !loop; i++)
                    loop = same_folder(chain[i], id);
                if (loop || !remember_linked(id))
                    continue;
            }
            chain[depth + 1] = id;
            strcat(rel_path, "/");
            walk(base, rel_path, precedence, depth + 1, chain);
            continue;
        }
        if (!S_ISREG(st.st_mode))
            continue;
        int size = st.st_size > INT_MAX ? INT_MAX : (int)st.st_size;
        add_entry(xstrdup(full), true, xstrdup(rel_path), 0, size, precedence);
    }
    closedir(dir);
}

static void walk_search_dir(const char *base, int precedence)
{
    FolderId chain[k_max_depth + 1] = {};
    struct stat st;
    if (stat(base, &st) == 0)
        chain[0] = { st.st_dev, st.st_ino };
    walk(base, "", precedence, 0, chain);
    forget_linked();
}

static bool ends_with_saf(const char *name)
{
    size_t len = strlen(name);
    return len > 4 && name_compare(name + len - 4, ".saf") == 0;
}

// Takes path (xmalloc'ed) into the list of archive paths, which its members share.
static void read_archive(char *path, int precedence)
{
    tick();
    FILE *file = fopen(path, "rb");
    if (!file) {
        xfree(path);
        return;
    }
    struct stat st;
    ArchiveMember *members = nullptr;
    int count = -1;
    if (fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode))
        count = archive_read_header(file, (long long)st.st_size, &members);
    fclose(file);
    if (count == ARCHIVE_TOO_MANY)
        log_printf("Archive %.900s holds more than %d files and is skipped\n", path, ARCHIVE_MAX_MEMBERS);
    else if (count < 0)
        log_printf("Archive %.900s is damaged and is skipped\n", path);
    if (count <= 0) {
        xfree(path);
        return;
    }
    if (g_index.archive_count == g_index.archive_room) {
        g_index.archive_room = g_index.archive_room ? g_index.archive_room * 2 : 16;
        g_index.archive_paths =
            (char **)xrealloc(g_index.archive_paths, (size_t)g_index.archive_room * sizeof(char *));
    }
    g_index.archive_paths[g_index.archive_count++] = path;
    for (int i = 0; i < count; i++) {
        add_entry(path, false, members[i].name, members[i].offset, members[i].size, precedence);
        members[i].name = nullptr;
    }
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
        walk_search_dir(base, i);
        xfree(base);
    }
    qsort(g_index.entries, (size_t)g_index.count, sizeof(IndexEntry), entry_compare);

    log_printf("Listing archives\n");
    int listed = g_index.count;
    int precedence = dirs;
    for (int i = 0; i < listed; i++) {
        if (ends_with_saf(g_index.entries[i].name)) {
            // The array may move while members are added: the archive gets its own copy.
            read_archive(xstrdup(g_index.entries[i].path), precedence++);
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
        if (g_index.entries[i].owns_path)
            xfree(g_index.entries[i].path);
        xfree(g_index.entries[i].name);
    }
    for (int i = 0; i < g_index.archive_count; i++)
        xfree(g_index.archive_paths[i]);
    xfree(g_index.entries);
    xfree(g_index.names);
    xfree(g_index.archive_paths);
    forget_linked();
    void (*progress)(void) = g_index.progress;
    memset(&g_index, 0, sizeof g_index);
    g_index.progress = progress;
}
