// One match on the screen: loading its assets, the frame loop (controls,
// update, win check, drawing), the game-over screen, and releasing
// everything at the end. The rules it runs are the match's own (match.h).
#pragma once

#include <SDL.h>

#include "clock.h"
#include "failure.h"
#include "input.h"
#include "match.h"
#include "view.h"

// Runs one match with numPlayers at 1 or 2 and returns when it has ended and
// its assets are released. Ends the process with status 1 when an asset
// cannot be loaded.
void startGame();
// The screen's side of every match, whatever feeds its frames (the local
// match, a replay, the online match): beginMatch loads the match's assets
// before the match starts (startMatch), and fails with the line that ends
// the game ("Error loading images. Aborting.", after loadImages' own line)
// when one cannot be loaded: its caller prints it and ends. endMatch shows
// the game-over screen when a player has won, waits for silent channels and
// releases the assets.
Status beginMatch();
void endMatch();
// Loads the field and the sprite sheet. 0, or 1 after printing a line.
int loadImages();
// Loads the bounce sound twice, for the paddle hit and the wall. 0, or 1.
int loadSounds();

// ---- One pass of the match loop, in its order: the pace's wait (pace.h:
// until the next frame is due or, in the browser, the display refreshes);
// when the frame is due, waitForNextFrame (at once: it marks the frame's
// start), holdMatch on the commands read (readFrameInput), measureFrameMs,
// recordFrame, runFrame (the rules: applyInputs, stepMatch,
// checkWinConditions) and playMatchSounds; then the pace's picture
// (drawMatch, natively of the frame just run).
// The players' pause of the match (not the ball's serve wait, Ball::isPaused):
// when the commands ask for a hold or the window went away (windowAway),
// draws the match as the last picture showed it (shown) with a "PAUSED"
// banner and reads the commands once a frame period, drawing nothing more
// unless the window needs it, until a hold press takes it off hold or the
// player leaves. Then the frame clock restarts (restartFrameClock) and those
// last commands are returned; otherwise the given ones, at once.
FrameInput holdMatch(FrameInput input, const MatchView &shown);
// A pass's steps as the game has always named them, for whoever drives a
// match step by step (the loop above runs them as one, through runFrame):
// updateInputs reads the commands and applies them (paddle speeds or the
// computer's, the serve direction while the ball waits, Escape); updateState
// measures the frame's time factor, moves paddles and ball, scores points and
// returns the ball from the paddles (stepMatch), and plays the frame's
// sounds; checkWinConditions (match.h) then looks for a winner.
void updateInputs();
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
