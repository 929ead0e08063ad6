// One match on the screen, from loading to release.
#include "game.h"

#include <SDL_image.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "desktop.h"
#include "failure.h"
#include "init.h"
#include "input.h"
#include "pace.h"
#include "page.h"
#include "randgen.h"
#include "replay.h"
#include "sound.h"
#include "view.h"

namespace {
constexpr const char *GAME_BACKGROUND_PATH = "img/game.png";
constexpr const char *SPRITE_SHEET_PATH = "img/game-sprites.png";
constexpr const char *BOUNCE_SOUND_PATH = "snd/bounce.wav";

constexpr Uint32 GAME_OVER_HOLD_MS = 5000;
// During the hold the window still answers its close button and F11 this often.
constexpr Uint32 GAME_OVER_POLL_MS = 50;

// Score texts: the left starts at column 112, one row above the screen; the
// right ends at column 207 (mirrored about column 160).
constexpr int LEFT_SCORE_X = 112;
constexpr int LEFT_SCORE_Y = -1;
constexpr int RIGHT_SCORE_END_X = SCREEN_WIDTH - LEFT_SCORE_X;
constexpr int RIGHT_SCORE_Y = 0;

// Regions of the sprite sheet.
constexpr SDL_Rect WIDE_FACEOFF_BANNER = {1, 127, 139, 27};   // "GET READY"
constexpr SDL_Rect SHORT_FACEOFF_BANNER = {142, 127, 83, 27}; // "GAME"
constexpr SDL_Rect HOLD_BANNER = {227, 127, 119, 27};         // "PAUSED", in the middle
constexpr int FACEOFF_BOTTOM_Y = 238;
constexpr SDL_Rect GAME_OVER_TILE = {23, 102, 11, 11};
constexpr SDL_Rect GAME_OVER_BANNER = {49, 1, 349, 27};
constexpr int GAME_OVER_BANNER_X = -14;
constexpr int GAME_OVER_BANNER_Y = 88;
// Player 1's winner banner; player 2's lies one banner row (28) above it.
constexpr SDL_Rect PLAYER1_WINS_BANNER = {49, 58, 349, 27};
constexpr int WINNER_BANNER_ROW_STEP = 28;
constexpr int WINNER_BANNER_X = 0;
constexpr int WINNER_BANNER_Y = 152;

// Draws a region of an image with its top-left corner at (x, y). The blit
// cuts what lies off the screen and writes what it drew back into dest.
void blitRegion(SDL_Surface *image, const SDL_Rect &region, int x, int y) {
    src = region;
    dest = {static_cast<Sint16>(x), static_cast<Sint16>(y), region.w, region.h};
    SDL_BlitSurface(image, &src, screen, &dest);
}

SDL_Rect wholeImage(const SDL_Surface *image) {
    return {0, 0, static_cast<Uint16>(image->w), static_cast<Uint16>(image->h)};
}

// The image converted once to the screen's pixel format (keeping its alpha),
// so that every frame's blits are plain copies instead of conversions; the
// image as loaded when the conversion fails.
SDL_Surface *inScreenFormat(SDL_Surface *image) {
    SDL_Surface *converted =
        image->format->Amask != 0 ? SDL_DisplayFormatAlpha(image) : SDL_DisplayFormat(image);
    if (converted == nullptr)
        return image;
    SDL_FreeSurface(image);
    return converted;
}

// Loads "snd/bounce.wav" as a chunk of its own into a record on a channel.
Status loadBounceSound(SND_Data &sound, int channel) {
    sound.chunk = Mix_LoadWAV(BOUNCE_SOUND_PATH);
    if (sound.chunk == nullptr)
        return {std::string("Mix_LoadWAV error occurred: ") + SDL_GetError()};
    sound.volume = EFFECT_VOLUME;
    sound.distance = 0;
    sound.angle = 0;
    sound.channel = channel;
    sound.loops = 0;
    return {};
}

// Renders one player's score, replacing that side's surface of the last
// frame. Null when the font cannot render it: that side then shows nothing.
SDL_Surface *renderScore(int player) {
    char text[16];
    snprintf(text, sizeof text, "%i", Players[player].getScore());
    SDL_Surface *rendered = TTF_RenderText_Solid(font, text, txtClr);
    SDL_FreeSurface(scoreText[player]);
    scoreText[player] = rendered;
    return rendered;
}

// Holds the game-over picture for GAME_OVER_HOLD_MS, or until the player
// closes the window.
void holdGameOver() {
    const Uint32 start = SDL_GetTicks();
    for (;;) {
        handlePendingEvents();
        const Uint32 held = SDL_GetTicks() - start;
        if (closeRequested || held >= GAME_OVER_HOLD_MS)
            return;
        SDL_Delay(std::min(GAME_OVER_POLL_MS, GAME_OVER_HOLD_MS - held));
    }
}

void drawPaddlesAt(const MatchView &view) {
    for (int side = 0; side < 2; ++side) {
        const Player &paddle = Players[side];
        blitRegion(sprites, paddle.spriteRect, paddle.worldRect.x, view.paddleY[side]);
    }
}

void drawBallAt(const MatchView &view) {
    blitRegion(sprites, TavrelBall.spriteRect, view.ballX, view.ballY);
}

// Every layer of the match's picture, bottom first, the paddles and the ball
// where the view has them, without presenting it.
void drawFrameLayers(const MatchView &view) {
    drawBackground();
    drawHUD();
    drawPaddlesAt(view);
    drawBallAt(view);
    if (TavrelBall.isPaused() != 0)
        drawFaceoff();
}

// Whether the window went away (windowAway), the events read now.
bool windowWentAway() {
    handlePendingEvents();
    return windowAway;
}

// The match as it stopped, with the "PAUSED" banner over the field.
void drawOnHold(const MatchView &shown) {
    drawFrameLayers(shown);
    drawCentredBanner(HOLD_BANNER, SCREEN_HEIGHT / 2 - HOLD_BANNER.h / 2);
    SDL_Flip(screen);
}

void releaseMatchAssets() {
    Mix_FreeChunk(hitSound.chunk);
    hitSound.chunk = nullptr;
    Mix_FreeChunk(wallSound.chunk);
    wallSound.chunk = nullptr;
    for (SDL_Surface *&text : scoreText) {
        SDL_FreeSurface(text);
        text = nullptr;
    }
    SDL_FreeSurface(bgGame);
    bgGame = nullptr;
    SDL_FreeSurface(sprites);
    sprites = nullptr;
}
} // namespace

