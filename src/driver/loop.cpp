#include "driver/loop.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <GL/gl.h>

#include "audio/sound.h"
#include "bike/bike.h"
#include "bike/drive.h"
#include "bike/setup.h"
#include "common/messages.h"
#include "driver/args.h"
#include "driver/bindings.h"
#include "driver/capture.h"
#include "driver/config.h"
#include "driver/key_script.h"
#include "driver/frame_timing.h"
#include "driver/startup_stubs.h"
#include "driver/views.h"
#include "platform/clock.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/process.h"
#include "platform/window.h"
#include "race/race_rules.h"
#include "race/session.h"
#include "race/session_steps.h"
#include "race/simulation.h"
#include "race/time_trial.h"
#include "render/cameras.h"
#include "render/frame.h"
#include "render/screens.h"
#include "render/texture.h"
#include "ui/menus.h"

static_assert((int)CONTROL_CHANNELS == (int)CONTROL_CHANNEL_COUNT, "the loop's channels are the bindings' channels");

static const double k_setup_report_period = 5;      // seconds of game_clock
static const float k_chase_yaw_step = 0.006135923f; // 2 pi / 1024 per tic
static const float k_pi = 3.14159265358979f;

static struct {
    const StartupSettings *settings;
    FrameTiming timing;
    int view;
    bool menu_key_ignored;
    bool menu_drag;
    bool paused;
    bool close_seen;
    int alt_held;               // Alt keys down, for Alt+Enter
    ChaseCamera chase;
    int camera;                 // trackside camera, -1 free camera
    bool auto_camera;
    bool auto_camera_was_high;
    double free_speed;
    int cursor_axes[2];
    float cursor[2];
    int width, height;          // drawable size of the last frame
    double stutter_threshold;
    double stutter_last;
    bool stutter_started;
    double next_setup_report;
    double setup_reference[SETUP_WATCHED_VALUES];
    bool have_setup_reference;
    void (*tic_observer)(void);
    void (*net_poller)(void);
} g_loop = {};

static void reset_state(void)
{
    memset(&g_loop, 0, sizeof g_loop);
    g_loop.view = VIEW_TITLE;
    g_loop.chase = { 0, 10, 5 };
    g_loop.camera = -1;
    g_loop.cursor_axes[0] = g_loop.cursor_axes[1] = -1;
    g_loop.next_setup_report = k_setup_report_period;
    g_loop.net_poller = net_poll;
}

static struct LoopInit {
    LoopInit() { reset_state(); }
} g_loop_init;

static long long clock_us(void)
{
    long sec, usec;
    clock_now(&sec, &usec);
    return (long long)sec * 1000000LL + usec;
}

int view_mode(void) { return g_loop.view; }
void set_view_mode(int view) { g_loop.view = view; }
const ChaseCamera *chase_camera(void) { return &g_loop.chase; }
int selected_camera(void) { return g_loop.camera; }
bool auto_camera_switching(void) { return g_loop.auto_camera; }

int camera_for_digit(int digit, int camera_count)
{
    if (digit <= 0)
        return -1;
    return (digit < camera_count ? digit : camera_count) - 1;
}

bool game_paused(void) { return g_loop.paused; }

int new_race_rotation(void)
{
    return g_loop.settings ? g_loop.settings->rotate_lineup : 0;
}

void loop_new_race(void)
{
    race_restart_rotated(new_race_rotation());
}

bool loop_close_requested(void) { return g_loop.close_seen; }

void loop_drain_events(void)
{
    Event e;
    while (next_event(&e))
        if (e.code == EVENT_CLOSE)
            g_loop.close_seen = true;
}

void set_stutter_threshold(double seconds)
{
    g_loop.stutter_threshold = seconds > 0 ? seconds : 0;
}

void stutter_check(const char *label)
{
    if (g_loop.stutter_threshold == 0)
        return;
    double now = clock_seconds();
    if (g_loop.stutter_started && now - g_loop.stutter_last > g_loop.stutter_threshold) {
        char text[128];
        snprintf(text, sizeof text, "Stutter in %s - %f seconds", label, now - g_loop.stutter_last);
        post_message(text);
    }
    g_loop.stutter_started = true;
    g_loop.stutter_last = now;
}

void loop_set_tic_observer(void (*observer)(void))
{
    g_loop.tic_observer = observer;
}

void loop_set_net_poller(void (*poller)(void))
{
    g_loop.net_poller = poller ? poller : net_poll;
}

