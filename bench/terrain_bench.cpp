// Height and triangle-normal queries over random points of a 1025 x 1025 field: the wheel
// contact calls both for every wheel every tic.
#include <benchmark/benchmark.h>

#include <math.h>

#include "common/mt.h"
#include "terrain/terrain.h"

static Terrain *field(void)
{
    static Terrain t = {};
    if (!t.heights) {
        terrain_create(&t, 9, 2.0f);    // dim 1025
        for (int j = 0; j < t.dim; j++)
            for (int i = 0; i < t.dim; i++)
                t.heights[i + j * t.dim] = 10.0f * sinf(i * 0.05f) * cosf(j * 0.037f);
    }
    return &t;
}

static const int k_points = 4096;

static void points(float *x, float *z, float extent)
{
    mt_seed(12345);
    for (int k = 0; k < k_points; k++) {
        x[k] = (mt_next() >> 8) * (1.0f / 16777216.0f) * extent;
        z[k] = (mt_next() >> 8) * (1.0f / 16777216.0f) * extent;
    }
}

static void BM_TerrainHeight(benchmark::State &state)
{
    Terrain *t = field();
    static float x[k_points], z[k_points];
    points(x, z, (t->dim - 1) * t->spacing);
    int k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(terrain_height(t, x[k], z[k]));
        k = (k + 1) & (k_points - 1);
    }
}
BENCHMARK(BM_TerrainHeight);

static void BM_TerrainTriangleNormal(benchmark::State &state)
{
    Terrain *t = field();
    static float x[k_points], z[k_points];
    points(x, z, (t->dim - 1) * t->spacing);
    int k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(terrain_triangle_normal(t, x[k], z[k]));
        k = (k + 1) & (k_points - 1);
    }
}
BENCHMARK(BM_TerrainTriangleNormal);

BENCHMARK_MAIN();
