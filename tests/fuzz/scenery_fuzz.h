// The scenery readers' fuzz entry, shared by the libFuzzer target and the corpus replay test.
#pragma once
#include <math.h>
#include <stddef.h>
#include <stdint.h>

#include "render/scenery/decal.h"
#include "render/scenery/flaggers.h"
#include "render/scenery/scenery.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

// Every object made must be finite: nothing non-finite may reach the keys, the sort or GL.
inline void fuzz_scenery(const uint8_t *data, size_t n)
{
    static Terrain ground;
    if (!ground.heights && !terrain_create(&ground, 7, 1.0f))
        return;
    scenery_set_ground(&ground);
    static const uint8_t empty[1] = { 0 };
    const void *bytes = n ? (const void *)data : (const void *)empty;
    for (int reader = 0; reader < 4; reader++) {
        DataFile *f = open_memory_data_file(bytes, n, false);
        if (!f)
            return;
        if (reader == 0)
            flaggers_load(f, 3);
        else if (reader == 1)
            billboards_load(f);
        else if (reader == 2)
            statues_load(f);
        else
            decals_load(&ground, f);
        close_data_file(f);
    }
    for (int i = 0; i < billboard_count(); i++) {
        const Billboard *b = billboard(i);
        if (!isfinite(b->x) || !isfinite(b->y) || !isfinite(b->z) || !isfinite(b->h) || !isfinite(b->aspect))
            __builtin_trap();
    }
    for (int i = 0; i < statue_count(); i++)
        for (float v : statue(i)->m)
            if (!isfinite(v))
                __builtin_trap();
    for (int i = 0; i < ground.decal_count; i++)
        if (!isfinite(ground.decals[i].x) || !isfinite(ground.decals[i].sin_angle))
            __builtin_trap();
    const Flaggers *fl = flaggers();
    for (int i = 0; i < fl->worker_count; i++)
        for (int g : fl->workers[i].gates)
            if (g < -1 || g > 2)
                __builtin_trap();
    decals_free(&ground);
    scenery_free_all();
}
