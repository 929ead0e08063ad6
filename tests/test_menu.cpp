// The main menu, driven pass by pass: the keys of each pass are set when the
// menu pumps its events, and what the pass drew and played is read when it
// flips the screen.
#include <gtest/gtest.h>

#include <SDL_image.h>

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

#include "harness.h"
#include "init.h"
#include "menu.h"
#include "sound.h"

namespace {
using Keys = std::vector<SDLKey>;

constexpr int BAND_SPACING = 33; // rows between two highlight bands in menu-opts.png
const std::vector<std::string> NORMAL_LINES = {"Showing menu now", "Exiting menu."};

// What one pass of the menu loop left behind.
struct Pass {
    int highlight = -1;      // the entry highlighted when the pass flipped
    int moves = 0;           // highlights drawn during the pass
    bool menuSound = false;  // the move sound was playing at the flip
    int channelsPlaying = 0; // Mix_Playing(-1) at the flip
    int ballType = 0;
    Uint32 flippedAt = 0; // the fake clock at the flip
};

// One menu run: its script, and what it showed and left behind.
struct MenuRun {
    std::vector<Keys> keys;           // the keys down in each pass; keys[0] are down at entry
    std::vector<TouchScreen> touches; // the touch screen in each pass (none past its end)
    bool silenceMenuSound = true;     // halt the move sound at every flip
    std::vector<Pass> passes;
    size_t passStart = 0; // index in fake::blits where the current pass began
    size_t scanned = 0;   // blits already read for the highlight
    int highlight = -1;
    SDL_Surface *background = nullptr; // bgMenu and menuOpts while the menu ran,
    SDL_Surface *highlights = nullptr; // and their sizes
    int backgroundW = 0, backgroundH = 0, highlightsW = 0, highlightsH = 0;
    std::vector<SDL_Surface *> surfacesLoaded, surfacesFreed;
    std::vector<Mix_Chunk *> chunksLoaded, chunksFreed;
    int status = -1;
    std::vector<std::string> lines;
};
MenuRun *run = nullptr; // the run in progress, shared with the SDL stand-ins below

// More passes than the script asks for end the menu by force, as a failure.
constexpr size_t EXTRA_PASSES_ALLOWED = 20;

// What two pads, open in every run, do, written among the keys of a pass:
// the first pad's d-pad up, the second's stick down, the second's A (the
// first face button), the first's B and the first's Start (raw layout).
const SDLKey PAD_UP = static_cast<SDLKey>(SDLK_LAST + 1);
const SDLKey PAD_DOWN = static_cast<SDLKey>(SDLK_LAST + 2);
const SDLKey PAD_A = static_cast<SDLKey>(SDLK_LAST + 3);
const SDLKey PAD_B = static_cast<SDLKey>(SDLK_LAST + 4);
const SDLKey PAD_START = static_cast<SDLKey>(SDLK_LAST + 5);
constexpr Sint16 STICK_HALF_WAY = 16384;

void holdOnly(const Keys &keys) {
    harness::releaseAllKeys();
    fake::pads.assign(2, fake::Pad{});
    for (SDLKey key : keys) {
        if (key == PAD_UP)
            fake::pads[0].hat = SDL_HAT_UP;
        else if (key == PAD_DOWN)
            fake::pads[1].stickY = STICK_HALF_WAY;
        else if (key == PAD_A)
            fake::pads[1].held.push_back(0);
        else if (key == PAD_B)
            fake::pads[0].held.push_back(1);
        else if (key == PAD_START)
            fake::pads[0].held.push_back(7);
        else
            harness::holdKey(key);
    }
}

// Runs one menu with the given keys (and touches) per pass and the fake clock.
MenuRun runMenu(const std::vector<Keys> &keys, bool silenceMenuSound = true,
                const std::vector<TouchScreen> &touches = {}) {
    harness::startGame();
    fake::reset();
    fake::clockIsFake = true;
    holdOnly({});
    MenuRun current;
    current.keys = keys;
    current.touches = touches;
    current.silenceMenuSound = silenceMenuSound;
    run = &current;
    harness::StdoutCapture out;
    current.status = showMenu();
    current.lines = out.lines();
    run = nullptr;
    harness::releaseAllKeys();
    fake::clockIsFake = false;
    return current;
}

// One field of every pass, e.g. column(run.passes, &Pass::highlight).
std::vector<int> column(const std::vector<Pass> &passes, int Pass::*field) {
    std::vector<int> values;
    for (const Pass &pass : passes)
        values.push_back(pass.*field);
    return values;
}

// Every change of highlight is one move with its sound, in the pass of the
// key press; a pass without a change draws nothing and plays nothing.
void expectOneMovePerChange(const std::vector<Pass> &passes) {
    int before = 0;
    for (size_t i = 0; i < passes.size(); ++i) {
        SCOPED_TRACE("pass " + std::to_string(i));
        const bool changed = passes[i].highlight != before;
        EXPECT_EQ(passes[i].moves, changed ? 1 : 0);
        EXPECT_EQ(passes[i].menuSound, changed);
        before = passes[i].highlight;
    }
}
} // namespace

