// What the players ask for, whatever device they use: the keys of the match
// and the menu turned into commands, so that neither the match nor the menu
// reads a device itself.
#pragma once

#include <SDL.h>

// One frame's commands for the match, whatever their source: the keys, a
// recording or the network. Index 0 is player 1 (the left paddle), 1 player 2.
struct FrameInput {
    bool up[2];
    bool down[2];
    bool leave; // Escape, or the player asked to close the game
};

// One pass's commands for the menu.
struct MenuInput {
    bool up, down; // move the highlight (down wins when both are held)
    bool choose;   // confirm the highlighted entry
    bool nextBall; // step to the next ball sprite
};

// Reads every pending event (see handlePendingEvents) and returns SDL's
// key-state array: the match and the menu act only on held keys.
const Uint8 *readHeldKeys();

// The match's commands held now: player 1's arrows, player 2's Space (up) and
// Left Alt (down), and Escape or a close request to leave.
FrameInput readFrameInput();

// The menu's commands held now: the arrows, Return or Left Ctrl to choose,
// Tab for the next ball.
MenuInput readMenuInput();
