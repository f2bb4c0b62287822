// Results: lap and best-lap times, cutting penalties in the final order, gaps, when a race is
// over, the results overlay and "@results.txt".
#include "race_fixture.h"

#include <signal.h>
#include <sys/resource.h>

#include "race/standings.h"

using Results = RaceTrack;

static Timing loop_timing(void)
{
    Timing t = {};
    t.valid = true;
    t.first_count = k_d;
    t.normal_count = k_c;
    return t;
}

TEST(PenaltyLaps, WholeBestLapsComeOffWhileThePenaltyExceedsOne)
{
    Timing t = loop_timing();
    struct {
        int laps;                   // completed
        double penalty, best;       // seconds
        int removed;
        double left;
    } cases[] = {
        { 3, 75, 60, 1, 15 },       // one lap and 15 s
        { 5, 200, 60, 3, 20 },
        { 3, 50, 60, 0, 50 },       // less than a lap: all on the time
        { 3, 500, 60, 2, 380 },     // never below the first lap's positions
        { 1, 75, 60, 0, 75 },       // one lap: nothing to take
        { 3, 75, 0, 0, 75 },        // no timed lap: no lap taken, all on the time
    };
    for (const auto &c : cases) {
        int positions = k_d + (c.laps - 1) * k_c;
        double penalty = c.penalty * 128;
        EXPECT_EQ(penalty_laps(&t, &positions, &penalty, (int)(c.best * 128)), c.removed) << c.penalty;
        EXPECT_EQ(positions, k_d + (c.laps - 1 - c.removed) * k_c);
        EXPECT_DOUBLE_EQ(penalty, c.left * 128);
    }
}

TEST(BestLap, MissingPassesLeaveALapUntimedAndLapOneNeverCounts)
{
    Timing t = loop_timing();
    GatePasses p = {};
    int at = 100;
    for (int k = 0; k <= k_d - 1 + 3 * k_c; k++) {
        at += k < k_d ? 50 : k < k_d + k_c ? 100 : 90;
        set_gate_pass(&p, k, at);
    }
    // lap 1: 200 tics from the drop at 100; lap 2: 600; laps 3 and 4: 540
    EXPECT_EQ(lap_tics(&t, &p, 1, 100), 200);
    EXPECT_EQ(lap_tics(&t, &p, 2, 100), 600);
    EXPECT_EQ(lap_tics(&t, &p, 5, 100), 0) << "not run";
    int tics = 0;
    EXPECT_EQ(best_lap_of(&t, &p, 100, &tics), 3) << "the earlier of equal laps";
    EXPECT_EQ(tics, 540);
    p.tics[lap_end(3) - 2] = -1;
    EXPECT_EQ(lap_tics(&t, &p, 3, 100), 0) << "a missed pass leaves the lap without a time";
    EXPECT_EQ(best_lap_of(&t, &p, 100, &tics), 4);
    p.tics[lap_end(4) - 1] = -1;
    p.tics[lap_end(2) - 3] = -1;
    EXPECT_EQ(best_lap_of(&t, &p, 100, &tics), 0) << "no timed lap from lap 2 on";
    EXPECT_EQ(tics, 0);
    // lap 1 alone never makes a best lap
    truncate_passes(&p, k_d);
    EXPECT_EQ(best_lap_of(&t, &p, 100, &tics), 0);
    passes_free(&p);
}

// Riders 43, 8 and 70: 43 clean over two laps, 8 cutting position 6, 70 a lap behind, ending
// its first lap after the flag (or still on it).
static void three_rider_race(bool all = true)
{
    ride(0, { 1280, 2560, 3840, 5120, 6400, 7680, 8960, 10240, 11520, 12800 });
    ride(1, { 1344, 2688, 4032, 5376, 6720, 8064, -1, 8992, 10496, 13056 });
    if (all)
        ride(2, { 2048, 4096, 6144, 15104 });
    else
        ride(2, { 2048, 4096, 6144 });
}

static std::string read_file(const std::string &path)
{
    std::string bytes;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, n);
        fclose(f);
    }
    return bytes;
}

