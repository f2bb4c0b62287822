// Falls: the rider thrown off by a hard hit or landing, pulled back to the bike by soft ropes
// and re-seated; the bump timer of bike-to-bike hits; where the rider's feet are.
#pragma once
#include "common/vecmath.h"

struct BikeState;
struct RiderTic;
struct Terrain;

enum { KNOCKOUT_DELAYS = 16, KNOCKOUT_MAX_TICS = 460800 };

// The velocity (ft/s) and acceleration (ft/s^2) limits of the fall test at tic `now` with the
// last take-off and landing tics.
void fall_limits(int now, int takeoff_tic, int landing_tic, double *velocity, double *acceleration);
// The fall test of a riding bike (not in arcade physics): starts a fall when the rider is
// thrown too hard against the bike; keeps the take-off and landing tics and the velocity ring.
// True when a fall started.
bool check_fall(BikeState *bike, const RiderTic *ctx);
// Detaches the rider, records the feet and starts the fall timer (512 tics plus the knockout
// delay of this rider's fall count).
void start_fall(BikeState *bike, const RiderTic *ctx);
// One tic of a fallen rider: the countdown while it lies still, the ropes, the return.
void update_fallen(BikeState *bike, const RiderTic *ctx);
// A soft rope between a point of body A and one of body B (body coordinates) with free length
// `length`: a contact joint of this step while they are farther apart. True when made.
bool rope(BikeState *bike, int body_a, const double a[3], int body_b, const double b[3], double length);

// The server's knockout delays (tics), each clamped to 0..460800; null or fewer values set
// the rest to 0.
void set_knockout_delays(const int *tics, int count);
int  knockout_delay(int fall_count);

// After a bike-to-bike test that found contact: raises the bump timers from the part masks.
void bump_after_collision(BikeState *a, int mask_a, BikeState *b, int mask_b);
// One tic of the bump timer's fall.
void bump_tick(BikeState *bike);

// The world positions of the two feet (-x, +x) and how far each is put down (0..1); the ground
// (may be null) places a dabbing foot.
void foot_points(const BikeState *bike, const Terrain *ground, Vec3 feet[2], float down[2]);
