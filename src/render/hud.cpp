#include "render/hud.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <GL/gl.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "common/game_data.h"
#include "race/race_rules.h"
#include "race/results.h"
#include "race/session.h"
#include "race/world.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/scenery_draw.h"
#include "render/terrain_render.h"
#include "render/texture.h"
#include "terrain/terrain.h"

static const double k_tic = 0.0078125;
static const float k_mph = 0.6818182f;          // miles per hour in a foot per second

const char *const k_graph_labels[GRAPH_STRIPS] = {
    " Fork Position", " Fork Speed (High)", " Fork Speed (Low)",
    " Swingarm Position", " Shock Speed (High)", " Shock Speed (Low)",
};

static struct {
    SuspensionGraph graph;
    int graph_slot;
    unsigned map;
    char map_name[1100];
    unsigned pitboard, tach, shifter;
    bool pictures_tried;
} g_hud = {};

static float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

// ---- texts

void hud_position_text(char *out, int size, bool practice, int lap, int position)
{
    if (practice)
        snprintf(out, size, "P%d", position);
    else
        snprintf(out, size, "L%d P%d", lap, position);
}

void hud_gap_text(char *out, int size, double seconds)
{
    snprintf(out, size, "%+.1f ", seconds);
}

void hud_lap_text(char *out, int size, const char *label, double seconds, const char *after)
{
    long tenths = seconds > 0 ? (long)(seconds * 10 + 1e-6) : 0;
    snprintf(out, size, "%s%ld:%02ld.%ld%s", label, tenths / 600, tenths / 10 % 60, tenths % 10, after);
}

int hud_panel_lines(const PanelFacts *f, char lines[4][HUD_TEXT])
{
    int n = 0;
    hud_position_text(lines[n++], HUD_TEXT, f->practice, f->completed_laps + 1, f->position);
    hud_gap_text(lines[n++], HUD_TEXT, f->gap);
    if (f->last_lap > 0)
        hud_lap_text(lines[n++], HUD_TEXT, "Last - ", f->last_lap, " ");
    if (f->best_lap > 0)
        hud_lap_text(lines[n++], HUD_TEXT, "Best - ", f->best_lap, "");
    return n;
}

// The gap of `behind` to `ahead` in tics, measured as the results overlay measures it: equal
// positions compare their last passes, otherwise the last position both have passed.
static double gap_tics(const GatePasses *ahead, const GatePasses *behind, int32_t *common_pass)
{
    int k = (ahead->next < behind->next ? ahead->next : behind->next) - 1;
    int32_t ta = gate_pass_time(ahead, k), tb = gate_pass_time(behind, k);
    *common_pass = ta;
    if (k < 0 || ta < 0 || tb < 0)
        return 0;
    return tb - ta > 0 ? tb - ta : 0;
}

bool hud_panel_facts(int slot, bool practice, PanelFacts *out)
{
    memset(out, 0, sizeof *out);
    out->practice = practice;
    const Timing *t = session_timing();
    const GatePasses *p = session_passes(slot);
    if (!t || !p)
        return false;
    out->completed_laps = t->valid ? laps_completed(t, p->next) : 0;
    int count = 0;
    const RunningEntry *order = running_order(&count);
    out->position = 1;
    for (int i = 0; i < count; i++)
        if (order[i].slot == slot) {
            out->position = i + 1;
            if (i > 0)
                if (const GatePasses *a = session_passes(order[i - 1].slot)) {
                    int32_t common;
                    out->gap = gap_tics(a, p, &common) * k_tic;
                }
        }
    if (out->completed_laps > 0)
        out->last_lap = lap_time(slot, out->completed_laps);
    double best = 0;
    if (best_lap(slot, &best) > 0)
        out->best_lap = best;
    return true;
}

bool battle_entry_text(const char *name, double gap, double since, char *out, int size)
{
    if (!(gap > 0) || gap > 3 || since > 15)
        return false;
    snprintf(out, size, " %.5s (%.1f) ", name ? name : "", gap);
    return true;
}

int battle_strip(int slot, char *out, int size)
{
    if (size > 0)
        out[0] = 0;
    const GatePasses *p = session_passes(slot);
    if (!p)
        return 0;
    int count = 0, n = 0, used = 0;
    const RunningEntry *order = running_order(&count);
    for (int i = 0; i < count && order[i].slot != slot; i++) {
        const GatePasses *a = session_passes(order[i].slot);
        const SessionSlot *s = session_slot(order[i].slot);
        if (!a || !s)
            continue;
        int32_t common;
        double gap = gap_tics(a, p, &common) * k_tic;
        char entry[HUD_TEXT];
        if (common < 0 || !battle_entry_text(s->name, gap, (race_tic() - common) * k_tic, entry, sizeof entry))
            continue;
        int w = snprintf(out + used, size > used ? size - used : 0, "%s", entry);
        if (w > 0 && used + w < size)
            used += w;
        n++;
    }
    return n;
}

