#include "driver/game.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <GL/gl.h>

#include "audio/engine_sound.h"
#include "audio/live/sdl_output.h"
#include "audio/sound.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/setup.h"
#include "bike/shape.h"
#include "common/game_data.h"
#include "common/mem.h"
#include "common/messages.h"
#include "common/mt.h"
#include "common/progress.h"
#include "common/version.h"
#include "driver/args.h"
#include "driver/bindings.h"
#include "driver/config.h"
#include "driver/console.h"
#include "driver/home.h"
#include "driver/lists.h"
#include "driver/loading.h"
#include "driver/loop.h"
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
#include "robots/robots.h"
#include "render/bike_draw.h"
#include "render/cameras.h"
#include "render/frame.h"
#include "render/hud.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/lighting.h"
#include "render/model/model.h"
#include "render/model_draw.h"
#include "render/ground_textures.h"
#include "render/screens.h"
#include "render/scenery/roost.h"
#include "render/scenery_draw.h"
#include "render/terrain_render.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "ui/menus.h"
#include "vfs/vfs.h"

// "render_texture": the shader choices compose like the methods they build on and light the
// ground per pixel where the track's lighting asks for it.
static int terrain_rendering_method(void)
{
    const char *label = choice_label(&g_settings.render_texture);
    if (strcmp(label, "Hardware/Copy") == 0)
        return GROUND_METHOD_COPY;
    if (strcmp(label, "Hardware/Direct") == 0)
        return GROUND_METHOD_DIRECT;
    if (strcmp(label, "Shaders/Copy") == 0)
        return GROUND_METHOD_SHADERS_COPY;
    if (strcmp(label, "Shaders/Direct") == 0)
        return GROUND_METHOD_SHADERS_DIRECT;
    return GROUND_METHOD_SOFTWARE;
}

static const long k_show_wait_us = 62500;
static const int k_show_wait_tries = 80;        // 5 s before start-up gives up on the window

static const char *const k_named_keys[] = {
    "up", "down", "left", "right", "enter", "keypad enter", "esc", "pause",
    "cursor-left", "cursor-right", "page up", "page down", "close",
};
enum { NAMED_KEYS = sizeof k_named_keys / sizeof k_named_keys[0] };

static struct {
    int named_keys[NAMED_KEYS];
    char start_track[TRACK_NAME_MAX + 1];           // folder; "" when none
    char start_track_long_name[TRACK_NAME_MAX + 1]; // for the "Time Trial" menu
    bool start_track_named;                         // the player's name found a track
    bool demo_playing;
} g_game;

bool game_data_found(void)
{
    DataFile *f = open_data_file(SK_GAME_DATA_PROBE, "rb");
    close_data_file(f);
    return f != nullptr;
}

// Sound and window go first, so that the box can be seen.
static void report_out_of_memory(void)
{
    sound_close();
    if (window_is_open())
        close_window();
    message_box("Error", "Out of virtual memory");
}

static void log_settings(const StartupSettings *s)
{
    log_printf("Settings: fugly=%d nosound=%d learn=%d verbosity=%d practice=%d warp=%d "
               "texture_detail=%d,%d roost=%d erode=%d detail=%g max_detail=%g,%g lod=%g,%g "
               "lock_fps=%g fake_lag=%g fake_loss=%d video=%d editor=%d size=%dx%d depth=%d,%d "
               "track='%.200s' demo='%.200s' connect=%d '%.200s' chase=%g,%g,%g\n",
               s->flat_shading, s->sound_off, s->learn_lines, s->verbosity, s->practice_robots, s->warp,
               s->model_texture_detail, s->ground_texture_detail, s->roost_frequency, s->erode_rate,
               s->terrain_detail, s->max_detail_distance, s->detail_fade_end, s->lod_scale, s->lod_bias,
               s->lock_fps, s->fake_lag, s->fake_loss, s->record_video, s->editor, s->width, s->height,
               s->depth, s->zdepth, s->track, s->demo_file, s->connect_requested, s->server,
               s->chase_center[0], s->chase_center[1], s->chase_center[2]);
}

static bool open_game_window(const StartupSettings *s)
{
    int entry = g_settings.video_mode.chosen;
    int width = s->width, height = s->height, flags = 0;
    if (entry != VIDEO_MODE_WINDOWED) {
        if (!video_mode_size(entry, &width, &height))
            width = height = 0;     // an entry the list no longer has: the desktop mode
        flags = WINDOW_FULLSCREEN;
    }
    // The colour bits share their argument with the mode flags; only the low byte is bits.
    int bits = (s->depth == 32 ? 24 : s->depth) & 0xff;
    return open_window("Skorva", width, height, bits | flags, 0, s->zdepth, 0, 0);
}

