// The game's start-up and shutdown around the main loop.
#pragma once

// The whole game: start-up, main loop, shutdown. Returns the process exit status.
int  game_main(int argc, char **argv);
// True when the main font (SK_GAME_DATA_PROBE) opens through the search directories.
bool game_data_found(void);
