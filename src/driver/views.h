// The views of the main loop: which camera each view takes (the rider's eyes, the chase
// camera, the trackside and free cameras, the keyframed camera), the frame drawn from it and
// the HUD over it.
#pragma once

// Takes the settings and installs the frame's hooks (start-up, after the window opened).
void views_init(void);
// Draws the world for a view (ViewMode).
void render_view(int view);
// The HUD of the rider and chase views.
void hud_draw(void);
// The viewed rider's name near the bottom of the camera view (automatic switching).
void camera_view_name_draw(void);
// The main loop's shading step: the error pass and the low-detail textures.
void terrain_update_shading(int budget);
