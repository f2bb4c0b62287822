#include "bike/setup.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/messages.h"
#include "vfs/vfs.h"

Setup g_setup;

static const char *const k_default_bike = "yz250f(2017)";
static const char *const k_default_bike_list[] = { "yz250f(2017)" };
static const char *const k_no_yes[] = { "No", "Yes" };
static const char *const k_brakes[] = { "Normal", "Antilock" };
static const char *const k_wheelies[] = { "No", "Yes", "Front Only" };

enum FieldKind { FIELD_BIKE, FIELD_TEXT, FIELD_NUMBER, FIELD_CHOICE };

struct SetupField {
    const char *key;
    const char *label;
    FieldKind kind;
    void *item;                     // NumberItem, ChoiceItem or a char array
    double value, step, minimum, maximum;
    const char *const *choices;
    int count;
    const char *text;               // the default text or choice label
    size_t max_chars;
};

#define NUM(key, label, def, step, lo, hi) \
    { #key, label, FIELD_NUMBER, &g_setup.key, def, step, lo, hi, nullptr, 0, nullptr, 0 }
#define CHO(key, label, list, def) \
    { #key, label, FIELD_CHOICE, &g_setup.key, 0, 0, 0, 0, list, (int)(sizeof list / sizeof list[0]), def, 0 }
#define TXT(key, label, def, max) \
    { #key, label, FIELD_TEXT, g_setup.key, 0, 0, 0, 0, nullptr, 0, def, max }

// In the order the block is written.
static const SetupField k_fields[] = {
    { "bike", "Bike", FIELD_BIKE, &g_setup.bike, 0, 0, 0, 0, nullptr, 0, nullptr, 0 },
    TXT(name, "Name", "Joe Motocross", 63),
    TXT(number, "Number", "999", 3),
    TXT(rider_texture, "Riding Gear", "", 1023),
    TXT(head_texture, "Helmet", "", 1023),
    TXT(bike_texture, "Bike Graphics", "", 1023),
    TXT(wheel_texture, "Wheel Graphics", "", 1023),
    NUM(stability, "Stability", 100, 1, 0, 100),
    NUM(leveling, "Leveling", 20, 1, 0, 100),
    NUM(roll_damping, "Roll Damping", 80, 1, 0, 100),
    NUM(roll_limit_angle, "Roll Limit Angle", 45, 1, 0, 180),
    NUM(roll_limit_factor, "Roll Limit Factor", 32, 1, 0, 64),
    NUM(steering_damping, "Steering Damping", 60, 1, 0, 100),
    NUM(steering_strength, "Steering Strength", 75, 1, 0, 100),
    NUM(max_steering_force, "Max Steering Force", 400, 5, 0, 1000),
    NUM(direct_steering, "Direct Steering", 0.125, 0.125, 0, 1),
    NUM(slow_damping_speed, "Slow Damping Speed", 40, 1, 0, 100),
    NUM(slow_damping_factor, "Slow Damping Factor", 2, 0.25, 1, 10),
    NUM(land_damping_falloff, "Landing Damping Falloff", 0.25, 0.0625, 0, 0.5),
    NUM(land_damping_factor, "Landing Damping Factor", 2, 0.25, 1, 3),
    NUM(full_lock_speed, "Full Lock Speed", 10, 1, 1, 100),
    NUM(restricted_lock_speed, "Restricted Lock Speed", 50, 1, 1, 100),
    NUM(restricted_lock, "Restricted Lock Angle", 1, 0.125, 0, 45),
    CHO(arcade, "Arcade Physics", k_no_yes, "Yes"),
    CHO(front_brake, "Front Brake", k_brakes, "Antilock"),
    CHO(rear_brake, "Rear Brake", k_brakes, "Normal"),
    CHO(stop_wheelies, "Stop Wheelies", k_wheelies, "Yes"),
    CHO(auto_shift, "Automatic Shifting", k_no_yes, "Yes"),
    CHO(auto_dab, "Dab When Stopped", k_no_yes, "Yes"),
    CHO(auto_align, "Realign After Fall", k_no_yes, "Yes"),
    CHO(sticky_dab, "Sticky Sit/Dab", k_no_yes, "No"),
    CHO(reverse_steering, "Reversed Steering", k_no_yes, "Yes"),
    CHO(lean_indicator, "Lean Indicator", k_no_yes, "Yes"),
    NUM(auto_clutch_rpms, "Auto Clutch RPMs", 5000, 100, 0, 5000),
    NUM(brake_torque, "Braking Torque (Front)", 500, 10, 0, 500),
    NUM(rear_brake_torque, "Braking Torque (Rear)", 250, 10, 0, 500),
    NUM(max_dab_speed, "Max Dab Speed (MPH)", 60, 1, 5, 60),
    NUM(front_sprocket_adjustment, "Countershaft Sprocket", 0, 1, -2, 2),
    NUM(rear_sprocket_adjustment, "Rear Sprocket", 0, 1, -2, 2),
    NUM(fork_compression_adjustment, "Fork High Speed Compression Damping", 50, 1, 0, 100),
    NUM(fork_slow_compression_adjustment, "Fork Low Speed Compression Damping", 50, 1, 0, 100),
    NUM(fork_rebound_adjustment, "Fork High Speed Rebound Damping", 50, 1, 0, 100),
    NUM(fork_slow_rebound_adjustment, "Fork Low Speed Rebound Damping", 50, 1, 0, 100),
    NUM(fork_spring_rate_adjustment, "Fork Spring Rate", 50, 1, 0, 100),
    NUM(fork_preload_adjustment, "Fork Preload", 50, 1, 0, 100),
    NUM(fork_oil_level_adjustment, "Fork Oil Level", 50, 1, 0, 100),
    NUM(shock_compression_adjustment, "Shock High Speed Compression Damping", 75, 1, 0, 100),
    NUM(shock_slow_compression_adjustment, "Shock Low Speed Compression Damping", 50, 1, 0, 100),
    NUM(shock_rebound_adjustment, "Shock High Speed Rebound Damping", 75, 1, 0, 100),
    NUM(shock_slow_rebound_adjustment, "Shock Low Speed Rebound Damping", 50, 1, 0, 100),
    NUM(shock_spring_rate_adjustment, "Shock Spring Rate", 50, 1, 0, 100),
    NUM(shock_preload_adjustment, "Shock Preload", 50, 1, 0, 100),
    NUM(rider_yspring, "Rider Vertical Spring", 50, 1, 0, 100),
    NUM(rider_ydamping, "Rider Vertical Damping", 50, 1, 0, 100),
    NUM(rider_zspring, "Rider Forward Spring", 50, 1, 0, 100),
    NUM(rider_zdamping, "Rider Forward Damping", 50, 1, 0, 100),
    NUM(rider_mass_distribution, "Rider Mass Distribution", 0.33, 0.01, 0.33, 0.5),
};
enum { FIELD_COUNT = sizeof k_fields / sizeof k_fields[0] };

#undef NUM
#undef CHO
#undef TXT

// The stability preset: each assist at stability 0, 20, 40, 60, 80 and 100.
struct StabilityRow {
    NumberItem *item;
    double points[6];
};

static const StabilityRow k_stability[SETUP_ASSIST_COUNT] = {
    { &g_setup.leveling, { 20, 20, 20, 20, 20, 20 } },
    { &g_setup.roll_damping, { 40, 50, 60, 70, 75, 80 } },
    { &g_setup.roll_limit_angle, { 90, 45, 45, 45, 45, 45 } },
    { &g_setup.roll_limit_factor, { 0, 5, 10, 32, 32, 32 } },
    { &g_setup.steering_damping, { 45, 45, 45, 45, 50, 60 } },
    { &g_setup.steering_strength, { 75, 75, 75, 75, 75, 75 } },
    { &g_setup.direct_steering, { 1, 1, 1, 1, 1, 0.125 } },
    { &g_setup.slow_damping_speed, { 40, 40, 40, 40, 40, 40 } },
    { &g_setup.slow_damping_factor, { 1, 1, 1.5, 2, 2, 2 } },
    { &g_setup.land_damping_falloff, { 0, 0.125, 0.25, 0.25, 0.25, 0.25 } },
    { &g_setup.land_damping_factor, { 1, 1.5, 2, 2, 2, 2 } },
    { &g_setup.max_steering_force, { 400, 400, 400, 400, 400, 400 } },
    { &g_setup.full_lock_speed, { 10, 10, 10, 10, 10, 10 } },
    { &g_setup.restricted_lock_speed, { 50, 50, 50, 50, 50, 50 } },
    { &g_setup.restricted_lock, { 45, 15, 10, 5, 2.5, 1 } },
};

void apply_stability(int level)
{
    double t = level * 5.0 / 100.0;
    if (t < 0)
        t = 0;
    if (t > 5)
        t = 5;
    int i = (int)floor(t);
    if (i > 4)
        i = 4;
    for (const StabilityRow &row : k_stability) {
        double a = row.points[i], b = row.points[i + 1];
        number_set(row.item, a + (b - a) * (t - i));
    }
}

void setup_set_bike_list(const char *const *names, int count)
{
    if (!names || count <= 0) {
        names = k_default_bike_list;
        count = 1;
    }
    char keep[64];
    copy_text(keep, choice_label(&g_setup.bike), 63);
    g_setup.bike.labels = names;
    g_setup.bike.count = count;
    g_setup.bike.chosen = 0;
    if (!choice_set(&g_setup.bike, keep))
        choice_set(&g_setup.bike, k_default_bike);
}

void setup_set_defaults(void)
{
    for (const SetupField &f : k_fields) {
        switch (f.kind) {
        case FIELD_BIKE: {
            ChoiceItem *c = (ChoiceItem *)f.item;
            c->label = f.label;
            if (!c->labels) {
                c->labels = k_default_bike_list;
                c->count = 1;
            }
            c->chosen = 0;
            choice_set(c, k_default_bike);
            break;
        }
        case FIELD_TEXT:
            copy_text((char *)f.item, f.text, f.max_chars);
            break;
        case FIELD_NUMBER: {
            NumberItem *n = (NumberItem *)f.item;
            *n = { f.label, f.value, f.step, f.minimum, f.maximum };
            break;
        }
        case FIELD_CHOICE: {
            ChoiceItem *c = (ChoiceItem *)f.item;
            *c = { f.label, f.choices, f.count, 0 };
            choice_set(c, f.text);
            break;
        }
        }
    }
    apply_stability((int)g_setup.stability.value);
}

bool read_setup_pair(const char *key, const char *value)
{
    if (!key || !value)
        return false;
    for (const SetupField &f : k_fields) {
        if (strcmp(key, f.key) != 0)
            continue;
        switch (f.kind) {
        case FIELD_BIKE: {
            // Names from before model years were part of the name.
            static const char *const legacy[] = { "crf250", "kx250f", "rmz250", "yz250f" };
            char name[64];
            const char *want = value;
            for (const char *old : legacy)
                if (strcmp(value, old) == 0) {
                    snprintf(name, sizeof name, "%s(2008)", old);
                    want = name;
                }
            choice_set(&g_setup.bike, want);
            break;
        }
        case FIELD_TEXT:
            copy_text((char *)f.item, value, f.max_chars);
            break;
        case FIELD_NUMBER:
            // The stored assist values follow "stability" in the block and override it.
            if (number_set_text((NumberItem *)f.item, value) && f.item == &g_setup.stability)
                apply_stability((int)g_setup.stability.value);
            break;
        case FIELD_CHOICE:
            choice_set((ChoiceItem *)f.item, value);
            break;
        }
        return true;
    }
    return false;
}

void write_setup_text(TextBuf *out)
{
    for (const SetupField &f : k_fields) {
        switch (f.kind) {
        case FIELD_BIKE:
        case FIELD_CHOICE:
            textbuf_printf(out, "%s=%s\n", f.key, choice_label((const ChoiceItem *)f.item));
            break;
        case FIELD_TEXT:
            textbuf_printf(out, "%s=%s\n", f.key, (const char *)f.item);
            break;
        case FIELD_NUMBER:
            textbuf_printf(out, "%s=%f\n", f.key, ((const NumberItem *)f.item)->value);
            break;
        }
    }
}

bool write_setup_block(DataFile *f)
{
    if (!f)
        return false;
    TextBuf out = {};
    write_setup_text(&out);
    bool ok = out.length == 0 || data_write(f, out.text, out.length) == out.length;
    textbuf_free(&out);
    return ok;
}

static struct {
    void (*after_read)(void);
    bool changed;
} g_setup_files;

void setup_set_after_read_hook(void (*hook)(void)) { g_setup_files.after_read = hook; }
bool setup_changed(void) { return g_setup_files.changed; }
void setup_clear_changed(void) { g_setup_files.changed = false; }

// A setup file is a plain name in the setups folder: a name holding a folder, or starting
// with a dot ("..", hidden files), could reach any file the game may write.
static bool plain_setup_name(const char *name)
{
    if (!name || !*name)
        return true;                // the caller's "Error ..." covers a missing name
    if (name[0] != '.' && !strpbrk(name, "/\\"))
        return true;
    char text[160];
    snprintf(text, sizeof text, "\"%.64s\" is not a setup name: use a plain name, without folders", name);
    post_message(text);
    return false;
}

// "@setups/" + name; false when the name is empty or too long to be a file of ours.
static bool setup_path(const char *name, char *out, size_t size)
{
    if (!name || !*name)
        return false;
    int n = snprintf(out, size, "@setups/%s", name);
    return n > 0 && (size_t)n < size;
}

bool setup_read_file(const char *name)
{
    if (!plain_setup_name(name))
        return false;
    char path[512];
    DataFile *f = setup_path(name, path, sizeof path) ? open_data_file(path, "r") : nullptr;
    if (!f) {
        post_message("Error reading setup");
        return false;
    }
    char line[1025];
    while (data_gets(f, line, sizeof line)) {
        char *eq = strchr(line, '=');
        if (!eq)
            continue;
        *eq = 0;
        char *value = eq + 1;
        size_t n = strlen(value);
        while (n > 0 && (value[n - 1] == '\n' || value[n - 1] == '\r'))
            value[--n] = 0;
        read_setup_pair(line, value);
    }
    close_data_file(f);
    if (g_setup_files.after_read)
        g_setup_files.after_read();
    post_message("Setup updated");
    g_setup_files.changed = true;
    return true;
}

bool setup_write_file(const char *name)
{
    if (!plain_setup_name(name))
        return false;
    char path[512];
    if (setup_path(name, path, sizeof path)) {
        DataFile *f = begin_replace_file(path);
        if (f && !write_setup_block(f)) {
            abandon_replace_file(f);
            f = nullptr;
        }
        // finish_replace_file closes the stream whether or not it succeeds.
        if (f && finish_replace_file(f)) {
            post_message("Setup written");
            return true;
        }
    }
    post_message("Error writing setup");
    return false;
}