static std::string golden(const char *name)
{
    std::string here = __FILE__;
    return read_file(here.substr(0, here.rfind('/')) + "/golden/" + name);
}

TEST_F(Results, AScriptedRaceWritesTheGoldenResultsFile)
{
    requests[0] = REQUEST_ROBOT_NUMBER + 43;
    requests[1] = REQUEST_ROBOT_NUMBER + 8;
    requests[2] = REQUEST_ROBOT_NUMBER + 70;
    ASSERT_TRUE(load(0, 2));
    three_rider_race(false);
    at(14000);
    results_refresh();
    EXPECT_FALSE(results_final()) << "rider 70 is still out";
    EXPECT_EQ(read_home("results.txt"), "");
    three_rider_race();
    at(15200);
    results_refresh();
    ASSERT_TRUE(results_final());
    std::string expected = golden("results.txt");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(read_home("results.txt"), expected);

    static ResultsOverlay o;
    ASSERT_TRUE(results_overlay(&o));
    EXPECT_STREQ(o.title, "Final Results");
    ASSERT_EQ(o.rows, 3);
    const char *rows[3][6] = {
        { "1", " 43", "L2", "  0.000", "1:00.000", "(2)" },
        { "2", "  8", "L2", " 15.750", "0:00.000", "(0)" },     // penalised time 115.75 s against 100
        { "3", " 70", "L1", " 76.000", "0:00.000", "(0)" },     // 118 s against 42 s at position 3
    };
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 6; c++)
            EXPECT_STREQ(o.row[r].cells[c], rows[r][c]) << r << " " << c;
    EXPECT_EQ(o.row[0].role, ROW_VIEWED);
    EXPECT_EQ(o.row[1].role, ROW_SHADED);
    EXPECT_EQ(o.row[2].role, ROW_PLAIN);
    EXPECT_STREQ(o.total, "Total Race Time: 1:40.000");
    ASSERT_EQ(o.penalties, 1);
    // 5 to 7 in 928 tics against 43's 2560: 2560 + 128 - 928
    EXPECT_STREQ(o.penalty[0], "  8 penalized 13.75 seconds for cutting track");
    // final: nothing changes any more
    ride(2, { 2048, 4096, 6144, 15104, 16000 });
    results_refresh();
    EXPECT_EQ(final_order(nullptr)[2].positions, 4);
}

TEST_F(Results, A75SecondPenaltyOnA60SecondBestLapCostsOneLapAnd15Seconds)
{
    requests[0] = REQUEST_ROBOT_NUMBER + 43;
    requests[1] = REQUEST_ROBOT_NUMBER + 8;
    ASSERT_TRUE(load(0, 3));
    // 43: 10 s a position, but 80 s from 5 to 7 and from 11 to 13
    std::vector<int> clean, cutter;
    int t = 0;
    for (int k = 0; k <= lap_end(3); k++)
        clean.push_back(t += k == 6 || k == 7 || k == 12 || k == 13 ? 5120 : 1280);
    // 8: lap 2 in 60 s; in lap 3, 11 to 13 in 6 s with 12 missed
    t = 0;
    for (int k = 0; k <= lap_end(3); k++) {
        t += k < k_d ? 640 : k <= lap_end(2) ? 1280 : k == 12 ? 0 : k == 13 ? 768 : 640;
        cutter.push_back(k == 12 ? -1 : t);
    }
    ride(0, clean);
    ride(1, cutter);
    ASSERT_LT(cutter.back(), clean.back());
    at(clean.back() + 10);
    results_refresh();
    ASSERT_TRUE(results_final());
    int n;
    const FinalEntry *f = final_order(&n);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(f[0].slot, 0) << "the cutter drops a lap behind";
    EXPECT_EQ(f[1].slot, 1);
    EXPECT_EQ(f[1].laps_removed, 1);
    EXPECT_EQ(f[1].positions, lap_end(2) + 1);
    EXPECT_DOUBLE_EQ(f[1].penalty, 15 * 128);
    EXPECT_DOUBLE_EQ(f[1].time, k_drop + cutter.back() + 15 * 128);
    static ResultsOverlay o;
    ASSERT_TRUE(results_overlay(&o));
    ASSERT_EQ(o.penalties, 1);
    EXPECT_STREQ(o.penalty[0], "  8 penalized 1 lap 15.00 seconds for cutting track");
    EXPECT_STREQ(o.row[1].cells[2], "L2");
    EXPECT_STREQ(o.row[1].cells[4], "1:00.000");
    EXPECT_STREQ(o.row[1].cells[5], "(2)");
}