void loop_reset_for_tests(void)
{
    reset_state();
    world_reset_for_tests();
    menu_reset_for_tests();
}

double loop_take_longest_step(void)
{
    double longest = g_loop.timing.longest_step;
    g_loop.timing.shortest_step = g_loop.timing.longest_step = 0;
    return longest;
}

void frame_histogram(int out[8])
{
    memcpy(out, g_loop.timing.histogram, sizeof g_loop.timing.histogram);
}

void clear_frame_histogram(void)
{
    memset(g_loop.timing.histogram, 0, sizeof g_loop.timing.histogram);
}

// ---- setup change report

static const char k_setup_letters[SETUP_WATCHED_VALUES + 1] = "ldaxdsmdsxlxlsacfrdggCcRrsplCcRrspyzYZm";

bool build_setup_change_report(const double *reference, const double *current, char *out, int size)
{
    if (size > 0)
        out[0] = 0;
    char text[64 + SETUP_WATCHED_VALUES];
    int n = snprintf(text, sizeof text, "[SPAM] Setup change ");
    bool any = false;
    for (int i = 0; i < SETUP_WATCHED_VALUES; i++) {
        bool changed = reference[i] != current[i] && !(isnan(reference[i]) && isnan(current[i]));
        text[n++] = changed ? k_setup_letters[i] : '-';
        any = any || changed;
    }
    text[n++] = '\n';
    text[n] = 0;
    if (!any || size <= 0)
        return false;
    snprintf(out, size, "%s", text);
    return true;
}

// The setup values a change report watches, in the report's letter order.
static void setup_watched_values(double out[SETUP_WATCHED_VALUES])
{
    const Setup &s = g_setup;
    const NumberItem *const items[SETUP_WATCHED_VALUES] = {
        &s.leveling, &s.roll_damping, &s.roll_limit_angle, &s.roll_limit_factor, &s.steering_damping,
        &s.steering_strength, &s.max_steering_force, &s.direct_steering, &s.slow_damping_speed,
        &s.slow_damping_factor, &s.land_damping_falloff, &s.land_damping_factor, &s.full_lock_speed,
        &s.restricted_lock_speed, &s.restricted_lock, &s.auto_clutch_rpms, &s.brake_torque,
        &s.rear_brake_torque, &s.max_dab_speed, &s.front_sprocket_adjustment, &s.rear_sprocket_adjustment,
        &s.fork_compression_adjustment, &s.fork_slow_compression_adjustment, &s.fork_rebound_adjustment,
        &s.fork_slow_rebound_adjustment, &s.fork_spring_rate_adjustment, &s.fork_preload_adjustment,
        &s.fork_oil_level_adjustment, &s.shock_compression_adjustment, &s.shock_slow_compression_adjustment,
        &s.shock_rebound_adjustment, &s.shock_slow_rebound_adjustment, &s.shock_spring_rate_adjustment,
        &s.shock_preload_adjustment, &s.rider_yspring, &s.rider_zspring, &s.rider_ydamping,
        &s.rider_zdamping, &s.rider_mass_distribution,
    };
    for (int i = 0; i < SETUP_WATCHED_VALUES; i++)
        out[i] = items[i]->value;
}

void setup_report_take_reference(void)
{
    setup_watched_values(g_loop.setup_reference);
    g_loop.have_setup_reference = true;
}

static void setup_change_report(void)
{
    if (game_clock() < g_loop.next_setup_report)
        return;
    g_loop.next_setup_report = game_clock() + k_setup_report_period;
    double now[SETUP_WATCHED_VALUES];
    setup_watched_values(now);
    char text[128];
    if (g_loop.have_setup_reference && build_setup_change_report(g_loop.setup_reference, now, text, sizeof text)) {
        if (net_connected())
            net_send_chat(text);
        else
            post_message(text);
    }
    memcpy(g_loop.setup_reference, now, sizeof now);
    g_loop.have_setup_reference = true;
}

void loop_session_loaded(void)
{
    setup_report_take_reference();
    RiderSlot *viewed = rider_slot(viewed_slot());
    if (viewed && viewed->bike)
        free_camera_place_above(viewed->bike, 5);
}

// ---- keys

static bool viewed_is_human(void)
{
    const RiderSlot &s = *rider_slot(viewed_slot());
    if (g_settings.spy && g_loop.view == VIEW_CAMERA)
        return false;
    return s.bike && s.kind == CONTROL_HUMAN;
}

