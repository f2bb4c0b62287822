#include <gtest/gtest.h>

#include <limits.h>
#include <math.h>
#include <string.h>
#include <time.h>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/rider.h"
#include "bike/setup.h"
#include "bike/shape.h"
#include "common/messages.h"
#include "driver/args.h"
#include "driver/bindings.h"
#include "driver/frame_timing.h"
#include "driver/key_script.h"
#include "driver/loop.h"
#include "driver_fixture.h"
#include "platform/input.h"
#include "race/session.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static std::vector<float> g_throttle_per_tic;

static void record_throttle(void)
{
    g_throttle_per_tic.push_back(control_channels()[CHANNEL_THROTTLE]);
}

struct Loop : DriverDirs {
    void SetUp() override
    {
        DriverDirs::SetUp();
        g_fake_clock_us = 1000000;
        loop_reset_for_tests();
        messages_clear();
        clear_events();
        loop_init(nullptr);
        // The default keys, resolved as start-up does once the window is open.
        bindings_set_defaults();
        bindings_resolve();
        g_throttle_per_tic.clear();
    }
    void TearDown() override
    {
        loop_set_tic_observer(nullptr);
        set_stutter_threshold(0);
        clear_events();
        bindings_release();
        loop_reset_for_tests();
        DriverDirs::TearDown();
    }
    static void press(const char *key) { loop_handle_key(key_code(key), 1); }
    static void release(const char *key) { loop_handle_key(key_code(key), 0); }
};

TEST_F(Loop, InputGoesToTheTicItHappenedIn)
{
    // Four tics end at 0.9765625, 0.984375, 0.9921875 and 1.0 s: the press at 0.980 s lands
    // in the second, the release at 0.990 s in the third.
    int x = key_code("x");
    ASSERT_GE(x, 0);
    queue_event(x, 1, 0, 980000);
    queue_event(x, 0, 0, 990000);
    loop_set_tic_observer(record_throttle);
    EXPECT_EQ(loop_advance(4 * TIC_SECONDS), 4);
    ASSERT_EQ(g_throttle_per_tic.size(), 4u);
    EXPECT_EQ(g_throttle_per_tic[0], 0);
    EXPECT_EQ(g_throttle_per_tic[1], 1);
    EXPECT_EQ(g_throttle_per_tic[2], 0);
    EXPECT_EQ(g_throttle_per_tic[3], 0);
}

TEST_F(Loop, LastTicTakesEveryPendingEvent)
{
    int x = key_code("x");
    queue_event(x, 1, 0, 1500000);      // stamped after the present: still read by the last tic
    loop_set_tic_observer(record_throttle);
    loop_advance(2 * TIC_SECONDS);
    ASSERT_EQ(g_throttle_per_tic.size(), 2u);
    EXPECT_EQ(g_throttle_per_tic[0], 0);
    EXPECT_EQ(g_throttle_per_tic[1], 1);
}

TEST_F(Loop, ChannelsSumBindingsWithTheirSigns)
{
    press("left");
    press("right");
    press("up");
    press("n");
    loop_advance(TIC_SECONDS);
    const float *c = control_channels();
    EXPECT_EQ(c[CHANNEL_STEER], 0) << "left (+1) and right (-1) cancel";
    EXPECT_EQ(c[CHANNEL_SHIFT], 1);
    EXPECT_EQ(c[CHANNEL_LEAN], -1);
    release("left");
    loop_advance(TIC_SECONDS);
    EXPECT_EQ(control_channels()[CHANNEL_STEER], -1);
}

