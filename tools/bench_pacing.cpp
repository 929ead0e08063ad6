// Frame pacing benchmark: runs the real match loop (startGame) on the real
// clock for a few seconds and measures how fast the ball and the left paddle
// actually move and the mean frame period. Not a test: timings depend on the
// machine. (The CPU share the README gives is the real game's under Xvfb,
// which tools/benchmark.py measures.)
//
// Build and run (not part of the default build; it changes into the
// repository root by itself):
//   cmake --build build --target bench-pacing && build/bench-pacing [seconds]
// The default run lasts 8 seconds. Video goes to SDL's dummy driver and sound
// to the disk driver in real time (SDL_DISKAUDIODELAY=93, into /dev/null).
//
// SDL_Flip is wrapped (the linker's --wrap) to sample the ball and the left
// paddle after every frame, to steer the left paddle up and down between its
// bounds through the key state, to keep the scores below five so the match
// never ends with a winner, and to end the match (quitFlag = -1) when the time
// is up. The computer plays the right paddle. Exit status 0 when both speeds
// are within 10 % of nominal, else 1.
#include <SDL.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "ball.h"
#include "game.h"
#include "init.h"
#include "player.h"
#include "randgen.h"

namespace {
using Clock = std::chrono::steady_clock;

constexpr double SPEED_TOLERANCE = 0.10;
// The unit of BALL_SERVE_SPEED and PADDLE_SPEED (pixels per 60 ms); the
// game's own constant is private to game.cpp.
constexpr double MS_PER_TIME_UNIT = 60.0;
// The left paddle's travel with the match layout.
constexpr Sint16 PADDLE_TOP_Y = 7;
constexpr Sint16 PADDLE_BOTTOM_Y = 187;

double runSeconds = 8.0;
Clock::time_point matchStart;

// The state after one frame.
struct Sample {
    Clock::time_point at;
    Sint16 ballX;
    double ballSpeedX, ballSpeedY, ballPause;
    Sint16 paddleY;
};
bool havePrevious = false;
Sample previous;

long frames = 0; // frame periods measured (flip to flip)
double framesMs = 0.0;
long ballFrames = 0;
double ballMs = 0.0, ballPixels = 0.0;
long paddleFrames = 0;
double paddleMs = 0.0, paddlePixels = 0.0;

Sample sampleNow() {
    return {Clock::now(),      TavrelBall.worldRect.x, TavrelBall.speedX,
            TavrelBall.speedY, TavrelBall.pauseTime,   Players[0].worldRect.y};
}

// Holds the up arrow until the paddle stops at the top, then the down arrow
// until it stops at the bottom, and so on.
void steerLeftPaddle(Sint16 y) {
    Uint8 *keys = SDL_GetKeyState(nullptr);
    if (y <= PADDLE_TOP_Y) {
        keys[SDLK_UP] = 0;
        keys[SDLK_DOWN] = 1;
    } else if (y >= PADDLE_BOTTOM_Y) {
        keys[SDLK_DOWN] = 0;
        keys[SDLK_UP] = 1;
    } else if (!keys[SDLK_UP] && !keys[SDLK_DOWN]) {
        keys[SDLK_UP] = 1;
    }
}

void measureFrame(const Sample &now) {
    const double ms = std::chrono::duration<double, std::milli>(now.at - previous.at).count();
    ++frames;
    framesMs += ms;

    // The ball in play throughout the frame, with no bounce and no re-serve:
    // any bounce changes a speed, a re-serve starts a new wait.
    const bool ballMovedFreely = previous.ballPause <= 0.0 && now.ballPause <= 0.0 &&
                                 previous.ballSpeedX == now.ballSpeedX &&
                                 previous.ballSpeedY == now.ballSpeedY;
    if (ballMovedFreely) {
        ++ballFrames;
        ballMs += ms;
        ballPixels += std::abs(now.ballX - previous.ballX);
    }
    // The paddle was not stopped at a bound in this frame.
    const bool paddleMovedFreely = now.paddleY > PADDLE_TOP_Y && now.paddleY < PADDLE_BOTTOM_Y;
    if (paddleMovedFreely) {
        ++paddleFrames;
        paddleMs += ms;
        paddlePixels += std::abs(now.paddleY - previous.paddleY);
    }
}

bool withinTolerance(double measured, double nominal) {
    return std::abs(measured - nominal) <= nominal * SPEED_TOLERANCE;
}
} // namespace

extern "C" int __real_SDL_Flip(SDL_Surface *screen);

extern "C" int __wrap_SDL_Flip(SDL_Surface *surface) {
    const int result = __real_SDL_Flip(surface);
    const Sample now = sampleNow();
    if (havePrevious)
        measureFrame(now);
    previous = now;
    havePrevious = true;

    steerLeftPaddle(now.paddleY);
    Players[0].score = 0.0; // no winner: the match runs until the time is up
    Players[1].score = 0.0;
    if (std::chrono::duration<double>(now.at - matchStart).count() >= runSeconds)
        quitFlag = -1;
    return result;
}

int main(int argc, char **argv) {
    if (argc > 1)
        runSeconds = std::atof(argv[1]);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    setenv("SDL_DISKAUDIODELAY", "93", 1); // one 4096-sample buffer in real time
    if (chdir(KORRIN_SOURCE_DIR) != 0) {
        perror(KORRIN_SOURCE_DIR);
        return 1;
    }
    initRandom();
    if (initGame() != 0)
        return 1;
    numPlayers = 1;

    matchStart = Clock::now();
    startGame();
    const double wallSeconds = std::chrono::duration<double>(Clock::now() - matchStart).count();
    quitGame();

    const double ballSpeed = ballMs > 0 ? ballPixels / ballMs * MS_PER_TIME_UNIT : 0.0;
    const double paddleSpeed = paddleMs > 0 ? paddlePixels / paddleMs * MS_PER_TIME_UNIT : 0.0;
    const bool ballOk = withinTolerance(ballSpeed, BALL_SERVE_SPEED);
    const bool paddleOk = withinTolerance(paddleSpeed, PADDLE_SPEED);

    printf("frames:            %ld in %.2f s\n", frames + 1, wallSeconds);
    printf("mean frame period: %.2f ms\n", frames > 0 ? framesMs / frames : 0.0);
    printf("ball speed:        %.2f px per 60 ms (nominal %.0f, %ld frames) %s\n", ballSpeed,
           BALL_SERVE_SPEED, ballFrames, ballOk ? "ok" : "OUT OF RANGE");
    printf("paddle speed:      %.2f px per 60 ms (nominal %.0f, %ld frames) %s\n", paddleSpeed,
           PADDLE_SPEED, paddleFrames, paddleOk ? "ok" : "OUT OF RANGE");
    return ballOk && paddleOk ? 0 : 1;
}
