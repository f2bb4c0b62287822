#include "driver/loading.h"

#include <GL/gl.h>

#include "common/progress.h"
#include "driver/bindings.h"
#include "driver/loop.h"
#include "platform/window.h"
#include "render/screens.h"
#include "terrain/terrain.h"

// One loading-screen frame; skipped while there is no drawable.
static bool present(const char *text, int ticks, bool indicator)
{
    int w, h;
    if (!window_is_open() || !begin_frame(&w, &h))
        return false;
    glViewport(0, 0, w, h);
    glClearColor(50 / 255.0f, 153 / 255.0f, 204 / 255.0f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    title_screen_draw(text);
    if (indicator)
        activity_indicator_draw(ticks);
    end_frame();
    return true;
}

void loading_screen_install(void)
{
    static const ProgressHooks k_hooks = { loop_drain_events, bindings_clear_values, present };
    static const TerrainProgress k_terrain_progress = { progress_log, progress_dots, progress_done };
    progress_set_hooks(&k_hooks);
    terrain_set_progress(&k_terrain_progress);
}
