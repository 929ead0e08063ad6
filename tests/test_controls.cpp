// The controls: the key table and the pad and finger table of both players,
// Escape, the pads' Back and Start, discarded events, the computer
// opponent's rule and the serve direction drawn while the ball waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <map>
#include <utility>
#include <vector>

#include "fake_time.h"
#include "match_fixture.h"
#include "randgen.h"

namespace {
// Wide enough that two equal draws show the generator at the same step.
constexpr int WIDE_BOUND = 1000000;

// What the game's generator gives from a seed (its values are pinned by the
// generator's own tests): serveDraws draws of getRandom(2), then one of
// getRandom(WIDE_BOUND). The generator is seeded again afterwards, so that
// the game draws the same numbers.
struct Draws {
    std::vector<unsigned> ofTwo;
    unsigned next;
};
Draws predictDraws(int32_t seed, int serveDraws) {
    seedGeneratorAt(seed);
    Draws draws;
    for (int i = 0; i < serveDraws; ++i)
        draws.ofTwo.push_back(getRandom(2));
    draws.next = getRandom(WIDE_BOUND);
    seedGeneratorAt(seed);
    return draws;
}

class ControlsTest : public MatchTest {};

// ---- Keys

TEST_F(ControlsTest, KeyTableOfTwoPlayers) {
    constexpr double UNSET = 99.0;
    struct Case {
        std::initializer_list<SDLKey> held;
        double left, right;
    } cases[] = {
        {{}, 0.0, 0.0},
        {{SDLK_DOWN}, 11.0, 0.0},
        {{SDLK_UP}, -11.0, 0.0},
        {{SDLK_UP, SDLK_DOWN}, 11.0, 0.0}, // down wins
        {{SDLK_LALT}, 0.0, 11.0},
        {{SDLK_SPACE}, 0.0, -11.0},
        {{SDLK_SPACE, SDLK_LALT}, 0.0, 11.0}, // down wins
        {{SDLK_UP, SDLK_SPACE}, -11.0, -11.0},
        {{SDLK_RETURN, SDLK_TAB, SDLK_LCTRL}, 0.0, 0.0}, // no other key counts
    };
    numPlayers = 2;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        harness::releaseAllKeys();
        for (SDLKey key : c.held)
            harness::holdKey(key);
        Players[0].setSpeed(UNSET);
        Players[1].setSpeed(UNSET);
        updateInputs();
        EXPECT_EQ(Players[0].speed, c.left);
        EXPECT_EQ(Players[1].speed, c.right);
        EXPECT_EQ(quitFlag, 0);
    }
}

// ---- Pads

// Opens the fake pads as the menu does, on SDL 1.2.patch (sdl12-compat from
// 50) with SDL12COMPAT_USE_GAME_CONTROLLERS at layout (null: unset).
void openFakePads(const std::vector<fake::Pad> &pads, Uint8 patch, const char *layout = "1") {
    static SDL_version linked;
    linked = {1, 2, patch};
    fake::pads = pads;
    fake::linkedVersion = &linked;
    layout ? setenv("SDL12COMPAT_USE_GAME_CONTROLLERS", layout, 1)
           : unsetenv("SDL12COMPAT_USE_GAME_CONTROLLERS");
    openPads();
}

