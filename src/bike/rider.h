// The rider body on its mount: springs that hold it at the rest point of the frame, moved by
// the sit and lean inputs; the foot put down to hold the bike up at low speed (dabbing), the
// bike walked backwards, and the turn at a standstill towards where the track goes on.
#pragma once

struct BikeFoot;
struct BikeState;
struct RiderTic;

// The rider's vertical and fore-aft springs for the next step (two soft contact joints between
// rider and frame in the contact group) and the mount's suspension along its first axis. None
// while the rider is fallen: the ropes hold it then.
void update_rider_mount(BikeState *bike);
// The springs' aims, with J the rider's height below its rest point along the frame's up axis
// and the sit (0..1) and lean (-1..1) inputs: the fore-aft target along the frame's rearward
// axis (ft), and the vertical error (ft, positive: the rider is to rise). Sitting lowers the
// rider by half a foot.
double rider_fore_aft_target(double jump, double sit, double lean);
double rider_vertical_error(double jump, double sit);
// Places the rider body at the frame's rider rest point, turned and moving with the frame, and
// attaches the rider mount laid out in the frame's own coordinates.
void reseat_rider(BikeState *bike);
// The rider rest point in world coordinates.
void rider_rest_point(const BikeState *bike, double out[3]);

// Adds the horizontal part of a force that drives the frame's velocity towards (vx, vy, vz)
// with strength h (at most h lbf); nothing within 0.25 ft/s.
void hold_force(BikeState *bike, double vx, double vy, double vz, double h);
// The walking pulse of backing up at tic `tic` (0..1): none before the start in three
// seconds out of four.
double backup_pulse(int tic, int gate_drop_tic);
// The lean reserve's scale on the dab force (0..1) at speed v with dab limit `limit`, lean
// `lean` and steer input s.
double dab_reserve(double v, double limit, double lean, double roll_limit_angle, double steer);

// Dab when stopped, the hold at a standstill and backing up, then the dab support with the
// turn at a standstill (rider not fallen).
void update_dab_and_backup(BikeState *bike, const RiderTic *ctx);

// The rider's part of a control update after the steering: the bump timer, then for a riding
// rider the dab and backing up and the fall test, for a fallen one the ropes and the return.
void bike_dab_and_falls(BikeState *bike, const RiderTic *ctx);

// Readings for the HUD, the rider figure and the robots; 0 or false for no bike.
bool  bike_fallen(const BikeState *bike);
int   bike_fall_timer(const BikeState *bike);
float bike_foot_down(const BikeState *bike);
bool  bike_sticky_dab_on(const BikeState *bike);       // the HUD's "Dabbing!"
float bike_steer_indicator(const BikeState *bike);
// The two feet (-x, +x) recorded when the fall began and moved since; null for no bike.
const BikeFoot *bike_recorded_feet(const BikeState *bike);
