// Start-up and shut-down in-process: the lines initGame and quitGame print,
// a video mode that cannot be set, and the first values of the shared state.
#include <gtest/gtest.h>

#include <SDL_mixer.h>
#include <SDL_ttf.h>

#include <string>
#include <vector>

#include "desktop.h"
#include "harness.h"
#include "init.h"

namespace {
const char *const VIDEO_MODE_ERROR = "No video mode for this test";
bool failVideoMode = false;

struct VideoModeCall {
    int width = -1, height = -1, bitsPerPixel = -1;
    Uint32 flags = 0xffffffff;
} videoModeCall;

std::string versionLine() {
    return "Compiled with SDL_mixer version: " + std::to_string(SDL_MIXER_MAJOR_VERSION) + "." +
           std::to_string(SDL_MIXER_MINOR_VERSION) + "." + std::to_string(SDL_MIXER_PATCHLEVEL);
}
} // namespace

extern "C" {
SDL_Surface *__real_SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags);

SDL_Surface *__wrap_SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags) {
    videoModeCall = {width, height, bpp, flags};
    if (failVideoMode) {
        SDL_SetError("%s", VIDEO_MODE_ERROR);
        return nullptr;
    }
    return __real_SDL_SetVideoMode(width, height, bpp, flags);
}
}

TEST(Startup, SharedStateStartsWithItsFirstValues) {
    // Nothing has been started in this process.
    EXPECT_EQ(SDL_WasInit(SDL_INIT_EVERYTHING), 0u);
    EXPECT_EQ(quitFlag, 0);
    EXPECT_EQ(numPlayers, 2);
    EXPECT_EQ(ballType, 0);
    EXPECT_EQ(timeScaler, 1.0f);
    EXPECT_EQ(resetGame, 1);
    for (SDL_Surface *surface :
         {screen, scoreText[0], scoreText[1], sprites, bgGame, bgMenu, menuOpts})
        EXPECT_EQ(surface, nullptr);
    EXPECT_EQ(font, nullptr);
    EXPECT_EQ(txtClr.r, 0);
    EXPECT_EQ(txtClr.g, 0);
    EXPECT_EQ(txtClr.b, 0);

    for (const Player &paddle : Players) {
        for (const SDL_Rect &r : {paddle.spriteRect, paddle.bodyRect, paddle.worldRect}) {
            EXPECT_EQ(r.x, 0);
            EXPECT_EQ(r.y, 0);
            EXPECT_EQ(r.w, 0);
            EXPECT_EQ(r.h, 0);
        }
        EXPECT_EQ(paddle.speed, 0.0);
        EXPECT_EQ(paddle.score, 0.0);
    }
    // The global ball's first values are checked with the ball's own tests.
}

TEST(Startup, AVideoModeThatCannotBeSetStopsStartUpWithTheCursorHidden) {
    harness::prepareMedia();
    ASSERT_FALSE(HasFatalFailure());
    failVideoMode = true;
    harness::StdoutCapture out;
    const int status = initGame();
    const std::vector<std::string> lines = out.lines();

    EXPECT_EQ(status, 1);
    EXPECT_EQ(lines,
              (std::vector<std::string>{versionLine(), std::string("Unable to set video mode: ") +
                                                           VIDEO_MODE_ERROR}));
    EXPECT_EQ(screen, nullptr);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    // Nothing after the video mode was started.
    EXPECT_EQ(TTF_WasInit(), 0);
    EXPECT_EQ(font, nullptr);
}

