// The rider body on its mount: springs that hold it at the rest point of the frame, moved by
// the sit and lean inputs. Dabbing, backing up and falls come later.
#pragma once

struct BikeState;

// The rider's vertical and fore-aft springs for the next step (two soft contact joints between
// rider and frame in the contact group) and the mount's suspension along its first axis.
void update_rider_mount(BikeState *bike);
// The rider rest point in world coordinates.
void rider_rest_point(const BikeState *bike, double out[3]);
