// Stand-ins for steps whose subsystems are not in the game yet (see startup_stubs.h).
#include "driver/startup_stubs.h"

#include "driver/config.h"
#include "race/session.h"
#include "terrain/terrain.h"

void build_series_list(void) {}
void free_series_list(void) {}

void hud_draw(void) {}
void results_overlay_draw(void) {}
void renderer_tables_free(void) {}
int camera_for_next_gate(int) { return -1; }
void free_camera_move(double) {}
void free_camera_place_above(BikeState *, float) {}

void script_shutdown(void) {}
void editor_tic(void) {}
bool editor_key(int, int) { return false; }
bool editor_track_modified(void) { return false; }

void free_camera_get(float position[3], float rotation[4], float *fov)
{
    position[0] = position[1] = position[2] = 0;
    rotation[0] = 1;
    rotation[1] = rotation[2] = rotation[3] = 0;
    *fov = (float)g_settings.fov.value;     // the free camera follows the configured one
}
void free_camera_aim(float, float) {}