// The fingers: the left paddle's centre is at row 120, the right one's at
// 125 (or 35), a finger within 4 rows of its paddle's centre lets it rest.
TEST_F(ControlsTest, PadAndFingerTableOfBothPlayers) {
    constexpr double AI = -5.0; // the computer, towards the waiting ball from row 100
    constexpr Sint16 HALF_WAY = 16384, DEAD = STICK_DEAD_ZONE;
    constexpr Uint8 C = SDL_HAT_CENTERED, UP = SDL_HAT_UP, DOWN = SDL_HAT_DOWN;
    constexpr TouchSteering HALVES = {true, 0}, LEFT = {false, 0}, RIGHT = {false, 1};
    // The left half's finger slid up to the right half, the right's down to the left.
    const std::vector<ScreenPoint> CROSSED = {{200, 9}, {9, 230}},
                                   CROSSED_FROM = {{9, 9}, {200, 230}};
    struct Case {
        const char *name;
        fake::Pad first, second; // {hat, stick, buttons held}
        std::initializer_list<SDLKey> held;
        int players;
        double left, right;
        bool gameControllerLayout = false;
        std::vector<ScreenPoint> fingers = {}; // in the order put down
        TouchSteering steering = HALVES;
        Sint16 rightY = 100;
        std::vector<ScreenPoint> putDownAt = {}; // where fingers were put down, if elsewhere
    } const cases[] = {
        {"d-pad diagonal", {SDL_HAT_RIGHTDOWN}, {}, {}, 2, 11.0, 0.0},
        {"stick down at the dead zone", {C, DEAD}, {}, {}, 2, 0.0, 0.0},
        {"stick down past it", {C, DEAD + 1}, {}, {}, 2, 11.0, 0.0},
        {"stick up at the dead zone", {C, -DEAD}, {}, {}, 2, 0.0, 0.0},
        {"stick up past it", {C, -DEAD - 1}, {}, {}, 2, -11.0, 0.0},
        {"pad up, key down: down wins", {UP}, {}, {SDLK_DOWN}, 2, 11.0, 0.0},
        {"player 2: pad up, key down", {}, {C, -HALF_WAY}, {SDLK_LALT}, 2, 0.0, 11.0},
        {"both pads", {UP}, {C, HALF_WAY}, {}, 2, -11.0, 11.0},
        {"one player: the second pad ignored", {UP}, {DOWN}, {}, 1, -11.0, AI},
        {"raw buttons", {C, 0, {0, 1, 2, 3, 7, 12}}, {C, 0, {11}}, {}, 2, 0.0, 0.0},
        {"controllers' d-pad buttons", {C, 0, {12}}, {C, 0, {11}}, {}, 2, 11.0, -11.0, true},
        {"a finger on the touch dead zone's top row", {}, {}, {}, 2, 0.0, 0.0, false, {{50, 116}}},
        {"a row above it", {}, {}, {}, 2, -11.0, 0.0, false, {{50, 115}}},
        {"on its bottom row", {}, {}, {}, 2, 0.0, 0.0, false, {{50, 124}}},
        {"a row below it", {}, {}, {}, 2, 11.0, 0.0, false, {{50, 125}}},
        {"column 159 is the left half's", {}, {}, {}, 2, 11.0, 0.0, false, {{159, 200}}},
        {"column 160 the right half's", {}, {}, {}, 2, 0.0, 11.0, false, {{160, 200}}},
        {"the right paddle's centre", {}, {}, {}, 2, 0.0, 11.0, false, {{300, 40}}, HALVES, 10},
        {"two on a half: the last put down", {}, {}, {}, 2, 11.0, 0.0, false, {{9, 9}, {9, 230}}},
        {"a finger up, key down: down wins", {}, {}, {SDLK_DOWN}, 2, 11.0, 0.0, false, {{9, 9}}},
        {"one player: the right half's finger", {}, {}, {}, 1, -11.0, AI, false, {{300, 9}}, LEFT},
        {"online, right paddle: P1's keys", {}, {}, {}, 2, 11.0, 0.0, false, {{9, 100}}, RIGHT, 10},
        // Put down on one half, slid to the other: still that half's.
        {"159 to 160", {}, {}, {}, 2, -11.0, 0.0, false, {{160, 9}}, HALVES, 100, {{159, 9}}},
        {"160 to 159", {}, {}, {}, 2, 0.0, -11.0, false, {{159, 9}}, HALVES, 100, {{160, 9}}},
        {"both crossed", {}, {}, {}, 2, -11.0, 11.0, false, CROSSED, HALVES, 100, CROSSED_FROM},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        openFakePads({c.first, c.second}, c.gameControllerLayout ? 60 : 15);
        numPlayers = c.players;
        harness::releaseAllKeys();
        for (SDLKey key : c.held)
            harness::holdKey(key);
        steerByTouch(c.steering);
        fake::touch.fingerCount = static_cast<int>(c.fingers.size());
        std::copy(c.fingers.begin(), c.fingers.end(), fake::touch.fingers);
        const std::vector<ScreenPoint> &putDownAt = c.putDownAt.empty() ? c.fingers : c.putDownAt;
        std::copy(putDownAt.begin(), putDownAt.end(), fake::touch.putDownAt);
        Players[1].worldRect.y = c.rightY;
        Players[0].setSpeed(99.0);
        Players[1].setSpeed(99.0);
        updateInputs();
        EXPECT_EQ(Players[0].speed, c.left);
        EXPECT_EQ(Players[1].speed, c.right);
    }
}