void startGame() {
    // A local match goes on from the generator's state.
    const MatchStart start = {randomSeed(), static_cast<uint8_t>(numPlayers),
                              static_cast<uint8_t>(ballType)};
    if (const Status loaded = beginMatch(); !loaded.ok()) {
        // A match that cannot be played ends the game where it stands, as it
        // always has: nothing is shut down and no closing line is printed.
        puts(loaded.error.c_str());
        exit(1);
    }
    startMatch(start);
    steerByTouch({numPlayers == 2, 0});
    recordMatchStart(start);
    tellPage(PageEvent::MatchBegan);
    // The pictures show the match between its last two frames (natively the
    // last: the frame that ends the match is still drawn before the loop
    // tests the flag).
    MatchPace pace;
    while (quitFlag == 0) {
        bool due = pace.waitForFrame(msUntilNextFrame);
        // In the browser the pace wakes at each refresh, between frames: a
        // window gone away meanwhile (a hidden tab) takes the next frame now,
        // whose hold stops the match before another picture moves it on.
        if (!due && windowWentAway()) {
            pace.takeFrameNow();
            due = true;
        }
        if (due) {
            waitForNextFrame(); // its time has come: this marks the frame's start
            const FrameInput input = holdMatch(readFrameInput(), pace.shown());
            const int elapsedMs = measureFrameMs();
            recordFrame(input, elapsedMs);
            playMatchSounds(runFrame(input, elapsedMs));
        }
        pace.present();
    }
    recordMatchEnd();
    endMatch();
}

Status beginMatch() {
    if (loadImages() != 0)
        return {"Error loading images. Aborting."};
    if (loadSounds() != 0)
        return {"Error loading sounds. Aborting."};
    windowAway = false; // the menu carries on without the focus; only the match holds
    return {};
}

void endMatch() {
    const bool won = quitFlag == 1 || quitFlag == 2;
    tellPage(PageEvent::MatchEnded, won ? std::to_string(quitFlag) : "");
    if (quitFlag == 1)
        drawGameOver(0);
    else if (quitFlag == 2)
        drawGameOver(1);

    waitUntilSilent();
    releaseMatchAssets();
}

