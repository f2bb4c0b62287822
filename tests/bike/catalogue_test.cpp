#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "bike/catalogue.h"
#include "bike/setup.h"
#include "common/mem.h"
#include "common/messages.h"
#include "vfs/vfs.h"

TEST(Catalogue, EveryRowIsConsistent)
{
    int classes[5] = {};
    static const char *const codes[] = { "50", "125", "250", "250f", "450f" };
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        ASSERT_NE(m, nullptr);
        SCOPED_TRACE(m->name);
        EXPECT_EQ(find_bike_model(m->name), m);     // names are unique
        EXPECT_LT(strlen(m->name), 16u);
        int c = -1;
        for (int k = 0; k < 5; k++)
            if (strcmp(m->class_code, codes[k]) == 0)
                c = k;
        ASSERT_GE(c, 0);
        classes[c]++;
        EXPECT_GT(m->frame_mass, 0);
        EXPECT_GT(m->rider_mass, 0);
        EXPECT_GT(m->fork_mass, 0);
        EXPECT_GT(m->swingarm_mass, 0);
        EXPECT_GT(m->front.ring_mass, 0);
        EXPECT_GT(m->rear.hub_mass, 0);
        EXPECT_GT(m->fork_spring[0], 0);
        EXPECT_LT(m->fork_spring[0], m->fork_spring[1]);
        EXPECT_GT(m->shock_spring[0], 0);
        EXPECT_LT(m->shock_spring[0], m->shock_spring[1]);
        EXPECT_GT(m->engine_inertia, 0);
        EXPECT_LT(m->shift_points[0], m->shift_points[1]);
        EXPECT_LT(m->shift_points[1], m->shift_points[2]);
        // Five or six gears, each taller than the one before.
        int gears = m->gears[5] == -1 ? 5 : 6;
        for (int g = 0; g < gears; g++)
            EXPECT_GT(m->gears[g], 0);
        for (int g = 1; g < gears; g++)
            EXPECT_LT(m->gears[g], m->gears[g - 1]);
        EXPECT_EQ(m->zero, 0);
        EXPECT_FLOAT_EQ(m->brake_values[0], 1.0f / 12);
        EXPECT_FLOAT_EQ(m->rider_values[0], -2.0f / 3);
        EXPECT_FLOAT_EQ(m->rider_values[1], 0.5f);
        // Shared geometry.
        EXPECT_FLOAT_EQ(m->front.axle[2], 1.11f);
        EXPECT_FLOAT_EQ(m->rear.axle[2], 6.0f);
        EXPECT_FLOAT_EQ(m->fork_travel, 1.0f);
        // The engine pulls below the rev limit and brakes well past it.
        int limit_point = (int)(m->shift_points[2] / 500);
        EXPECT_GT(m->full_torque[limit_point - 1], 0);
        EXPECT_LT(m->full_torque[limit_point + 2], 0);
        for (int k = 0; k < BIKE_TORQUE_POINTS; k++)
            EXPECT_TRUE(isfinite(m->full_torque[k]) && isfinite(m->closed_torque[k]));
        for (int k = 0; k < BIKE_FILE_COUNT; k++)
            EXPECT_EQ(m->files[k][0], '@');
    }
    EXPECT_EQ(bike_model(BIKE_MODEL_COUNT), nullptr);
    EXPECT_EQ(bike_model(-1), nullptr);
    for (int n : classes)
        EXPECT_GT(n, 0);
}

TEST(Catalogue, FirstRowIsTheTellingOne)
{
    const BikeModel *m = bike_model(0);
    EXPECT_STREQ(m->class_code, "125");
    EXPECT_FLOAT_EQ(m->front.axle[1], 1.09f);
    EXPECT_FLOAT_EQ(m->front.major_radius, 0.8333f);
    EXPECT_FLOAT_EQ(m->rear.major_radius, 0.75f);
    EXPECT_FLOAT_EQ(m->frame_mass, 3.65375f);
    EXPECT_NEAR(m->fork_spring[0], 322.545, 0.01);
    EXPECT_NEAR(m->fork_spring[1], 860.120, 0.01);
    EXPECT_NEAR(m->shock_spring[0], 1814.32, 0.01);
    EXPECT_NEAR(m->shock_spring[1], 4502.19, 0.01);
    EXPECT_FLOAT_EQ(m->primary_ratio, 3.15f);
    EXPECT_EQ(m->front_sprocket, 13);
    EXPECT_EQ(m->rear_sprocket, 52);
    EXPECT_EQ(m->gears[5], -1);
    EXPECT_FLOAT_EQ(m->full_torque[0], 5);
    EXPECT_FLOAT_EQ(m->full_torque[20], 15.97f);
    EXPECT_FLOAT_EQ(m->full_torque[25], 2.10f);
    for (int k = 26; k < BIKE_TORQUE_POINTS; k++)
        EXPECT_LT(m->full_torque[k], 0);
    EXPECT_STREQ(m->files[BIKE_FILE_FRAME_MODEL], "@mx125_frame.jm");
    EXPECT_STREQ(m->files[BIKE_FILE_FRAME_SHAPE], "@generic_frame.shp");
    EXPECT_STREQ(m->files[BIKE_FILE_BIKE_TEXTURE], "@mx125.png");
    EXPECT_STREQ(m->files[BIKE_FILE_WHEEL_TEXTURE], "@wheels-black.png");
    EXPECT_FLOAT_EQ(m->rider_mass, 4.6875f);
    // The fork damping bases the design's worked examples use.
    EXPECT_EQ(m->fork_damping[DAMP_HS_COMPRESSION], 60);
    EXPECT_EQ(m->fork_damping[DAMP_LS_COMPRESSION], 60);
    EXPECT_EQ(m->fork_damping[DAMP_HS_REBOUND], 30);
    EXPECT_FLOAT_EQ(m->driveline_stiffness, 7500);
    EXPECT_FLOAT_EQ(m->driveline_damping, 0.75f);
    EXPECT_EQ(m->shift_points[0], 9400);
    EXPECT_EQ(m->shift_points[1], 12000);
    EXPECT_EQ(m->shift_points[2], 12750);
}

