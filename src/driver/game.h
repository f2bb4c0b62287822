// The game's start-up and shutdown around the main loop.
#pragma once

// Game data is found when a search directory holds this marker file.
#define GAME_DATA_MARKER "skorva.dat"

// The whole game: start-up, main loop, shutdown. Returns the process exit status.
int  game_main(int argc, char **argv);
// True when some search directory holds the marker file.
bool game_data_found(void);
