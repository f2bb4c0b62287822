// The game's entry; everything else lives in the driver library so tests can link it.
#include "driver/game.h"

int main(int argc, char **argv)
{
    return game_main(argc, argv);
}
