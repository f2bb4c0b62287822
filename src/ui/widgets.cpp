#include "ui/widgets.h"

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "platform/input.h"
#include "ui/draw.h"

// Where an item's parts sit along its line, as fractions of its width.
static const float k_value_at = 0.55f;          // choice and text values, the slider's left end
static const float k_slider_end = 0.78f;        // the slider's right end; the number follows
static const float k_text_size = 0.8f;          // glyph height in line heights

enum { KEY_ENTER, KEY_PAD_ENTER, KEY_SPACE, KEY_LEFT, KEY_RIGHT, KEY_TAB, KEY_BACKSPACE, KEY_COUNT };
static const char *const k_key_names[KEY_COUNT] = { "enter", "keypad enter", "space", "left", "right", "tab",
                                                    "backspace" };

static struct {
    int keys[KEY_COUNT];
    int window_w, window_h;
    // The pass.
    int pass;
    int target;
    int key;
    float x, y;
    bool draw;
    float units;
    float area_left, area_top, unit;
    float column, line, width;      // where the next item goes, in line heights
    int count;
    int last_key;
    WidgetItem items[WIDGET_MAX_ITEMS];
    // Input that lives across passes.
    char type_ahead[TYPE_AHEAD_MAX + 1];
    int type_ahead_item;            // -1 none
    int cursor;                     // text field cursor, characters from the start
    int cursor_item;                // -1: the next key puts the cursor at the text's end
} g_widgets = {};

void widgets_init(void)
{
    for (int i = 0; i < KEY_COUNT; i++)
        g_widgets.keys[i] = key_code(k_key_names[i]);
    g_widgets.type_ahead_item = -1;
    g_widgets.cursor_item = -1;
}

void widgets_set_window(int width, int height)
{
    g_widgets.window_w = width;
    g_widgets.window_h = height;
}

static bool is_key(int key, int which)
{
    return key >= 0 && key == g_widgets.keys[which];
}

static bool is_enter(int key)
{
    return is_key(key, KEY_ENTER) || is_key(key, KEY_PAD_ENTER);
}

// Typed characters arrive as their own codes below 256; the font shows ASCII.
static bool is_printable(int key)
{
    return key >= 32 && key < 127;
}

void widgets_begin(int pass, int target, float units, int key, float x, float y, bool can_draw)
{
    g_widgets.pass = pass;
    g_widgets.target = target;
    g_widgets.key = key;
    g_widgets.x = x;
    g_widgets.y = y;
    g_widgets.draw = pass == PASS_DRAW && can_draw;
    g_widgets.count = 0;
    g_widgets.last_key = -1;
    float w = (float)(g_widgets.window_w > 0 ? g_widgets.window_w : 640);
    float h = (float)(g_widgets.window_h > 0 ? g_widgets.window_h : 480);
    // The widest 4:3 area the window holds, centred.
    float area_w = w * 3 <= h * 4 ? w : h * 4 / 3;
    float area_h = area_w * 3 / 4;
    g_widgets.area_left = (w - area_w) * 0.5f;
    g_widgets.area_top = (h - area_h) * 0.5f;
    g_widgets.units = units > 0 ? units : 32;
    g_widgets.unit = area_w / g_widgets.units;
    g_widgets.column = 1;
    g_widgets.line = 3;
    g_widgets.width = g_widgets.units - 2;
}

int widgets_end(void)
{
    return g_widgets.count;
}

const WidgetItem *widget_item(int index)
{
    return index >= 0 && index < g_widgets.count ? &g_widgets.items[index] : nullptr;
}

int widget_count(void)
{
    return g_widgets.count;
}

int widget_at(float x, float y)
{
    for (int i = 0; i < g_widgets.count; i++) {
        const WidgetItem &it = g_widgets.items[i];
        if (!it.hidden && x >= it.rect.left && x < it.rect.right && y >= it.rect.top && y < it.rect.bottom)
            return i;
    }
    return -1;
}

void widget_place(float column, float line, float width)
{
    g_widgets.column = column;
    g_widgets.line = line;
    g_widgets.width = width;
}

float widget_unit(void)
{
    return g_widgets.unit;
}

const char *widget_type_ahead(void)
{
    return g_widgets.type_ahead;
}