// Back leaves while held; Start asks for a hold once per press: held for
// three passes, in the first. Which raw button is which depends on the layout;
// a button the pad lacks is never read; a Start that chose in the menu holds
// nothing until let go.
TEST_F(ControlsTest, PadBackLeavesAndStartHoldsOncePerPress) {
    struct Case {
        Uint8 patch;
        const char *layout;
        int button;
        bool leave, hold;
        int buttons = 22;
        bool fromMenu = false;
    } const cases[] = {
        {15, "1", 6, true, false},    {15, "1", 7, false, true},
        {15, "1", 4, false, false},   {60, "1", 4, true, false},
        {60, "1", 6, false, true},    {60, "1", 7, false, false},
        {50, "1", 4, true, false},    {49, "1", 6, true, false},
        {60, "0", 6, true, false},    {60, nullptr, 6, true, false},
        {60, "2", 4, true, false},    {15, "1", 7, false, false, 7},
        {15, "1", 7, false, true, 8}, {15, "1", 7, false, false, 22, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        openFakePads({{SDL_HAT_CENTERED, 0, {}, c.buttons}}, c.patch, c.layout);
        readFrameInput(); // the last case's button let go
        fake::pads[0].held = {c.button};
        if (c.fromMenu)
            readMenuInput(); // where the Start chooses
        for (int pass = 0; pass < 3; ++pass) {
            const FrameInput input = readFrameInput();
            EXPECT_EQ(input.leave, c.leave);
            EXPECT_EQ(input.hold, c.hold && pass == 0) << "pass " << pass;
        }
    }
}

TEST_F(ControlsTest, PlayerTwoKeysAreInertAgainstTheComputer) {
    numPlayers = 1;
    Players[1].worldRect.y = 100; // the computer moves up at 5 towards the waiting ball
    for (auto held :
         {std::initializer_list<SDLKey>{}, {SDLK_LALT}, {SDLK_SPACE}, {SDLK_LALT, SDLK_SPACE}}) {
        harness::releaseAllKeys();
        for (SDLKey key : held)
            harness::holdKey(key);
        updateInputs();
        EXPECT_EQ(Players[1].speed, -5.0);
    }
}

TEST_F(ControlsTest, RightPaddleKeepsItsSpeedForAnyOtherNumberOfPlayers) {
    numPlayers = 0;
    harness::holdKey(SDLK_LALT);
    Players[1].setSpeed(3.0);
    updateInputs();
    EXPECT_EQ(Players[1].speed, 3.0);
}

TEST_F(ControlsTest, EscapeEndsTheMatchAndLeavesTheSpeedsAlone) {
    harness::holdKey(SDLK_ESCAPE);
    harness::holdKey(SDLK_UP);
    updateInputs();
    EXPECT_EQ(quitFlag, -1);
    EXPECT_EQ(Players[0].speed, -11.0);
}

TEST_F(ControlsTest, KeyEventsAreDiscardedTheFullscreenKeyIncluded) {
    // Events only: neither key is held.
    for (SDLKey key : {SDLK_ESCAPE, SDLK_F11}) {
        SDL_Event event{};
        event.type = SDL_KEYDOWN;
        event.key.state = SDL_PRESSED;
        event.key.keysym.sym = key;
        ASSERT_EQ(SDL_PushEvent(&event), 0);
    }
    harness::holdKey(SDLK_F11);

    updateInputs();
    SDL_Event left;
    EXPECT_EQ(SDL_PollEvent(&left), 0);
    EXPECT_EQ(quitFlag, 0);
    EXPECT_EQ(Players[0].speed, 0.0);
    EXPECT_EQ(Players[1].speed, 0.0);
}

// ---- The computer opponent

TEST_F(ControlsTest, ComputerFollowsTheCentreLineWhileTheBallWaits) {
    struct Case {
        Sint16 paddleY;
        double speed;
    } cases[] = {{95, 0.0}, {70, 11.0}, {100, -5.0}, {94, 1.0}, {140, -11.0}};
    ASSERT_NE(TavrelBall.isPaused(), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.paddleY);
        Players[1].worldRect.y = c.paddleY;
        aiUpdate();
        EXPECT_EQ(Players[1].speed, c.speed);
    }
}

