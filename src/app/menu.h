// The main menu: one player, two players or leave, with the ball sprite
// cycled by TAB (or a tap on the menu's ball). The choice is left in
// numPlayers for main.
#pragma once

#include "touch.h"

// Runs the menu until a choice is confirmed, then waits for silent channels
// and releases its assets. Returns 0 with numPlayers set to the choice, or 1
// with numPlayers 0 when one of its assets cannot be loaded.
int showMenu();

// Repaints the background over the previous highlight (the rectangle dest
// holds) and highlights entry option, 0 to 2. Called only by showMenu.
void switchOption(int option);

// What a finger at this point of the screen means in the menu: an entry (0
// to 2, where its band is drawn), the ball that the menu's picture
// shows (a tap there steps to the next ball), or nothing. Reads menuOpts.
constexpr int TOUCHES_NOTHING = -1;
constexpr int TOUCHES_THE_BALL = 3;
int menuTouchAt(const ScreenPoint &point);
