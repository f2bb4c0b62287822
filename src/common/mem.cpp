#include "common/mem.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>


enum { MAX_TRACKED = 0x100000 };

struct LiveBlock {
    void *ptr;
    int sequence;
    size_t size;
};

static struct {
    int checking;           // -1 not read yet, 0 off, 1 on
    int count;
    int sequence;
    LiveBlock *blocks;      // MAX_TRACKED entries, from the C allocator itself
    void (*oom_hook)(void);
} g_mem = { -1, 0, 0, nullptr, nullptr };

static bool checking(void)
{
    if (g_mem.checking < 0) {
        const char *v = getenv("SK_CHECK_ALLOC");
        g_mem.checking = (v && atoi(v) > 0) ? 1 : 0;
        if (g_mem.checking) {
            g_mem.blocks = (LiveBlock *)malloc(sizeof(LiveBlock) * MAX_TRACKED);
            if (!g_mem.blocks)
                g_mem.checking = 0;
        }
    }
    return g_mem.checking == 1;
}

static void track(void *ptr, size_t size)
{
    int seq = g_mem.sequence++;
    if (!checking())
        return;
    if (g_mem.count >= MAX_TRACKED) {
        fputs("Too many allocations to check!\n", stderr);
        g_mem.checking = 0;
        return;
    }
    g_mem.blocks[g_mem.count++] = { ptr, seq, size };
}

// Searches newest first: most frees are of recent blocks.
static int find_block(void *ptr)
{
    for (int i = g_mem.count - 1; i >= 0; i--)
        if (g_mem.blocks[i].ptr == ptr)
            return i;
    return -1;
}

static void untrack(int i)
{
    memmove(&g_mem.blocks[i], &g_mem.blocks[i + 1], sizeof(LiveBlock) * (size_t)(g_mem.count - i - 1));
    g_mem.count--;
}

void set_out_of_memory_hook(void (*hook)(void))
{
    g_mem.oom_hook = hook;
}

void out_of_memory(void)
{
    if (g_mem.oom_hook) {
        void (*hook)(void) = g_mem.oom_hook;
        g_mem.oom_hook = nullptr;       // a failure inside the hook must not recurse
        hook();
    } else {
        fputs("Error: Out of virtual memory\n", stderr);
    }
    exit(1);
}

void *xmalloc(size_t size)
{
    void *p = malloc(size ? size : 1);
    if (!p)
        out_of_memory();
    track(p, size);
    return p;
}

void *xcalloc(size_t count, size_t size)
{
    void *p = calloc(count ? count : 1, size ? size : 1);
    if (!p)
        out_of_memory();
    track(p, count * size);
    return p;
}

void *xrealloc(void *ptr, size_t size)
{
    if (!ptr)
        return xmalloc(size);
    if (checking()) {
        int i = find_block(ptr);
        if (i < 0) {
            fprintf(stderr, "Allocation not found for %p!\n", ptr);
            return xmalloc(size);
        }
        untrack(i);
    }
    void *p = realloc(ptr, size ? size : 1);
    if (!p)
        out_of_memory();
    track(p, size);
    return p;
}

void xfree(void *ptr)
{
    if (!ptr)
        return;
    if (checking()) {
        int i = find_block(ptr);
        if (i < 0) {
            fprintf(stderr, "Allocation not found for %p!\n", ptr);
            return;
        }
        // Zeroed so that a use after free shows up as nonsense at once.
        memset(ptr, 0, g_mem.blocks[i].size);
        untrack(i);
    }
    free(ptr);
}

char *xstrdup(const char *s)
{
    size_t n = strlen(s) + 1;
    char *p = (char *)xmalloc(n);
    memcpy(p, s, n);
    return p;
}

bool mem_checking(void)
{
    return checking();
}

int mem_live_blocks(void)
{
    return checking() ? g_mem.count : 0;
}

void mem_list_live_blocks(void)
{
    if (!checking())
        return;
    for (int i = 0; i < g_mem.count; i++)
        fprintf(stderr, "%p:%d\n", g_mem.blocks[i].ptr, g_mem.blocks[i].sequence);
}

void mem_reset_for_tests(void)
{
    free(g_mem.blocks);
    g_mem.blocks = nullptr;
    g_mem.count = 0;
    g_mem.sequence = 0;
    g_mem.checking = -1;
}
