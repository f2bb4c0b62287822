#include "render/scenery/roost.h"

#include <math.h>

#include <ode/ode.h>

#include "bike/bike.h"
#include "render/scenery/scenery.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

static const float k_tic = 1.0f / 128;
static const float k_gravity = 32;
static const float k_park_scale = 0.0078125f;

struct Particle {
    float p[3], v[3];
    int billboard;
    const RoostType *type;
    int prev, next;             // live list links; next alone on the free list
};

static struct {
    Particle pool[ROOST_POOL];
    int free_head = -1, live_head = -1, live_count = 0;
    bool created;
    float density;
    uint32_t state[4];          // xoshiro128**
} g_roost;

// ---- the generator

static uint32_t rotl(uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

static uint32_t next_u32(void)
{
    uint32_t *s = g_roost.state;
    uint32_t result = rotl(s[1] * 5, 7) * 9, t = s[1] << 9;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 11);
    return result;
}

void roost_seed(uint32_t seed)
{
    // splitmix32 fills the state, so no seed leaves it all zero
    for (uint32_t &word : g_roost.state) {
        seed += 0x9e3779b9u;
        uint32_t z = seed;
        z = (z ^ (z >> 16)) * 0x85ebca6bu;
        z = (z ^ (z >> 13)) * 0xc2b2ae35u;
        word = z ^ (z >> 16);
    }
}

float roost_random(void)
{
    if (!(g_roost.state[0] | g_roost.state[1] | g_roost.state[2] | g_roost.state[3]))
        roost_seed(1);
    return (float)(next_u32() >> 8) * (1.0f / 16777216.0f);
}

// ---- the pool

static void clear_lists(void)
{
    g_roost.live_head = -1;
    g_roost.live_count = 0;
    g_roost.free_head = 0;
    for (int i = 0; i < ROOST_POOL; i++) {
        g_roost.pool[i].next = i + 1 < ROOST_POOL ? i + 1 : -1;
        g_roost.pool[i].prev = -1;
    }
}

void roost_pool_create(Terrain *t)
{
    for (int i = 0; t && i < t->tile_count; i++)
        for (RoostType &r : t->tiles[i].roost)
            if (r.state && !r.texture && scenery_hooks()->texture_load)
                r.texture = scenery_hooks()->texture_load(r.texture_name ? r.texture_name : "@roost.png");
    if (!g_roost.created) {
        for (Particle &p : g_roost.pool) {
            p = {};
            p.billboard = billboard_add(0, 0, 0, k_park_scale, 1, 0, nullptr);
        }
        g_roost.created = true;
        scenery_reserved_done();
    }
    for (Particle &p : g_roost.pool)
        if (Billboard *b = billboard(p.billboard))
            b->texture = 0;
    clear_lists();
    roost_seed(0x5eed);
}

void roost_pool_free(void)
{
    g_roost.created = false;
    clear_lists();
    g_roost.free_head = -1;
}

void roost_set_density(float density)
{
    g_roost.density = !(density > 0) ? 0 : density > 1000 ? 1000 : density;
}

float roost_density(void) { return g_roost.density; }

int roost_rounds(void)
{
    int d = (int)g_roost.density;
    return d / 100 + (roost_random() < (float)(d % 100) / 100 ? 1 : 0);
}

int roost_type_count(const RoostType *type, int rounds)
{
    float count = isfinite(type->count) && type->count > 0 ? type->count : 0;
    float whole = floorf(count);
    int k = (int)fminf(whole, 1000) + (roost_random() < count - whole ? 1 : 0);
    return k < rounds ? k : rounds;
}

bool roost_spawn(const RoostType *type, const float position[3], const float velocity[3])
{
    int i = g_roost.free_head;
    if (i < 0 || !g_roost.created)
        return false;
    for (int k = 0; k < 3; k++)
        if (!isfinite(position[k]) || !isfinite(velocity[k]))
            return false;
    Particle &p = g_roost.pool[i];
    g_roost.free_head = p.next;
    for (int k = 0; k < 3; k++)
        p.p[k] = position[k], p.v[k] = velocity[k];
    p.type = type;
    p.prev = -1;
    p.next = g_roost.live_head;
    if (g_roost.live_head >= 0)
        g_roost.pool[g_roost.live_head].prev = i;
    g_roost.live_head = i;
    g_roost.live_count++;
    if (Billboard *b = billboard(p.billboard)) {
        b->x = position[0], b->y = position[1], b->z = position[2];
        b->h = type->size;
        b->aspect = 1;
        b->texture = type->texture;
        b->rgba[0] = type->r, b->rgba[1] = type->g, b->rgba[2] = type->b, b->rgba[3] = type->a;
    }
    return true;
}

static void kill(int i)
{
    Particle &p = g_roost.pool[i];
    if (Billboard *b = billboard(p.billboard))
        b->texture = 0;
    if (p.prev >= 0)
        g_roost.pool[p.prev].next = p.next;
    else
        g_roost.live_head = p.next;
    if (p.next >= 0)
        g_roost.pool[p.next].prev = p.prev;
    p.next = g_roost.free_head;
    p.prev = -1;
    g_roost.free_head = i;
    g_roost.live_count--;
}

int roost_live_count(void) { return g_roost.live_count; }

bool roost_particle(int n, int *billboard_index, float velocity[3])
{
    int i = g_roost.live_head;
    for (; i >= 0 && n > 0; n--)
        i = g_roost.pool[i].next;
    if (i < 0 || n < 0)
        return false;
    *billboard_index = g_roost.pool[i].billboard;
    for (int k = 0; k < 3; k++)
        velocity[k] = g_roost.pool[i].v[k];
    return true;
}

