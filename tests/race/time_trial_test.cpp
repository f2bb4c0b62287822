// The time trial: where a restart stands, the back-up abort and the throttle reset, lap times,
// the ghost's calls and the fast lap kept when the player beats the ghost.
#include "race_fixture.h"

#include <signal.h>
#include <sys/resource.h>

#include "common/items.h"

using TimeTrial = RaceTrack;

TEST(TimeTrialRestart, StandsFurtherBackWithEachAttemptButNeverBeforeTheFirstPosition)
{
    Timing t = {};
    t.valid = true;
    t.first_count = k_d;
    t.normal_count = k_c;
    struct {
        int attempt, position;
    } cases[] = {
        { 2, k_d + k_c - 2 },       // the normal lap's last checkpoint before its end
        { 3, k_d + k_c - 3 },
        { k_c + 1, k_d - 1 },       // the end of the first lap
        { k_c + 2, k_d - 2 },
        { k_d + k_c, 0 },
        { k_d + k_c + 5, 0 },
        { 0, k_d },                 // a whole lap back wraps to the lap's start
    };
    for (const auto &c : cases)
        EXPECT_EQ(time_trial_restart_position(&t, c.attempt), c.position) << c.attempt;
}

// The checkpoint the player's bike stands at (they are 50 ft and more apart).
static int standing_at(void)
{
    const dReal *p = dBodyGetPosition(rider_slot(0)->bike->body[BODY_FRAME]);
    for (int c = 0; c < session_timing()->checkpoint_count; c++) {
        const Vec3 &centre = session_timing()->checkpoints[c].centre;
        if (hypot(p[0] - centre.x, p[2] - centre.z) < 5)
            return c;
    }
    return -1;
}

static void channels(float back_up, float throttle)
{
    float ch[CONTROL_CHANNELS] = {};
    ch[CHANNEL_BACK_UP] = back_up;
    ch[CHANNEL_THROTTLE] = throttle;
    set_control_channels(ch);
}

TEST_F(TimeTrial, BackingUpRestartsFurtherBackWithYesAndTheThrottleResets)
{
    ASSERT_TRUE(load(0, 1000, true));
    ASSERT_TRUE(session_time_trial());
    // placed as attempt 2 at position 8, checkpoint 2; the run-in ends lap 1 next
    EXPECT_EQ(time_trial_attempt(), 3);
    EXPECT_EQ(standing_at(), 2);
    EXPECT_EQ(passes(0)->count, k_d - 1);
    EXPECT_EQ(passes(0)->next, k_d - 1);

    channels(1, 0);
    time_trial_restart_input();
    EXPECT_EQ(time_trial_attempt(), 3) << "not armed until the back-up control is let go";
    channels(0, 0);
    time_trial_restart_input();
    channels(1, 0);
    time_trial_restart_input();
    EXPECT_EQ(time_trial_attempt(), 4);
    EXPECT_EQ(standing_at(), 1) << "position 7 is checkpoint 1";
    time_trial_restart_input();
    EXPECT_EQ(time_trial_attempt(), 4) << "one restart per push";

    // "No": backing up is only backing up
    static const char *const no_yes[] = { "No", "Yes" };
    ChoiceItem aborts = { "Backing Up Aborts Attempt", no_yes, 2, 0 };
    RaceSettingItems settings = { nullptr, &aborts };
    race_use_settings(&settings);
    channels(0, 0);
    time_trial_restart_input();
    channels(1, 0);
    time_trial_restart_input();
    EXPECT_EQ(time_trial_attempt(), 4);
    EXPECT_EQ(standing_at(), 1);

    aborts.chosen = 1;
    for (int k = 0; k < 20; k++) {
        channels(0, 0);
        time_trial_restart_input();
        channels(1, 0);
        time_trial_restart_input();
    }
    EXPECT_EQ(time_trial_attempt(), k_d + k_c) << "no further back than position 0";
    EXPECT_EQ(standing_at(), 0);
    channels(0, 1);
    time_trial_restart_input();
    EXPECT_EQ(time_trial_attempt(), 2);

    // warp mode starts a time trial again
    race_restart_rotated(1);
    EXPECT_TRUE(session_time_trial());
    EXPECT_EQ(session_slot(0)->request, REQUEST_PLAYER);
    EXPECT_EQ(race_tic(), k_time_trial_start_tic);
}

static std::string g_calls;
static void finish_recording(void) { g_calls += "finish|"; }
static void close_playback(void) { g_calls += "close|"; }
static void start_recording(void) { g_calls += "start|"; }
// The ghost of the fast lap: one replayed rider in slot 1.
static bool open_ghost(const char *file)
{
    g_calls += std::string("ghost ") + file + "|";
    BikeState *bike = build_bike(1, "yz250f(2017)");
    *rider_slot(1) = { bike, CONTROL_REPLAYED };
    return bike != nullptr;
}

static const char *const k_lap_calls = "finish|close|ghost @tracks/a/fastlap.skdemo|start|";

