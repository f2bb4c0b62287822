// The log file and the last error. No window is needed: every layer may log.
#pragma once

// The first call opens the log (see log.cpp for the TOVA_LOGFILE rules).
// Each message gets the "[h:mm:ss.cc] " prefix and is flushed at once; a message whose
// first byte is 19 is not written; a null format closes the log.
void log_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void log_error(const char *text);           // logs "Error: %s" and remembers the text
const char *last_error(void);               // "Unknown" before any error
bool log_is_open(void);

// Test hook: every message that would be written (without its prefix, the log file open or
// not) is passed to the observer; null removes it.
void log_set_observer(void (*observer)(const char *text));
// Test hook: closes the log and forgets that it was ever opened.
void log_reset_for_tests(void);