static int digit_of(int code)
{
    static const char *const k_digits[10] = { "0", "1", "2", "3", "4", "5", "6", "7", "8", "9" };
    for (int d = 0; d < 10; d++)
        if (code == key_code(k_digits[d]))
            return d;
    return -1;
}

static void cycle_view(void)
{
    switch (g_loop.view) {
    case VIEW_EDITOR:
        for (int i = 0; i < RIDER_SLOTS; i++)
            if (rider_slot(i)->bike)
                settle_bike(rider_slot(i)->bike, session_terrain());
        g_loop.view = VIEW_CHASE;
        break;
    case VIEW_CHASE:
        g_loop.view = VIEW_CAMERA;
        break;
    case VIEW_RIDER:
        g_loop.view = (g_loop.settings && g_loop.settings->editor) ? VIEW_EDITOR : VIEW_CHASE;
        break;
    default:                    // 4, 1 and 5
        g_loop.view = VIEW_RIDER;
        break;
    }
}

static void riding_key(int code, int pressed)
{
    if (g_loop.view == VIEW_EDITOR && editor_key(code, pressed))
        return;
    if (!pressed)
        return;
    if (command_key_is(BIND_CONSOLE, code)) {
        open_menu(MENU_CONSOLE, 0);
        return;
    }
    if (g_loop.view == VIEW_TITLE)
        return;
    if (command_key_is(BIND_PAUSE, code)) {
        if (!net_connected())
            g_loop.paused = !g_loop.paused;
    } else if (command_key_is(BIND_STEP, code)) {
        if (g_loop.paused)
            simulation_tic();
    } else if (code == key_code("tab")) {
        cycle_view();
    } else if (command_key_is(BIND_REWIND, code)) {
        demo_step_seconds(-1);
    } else if (command_key_is(BIND_SKIP, code)) {
        demo_step_seconds(1);
    } else if (command_key_is(BIND_PREV, code) || command_key_is(BIND_NEXT, code)) {
        if (!viewed_is_human() || net_spectating() || g_settings.spy)
            set_viewed_slot(running_order_step(viewed_slot(), command_key_is(BIND_NEXT, code) ? 1 : -1));
    } else if (command_key_is(BIND_SCREENSHOT, code)) {
        take_screenshot(g_loop.width, g_loop.height);
    } else {
        int digit = digit_of(code);
        if (digit >= 0)
            g_loop.camera = camera_for_digit(digit, track_camera_count());
    }
}

// Alt+Enter switches between full screen and a window, whatever else is going on.
static bool fullscreen_key(int code, int pressed)
{
    if (code == key_code("left alt") || code == key_code("right alt")) {
        g_loop.alt_held += pressed ? 1 : -1;
        if (g_loop.alt_held < 0)
            g_loop.alt_held = 0;
        return false;
    }
    if (!pressed || g_loop.alt_held == 0 || (code != key_code("enter") && code != key_code("keypad enter")))
        return false;
    toggle_fullscreen();
    return true;
}

void loop_handle_key(int code, int pressed)
{
    if (code == EVENT_CLOSE) {
        g_loop.close_seen = true;
        return;
    }
    if (fullscreen_key(code, pressed))
        return;
    // Typed characters (codes below 256) come beside their keys: they drive no control.
    bool typed = code >= 0 && code < 256;
    if (!typed)
        bindings_key_event(code, pressed);
    if (code == EVENT_MOUSE_LEFT)
        g_loop.menu_drag = pressed != 0;
    int esc = key_code("esc");
    int menu = menu_screen();
    if (capture_active()) {
        if (pressed) {
            if (!typed)
                capture_key(code, game_clock());  // "esc" ends the capture unchanged
            return;
        }
        if (!(code == esc && menu == MENU_NONE))
            return;
        riding_key(code, pressed);
        return;
    }
    if (code == esc || (pressed && menu == MENU_NONE && menu_opens_with(code))) {
        if (pressed && menu == MENU_NONE) {
            open_menu(MENU_MAIN, 0);
            if (code == esc)
                menu_key(code);
            return;
        }
        if (pressed)
            close_menu();
        else if (menu != MENU_NONE)
            return;
        riding_key(code, pressed);
        return;
    }
    if (menu != MENU_NONE) {
        if (!pressed)
            return;
        if (menu_changed_this_frame())
            g_loop.menu_key_ignored = true;
        else
            menu_key(code);
        return;
    }
    riding_key(code, pressed);
}

