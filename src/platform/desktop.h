// The game's window while it runs: the fullscreen key, the window going away
// (input focus lost, minimised), and the player's requests to close the game (the window's close
// button, Ctrl+C in a terminal, SIGTERM at logout), which SDL delivers as a quit event, and the
// terminal that started the game closing (SIGHUP). How the window looks when it opens (class,
// title, icon, scale) is set at start-up.
#pragma once

#include <SDL.h>

// Toggles fullscreen anywhere in the game. Not Alt+Enter: Left Alt and
// Enter are game keys.
constexpr SDLKey FULLSCREEN_KEY = SDLK_F11;

// Has SIGHUP close the game as SDL has SIGINT and SIGTERM do (SDL leaves it
// alone), unless the game was started ignoring it. Called once SDL has
// started.
void catchHangUp();

// Reads every pending event: F11 toggles fullscreen, a quit event sets
// closeRequested, the window losing input focus or being minimised sets
// windowAway, and everything else is discarded.
void handlePendingEvents();

// Set by handlePendingEvents once the player has asked to close the game
// (the window's close button, SIGINT, SIGTERM, SIGHUP); it stays set. The menu then
// leaves as QUIT does, a match ends as after Escape, the game-over picture
// is taken down, and the game does not go back to the menu.
extern bool closeRequested;

// Set by handlePendingEvents when the window loses the input focus or is
// minimised; it stays set until the match clears it (at its start, and when
// it takes itself off hold). A match that sees it goes on hold.
extern bool windowAway;

// Set by handlePendingEvents when the window's picture may need presenting
// again (F11, an exposure); a screen that does not flip every pass (the
// match on hold) flips once and clears it.
extern bool windowNeedsRedraw;
