#include "vfs/archive.h"

#include <limits.h>
#include <string.h>

#include "common/mem.h"

enum { k_max_line = 1023 };

// Reads one line of at most k_max_line characters plus its line feed into line (NUL-ended,
// line feed removed). -1 when the line is too long or the file ends before the line feed,
// -2 when the line holds a NUL byte (a name with a NUL would be cut short).
static int read_line(FILE *f, char *line, long long *consumed)
{
    int len = 0;
    bool has_nul = false;
    for (;;) {
        int c = getc(f);
        if (c == EOF)
            return -1;
        (*consumed)++;
        if (c == '\n')
            break;
        if (len == k_max_line)
            return -1;
        if (c == 0)
            has_nul = true;
        line[len++] = (char)c;
    }
    line[len] = 0;
    return has_nul ? -2 : len;
}

// Collapses runs of "/" in place.
static void collapse_slashes(char *s)
{
    char *out = s;
    for (const char *in = s; *in; in++) {
        if (*in == '/' && out > s && out[-1] == '/')
            continue;
        *out++ = *in;
    }
    *out = 0;
}

// A member name must stay inside whatever folder it is unpacked or looked up in.
static bool name_is_safe(const char *name)
{
    if (!*name || name[0] == '/' || name[0] == '\\')
        return false;
    const char *p = name;
    while (*p) {
        size_t n = strcspn(p, "/\\");
        if (n == 0 || (n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.'))
            return false;
        p += n;
        if (*p)
            p++;
    }
    // A trailing separator names a folder, never a member.
    return p[-1] != '/' && p[-1] != '\\';
}

int archive_read_header(FILE *f, long long file_size, ArchiveMember **members)
{
    *members = nullptr;
    int count = 0, room = 0;
    ArchiveMember *list = nullptr;
    long long consumed = 0;
    char line[k_max_line + 1];
    long long sizes_total = 0;
    for (;;) {
        int len = read_line(f, line, &consumed);
        if (len < 0)
            goto fail;
        if (strcmp(line, "-") == 0)
            break;
        if (line[0] < '0' || line[0] > '9')
            goto fail;
        if (count == ARCHIVE_MAX_MEMBERS) {
            archive_free_members(list, count);
            return ARCHIVE_TOO_MANY;
        }
        long long size = 0;
        int i = 0;
        while (line[i] >= '0' && line[i] <= '9') {
            size = size * 10 + (line[i] - '0');
            if (size > INT_MAX)
                goto fail;
            i++;
        }
        if (!line[i])
            goto fail;                          // no separator, no name
        char *name = line + i + 1;
        collapse_slashes(name);
        if (!name_is_safe(name))
            goto fail;
        sizes_total += size;
        if (sizes_total > INT_MAX)
            goto fail;
        if (count == room) {
            room = room ? room * 2 : 16;
            list = (ArchiveMember *)xrealloc(list, (size_t)room * sizeof *list);
        }
        list[count].name = xstrdup(name);
        list[count].size = (int)size;
        list[count].offset = 0;
        count++;
    }
    {
        long long offset = consumed;
        for (int i = 0; i < count; i++) {
            if (offset > INT_MAX || offset + list[i].size > file_size || offset + list[i].size > INT_MAX)
                goto fail;
            list[i].offset = (int)offset;
            offset += list[i].size;
        }
    }
    *members = list;
    return count;
fail:
    archive_free_members(list, count);
    return -1;
}

void archive_free_members(ArchiveMember *members, int count)
{
    if (!members)
        return;
    for (int i = 0; i < count; i++)
        xfree(members[i].name);
    xfree(members);
}
