#include "race/session.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/placement.h"
#include "bike/setup.h"
#include "common/mem.h"
#include "common/messages.h"
#include "common/mt.h"
#include "common/progress.h"
#include "common/ripemd160.h"
#include "platform/log.h"
#include "platform/process.h"
#include "race/race_rules.h"
#include "race/results.h"
#include "race/session_steps.h"
#include "race/simulation.h"
#include "race/time_trial.h"
#include "race/world.h"
#include "render/scenery/flaggers.h"
#include "render/scenery/roost.h"
#include "render/scenery/scenery.h"
#include "terrain/erosion.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static const double k_tic = 1.0 / 128;
static const float k_row_spacing = 10;
static const float k_row_offset = 0.0625f;
static const float k_no_gate_spacing = 5;
static const float k_drop_step = 0.25f;
static const int k_drop_tries = 4000;          // 1,000 ft above the ground: something is wrong
static const double k_mechanic_interval = 10;
static const size_t k_track_file_limit = 16777216;     // 16 MiB, as file_to_string
static const char *const k_lines_files[3] = { "lines_novice", "lines_amateur", "lines_expert" };
// Files whose bytes make up the track hash, in this order (a missing one adds nothing).
static const char *const k_hashed_files[] = { "/terrain.hf", "/terrain.png", "/texturelist", "/tilemap", "/tileinfo",
                                              "/nofrills.js" };
static const char *const k_default_bike = "yz250f(2017)";
static const char *const k_legacy_bikes[4][2] = {
    { "crf250", "crf250(2008)" }, { "kx250f", "kx250f(2008)" }, { "rmz250", "rmz250(2008)" }, { "yz250f", "yz250f(2008)" },
};

static struct {
    SessionOptions options;
    char folder[1024];              // "" = no track
    char selected[1024];            // the menus' choice
    uint8_t hash[20];
    Terrain terrain;
    Timing timing;
    int camera_count;
    int time_limit, laps;
    int erosion_rate;
    int skill;
    bool record_demo;
    bool time_trial;
    bool force_reload;
    bool frills;
    int requests[SESSION_SLOTS];
    SessionSlot slots[SESSION_SLOTS];
    GatePasses passes[SESSION_SLOTS];
    RosterDraw roster;
    double mechanic_message_clock;
    bool mechanic_message_shown;
    int loads_scanned;
    int replay_delay;
    bool built_track_list;          // the list was built here, so it is freed here
} g_session;

static int verbosity(void)
{
    return g_session.options.verbosity;
}

// The layers above: renderer, sound, scripts, editor, driver.
static const SimulationHooks &above(void)
{
    return *simulation_hooks();
}

void session_set_options(const SessionOptions *options)
{
    g_session.options = options ? *options : SessionOptions{};
}

static void open_track_name(char *out, size_t size, const char *folder, const char *file)
{
    snprintf(out, size, "@%.1000s%s", folder, file);
}

static DataFile *open_track_file(const char *folder, const char *file)
{
    char name[1100];
    open_track_name(name, sizeof name, folder, file);
    return open_data_file(name, "rb");
}

static bool track_file_exists(const char *folder, const char *file)
{
    DataFile *f = open_track_file(folder, file);
    close_data_file(f);
    return f != nullptr;
}

// Feeds a whole data file to the digest; nothing when it is missing.
static void digest_file(Ripemd160 *ctx, const char *name, bool dots)
{
    DataFile *f = open_data_file(name, "rb");
    if (!f)
        return;
    uint8_t *buffer = (uint8_t *)xmalloc(65536);
    size_t n;
    while ((n = data_read(f, buffer, 65536)) > 0) {
        ripemd160_update(ctx, buffer, n);
        if (dots)
            progress_dots("Scanning");
    }
    xfree(buffer);
    close_data_file(f);
}

