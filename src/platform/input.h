// What the players ask for, whatever device they use: the keys, gamepads
// and fingers of the match and the menu turned into commands, so that neither
// the match nor the menu reads a device itself.
#pragma once

#include <SDL.h>

#include "commands.h"
#include "touch.h"

// One pass's commands for the menu.
struct MenuInput {
    bool up, down; // move the highlight (down wins when both are held)
    bool choose;   // confirm the highlighted entry
    bool nextBall; // step to the next ball sprite
    // Where the finger put down last points, while one is on the screen;
    // and where a finger was lifted since the last pass. The menu knows
    // what lies there.
    bool pointing;
    ScreenPoint pointedAt;
    bool lifted;
    ScreenPoint liftedAt;
};

// A stick pushed less than this far (of 32767) from the middle steers
// nothing: a resting stick never moves a paddle, one pushed half-way does.
constexpr Sint16 STICK_DEAD_ZONE = 8000;

// A finger within this many rows of its paddle's centre lets the paddle
// rest: a frame's step at the nominal pace (11 pixels per 60 ms), so that
// the paddle comes to rest under the finger instead of swinging about it.
constexpr int TOUCH_DEAD_ZONE_ROWS = 4;

// Whose paddle a finger on the screen steers in the match that runs.
struct TouchSteering {
    // Two players on one screen: a finger steers the paddle of the half of
    // the screen it was put down on, until it is lifted.
    bool byHalves;
    // Otherwise every finger steers this paddle (0 left, 1 right), through
    // player 1's commands: those of the one player at this screen, as the
    // arrows are (online, the side this game plays).
    int paddle;
};
// Set at the start of every match; until then, every finger steers the left
// paddle.
void steerByTouch(const TouchSteering &steering);

// Opens every gamepad present, after closing those opened before: SDL 1.2
// lists joysticks only when its joystick subsystem starts, so the subsystem
// is started again. Called each time the menu shows, so that a pad plugged in
// during a match counts from the next menu. No pad is no error.
void openPads();
// Closes the pads that openPads opened; before SDL shuts down.
void closePads();

// Reads every pending event (see handlePendingEvents) and returns SDL's
// key-state array: the match and the menu act only on held keys.
const Uint8 *readHeldKeys();

// The match's commands held now: player 1's arrows or first pad, player 2's
// Space (up) and Left Alt (down) or second pad, and the fingers (see
// steerByTouch): a paddle goes towards the height of the finger put down
// last among those that steer it; Escape, any pad's Back, the leave control
// or a close request to leave; P, Pause, any pad's Start or the hold
// control to hold.
FrameInput readFrameInput();

// The menu's commands held now: the arrows or any pad's up and down, Return,
// Left Ctrl or any pad's first face button or Start to choose, Tab or any
// pad's second face button for the next ball; and the fingers.
MenuInput readMenuInput();
