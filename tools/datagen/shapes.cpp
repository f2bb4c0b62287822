// Collision shapes of the bikes and riders: sphere lists in each body's own coordinates (the
// body sits at its catalogue point; a bike at rest faces -z). Every catalogue row shares the
// generic parts. Nothing reaches more than 0.85 ft to the side, so bikes on neighbouring
// starting-gate places (3.3 ft apart) stand clear of each other.
#include <math.h>
#include <stdio.h>

#include "datagen.h"
#include "vfs/vfs.h"

struct Ball {
    float x, y, z, radius, friction, stiffness, damping;
};

static bool write_shape(const char *dir, const char *name, const Ball *balls, int n)
{
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        return false;
    data_printf(f, "%d\n", n);
    for (int i = 0; i < n; i++)
        data_printf(f, "%g %g %g\n%g %g %g %g\n", balls[i].x, balls[i].y, balls[i].z, balls[i].radius,
                    balls[i].friction, balls[i].stiffness, balls[i].damping);
    bool ok = data_flush(f);
    close_data_file(f);
    return ok;
}

// Eight balls round the tyre in the wheel's plane (y-z), each as fat as the tyre section.
static bool write_wheel(const char *dir, const char *name, float major_radius, float minor_radius)
{
    Ball balls[8];
    for (int i = 0; i < 8; i++) {
        float a = (float)(i * M_PI / 4);
        balls[i] = { 0, major_radius * sinf(a), major_radius * cosf(a), minor_radius, 0.8f, 20000, 100 };
    }
    return write_shape(dir, name, balls, 8);
}

bool write_bike_shapes(const char *dir)
{
    // Soft enough that a pile-up pushes apart over a few tics rather than in one.
    const float mu = 0.6f, k = 20000, c = 100;
    const Ball frame[] = { { 0, 0.1f, -1.1f, 0.4f, mu, k, c }, { 0, 0.1f, 0, 0.4f, mu, k, c },
                           { 0, 0.1f, 1.1f, 0.4f, mu, k, c } };
    // The steering head and both bar ends.
    const Ball upper_fork[] = { { 0, 0, 0, 0.3f, mu, k, c }, { -0.7f, 0.3f, 0.2f, 0.15f, mu, k, c },
                                { 0.7f, 0.3f, 0.2f, 0.15f, mu, k, c } };
    const Ball lower_fork[] = { { -0.3f, 0.2f, 0, 0.12f, mu, k, c }, { 0.3f, 0.2f, 0, 0.12f, mu, k, c } };
    const Ball swingarm[] = { { 0, 0.25f, -0.5f, 0.25f, mu, k, c }, { 0, -0.1f, 0.5f, 0.25f, mu, k, c } };
    // Torso and helmet.
    const Ball rider[] = { { 0, 0, 0, 0.6f, mu, k, c }, { 0, 0.9f, -0.1f, 0.45f, mu, k, c } };
    return write_shape(dir, "generic_frame.shp", frame, 3) && write_shape(dir, "generic_ufork.shp", upper_fork, 3) &&
           write_shape(dir, "generic_lfork.shp", lower_fork, 2) &&
           write_shape(dir, "generic_swingarm.shp", swingarm, 2) && write_shape(dir, "rider.shp", rider, 2) &&
           write_wheel(dir, "generic_fwheel.shp", 0.8333f, 0.3333f) &&
           write_wheel(dir, "generic_rwheel.shp", 0.75f, 0.3333f);
}