static uint8_t fade(uint8_t value, uint8_t step)
{
    int v = value + (int8_t)step;
    return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

void roost_update(void)
{
    const Terrain *t = scenery_ground();
    for (int i = g_roost.live_head; i >= 0;) {
        Particle &p = g_roost.pool[i];
        int next = p.next;
        const RoostType *type = p.type;
        for (int k = 0; k < 3; k++)
            p.p[k] += p.v[k] * k_tic;
        float m = 1 - type->drag * k_tic;
        p.v[0] *= m;
        p.v[2] *= m;
        p.v[1] = p.v[1] * m - k_gravity * k_tic;
        Billboard *b = billboard(p.billboard);
        if (b) {
            b->x = p.p[0], b->y = p.p[1], b->z = p.p[2];
            b->h += type->grow * k_tic;
            b->rgba[0] = fade(b->rgba[0], type->fade_r);
            b->rgba[1] = fade(b->rgba[1], type->fade_g);
            b->rgba[2] = fade(b->rgba[2], type->fade_b);
            b->rgba[3] = fade(b->rgba[3], type->fade_a);
        }
        float ground = t && t->heights ? terrain_height(t, p.p[0], p.p[2]) : 0;
        if (p.v[1] < 0 && p.p[1] < ground)
            kill(i);
        i = next;
    }
}

// ---- emission

static Vec3 vec(const dReal *v) { return v3((float)v[0], (float)v[1], (float)v[2]); }

// A point turned by angle about the axis through centre (unit axis, Rodrigues).
static Vec3 turn_about(Vec3 point, Vec3 centre, Vec3 axis, float angle)
{
    Vec3 r = v3_sub(point, centre);
    float c = cosf(angle), s = sinf(angle);
    Vec3 out = v3_add(v3_scale(r, c), v3_scale(v3_cross(axis, r), s));
    out = v3_madd(out, axis, v3_dot(axis, r) * (1 - c));
    return v3_add(out, centre);
}

static void jitter_and_spawn(const RoostType *type, Vec3 at, Vec3 v, bool splash)
{
    float r = type->randomize;
    v.x += (roost_random() - 0.5f) * r;
    v.y += (roost_random() - 0.5f) * r;
    v.z += (roost_random() - 0.5f) * r;
    v = v3_scale(v, type->vscale);
    if (splash)
        v = v3_scale(v, roost_random());
    float p[3] = { at.x, at.y, at.z }, vv[3] = { v.x, v.y, v.z };
    roost_spawn(type, p, vv);
}

static void emit_wheel(const WheelContact *w, float spread_limit, int rounds, int32_t tic, const Terrain *t)
{
    if (!(w->depth > 0) || !w->wheel || !t)
        return;
    const TileType *tile = tile_type(t, tile_at(t, w->point.x, w->point.z));
    if (!tile)
        return;
    Vec3 body_v = vec(dBodyGetLinearVel(w->wheel));
    dVector3 axle_w;
    dBodyVectorToWorld(w->wheel, w->axle.x, w->axle.y, w->axle.z, axle_w);
    Vec3 axle = vec(axle_w);
    float spin = v3_dot(vec(dBodyGetAngularVel(w->wheel)), axle);
    Vec3 centre = vec(dBodyGetPosition(w->wheel));
    for (const RoostType &type : tile->roost) {
        if (!type.state)
            break;
        int k = roost_type_count(&type, rounds);
        if (k <= 0)
            continue;
        if (type.state == 2) {
            Vec3 n = w->normal;
            Vec3 tv = v3_madd(body_v, n, -v3_dot(body_v, n));
            float len = v3_length(tv);
            if (!(len > 1e-6f))
                continue;
            Vec3 side = v3_cross(n, v3_scale(tv, 1 / len));
            Vec3 dirs[2] = { v3_scale(v3_add(n, side), len * 0.7071067811865476f),
                             v3_scale(v3_sub(n, side), len * 0.7071067811865476f) };
            for (int i = 0; i < k; i++) {
                Vec3 d = dirs[((uint32_t)i ^ (uint32_t)tic) & 1];
                jitter_and_spawn(&type, v3_madd(w->point, d, k_tic * i / k), d, true);
            }
            continue;
        }
        if (!(v3_length(w->velocity) >= type.slip_threshold))
            continue;
        float spread = 0.0490874f;
        if (v3_dot(w->velocity, body_v) < 0) {
            float s2 = spin * spin;
            float ramp = tile_ramp(s2, type.slow_speed * type.slow_speed, type.fast_speed * type.fast_speed);
            spread = type.slow_angle + (type.fast_angle - type.slow_angle) * ramp;
            spread = fminf(spread, spread_limit);
        }
        // Points further round the tyre in the way it spins: thrown off its back and top.
        float direction = spin < 0 ? -1.0f : 1.0f;
        for (int i = 0; i < k; i++) {
            float angle = roost_random() * spread * direction;
            Vec3 at = turn_about(w->point, centre, axle, angle);
            dVector3 pv;
            dBodyGetPointVel(w->wheel, at.x, at.y, at.z, pv);
            Vec3 v = vec(pv);
            jitter_and_spawn(&type, v3_madd(at, v, k_tic * i / k), v, false);
        }
    }
}

void roost_emit(int, BikeState *bike, int32_t tic)
{
    if (!bike || !bike->built || !g_roost.created || g_roost.density <= 0)
        return;
    int rounds = roost_rounds();
    if (rounds <= 0)
        return;
    const Terrain *t = scenery_ground();
    emit_wheel(&bike->wheel[0], 0.3926991f, rounds, tic, t);
    emit_wheel(&bike->wheel[1], 6.2831855f, rounds, tic, t);
}