bool race_title(const char *track, const char *event, int time_limit_tics, int laps, double seconds, char *line1,
                char *line2, int size, float *alpha)
{
    *alpha = clampf((float)(3 - seconds), 0, 1);
    if (!(seconds < 3) || seconds < 0)
        return false;
    if (event && event[0]) {
        snprintf(line1, size, "%s", event);
        line2[0] = 0;
    } else {
        snprintf(line1, size, "%s", track ? track : "");
        race_length_text(line2, size, time_limit_tics, laps);
    }
    return true;
}

// ---- the rev counter

float tach_needle_degrees(float rpm)
{
    float share = clampf((isnan(rpm) ? 0 : rpm) / SK_TACH_MAX_RPM, 0, 1);
    return TACH_ZERO_DEGREES - share * SK_TACH_SWEEP_DEGREES;
}

const char *gear_text(int gear)
{
    static const char *const k_gears[7] = { "N", "1", "2", "3", "4", "5", "6" };
    return k_gears[gear < 0 ? 0 : gear > 5 ? 6 : gear + 1];
}

int speed_mph(float feet_per_second)
{
    float mph = fabsf(feet_per_second) * k_mph;
    return isfinite(mph) && mph < 1e6f ? (int)mph : 0;
}

// ---- the suspension graph

void suspension_readings(const BikeState *bike, float out[GRAPH_STRIPS])
{
    const BikeSuspension &s = bike->suspension;
    const BikeModel *m = bike_catalogue_row(bike);
    float travel = m && m->fork_travel > 0 ? m->fork_travel : 1;
    float arm = m && m->linkage[2] > 0 ? m->linkage[2] : 1;
    // Positions run from fully extended (-1) to fully compressed (+1).
    out[0] = clampf(-s.fork_position / travel * 2 - 1, -1, 1);
    out[1] = clampf(s.fork_speed / 10, -1, 1);
    out[2] = clampf(s.fork_speed / 2, -1, 1);
    out[3] = clampf(-s.swingarm_angle / arm * 2 - 1, -1, 1);
    out[4] = clampf(s.shock_speed / 10, -1, 1);
    out[5] = clampf(s.shock_speed / 2, -1, 1);
    for (int i = 0; i < GRAPH_STRIPS; i++)
        if (isnan(out[i]))
            out[i] = 0;
}

void graph_reset(SuspensionGraph *g)
{
    memset(g, 0, sizeof *g);
    g->last_tic = -1;
}

void graph_push(SuspensionGraph *g, int tic, const float readings[GRAPH_STRIPS])
{
    int tics = g->last_tic < 0 || tic < g->last_tic ? 1 : tic - g->last_tic;
    if (tics > GRAPH_TICS)
        tics = GRAPH_TICS;
    for (int k = 0; k < tics; k++) {
        memcpy(g->values[g->next], readings, sizeof g->values[0]);
        g->next = (g->next + 1) % GRAPH_TICS;
        if (g->count < GRAPH_TICS)
            g->count++;
    }
    g->last_tic = tic;
}

float graph_value(const SuspensionGraph *g, int i, int strip)
{
    if (i < 0 || i >= g->count || strip < 0 || strip >= GRAPH_STRIPS)
        return 0;
    return g->values[(g->next - g->count + i + GRAPH_TICS) % GRAPH_TICS][strip];
}

// ---- the track map

float map_scale_clamp(float scale)
{
    return isnan(scale) ? 1 : clampf(scale, 0.125f, 8);
}

void map_point(float x, float z, float world_size, float left, float top, float size, float *px, float *py)
{
    float w = world_size > 0 ? world_size : 1;
    *px = left + clampf(x / w, 0, 1) * size;
    *py = top + clampf(z / w, 0, 1) * size;
}

void track_map_load(const char *name)
{
    // Kept by name: the texture cache drops it with its session.
    g_hud.map = name ? texture_load(name) : 0;
}

unsigned track_map_texture(void) { return g_hud.map; }

// ---- drawing, in pixels with y up from the lower-left corner

