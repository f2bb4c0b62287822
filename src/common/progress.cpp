#include "common/progress.h"

#include <stdio.h>
#include <string.h>

#include "platform/clock.h"
#include "platform/log.h"

static const double k_dots_interval = 0.125;
static const double k_tick_interval = 0.0625;

static struct {
    bool have_previous;
    double previous_time;           // of the previous progress_message
    char previous_text[80];
    double max_delay;
    char max_cause[80];
    char shown[256];
    bool dots_shown_once;
    double dots_time;
    int dots_step;
    int ticks;
    bool tick_drawn_once;
    double tick_time;
    int frames;
} g_progress;

static ProgressHooks g_hooks;

static void present(const char *text, int ticks, bool indicator)
{
    if (g_hooks.present && g_hooks.present(text, ticks, indicator))
        g_progress.frames++;
}

static void drain_events(void)
{
    if (g_hooks.drain_events)
        g_hooks.drain_events();
}

void progress_set_hooks(const ProgressHooks *hooks)
{
    g_hooks = hooks ? *hooks : ProgressHooks{};
}

void progress_message(const char *text)
{
    if (!text)
        text = "";
    drain_events();
    if (g_hooks.clear_controls)
        g_hooks.clear_controls();
    double now = clock_seconds();
    if (g_progress.have_previous) {
        double gap = now - g_progress.previous_time;
        if (gap > g_progress.max_delay) {
            g_progress.max_delay = gap;
            snprintf(g_progress.max_cause, sizeof g_progress.max_cause, "%s", g_progress.previous_text);
        }
    }
    g_progress.have_previous = true;
    g_progress.previous_time = now;
    snprintf(g_progress.previous_text, sizeof g_progress.previous_text, "%s", text);
    snprintf(g_progress.shown, sizeof g_progress.shown, "%s", text);
    present(text, 0, false);
}

void progress_log(const char *text)
{
    if (!text)
        text = "";
    progress_message(text);
    if (text[0])
        log_printf("%s\n", text);
    g_progress.dots_step = 0;
    g_progress.dots_shown_once = false;
}

void progress_dots(const char *text)
{
    static const char *const k_suffix[4] = { "", ".", "..", "..." };
    double now = clock_seconds();
    if (g_progress.dots_shown_once && now - g_progress.dots_time < k_dots_interval)
        return;
    g_progress.dots_shown_once = true;
    g_progress.dots_time = now;
    char line[80];
    snprintf(line, sizeof line, "%.64s%s", text ? text : "", k_suffix[g_progress.dots_step]);
    g_progress.dots_step = (g_progress.dots_step + 1) % 4;
    progress_message(line);
}

void progress_done(const char *text)
{
    char line[80];
    snprintf(line, sizeof line, "%.64s...done", text ? text : "");
    progress_message(line);
}

void progress_tick(void)
{
    g_progress.ticks++;
    drain_events();
    double now = clock_seconds();
    if (g_progress.tick_drawn_once && now - g_progress.tick_time < k_tick_interval)
        return;
    g_progress.tick_drawn_once = true;
    g_progress.tick_time = now;
    present(g_progress.shown, g_progress.ticks, true);
}

double progress_max_delay(const char **cause)
{
    if (cause)
        *cause = g_progress.max_cause;
    return g_progress.max_delay;
}

void progress_reset_max_delay(void)
{
    g_progress.max_delay = 0;
    g_progress.max_cause[0] = 0;
}

const char *progress_shown_text(void)
{
    return g_progress.shown;
}

int progress_tick_count(void)
{
    return g_progress.ticks;
}

int progress_presented_frames(void)
{
    return g_progress.frames;
}

void progress_reset_for_tests(void)
{
    memset(&g_progress, 0, sizeof g_progress);
}
