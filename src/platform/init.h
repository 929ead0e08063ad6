// The start-up and shut-down of SDL, its mixer and its font library, and
// what they give the screens: the video surface, the font and the images
// (the match's sound records are the sound's, sound.h). The match's own
// state and layout are the rules' (match.h).
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#include "clock.h"
#include "failure.h"
#include "match.h"
#include "sound.h"

// ---- Video, font and images
extern SDL_Surface *screen;
extern TTF_Font *font;
extern SDL_Color txtClr;
extern SDL_Surface *scoreText[2]; // score surfaces of the last frame drawn
extern SDL_Surface *sprites;
extern SDL_Surface *bgGame;
extern SDL_Surface *bgMenu;
extern SDL_Surface *menuOpts;
// Scratch rectangles for every blit of the match and the menu. The menu relies
// on dest keeping the rectangle the previous blit actually drew.
extern SDL_Rect src;
extern SDL_Rect dest;

// The screen every frame is drawn on: the match's field.
constexpr int SCREEN_WIDTH = FIELD_WIDTH;
constexpr int SCREEN_HEIGHT = FIELD_HEIGHT;

// ---- The window: how it looks when it opens
// Its class, which docks and taskbars match with the desktop entry.
constexpr const char *WINDOW_CLASS = "korrin-tavrel";
constexpr const char *WINDOW_TITLE = "Korrin Tavrel";
constexpr const char *WINDOW_ICON_PATH = "img/icon.png";

// Gives the window its class and asks for crisp scaling, where the player has
// not chosen otherwise. SDL reads both when it starts: called before SDL_Init.
void setWindowDefaults();
// Titles the window, gives it the game's icon (none when the icon cannot be
// loaded, silently) and picks the window's scale for the desktop, unless the
// player chose one. Called between SDL_Init and setting the video mode, which
// the window takes them from.
void prepareWindow();
// Whether the player will see the window. On Linux SDL shows it through an
// X server or a Wayland compositor; reaching neither it falls back to a
// driver that draws into the terminal or nowhere. displayNamed fails, saying
// why, when neither DISPLAY nor WAYLAND_DISPLAY names a display, before SDL
// starts (a text-mode driver takes the terminal inside SDL_Init);
// driverShows fails when the driver SDL started (its name) shows nothing
// (offscreen, dummy, aalib, caca). A video driver the player chose
// (SDL_VIDEODRIVER) passes both, also one that needs no display (the tests'
// dummy).
Status displayNamed();
Status driverShows(const char *driver);
// The largest whole scale of the 320x240 picture whose window takes at most
// 80 % of the desktop's width and height; 1 on a smaller desktop.
int windowScale(int desktopWidth, int desktopHeight);

// Starts SDL with video and audio, the mixer, the 320x240 video mode (in a
// window with the game's class, title and icon) with the cursor hidden, the
// font library and the score font. Returns 0, or 1 at the first failure after
// printing its line; nothing started is undone.
int initGame();
// Closes the mixer, SDL and the font library, and says so.
void quitGame();

// Should the connection to the display be lost once the window is open, the
// game calls save, closes the sound device, says "Lost the connection to the
// display." and ends with status 1 at once, leaving SDL as it stands (its
// shut-down would wait on the dead connection). Set before initGame.
void setSaveOnDisplayLoss(void (*save)());
