// One match on the screen: loading its assets, the frame loop (controls,
// update, win check, drawing), the game-over screen, and releasing
// everything at the end. The rules it runs are the match's own (match.h).
#pragma once

#include <SDL.h>

#include "clock.h"
#include "input.h"
#include "match.h"
#include "view.h"

// Runs one match with numPlayers at 1 or 2 and returns when it has ended and
// its assets are released. Ends the process with status 1 when an asset
// cannot be loaded.
void startGame();
// The screen's side of every match, whatever feeds its frames: loads the
// match's assets (ending the process with status 1 when one is missing)
// before the match starts (startMatch); then the game-over screen when a
// player has won, the wait for silent channels and the release.
void beginMatch();
void endMatch();
// Loads the field and the sprite sheet. 0, or 1 after printing a line.
int loadImages();
// Loads the bounce sound twice, for the paddle hit and the wall. 0, or 1.
int loadSounds();

// ---- One frame, in the order the loop runs it
// The players' pause of the match (not the ball's serve wait, Ball::isPaused):
// when the commands ask for a hold or the window went away (windowAway),
// draws the stopped frame with a "PAUSED" banner and reads the commands once
// a frame period, drawing nothing more unless the window needs it, until a
// hold press takes it off hold or the player leaves. Then the frame clock
// restarts (resetGame) and those last commands are returned; otherwise the
// given ones, at once.
FrameInput holdMatch(FrameInput input);
// Reads the keys: paddle speeds (or the computer's), the serve direction while
// the ball waits, and Escape.
void updateInputs();
// Measures the frame's time factor, moves paddles and ball, scores points and
// returns the ball from the paddles (stepMatch), and plays the frame's sounds.
void updateState();
// Draws one frame and presents it.
void drawScreen();
// Draws the match with its paddles and ball where the view has them (the
// score, the serve's banner and all else as the match stands) and presents
// it: drawScreen's picture for the match's own view.
void drawMatch(const MatchView &view);

// ---- The layers of a frame, bottom first (drawScreen draws them all; the
// online match's waits draw the background and a banner)
void drawBackground();
void drawHUD();
void drawPlayers();
void drawBall();
void drawFaceoff();
// A banner of the sprite sheet across the middle of the screen, its top at
// row y: the serve's, the pause's and the online match's waits.
void drawCentredBanner(const SDL_Rect &banner, int y);

// Tiles the screen, names the winner (0 player 1, 1 player 2) and holds the
// picture for five seconds.
void drawGameOver(int winner);