static void quad(float x0, float y0, float x1, float y1, float s0, float t0, float s1, float t1)
{
    glTexCoord2f(s0, t1);
    glVertex2f(x0, y0);
    glTexCoord2f(s1, t1);
    glVertex2f(x1, y0);
    glTexCoord2f(s1, t0);
    glVertex2f(x1, y1);
    glTexCoord2f(s0, t0);
    glVertex2f(x0, y1);
}

static void fill(float x0, float y0, float x1, float y1, float r, float g, float b, float a)
{
    glDisable(GL_TEXTURE_2D);
    glColor4f(r, g, b, a);
    glBegin(GL_QUADS);
    quad(x0, y0, x1, y1, 0, 0, 1, 1);
    glEnd();
}

static void picture(unsigned texture, float x0, float y0, float x1, float y1, float t0, float t1)
{
    if (!texture)
        return;
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glColor4f(1, 1, 1, 1);
    glBegin(GL_QUADS);
    quad(x0, y0, x1, y1, 0, t0, 1, t1);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

// Text `size` pixels tall with its baseline's left end at (x, y).
static void text_at(float x, float y, float size, float r, float g, float b, float a, const char *text,
                    bool shadowed = true)
{
    glPushMatrix();
    glTranslatef(x, y, 0);
    glScalef(size, size, 1);
    if (shadowed)
        text_draw_shadowed(r, g, b, a, text);
    else
        text_draw(r, g, b, a, text);
    glPopMatrix();
}

static void load_pictures(void)
{
    if (g_hud.pictures_tried)
        return;
    g_hud.pictures_tried = true;
    g_hud.pitboard = texture_load("@pitboard.png");
    g_hud.tach = texture_load("@tach.png");
    g_hud.shifter = texture_load("@shifter.png");
}

// The pit board in the lower-left corner: number, position, gap and lap times.
static void rider_panel(const HudInput *in, int h)
{
    float s = 0.6227179f * h * 0.5f;                // the board's width
    float board = s * (0.875f - 0.1875f) * 0.5f;    // its height: the picture's rows in use
    picture(g_hud.pitboard, 0, 0, s, board, 0.1875f, 0.875f);
    if (!g_hud.pitboard)
        fill(0, 0, s, board, 1, 1, 1, 0.85f);
    PanelFacts f;
    hud_panel_facts(in->slot, in->practice, &f);
    const SessionSlot *slot = session_slot(in->slot);
    float unit = board * 0.2f, x = s * 0.08f;
    text_at(x, board * 0.72f, unit * 1.3f, 0, 0, 0, 1, slot ? slot->number : "", false);
    char lines[4][HUD_TEXT], text[4 * HUD_TEXT + 4] = "";
    int n = hud_panel_lines(&f, lines);
    // One batch of text: the lines joined by line feeds.
    for (int i = 0; i < n; i++) {
        strcat(text, lines[i]);
        if (i + 1 < n)
            strcat(text, "\n");
    }
    text_at(s * 0.37109375f, board * 0.72f, unit, 0, 0, 0, 1, text, false);
}

static void battle_bar(const HudInput *in, int w, int h)
{
    char text[512];
    if (battle_strip(in->slot, text, sizeof text) == 0)
        return;
    float size = h / 30.0f;
    glEnable(GL_BLEND);
    fill(0, h - size * 1.4f, (float)w, (float)h, 0, 0.5f, 1, 0.5f);
    text_at(size * 0.3f, h - size * 1.2f, size, 1, 1, 1, 1, text);
}

// Lower right: the dial with its needle, the gear on the shifter, the speed underneath.
static void tach(const HudInput *in, int w, int h)
{
    const RiderSlot *s = rider_slot(in->slot);
    if (!s || !s->bike || !s->bike->built)
        return;
    float size = h * 0.28f, x0 = w - size - h * 0.02f, y0 = h * 0.05f;
    float cx = x0 + size / 2, cy = y0 + size / 2;
    picture(g_hud.tach, x0, y0, x0 + size, y0 + size, 0, 1);
    float a = tach_needle_degrees(bike_engine_rpm(s->bike)) * 3.14159265f / 180;
    float c = cosf(a), sn = sinf(a), len = size * 0.42f, half = size * 0.012f;
    glDisable(GL_TEXTURE_2D);
    glColor4f(1, 0.25f, 0.1f, 1);
    glBegin(GL_TRIANGLES);
    glVertex2f(cx - sn * half, cy + c * half);
    glVertex2f(cx + c * len, cy + sn * len);
    glVertex2f(cx + sn * half, cy - c * half);
    glEnd();
    float box = size * 0.4f, bx = x0 - box * 0.95f, by = y0;
    picture(g_hud.shifter, bx, by, bx + box, by + box, 0, 1);
    const char *gear = gear_text(bike_gear(s->bike));
    float gs = box * 0.5f;
    text_at(bx + (box - text_width(gear) * gs) / 2, by + box * 0.27f, gs, 1, 0.85f, 0.2f, 1, gear);
    char mph[HUD_TEXT];
    const dReal *v = dBodyGetLinearVel(s->bike->body[BODY_FRAME]);
    snprintf(mph, sizeof mph, "%d mph", speed_mph((float)sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2])));
    float ts = h / 28.0f;
    text_at(cx - text_width(mph) * ts / 2, y0 - ts * 0.9f, ts, 1, 1, 1, 1, mph);
}

