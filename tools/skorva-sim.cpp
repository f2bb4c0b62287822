// The game's simulation without a window, sound or GL: loads a track session through the same
// code as the game, puts robot-requested bikes on the gate, runs tics of simulation_tic and
// reports what the bikes did.
//   skorva-sim [--track FOLDER] [--bikes N] [--tics T] [--seed S] [--log FILE] [--quiet]
//              [--laps N] [--minutes M] [--puppets V[c],...]
//              [--bike MODEL] [--rev] [--record-audio FILE]
//              [--script FILE] [--setup FILE] [--trace SLOT|FILE] [--trace-file FILE]
//              [--erode E] [--erode-records FILE] [--erode-replay FILE] [--dump-heights FILE]
//              [--skill 0..2] [--learn] [--debug] [--practice] [--robot-trace FILE]
// With --laps, --minutes or --puppets it runs a race until its results are final (or the tics
// run out: two hours unless --tics is given), prints the final order as the results overlay
// shows it and leaves "results.txt" in the home directory. --minutes makes a timed race with
// --laps extra laps. --puppets makes the first riders scripted puppets at V ft/s ("c": cutting
// every lap after the first; 0: standing).
// The data comes from SK_HOME, else the "game" folder beside this executable.
// --bike gives the first bike that model. --rev takes the first bike from the autopilot: it
// stands with the clutch lever pulled while the throttle idles 1 s, opens over 2 s, holds 1 s,
// closes over 1 s and idles 1 s (768 tics, unless a later --tics says otherwise), and every
// tic prints "rev TIC RPM LOAD". --record-audio writes the engines' sound as the game records
// it (raw unsigned 8-bit stereo at 88,320 Hz, 1,380 bytes a tic), the voices updated at 60
// simulated frames a second and heard from the first bike.
// Erosion: --erode E digs ruts at the session rate E (0 .. 100, as the game's option); the
// loop's erosion pass runs after every second tic (a 64 Hz frame) around the scripted player,
// and after the last tic the queue drains with no rider. --erode-records FILE writes every
// record the wheels send, in order, each as a 2-byte little-endian length and its bytes;
// --erode-replay FILE queues such a file's records after the tics and drains them (--bikes 0
// rides no bike at all); --dump-heights FILE writes the heights after the drain, dim x dim
// little-endian 32-bit floats, x fastest. With any of them a summary line follows:
// "erosion: records R points P applied A dropped D net N dug U", volumes in cubic feet
// against the loaded heights.
// --skill picks the robots' lines file (default 1, "lines_amateur"); --learn writes the lines the
// run learned back into the home directory's copy; --debug logs the lines' verbose lines;
// --practice makes every robot the tester. Robots driven by the autopilot are reported with
// their lap times, falls, time lost and bikes overturned with the rider on, and the autopilot's
// cost; --trace FILE (or --robot-trace FILE) writes "tic,slot,x,y,z,speed,laps,lost" for each
// of them every 32 tics.
// Exit status: 0 all bikes stayed sound, 1 a bike went non-finite, left the world or sank below
// the ground, 2 no run (a bad option, script or setup line, or no track).
//
// A ride: with --script or --setup, slot 0 is the local player with a fresh start-up's setup
// (the setup file's lines applied over it) and the script's control channels reach its bike
// before each tic, as the game's own controls do. --trace writes one line per tic of a slot's
// speed, engine, controls, suspension, tyres and position.
//
// Below the ground: an axle more than its tyre's section below the ground under it. A tyre can
// be pressed in by at most its section before its rim meets the ground; a wheel lying flat on
// a fully pressed tyre has its axle at the surface, an upright one far above it. An axle a
// further section down has gone through the ground.
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "audio/engine_sound.h"
#include "audio/sound.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/drive.h"
#include "bike/rider.h"
#include "bike/setup.h"
#include "bike/shape.h"
#include "bike/steering.h"
#include "common/mem.h"
#include "platform/log.h"
#include "race/puppets.h"
#include "race/race_rules.h"
#include "race/results.h"
#include "race/session.h"
#include "race/simulation.h"
#include "race/standings.h"
#include "race/world.h"
#include "terrain/erosion.h"
#include "race/session_steps.h"
#include "robots/autopilot.h"
#include "robots/robots.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

struct BikeTrack {
    int slot;
    double min_y, max_y;            // of the frame above the ground under it
    double min_clearance;           // lowest axle height above the ground under it
    int nonfinite_tic;              // first tic with a non-finite value, -1 none
    int left_tic;                   // first tic with a body outside the world, -1 none
    int below_tic;                  // first tic with an axle below the ground, -1 none
};

static struct {
    const char *track;
    int bikes, tics;
    unsigned seed;
    bool quiet;
    BikeTrack *watch;
    int watched;
} g_sim = { "tracks/sample", 40, -1, 1, false, nullptr, 0 };     // tics -1: not given

static const int k_default_tics = 1280;         // 10 s
// A race without --tics runs until its results are final; two hours stop one that never ends
// (a standing puppet holds it open).
static const int k_race_tics = 2 * 3600 * 128;

static double now_us(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec * 1e-3;
}

static bool parse_int(const char *text, int lo, int hi, int *out)
{
    char *end = nullptr;
    long v = text ? strtol(text, &end, 10) : 0;
    if (!text || end == text || *end || v < lo || v > hi)
        return false;
    *out = (int)v;
    return true;
}

