// The rider body on its mount: springs that hold it at the rest point of the frame, moved by
// the sit and lean inputs. Dabbing, backing up and falls come later.
#pragma once

struct BikeState;

// The rider's vertical and fore-aft springs for the next step (two soft contact joints between
// rider and frame in the contact group) and the mount's suspension along its first axis.
void update_rider_mount(BikeState *bike);
// Places the rider body at the frame's rider rest point, turned and moving with the frame, and
// attaches the rider mount laid out in the frame's own coordinates.
void reseat_rider(BikeState *bike);
// The rider rest point in world coordinates.
void rider_rest_point(const BikeState *bike, double out[3]);