static void lean_indicator(const HudInput *in, int w, int h)
{
    const RiderSlot *s = rider_slot(in->slot);
    if (!s || !s->bike || !s->bike->built)
        return;
    float bw = w * 0.25f, bh = h * 0.015f, x0 = (w - bw) / 2, y0 = h * 0.03f;
    glEnable(GL_BLEND);
    fill(x0, y0, x0 + bw, y0 + bh, 0, 0, 0, 0.5f);
    // The marker leaves the middle towards the side the bike leans to.
    dVector3 right;
    dBodyVectorToWorld(s->bike->body[BODY_FRAME], 1, 0, 0, right);
    float side = right[1] > 0 ? -1.0f : 1.0f;
    float at = x0 + bw / 2 + side * clampf(s->bike->steer_indicator, 0, 1) * bw / 2;
    fill(x0 + bw / 2 - 1, y0, x0 + bw / 2 + 1, y0 + bh, 1, 1, 1, 0.6f);
    fill(at - bh * 0.4f, y0 - bh * 0.5f, at + bh * 0.4f, y0 + bh * 1.5f, 1, 0.9f, 0.2f, 1);
}

static void suspension_graph(const HudInput *in, int w, int h)
{
    const RiderSlot *s = rider_slot(in->slot);
    if (!s || !s->bike || !s->bike->built)
        return;
    if (g_hud.graph_slot != in->slot) {
        graph_reset(&g_hud.graph);
        g_hud.graph_slot = in->slot;
    }
    float r[GRAPH_STRIPS];
    suspension_readings(s->bike, r);
    graph_push(&g_hud.graph, race_tic(), r);
    float strip = h * 0.06f, gw = w * 0.3f, x0 = w * 0.01f, top = h * 0.8f;
    glEnable(GL_BLEND);
    for (int k = 0; k < GRAPH_STRIPS; k++) {
        float y1 = top - k * strip * 1.1f, y0 = y1 - strip, mid = (y0 + y1) / 2;
        fill(x0, y0, x0 + gw, y1, 0, 0, 0, 0.4f);
        glColor4f(k < 3 ? 0.4f : 1, k < 3 ? 1 : 0.7f, 0.3f, 1);
        glBegin(GL_LINE_STRIP);
        for (int i = 0; i < g_hud.graph.count; i++)
            glVertex2f(x0 + gw * i / (GRAPH_TICS - 1), mid + graph_value(&g_hud.graph, i, k) * strip / 2);
        glEnd();
        text_at(x0, y1 - strip * 0.35f, strip * 0.3f, 1, 1, 1, 1, k_graph_labels[k]);
    }
}

static void track_map(const HudInput *in, int w, int h)
{
    const Terrain *t = session_terrain();
    if (!g_hud.map || !t || !t->heights)
        return;
    float size = h * 0.25f * map_scale_clamp(in->map_scale);
    float left = w - size - h * 0.02f, top = h * 0.02f;    // from the top, y down
    glEnable(GL_BLEND);
    picture(g_hud.map, left, h - top - size, left + size, h - top, 0, 1);
    glPointSize(h / 180.0f + 2);
    glBegin(GL_POINTS);
    for (int pass = 0; pass < 2; pass++)
        for (int i = 0; i < RIDER_SLOTS; i++) {
            const RiderSlot *s = rider_slot(i);
            if (!s || !s->bike || !s->bike->built || (i == in->slot) != (pass == 1))
                continue;
            const dReal *p = dBodyGetPosition(s->bike->body[BODY_FRAME]);
            float px, py;
            map_point((float)p[0], (float)p[2], t->world_size, left, top, size, &px, &py);
            if (pass == 1)
                glColor4f(1, 1, 0, 1);
            else
                glColor4f(1, 0.2f, 0.2f, 1);
            glVertex2f(px, h - py);
        }
    glEnd();
    glPointSize(1);
}

