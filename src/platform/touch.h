// The touch screen, where the platform has one: the fingers on it, in the
// game's own pixels, and the page's touch controls. Natively the game reads
// no touches (touch.cpp); in the browser the page gives them
// (web/touch_web.cpp, web/library/touch.js). The input module turns them
// into the same commands as the keys.
#pragma once

// A point in the game's 320x240 pixels; a finger beside the picture lies
// outside that range.
struct ScreenPoint {
    int x, y;
};

// The most fingers told at once; more are left out.
constexpr int MAX_FINGERS = 10;

// What the fingers did, as read once a pass.
struct TouchScreen {
    int fingerCount;                  // on the screen now
    ScreenPoint fingers[MAX_FINGERS]; // in the order they were put down
    // A finger left the screen since the last reading, there (the last one
    // lifted, when several were).
    bool lifted;
    ScreenPoint liftedAt;
    // The page's controls tapped since the last reading: hold (as P) and
    // leave (as Escape).
    bool holdTapped, leaveTapped;
    // Where each finger in fingers was put down: the half of a two players'
    // screen it steers is the one it began on, wherever it slides.
    ScreenPoint putDownAt[MAX_FINGERS];
};

// Reads the touch screen; what was lifted or tapped is told once. C linkage,
// so that the tests stand in for it with the linker's --wrap.
extern "C" TouchScreen readTouchScreen();
