// The game's window while it runs: the fullscreen key and the player's
// requests to close the game.
#include "desktop.h"

#include "init.h"

bool closeRequested = false;

void handlePendingEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT)
            closeRequested = true;
        else if (event.type == SDL_KEYDOWN && event.key.keysym.sym == FULLSCREEN_KEY)
            SDL_WM_ToggleFullScreen(screen);
    }
}