static void title(const HudInput *in, int w, int h)
{
    char l1[HUD_TEXT * 2], l2[HUD_TEXT];
    float alpha;
    if (!race_title(in->track_name, in->series_event, session_time_limit(), session_laps(), race_tic() * k_tic, l1, l2,
                    HUD_TEXT, &alpha))
        return;
    float size = h / 14.0f;
    text_at((w - text_width(l1) * size) / 2, h * 0.7f, size, 1, 1, 1, alpha, l1);
    text_at((w - text_width(l2) * size * 0.6f) / 2, h * 0.7f - size, size * 0.6f, 1, 1, 1, alpha, l2);
}

int render_stats_lines(char lines[8][HUD_TEXT])
{
    TerrainRenderStats t;
    terrain_render_stats(&t);
    static int max_shader;
    int shader = shader_switch_count();
    if (shader > max_shader)
        max_shader = shader;
    int n = 0;
    SceneryDrawStats sc;
    scenery_draw_stats(&sc);
    static int max_binds;
    if (sc.binds > max_binds)
        max_binds = sc.binds;
    snprintf(lines[n++], HUD_TEXT, "Billboards - %d max=%d", sc.billboards, sc.billboards_max);
    snprintf(lines[n++], HUD_TEXT, "Decals - %d max=%d", 0, 0);
    snprintf(lines[n++], HUD_TEXT, "Texture Changes - %d max=%d", sc.binds, max_binds);
    snprintf(lines[n++], HUD_TEXT, "Shader Changes - %d max=%d", shader, max_shader);
    snprintf(lines[n++], HUD_TEXT, "Terrain texture age - %d", t.texture_age);
    snprintf(lines[n++], HUD_TEXT, "Reshades pending - %d", t.reshades_pending);
    snprintf(lines[n++], HUD_TEXT, "Erode buffered - %d", 0);
    return n;
}

// The HUD text lines down the left side, under the message lines.
static void text_lines(const HudInput *in, int h)
{
    char lines[16][HUD_TEXT];
    int n = 0;
    if (in->draw_fps)
        snprintf(lines[n++], HUD_TEXT, "FPS - %d", in->longest_step > 0 ? (int)(1 / in->longest_step) : 0);
    if (in->draw_time) {
        int t = race_tic() - gate_drop_tic();
        hud_lap_text(lines[n++], HUD_TEXT, "Time - ", t > 0 ? t * k_tic : 0, " ");
    }
    if (in->draw_ping && in->ping_shown)
        snprintf(lines[n++], HUD_TEXT, "Ping - %dms (%dms offset)", in->ping_ms, in->ping_offset_ms);
    const RiderSlot *s = rider_slot(in->slot);
    if (in->draw_speed && s && s->bike && s->bike->built) {
        const dReal *v = dBodyGetLinearVel(s->bike->body[BODY_FRAME]);
        snprintf(lines[n++], HUD_TEXT, "Speed - %.2f", sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) * k_mph);
    }
    if (in->render_stats)
        n += render_stats_lines(lines + n);
    if (s && s->bike && s->bike->sticky_dab && s->bike->foot_down > 0)
        snprintf(lines[n++], HUD_TEXT, "Dabbing!");
    float size = h / 36.0f;
    for (int i = 0; i < n; i++)
        text_at(size * 0.5f, h * 0.66f - i * size * 1.1f, size, 1, 1, 1, 1, lines[i]);
}

void hud_draw_view(const HudInput *in)
{
    GLint view[4] = { 0, 0, 0, 0 };
    glGetIntegerv(GL_VIEWPORT, view);
    int w = view[2], h = view[3];
    if (w <= 0 || h <= 0)
        return;
    load_pictures();
    shader_use(SHADER_FIXED);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, w, 0, h, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    if (in->suspension_graph)
        suspension_graph(in, w, h);
    track_map(in, w, h);
    rider_panel(in, h);
    battle_bar(in, w, h);
    tach(in, w, h);
    if (in->lean_indicator)
        lean_indicator(in, w, h);
    title(in, w, h);
    text_lines(in, h);
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_CULL_FACE);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void hud_reset_for_tests(void)
{
    graph_reset(&g_hud.graph);
    g_hud.map = 0;
}
