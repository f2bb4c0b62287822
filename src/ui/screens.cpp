#include "ui/screens.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "bike/catalogue.h"
#include "bike/setup.h"
#include "common/mem.h"
#include "common/messages.h"
#include "driver/args.h"
#include "driver/bindings.h"
#include "driver/config.h"
#include "driver/lists.h"
#include "platform/input.h"
#include "platform/log.h"
#include "race/session.h"
#include "race/session_steps.h"
#include "race/world.h"
#include "render/gl.h"
#include "terrain/terrain.h"
#include "ui/menus.h"
#include "ui/widgets.h"
#include "vfs/vfs.h"

static const double k_kg_per_mm_leg = 0.0007440819724087572;   // lbf/ft of both fork legs to kg/mm per leg
static const double k_kg_per_mm = 0.0014881639448175144;       // lbf/ft to kg/mm
static const double k_mm_per_ft = 304.8;
static const int k_tics_per_second = 128;

static const char *const k_chooser_titles[CHOOSER_LIST_COUNT] = {
    "Choose Track", "Choose Bike", "Choose Riding Gear", "Choose Helmet", "Choose Bike Graphics",
    "Choose Wheel Graphics",
};

static struct {
    const char **track_names;       // the track list's display names, for the Track choice
    ChoiceItem track;
    struct {
        int list;
        int page;
        int return_screen;
    } chooser;
    int demo_page;
    int series_page;
    int series;                     // the series screen 5 shows
    int history;                    // the server-name history entry page up/down reached; -1 none
    bool setup_touched;             // a setup screen's item changed in this pass
} g_screens = {};

int page_count(int names)
{
    return names <= 0 ? 1 : (names + CHOOSER_PAGE - 1) / CHOOSER_PAGE;
}

static int clamp_page(int page, int names)
{
    int last = page_count(names) - 1;
    return page < 0 ? 0 : page > last ? last : page;
}

// ---- the track choice

void screens_init(void)
{
    screens_free();
    int n = track_count();
    g_screens.track_names = n > 0 ? (const char **)xcalloc((size_t)n, sizeof(const char *)) : nullptr;
    for (int i = 0; i < n; i++)
        g_screens.track_names[i] = track_info(i)->name;
    g_screens.track = { "Track", g_screens.track_names, n, 0 };
    g_screens.history = -1;
    screens_sync_track();
}

void screens_free(void)
{
    xfree(g_screens.track_names);
    g_screens.track_names = nullptr;
    g_screens.track = { "Track", nullptr, 0, 0 };
}

void screens_sync_track(void)
{
    const char *folder = session_selected_track();
    if (!folder)
        folder = session_track();
    int i = folder ? track_find(folder) : -1;
    if (i >= 0 && i < g_screens.track.count)
        g_screens.track.chosen = i;
}

static void select_track(int index)
{
    const TrackInfo *t = track_info(index);
    if (!t)
        return;
    g_screens.track.chosen = index;
    session_select_track(t->folder);
}

// ---- the rider's textures and bike, as choices over their lists

static char *setup_texture(int list)
{
    switch (list) {
    case TEXTURES_RIDER: return g_setup.rider_texture;
    case TEXTURES_HELMET: return g_setup.head_texture;
    case TEXTURES_BIKE: return g_setup.bike_texture;
    default: return g_setup.wheel_texture;
    }
}

// Shows the short names; the setup's value is looked up among the stored ones.
static ChoiceItem texture_choice(int list, const char *label)
{
    ChoiceItem stored = { label, texture_list_labels(list), texture_list_count(list), 0 };
    int at = choice_find(&stored, setup_texture(list));
    ChoiceItem c = { label, texture_list_shown(list), texture_list_count(list), at >= 0 ? at : 0 };
    return c;
}

static void set_texture(int list, int index)
{
    const char *name = texture_list_label(list, index);
    if (name)
        snprintf(setup_texture(list), sizeof g_setup.rider_texture, "%s", name);
}