// The player's bike on the practice field takes the bound keys through the tic: throttle,
// steering after the setup's reversal (on by default: "Left" is a left turn), and the sticky
// sit/dab toggle, which flips once per press.
TEST_F(Loop, BoundKeysRideThePlayersBike)
{
    setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
    vfs_reset_for_tests();
    ASSERT_TRUE(bike_world_create());
    bike_catalogue_offer();
    setup_set_defaults();
    ASSERT_TRUE(session_select_track("tracks/practice"));
    int requests[RIDER_SLOTS] = { REQUEST_PLAYER };
    ASSERT_TRUE(load_session(requests, false, false, 0, 3, 0));
    BikeState *b = rider_slot(0)->bike;
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(rider_slot(0)->kind, CONTROL_HUMAN);
    set_viewed_slot(0);
    set_view_mode(VIEW_RIDER);

    press(binding_get(BIND_THROTTLE)->key);
    press(binding_get(BIND_LEFT)->key);
    loop_advance(TIC_SECONDS);
    EXPECT_EQ(bike_throttle(b), 1);
    EXPECT_EQ(b->inputs.steer, -1);
    release(binding_get(BIND_THROTTLE)->key);
    release(binding_get(BIND_LEFT)->key);

    ASSERT_TRUE(choice_set(&g_setup.sticky_dab, "Yes"));
    ASSERT_TRUE(choice_set(&g_setup.auto_dab, "No"));     // no dab of its own while stopped
    apply_setup_to_bike(b);
    const char *dab = binding_get(BIND_DAB)->key;
    struct Step {
        bool down;
        bool on;
    };
    const Step steps[] = { { true, true }, { true, true }, { false, true }, { true, false }, { false, false },
                           { true, true } };
    for (const Step &s : steps) {
        loop_handle_key(key_code(dab), s.down ? 1 : 0);
        loop_advance(TIC_SECONDS);
        EXPECT_EQ(bike_sticky_dab_on(b), s.on) << &s - steps;
        EXPECT_EQ(b->inputs.sit, s.on ? 1 : 0) << &s - steps;
    }
    reset_bike(b);
    EXPECT_FALSE(bike_sticky_dab_on(b)) << "a reset clears the toggle";

    free_riders();
    free_track();
    session_reset_for_tests();
    track_list_free();
    bike_world_destroy();
    shape_cache_free();
    setup_set_defaults();
}

TEST_F(Loop, GameClockGrowsByEachStep)
{
    loop_advance(1.0 / 30);
    loop_advance(1.0 / 30);
    EXPECT_DOUBLE_EQ(game_clock(), 2.0 / 30);
}

TEST_F(Loop, StepKeyOnlyWhilePaused)
{
    set_view_mode(VIEW_CHASE);
    int before = race_tic();
    press(".");
    EXPECT_EQ(race_tic(), before) << "step does nothing unless paused";
    press("pause");
    EXPECT_TRUE(game_paused());
    press(".");
    press(".");
    EXPECT_EQ(race_tic(), before + 2);
    release(".");
    EXPECT_EQ(race_tic(), before + 2) << "releases do nothing";
    press("pause");
    EXPECT_FALSE(game_paused());
}

TEST_F(Loop, EscOpensAndClosesTheMainMenu)
{
    set_view_mode(VIEW_RIDER);
    press("esc");
    EXPECT_EQ(menu_screen(), MENU_MAIN);
    EXPECT_EQ(menu_item(), 0);
    press("pause");
    EXPECT_FALSE(game_paused()) << "keys go to the open menu";
    press("esc");
    EXPECT_EQ(menu_screen(), MENU_NONE);
    press("t");
    EXPECT_EQ(menu_screen(), MENU_CONSOLE);
}

TEST_F(Loop, CaptureTakesAKeyBeforeItsCommand)
{
    set_view_mode(VIEW_CHASE);
    ASSERT_TRUE(capture_begin(BIND_THROTTLE, game_clock(), 0));
    press("pause");
    EXPECT_FALSE(game_paused()) << "a key pressed during capture is the capture's";
    release("pause");
    // The key wins 0.25 s after its press, checked once per tic.
    loop_advance(16 * TIC_SECONDS);
    EXPECT_TRUE(capture_active()) << "0.125 s is too early";
    loop_advance(32 * TIC_SECONDS);
    EXPECT_FALSE(capture_active());
    EXPECT_EQ(key_code(binding_get(BIND_THROTTLE)->key), key_code("pause")) << binding_get(BIND_THROTTLE)->key;
    set_view_mode(VIEW_CHASE);      // with no track loaded the tics went back to the title view
    queue_event(key_code("pause"), 1, 0, 0);
    loop_advance(TIC_SECONDS);
    EXPECT_EQ(control_channels()[CHANNEL_THROTTLE], 1);
    EXPECT_TRUE(game_paused()) << "the command key still works once capture is over";
    EXPECT_EQ(binding_get(BIND_THROTTLE)->key_code, key_code("pause"));
}

