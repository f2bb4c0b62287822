// Platform options, read once from TOVA_OPTIONS: "[name:value]" anywhere in the text.
#pragma once

// "yes"/"on"/"no"/"off"; anything else logs "unrecognized setting for %s" and gives the default.
bool option_bool(const char *name, bool default_value);
// A decimal number; anything else logs the same message and gives the default.
int  option_int(const char *name, int default_value);

// Test hook: forget the text so the next call reads TOVA_OPTIONS again.
void options_reset_for_tests(void);