// A new bike brings its own graphics: the list is rebuilt and its first entry chosen.
static void bike_changed(void)
{
    build_bike_texture_list(file_index_names());
    set_texture(TEXTURES_BIKE, 0);
    if (texture_list_count(TEXTURES_BIKE) == 0)
        g_setup.bike_texture[0] = 0;
}

static void choose_bike(int index)
{
    if (index < 0 || index >= g_setup.bike.count)
        return;
    g_setup.bike.chosen = index;
    bike_changed();
}

// ---- the chooser

static int chooser_names(int list, const char *const **names)
{
    switch (list) {
    case CHOOSE_TRACK:
        *names = g_screens.track.labels;
        return g_screens.track.count;
    case CHOOSE_BIKE:
        *names = g_setup.bike.labels;
        return g_setup.bike.count;
    default: {
        int textures = TEXTURES_RIDER + (list - CHOOSE_RIDING_GEAR);
        *names = texture_list_shown(textures);
        return texture_list_count(textures);
    }
    }
}

static int chooser_current(int list)
{
    switch (list) {
    case CHOOSE_TRACK: return g_screens.track.chosen;
    case CHOOSE_BIKE: return g_setup.bike.chosen;
    default: {
        int textures = TEXTURES_RIDER + (list - CHOOSE_RIDING_GEAR);
        ChoiceItem c = texture_choice(textures, "");
        return c.chosen;
    }
    }
}

static void chooser_receive(int list, int index)
{
    switch (list) {
    case CHOOSE_TRACK:
        select_track(index);
        break;
    case CHOOSE_BIKE:
        choose_bike(index);
        g_screens.setup_touched = true;
        break;
    default:
        set_texture(TEXTURES_RIDER + (list - CHOOSE_RIDING_GEAR), index);
        g_screens.setup_touched = true;
        break;
    }
}

void chooser_open(int list, int return_screen)
{
    if (list < 0 || list >= CHOOSER_LIST_COUNT)
        return;
    g_screens.chooser.list = list;
    g_screens.chooser.return_screen = return_screen;
    // The page that holds the current choice, so that it can be seen at once.
    const char *const *names;
    int count = chooser_names(list, &names);
    g_screens.chooser.page = clamp_page(chooser_current(list) / CHOOSER_PAGE, count);
    open_menu(MENU_CHOOSER, 0);
}

int chooser_list(void)
{
    return g_screens.chooser.list;
}

int chooser_page(void)
{
    return g_screens.chooser.page;
}

static void screen_chooser(void)
{
    const char *const *names;
    int list = g_screens.chooser.list;
    int count = chooser_names(list, &names);
    widget_title(k_chooser_titles[list]);
    if (widget_button("Cancel")) {
        open_menu(g_screens.chooser.return_screen, 0);
        return;
    }
    int &page = g_screens.chooser.page;
    if (widget_button("Prev Page"))
        page = clamp_page(page - 1, count);
    for (int i = page * CHOOSER_PAGE; i < (page + 1) * CHOOSER_PAGE && i < count; i++) {
        if (widget_button(names[i])) {
            chooser_receive(list, i);
            open_menu(g_screens.chooser.return_screen, 0);
            return;
        }
    }
    if (widget_button("Next Page"))
        page = clamp_page(page + 1, count);
}

// ---- main menu

static void screen_main(void)
{
    static const struct {
        const char *label;
        int screen;
    } k_entries[] = {
        { "New Race", MENU_NEW_RACE }, { "Playback Race", MENU_PLAYBACK }, { "Points Series", MENU_SERIES_LIST },
        { "Time Trial", MENU_TIME_TRIAL }, { "Multiplayer", MENU_MULTIPLAYER }, { "Bike Setup", MENU_BIKE_SETUP },
        { "Graphics/Sound Setup", MENU_GRAPHICS }, { "Customize Controls", MENU_CONTROLS }, { "Quit", MENU_QUIT },
    };
    widget_title("Skorva");
    for (const auto &e : k_entries) {
        if (widget_button(e.label)) {
            if (e.screen == MENU_NEW_RACE || e.screen == MENU_TIME_TRIAL)
                screens_sync_track();
            open_menu(e.screen, 0);
        }
    }
    double clock = game_clock();
    float fade = (float)(10 - clock < 0 ? 0 : 10 - clock > 1 ? 1 : 10 - clock);
    widget_note(1, 14, 0.55f, fade, "Although this software depicts real objects and places, it is not");
    widget_note(1, 14.7f, 0.55f, fade, "endorsed by or affiliated with any of the subjects depicted.");
}

