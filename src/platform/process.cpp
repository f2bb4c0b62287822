#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/log.h"

static const uint64_t k_min_physical = 64ull << 20;
static const int k_normal_nice = 0;

static volatile sig_atomic_t g_quit_signal;

void process_keep_resident_and_raise_priority(void)
{
    long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    uint64_t physical = pages > 0 && page > 0 ? (uint64_t)pages * (uint64_t)page : 0;
    if (physical < k_min_physical) {
        log_printf("Working set left alone - less than 64 MB physical memory\n");
        return;
    }
    // A quarter to a half of physical memory, in KiB so that the numbers fit the log line.
    // The system has no working-set range to set: pages stay resident as memory allows.
    unsigned low = (unsigned)(physical / 4 >> 10), high = (unsigned)(physical / 2 >> 10);
    log_printf("Working set range %u - %u left to the system\n", low, high);

    // A game started with "nice" comes back to normal; raising it above normal would take
    // the processor from the desktop and the sound server.
    errno = 0;
    int nice_now = getpriority(PRIO_PROCESS, 0);
    if (errno != 0) {
        log_printf("Priority unknown - left alone\n");
    } else if (nice_now <= k_normal_nice) {
        log_printf("Priority already normal (%d)\n", nice_now);
    } else if (setpriority(PRIO_PROCESS, 0, k_normal_nice) == 0) {
        log_printf("Priority raised from %d to normal\n", nice_now);
    } else {
        log_printf("Priority left at %d - not allowed to raise it\n", nice_now);
    }
}

static void on_quit_signal(int sig)
{
    g_quit_signal = sig;
}

void quit_signals_install(void)
{
    struct sigaction sa = {};
    sa.sa_handler = on_quit_signal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a sleep or a blocking read returns early so that the loop sees the flag.
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int quit_signal_received(void)
{
    return g_quit_signal;
}

void quit_signal_reset_for_tests(void)
{
    g_quit_signal = 0;
}

static int lock_open(const char *path, int flags, bool *busy)
{
    if (busy)
        *busy = false;
    int fd = open(path, flags | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (busy)
            *busy = errno == EWOULDBLOCK;
        close(fd);
        return -1;
    }
    return fd;
}

int lock_directory(const char *path, bool *busy)
{
    return lock_open(path, O_RDONLY | O_DIRECTORY, busy);
}

int lock_file(const char *path, bool *busy)
{
    return lock_open(path, O_RDWR | O_CREAT, busy);
}

void unlock_path(int handle)
{
    if (handle >= 0)
        close(handle);
}
