// The player's message log: every one-line message for the player, also copied to the game log.
// Any layer may post; the console and the HUD above read the lines. Nothing here draws.
#pragma once
#include <stddef.h>

enum {
    MESSAGE_LOG_LINES = 1000,
    MESSAGE_LINE_CHARS = 255,       // longer messages are cut
};

// Logs the text, stores it as the newest line and shows it over the game for a while.
void post_message(const char *text);

// Text that came from a server or another player, cleaned (below) and then posted.
void post_remote_message(const char *text);
// Keeps the colour escapes the fonts know (ESC "[" numbers among 0, 1, 22, 30-37 and 40-47,
// separated by ";", then "m"); drops every other escape sequence and every other control
// character (below 32, 127 and 128-159), so that nobody's text moves the terminal's cursor or
// retitles it. out holds size bytes and is always terminated.
void clean_remote_text(const char *text, char *out, size_t size);

// The clock that times how long a line stays shown: the driver installs game_clock. Without one
// every line counts as posted at 0.
void messages_set_clock(double (*now)(void));

void messages_clear(void);                  // empties the log and the shown lines
const char *message_line(int age);          // 0 the newest; "" for a line never written or age out of range
int  message_next_index(void);              // the ring index the next message goes to
int  messages_showing(void);                // newest lines shown over the game
// Removes one shown line when its time has come (called once a frame with game_clock).
void messages_update(double now);
void messages_set_max_showing(int lines);   // "message_lines"; at least 0
void messages_set_hide_spam(bool on);       // drops texts containing "[SPAM]"
bool messages_hide_spam(void);