// ---- New Race and Time Trial

void rotate_gate_choices(int slots)
{
    int requests[RIDER_SLOTS] = {};
    for (int i = 0; i < GATE_COUNT; i++)
        requests[i] = g_settings.slot[i].chosen;
    int rotated[RIDER_SLOTS] = {};
    int shift = ((slots % RIDER_SLOTS) + RIDER_SLOTS) % RIDER_SLOTS;
    for (int i = 0; i < RIDER_SLOTS; i++)
        rotated[(i + shift) % RIDER_SLOTS] = requests[i];
    for (int i = 0; i < GATE_COUNT; i++) {
        int r = rotated[i];
        g_settings.slot[i].chosen = r >= 0 && r < g_settings.slot[i].count ? r : 0;
    }
}

static void leave_server(void)
{
    if (net_connected() || net_connecting())
        net_disconnect();
}

static bool yes(const ChoiceItem *c)
{
    return strcmp(choice_label(c), "Yes") == 0;
}

// A race from the menus is the player's choice of track: it is the one written back.
static void remember_track(const char *what, bool loaded)
{
    if (!loaded || !session_track()) {
        log_printf("%s: no track loaded\n", what);
        return;
    }
    config_set_track(session_track());
    int player = -1;
    for (int i = 0; i < RIDER_SLOTS && player < 0; i++)
        if (rider_slot(i)->bike && rider_slot(i)->kind == CONTROL_HUMAN)
            player = i;
    if (player >= 0)
        log_printf("%s on %s: the player is at gate %d\n", what, session_track(), player + 1);
    else
        log_printf("%s on %s: no player on the gate\n", what, session_track());
}

// The track the Track item shows is the one raced, also when none was loaded before.
static void select_shown_track(void)
{
    if (!session_selected_track() && g_screens.track.count > 0)
        select_track(g_screens.track.chosen);
}

bool start_new_race(void)
{
    // The gate choices are the requests 0 (empty) to 4 (a 250 robot) of slots 0-39.
    int requests[RIDER_SLOTS] = {};
    for (int i = 0; i < GATE_COUNT; i++)
        requests[i] = g_settings.slot[i].chosen;
    leave_server();
    select_shown_track();
    int minutes = (int)g_settings.minutes.value;
    bool ok = load_session(requests, false, yes(&g_settings.record), minutes * 60 * k_tics_per_second,
                           (int)g_settings.laps.value, g_settings.skill.chosen);
    close_menu();
    rotate_gate_choices(startup_settings()->rotate_lineup);
    remember_track("New race", ok);
    return ok;
}

bool start_time_trial(void)
{
    leave_server();
    select_shown_track();
    bool ok = load_session(nullptr, false, false, 0, 1000, g_settings.skill.chosen);
    close_menu();
    remember_track("Time trial", ok);
    return ok;
}

// The track choice opens the chooser when activated and cycles on the other keys.
static void track_item(int screen)
{
    int r = widget_choice(&g_screens.track, true);
    if (r == WIDGET_ACTIVATED)
        chooser_open(CHOOSE_TRACK, screen);
    else if (r == WIDGET_CHANGED)
        select_track(g_screens.track.chosen);
}

