// The player's bike ridden through the session and the game's tic on the practice field's
// dirt pad: the controls reach it as the game's do, and the rider keeps it up.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/drive.h"
#include "bike/setup.h"
#include "bike/shape.h"
#include "platform/log.h"
#include "race/session.h"
#include "race/simulation.h"
#include "race/world.h"
#include "vfs/vfs.h"

namespace {

const double k_rpm = 9.549296585513721;
const double k_mph = 1.4666667;

class Ride : public ::testing::Test {
protected:
    std::string home;
    float channels[CONTROL_CHANNELS] = {};

    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "skrideXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back(0);
        ASSERT_NE(mkdtemp(buf.data()), nullptr);
        home = buf.data();
        setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        unsetenv("TOVA_LOGFILE");
        log_reset_for_tests();
        vfs_reset_for_tests();
        session_reset_for_tests();
        world_reset_for_tests();
        set_session_seed_for_tests(true, 77);
        ASSERT_TRUE(bike_world_create());
        bike_catalogue_offer();
        setup_set_defaults();
    }

    void TearDown() override
    {
        free_riders();
        free_track();
        session_tables_free();
        session_reset_for_tests();
        clear_rider_slots();
        bike_world_destroy();
        shape_cache_free();
        setup_set_bike_list(nullptr, 0);
        set_session_seed_for_tests(false, 0);
        vfs_reset_for_tests();
        log_reset_for_tests();
        std::string cmd = "rm -rf '" + home + "'";
        if (system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove the temporary directory";
    }

    // The player on the practice field with the start-up setup, standing on the dirt pad
    // heading east with a flat 300 ft ahead, settled for a second.
    BikeState *player_on_the_pad(void)
    {
        int requests[SESSION_SLOTS] = { REQUEST_PLAYER };
        if (!session_select_track("tracks/practice") || !load_session(requests, false, false, 0, 3, 0))
            return nullptr;
        BikeState *b = rider_slot(0)->bike;
        place_bike(b, session_terrain(), 100, 172, -1.5707963f);
        for (int k = 0; k < 128; k++)
            tic(b);
        return b;
    }

    // One tic of the game: the channels to the player's bike, then the step.
    void tic(BikeState *b)
    {
        set_control_channels(channels);
        bike_apply_channels(b, control_channels());
        simulation_tic();
    }

    static double mph(const BikeState *b)
    {
        const dReal *v = dBodyGetLinearVel(b->body[BODY_FRAME]);
        return sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) / k_mph;
    }
};

TEST_F(Ride, FullThrottleFromStandstillThenTheFrontBrake)
{
    BikeState *b = player_on_the_pad();
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(rider_slot(0)->kind, CONTROL_HUMAN);
    ASSERT_STREQ(bike_catalogue_row(b)->name, "yz250f(2017)");
    const double auto_clutch = b->params.auto_clutch_rpm;
    EXPECT_EQ(bike_gear(b), 0);
    EXPECT_LT(mph(b), 0.2);

    channels[CHANNEL_THROTTLE] = 1;
    int gear = 0, last_change = -1000, moving = -1, sixty = -1, checked = 0;
    bool slipping = true;
    for (int k = 0; k < 6 * 128 && sixty < 0; k++) {
        int step_tic = race_tic();
        tic(b);
        ASSERT_TRUE(bike_is_finite(b)) << "tic " << k;
        double rpm = bike_engine_rpm(b);
        // The automatic clutch holds the bike until the engine is above its rpm.
        if (moving < 0 && mph(b) > 0.5) {
            moving = k;
            EXPECT_GT(rpm, auto_clutch);
        }
        if (bike_gear(b) != gear) {
            EXPECT_EQ(step_tic % 32, 0) << "shifted at tic " << step_tic;
            EXPECT_EQ(bike_gear(b), gear + 1);
            gear = bike_gear(b);
            last_change = k;
        }
        // The clutch in: above the automatic clutch's range, and settled for a tenth of a second
        // since it took up the drive or the gear changed, the engine turns with the rear wheel.
        bool in = bike_clutch_engagement(b) == 1 && rpm > auto_clutch + 2000;
        if (in && slipping)
            last_change = k;
        slipping = !in;
        if (in && k - last_change > 12) {
            double wheel = dJointGetHingeAngleRate(b->joint[JOINT_REAR_AXLE]) * bike_gear_ratio(b, gear) * k_rpm;
            EXPECT_NEAR(wheel, rpm, 0.05 * rpm) << "tic " << k << " gear " << gear + 1;
            checked++;
        }
        if (mph(b) >= 60)
            sixty = k;
    }
    EXPECT_GT(moving, 0);
    EXPECT_GT(checked, 256);
    EXPECT_GE(gear, 3);
    // A 250 four-stroke reaches 60 mph in four to six seconds on dirt.
    EXPECT_GE(sixty, 4 * 128);
    EXPECT_LE(sixty, 6 * 128);

    // Throttle shut, front brake full on: it stops, straight, well before the field's edge.
    channels[CHANNEL_THROTTLE] = 0;
    channels[CHANNEL_FRONT_BRAKE] = 1;
    int stopped = -1;
    for (int k = 0; k < 6 * 128 && stopped < 0; k++) {
        tic(b);
        ASSERT_TRUE(bike_is_finite(b)) << "tic " << k;
        if (mph(b) < 0.5)
            stopped = k;
    }
    EXPECT_GT(stopped, 0);
    const dReal *p = dBodyGetPosition(b->body[BODY_FRAME]);
    EXPECT_LT(p[0], 500);
    // Arcade steering settles within its dead band: less than half a degree off over 700 ft.
    EXPECT_NEAR(p[2], 172, 6);
    EXPECT_GT(dBodyGetRotation(b->body[BODY_FRAME])[5], 0.95);     // still on its wheels
}

}  // namespace