void widget_forget_input(void)
{
    g_widgets.type_ahead[0] = 0;
    g_widgets.type_ahead_item = -1;
    g_widgets.cursor_item = -1;
}

// ---- pure helpers

double slider_value(const NumberItem *n, double fraction)
{
    if (!(fraction >= 0))
        fraction = 0;
    if (fraction > 1)
        fraction = 1;
    double v = n->minimum + fraction * (n->maximum - n->minimum);
    if (n->step > 0)
        v = n->minimum + floor((v - n->minimum) / n->step + 0.5) * n->step;
    if (v > n->maximum)
        v = n->maximum;
    if (v < n->minimum)
        v = n->minimum;
    return v;
}

static bool contains_ignoring_case(const char *label, const char *text)
{
    if (!*text)
        return true;
    for (const char *s = label; *s; s++) {
        size_t i = 0;
        while (text[i] && s[i] && tolower((unsigned char)s[i]) == tolower((unsigned char)text[i]))
            i++;
        if (!text[i])
            return true;
    }
    return false;
}

int choice_matching(const ChoiceItem *c, const char *text, int start)
{
    if (!c || !c->labels || c->count <= 0)
        return -1;
    for (int k = 0; k < c->count; k++) {
        int i = (((start + k) % c->count) + c->count) % c->count;
        if (c->labels[i] && contains_ignoring_case(c->labels[i], text ? text : ""))
            return i;
    }
    return -1;
}

void format_number(const NumberItem *n, char *out, int size)
{
    int decimals = 0;
    for (double step = n->step; decimals < 6 && step > 0 && fabs(step - floor(step + 1e-9)) > 1e-9; step *= 10)
        decimals++;
    snprintf(out, (size_t)size, "%.*f", decimals, n->value);
}

// ---- layout and drawing

static WidgetItem *next_item(int kind, const char *label)
{
    if (g_widgets.count >= WIDGET_MAX_ITEMS)
        return nullptr;
    WidgetItem *it = &g_widgets.items[g_widgets.count];
    it->kind = kind;
    it->label = label;
    it->hidden = false;
    float u = g_widgets.unit;
    it->rect.left = g_widgets.area_left + g_widgets.column * u;
    it->rect.right = it->rect.left + g_widgets.width * u;
    it->rect.top = g_widgets.area_top + g_widgets.line * u;
    it->rect.bottom = it->rect.top + u;
    float w = it->rect.right - it->rect.left;
    it->slider = { it->rect.left + k_value_at * w, it->rect.top, it->rect.left + k_slider_end * w, it->rect.bottom };
    g_widgets.line += 1;
    return it;
}

// The index of the item just laid out; true when this pass is for it.
static bool targeted(void)
{
    return g_widgets.count == g_widgets.target && g_widgets.pass >= PASS_KEY;
}

static float text_size(void)
{
    return g_widgets.unit * k_text_size;
}

static float text_top(const WidgetItem *it)
{
    return it->rect.top + g_widgets.unit * (1 - k_text_size) * 0.5f;
}

static void draw_line(const WidgetItem *it, const char *label, const char *value, bool value_right)
{
    if (!g_widgets.draw)
        return;
    bool lit = g_widgets.count == g_widgets.target;
    if (lit)
        ui_fill(it->rect.left, it->rect.top, it->rect.right, it->rect.bottom, 1, 1, 1, 0.18f);
    float r = 1, g = 1, b = lit ? 0.35f : 1;
    float size = text_size(), top = text_top(it), pad = g_widgets.unit * 0.25f;
    ui_text(it->rect.left + pad, top, size, r, g, b, 1, label, true);
    if (!value || !*value)
        return;
    if (value_right)
        ui_text_right(it->rect.right - pad, top, size, r, g, b, 1, value);
    else
        ui_text(it->slider.left, top, size, r, g, b, 1, value, true);
}

static int finish(int result)
{
    g_widgets.last_key = targeted() && g_widgets.pass == PASS_KEY ? g_widgets.key : -1;
    g_widgets.count++;
    return result;
}

int widget_last_key(void)
{
    return g_widgets.last_key;
}