// ---- one tic

static float wrap_pi(float a)
{
    while (a > k_pi)
        a -= 2 * k_pi;
    while (a < -k_pi)
        a += 2 * k_pi;
    return a;
}

// With automatic switching, the camera of the viewed rider's next gate.
static void auto_switch_camera(void)
{
    if (!g_loop.auto_camera)
        return;
    int cam = camera_for_next_gate(viewed_slot());
    if (cam >= 0 && cam != g_loop.camera)
        g_loop.camera = cam;
}

static void camera_from_channels(const float *c)
{
    if (g_loop.view == VIEW_CHASE) {
        g_loop.chase.yaw = wrap_pi(g_loop.chase.yaw + c[CHANNEL_STEER] * k_chase_yaw_step);
        if (c[CHANNEL_THROTTLE] > 0.5f)
            g_loop.chase.distance = fmaxf(0.25f, g_loop.chase.distance - 1.0f / 64);
        if (c[CHANNEL_FRONT_BRAKE] > 0.5f)
            g_loop.chase.distance += 1.0f / 64;
        g_loop.chase.height += c[CHANNEL_SHIFT] * (float)TIC_SECONDS;
    } else if (g_loop.view == VIEW_CAMERA) {
        bool high = c[CHANNEL_SIT_DAB] > 0.5f;
        if (high && !g_loop.auto_camera_was_high)
            g_loop.auto_camera = !g_loop.auto_camera;
        g_loop.auto_camera_was_high = high;
        auto_switch_camera();
        if (g_loop.camera == -1) {
            double &v = g_loop.free_speed;
            if (c[CHANNEL_THROTTLE] > 0.5f)
                v = fmin(100, v + 80 * TIC_SECONDS);
            if (c[CHANNEL_FRONT_BRAKE] > 0.5f)
                v = fmax(-100, v - 80 * TIC_SECONDS);
            double decay = 60 * TIC_SECONDS;
            v = v > decay ? v - decay : v < -decay ? v + decay : 0;
            if (fabs(v) > 0.0001)
                free_camera_move(v * TIC_SECONDS);
        }
    }
}

static void read_tic_events(double ends_ago, long long now_us)
{
    Event e;
    long long end_us = now_us - (long long)llround(ends_ago * 1e6);
    for (;;) {
        bool got = ends_ago <= 0 ? next_event(&e) : next_event_before((long)(end_us / 1000000), (long)(end_us % 1000000), &e);
        if (!got)
            break;
        stutter_check("getmessage");
        loop_handle_key(e.code, e.pressed);
    }
}

// The network is polled in every tic, connected or not: a connection's handshake runs before
// the game counts as connected, and it is started from a menu, behind which the game stands
// still.
static void poll_network(bool connected)
{
    if (connected)
        g_loop.paused = false;
    g_loop.net_poller();
    stutter_check("net");
}

// Returns after the step of the tic that ends it; the observer sees every tic.
static void tic_body(double ends_ago, long long now_us)
{
    float channels[CONTROL_CHANNELS] = {};
    set_control_channels(channels);
    read_tic_events(ends_ago, now_us);
    stutter_check("processmessage");
    capture_tic(game_clock());
    bindings_build_channels(channels);
    set_control_channels(channels);
    bool net = net_connected();
    if (menu_screen() == MENU_NONE) {
        if (g_loop.view == VIEW_EDITOR) {
            editor_tic();
            if (!net) {
                poll_network(net);
                return;
            }
        } else if (g_loop.view != VIEW_TITLE) {
            RiderSlot &s = *rider_slot(viewed_slot());
            if (viewed_is_human()) {
                time_trial_restart_input();
                bike_apply_channels(s.bike, channels);
            } else {
                camera_from_channels(channels);
            }
        }
    } else if ((viewed_is_human() || g_loop.view == VIEW_EDITOR) && !net) {
        poll_network(net);
        return;                 // the game stands still behind menus
    }
    stutter_check("action");
    poll_network(net);
    if (!track_is_loaded()) {
        g_loop.view = VIEW_TITLE;
        return;
    }
    if (g_loop.paused || g_loop.view == VIEW_TITLE || (net && !net_synchronised()))
        return;
    simulation_tic();
    stutter_check("tic");
    if (g_loop.settings && g_loop.settings->record_audio[0])
        sound_capture_tic();
}