static int usage(void)
{
    fprintf(stderr, "usage: skorva-sim [--track FOLDER] [--bikes 0..160] [--tics N] [--seed S] [--log FILE] [--quiet]\n"
                    "                  [--laps 0..50] [--minutes 0..60] [--puppets V[c],...]\n"
                    "                  [--bike MODEL] [--rev] [--record-audio FILE]\n"
                    "                  [--script FILE] [--setup FILE] [--trace SLOT|FILE] [--trace-file FILE]\n"
                    "                  [--erode E] [--erode-records FILE] [--erode-replay FILE] [--dump-heights FILE]\n"
                    "                  [--skill 0..2] [--learn] [--debug] [--practice] [--robot-trace FILE]\n");
    return 2;
}

// ---- robots and their riding lines: --skill, --learn, --debug

static struct {
    int skill;                      // which lines file the robots ride by
    bool learn;                     // the lines are written back into the home directory at the end
    int verbosity;
    bool practice;                  // every robot rides as the tester
    const char *trace;              // --robot-trace FILE
    FILE *trace_file;
    int falls[BIKE_SLOTS], contact_falls[BIKE_SLOTS], lost_tics[BIKE_SLOTS];
    int fall_count[BIKE_SLOTS];
    int overturned[BIKE_SLOTS];     // times the bike went over with its rider still on it
    bool over[BIKE_SLOTS];
} g_robots_run = { 1, false, 0, false, nullptr, nullptr, {}, {}, {}, {}, {}, {} };

// A bike past 75 degrees from upright is over; it is back up once within 45 degrees.
static const double k_over_up = 0.26, k_back_up = 0.7;

// Returns how many arguments it took: 0 none of these, -1 a bad value.
static int robots_option(const char *a, const char *v)
{
    if (strcmp(a, "--skill") == 0)
        return parse_int(v, 0, 2, &g_robots_run.skill) ? 2 : -1;
    if (strcmp(a, "--learn") == 0)
        return g_robots_run.learn = true, 1;
    if (strcmp(a, "--debug") == 0)
        return g_robots_run.verbosity = 1, 1;
    if (strcmp(a, "--practice") == 0)
        return g_robots_run.practice = true, 1;
    if (strcmp(a, "--robot-trace") == 0)
        return v ? (g_robots_run.trace = v, 2) : -1;
    return 0;
}

// The session's options, which the robots' and the erosion's options each fill their part of.
static SessionOptions g_options;

static void robots_run_begin(void)
{
    robots_install();
    SessionOptions &options = g_options;
    options.verbosity = g_robots_run.verbosity;
    options.learn_lines = g_robots_run.learn;
    options.practice_robots = g_robots_run.practice;
    session_set_options(&options);
}

static bool autopilot_driven(int slot)
{
    return rider_slot(slot)->bike && rider_slot(slot)->kind == CONTROL_ROBOT && !is_puppet(slot);
}

static bool robots_run_loaded(void)
{
    autopilot_cost_reset();
    for (int i = 0; i < BIKE_SLOTS; i++)
        if (BikeState *b = rider_slot(i)->bike)
            g_robots_run.fall_count[i] = b->fall_count;
    if (!g_robots_run.trace)
        return true;
    g_robots_run.trace_file = fopen(g_robots_run.trace, "w");
    if (!g_robots_run.trace_file)
        fprintf(stderr, "skorva-sim: can't write the robot trace '%s'\n", g_robots_run.trace);
    return g_robots_run.trace_file != nullptr;
}

// After each tic: falls (and those begun within 1 s of touching another bike), time lost, and
// every 32 tics a trace line per robot: tic, slot, x, y, z, speed, completed laps, lost counter.
static void robots_run_after_tic(void)
{
    int tic = race_tic() - 1;
    for (int i = 0; i < BIKE_SLOTS; i++) {
        if (!autopilot_driven(i))
            continue;
        BikeState *b = rider_slot(i)->bike;
        if (b->fall_count > g_robots_run.fall_count[i]) {
            g_robots_run.falls[i] += b->fall_count - g_robots_run.fall_count[i];
            int contact = last_bike_contact_tic(i);
            if (contact >= 0 && tic - contact <= 128)
                g_robots_run.contact_falls[i]++;
        }
        g_robots_run.fall_count[i] = b->fall_count;
        // A bike thrown over without the rider's fall (the rider stays on whatever the bike
        // does unless the body is jolted hard) is no fall, but it is reported beside them.
        double up = dBodyGetRotation(b->body[BODY_FRAME])[5];
        if (!g_robots_run.over[i] && up < k_over_up && bike_fall_timer(b) == 0) {
            g_robots_run.over[i] = true;
            g_robots_run.overturned[i]++;
        } else if (up > k_back_up) {
            g_robots_run.over[i] = false;
        }
        // after the finish a robot runs out of line and waits: no time lost in the race
        g_robots_run.lost_tics[i] += robot_lost_counter(i) > 0 && !rider_finished(i);
        if (g_robots_run.trace_file && tic % 32 == 0) {
            const dReal *p = dBodyGetPosition(b->body[BODY_FRAME]), *v = dBodyGetLinearVel(b->body[BODY_FRAME]);
            fprintf(g_robots_run.trace_file, "%d,%d,%.3f,%.3f,%.3f,%.3f,%d,%d\n", tic, i, p[0], p[1], p[2],
                    sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]),
                    laps_completed(session_timing(), session_passes(i)->count), robot_lost_counter(i));
        }
    }
}