TEST_F(Loop, EscDuringCaptureKeepsTheOldBinding)
{
    set_view_mode(VIEW_CHASE);
    ASSERT_TRUE(capture_begin(BIND_FRONT_BRAKE, game_clock(), 0));
    press("esc");
    EXPECT_FALSE(capture_active());
    EXPECT_EQ(menu_screen(), MENU_NONE) << "the esc ended the capture only";
    loop_advance(64 * TIC_SECONDS);
    EXPECT_STREQ(binding_get(BIND_FRONT_BRAKE)->key, "c");
}

TEST_F(Loop, TabCyclesTheViews)
{
    set_view_mode(VIEW_RIDER);
    press("tab");
    EXPECT_EQ(view_mode(), VIEW_CHASE);
    press("tab");
    EXPECT_EQ(view_mode(), VIEW_CAMERA);
    press("tab");
    EXPECT_EQ(view_mode(), VIEW_RIDER);
    set_view_mode(VIEW_EDITOR);
    press("tab");
    EXPECT_EQ(view_mode(), VIEW_CHASE);
    set_view_mode(VIEW_TITLE);
    press("tab");
    EXPECT_EQ(view_mode(), VIEW_TITLE) << "nothing but the console on the title screen";
}

TEST_F(Loop, DigitsSelectTracksideCameras)
{
    EXPECT_EQ(camera_for_digit(3, 2), 1);
    EXPECT_EQ(camera_for_digit(1, 2), 0);
    EXPECT_EQ(camera_for_digit(0, 2), -1);
    EXPECT_EQ(camera_for_digit(9, 4), 3);
    EXPECT_EQ(camera_for_digit(3, 0), -1) << "no cameras: the free camera";
}

TEST_F(Loop, CloseEventEndsTheLoop)
{
    EXPECT_FALSE(loop_close_requested());
    queue_event(EVENT_CLOSE, 1, 0, 999000);
    loop_advance(TIC_SECONDS);
    EXPECT_TRUE(loop_close_requested());
}

TEST_F(Loop, ChaseCameraFollowsTheChannels)
{
    set_view_mode(VIEW_CHASE);
    press("left");
    press("x");
    loop_advance(TIC_SECONDS);
    EXPECT_NEAR(chase_camera()->yaw, 2 * M_PI / 1024, 1e-7);
    EXPECT_FLOAT_EQ(chase_camera()->distance, 10 - 1.0f / 64);
    EXPECT_FLOAT_EQ(chase_camera()->height, 5);
}

TEST_F(Loop, StutterCheckReportsLongGaps)
{
    set_stutter_threshold(0.1);
    stutter_check("draw");
    g_fake_clock_us += 50000;
    stutter_check("flip");
    EXPECT_STREQ(message_line(0), "");
    g_fake_clock_us += 250000;
    stutter_check("tic");
    EXPECT_STREQ(message_line(0), "Stutter in tic - 0.250000 seconds");
    set_stutter_threshold(0);
    g_fake_clock_us += 5000000;
    stutter_check("net");
    EXPECT_STREQ(message_line(0), "Stutter in tic - 0.250000 seconds") << "0 turns the checks off";
}

TEST_F(Loop, SetupChangeReport)
{
    double ref[SETUP_WATCHED_VALUES] = {}, now[SETUP_WATCHED_VALUES] = {};
    char text[128];
    EXPECT_FALSE(build_setup_change_report(ref, now, text, sizeof text));
    EXPECT_STREQ(text, "") << "no changed value, nothing to post";
    now[0] = 1;         // Leveling
    now[21] = 2;        // Fork High Speed Compression Damping
    now[38] = 0.5;      // Rider Mass Distribution
    EXPECT_TRUE(build_setup_change_report(ref, now, text, sizeof text));
    std::string want = "[SPAM] Setup change l" + std::string(20, '-') + "C" + std::string(16, '-') + "m\n";
    EXPECT_EQ(std::string(text), want);
}

static int g_polls;
static void count_poll(void)
{
    g_polls++;
}

