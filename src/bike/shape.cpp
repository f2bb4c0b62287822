#include "bike/shape.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "platform/log.h"
#include "vfs/vfs.h"

static struct {
    Shape *shapes;                  // count entries; id = index + 1
    int count, capacity;
} g_shapes;

static bool read_shape(const char *name, Shape *out)
{
    DataFile *f = open_data_file(name, "r");
    if (!f) {
        log_printf("Warning: Can't load %.900s\n", name);
        return false;
    }
    int count = -1;
    bool ok = data_scanf(f, "%d", &count) == 1 && count >= 0 && count <= SHAPE_MAX_SPHERES;
    ShapeSphere *spheres = ok && count > 0 ? (ShapeSphere *)xcalloc((size_t)count, sizeof *spheres) : nullptr;
    float bound = 0;
    for (int i = 0; ok && i < count; i++) {
        ShapeSphere *s = &spheres[i];
        ok = data_scanf(f, "%f", &s->centre[0]) == 1 && data_scanf(f, "%f", &s->centre[1]) == 1 &&
             data_scanf(f, "%f", &s->centre[2]) == 1 &&
             data_scanf(f, "%f %f %f %f", &s->radius, &s->friction, &s->stiffness, &s->damping) == 4;
        if (ok) {
            float reach = sqrtf(s->centre[0] * s->centre[0] + s->centre[1] * s->centre[1] +
                                s->centre[2] * s->centre[2]) + s->radius;
            ok = isfinite(reach);
            if (reach > bound)
                bound = reach;
        }
    }
    close_data_file(f);
    if (!ok) {
        log_printf("Warning: bad shape file %.900s\n", name);
        xfree(spheres);
        return false;
    }
    snprintf(out->name, sizeof out->name, "%s", name);
    out->bound = bound;
    out->count = count;
    out->spheres = spheres;
    return true;
}

int shape_load(const char *name)
{
    if (!name || !*name || strlen(name) >= sizeof g_shapes.shapes[0].name)
        return 0;
    for (int i = 0; i < g_shapes.count; i++)
        if (strcmp(g_shapes.shapes[i].name, name) == 0)
            return i + 1;
    Shape s = {};
    if (!read_shape(name, &s))
        return 0;
    if (g_shapes.count == g_shapes.capacity) {
        g_shapes.capacity = g_shapes.capacity ? g_shapes.capacity * 2 : 16;
        g_shapes.shapes = (Shape *)xrealloc(g_shapes.shapes, (size_t)g_shapes.capacity * sizeof(Shape));
    }
    g_shapes.shapes[g_shapes.count++] = s;
    return g_shapes.count;
}

const Shape *shape_get(int id)
{
    if (id < 1 || id > g_shapes.count)
        return nullptr;
    return &g_shapes.shapes[id - 1];
}

void shape_cache_free(void)
{
    for (int i = 0; i < g_shapes.count; i++)
        xfree(g_shapes.shapes[i].spheres);
    xfree(g_shapes.shapes);
    g_shapes = {};
}
