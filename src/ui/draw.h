// The menus' drawing over the window: pixel coordinates with y down from the top-left, as the
// cursor reports them. Nothing here draws without a current GL context.
#pragma once

// Sets up a pixel projection over the viewport (the old matrices and state are kept); false
// when there is no GL context or no viewport. The size comes back in pixels.
bool ui_begin_2d(int *width, int *height);
void ui_end_2d(void);

// A filled rectangle.
void ui_fill(float left, float top, float right, float bottom, float r, float g, float b, float a);
// Text size pixels tall with its top-left corner at (x, y); shadowed text has a dark copy
// beneath. Colour escapes in the text apply.
void ui_text(float x, float y, float size, float r, float g, float b, float a, const char *text, bool shadowed);
// The same, ending at x.
void ui_text_right(float x, float y, float size, float r, float g, float b, float a, const char *text);
// Width of the text in pixels at this size.
float ui_text_width(const char *text, float size);