TEST(Startup, ASuccessfulStartPrintsOnlyTheVersionLine) {
    harness::prepareMedia();
    ASSERT_FALSE(HasFatalFailure());
    // The player's own choice stays; the other window settings get the game's.
    setenv("SDL_VIDEO_X11_WMCLASS", "player's class", 1);
    for (const char *unset :
         {"SDL_VIDEO_WAYLAND_WMCLASS", "SDL12COMPAT_SCALE_METHOD", "SDL12COMPAT_WINDOW_SCALING"})
        unsetenv(unset);
    EXPECT_EQ(versionLine(), "Compiled with SDL_mixer version: 1.2.12");
    harness::StdoutCapture out;
    const int status = initGame();
    const std::vector<std::string> lines = out.lines();

    EXPECT_EQ(status, 0);
    EXPECT_EQ(lines, std::vector<std::string>{versionLine()});
    EXPECT_EQ(videoModeCall.width, 320);
    EXPECT_EQ(videoModeCall.height, 240);
    EXPECT_EQ(videoModeCall.bitsPerPixel, 0);
    EXPECT_EQ(videoModeCall.flags, Uint32{SDL_SWSURFACE});
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->w, 320);
    EXPECT_EQ(screen->h, 240);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_NE(font, nullptr);

    char *title = nullptr, *iconTitle = nullptr;
    SDL_WM_GetCaption(&title, &iconTitle);
    EXPECT_STREQ(title, "Korrin Tavrel");
    EXPECT_STREQ(iconTitle, "Korrin Tavrel");
    EXPECT_STREQ(getenv("SDL_VIDEO_X11_WMCLASS"), "player's class");
    EXPECT_STREQ(getenv("SDL_VIDEO_WAYLAND_WMCLASS"), "korrin-tavrel");
    EXPECT_STREQ(getenv("SDL12COMPAT_SCALE_METHOD"), "nearest");
    const SDL_VideoInfo *desktop = SDL_GetVideoInfo();
    EXPECT_EQ(getenv("SDL12COMPAT_WINDOW_SCALING"),
              std::to_string(windowScale(desktop->current_w, desktop->current_h)));

    int frequency = 0, channels = 0;
    Uint16 format = 0;
    ASSERT_NE(Mix_QuerySpec(&frequency, &format, &channels), 0);
    EXPECT_EQ(frequency, 44100);
    EXPECT_EQ(format, AUDIO_S16LSB);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(Mix_AllocateChannels(-1), 4);
}

TEST(Startup, TheWindowTakesTheLargestWholeScaleThatFitsEightyPercentOfTheDesktop) {
    struct Case {
        int desktopWidth, desktopHeight, scale;
    } const cases[] = {
        {1920, 1080, 3}, {1280, 720, 2}, {1366, 768, 2}, {2560, 1440, 4}, {3840, 2160, 7},
        {400, 300, 1},   {399, 299, 1},  {0, 0, 1},      {2000, 600, 2},  {800, 2000, 2},
        {1200, 900, 3},  {1199, 900, 2}, {1200, 899, 2},
    };
    for (const Case &c : cases)
        EXPECT_EQ(windowScale(c.desktopWidth, c.desktopHeight), c.scale)
            << c.desktopWidth << "x" << c.desktopHeight;
}

// Each variable and driver of the rule that stops a game nobody would see.
TEST(Startup, TheGameStopsWhereItsWindowWouldBeUnseen) {
    const char *const VARIABLES[] = {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"};
    const struct {
        const char *values[3]; // of the variables above, null for unset
        const char *driver;    // the one SDL started
        bool named, shows;
    } cases[] = {
        {{":0", nullptr, nullptr}, "x11", true, true},
        {{nullptr, "wayland-0", nullptr}, "wayland", true, true},
        {{nullptr, nullptr, "x11"}, "x11", true, true},
        {{nullptr, nullptr, nullptr}, "x11", false, true},
        {{"", "", ""}, "x11", false, true}, // set but empty
        {{":0", nullptr, nullptr}, "offscreen", true, false},
        {{":0", nullptr, nullptr}, "dummy", true, false},
        {{":0", nullptr, nullptr}, "aalib", true, false},
        {{":0", nullptr, nullptr}, "caca", true, false},
        {{nullptr, nullptr, "caca"}, "caca", true, true}, // the player's choice
    };
    for (const auto &c : cases) {
        for (int i = 0; i < 3; ++i)
            c.values[i] ? setenv(VARIABLES[i], c.values[i], 1) : unsetenv(VARIABLES[i]);
        EXPECT_EQ(displayNamed().ok(), c.named) << "case " << (&c - cases);
        EXPECT_EQ(driverShows(c.driver).ok(), c.shows) << "case " << (&c - cases);
    }
}

TEST(Startup, QuitGameShutsEverythingDownAndSaysSo) {
    harness::prepareMedia();
    ASSERT_FALSE(HasFatalFailure());
    {
        harness::StdoutCapture quiet;
        ASSERT_EQ(initGame(), 0);
    }
    harness::StdoutCapture out;
    quitGame();
    EXPECT_EQ(out.lines(),
              std::vector<std::string>{"SDL, SDL_mixer, and TTF have been shut down."});
    int frequency = 0, channels = 0;
    Uint16 format = 0;
    EXPECT_EQ(Mix_QuerySpec(&frequency, &format, &channels), 0);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_EVERYTHING), 0u);
    EXPECT_EQ(TTF_WasInit(), 0);
}
