#include "platform/process.h"

#include <errno.h>
#include <stdint.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/log.h"

static const uint64_t k_min_physical = 64ull << 20;
static const int k_high_nice = -5;

void process_keep_resident_and_raise_priority(void)
{
    long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    uint64_t physical = pages > 0 && page > 0 ? (uint64_t)pages * (uint64_t)page : 0;
    if (physical < k_min_physical) {
        log_printf("Working set left alone - less than 64 MB physical memory\n");
        return;
    }
    // A quarter to a half of physical memory, in KiB so that the numbers fit the log line.
    unsigned low = (unsigned)(physical / 4 >> 10), high = (unsigned)(physical / 2 >> 10);
    log_printf("Setting working set range to %u - %u\n", low, high);
    // The process may keep as much resident as its address-space limit lets it map.
    struct rlimit limit;
    bool fits = getrlimit(RLIMIT_AS, &limit) == 0 &&
                (limit.rlim_cur == RLIM_INFINITY || (uint64_t)limit.rlim_cur >= ((uint64_t)high << 10));
    log_printf(fits ? "Working set successfully updated\n" : "Working set update failed\n");
    errno = 0;
    int nice_now = getpriority(PRIO_PROCESS, 0);
    bool raised = errno == 0 && (nice_now <= k_high_nice || setpriority(PRIO_PROCESS, 0, k_high_nice) == 0);
    log_printf(raised ? "Priority successfully set to high\n" : "Priority set failed\n");
}
