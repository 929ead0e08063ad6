// The main menu between matches.
#include "menu.h"

#include <SDL_image.h>
#include <cstdio>
#include <string>

#include "desktop.h"
#include "failure.h"
#include "init.h"
#include "input.h"
#include "page.h"
#include "sound.h"

namespace {
constexpr const char *MENU_BACKGROUND_PATH = "img/menu.png";
constexpr const char *MENU_HIGHLIGHTS_PATH = "img/menu-opts.png";
constexpr const char *MENU_SOUND_PATH = "snd/menu-opt.wav";

constexpr int ENTRY_COUNT = 3;
constexpr int ENTRY_LEAVE = 2;
// Entries stand 33 rows apart, in the highlight image and on the screen alike.
constexpr int ENTRY_SCREEN_X = 63;
constexpr int FIRST_ENTRY_SCREEN_Y = 78;
constexpr int ENTRY_SPACING = 33;
constexpr int ENTRY_BAND_HEIGHT = 16;
constexpr Uint8 MENU_SOUND_DISTANCE = 100;
// The ball that img/menu.png shows beside the title: a tap on it, or this
// many pixels around it, steps to the next ball.
constexpr SDL_Rect MENU_BALL = {270, 60, 12, 12};
constexpr int BALL_TOUCH_MARGIN = 8;

// What confirming each entry leaves in numPlayers.
constexpr int ENTRY_CHOICE[ENTRY_COUNT] = {1, 2, 0};

struct Band {
    int x, y, height;
};

void releaseMenuAssets(Mix_Chunk *chunk) {
    Mix_FreeChunk(chunk);
    SDL_FreeSurface(bgMenu);
    bgMenu = nullptr;
    SDL_FreeSurface(menuOpts);
    menuOpts = nullptr;
}

// Loads the menu's images into bgMenu and menuOpts, and its move sound;
// fails with the line that says which kind could not be loaded.
Result<Mix_Chunk *> loadMenuAssets() {
    bgMenu = IMG_Load(MENU_BACKGROUND_PATH);
    menuOpts = IMG_Load(MENU_HIGHLIGHTS_PATH);
    if (bgMenu == nullptr || menuOpts == nullptr)
        return {nullptr, "Unable to load a necessary PNG file."};
    Mix_Chunk *chunk = Mix_LoadWAV(MENU_SOUND_PATH);
    if (chunk == nullptr)
        return {nullptr, "Unable to load a necessary sound file."};
    return {chunk, ""};
}

// Down wins when both arrows are held; the cursor wraps both ways.
int movedCursor(int cursor, const MenuInput &input) {
    const int step = input.down ? 1 : ENTRY_COUNT - 1;
    return (cursor + step) % ENTRY_COUNT;
}

// Whether a point lies in the rectangle (x, y, w, h) grown by marginX
// columns and marginY rows on every side.
bool within(const ScreenPoint &point, int x, int y, int w, int h, int marginX, int marginY) {
    return point.x >= x - marginX && point.x < x + w + marginX && point.y >= y - marginY &&
           point.y < y + h + marginY;
}

bool isEntry(int touched) { return touched >= 0 && touched < ENTRY_COUNT; }

// The menu's picture never shows the ball chosen: the page does, for a finger.
void tellBall() { tellPage(PageEvent::BallChosen, std::to_string(ballType)); }

void stepBall() {
    ballType = (ballType + 1) % BALL_TYPES;
    tellBall();
}
} // namespace

