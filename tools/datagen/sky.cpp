// The default sky: five faces of a cube around the eye and a sphere map for reflections, all
// painted from one function of direction (a gradient from the horizon up, clouds, the sun's
// disc where the tracks' sun points), and the pictures of the sun's lens flare.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "datagen.h"
#include "render/image/image.h"

static const int k_face_size = 256, k_env_size = 128, k_flare_size = 64;
static const uint32_t k_cloud_seed = 0x5c1e5u;
static const float k_disc_radius = 0.045f;     // radians: about 2.6 degrees across half
// Corners of each face as the game draws them, seen from inside: top-left, top-right,
// bottom-right, bottom-left of the picture. "n" -z, "e" +x, "s" +z, "w" -x, "u" +y with its
// top edge towards north.
static const float k_faces[5][4][3] = {
    { { -1, 1, -1 }, { 1, 1, -1 }, { 1, -1, -1 }, { -1, -1, -1 } },
    { { 1, 1, -1 }, { 1, 1, 1 }, { 1, -1, 1 }, { 1, -1, -1 } },
    { { 1, 1, 1 }, { -1, 1, 1 }, { -1, -1, 1 }, { 1, -1, 1 } },
    { { -1, 1, 1 }, { -1, 1, -1 }, { -1, -1, -1 }, { -1, -1, 1 } },
    { { 1, 1, -1 }, { -1, 1, -1 }, { -1, 1, 1 }, { 1, 1, 1 } },
};
static const char *const k_face_names[5] = { "sky-n.ppm", "sky-e.ppm", "sky-s.ppm", "sky-w.ppm", "sky-u.ppm" };

static void mix(float *c, const float *to, float t)
{
    for (int i = 0; i < 3; i++)
        c[i] += (to[i] - c[i]) * t;
}

// Colour 0..1 of the sky in unit direction d.
static void sky_color(const float d[3], float out[3])
{
    static const float horizon[3] = { 0.80f, 0.86f, 0.92f }, zenith[3] = { 0.26f, 0.46f, 0.82f };
    static const float ground[3] = { 0.56f, 0.60f, 0.56f }, cloud[3] = { 0.93f, 0.93f, 0.95f };
    float up = d[1];
    if (up < 0) {
        memcpy(out, horizon, sizeof horizon);
        mix(out, ground, smoothstep(0, 0.08f, -up));
    } else {
        memcpy(out, horizon, sizeof horizon);
        mix(out, zenith, powf(up, 0.6f));
        // Clouds on a flat layer overhead, thinning towards the horizon where they bunch up.
        if (up > 0.03f) {
            float x = d[0] / up, z = d[2] / up;
            float n = fbm(k_cloud_seed, x * 1.3f + 7, z * 1.3f + 3, 5, 0);
            float amount = smoothstep(0.05f, 0.45f, n) * smoothstep(0.03f, 0.25f, up) * 0.75f;
            mix(out, cloud, amount);
        }
    }
    float s[3] = { k_sun_vector[0], k_sun_vector[1], k_sun_vector[2] };
    float len = sqrtf(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    float c = (d[0] * s[0] + d[1] * s[1] + d[2] * s[2]) / len;
    float angle = acosf(clampf(c, -1, 1));
    static const float white[3] = { 1, 1, 1 };
    // A soft glow round the disc; the disc itself bright in every channel.
    mix(out, white, 0.55f * expf(-angle / 0.12f));
    if (angle < k_disc_radius) {
        out[0] = 1.0f;
        out[1] = 0.99f;
        out[2] = 0.96f;
    }
}

static unsigned char byte_of(float v) { return (unsigned char)lrintf(clampf(v, 0, 1) * 255); }

static bool write_face(const char *dir, int face)
{
    std::vector<unsigned char> px((size_t)k_face_size * k_face_size * 3);
    const float(*c)[3] = k_faces[face];
    for (int row = 0; row < k_face_size; row++)
        for (int col = 0; col < k_face_size; col++) {
            float u = (col + 0.5f) / k_face_size, v = (row + 0.5f) / k_face_size, d[3];
            for (int i = 0; i < 3; i++)
                d[i] = c[0][i] + u * (c[1][i] - c[0][i]) + v * (c[3][i] - c[0][i]);
            float len = sqrtf(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), rgb[3];
            for (float &x : d)
                x /= len;
            sky_color(d, rgb);
            for (int i = 0; i < 3; i++)
                px[((size_t)row * k_face_size + col) * 3 + i] = byte_of(rgb[i]);
        }
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, k_face_names[face]);
    return ppm_write(path, px.data(), k_face_size, k_face_size);
}

