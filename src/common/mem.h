// Tracked allocation: every Part allocates through these wrappers.
// With SK_CHECK_ALLOC > 0 (read once, on first use) a table of live blocks is kept
// and the blocks still live at shutdown can be listed.
#pragma once
#include <stddef.h>

void *xmalloc(size_t size);                 // never null: out_of_memory ends the process
void *xcalloc(size_t count, size_t size);   // never null
void *xrealloc(void *ptr, size_t size);     // never null for size > 0
void  xfree(void *ptr);                     // unknown pointers are reported and left alone
char *xstrdup(const char *s);               // never null

// Reports "Out of virtual memory" through the hook (the driver's closes sound and window and
// shows the "Error" box), or on standard error when none is set, and exits with status 1.
[[noreturn]] void out_of_memory(void);
void set_out_of_memory_hook(void (*hook)(void));

bool mem_checking(void);                    // true while the live-block table is kept
int  mem_live_blocks(void);                 // entries in the table (0 when not checking)
void mem_list_live_blocks(void);            // "%p:%d\n" per live block on standard error

// Test hook: re-reads SK_CHECK_ALLOC, empties the table and counts sequence numbers from 0.
void mem_reset_for_tests(void);
