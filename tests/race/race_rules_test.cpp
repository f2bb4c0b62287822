// Race rules: the race length, the false start of a server race, the starting gate, timed
// races, the flagger's boards, finishing, and the restarts of warp mode and "New Race".
#include "race_fixture.h"

#include "common/messages.h"
#include "race/standings.h"

using RaceRules = RaceTrack;

TEST(RaceLength, LapsMinutesAndExtraLaps)
{
    struct {
        int tics, laps;
        const char *text;
    } cases[] = {
        { 0, 12, "12 laps" },
        { 20 * 60 * 128, 0, "20 minutes" },
        { 20 * 60 * 128, 2, "20 minutes + 2 laps" },
        { 20 * 60 * 128 - 64 * 128, 1, "19 minutes + 1 laps" },    // 18.93 min rounds to 19
        { 20 * 60 * 128 - 30 * 128, 0, "20 minutes" },             // 19.5 min rounds up
    };
    for (const auto &c : cases) {
        char text[64];
        EXPECT_STREQ(race_length_text(text, sizeof text, c.tics, c.laps), c.text) << c.tics << " " << c.laps;
    }
}

// The player's frame stands at (x0, y0, z0) when the race remembers its start.
static BikeState *player_at_start(double x0, double y0, double z0)
{
    BikeState *bike = rider_slot(0)->bike;
    dBodySetPosition(bike->body[BODY_FRAME], x0, y0, z0);
    race_remember_start(0, bike);
    return bike;
}

TEST_F(RaceRules, FalseStartInAServerRaceFromThreeFeetHeldUntil15SecondsAfterTheDrop)
{
    requests[0] = REQUEST_PLAYER;
    ASSERT_TRUE(load());
    ASSERT_EQ(rider_slot(0)->kind, CONTROL_HUMAN);
    race_set_server(true);
    messages_clear();
    BikeState *bike = player_at_start(100, 10, 60);

    at(-100);
    dBodySetPosition(bike->body[BODY_FRAME], 102.9, 10, 60);
    false_start_rule(0);
    EXPECT_EQ(false_start_hold(0), 0) << "2.9 ft is no false start";
    EXPECT_EQ(bike->inputs.sit, 1) << "held on the gate with sit/dab on";

    dBodySetPosition(bike->body[BODY_FRAME], 100, 10, 57);
    bike->inputs.throttle = 1;
    false_start_rule(0);
    // held until 15 s after the drop: 100 + 1920 tics from now, one of them this tic
    EXPECT_EQ(false_start_hold(0), 100 + 1920 - 1);
    EXPECT_STREQ(message_line(0), "15 second false start penalty");
    EXPECT_EQ(bike->inputs.throttle, 0);
    EXPECT_EQ(bike->inputs.front_brake, 1);
    EXPECT_EQ(bike->inputs.rear_brake, 1);
    EXPECT_EQ(bike->inputs.clutch, 0);

    int held = 1;
    for (int tic = -99; tic <= 1925; tic++) {
        at(tic);
        bike->inputs = {};
        bike->inputs.throttle = 1;
        false_start_rule(0);
        held += bike->inputs.throttle == 0;
        if (tic == 1919) {
            EXPECT_EQ(bike->inputs.throttle, 0) << "still held in the last tic before 15 s";
        } else if (tic == 1920) {
            EXPECT_EQ(bike->inputs.throttle, 1) << "free at 15 s after the drop";
        }
    }
    EXPECT_EQ(held, 2020);
    EXPECT_STRNE(message_line(1), "15 second false start penalty") << "one message, not one per tic";

    // offline there is no false start at all
    race_set_server(false);
    player_at_start(100, 10, 60);
    at(-50);
    dBodySetPosition(bike->body[BODY_FRAME], 110, 10, 60);
    bike->inputs = {};
    false_start_rule(0);
    EXPECT_EQ(false_start_hold(0), 0);
    EXPECT_EQ(bike->inputs.sit, 0);
}

