// The rules of a match and its state.
#include "match.h"

#include <cstdlib>

#include "collide.h"
#include "randgen.h"
#include "snapshot.h"

Player Players[2];
Ball TavrelBall;

int quitFlag = 0;
int numPlayers = 2;
int ballType = 0;
float timeScaler = 1.0f;
int resetGame = 1;

namespace {
// Paddle layout: both images are 11 x 50 in the sheet's top row.
constexpr Sint16 PADDLE_SPRITE_X[2] = {1, 25};
constexpr Sint16 PADDLE_SPRITE_Y = 1;
constexpr Uint16 PADDLE_WIDTH = 11;
constexpr Uint16 PADDLE_HEIGHT = 50;
constexpr Sint16 PADDLE_BODY_Y = 6; // half of it is the travel margin
// The left paddle stands 1 pixel in from the field's left edge, the right
// one 2 pixels in from its right edge; both start level with its centre.
constexpr Sint16 LEFT_PADDLE_X = 1;
constexpr Sint16 RIGHT_PADDLE_X = FIELD_WIDTH - 2 - PADDLE_WIDTH;
constexpr Sint16 PADDLE_START_Y = FIELD_HEIGHT / 2 - PADDLE_HEIGHT / 2;

// The four balls lie in one row of the sheet, 1 pixel apart.
constexpr Sint16 BALL_SPRITE_FIRST_X = 1;
constexpr Sint16 BALL_SPRITE_STEP = 13;
constexpr Sint16 BALL_SPRITE_Y = 114;
constexpr Uint16 BALL_SIZE = 12;

// A frame up to this long moves everything in one step. In a longer one the
// ball could cross a paddle's window between two steps (the left window is
// 10 pixels wide, and a 48 ms step of the ball is 11): such a frame is
// tried in steps of at most FRAME_PERIOD_MS, and taken so when a paddle
// returns the ball on the way.
constexpr int LONGEST_SINGLE_STEP_MS = 2 * FRAME_PERIOD_MS;

// The computer aims at the field's middle row while the ball waits, and
// slows down over its last pixels: never faster than a player's paddle.
constexpr int AI_TARGET_WHILE_WAITING = FIELD_HEIGHT / 2;
constexpr int AI_MAX_SPEED = static_cast<int>(PADDLE_SPEED);

// While the ball waits, each frame draws the serve direction anew: one of the
// four diagonals, with equal chance.
void chooseServeDirection() {
    const bool serveLeft = getRandom(2) == 1;
    const bool serveUp = getRandom(2) == 1;
    TavrelBall.setSpeed(serveLeft ? -BALL_SERVE_SPEED : BALL_SERVE_SPEED,
                        serveUp ? -BALL_SERVE_SPEED : BALL_SERVE_SPEED);
}

// Down wins when a paddle is asked both ways.
double paddleSpeed(bool up, bool down) {
    if (down)
        return PADDLE_SPEED;
    if (up)
        return -PADDLE_SPEED;
    return 0.0;
}

// A paddle returns the ball when the ball's top-left corner lies strictly
// inside the paddle's rows and inside its columns moved by shift and widened
// by widen. The ball then leaves from returnX. True for a return.
bool returnFromPaddle(const SDL_Rect &paddle, int shift, int widen, int returnX) {
    if (!collisionDetectRIRmW(paddle, TavrelBall.worldRect, shift, widen))
        return false;
    TavrelBall.bounceX(returnX);
    return true;
}

// Moves paddles and ball through one step of elapsedMs, as one frame always did.
FrameSounds stepOnce(int elapsedMs) {
    timeScaler = static_cast<float>(elapsedMs) / MS_PER_TIME_UNIT;

    Players[0].move(timeScaler);
    Players[1].move(timeScaler);

    FrameSounds sounds = 0;
    const int event = TavrelBall.move(timeScaler);
    if (event > 0)
        Players[event - 1].incScore(); // the ball left past the other player's edge
    else if (event == BALL_HIT_WALL)
        sounds |= SOUND_WALL;

    // The left window is shifted by the ball's width, so the ball's right
    // edge must reach the paddle; the right window is widened by it.
    const int ballWidth = TavrelBall.worldRect.w;
    const SDL_Rect &left = Players[0].worldRect;
    const SDL_Rect &right = Players[1].worldRect;
    if (returnFromPaddle(left, -ballWidth, 0, left.x + left.w))
        sounds |= SOUND_HIT_LEFT;
    if (returnFromPaddle(right, 0, ballWidth, right.x - ballWidth))
        sounds |= SOUND_HIT_RIGHT;
    return sounds;
}

// A long frame in steps of at most FRAME_PERIOD_MS, the milliseconds shared
// out evenly.
FrameSounds stepInParts(int elapsedMs) {
    const int parts = (elapsedMs + FRAME_PERIOD_MS - 1) / FRAME_PERIOD_MS;
    FrameSounds sounds = 0;
    for (int part = 0; part < parts; ++part)
        sounds |= stepOnce(elapsedMs / parts + (part < elapsedMs % parts ? 1 : 0));
    return sounds;
}
} // namespace

