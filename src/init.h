// The game's shared state, the start-up and shut-down of SDL, its mixer and
// its font library, and the layout of paddles and ball at a match's start.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#include "ball.h"
#include "player.h"
#include "sound.h"

// ---- The two global game objects; they live for the whole run.
extern Player Players[2]; // [0] left paddle of player 1, [1] right paddle of player 2
extern Ball TavrelBall;

// ---- Loop and match state
extern int quitFlag;     // the match's or menu's loop ends when it is not 0
extern int numPlayers;   // 0 leave, 1 against the computer, 2 two players
extern int ballType;     // ball sprite, 0 to 3
extern float timeScaler; // this frame's milliseconds divided by 60
extern int resetGame;    // set at a match's start: the next update restarts its clock

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

// ---- The match's sound effects
extern SND_Data hitSound;
extern SND_Data wallSound;

// The screen every frame is drawn on.
constexpr int SCREEN_WIDTH = 320;
constexpr int SCREEN_HEIGHT = 240;
// Each pass of the match and menu loops lasts at least this long, so that a
// frame's step is several pixels (truncating a step to whole pixels then
// loses little) and the game does not spin a core.
constexpr Uint32 FRAME_PERIOD_MS = 22;

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

// Clears scores and paddle speeds, asks the next update to restart its clock
// and lays out paddles and ball. Called once at the start of every match.
void resetAll();
// Sprite regions and screen rectangles of both paddles and of the ball (with
// the ball sprite chosen in the menu), then serves the ball after the first pause.
void initPlayers();

// Waits until FRAME_PERIOD_MS have passed since the previous call returned.
// Called once at the top of every pass of the match and menu loops.
void waitForNextFrame();