TEST_F(RaceRules, GatePiecesFallAfterTheDropAndATouchedOneStopsForItsTic)
{
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load());
    ASSERT_NE(gate_piece(2), nullptr);
    EXPECT_EQ(gate_piece(3), nullptr) << "one piece per gate position";
    at(-1);
    starting_gate_animate();
    EXPECT_EQ(gate_piece(0)->angle, 1);
    // falling: speed += 32/128 each tic, angle -= speed/128
    at(0);
    starting_gate_animate();
    EXPECT_EQ(gate_piece(0)->speed, 0.25f);
    EXPECT_EQ(gate_piece(0)->angle, 1 - 0.25f / 128);
    at(1);
    starting_gate_animate();
    EXPECT_EQ(gate_piece(1)->speed, 0.5f);
    EXPECT_EQ(gate_piece(1)->angle, 1 - 0.75f / 128);
    at(2);
    gate_piece_touch(1);
    starting_gate_animate();
    EXPECT_EQ(gate_piece(1)->speed, 0);
    EXPECT_EQ(gate_piece(1)->angle, 1 - 0.75f / 128) << "held up for the tic it was touched";
    EXPECT_EQ(gate_piece(0)->speed, 0.75f);
    at(3);
    starting_gate_animate();
    EXPECT_EQ(gate_piece(1)->speed, 0.25f) << "falls again from rest";
    for (int tic = 4; tic <= 30; tic++) {
        at(tic);
        starting_gate_animate();
    }
    // after 31 tics of falling: 1 - 0.25 (1 + 2 + ... + 31) / 128
    EXPECT_EQ(gate_piece(0)->angle, 0.03125f);
    at(31);
    starting_gate_animate();
    EXPECT_EQ(gate_piece(0)->angle, 0) << "flat, not below";

    // 10 s after the drop the gate is done with
    starting_gate_pieces_raise();
    at(1280);
    EXPECT_TRUE(gate_window_open());
    at(1281);
    EXPECT_FALSE(gate_window_open());
    starting_gate_animate();
    EXPECT_EQ(gate_piece(0)->angle, 1);
    at(1280);
    starting_gate_animate();
    EXPECT_LT(gate_piece(0)->angle, 1);
}

// The passes a rider made by now (tics after the drop) of laps ending at the given seconds
// after the drop, each lap's other positions a second apart before its end.
static void laps_by(int slot, const std::vector<double> &seconds, int now)
{
    std::vector<int> tics;
    for (double s : seconds) {
        int end = (int)(s * 128);
        int n = tics.empty() ? k_d : k_c;
        for (int k = n - 1; k >= 0; k--)
            if (end - k * 128 <= now)
                tics.push_back(end - k * 128);
    }
    truncate_passes(passes(slot), 0);
    ride(slot, tics);
}

TEST_F(RaceRules, ATimedRaceRunsTheLeadersLapAtTheExpiryPlusTheExtraLaps)
{
    requests[0] = requests[1] = REQUEST_ROBOT;
    struct {
        int extra;
        bool slow_rider;            // a slower rider ends lap 4 after the time ran out
        int limit;
    } cases[] = { { 0, false, 5 }, { 2, false, 7 }, { 0, true, 5 } };
    for (const auto &c : cases) {
        ASSERT_TRUE(load(10 * 60 * 128, c.extra));
        EXPECT_EQ(race_lap_limit(), k_race_open);
        // the leader's laps end at 2:00, 4:00, 6:00, 9:50 and 12:10
        auto refresh_at = [&](int seconds) {
            at(seconds * 128);
            laps_by(0, { 120, 240, 360, 590, 730 }, seconds * 128);
            if (c.slow_rider)
                laps_by(1, { 130, 260, 390, 605 }, seconds * 128);
            results_refresh();
        };
        refresh_at(299);
        EXPECT_EQ(race_half_lap(), k_race_open);
        refresh_at(300);
        EXPECT_EQ(race_half_lap(), 3) << "the leader's lap at half time";
        refresh_at(c.slow_rider ? 605 : 600);
        EXPECT_EQ(race_lap_limit(), c.limit) << c.extra << (c.slow_rider ? " slow" : "");
        EXPECT_FALSE(rider_finished(0)) << "the leader is not flagged at a pass before the time ran out";
        EXPECT_EQ(chequered_tic(), -1);
        // the limit, once fixed, stays
        refresh_at(800);
        EXPECT_EQ(race_lap_limit(), c.limit);
        EXPECT_EQ(rider_finished(0), c.limit == 5) << "flagged at the end of lap 5";
    }
}

TEST_F(RaceRules, TheFlaggerAndTheLapBoxFollowTheLeadersLap)
{
    requests[0] = requests[1] = REQUEST_ROBOT;
    ASSERT_TRUE(load(0, 5));
    EXPECT_EQ(race_half_lap(), 3);
    static Ticker ticker;
    struct {
        int leader_positions;
        FlaggerBoard board;
        int lap_box;
        const char *lap;
    } steps[] = {
        { 0, BOARD_NORMAL, LAP_BOX_GREEN, "Lap 1" },
        { lap_end(2) + 1, BOARD_HALF_WAY, LAP_BOX_GREEN, "Lap 3" },
        { lap_end(3) + 1, BOARD_NORMAL, LAP_BOX_GREEN, "Lap 4" },
        { lap_end(4) + 1, BOARD_LAST_LAP, LAP_BOX_WHITE, "Lap 5" },
        { lap_end(5) + 1, BOARD_CHEQUERED, LAP_BOX_CHEQUERED, "" },
    };
    for (const auto &s : steps) {
        ride(0, steady(s.leader_positions, 100));
        at(s.leader_positions * 100);
        results_refresh();
        EXPECT_EQ(flagger_board(), s.board) << s.leader_positions;
        results_ticker(&ticker, 0);
        EXPECT_EQ(ticker.lap_box, s.lap_box) << s.leader_positions;
        EXPECT_STREQ(ticker.lap, s.lap);
    }
    EXPECT_EQ(chequered_tic(), k_drop + (lap_end(5) + 1) * 100);
    EXPECT_TRUE(rider_finished(0));
    EXPECT_FALSE(rider_finished(1));
    EXPECT_TRUE(race_leader_finished());
}