// Per robot its lap times, falls, falls begun within 1 s of a bike contact, seconds lost before
// it finished and the times its bike went over without a fall; then what the autopilot cost.
static void robots_run_report(FILE *out)
{
    int robots = 0;
    for (int i = 0; i < BIKE_SLOTS; i++) {
        if (!autopilot_driven(i))
            continue;
        robots++;
        fprintf(out, "robot %d laps", i);
        for (int lap = 1;; lap++) {
            int t = lap_time_tics(session_timing(), session_passes(i), lap, gate_drop_tic());
            if (t < 0)
                break;
            fprintf(out, " %.2f", t / 128.0);
        }
        fprintf(out, "  falls %d (%d after contact)  lost %.1f s  overturned %d\n", g_robots_run.falls[i],
                g_robots_run.contact_falls[i], g_robots_run.lost_tics[i] / 128.0, g_robots_run.overturned[i]);
    }
    const AutopilotCost *c = autopilot_cost();
    if (robots > 0 && c->calls > 0)
        fprintf(out, "autopilot %.2f us per robot per tic (worst tic %.1f us)\n", c->total_us / c->calls,
                c->worst_tic_us);
    if (g_robots_run.trace_file)
        fclose(g_robots_run.trace_file);
    g_robots_run.trace_file = nullptr;
}

// ---- races

static struct {
    bool on;                        // any race option given
    int laps, minutes;
    int puppets;
    float speeds[BIKE_SLOTS];
    bool cuts[BIKE_SLOTS];
} g_race = { false, 3, 0, 0, {}, {} };

// The race options; false when the argument is none of them (or its value is bad).
static bool race_option(const char *a, const char *v, int *i)
{
    bool taken = false;
    if (strcmp(a, "--laps") == 0)
        taken = parse_int(v, 0, 50, &g_race.laps);
    else if (strcmp(a, "--minutes") == 0)
        taken = parse_int(v, 0, 60, &g_race.minutes);
    else if (strcmp(a, "--puppets") == 0 && v)
        taken = (g_race.puppets = puppets_parse(v, g_race.speeds, g_race.cuts, BIKE_SLOTS)) >= 0;
    if (taken) {
        g_race.on = true;
        (*i)++;
    }
    return taken;
}

// The final order as the results overlay shows it; before the race is over, the riders who
// finished so far.
static void print_results(FILE *out)
{
    static ResultsOverlay overlay;
    if (!results_final())
        fprintf(out, "race not over\n");
    if (!results_overlay(&overlay)) {
        fprintf(out, "%s: no rider finished\n", overlay.title);
        return;
    }
    fprintf(out, "%s\n%-5s %-5s %-5s %-9s %-10s %s\n", overlay.title, overlay.heads[0], overlay.heads[1], overlay.heads[2],
           overlay.heads[3], overlay.heads[4], overlay.heads[5]);
    for (int r = 0; r < overlay.rows; r++) {
        const ResultsRow &row = overlay.row[r];
        fprintf(out, "%-5s %-5s %-5s %-9s %-10s %s\n", row.cells[0], row.cells[1], row.cells[2], row.cells[3], row.cells[4],
               row.cells[5]);
    }
    if (overlay.total[0])
        fprintf(out, "%s\n", overlay.total);
    for (int k = 0; k < overlay.penalties; k++)
        fprintf(out, "%s\n", overlay.penalty[k]);
}

// ---- the engines' sound: --bike, --rev, --record-audio

static const int k_rev_tics = 768;              // 6 s
static const int k_frames_per_second = 60;      // how often the game updates its voices

static struct {
    const char *bike;
    const char *record;
    bool rev;
    int first;                                  // the first bike's slot; -1 none
    int frames;                                 // voice updates so far
} g_sound_run = { nullptr, nullptr, false, -1, 0 };

// One of the sound options at argv[i]: the number of arguments it took, 0 when it is none of
// them, -1 for a bad value.
static int sound_option(int argc, char **argv, int i, int *tics)
{
    const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (strcmp(a, "--bike") == 0) {
        if (!v || !find_bike_model(v)) {
            fprintf(stderr, "skorva-sim: no bike '%s' in the catalogue\n", v ? v : "");
            return -1;
        }
        g_sound_run.bike = v;
        return 2;
    }
    if (strcmp(a, "--record-audio") == 0) {
        if (!v)
            return -1;
        g_sound_run.record = v;
        return 2;
    }
    if (strcmp(a, "--rev") == 0) {
        g_sound_run.rev = true;
        *tics = k_rev_tics;
        return 1;
    }
    return 0;
}

// Before the load: the first slot asks for the chosen model, and the recording opens so that
// every bike gets its voice as it is made.
static bool sound_run_begin(int *requests)
{
    if (g_sound_run.bike) {
        bike_catalogue_offer();
        choice_set(&g_setup.bike, g_sound_run.bike);
        requests[0] = REQUEST_PLAYER;
    }
    if (!g_sound_run.record)
        return true;
    if (!sound_open_capture(g_sound_run.record, SOUND_READBACK_RATE, SOUND_READBACK_BLOCK)) {
        fprintf(stderr, "skorva-sim: can't record the sound into '%s'\n", g_sound_run.record);
        return false;
    }
    SimulationHooks hooks = {};
    hooks.engine_sound_create = engine_sound_create;
    hooks.engine_sound_destroy = engine_sound_destroy;
    hooks.sound_release_voices = sound_release_voices;
    simulation_set_hooks(&hooks);
    return true;
}

