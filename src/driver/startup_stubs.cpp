// Stand-ins for steps whose subsystems are not in the game yet (see startup_stubs.h).
#include "driver/startup_stubs.h"

#include "driver/config.h"
#include "race/session.h"
#include "terrain/terrain.h"

void build_series_list(void) {}
void free_series_list(void) {}

void results_overlay_draw(void) {}

void script_shutdown(void) {}
void editor_tic(void) {}
bool editor_key(int, int) { return false; }
bool editor_track_modified(void) { return false; }
