// The game's window while it runs: the fullscreen key, the window going away
// and the player's requests to close the game.
#include "desktop.h"

#include "init.h"

bool closeRequested = false;
bool windowAway = false;
bool windowNeedsRedraw = false;

namespace {
// Losing either means the player is no longer looking at the match.
constexpr Uint8 AWAY_STATES = SDL_APPINPUTFOCUS | SDL_APPACTIVE;
} // namespace

void handlePendingEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) {
            closeRequested = true;
        } else if (event.type == SDL_KEYDOWN && event.key.keysym.sym == FULLSCREEN_KEY) {
            SDL_WM_ToggleFullScreen(screen);
            windowNeedsRedraw = true;
        } else if (event.type == SDL_VIDEOEXPOSE) {
            windowNeedsRedraw = true;
        } else if (event.type == SDL_ACTIVEEVENT && event.active.gain == 0 &&
                   (event.active.state & AWAY_STATES) != 0) {
            windowAway = true;
        }
    }
}