// A sphere map: texel (s, t) holds the sky in the direction reflected off the sphere's normal
// there, with the map's t growing upwards as texture coordinates do.
static bool write_environment(const char *dir)
{
    std::vector<unsigned char> px((size_t)k_env_size * k_env_size * 3);
    for (int row = 0; row < k_env_size; row++)
        for (int col = 0; col < k_env_size; col++) {
            float nx = 2 * (col + 0.5f) / k_env_size - 1, ny = 2 * (row + 0.5f) / k_env_size - 1;
            float r2 = nx * nx + ny * ny;
            float nz = r2 < 1 ? sqrtf(1 - r2) : 0;
            if (r2 >= 1) {
                float r = sqrtf(r2);
                nx /= r;
                ny /= r;
            }
            // The view along -z reflected, as if the camera faced north.
            float d[3] = { 2 * nz * nx, 2 * nz * ny, 2 * nz * nz - 1 }, rgb[3];
            sky_color(d, rgb);
            for (int i = 0; i < 3; i++)
                px[((size_t)row * k_env_size + col) * 3 + i] = byte_of(rgb[i]);
        }
    char path[1100];
    snprintf(path, sizeof path, "%s/sky-env.ppm", dir);
    return ppm_write(path, px.data(), k_env_size, k_env_size);
}

// Grey pictures of the flare's pieces, added to the frame: a glow, a ring and a soft disc.
static bool write_flare(const char *dir, const char *name, int kind)
{
    std::vector<unsigned char> px((size_t)k_flare_size * k_flare_size * 3);
    for (int row = 0; row < k_flare_size; row++)
        for (int col = 0; col < k_flare_size; col++) {
            float x = 2 * (col + 0.5f) / k_flare_size - 1, y = 2 * (row + 0.5f) / k_flare_size - 1;
            float r = sqrtf(x * x + y * y), v;
            if (kind == 0)
                v = powf(clampf(1 - r, 0, 1), 2.2f);
            else if (kind == 1)
                v = expf(-(r - 0.8f) * (r - 0.8f) / 0.006f) * (r < 1 ? 1 : 0);
            else
                v = 1 - smoothstep(0.6f, 1.0f, r);
            unsigned char b = byte_of(v);
            for (int i = 0; i < 3; i++)
                px[((size_t)row * k_flare_size + col) * 3 + i] = b;
        }
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    return png_write(path, px.data(), k_flare_size, k_flare_size);
}

bool write_sky(const char *dir)
{
    bool ok = true;
    for (int face = 0; face < 5; face++)
        ok = ok && write_face(dir, face);
    ok = ok && write_environment(dir);
    ok = ok && write_flare(dir, "flare-glow.png", 0);
    ok = ok && write_flare(dir, "flare-ring.png", 1);
    ok = ok && write_flare(dir, "flare-disc.png", 2);
    return ok;
}

// The sun's flare: pieces along the line from the sun through the centre of the view.
int sky_flare_text(char *out, int size)
{
    return snprintf(out, (size_t)size,
                    "flare_element [ 1 0 ] [ 0.50 0.45 0.35 ] 90 @flare-glow.png\n"
                    "flare_element [ 0.55 0 ] [ 0.16 0.20 0.24 ] 22 @flare-disc.png\n"
                    "flare_element [ 0.2 0 ] [ 0.12 0.18 0.10 ] 40 @flare-ring.png\n"
                    "flare_element [ -0.25 0 ] [ 0.22 0.14 0.08 ] 16 @flare-disc.png\n"
                    "flare_element [ -0.6 0 ] [ 0.10 0.15 0.24 ] 56 @flare-ring.png\n"
                    "flare_element [ -1 0 ] [ 0.16 0.10 0.20 ] 28 @flare-disc.png\n"
                    "flare_vector [ %.2f %.2f %.2f ]\n",
                    k_sun_vector[0], k_sun_vector[1], k_sun_vector[2]);
}