// After the load: the first bike is the one heard, and the one --rev takes over.
static void sound_run_loaded(void)
{
    for (int i = 0; i < RIDER_SLOTS && g_sound_run.first < 0; i++)
        if (rider_slot(i)->bike)
            g_sound_run.first = i;
    if (g_sound_run.first < 0)
        return;
    set_viewed_slot(g_sound_run.first);
    if (g_sound_run.rev) {
        rider_slot(g_sound_run.first)->kind = CONTROL_HUMAN;
        if (!engine_voice(g_sound_run.first))
            init_engine_voice(g_sound_run.first, rider_slot(g_sound_run.first)->bike, nullptr);
    }
}

static float rev_throttle(int tic)
{
    double s = tic * k_tic_seconds;
    return (float)(s < 1 ? 0 : s < 3 ? (s - 1) / 2 : s < 4 ? 1 : s < 5 ? 5 - s : 0);
}

static void sound_run_before_tic(int tic)
{
    BikeState *bike = g_sound_run.first >= 0 ? rider_slot(g_sound_run.first)->bike : nullptr;
    if (g_sound_run.rev && bike) {
        bike->inputs.clutch = 1;
        bike->inputs.throttle = rev_throttle(tic);
    }
    if (g_sound_run.record) {
        while ((long long)g_sound_run.frames * 128 <= (long long)tic * k_frames_per_second) {
            sound_mix_frame(1, 10, 8);
            g_sound_run.frames++;
        }
    }
}

static void sound_run_after_tic(int tic)
{
    if (g_sound_run.record)
        sound_capture_tic();
    EngineReading r;
    EngineVoice *v = engine_voice(g_sound_run.first);
    if (g_sound_run.rev && v && engine_voice_read(g_sound_run.first, &r))
        printf("rev %d %.1f %.3f\n", tic, r.rpm, engine_profile_load(&v->profile, r.torque));
}

static void sound_run_end(void)
{
    sound_close();
}

// SK_HOME, else the game folder beside this executable.
static void choose_data_dir(void)
{
    const char *home = getenv("SK_HOME");
    if (home && *home)
        return;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return;
    exe[n] = 0;
    char *slash = strrchr(exe, '/');
    if (!slash)
        return;
    snprintf(slash, sizeof exe - (size_t)(slash - exe), "/game");
    setenv("SK_HOME", exe, 1);
}

// ---- a scripted ride: --script, --setup, --trace

// One script line: from its tic on, every channel it names, the others 0.
struct ScriptLine {
    int tic;
    float channels[CONTROL_CHANNELS];
};

static const char *const k_channel_names[CONTROL_CHANNELS] = {
    "steer", "throttle", "front_brake", "rear_brake", "shift", "clutch", "sit", "back_up", "lean",
};

static struct {
    const char *script, *setup, *trace_file;
    int trace_slot;                 // -1: none
    ScriptLine *lines;
    int count, capacity, next;
    float channels[CONTROL_CHANNELS];
    FILE *trace;
} g_ride = { nullptr, nullptr, nullptr, -1, nullptr, 0, 0, 0, {}, nullptr };

// 1: the option (and its value) was taken; 0: not a ride option; -1: a ride option without
// a usable value.
static int ride_option(const char *a, const char *v)
{
    if (strcmp(a, "--script") == 0)
        g_ride.script = v;
    else if (strcmp(a, "--setup") == 0)
        g_ride.setup = v;
    else if (strcmp(a, "--trace-file") == 0)
        g_ride.trace_file = v;
    else if (strcmp(a, "--trace") == 0) {
        // a slot number traces that bike's ride; anything else names the robots' trace file
        if (parse_int(v, 0, BIKE_SLOTS - 1, &g_ride.trace_slot))
            return 1;
        if (!v || !v[0] || (v[0] >= '0' && v[0] <= '9') || v[0] == '-')
            return -1;
        g_robots_run.trace = v;
    }
    else
        return 0;
    return v ? 1 : -1;
}

static bool ride_player(void) { return g_ride.script || g_ride.setup; }

static bool bad_line(const char *file, int number, const char *why, const char *text)
{
    fprintf(stderr, "skorva-sim: %s:%d: %s: %.80s\n", file, number, why, text);
    return false;
}