static bool have_display(void)
{
    const char *x = getenv("DISPLAY"), *wayland = getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

static void report_window_failure(const StartupSettings *s)
{
    if (!have_display()) {
        fputs("Can't open the game window: there is no display (DISPLAY and WAYLAND_DISPLAY are unset)\n", stderr);
        return;
    }
    if (g_settings.video_mode.chosen == VIDEO_MODE_WINDOWED)
        fprintf(stderr, "Can't open the game window (%dx%d): %s\n", s->width, s->height, last_error());
    else
        fprintf(stderr, "Can't open the game window (%s): %s\n", choice_label(&g_settings.video_mode), last_error());
}

// A setup file names its own bike: its graphics list follows, then the four textures.
static void after_setup_read(void)
{
    build_bike_texture_list(file_index_names());
    choose_setup_textures();
}

// Start-up step 17: the platform may take a moment to show the window.
static bool wait_for_drawable(void)
{
    for (int i = 0; i < k_show_wait_tries; i++) {
        int w, h;
        if (!window_is_open())
            return false;
        if (begin_frame(&w, &h)) {
            end_frame();
            return true;
        }
        loop_drain_events();
        sleep_for(0, k_show_wait_us);
    }
    return false;
}

static void probe_gl(const StartupSettings *s)
{
    const char *names[4] = { "GL_VENDOR", "GL_RENDERER", "GL_VERSION", "GL_EXTENSIONS" };
    const GLenum ids[4] = { GL_VENDOR, GL_RENDERER, GL_VERSION, GL_EXTENSIONS };
    for (int i = 0; i < 4; i++) {
        const char *v = (const char *)glGetString(ids[i]);
        log_printf("%s: %.4000s\n", names[i], v ? v : "");   // the log cuts lines at 4 KiB
    }
    // Before the settings are set up (no labels yet) shaders count as wanted.
    const ChoiceItem &use = g_settings.use_shader;
    shaders_setup(use.labels ? strcmp(choice_label(&use), "Yes") == 0 : true);
    model_draw_init(shader_program(SHADER_LIT) != 0, !s->no_vertex_arrays);
    // The command line's level-of-detail settings replace the detail setting's.
    float lod_scale, lod_bias;
    model_lod_from_detail((int)g_settings.model_detail.value, &lod_scale, &lod_bias);
    if (s->lod_scale != 1 || s->lod_bias != 0) {
        lod_scale = s->lod_scale;
        lod_bias = s->lod_bias;
    }
    model_set_lod(lod_scale, lod_bias);
    model_set_verbosity(s->verbosity);
    bike_draw_init();
    glClearColor(0.196078f, 0.6f, 0.8f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_CULL_FACE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (s->flat_shading)
        glShadeModel(GL_FLAT);
}

// The session's hooks: a new track load starts a generation of textures and models; what no
// session since has used goes.
static void begin_session_generation(void)
{
    texture_begin_session();
    model_new_generation();
}

static void release_unused_textures(void)
{
    texture_release_stale(false);
    model_release_stale(false);
}

static void shutdown_game(const StartupSettings *s)
{
    if (net_connected())
        net_disconnect();
    series_record_pending();
    lines_write_and_free(s->learn_lines);

    // Contact joints still in the group name bodies about to go.
    bike_contacts_empty();
    free_riders();
    script_shutdown();
    sound_release_voices();
    demo_close();
    free_track();
    lighting_release();
    bike_world_destroy();
    bike_draw_shutdown();
    scenery_draw_shutdown();
    shape_cache_free();

    progress_log("Freeing memory (1)");
    session_tables_free();
    // The platform logs "Closing input devices" as it closes them: shown here, logged once.
    progress_message("Closing input devices");
    loop_release_input();
    bindings_release();
    close_input_devices();
    // An open device logs "Closing audio" as it closes: shown here, logged once.
    if (sound_is_open())
        progress_message("Closing audio");
    else
        progress_log("Closing audio");
    sound_close();
    texture_cache_free();
    if (home_saves_settings()) {
        progress_log("Writing config files");
        if (!config_save()) {
            fputs("Can't write the settings file \"config\" in the home directory: this run's changes are lost\n", stderr);
            log_printf("Can't write the settings file \"config\"\n");
        }
    } else {
        progress_log("Settings not saved");
    }
    progress_log("Freeing memory (2)");
    free_series_list();
    track_list_free();
    progress_log("Freeing memory (3)");
    menu_shutdown();
    console_free();
    free_texture_lists();
    free_demo_list();
    free_video_mode_list();
    progress_log("Freeing file list");
    vfs_shutdown();
    progress_log("Freeing memory (4)");
    renderer_tables_free();
    progress_log("Deleting textures");
    textures_delete_all();
    progress_log("Deleting models");
    models_delete_all();
    fonts_free();
    close_window();
    log_printf(nullptr);
    home_close();
    if (mem_checking())
        mem_list_live_blocks();
    // Gives the sound device time to go quiet; unattended runs have none to wait for.
    if (!getenv("SK_TEST") && !getenv("SK_QUIT_AFTER_FRAMES"))
        sleep_for(1, 0);
}

// Start-up step 15: the configured or given track if installed, else the first of the list.
static void choose_start_track(const StartupSettings *s)
{
    g_game.start_track_named = track_lookup(s->track) >= 0;
    if (!g_game.start_track_named && s->track[0]) {
        char text[300];
        snprintf(text, sizeof text, "Track '%.200s' not found", s->track);
        post_message(text);
        fprintf(stderr, "%s\n", text);
    }
    const char *folder = track_choose(s->track);
    const TrackInfo *info = track_info(track_find(folder));
    snprintf(g_game.start_track, sizeof g_game.start_track, "%s", folder ? folder : "");
    snprintf(g_game.start_track_long_name, sizeof g_game.start_track_long_name, "%s", info ? info->name : "");
    if (s->verbosity >= 1)
        log_printf("Start track %s (%s)\n", g_game.start_track, g_game.start_track_long_name);
}

// Ends a start-up that failed after the log was opened.
static int fail_start(int status)
{
    log_printf(nullptr);
    return status;
}

int game_main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "--open-home") == 0) {
        open_home_folder();
        return 0;
    }

    // From here SIGINT and SIGTERM end the game through its shutdown.
    quit_signals_install();
    messages_clear();
    messages_set_clock(game_clock);
    loading_screen_install();
    set_out_of_memory_hook(report_out_of_memory);

    char log_path[1100];
    int home = home_open(log_path, sizeof log_path);
    log_printf("TOVA_LOGFILE=%s\n", log_path);
    if (home == HOME_USE_SHARED) {
        fputs(home_notice(), stderr);
        log_printf("%s", home_notice());
    } else if (home != HOME_USE_OWN) {
        message_box("Skorva", "%s", home_notice());
    }
    if (!game_data_found()) {
        log_printf("No \"%s\" in any search directory\n", SK_GAME_DATA_PROBE);
        message_box("Problem starting Skorva", "Can't find game data\n");
        return fail_start(1);
    }

    log_printf("Skorva version %s\n", VERSION_TEXT);
    config_clear_server_history();
    build_video_mode_list(video_modes());
    config_set_video_modes(video_mode_labels(), video_mode_count());

    // Defaults (bike selection, stability assists, graphics preset 0), then the file over them.
    // The "Bike" choice offers the whole catalogue first, so that the file's bike is kept.
    StartupSettings *s = startup_settings();
    bike_catalogue_offer();
    config_apply_defaults();
    config_load();
    settings_from_config(s);
    setup_report_take_reference();

    if (parse_command_line(argc, argv, s) != ARGS_OK) {
        free_video_mode_list();
        return fail_start(1);
    }
    if (s->open_home) {
        open_home_folder();
        free_video_mode_list();
        return fail_start(0);
    }
    messages_set_max_showing(g_settings.message_lines);
    if (s->verbosity >= 2)
        log_settings(s);
    if (getenv("SK_TEST") && getenv("SK_TEST_SEED"))
        set_session_seed_for_tests(true, (uint32_t)strtoul(getenv("SK_TEST_SEED"), nullptr, 10));
    if (getenv("SK_TEST") && getenv("SK_TEST_BAD_FREE") && mem_checking()) {
        // Lets the tests show that the allocation check guards the real game too.
        static char never_allocated[16] = "left alone";
        xfree(never_allocated);
        if (strcmp(never_allocated, "left alone") != 0)
            fputs("Bad free changed the memory\n", stderr);
    }

    if (!open_game_window(s)) {
        report_window_failure(s);
        free_video_mode_list();
        return fail_start(1);
    }

    progress_tick();
    vfs_set_progress_hook(progress_tick);
    build_texture_lists(file_index_names());
    setup_set_after_read_hook(after_setup_read);
    terrain_set_verbosity(s->verbosity);
    if (track_list() == 0) {
        fputs("No tracks found\n", stderr);
        log_printf("No tracks found\n");
        close_window();
        track_list_free();
        free_texture_lists();
        vfs_shutdown();
        free_video_mode_list();
        return fail_start(1);
    }
    build_demo_list(file_index_names(), s->verbosity);
    build_series_list();
    choose_start_track(s);

    if (s->record_audio[0])
        sound_open_capture(s->record_audio, SOUND_READBACK_RATE, SOUND_READBACK_BLOCK);
    else if (!s->sound_off)
        sound_open_device(sdl_wave_output());

    if (!wait_for_drawable()) {
        fputs("The game window never became visible\n", stderr);
        log_printf("The game window never became visible\n");
        sound_close();
        close_window();
        free_demo_list();
        track_list_free();
        free_texture_lists();
        vfs_shutdown();
        free_video_mode_list();
        return fail_start(1);
    }
    probe_gl(s);
    // The loaders take the detail the menus show (10 finest); the run's level is 10 minus it.
    const ChoiceItem &compress = g_settings.texture_compress;
    fonts_and_pictures_load(s->verbosity, 10 - s->model_texture_detail,
                            compress.labels && strcmp(choice_label(&compress), "Always") == 0);

    loop_init(s);
    views_init();
    if (window_is_open()) {
        bindings_resolve();
        for (int i = 0; i < NAMED_KEYS; i++)
            g_game.named_keys[i] = key_code(k_named_keys[i]);
    }
    MenuHooks menu_hooks = { console_line, editor_track_modified };
    menu_set_hooks(&menu_hooks);
    menu_init();
    SessionOptions options = { s->verbosity, s->learn_lines, s->practice_robots, s->editor, s->erode_rate };
    session_set_options(&options);
    RaceSettingItems race_settings = { &g_settings.skill, &g_settings.time_trial_abort };
    race_use_settings(&race_settings);
    TerrainRenderSettings terrain_render = {
        s->terrain_detail,
        g_settings.ground_texture_dim.chosen,
        s->ground_texture_detail,
        strcmp(choice_label(&g_settings.ground_mipmaps), "Yes") == 0,
        (int)g_settings.reshade_delay.value,
        !s->no_vertex_arrays,
        s->verbosity,
    };
    terrain_render_configure(&terrain_render);
    if (window_is_open()) {
        terrain_render_install();
        scenery_draw_install();
    }
    roost_set_density((float)s->roost_frequency);
    SimulationHooks hooks = {};
    hooks.session_loaded = loop_session_loaded;
    hooks.cameras_load = cameras_load;
    hooks.cameras_free = cameras_free;
    if (window_is_open())
        hooks.track_map_load = track_map_load;
    hooks.terrain_rendering_method = terrain_rendering_method;
    hooks.lighting_load = lighting_load;
    hooks.texture_memory_bytes = texture_memory;
    hooks.textures_begin_session = begin_session_generation;
    hooks.textures_release_unused = release_unused_textures;
    hooks.engine_sound_create = engine_sound_create;
    hooks.engine_sound_destroy = engine_sound_destroy;
    hooks.sound_release_voices = sound_release_voices;
    simulation_set_hooks(&hooks);
    robots_install();
    if (!bike_world_create())
        log_printf("No physics: the bikes stay out of the race\n");

    if (s->demo_file[0])
        g_game.demo_playing = demo_open_playback(s->demo_file);
    clear_rider_slots();
    mt_seed(session_seed());
    // Only a track the player chose and that loaded is written back; a failed load, a demo's
    // track or a server's keeps the configured one.
    // A fallback to the first listed track is not the player's choice either.
    // A development aid until the menus start rides: the first slot for this computer's rider.
    const char *as_player = getenv("SK_START_AS_PLAYER");
    int first = as_player && strcmp(as_player, "1") == 0 ? REQUEST_PLAYER : REQUEST_ROBOT;
    if (!s->connect_requested && track_session_request_first(g_game.start_track, g_game.demo_playing, 1000, first) &&
        !g_game.demo_playing && g_game.start_track_named)
        config_set_track(g_game.start_track);
    if (!s->connect_requested)
        open_menu(MENU_MAIN, 0);
    run_main_loop();

    shutdown_game(s);
    return 0;
}