TEST_F(ControlsTest, ComputerFollowsTheBallInPlay) {
    struct Case {
        int paddleCentre, ballCentre;
        double speed;
    } cases[] = {
        {126, 130, 4.0},  {130, 130, 0.0},  {150, 100, -11.0}, {100, 111, 11.0},
        {100, 110, 10.0}, {120, 60, -11.0}, {60, 200, 11.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.paddleCentre << " vs " << c.ballCentre);
        putBallInPlay(150, static_cast<Sint16>(c.ballCentre - 6));
        Players[1].worldRect.y = static_cast<Sint16>(c.paddleCentre - 25);
        aiUpdate();
        EXPECT_EQ(Players[1].speed, c.speed);
    }
}

// ---- The serve direction

TEST_F(ControlsTest, EachWaitingFrameDrawsTwiceAndSetsTheServeDirection) {
    constexpr int FRAMES = 50;
    for (int32_t seed : {0, 1, 2, 123456789, -2087924461, 2147483646}) {
        SCOPED_TRACE(seed);
        const Draws draws = predictDraws(seed, 2 * FRAMES);
        TavrelBall.resetBall(2);
        for (int frame = 0; frame < FRAMES; ++frame) {
            updateInputs();
            const bool left = draws.ofTwo[2 * frame] == 1;
            const bool up = draws.ofTwo[2 * frame + 1] == 1;
            ASSERT_EQ(TavrelBall.speedX, left ? -14.0 : 14.0) << "frame " << frame;
            ASSERT_EQ(TavrelBall.speedY, up ? -14.0 : 14.0) << "frame " << frame;
        }
        // The game's generator stands exactly where two draws a frame leave it.
        EXPECT_EQ(getRandom(WIDE_BOUND), draws.next);
    }
}

TEST_F(ControlsTest, NoDrawsOnceTheBallIsInPlay) {
    const Draws draws = predictDraws(42, 0);
    putBallInPlay(100, 100, -14.0, 6.0);
    for (int frame = 0; frame < 20; ++frame)
        updateInputs();
    EXPECT_EQ(TavrelBall.speedX, -14.0);
    EXPECT_EQ(TavrelBall.speedY, 6.0);
    EXPECT_EQ(getRandom(WIDE_BOUND), draws.next);
}

TEST_F(ControlsTest, ServesGoAlongEveryDiagonal) {
    seedGeneratorAt(20240607);
    std::map<std::pair<double, double>, int> serves;
    constexpr int SERVES = 2000;
    for (int serve = 0; serve < SERVES; ++serve) {
        TavrelBall.resetBall(2);
        for (int frame = 0; frame <= serve % 3; ++frame)
            updateInputs();
        ++serves[{TavrelBall.speedX, TavrelBall.speedY}];
        if (serve % 5 == 0)
            getRandom(14); // a paddle hit between two serves
    }
    ASSERT_EQ(serves.size(), 4u);
    for (const auto &[direction, count] : serves) {
        SCOPED_TRACE(testing::Message() << direction.first << ", " << direction.second);
        EXPECT_EQ(std::abs(direction.first), 14.0);
        EXPECT_EQ(std::abs(direction.second), 14.0);
        // Two consecutive draws of the generator are not independent: the
        // diagonals come out about 11 to 44 per cent each, not 25.
        EXPECT_GT(count, SERVES / 20);
    }
}
} // namespace
