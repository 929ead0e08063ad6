// Drawing a match, checked from the recorded blits: the layers and their
// places, the faceoff banner, the game-over screen, the score surfaces'
// lifetime and the game objects' rectangles left untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>

#include "match_fixture.h"

namespace {
// Every score surface the font has rendered and nobody has freed yet.
std::set<SDL_Surface *> liveTexts;
int renders = 0;
// A text the font refuses to render (empty: none).
std::string failingText;
} // namespace

extern "C" {
SDL_Surface *__real_TTF_RenderText_Solid(TTF_Font *font, const char *text, SDL_Color fg);
void __real_SDL_FreeSurface(SDL_Surface *surface);

SDL_Surface *__wrap_TTF_RenderText_Solid(TTF_Font *font, const char *text, SDL_Color fg) {
    ++renders;
    if (!failingText.empty() && failingText == text)
        return nullptr;
    SDL_Surface *surface = __real_TTF_RenderText_Solid(font, text, fg);
    if (surface)
        liveTexts.insert(surface);
    return surface;
}

void __wrap_SDL_FreeSurface(SDL_Surface *surface) {
    liveTexts.erase(surface);
    __real_SDL_FreeSurface(surface);
}
}

namespace {
constexpr SDL_Rect WIDE_BANNER = {1, 127, 139, 27};
constexpr SDL_Rect SHORT_BANNER = {142, 127, 83, 27};
constexpr SDL_Rect GAME_OVER_TILE = {23, 102, 11, 11};

SDL_Rect at(Sint16 x, Sint16 y) { return {x, y, 0, 0}; }
SDL_Rect topLeft(const SDL_Rect &r) { return at(r.x, r.y); }

// A blit of the whole source surface.
bool isWholeSurface(const fake::Blit &blit) {
    return blit.sourceRect ==
           SDL_Rect{0, 0, static_cast<Uint16>(blit.source->w), static_cast<Uint16>(blit.source->h)};
}

class RenderTest : public MatchTest {
  protected:
    void SetUp() override {
        MatchTest::SetUp();
        renders = 0;
        failingText.clear();
    }
    void TearDown() override {
        MatchTest::TearDown();
        EXPECT_TRUE(liveTexts.empty()) << "score surfaces left over";
    }
};

void expectSprite(const fake::Blit &blit, const SDL_Rect &region, SDL_Rect position) {
    EXPECT_EQ(blit.source, sprites);
    EXPECT_EQ(blit.sourceRect, region);
    EXPECT_EQ(topLeft(blit.destGiven), position);
}

TEST_F(RenderTest, FrameDrawsItsLayersInOrderAtTheirPlaces) {
    ballType = 2;
    resetAll();
    TavrelBall.pauseTime = 2.9; // the first update has begun the countdown
    Players[0].worldRect.y = 7;
    Players[1].worldRect.y = 187;
    Players[0].score = 3;
    Players[1].score = 1;
    for (bool waiting : {true, false}) {
        SCOPED_TRACE(waiting ? "ball waiting" : "ball in play");
        if (!waiting)
            putBallInPlay(40, 60);
        fake::blits.clear();
        drawScreen();
        ASSERT_EQ(fake::blits.size(), waiting ? 7u : 6u);

        const fake::Blit &background = fake::blits[0];
        EXPECT_EQ(background.source, bgGame);
        EXPECT_TRUE(isWholeSurface(background));
        EXPECT_EQ(topLeft(background.destGiven), at(0, 0));

        const fake::Blit &left = fake::blits[1];
        ASSERT_NE(scoreText[0], nullptr);
        EXPECT_EQ(left.source, scoreText[0]);
        EXPECT_TRUE(isWholeSurface(left));
        EXPECT_EQ(topLeft(left.destGiven), at(112, -1));
        EXPECT_EQ(left.destDrawn.y, 0); // its top row falls off the screen
        EXPECT_EQ(left.destDrawn.h, scoreText[0]->h - 1);

        const fake::Blit &right = fake::blits[2];
        ASSERT_NE(scoreText[1], nullptr);
        EXPECT_EQ(right.source, scoreText[1]);
        EXPECT_TRUE(isWholeSurface(right));
        EXPECT_EQ(topLeft(right.destGiven), at(static_cast<Sint16>(208 - scoreText[1]->w), 0));
        EXPECT_EQ(right.destDrawn.h, scoreText[1]->h);

        expectSprite(fake::blits[3], {1, 1, 11, 50}, at(1, 7));
        expectSprite(fake::blits[4], {25, 1, 11, 50}, at(307, 187));
        const SDL_Rect ballAt = waiting ? at(154, 114) : at(40, 60);
        expectSprite(fake::blits[5], {27, 114, 12, 12}, ballAt);
        if (waiting)
            expectSprite(fake::blits[6], WIDE_BANNER, at(91, 211));
    }
}

TEST_F(RenderTest, BannerIsWideDuringAWaitAndShortOnceAPlayerHasFive) {
    enum Banner { NONE, WIDE, SHORT };
    struct Case {
        double pauseTime;
        int leftScore, rightScore;
        Banner banner;
    } cases[] = {
        {2.5, 0, 0, WIDE},  {0.5, 4, 4, WIDE},
        {2.0, 4, 0, WIDE},  {3.0, 0, 0, SHORT}, // a countdown digit of 4
        {2.0, 5, 3, SHORT}, {2.0, 3, 5, SHORT},
        {0.0, 0, 0, NONE},  {-1.0, 5, 0, NONE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "wait " << c.pauseTime << ", " << c.leftScore << " to " << c.rightScore);
        TavrelBall.pauseTime = c.pauseTime;
        Players[0].score = c.leftScore;
        Players[1].score = c.rightScore;
        fake::blits.clear();
        drawScreen();
        if (c.banner == NONE) {
            EXPECT_EQ(fake::blits.size(), 6u);
            continue;
        }
        ASSERT_EQ(fake::blits.size(), 7u);
        if (c.banner == WIDE)
            expectSprite(fake::blits[6], WIDE_BANNER, at(91, 211));
        else
            expectSprite(fake::blits[6], SHORT_BANNER, at(119, 211));
    }
}

TEST_F(RenderTest, GameOverTilesTheScreenAndNamesTheWinnerForFiveSeconds) {
    struct Case {
        int winner;
        Sint16 bannerRow;
    } cases[] = {{0, 58}, {1, 30}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.winner);
        fake::blits.clear();
        fake::delays.clear();
        const Uint32 calledAt = fake::now;
        drawGameOver(c.winner);

        ASSERT_EQ(fake::blits.size(), 660u + 2u);
        for (int i = 0; i < 660; ++i) {
            const SDL_Rect cell =
                at(static_cast<Sint16>(i / 22 * 11), static_cast<Sint16>(i % 22 * 11));
            ASSERT_EQ(topLeft(fake::blits[i].destGiven), cell) << "tile " << i;
            ASSERT_EQ(fake::blits[i].sourceRect, GAME_OVER_TILE) << "tile " << i;
            ASSERT_EQ(fake::blits[i].source, sprites);
        }
        EXPECT_EQ(topLeft(fake::blits[0].destGiven), at(0, 0));
        EXPECT_EQ(topLeft(fake::blits[1].destGiven), at(0, 11));
        EXPECT_EQ(topLeft(fake::blits[22].destGiven), at(11, 0));
        EXPECT_EQ(topLeft(fake::blits[659].destGiven), at(319, 231));

        expectSprite(fake::blits[660], {49, 1, 349, 27}, at(-14, 88));
        expectSprite(fake::blits[661], {49, c.bannerRow, 349, 27}, at(0, 152));

        Uint32 waited = 0;
        for (Uint32 ms : fake::delays)
            waited += ms;
        EXPECT_GE(waited, 5000u);
        EXPECT_GE(fake::now - calledAt, 5000u);
    }
}

