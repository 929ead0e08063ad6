// The game's window on the desktop: its class, title, icon and size, the
// fullscreen key, and the player's requests to close the game (the window's
// close button, Ctrl+C in a terminal, SIGTERM at logout), which SDL delivers
// as a quit event.
#pragma once

#include <SDL.h>

// The window's class, which docks and taskbars match with the desktop entry.
constexpr const char *WINDOW_CLASS = "korrin-tavrel";
constexpr const char *WINDOW_TITLE = "Korrin Tavrel";
constexpr const char *WINDOW_ICON_PATH = "img/icon.png";
// Toggles fullscreen anywhere in the game. Not Alt+Enter: Left Alt and
// Enter are game keys.
constexpr SDLKey FULLSCREEN_KEY = SDLK_F11;

// Gives the window its class and asks for crisp scaling, where the player has
// not chosen otherwise. SDL reads both when it starts: called before SDL_Init.
void setWindowDefaults();

// Titles the window, gives it the game's icon (none when the icon cannot be
// loaded, silently) and picks the window's scale for the desktop, unless the
// player chose one. Called between SDL_Init and setting the video mode, which
// the window takes them from.
void prepareWindow();

// The largest whole scale of the 320x240 picture whose window takes at most
// 80 % of the desktop's width and height; 1 on a smaller desktop.
int windowScale(int desktopWidth, int desktopHeight);

// Reads every pending event: F11 toggles fullscreen, a quit event sets
// closeRequested, and everything else is discarded.
void handlePendingEvents();

// Set by handlePendingEvents once the player has asked to close the game
// (the window's close button, SIGINT, SIGTERM); it stays set. The menu then
// leaves as QUIT does, a match ends as after Escape, the game-over picture
// is taken down, and the game does not go back to the menu.
extern bool closeRequested;