int loop_advance(double step)
{
    advance_game_clock(step);
    frame_timing_add(&g_loop.timing, step);
    long long now = clock_us();
    int tics = 0;
    double ends_ago;
    while (frame_timing_take_tic(&g_loop.timing, &ends_ago)) {
        tic_body(ends_ago, now);
        tics++;
        if (g_loop.tic_observer)
            g_loop.tic_observer();
    }
    return tics;
}

// ---- one frame

// The first view of a track: the player's own bike from its rider's eyes; a robot or a replay
// (the ride behind the start-up menu) from the track's cameras, switching along the lap, or
// from the chase camera on a track without them.
static void start_view(const RiderSlot &s)
{
    if (s.kind == CONTROL_HUMAN) {
        g_loop.view = VIEW_RIDER;
    } else if (track_camera_count() > 0) {
        g_loop.view = VIEW_CAMERA;
        g_loop.auto_camera = true;
        int cam = camera_for_next_gate(viewed_slot());
        g_loop.camera = cam >= 0 ? cam : 0;
    } else {
        g_loop.view = VIEW_CHASE;
    }
}

static void pick_view(void)
{
    if (!track_is_loaded()) {
        g_loop.view = VIEW_TITLE;
        return;
    }
    const RiderSlot &s = *rider_slot(viewed_slot());
    bool spy_camera = g_settings.spy && g_loop.view == VIEW_CAMERA;
    if (!s.bike)
        g_loop.view = VIEW_CAMERA;
    else if (g_loop.view == VIEW_TITLE)
        start_view(s);
    else if (s.kind == CONTROL_HUMAN && !spy_camera && g_loop.view != VIEW_EDITOR && g_loop.view != VIEW_CHASE)
        g_loop.view = VIEW_RIDER;
    // Behind a menu the tics take no camera input, yet the ride goes on: the cameras still
    // follow it from gate to gate.
    if (g_loop.view == VIEW_CAMERA && menu_screen() != MENU_NONE)
        auto_switch_camera();
}

static void draw_frame(int width, int height)
{
    if (width != g_loop.width || height != g_loop.height) {
        g_loop.width = width;
        g_loop.height = height;
        glViewport(0, 0, width, height);
        set_projection(width, height, (float)g_settings.fov.value);
    }
    // The world's views cover the whole frame themselves (the sky clears what it needs).
    bool world = g_loop.view == VIEW_RIDER || g_loop.view == VIEW_CHASE || g_loop.view == VIEW_CAMERA ||
                 g_loop.view == VIEW_EDITOR;
    if (!world)
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    bool hud = !g_loop.settings || g_loop.settings->show_hud;
    switch (g_loop.view) {
    case VIEW_RIDER:
    case VIEW_CHASE:
        render_view(g_loop.view);
        if (hud) {
            hud_draw();
            results_overlay_draw();
        }
        break;
    case VIEW_CAMERA:
        render_view(g_loop.view);
        if (hud) {
            if (g_loop.auto_camera && rider_slot(viewed_slot())->bike && rider_slot(viewed_slot())->kind == CONTROL_REPLAYED)
                camera_view_name_draw();
            results_overlay_draw();
        }
        break;
    case VIEW_EDITOR:
        render_view(g_loop.view);
        break;
    default:
        title_screen_draw("");
        break;
    }
    if (g_loop.paused && (!g_loop.settings || g_loop.settings->show_paused))
        draw_centered_text("Paused", 0.1f);
    if (viewed_is_human() && net_connected() && !net_in_race())
        draw_centered_text("Warmup mode - collisions disabled", 0.2f);
    message_lines_draw();
    menu_draw();
    // The frame as the player saw it, menus and console included.
    if (g_loop.settings && g_loop.settings->record_video && g_loop.view != VIEW_TITLE)
        capture_video_frame(width, height);
}

static float sound_gain(void)
{
    if (g_loop.paused || g_loop.view == VIEW_EDITOR)
        return 0;
    if (menu_screen() == MENU_NONE)
        return 1;
    return viewed_is_human() ? 0 : 0.25f;
}

static void mouse_frame(void)
{
    float x = g_loop.cursor_axes[0] >= 0 ? read_axis(g_loop.cursor_axes[0]) : 0;
    float y = g_loop.cursor_axes[1] >= 0 ? read_axis(g_loop.cursor_axes[1]) : 0;
    bool moved = x != g_loop.cursor[0] || y != g_loop.cursor[1];
    g_loop.cursor[0] = x;
    g_loop.cursor[1] = y;
    if (!moved || menu_screen() == MENU_NONE)
        return;
    if (g_loop.menu_drag) {
        if (!g_loop.menu_key_ignored)
            menu_mouse(x, y, true);
    } else if (!capture_active()) {
        menu_mouse(x, y, false);
    }
}