void startMatch(const MatchStart &start) {
    numPlayers = start.players;
    ballType = start.ballType;
    quitFlag = 0;
    resetAll();
    setRandomSeed(start.seed);
}

void resetAll() {
    Players[0].reset();
    Players[1].reset();
    resetGame = 1;
    initPlayers();
}

void initPlayers() {
    for (int i = 0; i < 2; ++i) {
        Player &paddle = Players[i];
        paddle.spriteRect = {PADDLE_SPRITE_X[i], PADDLE_SPRITE_Y, PADDLE_WIDTH, PADDLE_HEIGHT};
        paddle.bodyRect.y = PADDLE_BODY_Y;
        paddle.worldRect = {i == 0 ? LEFT_PADDLE_X : RIGHT_PADDLE_X, PADDLE_START_Y, PADDLE_WIDTH,
                            PADDLE_HEIGHT};
    }
    TavrelBall.spriteRect = {static_cast<Sint16>(ballType * BALL_SPRITE_STEP + BALL_SPRITE_FIRST_X),
                             BALL_SPRITE_Y, BALL_SIZE, BALL_SIZE};
    TavrelBall.worldRect.w = BALL_SIZE;
    TavrelBall.worldRect.h = BALL_SIZE;
    TavrelBall.resetBall(FIRST_SERVE_PAUSE);
}

FrameSounds runFrame(const FrameInput &input, int elapsedMs) {
    applyInputs(input);
    const FrameSounds sounds = stepMatch(elapsedMs);
    checkWinConditions();
    return sounds;
}

void applyInputs(const FrameInput &input) {
    Players[0].setSpeed(paddleSpeed(input.up[0], input.down[0]));
    if (numPlayers == 2)
        Players[1].setSpeed(paddleSpeed(input.up[1], input.down[1]));
    else if (numPlayers == 1)
        aiUpdate();

    if (TavrelBall.isPaused() != 0)
        chooseServeDirection();

    if (input.leave)
        quitFlag = -1;
}

void aiUpdate() {
    const SDL_Rect &paddle = Players[1].worldRect;
    const SDL_Rect &ball = TavrelBall.worldRect;
    const int paddleCentre = paddle.y + paddle.h / 2;
    const int ballCentre = ball.y + ball.h / 2;
    int speed = abs(paddleCentre - ballCentre);
    if (speed > AI_MAX_SPEED)
        speed = AI_MAX_SPEED;

    const int target = TavrelBall.isPaused() != 0 ? AI_TARGET_WHILE_WAITING : ballCentre;
    if (paddleCentre > target)
        speed = -speed;
    else if (paddleCentre == target)
        speed = 0;
    Players[1].setSpeed(speed);
}

FrameSounds stepMatch(int elapsedMs) {
    constexpr FrameSounds RETURNS = SOUND_HIT_LEFT | SOUND_HIT_RIGHT;
    if (elapsedMs <= LONGEST_SINGLE_STEP_MS)
        return stepOnce(elapsedMs);
    // A long frame moves as one step, as it always did, unless the ball would
    // then pass a paddle that shorter steps find on its way.
    const MatchSnapshot before = saveMatch();
    const FrameSounds inOneStep = stepOnce(elapsedMs);
    if ((inOneStep & RETURNS) != 0)
        return inOneStep;
    const MatchSnapshot afterOneStep = saveMatch();
    restoreMatch(before);
    const FrameSounds inParts = stepInParts(elapsedMs);
    timeScaler = static_cast<float>(elapsedMs) / MS_PER_TIME_UNIT;
    if ((inParts & RETURNS) != 0)
        return inParts;
    restoreMatch(afterOneStep);
    return inOneStep;
}

void checkWinConditions() {
    if (Players[0].getScore() >= WINNING_SCORE)
        quitFlag = 1;
    if (Players[1].getScore() >= WINNING_SCORE)
        quitFlag = 2;
}