// Lines "TIC name=value ..." with ascending tics; "#" starts a comment.
static bool read_script(const char *path)
{
    FILE *f = fopen(path, "r");
    if (!f) {
        fprintf(stderr, "skorva-sim: can't read the script %s\n", path);
        return false;
    }
    char *text = nullptr;
    size_t size = 0;
    int number = 0;
    bool ok = true;
    while (ok && getline(&text, &size, f) >= 0) {
        number++;
        text[strcspn(text, "#\r\n")] = 0;
        char *save = nullptr, *word = strtok_r(text, " \t", &save);
        if (!word)
            continue;
        ScriptLine line = {};
        char *end = nullptr;
        long tic = strtol(word, &end, 10);
        if (end == word || *end || tic < 0 || tic > INT_MAX) {
            ok = bad_line(path, number, "a line starts with its tic, a whole number from 0", word);
            break;
        }
        if (g_ride.count > 0 && tic <= g_ride.lines[g_ride.count - 1].tic) {
            ok = bad_line(path, number, "tics must ascend", word);
            break;
        }
        line.tic = (int)tic;
        bool named[CONTROL_CHANNELS] = {};
        while (ok && (word = strtok_r(nullptr, " \t", &save))) {
            char *eq = strchr(word, '=');
            int channel = -1;
            for (int c = 0; eq && c < CONTROL_CHANNELS; c++)
                if ((size_t)(eq - word) == strlen(k_channel_names[c]) && strncmp(word, k_channel_names[c], (size_t)(eq - word)) == 0)
                    channel = c;
            float value = eq ? strtof(eq + 1, &end) : 0;
            if (channel < 0)
                ok = bad_line(path, number, "not a channel (steer throttle front_brake rear_brake shift clutch sit "
                                            "back_up lean) with =value", word);
            else if (end == eq + 1 || *end || !(value >= -1 && value <= 1))
                ok = bad_line(path, number, "a channel's value is a number from -1 to 1", word);
            else if (named[channel])
                ok = bad_line(path, number, "a channel named twice", word);
            else {
                named[channel] = true;
                line.channels[channel] = value;
            }
        }
        if (!ok)
            break;
        if (g_ride.count == g_ride.capacity) {
            g_ride.capacity = g_ride.capacity ? 2 * g_ride.capacity : 64;
            g_ride.lines = (ScriptLine *)xrealloc(g_ride.lines, (size_t)g_ride.capacity * sizeof(ScriptLine));
        }
        g_ride.lines[g_ride.count++] = line;
    }
    free(text);
    fclose(f);
    return ok;
}

// "key=value" lines of the setup text over a fresh start-up's setup; blank lines and "#"
// comments are skipped.
static bool read_setup(const char *path)
{
    FILE *f = fopen(path, "r");
    if (!f) {
        fprintf(stderr, "skorva-sim: can't read the setup %s\n", path);
        return false;
    }
    char *text = nullptr;
    size_t size = 0;
    int number = 0;
    bool ok = true;
    while (ok && getline(&text, &size, f) >= 0) {
        number++;
        text[strcspn(text, "\r\n")] = 0;
        if (text[strspn(text, " \t")] == 0 || text[0] == '#')
            continue;
        char *eq = strchr(text, '=');
        if (!eq) {
            ok = bad_line(path, number, "not a key=value line", text);
            break;
        }
        *eq = 0;
        const char *value = eq + 1;
        if (!read_setup_pair(text, value))
            ok = bad_line(path, number, "not a setup key", text);
        // A bike the catalogue does not know would quietly ride the default one.
        else if (strcmp(text, "bike") == 0 && strncmp(choice_label(&g_setup.bike), value, strlen(value)) != 0)
            ok = bad_line(path, number, "no such bike", value);
    }
    free(text);
    fclose(f);
    return ok;
}

static bool ride_prepare(void)
{
    if (!ride_player())
        return true;
    bike_catalogue_offer();
    setup_set_defaults();
    return (!g_ride.script || read_script(g_ride.script)) && (!g_ride.setup || read_setup(g_ride.setup));
}

static void ride_requests(int *requests)
{
    if (ride_player())
        requests[0] = REQUEST_PLAYER;
}

// The channels of the script line in force at this tic reach the player's bike.
static void ride_before_tic(void)
{
    if (!g_ride.script)
        return;
    int tic = race_tic();
    while (g_ride.next < g_ride.count && g_ride.lines[g_ride.next].tic <= tic) {
        memcpy(g_ride.channels, g_ride.lines[g_ride.next].channels, sizeof g_ride.channels);
        g_ride.next++;
    }
    set_control_channels(g_ride.channels);
    bike_apply_channels(rider_slot(0)->bike, g_ride.channels);
}

static bool trace_open(void)
{
    if (g_ride.trace_slot < 0)
        return true;
    if (!bike_slot(g_ride.trace_slot) || !bike_slot(g_ride.trace_slot)->built) {
        fprintf(stderr, "skorva-sim: no bike in slot %d to trace\n", g_ride.trace_slot);
        return false;
    }
    g_ride.trace = g_ride.trace_file ? fopen(g_ride.trace_file, "w") : stdout;
    if (!g_ride.trace) {
        fprintf(stderr, "skorva-sim: can't write the trace %s\n", g_ride.trace_file);
        return false;
    }
    fprintf(g_ride.trace, "# tic mph rpm gear throttle clutch front_brake rear_brake fork fork_speed swingarm "
                          "shock_speed front_slip rear_slip front_contact rear_contact x y z lean heading up steer "
                          "steer_angle fall_timer foot_down rider_off\n");
    return true;
}

