// Stand-ins for steps whose subsystems are not in the game yet (see startup_stubs.h).
#include "driver/startup_stubs.h"

void build_series_list(void) {}
void free_series_list(void) {}

void set_projection(int, int, float) {}
void render_view(int) {}
void hud_draw(void) {}
void results_overlay_draw(void) {}
void terrain_update_shading(int) {}
void renderer_tables_free(void) {}
void models_delete_all(void) {}
int camera_for_next_gate(int) { return -1; }
void free_camera_move(double) {}
void free_camera_place_above(BikeState *, float) {}

void script_shutdown(void) {}
void menu_draw(int) {}
void menu_key(int, int, int) {}
void menu_mouse(float, float, bool) {}
void editor_tic(void) {}
bool editor_key(int, int) { return false; }