int showMenu() {
    puts("Showing menu now");
    tellPage(PageEvent::MenuShown);
    openPads(); // a pad plugged in since the last menu counts from now
    const Result<Mix_Chunk *> loaded = loadMenuAssets();
    if (!loaded.ok()) {
        // The program leaves after this menu, as after QUIT.
        puts(loaded.error.c_str());
        releaseMenuAssets(nullptr);
        numPlayers = 0;
        return 1;
    }
    Mix_Chunk *chunk = loaded.value;
    SND_Data menuSound = {EFFECT_VOLUME, MENU_SOUND_DISTANCE, 0, chunk, MENU_CHANNEL, 0};

    src = {0, 0, static_cast<Uint16>(bgMenu->w), static_cast<Uint16>(bgMenu->h)};
    dest = src;
    SDL_BlitSurface(bgMenu, &src, screen, &dest);
    switchOption(0);

    tellBall();
    quitFlag = 0;
    int cursor = 0;
    const auto moveTo = [&](int entry) {
        cursor = entry;
        switchOption(cursor);
        playEffect(menuSound);
    };
    // An arrow already down when the menu opens must be released first.
    bool arrowHeld = true;
    // So must a finger: one on the screen when the menu opens, or lifted
    // since the match, chooses nothing.
    bool fingerHeld = true;
    // The entry highlighted when the finger now on the screen was put down:
    // a finger leaves only from a QUIT already highlighted, so that no
    // stray tap ends the game.
    bool fingerDown = false;
    int litWhenPutDown = cursor;
    while (quitFlag == 0) {
        waitForNextFrame();
        const MenuInput input = readMenuInput();

        if (input.choose) {
            numPlayers = ENTRY_CHOICE[cursor];
            quitFlag = 1;
        }
        // Closing the window leaves as QUIT does.
        if (closeRequested) {
            numPlayers = ENTRY_CHOICE[ENTRY_LEAVE];
            quitFlag = 1;
        }
        // Steps once for every pass the key is down, not once per press.
        if (input.nextBall)
            stepBall();

        if (!input.up && !input.down) {
            arrowHeld = false;
        } else if (!arrowHeld) {
            moveTo(movedCursor(cursor, input));
            arrowHeld = true;
        }

        if (fingerHeld) {
            fingerHeld = input.pointing;
        } else {
            // The highlight follows the finger; a finger lifted from an
            // entry chooses it (QUIT only when it was highlighted before
            // the finger came down), from the ball steps to the next ball.
            if (!fingerDown)
                litWhenPutDown = cursor;
            fingerDown = input.pointing;
            const int pointed = input.pointing ? menuTouchAt(input.pointedAt) : TOUCHES_NOTHING;
            const int tapped = input.lifted ? menuTouchAt(input.liftedAt) : TOUCHES_NOTHING;
            const int lit = isEntry(tapped) ? tapped : pointed;
            if (isEntry(lit) && lit != cursor)
                moveTo(lit);
            const bool leaveConfirmed = tapped != ENTRY_LEAVE || litWhenPutDown == ENTRY_LEAVE;
            if (isEntry(tapped) && leaveConfirmed && quitFlag == 0) {
                numPlayers = ENTRY_CHOICE[tapped];
                quitFlag = 1;
            }
            if (tapped == TOUCHES_THE_BALL)
                stepBall();
        }
        SDL_Flip(screen);
    }

    waitUntilSilent(); // the last move sound finishes before its chunk is freed
    releaseMenuAssets(chunk);
    puts("Exiting menu.");
    return 0;
}

void switchOption(int option) {
    const Uint16 bandWidth = static_cast<Uint16>(menuOpts->w);
    const int lastBandHeight = menuOpts->h - ENTRY_LEAVE * ENTRY_SPACING;
    const Band sourceBands[ENTRY_COUNT] = {{0, 0, ENTRY_BAND_HEIGHT},
                                           {0, ENTRY_SPACING, ENTRY_BAND_HEIGHT},
                                           {0, 2 * ENTRY_SPACING, lastBandHeight}};
    const Band screenBands[ENTRY_COUNT] = {
        {ENTRY_SCREEN_X, FIRST_ENTRY_SCREEN_Y, ENTRY_BAND_HEIGHT},
        {ENTRY_SCREEN_X, FIRST_ENTRY_SCREEN_Y + ENTRY_SPACING, ENTRY_BAND_HEIGHT},
        {ENTRY_SCREEN_X, FIRST_ENTRY_SCREEN_Y + 2 * ENTRY_SPACING, lastBandHeight}};

    // dest still holds what the previous blit drew: the last highlight, or
    // the whole background on the first call.
    SDL_BlitSurface(bgMenu, &dest, screen, &dest);

    const Band &from = sourceBands[option];
    const Band &to = screenBands[option];
    src = {static_cast<Sint16>(from.x), static_cast<Sint16>(from.y), bandWidth,
           static_cast<Uint16>(from.height)};
    dest = {static_cast<Sint16>(to.x), static_cast<Sint16>(to.y), bandWidth,
            static_cast<Uint16>(to.height)};
    SDL_BlitSurface(menuOpts, &src, screen, &dest);
}

int menuTouchAt(const ScreenPoint &point) {
    for (int entry = 0; entry < ENTRY_COUNT; ++entry) {
        // Only where the entry is drawn: nothing beside it (a page's hints
        // over the picture's foot, say) chooses it.
        if (within(point, ENTRY_SCREEN_X, FIRST_ENTRY_SCREEN_Y + entry * ENTRY_SPACING, menuOpts->w,
                   ENTRY_BAND_HEIGHT, 0, 0))
            return entry;
    }
    if (within(point, MENU_BALL.x, MENU_BALL.y, MENU_BALL.w, MENU_BALL.h, BALL_TOUCH_MARGIN,
               BALL_TOUCH_MARGIN))
        return TOUCHES_THE_BALL;
    return TOUCHES_NOTHING;
}
