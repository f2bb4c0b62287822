// The rider figure as drawn: the lean-back posture correction, arms and legs solved as two-bone
// chains to the grips and feet, the nine bones' frames for skinning and the head's turn. Pure
// geometry over the bodies' state; the renderer draws from it.
//
// Skinning conventions, shared with the data generator: rider-model coordinates are rider-body
// coordinates; the rest pose hangs the arms and legs straight down from the shoulders and hips;
// each bone's rest frame is the identity and its rest centre the joint where it starts (the
// torso: the body's origin). A limb bone's frame has y' = -unit(bone), x' = the body's x made
// orthogonal to y', z' = x' x y'.
#pragma once
#include "common/vecmath.h"

struct BikeState;
struct Terrain;

// Bone order of the rider body model.
enum RiderBone {
    BONE_FOREARM_L, BONE_FOREARM_R, BONE_UPPER_ARM_L, BONE_UPPER_ARM_R,
    BONE_SHIN_L, BONE_SHIN_R, BONE_THIGH_L, BONE_THIGH_R, BONE_TORSO, RIDER_BONES
};

// One palette entry: a rest-pose point v goes to rotation * (v - centre) + translation.
struct FigureBone {
    Vec3 centre, translation;
    Mat3 rotation;
};

struct RiderFigure {
    Vec3 body_position;             // the rider body after the posture correction
    Mat3 body_rotation;
    float lean_back;                // the tilt factor used, 0..0.375
    Vec3 shoulder[2], elbow[2], grip[2];    // -x side first
    Vec3 hip[2], knee[2], foot[2];
    float foot_down[2];
    FigureBone bones[RIDER_BONES];
    Vec3 head_position;
    Mat3 head_rotation;
};

// The middle joint of a chain from root to target with lengths a and b, bent towards the pole.
// The reach is kept within max(|a - b|, 1e-4) .. 0.95 (a + b), so the limb never straightens;
// a pole on the line bends it along a fixed perpendicular.
Vec3 solve_two_bone(Vec3 root, Vec3 target, float a, float b, Vec3 pole);

// The lean-back tilt for shoulders `distance` ft from the grips: 0.375 x clamp(1.25 - d, 0, 1).
float posture_tilt(float distance);

// Head yaw (rad, about the world's up axis) from the frame's heading towards the horizontal
// velocity (vx, vz) above 3 ft/s, at most 45 degrees either way; 0 at rest. forward is the
// frame's forward direction in the world.
float head_turn(Vec3 forward, float vx, float vz);

// The frame of a limb bone from joint `from` to joint `to`, with the body's x axis.
Mat3 limb_frame(Vec3 from, Vec3 to, Vec3 body_x);

// The figure of the bike's rider from the current state, with the posture correction; the
// rider body's physical position and rotation are left as they were. False for no bike.
bool rider_figure(BikeState *bike, const Terrain *ground, RiderFigure *out);
