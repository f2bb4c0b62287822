// The home directory at start-up: whether this run may write there, the lock that keeps a
// second instance from sharing its files, and where the log goes.
#pragma once

enum HomeUse {
    HOME_USE_OWN,           // settings saved at shutdown, the log in "lastlog.txt"
    HOME_USE_SHARED,        // another instance holds it: the log in "lastlog-%d.txt", no settings saved
    HOME_USE_UNWRITABLE,    // nothing can be written there: no log file, no settings saved
    HOME_USE_NONE,          // neither XDG_DATA_HOME nor HOME is set: no log file, no settings saved
};

// Creates the home directory, checks that a file can be written in it and takes the advisory
// lock on it. Writes the log file's path into log_path ("" when there is none) and returns
// the HomeUse of this run.
int  home_open(char *log_path, int size);
int  home_use(void);
bool home_saves_settings(void);
// What the player is told about a run that does not save; "" for HOME_USE_OWN.
const char *home_notice(void);
// Gives the locks back (after the settings were written).
void home_close(void);
