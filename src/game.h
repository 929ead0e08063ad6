// One match: loading its assets, the frame loop (controls, update, win check,
// drawing), the game-over screen, and releasing everything at the end.
#pragma once

// Runs one match with numPlayers at 1 or 2 and returns when it has ended and
// its assets are released. Ends the process with status 1 when an asset
// cannot be loaded.
void startGame();
// Loads the field and the sprite sheet. 0, or 1 after printing a line.
int loadImages();
// Loads the bounce sound twice, for the paddle hit and the wall. 0, or 1.
int loadSounds();

// ---- One frame, in the order the loop runs it
// Reads the keys: paddle speeds (or the computer's), the serve direction while
// the ball waits, and Escape.
void updateInputs();
// The computer's rule for the right paddle in a one-player match.
void aiUpdate();
// Measures the frame's time factor, moves paddles and ball, scores points and
// returns the ball from the paddles, with sounds.
void updateState();
// Sets quitFlag to the winner (1 or 2) once a score reaches five.
void checkWinConditions();
// Draws one frame and presents it.
void drawScreen();

// ---- The layers of a frame, bottom first; called only by drawScreen
void drawBackground();
void drawHUD();
void drawPlayers();
void drawBall();
void drawFaceoff();

// Tiles the screen, names the winner (0 player 1, 1 player 2) and holds the
// picture for five seconds.
void drawGameOver(int winner);
