// Lists built once at start-up: the video modes, the selectable rider textures and the demos
// found in the file index.
#pragma once

struct VideoMode;

enum { VIDEO_MODE_FULLSCREEN = 0, VIDEO_MODE_WINDOWED = 1 };

// Entry 0 "Default Fullscreen", entry 1 "Windowed", then "%dx%d" for every platform mode
// with the desktop's colour depth (the first platform mode is the desktop's), in its order.
// Returns the number of entries.
int  build_video_mode_list(const VideoMode *platform_modes);
int  video_mode_count(void);
const char *video_mode_label(int entry);    // null when out of range
// All labels in entry order, for the "Video Mode" setting; valid until the list is freed.
const char *const *video_mode_labels(void);
// Width and height of an entry; 0 x 0 for the desktop mode. False when out of range.
bool video_mode_size(int entry, int *width, int *height);
void free_video_mode_list(void);

// Every index name beginning "demos/" and ending ".skdemo"; shown by the part between the
// last "/" and the last ".". Verbose runs log "%s -> %s\n" for each. Returns the count.
int  build_demo_list(const char *const *index_names, int verbosity);
int  demo_list_count(void);
const char *demo_list_file(int i);          // null when out of range
const char *demo_list_label(int i);         // null when out of range
void free_demo_list(void);

// Texture lists of the rider's setup: "Riding Gear" (names beginning "rider_body-"), "Helmet"
// ("rider_head-"), "Bike Graphics" (the chosen bike's graphics prefix: its texture's name
// without "@" and extension, then "-", as "yz250f-") and "Wheel Graphics" ("wheels-"). Top-level
// index names in index order, each once; ".gz" and ".scram" forms count as the plain name,
// and ".info" sidecars and the "_tnorm"/"_tspec" maps of a texture set are not choices.
enum { TEXTURES_RIDER, TEXTURES_HELMET, TEXTURES_BIKE, TEXTURES_WHEELS, TEXTURE_LIST_COUNT };
// Builds all four for the setup's bike and then chooses the setup's textures. Returns the
// number of names listed.
int  build_texture_lists(const char *const *index_names);
// The "Bike Graphics" list again, for the bike the setup names now.
int  build_bike_texture_list(const char *const *index_names);
int  texture_list_count(int list);
const char *texture_list_label(int list, int i);    // null when out of range
const char *const *texture_list_labels(int list);    // count labels; null when empty
// What the menus show for each label: the text between the list's prefix and the extension
// ("red" for "rider_body-red.png"); the setups keep the labels themselves.
const char *const *texture_list_shown(int list);
// The setup's four texture names looked up in their lists: a name that is not listed takes
// the list's first label ("" when the list is empty).
void choose_setup_textures(void);
void free_texture_lists(void);