TEST_F(Results, GapsAgainstTheRiderAboveNeverNegative)
{
    requests[0] = requests[1] = requests[2] = REQUEST_ROBOT;
    ASSERT_TRUE(load(0, 3));
    ride(0, { 100, 200, 300, 400, 500 });
    ride(1, { 110, 230, 320, 460, 580 });
    ride(2, { 90, 190, 350 });
    at(600);
    results_refresh();
    // equal positions: the last passes; fewer: the last position both passed
    EXPECT_DOUBLE_EQ(rider_gap(1, 5, k_drop + 580, 0, 5, k_drop + 500), 80 / 128.0);
    EXPECT_DOUBLE_EQ(rider_gap(2, 3, k_drop + 350, 1, 5, k_drop + 580), 30 / 128.0);
    EXPECT_DOUBLE_EQ(rider_gap(2, 3, k_drop + 350, 0, 5, k_drop + 500), 50 / 128.0);
    EXPECT_EQ(rider_gap(0, 5, k_drop + 500, 1, 5, k_drop + 580), 0) << "ahead shows 0";
    ride(2, { 90, 190, 310 });
    EXPECT_EQ(rider_gap(2, 3, k_drop + 310, 1, 5, k_drop + 580), 0) << "earlier at the common position";
    static Ticker ticker;
    results_ticker(&ticker, 5);
    ASSERT_EQ(ticker.entries, 3);
    EXPECT_STREQ(ticker.entry[0].gap, "") << "the leader has no gap";
    EXPECT_STREQ(ticker.entry[1].gap, "  0.625");
    char number[8];
    snprintf(number, sizeof number, "%3s", session_slot(2)->number);
    EXPECT_STREQ(ticker.entry[2].number, number);
    EXPECT_STREQ(ticker.entry[2].name, "Roborider");
    // half an entry a second, an empty entry after the last
    EXPECT_DOUBLE_EQ(ticker.scroll, 2.5 * 21.5);
    results_ticker(&ticker, 9);
    EXPECT_DOUBLE_EQ(ticker.scroll, 0.5 * 21.5);
}

static int g_newest;
static double g_age;
static bool g_online, g_own, g_has_slot;
static bool online(void) { return g_online; }
static bool own_in_race(void) { return g_own; }
static int newest(int) { return g_newest; }
static double age(int) { return g_age; }
static bool has_slot(int) { return g_has_slot; }

TEST_F(Results, ARaceIsOverWhenNoUnfinishedRiderIsStillActive)
{
    static const ResultsActivityCalls calls = { online, own_in_race, newest, age, has_slot };
    results_set_activity_calls(&calls);
    struct {
        int other;                  // request of slot 1, which never moves
        bool online;
        int silent;                 // tics since its last state
        double age;                 // seconds since the server's update
        bool own, has_slot;         // race slots of this client and of the rider
        bool over;
    } cases[] = {
        { REQUEST_ROBOT, false, 0, 0, true, true, false },  // a robot that never moves holds it open
        { 7, false, 1280, 0, true, true, false },            // a replayed rider heard from within 10 s
        { 7, false, 1281, 0, true, true, true },             // ... and one silent for longer
        { 7, true, 0, 0.5, true, true, false },              // online: updated half a second ago
        { 7, true, 0, 1.5, true, true, true },
        { 7, true, 0, 0.5, false, true, false },             // spectating: the racing riders count
        { 7, true, 0, 0.5, false, false, true },             // ... the others do not
    };
    for (const auto &c : cases) {
        requests[0] = REQUEST_ROBOT;
        requests[1] = c.other;
        g_online = c.online;
        g_age = c.age;
        g_own = c.own;
        g_has_slot = c.has_slot;
        g_newest = k_drop + 5000 - c.silent;
        ASSERT_TRUE(load(0, 1));
        ASSERT_EQ(rider_slot(1)->kind, c.other == REQUEST_ROBOT ? CONTROL_ROBOT : CONTROL_REPLAYED);
        ride(0, steady(k_d, 100));
        at(5000);
        results_refresh();
        EXPECT_EQ(results_final(), c.over) << c.other << " " << c.online << " " << c.silent << " " << c.age;
    }
}