// Stands the bike with its front wheel just past the centre of a checkpoint.
static void front_wheel_into(BikeState *bike, int checkpoint)
{
    const Checkpoint &c = session_timing()->checkpoints[checkpoint];
    const dReal *f = dBodyGetPosition(bike->body[BODY_FRONT_WHEEL]);
    move_bike(bike, (float)(c.centre.x + c.direction.x - f[0]), 0, (float)(c.centre.z + c.direction.z - f[2]));
}

TEST_F(RaceRules, AFinishedBikePassesNoMoreGates)
{
    requests[0] = requests[1] = REQUEST_ROBOT;
    ASSERT_TRUE(load(0, 1));
    ride(0, steady(k_d - 1, 100));
    ride(1, steady(k_d - 1, 110));
    at(1000);
    // slot 0 ends the one lap and is flagged
    front_wheel_into(rider_slot(0)->bike, 3);
    bike_gate_passing(rider_slot(0)->bike);
    ASSERT_EQ(passes(0)->count, k_d);
    EXPECT_TRUE(rider_finished(0)) << "a pass refreshes the results";
    // slot 1 ends its lap after the flag: finished too
    at(1100);
    front_wheel_into(rider_slot(1)->bike, 3);
    bike_gate_passing(rider_slot(1)->bike);
    EXPECT_TRUE(rider_finished(1));
    // the next checkpoint of a finished bike counts no more
    at(1200);
    front_wheel_into(rider_slot(0)->bike, 4);
    bike_gate_passing(rider_slot(0)->bike);
    EXPECT_EQ(passes(0)->count, k_d);
}

TEST_F(RaceRules, AnOpenPracticeNeverEnds)
{
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load(0, 0));
    ride(0, steady(lap_end(3) + 1, 100));
    at(3000);
    results_refresh();
    EXPECT_EQ(chequered_tic(), -1);
    EXPECT_FALSE(rider_finished(0));
    EXPECT_FALSE(race_leader_finished());
    EXPECT_EQ(flagger_board(), BOARD_NORMAL);
}

TEST_F(RaceRules, WarpRotatesTheLineupBySlotAndNewRaceByTheOptionsCount)
{
    requests[0] = REQUEST_PLAYER;
    requests[5] = REQUEST_ROBOT_NUMBER + 43;
    requests[159] = REQUEST_ROBOT_NUMBER + 8;
    ASSERT_TRUE(load(0, 2));
    EXPECT_FALSE(race_leader_finished());
    ride(5, steady(lap_end(2) + 1, 100));
    at(2000);
    results_refresh();
    ASSERT_TRUE(race_leader_finished());
    race_restart_rotated(1);
    EXPECT_EQ(session_slot(0)->request, REQUEST_ROBOT_NUMBER + 8) << "slot 159 goes round to 0";
    EXPECT_STREQ(session_slot(0)->number, "8");
    EXPECT_EQ(session_slot(1)->request, REQUEST_PLAYER);
    EXPECT_EQ(session_slot(6)->request, REQUEST_ROBOT_NUMBER + 43);
    EXPECT_EQ(race_lap_limit(), 2) << "the same race again";
    EXPECT_FALSE(race_leader_finished()) << "a fresh race";
    // "--rotate-lineup 3" moves every gate three on
    race_restart_rotated(3);
    EXPECT_EQ(session_slot(3)->request, REQUEST_ROBOT_NUMBER + 8);
    EXPECT_EQ(session_slot(4)->request, REQUEST_PLAYER);
    EXPECT_EQ(session_slot(9)->request, REQUEST_ROBOT_NUMBER + 43);
    EXPECT_EQ(viewed_slot(), 4);
    int lineup[5] = { 1, 2, 3, 4, 5 };
    lineup_rotate(lineup, 5, -1);
    EXPECT_EQ(lineup[0], 2);
    EXPECT_EQ(lineup[4], 1);
}

TEST_F(RaceRules, TheRunningOrderStepsClampAtItsEnds)
{
    requests[0] = requests[1] = requests[2] = REQUEST_ROBOT;
    ASSERT_TRUE(load());
    ride(2, steady(3, 100));
    ride(0, steady(2, 100));
    at(400);
    results_refresh();
    int n;
    const RunningEntry *order = running_order(&n);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(order[0].slot, 2);
    EXPECT_EQ(order[1].slot, 0);
    EXPECT_EQ(order[2].slot, 1);
    EXPECT_EQ(running_order_step(0, -1), 2);
    EXPECT_EQ(running_order_step(0, 1), 1);
    EXPECT_EQ(running_order_step(2, -1), 2);
    EXPECT_EQ(running_order_step(1, 1), 1);
    EXPECT_EQ(running_order_step(7, 1), 2) << "a slot not racing goes to the leader";
}
