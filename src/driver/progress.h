// The loading screen: every loader reports progress through these while the game starts or
// loads a track. Each keeps the window responsive by draining its events.
#pragma once

#define VERSION_TEXT "2021-03-20-1564 snapshot"

// Draws the title screen with the text and presents it; remembers the longest gap between
// two messages and the message before it.
void progress_message(const char *text);
// progress_message, and the text as a log line when it is not empty; restarts the dots.
void progress_log(const char *text);
// At most every 0.125 s: the text (first 64 characters) with "", ".", "..", "..." in turn.
void progress_dots(const char *text);
// The text (first 64 characters) followed by "...done".
void progress_done(const char *text);
// Counts a tick; at most every 0.0625 s redraws the activity indicator.
void progress_tick(void);

// Hands these operations to the loaders that report steps of their own (the terrain).
void progress_attach_loaders(void);

// The longest gap between two messages since the last reset, and the text of the message
// that came before it (at most 79 characters; "" when none).
double progress_max_delay(const char **cause);
void progress_reset_max_delay(void);
const char *progress_shown_text(void);      // the text most recently drawn
int progress_tick_count(void);
int progress_presented_frames(void);        // title and indicator frames presented
void progress_reset_for_tests(void);
