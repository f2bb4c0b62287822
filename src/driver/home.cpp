#include "driver/home.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/process.h"
#include "vfs/vfs.h"

enum { PATH_SIZE = 1100, MAX_LOG_NUMBER = 99 };

static struct {
    int use;
    int dir_lock;               // held while this instance owns the home directory
    int log_lock;               // a further instance's numbered log
    char notice[2 * PATH_SIZE + 200];
} g_home = { HOME_USE_OWN, -1, -1, "" };

// A file can really be created there: permissions alone say nothing for root or a
// read-only file system.
static bool can_write_in(const char *dir)
{
    char probe[PATH_SIZE];
    if (snprintf(probe, sizeof probe, "%s.write-check-XXXXXX", dir) >= (int)sizeof probe)
        return false;
    int fd = mkstemp(probe);
    if (fd < 0)
        return false;
    close(fd);
    unlink(probe);
    return true;
}

// The first numbered log that no other instance holds.
static bool take_numbered_log(const char *home, char *log_path, int size)
{
    for (int n = 2; n <= MAX_LOG_NUMBER; n++) {
        char path[PATH_SIZE];
        if (snprintf(path, sizeof path, "%slastlog-%d.txt", home, n) >= (int)sizeof path)
            return false;
        g_home.log_lock = lock_file(path, nullptr);
        if (g_home.log_lock >= 0)
            return snprintf(log_path, (size_t)size, "%s", path) < size;
    }
    return false;
}

int home_open(char *log_path, int size)
{
    log_path[0] = 0;
    g_home.notice[0] = 0;
    const char *home = home_dir();
    if (!home) {
        g_home.use = HOME_USE_NONE;
        snprintf(g_home.notice, sizeof g_home.notice,
                 "There is no home directory (neither XDG_DATA_HOME nor HOME is set): "
                 "this run saves no settings and writes no log.\n");
        return g_home.use;
    }
    make_parent_dirs(home);
    if (!can_write_in(home)) {
        g_home.use = HOME_USE_UNWRITABLE;
        snprintf(g_home.notice, sizeof g_home.notice,
                 "Can't write to the home directory %.1000s: this run saves no settings and writes no log.\n", home);
        return g_home.use;
    }
    bool busy = false;
    g_home.dir_lock = lock_directory(home, &busy);
    // A file system without locks cannot tell instances apart: the run goes on as the owner.
    if (g_home.dir_lock >= 0 || !busy) {
        g_home.use = HOME_USE_OWN;
        if (snprintf(log_path, (size_t)size, "%slastlog.txt", home) >= size)
            log_path[0] = 0;
        return g_home.use;
    }
    g_home.use = HOME_USE_SHARED;
    if (take_numbered_log(home, log_path, size))
        snprintf(g_home.notice, sizeof g_home.notice,
                 "Another Skorva is running with the home directory %.1000s: this one logs to %.1000s "
                 "and does not save its settings.\n", home, log_path);
    else
        snprintf(g_home.notice, sizeof g_home.notice,
                 "Another Skorva is running with the home directory %.1000s: this one writes no log "
                 "and does not save its settings.\n", home);
    return g_home.use;
}

int home_use(void)
{
    return g_home.use;
}

bool home_saves_settings(void)
{
    return g_home.use == HOME_USE_OWN;
}

const char *home_notice(void)
{
    return g_home.notice;
}

void home_close(void)
{
    unlock_path(g_home.dir_lock);
    unlock_path(g_home.log_lock);
    g_home.dir_lock = g_home.log_lock = -1;
}
