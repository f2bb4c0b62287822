// Engine, clutch, gearbox and brakes. The engine is one rotating mass with its own speed,
// integrated here every tic; it drives the rear wheel through a torsional spring and damper
// (the drive-line) scaled by the clutch, and the drive-line's reaction pitches the frame. The
// brakes are the motors of the two axle hinges. Units: lbf ft, rad, rad/s; rpm where named.
#pragma once

struct BikeState;

// The rider's inputs, each clamped (a value that is not a number counts as 0).
void set_throttle(BikeState *bike, float x);        // 0..1; 0 while the rider is fallen
void set_front_brake(BikeState *bike, float x);     // 0..1
void set_rear_brake(BikeState *bike, float x);      // 0..1
// The clutch lever, 0 released .. 1 pulled; the engagement follows it in the drive update.
void set_clutch_lever(BikeState *bike, float x);
// -1 down, 0 none, +1 up. Holding a direction shifts once: it acts only when it differs from
// the last input. Missing gears are skipped downwards; there is no neutral below first.
void shift(BikeState *bike, int direction);
// The player's nine control channels to the inputs: steer (reversed when the setup's
// "Reversed Steering" is "Yes"), throttle, front brake, rear brake, shift with its +-0.5
// thresholds, clutch, sit/dab (with "Sticky Sit/Dab" each rise through 0.5 flips the bike's
// toggle, which is used instead), back up and lean. Throttle, sit, back up and lean read 0
// while the rider is fallen.
void bike_apply_channels(BikeState *bike, const float *channels);

// The overall reduction from crank to rear wheel in a gear (0 is first); 0 or less when the
// bike has no such gear.
double bike_gear_ratio(const BikeState *bike, int gear);
// The crank torque at the engine's speed and throttle: the closed- and full-throttle curves
// blended by the throttle. With the throttle-side wheelie guard, 0 instead of a positive
// torque while the front wheel is up, the rear down and the frame not pitching nose-down.
float engine_torque(const BikeState *bike);

// The parts of the drive update, in their order (exposed for tests):
// the clutch engagement follows the lever: engaging at 4/128 a tic, releasing at once;
void update_clutch(BikeState *bike);
// with automatic shifting, on tics that are multiples of 32, a gear up or down from the speed
// the rear wheel implies, while the rear suspension carries load and the tyre grips;
void auto_shift(BikeState *bike, int tic);
// the drive-line: coupling torque on wheel and frame, clutch slip, the engine's speed;
void update_drivetrain(BikeState *bike);
// the brake motors, with antilock and the brake-side wheelie guard.
void update_brakes(BikeState *bike);

// The control update's drive step for tic `tic` (the race tic): all four parts above.
void bike_drive_update(BikeState *bike, int tic);
