// Korrin Tavrel: the program's entry. Starts the media libraries, then
// alternates menu and match until the player leaves.
#include <cstdio>

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
    // Only the menu ends this loop, by leaving numPlayers at 0.
    while (numPlayers != 0) {
        showMenu();
        if (numPlayers != 0)
            startGame();
    }
    quitGame();
    puts("Korrin Tavrel is exiting normally.");
    return 0;
}
