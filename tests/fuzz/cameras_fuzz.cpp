// libFuzzer target: the "cameras" reader over arbitrary bytes. Every camera it keeps must have
// a finite position and every gate must name a camera that exists.
#include <math.h>
#include <stddef.h>
#include <stdint.h>

#include "render/cameras.h"
#include "vfs/vfs.h"

static float ground(float x, float z) { return x * 0.001f - z * 0.002f; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static uint8_t empty[1];
    cameras_set_ground(ground);
    DataFile *f = open_memory_data_file(size ? data : empty, size, false);
    int n = cameras_read(f);
    close_data_file(f);
    if (n != camera_count() || n < 0 || n > TRACK_CAMERAS_MAX)
        __builtin_trap();
    for (int i = 0; i < n; i++) {
        const TrackCamera *c = track_camera(i);
        if (!isfinite(c->position.x) || !isfinite(c->position.y) || !isfinite(c->position.z) || !(c->fov >= 0) ||
            !(c->autofov >= 0))
            __builtin_trap();
    }
    for (int g = 0; g < CAMERA_GATES; g++)
        if (camera_for_gate(g) >= n || camera_for_gate(g) < -1)
            __builtin_trap();
    cameras_free();
    return 0;
}