// ---- Stand-ins put in place with the linker's --wrap
extern "C" {
void __real_SDL_PumpEvents(void);
int __real_SDL_Flip(SDL_Surface *screen);
SDL_Surface *__real_IMG_Load(const char *file);
void __real_SDL_FreeSurface(SDL_Surface *surface);
Mix_Chunk *__real_Mix_LoadWAV_RW(SDL_RWops *src, int freesrc);
void __real_Mix_FreeChunk(Mix_Chunk *chunk);

// The menu pumps events right before it reads the keys: set this pass's keys.
void __wrap_SDL_PumpEvents(void) {
    __real_SDL_PumpEvents();
    if (run == nullptr)
        return;
    const size_t pass = run->passes.size();
    run->passStart = fake::blits.size();
    fake::touch = pass < run->touches.size() ? run->touches[pass] : TouchScreen{};
    if (pass < run->keys.size()) {
        holdOnly(run->keys[pass]);
    } else {
        ADD_FAILURE() << "the menu is still open after its last scripted pass";
        holdOnly({SDLK_RETURN});
        if (pass > run->keys.size() + EXTRA_PASSES_ALLOWED)
            quitFlag = 1;
    }
}

// Called once at the end of every pass.
int __wrap_SDL_Flip(SDL_Surface *screen) {
    if (run != nullptr) {
        run->background = bgMenu;
        run->highlights = menuOpts;
        run->backgroundW = bgMenu->w;
        run->backgroundH = bgMenu->h;
        run->highlightsW = menuOpts->w;
        run->highlightsH = menuOpts->h;
        Pass pass;
        for (; run->scanned < fake::blits.size(); ++run->scanned) {
            const fake::Blit &blit = fake::blits[run->scanned];
            if (blit.source != menuOpts)
                continue;
            run->highlight = blit.sourceRect.y / BAND_SPACING;
            if (run->scanned >= run->passStart)
                ++pass.moves;
        }
        pass.highlight = run->highlight;
        pass.menuSound = Mix_Playing(MENU_CHANNEL) > 0;
        pass.channelsPlaying = Mix_Playing(-1);
        if (run->silenceMenuSound)
            Mix_HaltChannel(MENU_CHANNEL);
        pass.ballType = ballType;
        pass.flippedAt = fake::now;
        run->passes.push_back(pass);
    }
    return __real_SDL_Flip(screen);
}

SDL_Surface *__wrap_IMG_Load(const char *file) {
    SDL_Surface *surface = __real_IMG_Load(file);
    if (run != nullptr && surface != nullptr)
        run->surfacesLoaded.push_back(surface);
    return surface;
}

void __wrap_SDL_FreeSurface(SDL_Surface *surface) {
    if (run != nullptr && surface != nullptr)
        run->surfacesFreed.push_back(surface);
    __real_SDL_FreeSurface(surface);
}

Mix_Chunk *__wrap_Mix_LoadWAV_RW(SDL_RWops *src, int freesrc) {
    Mix_Chunk *chunk = __real_Mix_LoadWAV_RW(src, freesrc);
    if (run != nullptr && chunk != nullptr)
        run->chunksLoaded.push_back(chunk);
    return chunk;
}

void __wrap_Mix_FreeChunk(Mix_Chunk *chunk) {
    if (run != nullptr && chunk != nullptr)
        run->chunksFreed.push_back(chunk);
    __real_Mix_FreeChunk(chunk);
}
}

namespace {
template <typename T>
void expectAllReleased(const std::vector<T> &loaded, const std::vector<T> &freed) {
    for (T item : loaded)
        EXPECT_EQ(std::count(freed.begin(), freed.end(), item), 1) << "loaded and not freed once";
}

// One finger on the screen, or the last one just lifted.
TouchScreen on(ScreenPoint at) { return {1, {at}, false, {}, false, false, {}}; }
TouchScreen off(ScreenPoint at) { return {0, {}, true, at, false, false, {}}; }
} // namespace