// The whole file in memory; null when missing or when it holds more than a track file ever
// needs (a compressed file can unpack to gigabytes), after saying so in the log.
static uint8_t *read_track_file(const char *folder, const char *file, size_t *size)
{
    DataFile *f = open_track_file(folder, file);
    if (!f)
        return nullptr;
    size_t room = 4096, n = 0;
    uint8_t *bytes = (uint8_t *)xmalloc(room);
    // one byte past the limit tells a file that is too large from one that just fits
    while (n <= k_track_file_limit) {
        if (n == room) {
            room = room * 2 < k_track_file_limit + 1 ? room * 2 : k_track_file_limit + 1;
            bytes = (uint8_t *)xrealloc(bytes, room);
        }
        size_t got = data_read(f, bytes + n, room - n);
        if (got == 0)
            break;
        n += got;
    }
    close_data_file(f);
    if (n > k_track_file_limit) {
        log_printf("Warning: '%.900s%s' is larger than 16 MB; the track loads without it\n", folder, file);
        xfree(bytes);
        return nullptr;
    }
    *size = n;
    return bytes;
}

// ---- track list and names from outside

static void ensure_track_list(void)
{
    if (track_count() == 0)
        g_session.built_track_list = track_list() > 0;
}

bool session_select_track(const char *folder)
{
    if (!folder) {
        g_session.selected[0] = 0;
        return true;
    }
    ensure_track_list();
    int k = track_find(folder);
    if (k < 0)
        return false;
    snprintf(g_session.selected, sizeof g_session.selected, "%s", track_info(k)->folder);
    return true;
}

const char *session_selected_track(void)
{
    return g_session.selected[0] ? g_session.selected : nullptr;
}

void session_force_reload(void)
{
    g_session.force_reload = true;
}

// A track named by a demo or a server: only an installed track's own folder is used.
static const char *listed_track(const char *name)
{
    int k = name ? track_find(name) : -1;
    if (k < 0) {
        if (name)
            log_printf("Track '%.200s' is not installed\n", name);
        return nullptr;
    }
    return track_info(k)->folder;
}

// ---- the bikes of the line-up

// The catalogue's own spelling of a model name; null when the catalogue has no such model.
static const char *catalogue_name(const char *model)
{
    const BikeModel *row = model ? find_bike_model(model) : nullptr;
    return row ? row->name : nullptr;
}

// Reset, face the heading and stand at (x, y, z) with the bike's own origin there.
static void put_bike(BikeState *bike, float x, float y, float z, float heading)
{
    reset_bike(bike);
    turn_bike(bike, 0, 1, 0, heading);
    move_bike(bike, x, y, z);
    scenery_gather_near(bike);
}