int widget_button(const char *label)
{
    WidgetItem *it = next_item(WIDGET_BUTTON, label);
    if (!it)
        return WIDGET_IDLE;
    draw_line(it, label, nullptr, false);
    int result = WIDGET_IDLE;
    if (targeted()) {
        int key = g_widgets.key;
        if (g_widgets.pass == PASS_CLICK || (g_widgets.pass == PASS_KEY && (is_enter(key) || is_key(key, KEY_SPACE))))
            result = WIDGET_ACTIVATED;
    }
    return finish(result);
}

static void type_ahead_owned_by(int item)
{
    if (g_widgets.type_ahead_item != item) {
        g_widgets.type_ahead[0] = 0;
        g_widgets.type_ahead_item = item;
    }
}

static int step_choice(ChoiceItem *c, int by)
{
    if (c->count <= 0)
        return WIDGET_IDLE;
    int was = c->chosen;
    c->chosen = (((c->chosen + by) % c->count) + c->count) % c->count;
    return c->chosen != was ? WIDGET_CHANGED : WIDGET_IDLE;
}

static int choice_key(ChoiceItem *c, bool chooser, int key)
{
    int item = g_widgets.count;
    type_ahead_owned_by(item);
    char *text = g_widgets.type_ahead;
    if (is_key(key, KEY_BACKSPACE)) {
        text[0] = 0;
        return WIDGET_IDLE;
    }
    if (is_enter(key) || is_key(key, KEY_SPACE))
        return chooser ? WIDGET_ACTIVATED : step_choice(c, 1);
    if (is_key(key, KEY_RIGHT))
        return step_choice(c, 1);
    if (is_key(key, KEY_LEFT))
        return step_choice(c, -1);
    if (is_key(key, KEY_TAB)) {
        int found = choice_matching(c, text, c->chosen + 1);
        if (found < 0 || found == c->chosen)
            return WIDGET_IDLE;
        c->chosen = found;
        return WIDGET_CHANGED;
    }
    // The space bar moves on (above); its typed character is no part of a search.
    if (!is_printable(key) || key == ' ')
        return WIDGET_IDLE;
    size_t n = strlen(text);
    if (n >= TYPE_AHEAD_MAX)
        return WIDGET_IDLE;
    text[n] = (char)key;
    text[n + 1] = 0;
    int found = choice_matching(c, text, c->chosen);
    if (found < 0) {
        text[n] = 0;            // nothing matches: the character is dropped again
        return WIDGET_IDLE;
    }
    if (found == c->chosen)
        return WIDGET_IDLE;
    c->chosen = found;
    return WIDGET_CHANGED;
}

int widget_choice(ChoiceItem *c, bool chooser)
{
    WidgetItem *it = next_item(WIDGET_CHOICE, c->label);
    if (!it)
        return WIDGET_IDLE;
    draw_line(it, c->label, choice_label(c), false);
    int result = WIDGET_IDLE;
    if (targeted()) {
        if (g_widgets.pass == PASS_CLICK) {
            type_ahead_owned_by(g_widgets.count);
            result = chooser ? WIDGET_ACTIVATED : step_choice(c, 1);
        } else if (g_widgets.pass == PASS_KEY) {
            result = choice_key(c, chooser, g_widgets.key);
        }
    }
    return finish(result);
}

static int set_number(NumberItem *n, double v)
{
    double was = n->value;
    number_set(n, v);
    return n->value != was ? WIDGET_CHANGED : WIDGET_IDLE;
}

int widget_number(NumberItem *n, const char *value_text)
{
    WidgetItem *it = next_item(WIDGET_NUMBER, n->label);
    if (!it)
        return WIDGET_IDLE;
    char shown[64];
    if (value_text)
        snprintf(shown, sizeof shown, "%s", value_text);
    else
        format_number(n, shown, sizeof shown);
    if (g_widgets.draw) {
        draw_line(it, n->label, shown, true);
        const WidgetRect &s = it->slider;
        float mid = (s.top + s.bottom) * 0.5f, u = g_widgets.unit;
        ui_fill(s.left, mid - u * 0.06f, s.right, mid + u * 0.06f, 1, 1, 1, 0.5f);
        double range = n->maximum - n->minimum;
        float f = range > 0 ? (float)((n->value - n->minimum) / range) : 0;
        float x = s.left + f * (s.right - s.left);
        ui_fill(x - u * 0.12f, s.top + u * 0.15f, x + u * 0.12f, s.bottom - u * 0.15f, 1, 0.8f, 0.2f, 1);
    }
    int result = WIDGET_IDLE;
    if (targeted()) {
        const WidgetRect &s = it->slider;
        int key = g_widgets.key;
        if (g_widgets.pass == PASS_KEY && is_key(key, KEY_LEFT))
            result = set_number(n, n->value - n->step);
        else if (g_widgets.pass == PASS_KEY && is_key(key, KEY_RIGHT))
            result = set_number(n, n->value + n->step);
        else if ((g_widgets.pass == PASS_CLICK && g_widgets.x >= s.left && g_widgets.x <= s.right) ||
                 g_widgets.pass == PASS_DRAG)
            result = set_number(n, slider_value(n, (g_widgets.x - s.left) / (s.right - s.left)));
    }
    return finish(result);
}

