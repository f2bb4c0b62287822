// The menu screens: each one's items in order, and what activating or changing them does.
// The menus (ui/menus.h) run a screen once per pass of the widgets.
#pragma once

// Declares the screen's items for the current widget pass and acts on what they did.
void  screen_run(int screen);
// The width of the screen's 4:3 layout area in line heights.
float screen_units(int screen);
// Game controllers' "back": the screen's way back (its first item), or false when the
// menu should close instead.
bool  screen_back(int screen);

// The list chooser (screen 2) over one list, returning to the screen that opened it.
enum ChooserList {
    CHOOSE_TRACK, CHOOSE_BIKE, CHOOSE_RIDING_GEAR, CHOOSE_HELMET, CHOOSE_BIKE_GRAPHICS,
    CHOOSE_WHEEL_GRAPHICS, CHOOSER_LIST_COUNT,
};
enum { CHOOSER_PAGE = 20 };
void  chooser_open(int list, int return_screen);
int   chooser_list(void);
int   chooser_page(void);
// Names per page for paged screens; also the playback and series lists.
int   page_count(int names);

// The track the New Race and Time Trial screens start on: the selected or loaded one.
void  screens_sync_track(void);
// The names the Track choice offers; rebuilt from the track list.
void  screens_init(void);
void  screens_free(void);
// New Race's "Start" and Time Trial's "Start" (also for the tests).
bool  start_new_race(void);
bool  start_time_trial(void);
// The 40 gate choices as requests, rotated by slots (0..159 slots, either way), written back.
void  rotate_gate_choices(int slots);