// One line after the step of tic `tic`.
static void trace_tic(int tic)
{
    if (!g_ride.trace)
        return;
    const BikeState *b = bike_slot(g_ride.trace_slot);
    const dReal *p = dBodyGetPosition(b->body[BODY_FRAME]), *v = dBodyGetLinearVel(b->body[BODY_FRAME]);
    double mph = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) / 1.4666667;
    BikeSuspension s = bike_suspension(b);
    const WheelContact &f = b->wheel[0], &r = b->wheel[1];
    dBodyID frame = b->body[BODY_FRAME];
    dVector3 up, forward;
    dBodyVectorToWorld(frame, 0, 1, 0, up);
    dBodyVectorToWorld(frame, 0, 0, -1, forward);
    // Headings as the gates measure them: 0 facing -z, growing as the bike turns left.
    double heading = atan2(-forward[0], -forward[2]);
    double rest[3];
    rider_rest_point(b, rest);
    const dReal *q = dBodyGetPosition(b->body[BODY_RIDER]);
    double off = sqrt((q[0] - rest[0]) * (q[0] - rest[0]) + (q[1] - rest[1]) * (q[1] - rest[1]) +
                      (q[2] - rest[2]) * (q[2] - rest[2]));
    const double deg = 180 / 3.14159265358979323846;
    fprintf(g_ride.trace,
            "%d %.3f %.1f %d %.3f %.4f %.3f %.3f %.4f %.4f %.5f %.4f %.3f %.3f %d %d %.3f %.3f %.3f %.2f %.2f %.4f %.3f %.2f %d "
            "%.4f %.3f\n",
            tic, mph, bike_engine_rpm(b), bike_gear(b) + 1, bike_throttle(b), bike_clutch_engagement(b),
            bike_front_brake(b), bike_rear_brake(b), s.fork_position, s.fork_speed, s.swingarm_angle, s.shock_speed,
            f.depth > 0 ? f.slip : 0, r.depth > 0 ? r.slip : 0, f.depth > 0, r.depth > 0, p[0], p[1], p[2],
            lean_angle(frame) * deg, heading * deg, up[1], b->inputs.steer,
            dJointGetHingeAngle(b->joint[JOINT_STEERING]) * deg, bike_fall_timer(b), bike_foot_down(b), off);
}

// The run's report goes to standard error while the trace holds standard output.
static FILE *report_stream(void) { return g_ride.trace == stdout ? stderr : stdout; }

static void ride_finish(void)
{
    if (g_ride.trace && g_ride.trace != stdout)
        fclose(g_ride.trace);
    else if (g_ride.trace)
        fflush(stdout);
    g_ride.trace = nullptr;
    xfree(g_ride.lines);
    g_ride.lines = nullptr;
}

// ---- erosion: --erode, --erode-records, --erode-replay, --dump-heights

static struct {
    bool on;                        // any erosion option given
    int rate;                       // fixed point, 1024 = 1 %
    const char *records, *replay, *dump;
    FILE *out;
} g_erosion = { false, 0, nullptr, nullptr, nullptr, nullptr };

// 1: taken with its value; 0: not an erosion option; -1: without a usable value.
static int erosion_option(const char *a, const char *v)
{
    if (strcmp(a, "--erode") == 0) {
        char *end = nullptr;
        float e = v ? strtof(v, &end) : 0;
        if (!v || end == v || *end || e != e)
            return -1;
        g_erosion.rate = (int)floorf((e < 0 ? 0 : e > 100 ? 100 : e) * 1024.0f);
    } else if (strcmp(a, "--erode-records") == 0) {
        g_erosion.records = v;
    } else if (strcmp(a, "--erode-replay") == 0) {
        g_erosion.replay = v;
    } else if (strcmp(a, "--dump-heights") == 0) {
        g_erosion.dump = v;
    } else {
        return 0;
    }
    g_erosion.on = true;
    return v ? 1 : -1;
}

static void erosion_tap(const uint8_t *record, int length)
{
    uint8_t size[2] = { (uint8_t)length, (uint8_t)(length >> 8) };
    if (g_erosion.out && (fwrite(size, 1, 2, g_erosion.out) != 2 || fwrite(record, 1, (size_t)length, g_erosion.out) != (size_t)length)) {
        fprintf(stderr, "skorva-sim: can't write the erode records %s\n", g_erosion.records);
        fclose(g_erosion.out);
        g_erosion.out = nullptr;
    }
}

// Before the load: the session's rate, and the record file.
static bool erosion_begin(void)
{
    g_options.erode_rate = g_erosion.rate;
    session_set_options(&g_options);
    if (g_erosion.records) {
        g_erosion.out = fopen(g_erosion.records, "wb");
        if (!g_erosion.out) {
            fprintf(stderr, "skorva-sim: can't write the erode records %s\n", g_erosion.records);
            return false;
        }
        erode_set_record_tap(erosion_tap);
    }
    return true;
}

static BikeState *first_human_bike(void)
{
    for (int i = 0; i < RIDER_SLOTS; i++)
        if (rider_slot(i)->bike && rider_slot(i)->kind == CONTROL_HUMAN)
            return rider_slot(i)->bike;
    return nullptr;
}

// After tic k: the game's loop applies erosion once a frame.
static void erosion_after_tic(int k)
{
    if (k % 2 == 1)
        terrain_erode_around(first_human_bike());
}

static void erosion_drain(Terrain *t)
{
    if (session_erosion_rate() <= 0)
        return;
    while (erode_queue_length() > 0)
        erode_apply(t, nullptr, session_erosion_rate(), race_tic());
}