int loadImages() {
    bgGame = IMG_Load(GAME_BACKGROUND_PATH);
    if (bgGame == nullptr) {
        puts("Unable to load a necessary PNG file.");
        return 1;
    }
    sprites = IMG_Load(SPRITE_SHEET_PATH);
    if (sprites == nullptr) {
        puts("Unable to load a necessary PNG file.");
        return 1;
    }
    bgGame = inScreenFormat(bgGame);
    sprites = inScreenFormat(sprites);
    return 0;
}

int loadSounds() {
    for (const auto &[sound, channel] :
         {std::pair{&hitSound, HIT_CHANNEL}, std::pair{&wallSound, WALL_CHANNEL}}) {
        if (const Status loaded = loadBounceSound(*sound, channel); !loaded.ok()) {
            puts(loaded.error.c_str());
            return 1;
        }
    }
    return 0;
}

FrameInput holdMatch(FrameInput input, const MatchView &shown) {
    if (!input.hold && !windowAway)
        return input;
    drawOnHold(shown);
    tellPage(PageEvent::MatchHeld);
    windowNeedsRedraw = false;
    // Nothing moves and nothing is drawn until the player takes the match off
    // hold or leaves: the loop only reads the keys and pads once a period.
    do {
        waitForNextFrame();
        input = readFrameInput();
        if (windowNeedsRedraw) {
            SDL_Flip(screen); // the screen still holds the picture on hold
            windowNeedsRedraw = false;
        }
    } while (!input.hold && !input.leave);
    windowAway = false;  // a focus lost while on hold asks for nothing more
    restartFrameClock(); // the next frame counts from now, as a match's first
    tellPage(PageEvent::MatchResumed);
    return input;
}

void updateInputs() { applyInputs(readFrameInput()); }

void updateState() { playMatchSounds(stepMatch(measureFrameMs())); }

void drawScreen() { drawMatch(viewOfMatch()); }

void drawMatch(const MatchView &view) {
    drawFrameLayers(view);
    SDL_Flip(screen);
}

void drawBackground() { blitRegion(bgGame, wholeImage(bgGame), 0, 0); }

void drawHUD() {
    if (SDL_Surface *left = renderScore(0))
        blitRegion(left, wholeImage(left), LEFT_SCORE_X, LEFT_SCORE_Y);
    if (SDL_Surface *right = renderScore(1))
        blitRegion(right, wholeImage(right), RIGHT_SCORE_END_X - right->w, RIGHT_SCORE_Y);
}

// Drawing works on copies of the objects' places (a view), so a cut at the
// screen's edge never changes a position in the game.
void drawPlayers() { drawPaddlesAt(viewOfMatch()); }

void drawBall() { drawBallAt(viewOfMatch()); }

void drawFaceoff() {
    // "GET READY" during a wait; "GAME" once a player has won (and for a
    // countdown above 3, which no match reaches).
    const bool matchGoesOn =
        Players[0].getScore() < WINNING_SCORE && Players[1].getScore() < WINNING_SCORE;
    const SDL_Rect &banner =
        TavrelBall.isPaused() < 4 && matchGoesOn ? WIDE_FACEOFF_BANNER : SHORT_FACEOFF_BANNER;
    drawCentredBanner(banner, FACEOFF_BOTTOM_Y - banner.h);
}

void drawCentredBanner(const SDL_Rect &banner, int y) {
    blitRegion(sprites, banner, SCREEN_WIDTH / 2 - banner.w / 2, y);
}

void drawGameOver(int winner) {
    for (int x = 0; x < SCREEN_WIDTH; x += GAME_OVER_TILE.w)
        for (int y = 0; y < SCREEN_HEIGHT; y += GAME_OVER_TILE.h)
            blitRegion(sprites, GAME_OVER_TILE, x, y);
    blitRegion(sprites, GAME_OVER_BANNER, GAME_OVER_BANNER_X, GAME_OVER_BANNER_Y);

    SDL_Rect winnerBanner = PLAYER1_WINS_BANNER;
    winnerBanner.y = static_cast<Sint16>(winnerBanner.y - WINNER_BANNER_ROW_STEP * winner);
    blitRegion(sprites, winnerBanner, WINNER_BANNER_X, WINNER_BANNER_Y);

    SDL_Flip(screen);
    holdGameOver();
}
