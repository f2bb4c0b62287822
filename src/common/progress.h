// Loading progress: every loader reports its steps through these while the game starts or
// loads a track. The texts, the log lines and the longest gap are kept here; the loading
// screen and the event pump belong to the driver, which installs them as hooks. Without hooks
// nothing is drawn and the texts still reach the log.
#pragma once

// Shows the text; remembers the longest gap between two messages and the message before it.
void progress_message(const char *text);
// progress_message, and the text as a log line when it is not empty; restarts the dots.
void progress_log(const char *text);
// At most every 0.125 s: the text (first 64 characters) with "", ".", "..", "..." in turn.
void progress_dots(const char *text);
// The text (first 64 characters) followed by "...done".
void progress_done(const char *text);
// Counts a tick; at most every 0.0625 s redraws the activity indicator.
void progress_tick(void);

// What the layer with the window does for progress. Every entry may be null.
struct ProgressHooks {
    void (*drain_events)(void);         // keeps the window responsive (every message and tick)
    void (*clear_controls)(void);       // held keys are forgotten while loading (every message)
    // Draws the loading screen with the text (and the activity indicator for the tick count
    // when indicator is set); false when nothing could be presented.
    bool (*present)(const char *text, int ticks, bool indicator);
};
void progress_set_hooks(const ProgressHooks *hooks);    // null: none

// The longest gap between two messages since the last reset, and the text of the message
// that came before it (at most 79 characters; "" when none).
double progress_max_delay(const char **cause);
void progress_reset_max_delay(void);
const char *progress_shown_text(void);      // the text most recently shown
int progress_tick_count(void);
int progress_presented_frames(void);        // title and indicator frames presented
void progress_reset_for_tests(void);        // keeps the hooks
