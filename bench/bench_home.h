// The benchmarks read the generated game data built beside them and write only into a
// private home directory of their own, removed at the end.
#pragma once

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// SK_HOME, unless set, is the "game" folder beside the benchmark; XDG_DATA_HOME is a new
// directory under TMPDIR named after tag. home receives that directory ("" on failure).
static inline bool bench_home_prepare(const char *tag, char *home, size_t size)
{
    home[0] = 0;
    if (!getenv("SK_HOME")) {
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0)
            return false;
        exe[n] = 0;
        char *slash = strrchr(exe, '/');
        if (!slash)
            return false;
        snprintf(slash, sizeof exe - (size_t)(slash - exe), "/game");
        setenv("SK_HOME", exe, 1);
    }
    const char *tmp = getenv("TMPDIR");
    snprintf(home, size, "%s/%sXXXXXX", tmp && *tmp ? tmp : P_tmpdir, tag);
    if (!mkdtemp(home)) {
        home[0] = 0;
        return false;
    }
    setenv("XDG_DATA_HOME", home, 1);
    return true;
}

static inline void bench_home_remove(const char *home)
{
    if (!home[0])
        return;
    char cmd[PATH_MAX + 16];
    snprintf(cmd, sizeof cmd, "rm -rf '%s'", home);
    if (system(cmd) != 0)
        fprintf(stderr, "could not remove %s\n", home);
}
