// A paddle and its player's score: it moves itself vertically and keeps
// itself between the walls.
#pragma once

#include <SDL.h>

// A paddle's speed when its keys are held, in pixels per 60 ms.
constexpr double PADDLE_SPEED = 11.0;

class Player {
  public:
    SDL_Rect spriteRect{}; // region of the sprite sheet; its h bounds the travel
    SDL_Rect bodyRect{};   // only its y is read: half of it is the travel margin
    SDL_Rect worldRect{};  // top-left corner and size on the screen
    double speed = 0.0;    // pixels per 60 ms, positive downwards
    double score = 0.0;    // always a whole number of points

    Player() = default;
    ~Player() = default;

    // Clears speed and score; the rectangles stay.
    void reset();
    void setWorldPos(short x, short y);
    int getScore() const;
    void incScore();
    void setSpeed(double v);
    // One step of motion by the time factor t, stopped at either bound.
    void move(float t);
};
