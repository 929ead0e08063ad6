// The ball: its sprite region, its place on the screen, its speeds and its
// serve countdown, with the rules by which it moves, bounces off the top and
// bottom walls and re-serves itself after leaving the field.
#pragma once

#include <SDL.h>

// What Ball::move reports to the match update.
enum BallEvent {
    BALL_HIT_WALL = -1,  // bounced off the top or bottom wall
    BALL_NO_EVENT = 0,   // waiting, or moved without event
    BALL_LEFT_RIGHT = 1, // left the field on the right: a point for player 1
    BALL_LEFT_LEFT = 2,  // left the field on the left: a point for player 2
};

// The first serve of a match waits 3.0 units, every later serve 2.0
// (one unit is 1200 ms at the match's time factor).
constexpr int FIRST_SERVE_PAUSE = 3;
constexpr int SERVE_PAUSE = 2;
// Serve speed on both axes, in pixels per 60 ms.
constexpr double BALL_SERVE_SPEED = 14.0;

class Ball {
  public:
    SDL_Rect spriteRect; // region of the sprite sheet; its w and h centre the ball
    SDL_Rect worldRect;  // top-left corner and size on the screen
    double speedX;       // pixels per 60 ms, positive to the right
    double speedY;       // pixels per 60 ms, positive downwards
    double pauseTime;    // serve countdown; the ball stands still while it is above 0

    Ball();
    ~Ball() = default;

    void setWorldPos(short x, short y);
    // 0 while in play, otherwise the countdown digit: whole units left plus one.
    int isPaused() const;
    // Puts the ball back in the centre, serving right and down after p units.
    void resetBall(int p);
    // One step of motion by the time factor t; returns a BallEvent.
    int move(float t);
    // Paddle bounce: reverses speedX, places the ball at x and draws a new
    // downward vertical speed from 0 to 13.
    void bounceX(int x);
    void bounceY(int y);
    void setSpeed(double vx, double vy);
};