static void screen_new_race(void)
{
    widget_title("New Race");
    if (widget_button("Back to Main Menu")) {
        open_menu(MENU_MAIN, 0);
        return;
    }
    if (widget_button("Start")) {
        start_new_race();
        return;
    }
    track_item(MENU_NEW_RACE);
    widget_choice(&g_settings.record, false);
    widget_choice(&g_settings.skill, false);
    widget_number(&g_settings.minutes, nullptr);
    widget_number(&g_settings.laps, nullptr);
    // The forty gates in two columns of twenty.
    for (int i = 0; i < GATE_COUNT; i++) {
        if (i % 20 == 0)
            widget_place(i < 20 ? 1 : 20.5f, 10, 18.5f);
        widget_choice(&g_settings.slot[i], false);
    }
}

static void screen_time_trial(void)
{
    widget_title("Time Trial");
    if (widget_button("Back to Main Menu")) {
        open_menu(MENU_MAIN, 0);
        return;
    }
    if (widget_button("Start")) {
        start_time_trial();
        return;
    }
    track_item(MENU_TIME_TRIAL);
    widget_number(&g_settings.ghost_fade_distance, nullptr);
    widget_choice(&g_settings.time_trial_abort, false);
}

// ---- Playback Race and Points Series

static void play_demo(int index)
{
    const char *file = demo_list_file(index);
    if (!file)
        return;
    char name[1100];
    snprintf(name, sizeof name, "@%s", file);
    if (!demo_open_playback(name))
        return;             // the demo code says why
    int requests[RIDER_SLOTS] = {};
    bool record = false;
    if (strcmp(choice_label(&g_settings.playback_mode), "Race Against") == 0) {
        int gate = 0;
        for (int i = 0; i < GATE_COUNT; i++) {
            if (strcmp(choice_label(&g_settings.slot[i]), "Human") == 0) {
                gate = i;
                break;
            }
        }
        requests[gate] = REQUEST_PLAYER;
        record = yes(&g_settings.record);
        if (record && strcmp(file, "demos/default.skdemo") == 0) {
            post_message("Can't record and play from same file - recording disabled");
            record = false;
        }
    }
    leave_server();
    load_session(requests, true, record, 0, (int)g_settings.laps.value, g_settings.skill.chosen);
    close_menu();
}

static void screen_playback(void)
{
    widget_title("Playback Race");
    if (widget_button("Back to Main Menu")) {
        open_menu(MENU_MAIN, 0);
        return;
    }
    widget_choice(&g_settings.playback_mode, false);
    int count = demo_list_count();
    int &page = g_screens.demo_page;
    page = clamp_page(page, count);
    if (widget_button("Prev Page"))
        page = clamp_page(page - 1, count);
    for (int i = page * CHOOSER_PAGE; i < (page + 1) * CHOOSER_PAGE && i < count; i++) {
        if (widget_button(demo_list_label(i))) {
            play_demo(i);
            return;
        }
    }
    if (widget_button("Next Page"))
        page = clamp_page(page + 1, count);
}

static void screen_series_list(void)
{
    widget_title("Points Series");
    if (widget_button("Back to Main Menu")) {
        open_menu(MENU_MAIN, 0);
        return;
    }
    int count = series_count();
    int &page = g_screens.series_page;
    page = clamp_page(page, count);
    if (page == 0)
        widget_hidden();
    else if (widget_button("Prev Page"))
        page = clamp_page(page - 1, count);
    for (int i = page * CHOOSER_PAGE; i < (page + 1) * CHOOSER_PAGE && i < count; i++) {
        const char *name = series_name(i);
        if (widget_button(name ? name : "")) {
            g_screens.series = i;
            open_menu(MENU_SERIES, 0);
            return;
        }
    }
    if (page >= page_count(count) - 1)
        widget_hidden();
    else if (widget_button("Next Page"))
        page = clamp_page(page + 1, count);
}