static BikeState *first_human_bike(void)
{
    for (int i = 0; i < RIDER_SLOTS; i++)
        if (rider_slot(i)->bike && rider_slot(i)->kind == CONTROL_HUMAN)
            return rider_slot(i)->bike;
    return nullptr;
}

void loop_init(const StartupSettings *settings)
{
    g_loop.settings = settings;
    frame_timing_init(&g_loop.timing, clock_us(), settings ? settings->lock_fps : 0, settings && settings->warp);
    g_loop.cursor_axes[0] = open_axis("cursor-x");
    g_loop.cursor_axes[1] = open_axis("cursor-y");
}

void loop_release_input(void)
{
    for (int &a : g_loop.cursor_axes) {
        if (a >= 0)
            close_axis(a);
        a = -1;
    }
}

double loop_wait_for_frame(void)
{
    bool net = net_connected();
    long long now = clock_us();
    long long sleep_us = frame_timing_wait(&g_loop.timing, now, net);
    if (sleep_us > 0) {
        // Input keeps flowing in while the loop waits, so each event keeps the time it came.
        wait_pumping_events((long)(sleep_us / 1000000), (long)(sleep_us % 1000000));
        now = clock_us();
    }
    double step = frame_timing_step(&g_loop.timing, now, net);
    if (net) {
        double d = (net_server_tic() - race_tic() - 1) * TIC_SECONDS;
        step *= server_step_scale(d, race_tic() < gate_drop_tic());
    }
    return step;
}

int run_main_loop(void)
{
    const char *quit_env = getenv("SK_QUIT_AFTER_FRAMES");
    long quit_after = quit_env ? strtol(quit_env, nullptr, 10) : 0;
    int frames = 0;
    long long tics = 0;
    double started = game_clock();
    while (!quit_signal_received()) {
        menu_frame_begin();
        g_loop.menu_key_ignored = false;
        pick_view();
        int w, h;
        if (begin_frame(&w, &h)) {
            draw_frame(w, h);
            stutter_check("draw");
            if (g_loop.settings && g_loop.settings->glfinish)
                glFinish();
            end_frame();
            frames++;
            stutter_check("flip");
        } else if (!window_is_open()) {
            break;
        }
        // What arrived while the frame was drawn is taken now, not after the wait.
        pump_events();
        if (sound_is_open())
            sound_mix_frame(sound_gain(), (float)g_settings.volume.value, (float)g_settings.comp_volume.value);
        stutter_check("sound");

        double step = loop_wait_for_frame();
        if (quit_signal_received())
            break;
        key_script_frame(frames);
        mouse_frame();
        menu_pad_frame(game_clock());
        tics += loop_advance(step);

        if (g_loop.view != VIEW_TITLE) {
            if (g_loop.settings && g_loop.settings->warp && race_leader_finished())
                race_restart_rotated(1);
            if (session_erosion_rate() > 0) {
                terrain_erode_around(first_human_bike());
                stutter_check("erode");
            }
            int delay = (int)g_settings.reshade_delay.value;
            int budget = g_loop.view == VIEW_EDITOR ? 0 : (1 << (delay < 0 ? 0 : delay > 30 ? 30 : delay)) - 1;
            terrain_update_shading(budget);
            stutter_check("update");
        }
        setup_change_report();
        messages_update(game_clock());
        if (g_loop.close_seen || menu_quit_requested())
            break;
        if (quit_after > 0 && frames >= quit_after)
            break;
    }
    if (quit_signal_received())
        log_printf("Signal %d: ending the game\n", quit_signal_received());
    if (g_loop.settings && g_loop.settings->verbosity >= 1) {
        log_printf("Main loop: %d frames, %lld tics, %.3f s of game time\n", frames, tics, game_clock() - started);
        // The frame intervals as "fpshist" reports them, for runs that end without a console.
        const int *h = g_loop.timing.histogram;
        log_printf("Frame intervals: 128=%d 64=%d 32=%d 16=%d 8=%d 4=%d 2=%d 1=%d\n", h[0], h[1], h[2], h[3], h[4], h[5],
                   h[6], h[7]);
    }
    return frames;
}
