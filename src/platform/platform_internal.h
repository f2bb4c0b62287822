// Shared between the platform layer's own sources; not for the game.
#pragma once

union SDL_Event;

// devices.cpp: turns one SDL event into queued events and axis values.
void devices_handle_event(const SDL_Event *event);
// Sets the SDL tick that corresponds to the platform clock's reading now.
void devices_sync_clock(void);
// Forgets an earlier close request (a new window opens).
void devices_reset_close_request(void);

// window.cpp: drawable pixels per window coordinate (1 without a window).
void window_pixel_scale(float *sx, float *sy);