static int text_key(char *text, int max_chars, int key)
{
    int item = g_widgets.count;
    int n = (int)strlen(text);
    if (g_widgets.cursor_item != item) {
        g_widgets.cursor_item = item;
        g_widgets.cursor = n;
    }
    int &at = g_widgets.cursor;
    if (at > n)
        at = n;
    if (is_key(key, KEY_LEFT)) {
        if (at > 0)
            at--;
        return WIDGET_IDLE;
    }
    if (is_key(key, KEY_RIGHT)) {
        if (at < n)
            at++;
        return WIDGET_IDLE;
    }
    if (is_key(key, KEY_BACKSPACE)) {
        if (at == 0)
            return WIDGET_IDLE;
        memmove(text + at - 1, text + at, (size_t)(n - at + 1));
        at--;
        return WIDGET_CHANGED;
    }
    if (!is_printable(key) || n >= max_chars)
        return WIDGET_IDLE;
    memmove(text + at + 1, text + at, (size_t)(n - at + 1));
    text[at++] = (char)key;
    return WIDGET_CHANGED;
}

int widget_text(const char *label, char *text, int max_chars)
{
    WidgetItem *it = next_item(WIDGET_TEXT, label);
    if (!it)
        return WIDGET_IDLE;
    bool editing = g_widgets.count == g_widgets.target;
    if (g_widgets.draw) {
        draw_line(it, label, text, false);
        if (editing) {
            int n = (int)strlen(text);
            int at = g_widgets.cursor_item == g_widgets.count && g_widgets.cursor <= n ? g_widgets.cursor : n;
            char before[1024];
            snprintf(before, sizeof before, "%.*s", at, text);
            float x = it->slider.left + ui_text_width(before, text_size());
            ui_fill(x, text_top(it), x + g_widgets.unit * 0.08f, text_top(it) + text_size(), 1, 1, 0.35f, 1);
        }
    }
    int result = WIDGET_IDLE;
    if (targeted() && g_widgets.pass == PASS_KEY)
        result = text_key(text, max_chars, g_widgets.key);
    return finish(result);
}

int widget_binding(const char *label, const char *value)
{
    WidgetItem *it = next_item(WIDGET_BINDING, label);
    if (!it)
        return WIDGET_IDLE;
    draw_line(it, label, value, false);
    int result = WIDGET_IDLE;
    if (targeted() && (g_widgets.pass == PASS_CLICK || (g_widgets.pass == PASS_KEY && is_enter(g_widgets.key))))
        result = WIDGET_ACTIVATED;
    return finish(result);
}

void widget_hidden(void)
{
    WidgetItem *it = next_item(WIDGET_BUTTON, nullptr);
    if (!it)
        return;
    it->hidden = true;
    it->rect = it->slider = { 0, 0, 0, 0 };
    finish(WIDGET_IDLE);
}

void widget_title(const char *text)
{
    if (!g_widgets.draw || !text)
        return;
    float size = g_widgets.unit * 1.2f;
    float w = ui_text_width(text, size);
    float centre = g_widgets.area_left + g_widgets.unit * g_widgets.units * 0.5f;
    ui_text(centre - w * 0.5f, g_widgets.area_top + g_widgets.unit * 0.8f, size, 1, 1, 1, 1, text, true);
}

void widget_note(float column, float line, float size, float alpha, const char *text)
{
    if (!g_widgets.draw || !text || alpha <= 0)
        return;
    float u = g_widgets.unit;
    ui_text(g_widgets.area_left + column * u, g_widgets.area_top + line * u, u * size, 1, 1, 1, alpha, text, true);
}