TEST_F(Loop, NetworkIsPolledInEveryTicConnectedOrNot)
{
    // A connection's handshake runs before the game counts as connected, and it is started
    // from a menu: the poll may wait for neither.
    g_polls = 0;
    loop_set_net_poller(count_poll);
    set_view_mode(VIEW_CHASE);
    EXPECT_EQ(loop_advance(3 * TIC_SECONDS), 3);
    EXPECT_EQ(g_polls, 3);
    open_menu(MENU_MAIN, 0);
    set_view_mode(VIEW_EDITOR);
    EXPECT_EQ(loop_advance(2 * TIC_SECONDS), 2);
    EXPECT_EQ(g_polls, 5) << "the game stands still behind the menu, the network does not";
    close_menu();
    EXPECT_EQ(loop_advance(TIC_SECONDS), 1);
    EXPECT_EQ(g_polls, 6) << "the editor's tic skips the rest offline, but not the poll";
    loop_set_net_poller(nullptr);
}

TEST_F(Loop, NewRaceRotatesTheLineupByTheOption)
{
    EXPECT_EQ(new_race_rotation(), 0);
    StartupSettings s;
    settings_defaults(&s, 70);
    const char *argv[] = { "skorva", "--rotate-lineup", "3" };
    ASSERT_EQ(parse_command_line(3, (char **)argv, &s), ARGS_OK);
    loop_init(&s);
    EXPECT_EQ(new_race_rotation(), 3);
    loop_init(nullptr);
}

TEST_F(Loop, TypedCharactersAreNeverCapturedAsBindings)
{
    // Enter starts the capture on "Throttle"; the Enter key's typed character follows it.
    set_view_mode(VIEW_CHASE);
    open_menu(MENU_CONTROLS, 1);
    menu_frame_begin();                 // a later frame than the one that opened the screen
    press("enter");
    ASSERT_TRUE(capture_active());
    loop_handle_key(13, 1);
    loop_handle_key('k', 1);
    loop_advance(48 * TIC_SECONDS);
    EXPECT_TRUE(capture_active()) << "characters are no keys to bind";
    press("k");
    loop_advance(48 * TIC_SECONDS);
    EXPECT_FALSE(capture_active());
    EXPECT_EQ(binding_get(BIND_THROTTLE)->key_code, key_code("k"));
    EXPECT_EQ(menu_screen(), MENU_CONTROLS);
}

TEST_F(Loop, AltEnterIsNotAMenuKey)
{
    open_menu(MENU_MAIN, 0);
    menu_frame_begin();
    press("left alt");
    press("enter");
    EXPECT_EQ(menu_screen(), MENU_MAIN) << "Alt+Enter switches the window, it does not pick New Race";
    release("left alt");
    press("enter");
    EXPECT_EQ(menu_screen(), MENU_NEW_RACE);
}

TEST_F(Loop, ControllerStartOpensAndClosesTheMenu)
{
    int pad = add_input_device("XInputGamepad0", 6, 16, AXIS_ABSOLUTE);
    ASSERT_GE(pad, 0);
    set_view_mode(VIEW_CHASE);
    loop_handle_key(input_device_id(pad) + 4, 1);
    EXPECT_EQ(menu_screen(), MENU_MAIN);
    menu_frame_begin();
    loop_handle_key(input_device_id(pad) + 1, 1);
    EXPECT_EQ(menu_item(), 1) << "the d-pad moves through the entries";
    loop_handle_key(input_device_id(pad) + 4, 1);
    EXPECT_EQ(menu_screen(), MENU_NONE);
    clear_input_devices();
}

TEST(KeyScript, EntriesAreFrameColonKey)
{
    EXPECT_EQ(key_script_load("3:down,4:enter,12:page up"), 3);
    EXPECT_EQ(key_script_load(""), 0);
    EXPECT_EQ(key_script_load(nullptr), 0);
    const char *const bad[] = { "down", "3:", "3:down,,4:up", ":x", "3:a-key-name-far-longer-than-any-key-has" };
    for (const char *script : bad)
        EXPECT_EQ(key_script_load(script), -1) << script;
    key_script_frame(3);            // nothing loaded, nothing pressed, no window needed
    key_script_load(nullptr);
}