static void screen_series(void)
{
    int s = g_screens.series;
    const char *name = series_name(s);
    widget_title(name ? name : "Points Series");
    if (widget_button("Back to Points Series List")) {
        open_menu(MENU_SERIES_LIST, 0);
        return;
    }
    if (widget_button("Enter Next Event")) {
        if (series_start_event(s, true))
            close_menu();
        return;
    }
    if (widget_button("Practice Next Event")) {
        if (series_start_event(s, false))
            close_menu();
        return;
    }
    if (widget_button("Reset Points"))
        series_reset_points(s);
    char text[1000];
    const char *next = series_next_event(s);
    if (next)
        snprintf(text, sizeof text, "Next Event: %.900s", next);
    else
        snprintf(text, sizeof text, "%.900s Final Standings", name ? name : "");
    widget_note(1, 8, 0.8f, 1, text);
    for (int row = 0; row < 14; row++) {
        const char *line = series_standings_line(s, row);
        if (!line)
            break;
        widget_note(1, 9.5f + row, 0.7f, 1, line);
    }
}

// ---- Bike Setup and its two sub-screens

static void setup_item(int result)
{
    if (result == WIDGET_CHANGED)
        g_screens.setup_touched = true;
}

static void texture_item(int list, const char *label, int chooser)
{
    ChoiceItem c = texture_choice(list, label);
    int r = widget_choice(&c, true);
    if (r == WIDGET_ACTIVATED) {
        chooser_open(chooser, MENU_BIKE_SETUP);
    } else if (r == WIDGET_CHANGED) {
        set_texture(list, c.chosen);
        g_screens.setup_touched = true;
    }
}

static void screen_bike_setup(void)
{
    widget_title("Bike Setup");
    if (widget_button("Back to Main Menu")) {
        open_menu(MENU_MAIN, 0);
        return;
    }
    if (widget_button("Suspension and Gearing")) {
        open_menu(MENU_SUSPENSION, 0);
        return;
    }
    if (widget_button("Advanced Stability Setup")) {
        open_menu(MENU_STABILITY, 0);
        return;
    }
    ChoiceItem bike = g_setup.bike;
    bike.label = "Bike";
    int r = widget_choice(&bike, true);
    if (r == WIDGET_ACTIVATED) {
        chooser_open(CHOOSE_BIKE, MENU_BIKE_SETUP);
        return;
    }
    if (r == WIDGET_CHANGED) {
        choose_bike(bike.chosen);
        g_screens.setup_touched = true;
    }
    setup_item(widget_text("Name", g_setup.name, (int)sizeof g_setup.name - 1));
    setup_item(widget_text("Number", g_setup.number, (int)sizeof g_setup.number - 1));
    texture_item(TEXTURES_RIDER, "Riding Gear", CHOOSE_RIDING_GEAR);
    texture_item(TEXTURES_HELMET, "Helmet", CHOOSE_HELMET);
    texture_item(TEXTURES_BIKE, "Bike Graphics", CHOOSE_BIKE_GRAPHICS);
    texture_item(TEXTURES_WHEELS, "Wheel Graphics", CHOOSE_WHEEL_GRAPHICS);
    if (menu_screen() != MENU_BIKE_SETUP)
        return;
    int level = (int)g_setup.stability.value;
    int sr = widget_number(&g_setup.stability, nullptr);
    if (widget_last_key() == '*') {
        open_menu(MENU_STABILITY, 0);
        return;
    }
    if (sr == WIDGET_CHANGED) {
        // Only a new whole level moves the fifteen assists.
        if ((int)g_setup.stability.value != level)
            apply_stability((int)g_setup.stability.value);
        g_screens.setup_touched = true;
    }
    NumberItem *const numbers[] = { &g_setup.auto_clutch_rpms, &g_setup.brake_torque, &g_setup.rear_brake_torque,
                                    &g_setup.max_dab_speed };
    for (NumberItem *n : numbers)
        setup_item(widget_number(n, nullptr));
    ChoiceItem *const choices[] = { &g_setup.arcade, &g_setup.front_brake, &g_setup.rear_brake,
                                    &g_setup.stop_wheelies, &g_setup.auto_shift, &g_setup.auto_dab,
                                    &g_setup.auto_align, &g_setup.sticky_dab, &g_setup.reverse_steering,
                                    &g_setup.lean_indicator };
    for (ChoiceItem *c : choices)
        setup_item(widget_choice(c, false));
}

