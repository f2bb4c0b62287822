// How the robot riders take part in the session and the tic. They sit above the race (they
// read its timing and pass times), so the race reaches them only through these hooks, which
// the robots install; every null entry does nothing and reports "nothing there", and then a
// robot stands still and no line is learned.
#pragma once

struct BikeState;
struct DataFile;

struct RobotHooks {
    // The riding-line store of the loaded track (see session_steps.h for when each is called).
    int  (*lines_slot_count)(void);
    void (*lines_read)(DataFile *f, int count);
    void (*lines_analyze)(void);
    void (*lines_write)(int skill);
    void (*lines_reset)(void);
    void (*lines_clear_progress)(void);
    void (*lines_create_segments)(int segments);
    void (*lines_write_and_free)(bool learn);
    // Per tic for each bike, after its control update and gate passing: passed is the position
    // passed in this tic (-1 none), expected the one that was next before.
    void (*lines_record)(int slot, int passed, int expected);
    // The bike touched another bike in this tic.
    void (*lines_bike_contact)(int slot);
    // The bike's frame, fork, swingarm or rider touched solid scenery in this tic.
    void (*lines_scenery_touch)(int slot);
    void (*set_personality)(BikeState *bike, const char *name);
    void (*autopilot)(int slot);
    // Where a bike stopped on its side at (x, z) turns to: the riding line ahead (a human), the
    // path's target point (a robot); false when there is none.
    bool (*lines_standstill_target)(int slot, float x, float z, float *tx, float *tz);
    bool (*path_target)(int slot, float *x, float *z);
    // The robot is walking its bike to its path (lost too long): its bike passes through others.
    bool (*dragging)(int slot);
};

// Installs the hooks (copied; null entries stay stand-ins); null removes them all.
void robot_hooks_install(const RobotHooks *hooks);
