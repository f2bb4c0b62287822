// Roost: the dirt, sand and water that wheels throw. A fixed pool of particles, each owning a
// billboard slot reserved with the scenery, so that the billboards' sort and drawing serve it.
// It draws from its own random generator, seeded at each session load: the player's roost
// density never moves the simulation's random sequence.
#pragma once
#include <stdint.h>

struct BikeState;
struct RoostType;
struct Terrain;

enum { ROOST_POOL = 2000 };

// Reserves the pool's billboard slots (scale 0.0078125, parked at the field's origin, no
// texture), frees every particle, loads the tile types' roost textures and seeds the generator.
void roost_pool_create(Terrain *t);
void roost_pool_free(void);

// "roost_density" 0..1000 (clamped; "--roostfrequency" overrides it).
void roost_set_density(float density);
float roost_density(void);
// Emission rounds of one tic: density / 100, one more with probability (density mod 100) / 100.
int  roost_rounds(void);
// Particles of one roost type in a round of n: floor(count), one more with probability
// frac(count), at most n.
int  roost_type_count(const RoostType *type, int rounds);

// One tic of one bike: both wheels from their contact records (front spread limit pi/8, rear 2 pi).
void roost_emit(int slot, BikeState *bike, int32_t tic);
// One tic of every particle in flight: flight with drag and gravity, growth, fading, and death
// once falling below the ground.
void roost_update(void);

// Spawns one particle (tests, scripts): false when the pool is exhausted.
bool roost_spawn(const RoostType *type, const float position[3], const float velocity[3]);
int  roost_live_count(void);
// A live particle's billboard and velocity, by its place in the live list; false outside.
bool roost_particle(int n, int *billboard, float velocity[3]);
// The generator's next 24-bit number as a fraction in [0, 1).
float roost_random(void);
void roost_seed(uint32_t seed);