// low + setting / 100 x (high - low), the setting clamped to 0..100.
static double over_range(const float range[2], double setting)
{
    double f = setting / 100;
    f = f < 0 ? 0 : f > 1 ? 1 : f;
    return range[0] + f * (range[1] - range[0]);
}

static void screen_suspension(void)
{
    widget_title("Suspension and Gearing");
    if (widget_button("Back to Bike Setup Menu")) {
        open_menu(MENU_BIKE_SETUP, 0);
        return;
    }
    const BikeModel *m = find_bike_model(choice_label(&g_setup.bike));
    const Setup &s = g_setup;
    char text[64];
    auto shown = [&](const char *format, double v) -> const char * {
        if (!m)
            return nullptr;
        snprintf(text, sizeof text, format, v);
        return text;
    };
    setup_item(widget_number(&g_setup.front_sprocket_adjustment,
                             shown("%.2f teeth", m ? m->front_sprocket + s.front_sprocket_adjustment.value : 0)));
    setup_item(widget_number(&g_setup.rear_sprocket_adjustment,
                             shown("%.2f teeth", m ? m->rear_sprocket + s.rear_sprocket_adjustment.value : 0)));
    NumberItem *const fork_damping[] = { &g_setup.fork_compression_adjustment, &g_setup.fork_slow_compression_adjustment,
                                         &g_setup.fork_rebound_adjustment, &g_setup.fork_slow_rebound_adjustment };
    for (NumberItem *n : fork_damping)
        setup_item(widget_number(n, nullptr));
    setup_item(widget_number(&g_setup.fork_spring_rate_adjustment,
                             shown("%.3f kg/mm", m ? over_range(m->fork_spring, s.fork_spring_rate_adjustment.value) *
                                                         k_kg_per_mm_leg : 0)));
    setup_item(widget_number(&g_setup.fork_preload_adjustment,
                             shown("%.2f mm", m ? over_range(m->fork_preload, s.fork_preload_adjustment.value) *
                                                      k_mm_per_ft : 0)));
    setup_item(widget_number(&g_setup.fork_oil_level_adjustment,
                             shown("%.2f mm", m ? over_range(m->fork_air_gap, s.fork_oil_level_adjustment.value) *
                                                      k_mm_per_ft : 0)));
    NumberItem *const shock_damping[] = { &g_setup.shock_compression_adjustment,
                                          &g_setup.shock_slow_compression_adjustment, &g_setup.shock_rebound_adjustment,
                                          &g_setup.shock_slow_rebound_adjustment };
    for (NumberItem *n : shock_damping)
        setup_item(widget_number(n, nullptr));
    setup_item(widget_number(&g_setup.shock_spring_rate_adjustment,
                             shown("%.2f kg/mm", m ? over_range(m->shock_spring, s.shock_spring_rate_adjustment.value) *
                                                         k_kg_per_mm : 0)));
    setup_item(widget_number(&g_setup.shock_preload_adjustment,
                             shown("%.2f mm", m ? over_range(m->shock_preload, s.shock_preload_adjustment.value) *
                                                      k_mm_per_ft : 0)));
    NumberItem *const rider[] = { &g_setup.rider_yspring, &g_setup.rider_zspring, &g_setup.rider_ydamping,
                                  &g_setup.rider_zdamping, &g_setup.rider_mass_distribution };
    for (NumberItem *n : rider)
        setup_item(widget_number(n, nullptr));
}

static void screen_stability(void)
{
    widget_title("Advanced Stability Setup");
    if (widget_button("Back to Bike Setup Menu")) {
        open_menu(MENU_BIKE_SETUP, 0);
        return;
    }
    NumberItem *const items[SETUP_ASSIST_COUNT] = {
        &g_setup.leveling, &g_setup.roll_damping, &g_setup.roll_limit_angle, &g_setup.roll_limit_factor,
        &g_setup.steering_damping, &g_setup.steering_strength, &g_setup.max_steering_force,
        &g_setup.direct_steering, &g_setup.slow_damping_speed, &g_setup.slow_damping_factor,
        &g_setup.land_damping_falloff, &g_setup.land_damping_factor, &g_setup.full_lock_speed,
        &g_setup.restricted_lock_speed, &g_setup.restricted_lock,
    };
    for (NumberItem *n : items)
        setup_item(widget_number(n, nullptr));
}