// Positions 'from' .. 'to' passed evenly up to 'end' (race tic); the last at 'end'.
static void pass_to(int slot, int from, int to, int end)
{
    for (int k = from; k <= to; k++)
        set_gate_pass(passes(slot), k, end - (to - k) * 100);
    passes(slot)->next = to + 1;
}

TEST_F(TimeTrial, LapEndsKeepTheFastLapWhenThePlayerBeatsTheGhost)
{
    static const TimeTrialDemoCalls calls = { finish_recording, close_playback, open_ghost, start_recording };
    time_trial_set_demo_calls(&calls);
    ASSERT_TRUE(load(0, 1000, true));
    std::string folder = home + "/Skorva/tracks/a/";
    make_parent_dirs(folder.c_str());
    auto lap_demo = [&](const char *text) {
        FILE *f = fopen((folder + "lastlap.skdemo").c_str(), "wb");
        fputs(text, f);
        fclose(f);
    };
    int t0 = race_tic() + 50;

    // the run-in ends: the lap starts, with the ghost beside the player
    g_calls.clear();
    set_race_tic(t0);
    pass_to(0, k_d - 1, k_d - 1, t0);
    time_trial_tic();
    EXPECT_EQ(g_calls, k_lap_calls);
    EXPECT_EQ(time_trial_last_lap(), 0);
    EXPECT_EQ(read_home("tracks/a/fastlap.skdemo"), "") << "no lap was timed";
    ASSERT_NE(rider_slot(1)->bike, nullptr);
    EXPECT_EQ(passes(1)->count, k_d) << "the ghost starts the lap in step with the player";
    EXPECT_EQ(gate_pass_time(passes(1), k_d - 1), t0);

    // lap A in 5000 tics: the first fast lap
    lap_demo("lap A");
    pass_to(1, k_d, k_d + 2, t0 + 4000);
    int t1 = t0 + 5000;
    set_race_tic(t1);
    pass_to(0, k_d, lap_end(2), t1);
    g_calls.clear();
    time_trial_tic();
    EXPECT_EQ(g_calls, k_lap_calls);
    EXPECT_EQ(time_trial_last_lap(), 5000);
    EXPECT_EQ(time_trial_best_lap(), 5000);
    EXPECT_EQ(read_home("tracks/a/fastlap.skdemo"), "lap A");
    EXPECT_EQ(passes(0)->count, k_d) << "the lap end starts the next lap";
    EXPECT_EQ(gate_pass_time(passes(0), k_d - 1), t1);
    EXPECT_EQ(passes(1)->count, k_d) << "a new ghost";

    // lap B: the ghost ends its lap first and goes round again; the player is slower
    lap_demo("lap B");
    set_race_tic(t1 + 5000);
    pass_to(1, k_d, lap_end(2), t1 + 5000);
    time_trial_tic();
    EXPECT_EQ(passes(1)->count, k_d) << "the ghost's lap is cut back";
    EXPECT_EQ(gate_pass_time(passes(1), k_d - 1), t1 + 5000);
    EXPECT_EQ(passes(1)->next, k_d);
    int t2 = t1 + 5500;
    set_race_tic(t2);
    pass_to(0, k_d, lap_end(2), t2);
    time_trial_tic();
    EXPECT_EQ(time_trial_last_lap(), 5500);
    EXPECT_EQ(time_trial_best_lap(), 5000);
    EXPECT_EQ(read_home("tracks/a/fastlap.skdemo"), "lap A") << "the ghost was faster";

    // lap C: the player ends it while the ghost is still on it
    lap_demo("lap C");
    pass_to(1, k_d, k_d + 3, t2 + 4600);
    int t3 = t2 + 4800;
    set_race_tic(t3);
    pass_to(0, k_d, lap_end(2), t3);
    time_trial_tic();
    EXPECT_EQ(time_trial_last_lap(), 4800);
    EXPECT_EQ(time_trial_best_lap(), 4800);
    EXPECT_EQ(read_home("tracks/a/fastlap.skdemo"), "lap C");

    // lap D beats the ghost too, but its demo cannot be written: the fast lap stays whole
    lap_demo("lap D, longer than the space left for it");
    set_race_tic(t3 + 4700);
    pass_to(0, k_d, lap_end(2), t3 + 4700);
    rlimit old, tight;
    getrlimit(RLIMIT_FSIZE, &old);
    tight = old;
    tight.rlim_cur = 8;
    void (*was)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tight);
    time_trial_tic();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, was);
    EXPECT_EQ(time_trial_best_lap(), 4700);
    EXPECT_EQ(read_home("tracks/a/fastlap.skdemo"), "lap C");
    int files = 0;
    for (const auto &e : std::filesystem::directory_iterator(folder))
        files += e.path().filename().string().rfind("fastlap", 0) == 0;
    EXPECT_EQ(files, 1) << "no temporary file left behind";
}
