// The platform clock: monotonic, counted from the first reading, millisecond resolution.
#pragma once

void clock_now(long *sec, long *usec);
double clock_seconds(void);                  // the same reading as one number
void sleep_for(long sec, long usec);         // coarse sleep, then yields until due

// Test hook: replaces the clock (null restores the system clock). With an injected clock
// sleep_for advances nothing and returns at once; the test moves time itself.
void clock_set_source(void (*source)(long *sec, long *usec));
bool clock_injected(void);
