// Unattended runs (SK_TEST set) can press keys through the window system: SK_TEST_KEYS lists
// "frame:key" entries separated by commas ("3:down,4:enter"); each key is pressed and released
// after that many frames were presented. A key name ending in "+" is only pressed, one ending
// in "-" only released ("3:left alt+,4:enter,5:left alt-").
#pragma once

// Presses the keys due after this frame; reads SK_TEST_KEYS on the first call.
void key_script_frame(int frame);
// The entries read, for the tests; -1 for a malformed script (then nothing is pressed).
int  key_script_load(const char *script);
