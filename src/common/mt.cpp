#include "common/mt.h"

enum { MT_N = 624, MT_M = 397 };

static struct {
    uint32_t state[MT_N];
    int index;                      // MT_N + 1: never seeded
} g_mt = { {}, MT_N + 1 };

void mt_seed(uint32_t seed)
{
    g_mt.state[0] = seed;
    for (int i = 1; i < MT_N; i++) {
        uint32_t prev = g_mt.state[i - 1];
        g_mt.state[i] = 1812433253u * (prev ^ (prev >> 30)) + (uint32_t)i;
    }
    g_mt.index = MT_N;
}

static void twist(void)
{
    for (int i = 0; i < MT_N; i++) {
        uint32_t y = (g_mt.state[i] & 0x80000000u) | (g_mt.state[(i + 1) % MT_N] & 0x7fffffffu);
        uint32_t v = g_mt.state[(i + MT_M) % MT_N] ^ (y >> 1);
        if (y & 1)
            v ^= 0x9908b0dfu;
        g_mt.state[i] = v;
    }
    g_mt.index = 0;
}

uint32_t mt_next(void)
{
    if (g_mt.index > MT_N)
        mt_seed(5489u);
    if (g_mt.index >= MT_N)
        twist();
    uint32_t y = g_mt.state[g_mt.index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}
