// The console's lines: a line typed on the console screen is a chat message for the server or,
// after "/" or "\", one of the commands below. Every reply goes to the message log.
#pragma once

// The switches the commands toggle that no setting keeps.
enum ConsoleSwitch {
    SWITCH_SUSPENSION_GRAPH,        // "togglegraph"
    SWITCH_KEYCAM,                  // "togglekeycam": the free camera follows the keyframes
    SWITCH_HIDE_DECALS,             // "toggledecals"
    SWITCH_RENDER_STATS,            // "renderstats"
    CONSOLE_SWITCH_COUNT,
};

// A keyframe of the free camera.
struct CameraKey {
    float position[3];
    float rotation[4];              // quaternion w, x, y, z
    float fov;                      // degrees
    int tic;                        // race_tic
};

enum {
    CAMERA_KEYS_MAX = 65536,        // keyframes a file may hold
    CHAT_INTERVAL_MS = 2000,        // at most one chat line per 2 s of game_clock
};

// Runs one typed line.
void console_line(const char *text);

bool console_switch(int which);
// The keyframes, sorted by tic.
int  camera_key_count(void);
const CameraKey *camera_key(int index);     // null outside the list

// A home-directory name the console may write: "/"-separated parts, none empty, "." or "..",
// no "\" and no leading "/".
bool console_safe_name(const char *name);

// Shutdown: frees the keyframes.
void console_free(void);
// Test hook: every switch off, no keyframes, no chat sent yet.
void console_reset_for_tests(void);