// The physics divides by these; none comes from a file, so every row must keep them positive.
TEST(Catalogue, EveryDivisorIsPositive)
{
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        SCOPED_TRACE(m->name);
        EXPECT_GT(m->linkage[LINKAGE_SPLIT], 0);
        EXPECT_LT(m->linkage[LINKAGE_SPLIT], 1);
        EXPECT_GT(m->linkage[LINKAGE_TRAVEL_ANGLE], 0);
        EXPECT_GT(m->fork_travel, 0);
        EXPECT_GT(m->fork_air_gap[0], 0);
        EXPECT_GT(m->fork_air_gap[1], 0);
        EXPECT_GT(m->engine_inertia, 0);
        EXPECT_GT(m->primary_ratio, 0);
        EXPECT_GT(m->gears[0], 0);                  // first gear exists: shifting ends there
        EXPECT_GE(m->front_sprocket - 2, 3);        // the setup's -2 teeth still leave three
        EXPECT_GE(m->rear_sprocket - 2, 3);
        EXPECT_LT(m->shift_points[1], m->shift_points[2]);
        // The linkage rises: the shock travels further and faster the deeper it is.
        EXPECT_GT(m->linkage[LINKAGE_SHOCK_SPLIT], 0);
        EXPECT_GT(m->linkage[LINKAGE_SHOCK_FULL], m->linkage[LINKAGE_SHOCK_SPLIT]);
        EXPECT_GT(m->linkage[LINKAGE_SLOPE_START], 0);
        EXPECT_GT(m->linkage[LINKAGE_SLOPE_SPLIT], m->linkage[LINKAGE_SLOPE_START]);
        EXPECT_GT(m->linkage[LINKAGE_SLOPE_FULL], m->linkage[LINKAGE_SLOPE_SPLIT]);
    }
}

// With the throttle shut the engine pulls itself up from a standstill and brakes above its idle.
// The pose points in their own bodies' coordinates, seated: the arms reach the grips and the
// legs the pegs, -x side first; the rider model's rest pose hangs the arms and legs straight
// down, so the elbow and knee rest centres sit a limb's length below the shoulder and hip.
TEST(Catalogue, RiderPosePointsFitTheBikeAsBuilt)
{
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        SCOPED_TRACE(m->name);
        const float *p = m->rider_pose;
        auto built = [](const float *local, const float *home, double out[3]) {
            for (int k = 0; k < 3; k++)
                out[k] = (double)local[k] + home[k];
        };
        auto distance = [](const double *a, const double *b) {
            return sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
        };
        for (int side = 0; side < 2; side++) {
            double shoulder[3], hip[3], grip[3], peg[3], elbow[3], knee[3];
            built(p + 3 + 3 * side, m->rider_position, shoulder);
            built(p + 9 + 3 * side, m->rider_position, hip);
            built(p + 15 + 3 * side, m->head_point, grip);
            built(p + 21 + 3 * side, m->frame_position, peg);
            built(p + 31 + 3 * side, m->rider_position, elbow);
            built(p + 43 + 3 * side, m->rider_position, knee);
            double out = side ? 1 : -1;
            EXPECT_GT(out * shoulder[0], 0);
            EXPECT_GT(out * grip[0], 0);
            EXPECT_GT(out * peg[0], 0);
            EXPECT_LT(distance(shoulder, grip), p[27] + p[28]);
            EXPECT_LT(distance(hip, peg), p[29] + p[30]);
            EXPECT_LT(peg[1], hip[1]);
            EXPECT_NEAR(distance(shoulder, elbow), p[27], 1e-4);
            EXPECT_NEAR(distance(hip, knee), p[29], 1e-4);
            EXPECT_NEAR(shoulder[1] - elbow[1], p[27], 1e-4);
            EXPECT_NEAR(hip[1] - knee[1], p[29], 1e-4);
        }
        EXPECT_EQ(p[55] * p[55] + p[56] * p[56] + p[57] * p[57], 0.0f);   // the torso at the origin
    }
}

