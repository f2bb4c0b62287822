// The menus: the open screen and its highlighted item, drawn immediate-mode over the game every
// frame and driven by keys, the mouse and game controllers; the console screen; the newest
// messages shown over the game. Settings changed here are the configuration's items.
#pragma once

enum MenuScreen {
    MENU_NONE = -1,
    MENU_MAIN = 0,
    MENU_NEW_RACE = 1,
    MENU_CHOOSER = 2,
    MENU_PLAYBACK = 3,
    MENU_SERIES_LIST = 4,
    MENU_SERIES = 5,
    MENU_TIME_TRIAL = 6,
    MENU_BIKE_SETUP = 7,
    MENU_SUSPENSION = 8,
    MENU_STABILITY = 9,
    MENU_CONTROLS = 10,
    MENU_GRAPHICS = 11,
    MENU_ADVANCED_GRAPHICS = 12,
    MENU_MULTIPLAYER = 13,
    MENU_CONSOLE = 16,
    MENU_QUIT = 18,
};

enum {
    CONSOLE_LINES = 50,             // log lines on the console screen
    CONSOLE_INPUT_MAX = 255,        // characters of the input line
};

// What only the layers above can do for the menus. Null entries do nothing.
struct MenuHooks {
    void (*console_line)(const char *text);     // Enter on the console screen
    bool (*editor_track_modified)(void);        // the quit screen's warning in editor mode
};
void menu_set_hooks(const MenuHooks *hooks);

// Start-up, once the key names, the track list and the texture lists are there.
void menu_init(void);
void menu_shutdown(void);

// The open screen. Opening a screen highlights the item given (0 for a new screen).
void open_menu(int screen, int item);
void close_menu(void);
int  menu_screen(void);                     // MENU_NONE when closed
int  menu_item(void);
// Lays the open screen out: its number of items, each then read with widget_item.
int  menu_item_count(void);
// The main loop's frame: a key is not passed to a screen opened earlier in the same frame.
void menu_frame_begin(void);
bool menu_changed_this_frame(void);
// "Quit": any key but "esc" on the quit screen ends the game.
bool menu_quit_requested(void);

// Input while a menu is open: a pressed key or a typed character (codes below 256).
void menu_key(int code);
// The cursor moved (pixels from the window's top-left): with the button held a drag, else
// the item under it is highlighted.
void menu_mouse(float x, float y, bool drag);
// A game controller's Start button, which opens the main menu while riding.
bool menu_opens_with(int code);
// Once a frame: a game controller's left stick moves through the items like the d-pad.
void menu_pad_frame(double now);
// The window's drawable size in pixels, for the layout (the drawing takes it itself).
void menu_set_window(int width, int height);

// Drawing: the open screen over the game; and the newest message lines while riding.
void menu_draw(void);
void message_lines_draw(void);

// Alt+Enter: full screen to a window of the "Windowed" size and back.
void toggle_fullscreen(void);
// "Switch To Selected Mode Now": the window takes the chosen "Video Mode".
bool switch_to_selected_mode(void);

// The console screen's state.
const char *console_input(void);
int  console_scrolled(void);                // lines scrolled back; 0 shows the newest
// The line the console screen shows at row (0 the top of its 50), with the marker at the
// bottom while scrolled back.
const char *console_row(int row);

// Test hook: closes the menu and forgets the screens' state.
void menu_reset_for_tests(void);
