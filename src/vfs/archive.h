// The ".saf" archive header: lines of "<size><one separator><name>\n" up to a line "-", then
// the members' bytes back to back.
#pragma once
#include <stdio.h>

enum {
    ARCHIVE_MAX_MEMBERS = 100000,   // far beyond any game data; keeps a hostile header's index small
    ARCHIVE_TOO_MANY = -2,          // archive_read_header: more members than ARCHIVE_MAX_MEMBERS
};

struct ArchiveMember {
    char *name;         // "/"-separated, runs of "/" collapsed; a trailing "\r" is kept
    int offset;         // bytes from the start of the archive file
    int size;
};

// Reads the header from the start of f, whose real size is file_size bytes. Returns the member
// count (0 for an empty archive) with *members xmalloc'ed, or -1 for a malformed archive: a
// line over 1,023 characters or without its line feed, a missing or bad size, an empty name or
// one with a "." or ".." component or a leading "/" or "\", a member ending past the file, or
// a total over 2^31 - 1. ARCHIVE_TOO_MANY, as soon as the header names more than
// ARCHIVE_MAX_MEMBERS members.
int  archive_read_header(FILE *f, long long file_size, ArchiveMember **members);
void archive_free_members(ArchiveMember *members, int count);
