// Korrin Tavrel: the program's entry. Starts the media libraries, then
// alternates menu and match until the player leaves.
#include <cstdio>

#include "desktop.h"
#include "game.h"
#include "init.h"
#include "menu.h"
#include "randgen.h"

int main(int, char **) {
    initRandom();
    if (initGame() != 0) {
        puts("Some errors occurred during initialization.");
        return 1;
    }
    // The menu ends this loop by leaving numPlayers at 0; a close request
    // ends it after the match it came in.
    while (numPlayers != 0 && !closeRequested) {
        showMenu();
        if (numPlayers != 0)
            startGame();
    }
    quitGame();
    puts("Korrin Tavrel is exiting normally.");
    return 0;
}
