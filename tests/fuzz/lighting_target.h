// The lighting reader's fuzz entry, shared by its libFuzzer target and the corpus replay test:
// whatever the bytes, the state it leaves must be safe to hand to GL.
#pragma once
#include <math.h>
#include <stddef.h>
#include <stdint.h>

#include "render/lighting.h"
#include "vfs/vfs.h"

inline void fuzz_lighting(const uint8_t *data, size_t n)
{
    static uint8_t empty[1];
    DataFile *f = open_memory_data_file(n ? data : empty, n, false);
    if (!f)
        return;
    Lighting l = {};
    lighting_reset(&l);
    lighting_read(&l, f);
    close_data_file(f);
    lighting_finish(&l);
    const float *all[] = { l.sun_vector, l.sun_color, l.ambient, l.global_ambient, l.fog_color };
    for (const float *v : all)
        for (int i = 0; i < 3; i++)
            if (!isfinite(v[i]))
                __builtin_trap();
    float sun = l.sun_vector[0] * l.sun_vector[0] + l.sun_vector[1] * l.sun_vector[1] + l.sun_vector[2] * l.sun_vector[2];
    if (!isfinite(l.fog_density) || !(l.near_plane > 0) || !(l.far_plane >= l.near_plane) || !(l.far_plane <= 1048576) ||
        fabsf(sun - 1) > 1e-4f)
        __builtin_trap();
    for (int k = 0; k < l.flare_count; k++) {
        int elements = lens_flare_elements(&l, k);
        float at[3];
        bool point;
        if (elements < 1 || elements > LENS_FLARE_MAX_ELEMENTS || !lens_flare_anchor(&l, k, at, &point) ||
            !isfinite(at[0] + at[1] + at[2]))
            __builtin_trap();
    }
    lighting_free(&l);
}