TEST(Catalogue, ClosedThrottleCurvesCrossZeroAtTheIdle)
{
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        SCOPED_TRACE(m->name);
        EXPECT_GT(m->closed_torque[0], 0);
        int k = 1;
        while (k < BIKE_TORQUE_POINTS && m->closed_torque[k] > 0)
            k++;
        ASSERT_LT(k, BIKE_TORQUE_POINTS);
        double idle = 500 * (k - 1 + m->closed_torque[k - 1] / (m->closed_torque[k - 1] - m->closed_torque[k]));
        EXPECT_GE(idle, 1400);
        EXPECT_LE(idle, 2200);
        if (i == 0) {
            EXPECT_NEAR(idle, 1500, 1);
        }
        for (; k < BIKE_TORQUE_POINTS; k++)
            EXPECT_LE(m->closed_torque[k], 0) << k * 500 << " rpm";
    }
}

// Without air drag a bike's top speed is where its full-throttle curve runs out past the rev
// limit: a 450 four-stroke tops out in fifth at 60 to 75 mph.
TEST(Catalogue, FourFiftiesTopOutInFifthAt60To75Mph)
{
    int seen = 0;
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        if (strcmp(m->class_code, "450f") != 0)
            continue;
        SCOPED_TRACE(m->name);
        seen++;
        int k = (int)(m->shift_points[2] / 500);
        while (k < BIKE_TORQUE_POINTS && m->full_torque[k] > 0)
            k++;
        ASSERT_LT(k, BIKE_TORQUE_POINTS);
        double rpm = 500 * (k - 1 + m->full_torque[k - 1] / (m->full_torque[k - 1] - m->full_torque[k]));
        double fifth = m->gears[4] * m->primary_ratio * m->rear_sprocket / m->front_sprocket;
        double mph = rpm / 9.549296585513721 / fifth * (m->rear.major_radius + m->rear.minor_radius) / 1.4666667;
        EXPECT_GE(mph, 60);
        EXPECT_LE(mph, 75);
    }
    EXPECT_GT(seen, 0);
}

TEST(Catalogue, MenuOrderIsBigFourStrokesFirst)
{
    const char *const *menu = bike_menu_names();
    EXPECT_STREQ(find_bike_model(menu[0])->class_code, "450f");
    EXPECT_STREQ(find_bike_model(menu[BIKE_MODEL_COUNT - 1])->class_code, "50");
    // Every model appears once.
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        int seen = 0;
        for (int j = 0; j < BIKE_MODEL_COUNT; j++)
            seen += strcmp(menu[j], bike_model(i)->name) == 0;
        EXPECT_EQ(seen, 1) << bike_model(i)->name;
    }
    ASSERT_NE(find_bike_model("yz250f(2017)"), nullptr);
    for (const char *legacy : { "crf250(2008)", "kx250f(2008)", "rmz250(2008)", "yz250f(2008)" })
        EXPECT_NE(find_bike_model(legacy), nullptr) << legacy;
}

TEST(Catalogue, UnknownNamesFallBack)
{
    messages_clear();
    EXPECT_EQ(find_bike_model("yz250f"), nullptr);
    EXPECT_EQ(find_bike_model(nullptr), nullptr);
    const BikeModel *m = select_bike_model("cr125(1999)");
    EXPECT_NE(strstr(m->name, "125"), nullptr);
    EXPECT_STREQ(message_line(0), "bike info for 'cr125(1999)' not found using 'cr125(2002)' instead");
    m = select_bike_model("mystery bike with a very long name");
    EXPECT_NE(strstr(m->name, "250f"), nullptr);
    EXPECT_STREQ(message_line(0), "bike info for 'mystery bike with a ' not found using 'kx250f(2008)' instead");
    EXPECT_EQ(select_bike_model("sx125(2016)"), find_bike_model("sx125(2016)"));
    EXPECT_NE(select_bike_model(nullptr), nullptr);
}

TEST(Catalogue, SetupOffersTheCatalogue)
{
    bike_catalogue_offer();
    setup_set_defaults();
    EXPECT_EQ(g_setup.bike.count, BIKE_MODEL_COUNT);
    EXPECT_STREQ(choice_label(&g_setup.bike), "yz250f(2017)");
    for (const char *legacy : { "crf250", "kx250f", "rmz250", "yz250f" }) {
        EXPECT_TRUE(read_setup_pair("bike", legacy));
        EXPECT_EQ(std::string(choice_label(&g_setup.bike)), std::string(legacy) + "(2008)");
    }
    setup_set_bike_list(nullptr, 0);
}
