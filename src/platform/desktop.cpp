// The game's window while it runs: the fullscreen key, the window going away
// and the player's requests to close the game.
#include "desktop.h"

#include <csignal>

#include "init.h"

bool closeRequested = false;
bool windowAway = false;
bool windowNeedsRedraw = false;

namespace {
// Losing either means the player is no longer looking at the match.
constexpr Uint8 AWAY_STATES = SDL_APPINPUTFOCUS | SDL_APPACTIVE;

// Set by the SIGHUP handler; all a handler may safely do.
volatile std::sig_atomic_t hungUp = 0;

void noteHangUp(int) { hungUp = 1; }
} // namespace

void catchHangUp() {
    struct sigaction action {};
    // A game started under nohup ignores it, and keeps doing so.
    if (sigaction(SIGHUP, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
        return;
    action = {};
    action.sa_handler = noteHangUp;
    sigemptyset(&action.sa_mask);
    sigaction(SIGHUP, &action, nullptr);
}

void handlePendingEvents() {
    if (hungUp != 0)
        closeRequested = true;
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