// ---- The key table

TEST(MenuKeys, EachScriptEndsOnItsEntryAndChoice) {
    const SDLKey DOWN = SDLK_DOWN, UP = SDLK_UP, RETURN = SDLK_RETURN, LCTRL = SDLK_LCTRL;
    const Keys NO_KEYS;
    struct Case {
        const char *name;
        std::vector<Keys> keys;     // down in each pass
        std::vector<int> highlight; // entry highlighted after each pass
        int numPlayers;
        std::vector<TouchScreen> touches = {}; // in each pass
    } const cases[] = {
        {"down already held at entry waits for a release",
         {{DOWN}, {DOWN}, {}, {DOWN}, {RETURN}},
         {0, 0, 0, 1, 1},
         2},
        {"up already held at entry waits for a release",
         {{UP}, {}, {UP}, {RETURN}},
         {0, 0, 2, 2},
         0},
        {"holding down moves once",
         {{}, {DOWN}, {DOWN}, {DOWN}, {DOWN}, {DOWN, RETURN}},
         {0, 1, 1, 1, 1, 1},
         2},
        {"down wraps from the last entry to the first",
         {{}, {DOWN}, {}, {DOWN}, {}, {DOWN}, {}, {RETURN}},
         {0, 1, 1, 2, 2, 0, 0, 0},
         1},
        {"up wraps from the first entry to the last",
         {{}, {UP}, {}, {UP}, {LCTRL}},
         {0, 2, 2, 1, 1},
         2},
        {"down wins over up", {{}, {UP, DOWN}, {}, {RETURN}}, {0, 1, 1, 1}, 2},
        {"a second arrow while one is held does nothing",
         {{}, {UP}, {UP, DOWN}, {DOWN}, {}, {RETURN}},
         {0, 2, 2, 2, 2, 2},
         0},
        {"return already held at entry chooses one player", {{RETURN}}, {0}, 1},
        {"left ctrl already held at entry chooses one player", {{LCTRL}}, {0}, 1},
        {"the third entry leaves", {{}, {DOWN}, {}, {DOWN}, {LCTRL}}, {0, 1, 1, 2, 2}, 0},
        {"confirm with down takes the entry before the move", {{}, {DOWN, RETURN}}, {0, 1}, 1},
        {"confirm with up takes the entry before the move",
         {{}, {DOWN}, {}, {UP, LCTRL}},
         {0, 1, 1, 0},
         2},
        {"pads move as the arrows, once per push, down winning, and A chooses",
         {{}, {UP, PAD_DOWN}, {PAD_DOWN}, {}, {PAD_DOWN}, {}, {PAD_UP}, {PAD_A}},
         {0, 1, 1, 1, 2, 2, 1, 1},
         2},
        {"a pad's Start chooses", {{}, {PAD_UP}, {}, {PAD_START}}, {0, 2, 2, 2}, 0},
        {"a finger down as the menu opens chooses nothing until lifted",
         {NO_KEYS, {}, {}, {}, {}},
         {0, 0, 0, 1, 1},
         2,
         {on({160, 85}), off({160, 85}), {}, on({160, 118}), off({160, 118})}},
        {"the finger put down last points, and one lifted chooses",
         {NO_KEYS, {}, {}},
         {0, 1, 1},
         2,
         {{},
          TouchScreen{2, {{160, 85}, {160, 118}}, false, {}, false, false, {}},
          TouchScreen{1, {{160, 85}}, true, {160, 118}, false, false, {}}}},
        {"a tap on QUIT highlights it, a second tap leaves",
         {NO_KEYS, {}, {}, {}, {}, {}},
         {0, 2, 2, 2, 2, 2},
         0,
         {{}, on({160, 151}), off({160, 151}), {}, on({160, 151}), off({160, 151})}},
        {"a finger slid onto QUIT and lifted only highlights it",
         {NO_KEYS, {}, {}, {}, {RETURN}},
         {0, 1, 2, 2, 2},
         0,
         {{}, on({160, 118}), on({160, 151}), off({160, 151})}},
        {"a tap within one pass on QUIT only highlights it",
         {NO_KEYS, {}, {DOWN}, {RETURN}},
         {0, 2, 0, 0},
         1,
         {{}, off({160, 151})}},
        {"QUIT highlighted by the keys leaves at one tap",
         {NO_KEYS, {UP}, {}, {}},
         {0, 2, 2, 2},
         0,
         {{}, {}, {}, off({160, 151})}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        numPlayers = (c.numPlayers + 1) % 3; // anything but the expected choice
        const MenuRun result = runMenu(c.keys, true, c.touches);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(numPlayers, c.numPlayers);
        EXPECT_EQ(quitFlag, 1);
        EXPECT_EQ(column(result.passes, &Pass::highlight), c.highlight);
        expectOneMovePerChange(result.passes);
        EXPECT_EQ(result.lines, NORMAL_LINES);
    }
}

// ---- The fingers

// Entry 0's band covers rows 78 to 93 and columns 63 to 256 (menu-opts.png's
// width), the next ones 33 rows lower; a finger counts only on them (row 165,
// under a phone's hints, is nobody's). The menu's ball lies at (270, 60), 12
// by 12, and counts 8 pixels beyond.
TEST(MenuTouch, WhatAFingerMeansAtTheEdgesOfTheBandsAndTheBall) {
    harness::startGame();
    menuOpts = harness::makeSurface(194, 82);
    constexpr int NOTHING = TOUCHES_NOTHING, BALL = TOUCHES_THE_BALL;
    const struct {
        ScreenPoint at;
        int means;
    } rows[] = {
        {{160, 77}, NOTHING},  {{160, 78}, 0},       {{160, 93}, 0},       {{160, 94}, NOTHING},
        {{160, 110}, NOTHING}, {{160, 111}, 1},      {{160, 126}, 1},      {{160, 127}, NOTHING},
        {{160, 143}, NOTHING}, {{160, 144}, 2},      {{160, 159}, 2},      {{160, 160}, NOTHING},
        {{160, 165}, NOTHING}, {{62, 85}, NOTHING},  {{63, 85}, 0},        {{256, 85}, 0},
        {{257, 85}, NOTHING},  {{261, 60}, NOTHING}, {{262, 52}, BALL},    {{289, 79}, BALL},
        {{290, 60}, NOTHING},  {{275, 51}, NOTHING}, {{275, 80}, NOTHING},
    };
    for (const auto &row : rows)
        EXPECT_EQ(menuTouchAt(row.at), row.means) << row.at.x << ", " << row.at.y;
    SDL_FreeSurface(menuOpts);
    menuOpts = nullptr;
}

TEST(MenuKeys, TabStepsTheBallOncePerPassModuloFourAndTheStepIsKept) {
    ballType = 0;
    const MenuRun first =
        runMenu({{SDLK_TAB}, {SDLK_TAB}, {SDLK_TAB}, {}, {SDLK_TAB}, {SDLK_TAB, SDLK_RETURN}});
    EXPECT_EQ(column(first.passes, &Pass::ballType), (std::vector<int>{1, 2, 3, 3, 0, 1}));
    EXPECT_EQ(column(first.passes, &Pass::highlight), (std::vector<int>{0, 0, 0, 0, 0, 0}));

    runMenu({{SDLK_RETURN}});
    EXPECT_EQ(ballType, 1);
    runMenu({{}, {SDLK_TAB, SDLK_LCTRL}});
    EXPECT_EQ(ballType, 2);
    // A pad's B steps it as Tab does, and together they step it once.
    const MenuRun pad = runMenu({{PAD_B}, {PAD_B, SDLK_TAB}, {}, {PAD_B, PAD_A}});
    EXPECT_EQ(column(pad.passes, &Pass::ballType), (std::vector<int>{3, 0, 0, 1}));
    // A finger lifted from the menu's ball steps it once.
    const MenuRun touch = runMenu({{}, {}, {}, {SDLK_RETURN}}, true, {{}, off({275, 60}), {}});
    EXPECT_EQ(column(touch.passes, &Pass::ballType), (std::vector<int>{1, 2, 2, 2}));
}

TEST(MenuKeys, EscapeAndTheFullscreenKeyDoNothing) {
    harness::startGame();
    SDL_Event fullscreen{};
    fullscreen.type = SDL_KEYDOWN;
    fullscreen.key.state = SDL_PRESSED;
    fullscreen.key.keysym.sym = SDLK_F11;
    ASSERT_EQ(SDL_PushEvent(&fullscreen), 0);
    numPlayers = 0;
    const MenuRun result =
        runMenu({{SDLK_ESCAPE}, {SDLK_ESCAPE, SDLK_F11}, {}, {SDLK_F11}, {SDLK_RETURN}});
    EXPECT_EQ(result.passes.size(), 5u);
    EXPECT_EQ(column(result.passes, &Pass::highlight), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(column(result.passes, &Pass::ballType), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(numPlayers, 1);
    // The key's event was taken from the queue.
    SDL_PumpEvents();
    EXPECT_EQ(SDL_PeepEvents(&fullscreen, 1, SDL_PEEKEVENT, SDL_ALLEVENTS), 0);
}

TEST(MenuKeys, TheMenuOpensAgainOnTheFirstEntry) {
    const MenuRun first = runMenu({{}, {SDLK_DOWN}, {}, {SDLK_DOWN}, {SDLK_RETURN}});
    EXPECT_EQ(column(first.passes, &Pass::highlight).back(), 2);
    EXPECT_EQ(numPlayers, 0);
    // An arrow held from the last menu into the next does not move it either.
    const MenuRun again = runMenu({{SDLK_DOWN}, {}, {SDLK_DOWN}, {SDLK_RETURN}});
    EXPECT_EQ(column(again.passes, &Pass::highlight), (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(numPlayers, 2);
}

TEST(MenuKeys, PassesAreHeldToTheFramePeriod) {
    const MenuRun result = runMenu({{}, {SDLK_TAB}, {}, {SDLK_DOWN}, {}, {SDLK_RETURN}});
    ASSERT_EQ(result.passes.size(), 6u);
    for (size_t i = 1; i < result.passes.size(); ++i)
        EXPECT_EQ(result.passes[i].flippedAt - result.passes[i - 1].flippedAt, FRAME_PERIOD_MS)
            << i;
}

// ---- Drawing

TEST(MenuDrawing, EachMoveRepaintsThePreviousHighlightThenDrawsTheNewBand) {
    const MenuRun result =
        runMenu({{}, {SDLK_DOWN}, {}, {SDLK_DOWN}, {}, {SDLK_DOWN}, {}, {SDLK_UP}, {SDLK_RETURN}});
    const std::vector<int> moves = {1, 2, 0, 2};
    ASSERT_NE(result.background, nullptr);
    ASSERT_NE(result.highlights, nullptr);
    const Uint16 W = static_cast<Uint16>(result.highlightsW);
    const Uint16 lastBandHeight = static_cast<Uint16>(result.highlightsH - 66);
    const SDL_Rect whole = {0, 0, static_cast<Uint16>(result.backgroundW),
                            static_cast<Uint16>(result.backgroundH)};
    const SDL_Rect band[3] = {{0, 0, W, 16}, {0, 33, W, 16}, {0, 66, W, lastBandHeight}};
    const SDL_Rect onScreen[3] = {{63, 78, W, 16}, {63, 111, W, 16}, {63, 144, W, lastBandHeight}};

    const std::vector<fake::Blit> &blits = fake::blits;
    ASSERT_EQ(blits.size(), 3 + 2 * moves.size());
    // The whole background, then the first highlight over a repaint of all of it.
    EXPECT_EQ(blits[0].source, result.background);
    EXPECT_EQ(blits[0].sourceRect, whole);
    EXPECT_EQ(blits[0].destGiven, whole);
    std::vector<int> entries = {0};
    entries.insert(entries.end(), moves.begin(), moves.end());
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE("highlight " + std::to_string(i) + " on entry " + std::to_string(entries[i]));
        const fake::Blit &repaint = blits[1 + 2 * i];
        const fake::Blit &highlight = blits[2 + 2 * i];
        const SDL_Rect lastDrawn = blits[2 * i].destDrawn;
        EXPECT_EQ(repaint.source, result.background);
        EXPECT_EQ(repaint.sourceRect, lastDrawn);
        EXPECT_EQ(repaint.destGiven, lastDrawn);
        EXPECT_EQ(highlight.source, result.highlights);
        EXPECT_EQ(highlight.sourceRect, band[entries[i]]);
        EXPECT_EQ(highlight.destGiven, onScreen[entries[i]]);
    }
}

TEST(MenuDrawing, TheRepaintCoversWhatTheLastHighlightDrewNotWhatItAskedFor) {
    // With highlights 300 wide, entry 2's band reaches past the screen's right
    // edge and is cut there; the next move repaints only the part drawn.
    harness::startGame();
    fake::reset();
    bgMenu = harness::makeSurface(320, 240);
    menuOpts = harness::makeSurface(300, 100);
    dest = {0, 0, 320, 240};
    switchOption(2);
    switchOption(0);
    ASSERT_EQ(fake::blits.size(), 4u);
    EXPECT_EQ(fake::blits[1].sourceRect, (SDL_Rect{0, 66, 300, 34}));
    EXPECT_EQ(fake::blits[1].destGiven, (SDL_Rect{63, 144, 300, 34}));
    const SDL_Rect drawn = {63, 144, 320 - 63, 34};
    EXPECT_EQ(fake::blits[1].destDrawn, drawn);
    EXPECT_EQ(fake::blits[2].source, bgMenu);
    EXPECT_EQ(fake::blits[2].sourceRect, drawn);
    EXPECT_EQ(fake::blits[2].destGiven, drawn);
    SDL_FreeSurface(bgMenu);
    SDL_FreeSurface(menuOpts);
    bgMenu = menuOpts = nullptr;
}

// ---- Output, release and failures

TEST(MenuLifecycle, ANormalRunPrintsTwoLinesAndReleasesItsAssets) {
    const MenuRun result = runMenu({{}, {SDLK_DOWN}, {SDLK_RETURN}});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, NORMAL_LINES);
    EXPECT_EQ(result.surfacesLoaded.size(), 2u);
    expectAllReleased(result.surfacesLoaded, result.surfacesFreed);
    EXPECT_EQ(result.chunksLoaded.size(), 1u);
    expectAllReleased(result.chunksLoaded, result.chunksFreed);
    EXPECT_EQ(bgMenu, nullptr);
    EXPECT_EQ(menuOpts, nullptr);
}

TEST(MenuLifecycle, EachMissingAssetPrintsItsLineAndLeaves) {
    harness::startGame();
    const std::string assets[] = {"img/menu.png", "img/menu-opts.png", "snd/menu-opt.wav"};
    const char *lines[] = {"Unable to load a necessary PNG file.",
                           "Unable to load a necessary PNG file.",
                           "Unable to load a necessary sound file."};
    for (int missing = 0; missing < 3; ++missing) {
        SCOPED_TRACE(assets[missing]);
        const harness::AssetsWithout folder(assets[missing]);
        ASSERT_EQ(chdir(folder.path().c_str()), 0);
        numPlayers = 2;
        const MenuRun result = runMenu({{SDLK_RETURN}});
        EXPECT_EQ(chdir(KORRIN_SOURCE_DIR), 0);

        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.lines, (std::vector<std::string>{"Showing menu now", lines[missing]}));
        EXPECT_EQ(numPlayers, 0);
        EXPECT_TRUE(result.passes.empty());
        EXPECT_EQ(bgMenu, nullptr);
        EXPECT_EQ(menuOpts, nullptr);
        expectAllReleased(result.surfacesLoaded, result.surfacesFreed);
        expectAllReleased(result.chunksLoaded, result.chunksFreed);
    }
}

TEST(MenuLifecycle, AMoveSoundThatFailsIsReportedAndTheMoveStands) {
    harness::startGame();
    Mix_AllocateChannels(MENU_CHANNEL); // the menu's channel no longer exists
    const MenuRun result = runMenu({{}, {SDLK_DOWN}, {SDLK_RETURN}});
    Mix_AllocateChannels(MIXER_CHANNELS);
    const std::string error = SDL_GetError();
    EXPECT_EQ(result.lines,
              (std::vector<std::string>{"Showing menu now", "Mix_SetPosition: " + error,
                                        "Mix_PlayChannel: " + error, "Exiting menu."}));
    EXPECT_EQ(column(result.passes, &Pass::highlight), (std::vector<int>{0, 1, 1}));
    EXPECT_EQ(numPlayers, 2);
}

TEST(MenuLifecycle, TheMenuReturnsOnlyOnceEveryChannelIsSilent) {
    harness::startGame();
    // 300 ms of silence still counts as playing until it has been mixed.
    const harness::Tone silence(300, 0);
    ASSERT_NE(silence.chunk, nullptr);
    ASSERT_EQ(Mix_PlayChannel(0, silence.chunk, 0), 0);
    const MenuRun result = runMenu({{}, {SDLK_DOWN, SDLK_RETURN}}, false);
    const int playingAfter = Mix_Playing(-1);

    ASSERT_EQ(result.passes.size(), 2u);
    EXPECT_EQ(result.passes.back().channelsPlaying, 2); // the long sound and the move sound
    EXPECT_EQ(playingAfter, 0);
    const long polls = std::count(fake::delays.begin(), fake::delays.end(), 100u);
    EXPECT_GE(polls, 1);
    EXPECT_EQ(result.lines, NORMAL_LINES);
}