TEST_F(RenderTest, NoMoreThanTwoScoreSurfacesAliveOverManyFrames) {
    constexpr int FRAMES = 300;
    for (int frame = 0; frame < FRAMES; ++frame) {
        Players[frame % 2].score = frame / 30 % 5;
        fake::now += 22;
        updateInputs();
        updateState();
        drawScreen();
        ASSERT_LE(liveTexts.size(), 2u) << "frame " << frame;
        ASSERT_EQ(liveTexts, (std::set<SDL_Surface *>{scoreText[0], scoreText[1]}))
            << "frame " << frame;
    }
    EXPECT_EQ(renders, 2 * FRAMES);
}

TEST_F(RenderTest, ScoreTheFontCannotRenderShowsNothingOnThatSide) {
    Players[0].score = 2;
    Players[1].score = 3;
    drawScreen();
    ASSERT_NE(scoreText[1], nullptr);

    failingText = "3";
    fake::blits.clear();
    drawScreen();
    EXPECT_EQ(scoreText[1], nullptr);
    EXPECT_NE(scoreText[0], nullptr);
    EXPECT_EQ(liveTexts.size(), 1u);   // the previous right text was released
    ASSERT_EQ(fake::blits.size(), 6u); // background, left score, paddles, ball, banner
    EXPECT_EQ(fake::blits[1].source, scoreText[0]);
    EXPECT_EQ(fake::blits[2].source, sprites);

    Players[0].score = 3; // now both fail
    fake::blits.clear();
    drawScreen();
    EXPECT_EQ(scoreText[0], nullptr);
    EXPECT_TRUE(liveTexts.empty());
    EXPECT_EQ(fake::blits.size(), 5u);

    Players[1].score = 4; // the right side renders again
    drawScreen();
    EXPECT_NE(scoreText[1], nullptr);
    EXPECT_EQ(liveTexts.size(), 1u);
}