// ---- Customize Controls

static void screen_controls(void)
{
    widget_title("Customize Controls");
    if (widget_button("Back to Main Menu")) {
        capture_cancel();
        open_menu(MENU_MAIN, 0);
        return;
    }
    for (int id = 0; id < BINDING_COUNT; id++) {
        const Binding *b = binding_get(id);
        const char *value = b->key[0] ? b->key : b->axis[0] ? b->axis : "(none)";
        if (capture_binding() == id)
            value = "Press a key or move a control";
        if (widget_binding(b->label, value))
            capture_begin(id, game_clock(), startup_settings()->verbosity);
    }
}

// ---- Graphics/Sound Setup

static void screen_graphics(void)
{
    widget_title("Graphics/Sound Setup");
    if (widget_button("Back to Main Menu")) {
        open_menu(MENU_MAIN, 0);
        return;
    }
    if (widget_button("Advanced Graphics Setup")) {
        open_menu(MENU_ADVANCED_GRAPHICS, 0);
        return;
    }
    static const char *const k_presets[GRAPHICS_PRESET_COUNT] = {
        "Use Compatibility Settings", "Use High FPS Settings", "Use Normal Settings", "Use High Detail Settings",
    };
    for (int p = 0; p < GRAPHICS_PRESET_COUNT; p++)
        if (widget_button(k_presets[p]))
            config_apply_preset(p);
    widget_choice(&g_settings.video_mode, false);
    if (widget_button("Switch To Selected Mode Now"))
        switch_to_selected_mode();
    widget_choice(&g_settings.hide_rider, false);
    widget_choice(&g_settings.rigid_camera, false);
    NumberItem *const numbers[] = { &g_settings.fov, &g_settings.first_person_height, &g_settings.first_person_angle,
                                    &g_settings.first_person_gimbal, &g_settings.third_person_height,
                                    &g_settings.third_person_distance, &g_settings.volume, &g_settings.comp_volume };
    for (NumberItem *n : numbers)
        widget_number(n, nullptr);
    widget_note(1, 22, 0.7f, 1, config_preset_text());
    widget_note(1, 23, 0.7f, 1, "Some settings will not take effect until next restart");
    widget_note(1, 24.5f, 0.6f, 1, "Driver info:");
    widget_note(2, 25.3f, 0.6f, 1, gl_caps.vendor);
    widget_note(2, 26.1f, 0.6f, 1, gl_caps.renderer);
    widget_note(2, 26.9f, 0.6f, 1, gl_caps.version);
}

static void screen_advanced_graphics(void)
{
    widget_title("Advanced Graphics Setup");
    if (widget_button("Back to Graphics/Sound Menu")) {
        open_menu(MENU_GRAPHICS, 0);
        return;
    }
    widget_number(&g_settings.ground_detail, nullptr);
    widget_number(&g_settings.ground_texture_detail, nullptr);
    widget_choice(&g_settings.ground_texture_dim, false);
    widget_choice(&g_settings.ground_mipmaps, false);
    widget_choice(&g_settings.texture_compress, false);
    widget_choice(&g_settings.render_texture, false);
    widget_choice(&g_settings.use_shader, false);
    widget_number(&g_settings.model_detail, nullptr);
    widget_number(&g_settings.model_texture_detail, nullptr);
    widget_number(&g_settings.roost_density, nullptr);
    widget_number(&g_settings.reshade_delay, nullptr);
    widget_choice(&g_settings.lens_flare, false);
    widget_choice(&g_settings.reflections, false);
    bool shaders = gl_caps.fragment_shader && gl_caps.texture_units >= 4;
    widget_note(1, 18, 0.7f, 1, shaders ? "Shader support: Available" : "Shader support: Not Available");
}

// ---- Multiplayer