// Queues the records of a --erode-records file; false when it cannot be read whole.
static bool erosion_replay(Terrain *t)
{
    FILE *f = fopen(g_erosion.replay, "rb");
    if (!f) {
        fprintf(stderr, "skorva-sim: can't read the erode records %s\n", g_erosion.replay);
        return false;
    }
    uint8_t size[2], record[65536];
    bool ok = true;
    size_t got;
    while ((got = fread(size, 1, 2, f)) == 2) {
        size_t length = size[0] | (size_t)size[1] << 8;
        if (fread(record, 1, length, f) != length) {
            ok = false;
            break;
        }
        erode_queue_record(t, record, (int)length);
        // The game's loop takes its share each frame; a long file would overflow the ring.
        if (erode_queue_length() > k_erode_queue_points / 2)
            erosion_drain(t);
    }
    if (got == 1)
        ok = false;
    fclose(f);
    if (!ok)
        fprintf(stderr, "skorva-sim: the erode records %s end inside a record\n", g_erosion.replay);
    return ok;
}

// After the tics: the drain, a replay, the dump and the summary; false when a file failed.
static bool erosion_finish(FILE *out)
{
    if (!g_erosion.on)
        return true;
    Terrain *t = session_terrain();
    bool ok = true;
    erosion_drain(t);
    if (g_erosion.replay) {
        ok = erosion_replay(t);
        erosion_drain(t);
    }
    if (g_erosion.out) {
        erode_set_record_tap(nullptr);
        if (fclose(g_erosion.out) != 0)
            ok = false;
        g_erosion.out = nullptr;
    } else if (g_erosion.records) {
        ok = false;
    }
    size_t vertices = (size_t)t->dim * t->dim;
    if (g_erosion.dump) {
        FILE *f = fopen(g_erosion.dump, "wb");
        for (size_t k = 0; f && k < vertices; k++) {
            uint32_t bits;
            memcpy(&bits, &t->heights[k], 4);
            uint8_t b[4] = { (uint8_t)bits, (uint8_t)(bits >> 8), (uint8_t)(bits >> 16), (uint8_t)(bits >> 24) };
            fwrite(b, 1, 4, f);
        }
        if (!f || fclose(f) != 0) {
            fprintf(stderr, "skorva-sim: can't write the heights %s\n", g_erosion.dump);
            ok = false;
        }
    }
    double net = 0, dug = 0, cell = (double)t->spacing * t->spacing;
    for (size_t k = 0; k < vertices; k++) {
        double change = (double)t->heights[k] - t->initial_heights[k];
        net += change;
        if (change < 0)
            dug -= change;
    }
    const ErodeStats *s = erode_stats();
    fprintf(out, "erosion: records %lld points %lld applied %lld dropped %lld net %.6g dug %.6g\n", s->records_sent,
            s->points_sent, s->points_applied, s->points_dropped, net * cell, dug * cell);
    return ok;
}

