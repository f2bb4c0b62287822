// A bike world in a temporary data folder over flat ground, the setup at its start-up
// defaults, and the bike's part of the tic as the game runs it: ground contacts, the step, then
// the control update (rider springs, suspension, drive-train, internal-force correction).
#pragma once
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/drive.h"
#include "bike/rider.h"
#include "bike/setup.h"
#include "bike/shape.h"
#include "bike/steering.h"
#include "bike/suspension.h"
#include "bike/wheel.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

// The whole control update of one tic for a bike on the flat, at race tic `tic`.
inline void control_tic(BikeState *b, const Terrain *t, int tic, int gate_drop)
{
    RiderTic ctx = { tic, gate_drop, t, nullptr, nullptr };
    bike_touches_world(b, t);
    bike_world_step();
    wheel_after_step(b);
    update_rider_mount(b);
    update_suspension(b);
    bike_drive_update(b, tic);
    bike_steering_update(b, &ctx);
    bike_dab_and_falls(b, &ctx);
    if (tic >= 2 && b->fall_timer <= 0)
        correct_internal_forces(b);
}

struct BikeWorld : ::testing::Test {
    std::string root;
    Terrain terrain = {};
    int tic = 0;

    void SetUp() override
    {
        char tmpl[512];
        snprintf(tmpl, sizeof tmpl, "%ssk_ride_XXXXXX", testing::TempDir().c_str());
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        setenv("SK_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
        ASSERT_EQ(system(("mkdir -p '" + root + "/data'").c_str()), 0);
        vfs_reset_for_tests();
        ASSERT_TRUE(bike_world_create());
        ASSERT_TRUE(terrain_create(&terrain, 7, 1.0f));
        bike_catalogue_offer();
        setup_set_defaults();
    }
    void TearDown() override
    {
        terrain_unload(&terrain);
        bike_world_destroy();
        shape_cache_free();
        setup_set_bike_list(nullptr, 0);
        setup_set_defaults();
        vfs_reset_for_tests();
        ASSERT_EQ(system(("rm -rf '" + root + "'").c_str()), 0);
    }

    // The named model in slot 0 with the setup applied, standing on the flat at (60, 60).
    BikeState *bike_on_ground(const char *model)
    {
        BikeState *b = build_bike(0, model);
        if (!b)
            return nullptr;
        apply_setup_to_bike(b);
        place_bike(b, &terrain, 60, 60, 0);
        tic = 0;
        return b;
    }

    // The test's hand on the bike until riders balance it: a roll spring and damper about the
    // frame's forward axis, added before each step.
    static void hold_upright(BikeState *b)
    {
        dVector3 up, forward;
        dBodyVectorToWorld(b->body[BODY_FRAME], 0, 1, 0, up);
        dBodyVectorToWorld(b->body[BODY_FRAME], 0, 0, -1, forward);
        // up x (0, 1, 0) along the forward axis: the roll away from upright.
        double roll = -up[2] * forward[0] + up[0] * forward[2];
        const dReal *w = dBodyGetAngularVel(b->body[BODY_FRAME]);
        double rate = w[0] * forward[0] + w[1] * forward[1] + w[2] * forward[2];
        double torque = 4000 * roll - 400 * rate;
        dBodyAddTorque(b->body[BODY_FRAME], torque * forward[0], torque * forward[1], torque * forward[2]);
    }

    // n tics of the bike on the ground, held upright.
    void ride(BikeState *b, int n)
    {
        for (int k = 0; k < n; k++, tic++) {
            hold_upright(b);
            bike_touches_world(b, &terrain);
            bike_world_step();
            wheel_after_step(b);
            update_rider_mount(b);
            update_suspension(b);
            bike_drive_update(b, tic);
            if (tic >= 2)
                correct_internal_forces(b);
        }
    }
};
