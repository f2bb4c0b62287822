// Immediate-mode menu widgets. A screen is a function that declares its items in order each
// time it runs; one run is one pass: laying the items out (and drawing them), or handing one
// key, click or drag to the item it belongs to. Every pass lays the items out again, so each
// item knows the pixel rectangle it is drawn in and the mouse is matched against it.
#pragma once
#include "common/items.h"

enum WidgetPass {
    PASS_LAYOUT,        // rectangles only
    PASS_DRAW,          // rectangles, and the items drawn
    PASS_KEY,           // one key to the target item
    PASS_CLICK,         // a cursor-left click at (x, y) on the target item
    PASS_DRAG,          // the cursor moved to (x, y) with the button held on the target's slider
};

enum WidgetKind { WIDGET_BUTTON, WIDGET_CHOICE, WIDGET_NUMBER, WIDGET_TEXT, WIDGET_BINDING };

// What an item did in a pass.
enum WidgetResult { WIDGET_IDLE = 0, WIDGET_CHANGED = 1, WIDGET_ACTIVATED = 2 };

enum {
    WIDGET_MAX_ITEMS = 80,
    TYPE_AHEAD_MAX = 255,           // characters
};

struct WidgetRect {
    float left, top, right, bottom; // pixels, y down from the window's top
};

struct WidgetItem {
    int kind;
    const char *label;              // as given in the pass; valid until the screen changes
    bool hidden;                    // not shown: up and down skip it, the mouse never finds it
    WidgetRect rect;                // the item's line
    WidgetRect slider;              // number items: the slider's track
};

// Resolves the keys the widgets answer to ("enter", "keypad enter", "space", "left", "right",
// "tab", "backspace"); again whenever the key names may have changed.
void widgets_init(void);
// The window's drawable size in pixels.
void widgets_set_window(int width, int height);

// Starts a pass. target: the item index the key, click or drag is for (the highlighted item
// for drawing). units: the width of the 4:3 layout area in line heights. key: a platform key
// code or a typed character (PASS_KEY); x, y: the cursor in pixels (PASS_CLICK, PASS_DRAG).
// Drawing needs a current GL context; can_draw false lays out only.
void widgets_begin(int pass, int target, float units, int key, float x, float y, bool can_draw);
// Ends the pass; returns the number of items declared.
int  widgets_end(void);
// The items of the last pass; null outside them.
const WidgetItem *widget_item(int index);
int  widget_count(void);
// The item whose rectangle holds the point in the last pass; -1 when none.
int  widget_at(float x, float y);

// The next item goes to this column and line (line heights from the area's top-left) and is
// width wide; later items follow one line below in the same column.
void widget_place(float column, float line, float width);
float widget_unit(void);            // one line height in pixels

// The items. Each returns what it did in this pass.
// Button: "enter", "keypad enter", space or a click activate it.
int  widget_button(const char *label);
// Choice: enter, space, "right" or a click go to the next label, "left" to the previous one
// (both wrap around); printable characters type ahead and Tab finds the next match. With
// chooser, enter, space and a click activate the item instead of moving on.
int  widget_choice(ChoiceItem *c, bool chooser);
// Number: "left" and "right" step (clamped); a click or drag on the slider sets the value
// from the cursor, rounded to whole steps from the minimum. value_text null: the value with
// as many decimals as the step needs.
int  widget_number(NumberItem *n, const char *value_text);
// Text field: "left"/"right" move the cursor, Backspace deletes before it, printable
// characters are inserted while the text is shorter than max_chars.
int  widget_text(const char *label, char *text, int max_chars);
// Binding: enter, "keypad enter" or a click activate it (the capture starts).
int  widget_binding(const char *label, const char *value);
// The key the item declared last was given in this pass; -1 when the pass was not a key for it.
int  widget_last_key(void);
// An item slot that is not shown (a paging button on the first or last page).
void widget_hidden(void);

// Lines that are not items: the title, and text at a line of the area (alpha for fading).
void widget_title(const char *text);
void widget_note(float column, float line, float size, float alpha, const char *text);

// The type-ahead text of the choice it belongs to; "" when none.
const char *widget_type_ahead(void);
// Forgets the type-ahead text and the text cursor (another screen was opened).
void widget_forget_input(void);

// Pure helpers, for the screens and the tests.
// The value a slider gives at fraction f (0 left end, 1 right end) of its track.
double slider_value(const NumberItem *n, double fraction);
// The choice a type-ahead text selects: from start on, wrapping, the first label that
// contains text ignoring case; -1 when none. Empty text matches every label.
int  choice_matching(const ChoiceItem *c, const char *text, int start);
// The value with the decimals its step needs ("%.0f" for whole steps).
void format_number(const NumberItem *n, char *out, int size);