static void watch_bike(BikeTrack *w, const Terrain *t, int tic)
{
    BikeState *bike = bike_slot(w->slot);
    if (!bike_is_finite(bike)) {
        if (w->nonfinite_tic < 0)
            w->nonfinite_tic = tic;
        return;
    }
    const dReal *f = dBodyGetPosition(bike->body[BODY_FRAME]);
    double y = f[1] - terrain_height(t, (float)f[0], (float)f[2]);
    w->min_y = fmin(w->min_y, y);
    w->max_y = fmax(w->max_y, y);
    for (int k = 0; k < 2; k++) {
        const dReal *c = dBodyGetPosition(bike->wheel[k].wheel);
        double clear = c[1] - terrain_height(t, (float)c[0], (float)c[2]);
        w->min_clearance = fmin(w->min_clearance, clear);
        if (clear < -bike->wheel[k].minor_radius && w->below_tic < 0)
            w->below_tic = tic;
    }
    for (dBodyID body : bike->body) {
        const dReal *p = dBodyGetPosition(body);
        bool inside = p[0] >= 0 && p[0] <= t->world_size && p[2] >= 0 && p[2] <= t->world_size && p[1] > -1000 &&
                      p[1] < 10000;
        if (!inside && w->left_tic < 0)
            w->left_tic = tic;
    }
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : nullptr;
        int n;
        if (strcmp(a, "--track") == 0 && v) {
            g_sim.track = v;
            i++;
        } else if (strcmp(a, "--bikes") == 0 && parse_int(v, 0, BIKE_SLOTS, &g_sim.bikes)) {
            i++;
        } else if (strcmp(a, "--tics") == 0 && parse_int(v, 0, 1 << 30, &g_sim.tics)) {
            i++;
        } else if (strcmp(a, "--seed") == 0 && parse_int(v, 0, INT_MAX, &n)) {
            g_sim.seed = (unsigned)n;
            i++;
        } else if (strcmp(a, "--log") == 0 && v) {
            setenv("TOVA_LOGFILE", v, 1);
            i++;
        } else if (strcmp(a, "--quiet") == 0) {
            g_sim.quiet = true;
        } else if (int robots = robots_option(a, v)) {
            if (robots < 0)
                return usage();
            i += robots - 1;
        } else if (race_option(a, v, &i)) {
        } else if ((n = sound_option(argc, argv, i, &g_sim.tics)) > 0) {
            i += n - 1;
        } else if (int taken = ride_option(a, v)) {
            if (taken < 0)
                return usage();
            i++;
        } else if (int taken = erosion_option(a, v)) {
            if (taken < 0)
                return usage();
            i++;
        } else {
            return usage();
        }
    }
    if (g_sim.tics < 0)
        g_sim.tics = g_race.on ? k_race_tics : k_default_tics;
    choose_data_dir();
    if (!ride_prepare()) {
        xfree(g_ride.lines);
        return 2;
    }
    set_session_seed_for_tests(true, g_sim.seed);
    robots_run_begin();
    if (!bike_world_create()) {
        fprintf(stderr, "skorva-sim: the physics library did not start\n");
        return 2;
    }
    int status = 2;
    int requests[SESSION_SLOTS] = {};
    for (int i = 0; i < g_sim.bikes; i++)
        requests[i] = REQUEST_ROBOT;
    ride_requests(requests);
    if (!sound_run_begin(requests) || !erosion_begin()) {
        status = 2;                 // it said why
    } else if (!session_select_track(g_sim.track)) {
        fprintf(stderr, "skorva-sim: no track '%s' under %s\n", g_sim.track, getenv("SK_HOME") ? getenv("SK_HOME") : "?");
    } else if (!load_session(requests, false, false, g_race.minutes * 60 * 128, g_race.laps,
                             g_robots_run.skill)) {
        fprintf(stderr, "skorva-sim: track '%s' did not load\n", g_sim.track);
    } else if (!trace_open() || !robots_run_loaded()) {
        status = 2;
    } else {
        // With no requests the session seats a robot; --bikes 0 means none.
        if (g_sim.bikes == 0 && !ride_player())
            free_riders();
        for (int i = 0; i < g_race.puppets && i < g_sim.bikes; i++)
            puppet_set(i, g_race.speeds[i], g_race.cuts[i]);
        sound_run_loaded();
        const Terrain *t = session_terrain();
        g_sim.watch = (BikeTrack *)xcalloc(SESSION_SLOTS, sizeof(BikeTrack));
        for (int i = 0; i < SESSION_SLOTS; i++) {
            if (!rider_slot(i)->bike)
                continue;
            BikeTrack &w = g_sim.watch[g_sim.watched++];
            w = { i, INFINITY, -INFINITY, INFINITY, -1, -1, -1 };
            watch_bike(&w, t, race_tic());
        }
        double total = 0, worst = 0;
        int run = 0;
        for (int k = 0; k < g_sim.tics && !(g_race.on && results_final()); k++, run++) {
            int tic = race_tic();
            ride_before_tic();
            sound_run_before_tic(k);
            double start = now_us();
            simulation_tic();
            double spent = now_us() - start;
            sound_run_after_tic(k);
            erosion_after_tic(k);
            robots_run_after_tic();
            trace_tic(tic);
            total += spent;
            worst = fmax(worst, spent);
            for (int b = 0; b < g_sim.watched; b++)
                watch_bike(&g_sim.watch[b], t, race_tic());
        }
        status = 0;
        FILE *out = report_stream();
        fprintf(out, "track %s  bikes %d  tics %d (%.2f s)\n", g_sim.track, g_sim.watched, run, run * k_tic_seconds);
        if (!g_sim.quiet)
            fprintf(out, "slot  x          y          z          frame height: min  max   axle min   speed      state\n");
        for (int b = 0; b < g_sim.watched; b++) {
            const BikeTrack &w = g_sim.watch[b];
            BikeState *bike = bike_slot(w.slot);
            const dReal *p = dBodyGetPosition(bike->body[BODY_FRAME]);
            const char *state = "ok";
            int at = -1;
            if (w.nonfinite_tic >= 0)
                state = "NON-FINITE", at = w.nonfinite_tic;
            else if (w.left_tic >= 0)
                state = "LEFT-WORLD", at = w.left_tic;
            else if (w.below_tic >= 0)
                state = "BELOW-GROUND", at = w.below_tic;
            if (at >= 0)
                status = 1;
            if (!g_sim.quiet || at >= 0)
            {
                const dReal *v = dBodyGetLinearVel(bike->body[BODY_FRAME]);
                double speed = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
                if (at >= 0)
                    fprintf(out, "%-5d %-10.3f %-10.3f %-10.3f %-10.3f %-10.3f %-10.3f %-10.3f %s at tic %d\n",
                            w.slot, p[0], p[1], p[2], w.min_y, w.max_y, w.min_clearance, speed, state, at);
                else
                    fprintf(out, "%-5d %-10.3f %-10.3f %-10.3f %-10.3f %-10.3f %-10.3f %-10.3f %s\n", w.slot,
                            p[0], p[1], p[2], w.min_y, w.max_y, w.min_clearance, speed, state);
            }
        }
        if (run > 0 && g_sim.watched > 0)
            fprintf(out, "per tic %.1f us (worst %.1f us), per bike %.2f us\n", total / run, worst,
                    total / run / g_sim.watched);
        robots_run_report(out);
        if (g_race.on)
            print_results(out);
        if (!erosion_finish(out))
            status = 2;
        xfree(g_sim.watch);
    }
    ride_finish();
    lines_write_and_free(g_robots_run.learn);
    free_riders();
    sound_run_end();
    free_track();
    session_tables_free();
    bike_world_destroy();
    shape_cache_free();
    vfs_shutdown();
    log_printf(nullptr);
    return status;
}
