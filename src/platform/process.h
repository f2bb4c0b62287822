// The process: its priority while a track session runs, the signals that end it, and the
// advisory locks that keep two instances from sharing files.
#pragma once

// Logs the working-set range a track session would like (the system sizes the resident set
// itself, so nothing is applied) and brings a process that runs below normal priority back to
// normal; priority is never raised above normal. Nothing is changed on machines with less
// than 64 MB.
void process_keep_resident_and_raise_priority(void);

// SIGINT and SIGTERM from now on only set a flag (a repeated signal as well), so that the
// main loop ends through the normal shutdown. Installing twice is harmless.
void quit_signals_install(void);
// The signal that asked the game to end; 0 while none has arrived.
int  quit_signal_received(void);
void quit_signal_reset_for_tests(void);

// An exclusive advisory lock on a directory, held until unlock_path or the process ends; the
// result is the handle (>= 0), -1 when another process holds it or it cannot be opened.
// *busy (may be null) tells the two apart.
int  lock_directory(const char *path, bool *busy);
// The same on a file, created when missing (its content is left as it is).
int  lock_file(const char *path, bool *busy);
void unlock_path(int handle);