static void walk_server_history(int by)
{
    int at = g_screens.history + by;
    if (at < 0) {
        g_screens.history = -1;
        return;
    }
    if (at >= SERVER_HISTORY_COUNT || !g_settings.server_name_hist[at][0])
        return;
    g_screens.history = at;
    snprintf(g_settings.server_name, sizeof g_settings.server_name, "%s", g_settings.server_name_hist[at]);
}

static void screen_multiplayer(void)
{
    widget_title("Multiplayer");
    if (widget_button("Back to Main Menu")) {
        open_menu(MENU_MAIN, 0);
        return;
    }
    bool connected = net_connected();
    if (widget_button(connected ? "Disconnect" : "Connect")) {
        if (connected || net_connecting()) {
            net_disconnect();
        } else {
            config_push_server_name(g_settings.server_name);
            g_screens.history = -1;
            close_menu();
            net_connect(g_settings.server_name);
        }
        return;
    }
    if (widget_button("Request Restart")) {
        net_request_restart();
        close_menu();
        return;
    }
    widget_text("Server", g_settings.server_name, SERVER_NAME_MAX);
    int key = widget_last_key();
    if (key >= 0 && key == key_code("page up"))
        walk_server_history(1);
    else if (key >= 0 && key == key_code("page down"))
        walk_server_history(-1);
    if (!connected)
        return;
    static const float k_columns[5] = { 1, 4, 8, 11, 20 };
    static const char *const k_heads[5] = { "Slot", "Ping", "No.", "Bike", "Name" };
    for (int c = 0; c < 5; c++)
        widget_note(k_columns[c], 8, 0.7f, 1, k_heads[c]);
    for (int row = 0; row < 20; row++) {
        int slot, ping;
        const char *number, *bike, *name;
        if (!net_player_row(row, &slot, &ping, &number, &bike, &name))
            break;
        char a[16], b[16];
        snprintf(a, sizeof a, "%d", slot);
        snprintf(b, sizeof b, "%d", ping);
        const char *cells[5] = { a, b, number, bike, name };
        for (int c = 0; c < 5; c++)
            widget_note(k_columns[c], 9 + row * 0.8f, 0.6f, 1, cells[c] ? cells[c] : "");
    }
}

// ---- the table of screens

struct ScreenEntry {
    int screen;
    float units;
    void (*run)(void);
};

static const ScreenEntry k_screens[] = {
    { MENU_MAIN, 32, screen_main },
    { MENU_NEW_RACE, 42, screen_new_race },
    { MENU_CHOOSER, 36, screen_chooser },
    { MENU_PLAYBACK, 36, screen_playback },
    { MENU_SERIES_LIST, 36, screen_series_list },
    { MENU_SERIES, 32, screen_series },
    { MENU_TIME_TRIAL, 32, screen_time_trial },
    { MENU_BIKE_SETUP, 40, screen_bike_setup },
    { MENU_SUSPENSION, 40, screen_suspension },
    { MENU_STABILITY, 32, screen_stability },
    { MENU_CONTROLS, 36, screen_controls },
    { MENU_GRAPHICS, 40, screen_graphics },
    { MENU_ADVANCED_GRAPHICS, 32, screen_advanced_graphics },
    { MENU_MULTIPLAYER, 32, screen_multiplayer },
};

static const ScreenEntry *find_screen(int screen)
{
    for (const ScreenEntry &e : k_screens)
        if (e.screen == screen)
            return &e;
    return nullptr;
}

void screen_run(int screen)
{
    const ScreenEntry *e = find_screen(screen);
    if (!e)
        return;
    g_screens.setup_touched = false;
    e->run();
    // Every change on the setup screens reaches the player's bike (not while it moves).
    if (g_screens.setup_touched)
        session_apply_setup();
}

float screen_units(int screen)
{
    const ScreenEntry *e = find_screen(screen);
    return e ? e->units : 32;
}

bool screen_back(int screen)
{
    return find_screen(screen) != nullptr && screen != MENU_MAIN;
}