// Replacing "@results.txt" fails here as it does on a full disk: the write cannot grow the file.
static bool write_with_file_size_limit(rlim_t bytes)
{
    rlimit old, tight;
    getrlimit(RLIMIT_FSIZE, &old);
    tight = old;
    tight.rlim_cur = bytes;
    void (*was)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tight);
    bool ok = results_write("@results.txt");
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, was);
    return ok;
}

TEST_F(Results, AResultsFileThatCannotBeWrittenKeepsTheOldOne)
{
    requests[0] = REQUEST_ROBOT_NUMBER + 43;
    requests[1] = REQUEST_ROBOT_NUMBER + 8;
    requests[2] = REQUEST_ROBOT_NUMBER + 70;
    ASSERT_TRUE(load(0, 2));
    std::string dir = home + "/Skorva";
    FILE *f = nullptr;
    three_rider_race();
    at(15200);
    results_refresh();
    ASSERT_TRUE(results_final());
    ASSERT_EQ(read_home("results.txt"), golden("results.txt"));
    f = fopen((dir + "/results.txt").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("the last race\r\n", f);
    fclose(f);
    EXPECT_FALSE(write_with_file_size_limit(64));
    EXPECT_EQ(read_home("results.txt"), "the last race\r\n");
    if (geteuid() != 0) {
        // a home directory that cannot be written to (root writes anyway)
        chmod(dir.c_str(), 0555);
        EXPECT_FALSE(results_write("@results.txt"));
        chmod(dir.c_str(), 0755);
        EXPECT_EQ(read_home("results.txt"), "the last race\r\n");
    }
    int entries = 0;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        entries += e.path().filename().string().rfind("results.txt", 0) == 0;
    EXPECT_EQ(entries, 1) << "no temporary file left behind";
    EXPECT_TRUE(results_write("@results.txt"));
    EXPECT_EQ(read_home("results.txt"), golden("results.txt"));
}

TEST_F(Results, HudLinesFromTheirReadings)
{
    requests[0] = REQUEST_ROBOT;
    ASSERT_TRUE(load());
    at(-5);
    char lines[k_hud_lines][k_hud_line];
    HudReadings r = {};
    r.draw_fps = r.draw_time = r.draw_ping = r.draw_speed = true;
    r.longest_step = 0.03125;
    EXPECT_EQ(hud_text_lines(&r, lines, k_hud_lines), 3) << "no ping without a race slot";
    EXPECT_STREQ(lines[0], "FPS - 32");
    EXPECT_STREQ(lines[1], "Time - 0:00.0 ") << "0 before the drop";
    EXPECT_STREQ(lines[2], "Speed - 0.00");
    at(128 * 75 + 90);      // 75.703 s
    r.ping_known = true;
    r.ping_ms = 40;
    r.offset_ms = -8;
    r.longest_step = 0;
    r.dabbing = true;
    ASSERT_EQ(hud_text_lines(&r, lines, k_hud_lines), 5);
    EXPECT_STREQ(lines[0], "FPS - 0");
    EXPECT_STREQ(lines[1], "Time - 1:15.7 ");
    EXPECT_STREQ(lines[2], "Ping - 40ms (-8ms offset)");
    EXPECT_STREQ(lines[4], "Dabbing!");
    r = {};
    r.render_stats = true;
    r.stats[0][0] = 1200;
    r.stats[0][1] = 5000;
    r.texture_age = 3;
    ASSERT_EQ(hud_text_lines(&r, lines, k_hud_lines), 9);
    EXPECT_STREQ(lines[0], "Ground polygons - 1200 max=5000");
    EXPECT_STREQ(lines[6], "Terrain texture age - 3");
    EXPECT_STREQ(lines[8], "Erode buffered - 0");
}
