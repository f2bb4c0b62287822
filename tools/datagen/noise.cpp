#include <math.h>

#include "datagen.h"

float clampf(float x, float lo, float hi)
{
    return x < lo ? lo : (x > hi ? hi : x);
}

float smoothstep(float e0, float e1, float x)
{
    float t = clampf((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

float hash01(uint32_t seed, int x, int y)
{
    uint32_t h = seed * 0x9E3779B1u ^ (uint32_t)x * 0x85EBCA77u ^ (uint32_t)y * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return (float)(h >> 8) * (1.0f / 16777216.0f);
}

static int wrap(int v, int period)
{
    if (period <= 0)
        return v;
    v %= period;
    return v < 0 ? v + period : v;
}

float value_noise(uint32_t seed, float x, float y, int period)
{
    float fx = floorf(x), fy = floorf(y);
    int ix = (int)fx, iy = (int)fy;
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3.0f - 2.0f * tx);
    ty = ty * ty * (3.0f - 2.0f * ty);
    int x0 = wrap(ix, period), x1 = wrap(ix + 1, period), y0 = wrap(iy, period), y1 = wrap(iy + 1, period);
    float a = hash01(seed, x0, y0), b = hash01(seed, x1, y0);
    float c = hash01(seed, x0, y1), d = hash01(seed, x1, y1);
    float top = a + (b - a) * tx, bottom = c + (d - c) * tx;
    return (top + (bottom - top) * ty) * 2.0f - 1.0f;
}

float fbm(uint32_t seed, float x, float y, int octaves, int period)
{
    float sum = 0.0f, amplitude = 0.5f;
    for (int o = 0; o < octaves; o++) {
        sum += amplitude * value_noise(seed + 101u * o, x, y, period);
        x *= 2.0f;
        y *= 2.0f;
        if (period > 0)
            period *= 2;
        amplitude *= 0.5f;
    }
    return sum * 2.0f;
}
