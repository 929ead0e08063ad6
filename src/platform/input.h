// What the players ask for, whatever device they use: the keys and gamepads
// of the match and the menu turned into commands, so that neither the match
// nor the menu reads a device itself.
#pragma once

#include <SDL.h>

#include "commands.h"

// One pass's commands for the menu.
struct MenuInput {
    bool up, down; // move the highlight (down wins when both are held)
    bool choose;   // confirm the highlighted entry
    bool nextBall; // step to the next ball sprite
};

// A stick pushed less than this far (of 32767) from the middle steers
// nothing: a resting stick never moves a paddle, one pushed half-way does.
constexpr Sint16 STICK_DEAD_ZONE = 8000;

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
// Space (up) and Left Alt (down) or second pad; Escape, any pad's Back or a
// close request to leave; P, Pause or any pad's Start to hold.
FrameInput readFrameInput();

// The menu's commands held now: the arrows or any pad's up and down, Return,
// Left Ctrl or any pad's first face button or Start to choose, Tab or any
// pad's second face button for the next ball.
MenuInput readMenuInput();