TEST_F(RenderTest, DrawingNeverChangesTheObjectsRectangles) {
    struct Case {
        Sint16 ballX;
        Sint16 drawnX;
        Uint16 drawnW;
    } cases[] = {
        {-6, 0, 6},    // half off the left edge
        {-11, 0, 1},   // all but one column off
        {314, 314, 6}, // half off the right edge
        {330, 0, 0},   // wholly off on the right, before the point is scored
        {100, 100, 12},
    };
    Players[0].worldRect.y = 7;
    Players[1].worldRect.y = 187;
    const SDL_Rect *objectRects[] = {&Players[0].worldRect, &Players[0].spriteRect,
                                     &Players[1].worldRect, &Players[1].spriteRect,
                                     &TavrelBall.worldRect, &TavrelBall.spriteRect};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ballX);
        putBallInPlay(c.ballX, 100);
        SDL_Rect before[6];
        for (int i = 0; i < 6; ++i)
            before[i] = *objectRects[i];
        fake::blits.clear();
        drawScreen();
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(*objectRects[i], before[i]) << "rectangle " << i;
        for (const fake::Blit &blit : fake::blits)
            for (const SDL_Rect *object : objectRects)
                EXPECT_NE(blit.destAddress, object);

        ASSERT_EQ(fake::blits.size(), 6u);
        const fake::Blit &ball = fake::blits[5];
        EXPECT_EQ(ball.destDrawn.w, c.drawnW);
        if (c.drawnW > 0) {
            EXPECT_EQ(ball.destDrawn.x, c.drawnX);
        }
    }
}

TEST_F(RenderTest, PicturesBetweenFramesAreDrawnByTheFramesOwnLayersAtTheirPlaces) {
    const MatchView moving{{7, 187}, 40, 60, false}, moved{{11, 183}, 45, 55, false};
    const MatchView scored{{7, 187}, 300, 100, false}, waits{{7, 187}, 154, 114, true};
    const MatchView served{{7, 187}, 159, 119, false};
    const struct {
        const char *what;
        MatchView before, after;
        double phase;
        MatchView drawn;
    } cases[] = {
        {"phase 0: the frame before", moving, moved, 0.0, moving},
        {"phase 1: the last frame", moving, moved, 1.0, moved},
        {"halfway, rounded to whole pixels", moving, moved, 0.5, {{9, 185}, 43, 58, false}},
        {"a point: the ball waits in the centre at once", scored, waits, 0.5, waits},
        {"the serve: it glides from the centre", waits, served, 0.4, {{7, 187}, 156, 116, false}},
    };
    const auto places = [](const MatchView &v) {
        return std::make_tuple(v.paddleY[0], v.paddleY[1], v.ballX, v.ballY, v.ballWaits);
    };
    putBallInPlay(100, 100);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const MatchView view = between(c.before, c.after, c.phase);
        EXPECT_EQ(places(view), places(c.drawn));

        fake::blits.clear();
        drawMatch(view);
        ASSERT_EQ(fake::blits.size(), 6u);
        EXPECT_EQ(fake::blits[0].source, bgGame);
        EXPECT_EQ(fake::blits[1].source, scoreText[0]);
        const auto row = [](int y) { return static_cast<Sint16>(y); };
        expectSprite(fake::blits[3], {1, 1, 11, 50}, at(1, row(view.paddleY[0])));
        expectSprite(fake::blits[4], {25, 1, 11, 50}, at(307, row(view.paddleY[1])));
        expectSprite(fake::blits[5], TavrelBall.spriteRect, at(row(view.ballX), row(view.ballY)));
    }
}

TEST(PaddleEasingTest, ACorrectionIsShownAsAMoveThePaddleCanMakeAndInPlaceWithinTheEase) {
    // From row 95 at 0 ms, the paddle's row in the match jumps at jumpAtMs
    // (where it can move 11 px per 60 ms, and a row of rounding: 3.9 rows in
    // 16 ms, 7.05 in 33 ms), and the picture is looked at then or later.
    constexpr double EASE_MS = 100.0;
    struct Case {
        const char *what;
        double easeMs;
        int jump;
        double jumpAtMs;
        double lookAtMs;
        int drawn;
    } cases[] = {
        {"a move it can make is drawn as it is", EASE_MS, 7, 33, 33, 102},
        {"a row more than it can make is eased", EASE_MS, 8, 33, 33, 102},
        {"a correction of 60 rows: a move it can make", EASE_MS, 60, 16, 16, 99},
        {"upwards too", EASE_MS, -60, 16, 16, 91},
        {"99 ms later: not yet in place", EASE_MS, 60, 16, 16 + 99, 154},
        {"100 ms later: in place", EASE_MS, 60, 16, 16 + 100, 155},
        {"no ease (natively): in place at once", 0.0, 60, 16, 16, 155},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PaddleEasing easing(c.easeMs);
        EXPECT_EQ(easing.place(95, 0.0), 95);
        int drawn = easing.place(95 + c.jump, c.jumpAtMs);
        if (c.lookAtMs > c.jumpAtMs)
            drawn = easing.place(95 + c.jump, c.lookAtMs);
        EXPECT_EQ(drawn, c.drawn);
    }
}
} // namespace
