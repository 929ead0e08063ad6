// The rules of a match and the state they act on: the two paddles, the ball
// and the flags of the match; how a match starts and lays itself out, and one
// frame from its commands and its length. No screen, no sound device and no
// clock: a frame's sounds come out as events for the caller to play, and its
// length comes in as a number, so a match runs the same from the keys, a
// recording or the network.
#pragma once

#include <cstdint>

#include "ball.h"
#include "commands.h"
#include "player.h"

// ---- The two global game objects; they live for the whole run.
extern Player Players[2]; // [0] left paddle of player 1, [1] right paddle of player 2
extern Ball TavrelBall;

// ---- The state of the match
extern int quitFlag;     // the match's or menu's loop ends when it is not 0
extern int numPlayers;   // 0 leave, 1 against the computer, 2 two players
extern int ballType;     // ball sprite, 0 to BALL_TYPES - 1
extern float timeScaler; // this frame's milliseconds divided by MS_PER_TIME_UNIT
// Milliseconds in one unit of the time factor: speeds are in pixels per unit.
constexpr float MS_PER_TIME_UNIT = 60.0f;
extern int resetGame; // set at a match's start: the frame clock restarts

// What a frame sounded like: a set of these, played in this order.
enum FrameSound : uint8_t {
    SOUND_WALL = 1 << 0,     // the ball bounced off the top or bottom wall
    SOUND_HIT_LEFT = 1 << 1, // the left paddle returned the ball
    SOUND_HIT_RIGHT = 1 << 2,
};
using FrameSounds = uint8_t;

// The one way a match starts: the kind of match, the ball and the
// generator's state from start, quitFlag cleared and everything laid out.
void startMatch(const MatchStart &start);

// Clears scores and paddle speeds, asks the frame clock to restart and lays
// out paddles and ball. Called once at the start of every match.
void resetAll();
// Sprite regions and screen rectangles of both paddles and of the ball (with
// the ball sprite ballType), then serves the ball after the first pause.
void initPlayers();

// One whole frame of the rules from its commands and its length in
// milliseconds: applyInputs, stepMatch and checkWinConditions. Whether the
// commands come from the keys, a recording or the network, the same inputs
// give the same match.
FrameSounds runFrame(const FrameInput &input, int elapsedMs);
// Player 1's paddle speed from the commands, player 2's (two players) or the
// computer's (one player), the serve direction drawn while the ball waits,
// and quitFlag -1 to leave.
void applyInputs(const FrameInput &input);
// The computer's rule for the right paddle in a one-player match.
void aiUpdate();
// Moves paddles and ball through a frame of elapsedMs (timeScaler is
// elapsedMs / 60), scores points and returns the ball from the paddles;
// returns the frame's sounds. A frame longer than two frame periods that
// would carry the ball through a paddle is run in steps of at most one
// period instead, so that the paddle returns it.
FrameSounds stepMatch(int elapsedMs);
// Sets quitFlag to the winner (1 or 2) once a score reaches WINNING_SCORE.
void checkWinConditions();