static float bike_speed(const BikeState *bike)
{
    const dReal *v = dBodyGetLinearVel(bike->body[BODY_FRAME]);
    return (float)sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// Copies what fits; longer names are cut.
static void copy_text(char *out, size_t size, const char *text)
{
    size_t n = text ? strlen(text) : 0;
    n = n < size - 1 ? n : size - 1;
    memmove(out, text ? text : "", n);
    out[n] = 0;
}

// A rider from a demo or a server: its bike and textures must be the game's own entries.
static void adopt_foreign_rider(SessionSlot *s, const char *model, char textures[4][256])
{
    const char *listed = catalogue_name(model);
    copy_text(s->bike, sizeof s->bike, listed ? listed : k_default_bike);
    for (int k = 0; k < 4; k++)
        copy_text(s->textures[k], sizeof s->textures[k], above().texture_listed(textures[k]) ? textures[k] : "");
}

// ---- teardown

void free_rider(int slot)
{
    RiderSlot *s = rider_slot(slot);
    if (!s)
        return;
    above().engine_sound_destroy(slot);
    if (s->bike)
        destroy_bike(s->bike);
    *s = { nullptr, CONTROL_REPLAYED };
    passes_free(&g_session.passes[slot]);
}

void free_riders(void)
{
    progress_log("Deallocating bikes");
    for (int i = 0; i < SESSION_SLOTS; i++)
        free_rider(i);
    clear_rider_slots();
    progress_log("Finished deallocating bikes");
}

void free_track(void)
{
    progress_log("Deallocating track");
    if (g_session.options.editor)
        above().editor_release_track();
    lines_reset();
    scenery_free_all();
    above().cameras_free();
    g_session.camera_count = 0;
    timing_clear(&g_session.timing);
    terrain_unload(&g_session.terrain);
    g_session.folder[0] = 0;
    memset(g_session.hash, 0, sizeof g_session.hash);
    progress_log("Finished deallocating track");
}

void session_tables_free(void)
{
    above().cameras_free();
    g_session.camera_count = 0;
    timing_clear(&g_session.timing);
    if (g_session.built_track_list)
        track_list_free();
    g_session.built_track_list = false;
}

// ---- line-up

void start_position(const Timing *t, float terrain_width, int slot, float *x, float *z, float *heading)
{
    int g = t ? t->gate_count : 0;
    if (g <= 0) {
        *x = terrain_width / 2 + k_no_gate_spacing * slot;
        *z = terrain_width / 2;
        *heading = 0;
        return;
    }
    const StartGate *gate = &t->gates[slot % g];
    float d = (slot / g + k_row_offset) * k_row_spacing;
    *x = gate->x + sinf(gate->heading) * d;
    *z = gate->z + cosf(gate->heading) * d;
    *heading = gate->heading;
}

static void apply_lineup_rules(const int *requests, bool demo)
{
    int *req = g_session.requests;
    memset(req, 0, sizeof g_session.requests);
    if (!requests) {
        req[0] = REQUEST_PLAYER;
        set_race_tic(k_time_trial_start_tic);
        time_trial_clear_laps();
    } else {
        memcpy(req, requests, sizeof g_session.requests);
    }
    int viewed = -1;
    for (int i = 0; i < SESSION_SLOTS && viewed < 0; i++)
        if (req[i] != REQUEST_EMPTY)
            viewed = i;
    if (viewed < 0) {
        if (!demo)
            req[0] = REQUEST_ROBOT;
        viewed = 0;
    }
    bool player = false;
    for (int i = 0; i < SESSION_SLOTS; i++) {
        if (req[i] != REQUEST_PLAYER)
            continue;
        if (player) {
            req[i] = REQUEST_EMPTY;
        } else {
            player = true;
            viewed = i;
        }
    }
    set_viewed_slot(viewed);
}

static const char *current_bike_name(const char *model)
{
    for (const auto &pair : k_legacy_bikes)
        if (strcmp(model, pair[0]) == 0)
            return pair[1];
    return model;
}

static float cell_height(const Terrain *t, float x, float z)
{
    if (!t->heights || t->dim <= 0)
        return 0;
    int last = t->dim - 1;
    float fi = x * t->inv_spacing, fj = z * t->inv_spacing;
    int i = !(fi > 0) ? 0 : fi >= last ? last : (int)fi;
    int j = !(fj > 0) ? 0 : fj >= last ? last : (int)fj;
    return t->heights[i + (size_t)j * t->dim];
}

// Fills the slot's rider from its request; returns the control kind, -1 for an empty slot.
static int choose_rider(int slot, SessionSlot *s, bool demo)
{
    int request = s->request;
    char model[256] = "", number[64] = "", name[256] = "", textures[4][256] = {};
    s->roster = -1;
    if (request == REQUEST_EMPTY) {
        if (!demo || !demo_next_rider(model, textures, number, name))
            return -1;
        adopt_foreign_rider(s, model, textures);
        copy_text(s->number, sizeof s->number, number);
        copy_text(s->name, sizeof s->name, name);
        return CONTROL_REPLAYED;
    }
    if (request == REQUEST_PLAYER) {
        copy_text(s->number, sizeof s->number, g_setup.number[0] ? g_setup.number : "999");
        copy_text(s->name, sizeof s->name, g_setup.name);
        copy_text(s->bike, sizeof s->bike, choice_label(&g_setup.bike)[0] ? choice_label(&g_setup.bike) : k_default_bike);
        copy_text(s->textures[0], sizeof s->textures[0], g_setup.rider_texture);
        copy_text(s->textures[1], sizeof s->textures[1], g_setup.bike_texture);
        copy_text(s->textures[2], sizeof s->textures[2], g_setup.wheel_texture);
        copy_text(s->textures[3], sizeof s->textures[3], g_setup.head_texture);
        return CONTROL_HUMAN;
    }
    if (request == REQUEST_ROBOT || request == REQUEST_ROBOT_125 || request == REQUEST_ROBOT_250 ||
        (request >= REQUEST_ROBOT_NUMBER && request < REQUEST_ROBOT_NUMBER + 1000)) {
        int index = roster_take(&g_session.roster, request);
        const RosterEntry *e = roster_entry(index);
        s->roster = index;
        copy_text(s->number, sizeof s->number, e->number);
        copy_text(s->name, sizeof s->name, "Roborider");
        copy_text(s->bike, sizeof s->bike, e->bike);
        const char *t[4] = { e->rider_texture, e->bike_texture, e->wheel_texture, e->head_texture };
        for (int k = 0; k < 4; k++)
            copy_text(s->textures[k], sizeof s->textures[k], t[k]);
        return CONTROL_ROBOT;
    }
    if (request == REQUEST_REMOTE) {
        if (!net_slot_rider(slot, model, textures, number, name))
            return -1;
        adopt_foreign_rider(s, model, textures);
        copy_text(s->number, sizeof s->number, number);
        copy_text(s->name, sizeof s->name, name);
        return CONTROL_REPLAYED;
    }
    // anything else: a bare bike of the default model
    copy_text(s->bike, sizeof s->bike, k_default_bike);
    return CONTROL_REPLAYED;
}

static void load_bikes(bool demo, bool server)
{
    progress_log("Loading bikes");
    float width = g_session.terrain.world_size;
    BikeState *placed[SESSION_SLOTS];
    int placed_count = 0;
    for (int i = 0; i < SESSION_SLOTS; i++) {
        SessionSlot *s = &g_session.slots[i];
        memset(s, 0, sizeof *s);
        s->request = g_session.requests[i];
        int place = i;
        if (server && net_slot_position(i) >= 0)
            place = net_slot_position(i);
        start_position(&g_session.timing, width, place, &s->x, &s->z, &s->heading);
        s->y = cell_height(&g_session.terrain, s->x, s->z);
        s->kind = choose_rider(i, s, demo);
        if (s->kind < 0)
            continue;
        copy_text(s->bike, sizeof s->bike, current_bike_name(s->bike));
        // Number plates and textures come with the bike's graphics.
        BikeState *bike = build_bike(i, s->bike, s->number, s->textures[0], s->textures[3], s->textures[1], s->textures[2]);
        RiderSlot *slot = rider_slot(i);
        if (!bike) {
            slot->kind = CONTROL_REPLAYED;
            progress_dots("Loading bikes");
            continue;
        }
        above().engine_sound_create(i, bike);
        slot->bike = bike;
        slot->kind = s->kind;
        // Clear of the ground and of every bike placed before it.
        for (int tries = 0; tries < k_drop_tries; tries++) {
            put_bike(bike, s->x, s->y, s->z, s->heading);
            if (!bike_touches_anything(bike, &g_session.terrain, placed, placed_count))
                break;
            s->y += k_drop_step;
        }
        placed[placed_count++] = bike;
        if (s->kind == CONTROL_HUMAN)
            race_remember_start(i, bike);
        if (s->kind == CONTROL_REPLAYED)
            bike_set_replay_mode(bike, 100, 5, 50, 0.04363323f);
        else
            bike_set_simulation_mode(bike);
        if (s->kind == CONTROL_ROBOT)
            robot_set_personality(bike, g_session.options.practice_robots ? "tester" : roster_entry(s->roster)->personality);
        progress_dots("Loading bikes");
    }
    progress_done("Loading bikes");
}

// ---- loading the track's files

static void feed_statue_models(Ripemd160 *ctx)
{
    int n = statue_count();
    for (int i = 0; i < n; i++) {
        const char *model = statue_model(i);
        if (!model)
            continue;
        bool seen = false;
        for (int k = 0; k < i && !seen; k++)
            seen = statue_model(k) && strcmp(statue_model(k), model) == 0;
        if (!seen)
            digest_file(ctx, model, false);
    }
}

// Steps 12 to 21: the track's own files. False when the height field cannot be loaded.
static bool load_track_files(const char *folder)
{
    snprintf(g_session.folder, sizeof g_session.folder, "%s", folder);
    g_session.loads_scanned++;

    progress_log("Scanning");
    Ripemd160 ctx;
    ripemd160_init(&ctx);
    for (const char *file : k_hashed_files) {
        char name[1100];
        open_track_name(name, sizeof name, folder, file);
        digest_file(&ctx, name, true);
        progress_dots("Scanning");
    }
    progress_done("Scanning");
    if (verbosity() >= 1)
        log_printf("Loading '@%s'\n", folder);

    above().lighting_load(folder);

    char at_folder[1100];
    snprintf(at_folder, sizeof at_folder, "@%.1000s", folder);
    if (!terrain_load(&g_session.terrain, at_folder, above().terrain_rendering_method())) {
        g_session.folder[0] = 0;
        memset(g_session.hash, 0, sizeof g_session.hash);
        return false;
    }
    if (verbosity() >= 1)
        log_printf("%lu bytes texture memory used after hf creation\n", above().texture_memory_bytes());

    scenery_set_ground(&g_session.terrain);
    size_t size = 0;
    uint8_t *gates = read_track_file(folder, "/timing_gates", &size);
    timing_clear(&g_session.timing);
    if (gates) {
        ripemd160_update(&ctx, gates, size);
        DataFile *f = open_memory_data_file(gates, size, false);
        if (timing_parse(&g_session.timing, f, verbosity()))
            lines_create_segments(g_session.timing.first_counting + g_session.timing.normal_counting);
        close_data_file(f);
        xfree(gates);
    }

    roost_pool_create(&g_session.terrain);

    progress_log("Loading flaggers");
    if (DataFile *f = open_track_file(folder, "/flaggers")) {
        flaggers_load(f, g_session.timing.checkpoint_count);
        close_data_file(f);
    }
    progress_done("Loading flaggers");
    if (verbosity() >= 1)
        log_printf("%lu bytes texture memory used after flagger creation\n", above().texture_memory_bytes());

    if (DataFile *f = open_track_file(folder, "/billboards")) {
        progress_log("Loading billboards");
        billboards_load(f);
        close_data_file(f);
        progress_done("Loading billboards");
        if (verbosity() >= 1)
            log_printf("%lu bytes texture memory used after billboard creation\n", above().texture_memory_bytes());
    }

    if (track_file_exists(folder, "/statues")) {
        progress_log("Loading statues");
        uint8_t *bytes = read_track_file(folder, "/statues", &size);
        if (bytes) {
            ripemd160_update(&ctx, bytes, size);
            DataFile *f = open_memory_data_file(bytes, size, false);
            statues_load(f);
            close_data_file(f);
            xfree(bytes);
        }
        progress_done("Loading statues");
    }

    progress_log("Loading map");
    if (verbosity() >= 1)
        log_printf("%lu bytes texture memory used after statue creation\n", above().texture_memory_bytes());
    char name[1100];
    open_track_name(name, sizeof name, folder, "/map.png");
    above().track_map_load(name);
    scenery_sort_into_grid();
    if (g_session.options.editor)
        above().editor_take_track();
    feed_statue_models(&ctx);
    ripemd160_final(&ctx, g_session.hash);
    g_session.camera_count = 0;
    if (DataFile *f = open_track_file(folder, "/cameras")) {
        g_session.camera_count = above().cameras_load(f);
        close_data_file(f);
    }
    if (verbosity() >= 1)
        log_printf("%d cameras found\n", g_session.camera_count);
    progress_done("Loading map");
    return true;
}

static void load_lines(const char *folder, int skill)
{
    char file[64];
    snprintf(file, sizeof file, "/%s", k_lines_files[skill < 0 || skill > 2 ? 0 : skill]);
    if (DataFile *f = open_track_file(folder, file)) {
        int count = -1;
        if (data_scanf(f, "ct03 %d", &count) == 1 && count == lines_slot_count())
            lines_read(f, count);
        close_data_file(f);
    }
    progress_log("Analyzing lines");
    lines_analyze();
    progress_done("Analyzing lines");
}

static const char *choose_track(bool from_demo, bool server, bool *demo)
{
    *demo = false;
    if (from_demo && demo_playing()) {
        *demo = true;
        if (const char *folder = listed_track(demo_track_folder()))
            return folder;
    }
    if (server)
        return listed_track(net_track_folder());
    // With nothing chosen in the menus the race goes on on the track that is loaded.
    if (const char *selected = session_selected_track())
        return selected;
    return g_session.folder[0] ? g_session.folder : nullptr;
}

void session_set_ground_rule(bool server_race)
{
    g_session.terrain.frozen = server_race && g_session.terrain.heights;
}

static void view_first_rider(void)
{
    RiderSlot *viewed = rider_slot(viewed_slot());
    if (viewed && viewed->bike)
        return;
    int n;
    const RunningEntry *order = running_order(&n);
    if (n > 0)
        set_viewed_slot(order[0].slot);
}

bool session_apply_setup(void)
{
    RiderSlot *viewed = rider_slot(viewed_slot());
    if (!viewed || !viewed->bike || viewed->kind != CONTROL_HUMAN)
        return false;
    if (bike_speed(viewed->bike) > 0.125f) {
        double now = game_clock();
        if (!g_session.mechanic_message_shown || now - g_session.mechanic_message_clock >= k_mechanic_interval) {
            post_message("Settings not applied.  Mechanic can't keep up error.");
            g_session.mechanic_message_shown = true;
            g_session.mechanic_message_clock = now;
        }
        return false;
    }
    apply_setup_to_bike(viewed->bike);
    return true;
}

bool load_session(const int *requests, bool from_demo, bool record_demo, int time_limit_tics, int laps, int skill)
{
    const SessionOptions *settings = &g_session.options;
    // Nothing to race on: fail before anything is torn down.
    if (!net_race() && !(from_demo && demo_playing()) && !session_selected_track() && !g_session.folder[0]) {
        log_printf("No track selected\n");
        return false;
    }
    series_record_pending();
    progress_message("Resetting...");
    log_printf("Resetting\n");
    progress_reset_max_delay();

    mt_seed(session_seed());
    roster_shuffle(&g_session.roster);

    progress_log("Remembering lines");
    if (g_session.folder[0]) {
        if (settings->learn_lines)
            lines_write(g_session.skill);
        lines_reset();
        demo_close();
    }
    progress_done("Remembering lines");
    demo_finish_recording();
    demo_forget_riders();

    progress_log("Cleaning up");
    free_riders();
    progress_done("Cleaning up");

    set_race_tic(0);
    // Ruts of the last session that were still queued belong to it, not to this one.
    static const ErodeRecordHooks k_erode_hooks = { net_send_erode_record, demo_record_erode };
    erode_set_record_hooks(&k_erode_hooks);
    erode_reset();
    g_session.time_limit = time_limit_tics > 0 ? time_limit_tics : 0;
    g_session.laps = laps;
    g_session.skill = skill < 0 || skill > 2 ? 0 : skill;
    g_session.record_demo = record_demo;

    bool server = net_race();
    race_set_server(server);
    g_session.replay_delay = 0;
    if (server) {
        set_gate_drop_tic(net_gate_drop_tic());
        g_session.time_trial = false;
        if (!net_in_race())
            g_session.replay_delay = 127;
    } else {
        uint32_t r = mt_next() & 0x7fffffffu;
        set_gate_drop_tic((int32_t)((r * (1.0 / 1073741824.0) + 13) / k_tic));
        g_session.erosion_rate = settings->erode_rate;
        g_session.time_trial = requests == nullptr;
        net_clear_receive_buffers();
    }

    bool demo = false;
    const char *chosen = choose_track(from_demo, server, &demo);
    char folder[1024];
    copy_text(folder, sizeof folder, chosen);

    above().script_shutdown();
    above().sound_release_voices();

    bool keep = g_session.folder[0] && !server && !g_session.force_reload && strcmp(folder, g_session.folder) == 0;
    if (!keep) {
        g_session.force_reload = false;
        above().textures_begin_session();
        if (g_session.folder[0] || g_session.terrain.heights)
            free_track();
        if (!folder[0] || !load_track_files(folder))
            return false;
    }
    session_set_ground_rule(server);

    apply_lineup_rules(requests, demo);
    load_lines(g_session.folder, g_session.skill);
    load_bikes(demo, server);

    for (int i = 0; i < SESSION_SLOTS; i++)
        replay_history_clear(i);
    if (record_demo)
        demo_start_recording();
    scenery_clear_hit_marks();
    lines_clear_progress();

    char script[1100];
    g_session.frills = track_file_exists(g_session.folder, "/frills.js");
    open_track_name(script, sizeof script, g_session.folder, g_session.frills ? "/frills.js" : "/nofrills.js");
    if (g_session.frills || track_file_exists(g_session.folder, "/nofrills.js"))
        above().script_run(script);

    char text[64];
    snprintf(text, sizeof text, "%d MB texture memory used\n", (int)(above().texture_memory_bytes() >> 20));
    post_message(text);
    above().textures_release_unused();

    race_begin(g_session.time_limit, laps);
    results_begin();
    if (g_session.time_trial)
        time_trial_begin();

    const char *cause = "";
    double delay = progress_max_delay(&cause);
    log_printf("Max loading delay was %f (%s)\n", delay, cause ? cause : "");

    demo_record_first();
    demo_read_first();
    results_refresh();
    view_first_rider();
    bike_contacts_empty();

    session_apply_setup();
    above().session_loaded();
    process_keep_resident_and_raise_priority();
    return true;
}

// ---- the driver's calls

bool track_session_request(const char *track, bool from_demo, int lap_limit)
{
    return track_session_request_first(track, from_demo, lap_limit, REQUEST_ROBOT);
}

bool track_session_request_first(const char *track, bool from_demo, int lap_limit, int first)
{
    if (!track || !session_select_track(track)) {
        ensure_track_list();
        if (const char *first = track_choose(track))
            session_select_track(first);
    }
    int requests[SESSION_SLOTS] = {};
    if (!from_demo)
        requests[0] = first;
    return load_session(requests, from_demo, false, 0, lap_limit, race_settings_robot_skill());
}

bool track_is_loaded(void)
{
    return g_session.folder[0] != 0;
}

int track_camera_count(void)
{
    return g_session.camera_count;
}

int bike_gate_passing(BikeState *bike)
{
    if (!bike || !g_session.timing.valid)
        return -1;
    for (int i = 0; i < SESSION_SLOTS; i++) {
        if (rider_slot(i)->bike != bike)
            continue;
        // a finished rider's passes stay as they were at the flag
        if (!bike->built || rider_finished(i))
            return -1;
        const dReal *front = dBodyGetPosition(bike->body[BODY_FRONT_WHEEL]);
        int passed = gate_passing_step(&g_session.timing, &g_session.passes[i], (float)front[0], (float)front[2], race_tic());
        if (passed >= 0)
            results_refresh();
        return passed;
    }
    return -1;
}

// ---- queries

const char *session_track(void) { return g_session.folder[0] ? g_session.folder : nullptr; }
const uint8_t *session_track_hash(void) { return g_session.hash; }
Terrain *session_terrain(void) { return &g_session.terrain; }
const Timing *session_timing(void) { return &g_session.timing; }
const SessionSlot *session_slot(int slot) { return slot >= 0 && slot < SESSION_SLOTS ? &g_session.slots[slot] : nullptr; }
GatePasses *session_passes(int slot) { return slot >= 0 && slot < SESSION_SLOTS ? &g_session.passes[slot] : nullptr; }
const RosterDraw *session_roster(void) { return &g_session.roster; }
bool session_time_trial(void) { return g_session.time_trial; }
int session_time_limit(void) { return g_session.time_limit; }
int session_laps(void) { return g_session.laps; }
int session_skill(void) { return g_session.skill; }
bool session_record_demo(void) { return g_session.record_demo; }
const int *session_requests(void) { return g_session.requests; }
int session_replay_delay(void) { return g_session.replay_delay; }
int session_erosion_rate(void) { return g_session.erosion_rate; }
bool session_frills(void) { return g_session.frills; }
int session_loads_scanned(void) { return g_session.loads_scanned; }
int session_verbosity(void) { return g_session.options.verbosity; }

void session_reset_for_tests(void)
{
    for (GatePasses &p : g_session.passes)
        passes_free(&p);
    timing_clear(&g_session.timing);
    terrain_unload(&g_session.terrain);
    memset(&g_session, 0, sizeof g_session);
}
