// The renderer's start-up and shutdown steps, and the loading and title screens.
#pragma once

// Probes the driver and, when shaders are wanted (the "use_shader" setting) and the driver has
// fragment shaders and at least four texture units, builds the shader programs.
void shaders_setup(bool wanted);
// The fonts and the HUD and title pictures, at the model texture detail (0..9) and with the
// "Always" compression setting.
void fonts_and_pictures_load(int verbosity, int texture_detail, bool compress_always);
// The title picture filling the window, the text in the centre and the version text small
// in the lower right corner.
void title_screen_draw(const char *text);
// The loading screen's activity indicator for the tick count.
void activity_indicator_draw(int ticks);
// Shadowed white text centred across the window, y_fraction of its height from the top.
void draw_centered_text(const char *text, float y_fraction);

enum { PICTURE_TACH, PICTURE_SHIFTER, PICTURE_PITBOARD, PICTURE_TITLE, PICTURE_COUNT };
unsigned picture_texture(int which);    // 0 when missing
