// Media start-up (the window's looks included) and shut-down.
#include "init.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef __linux__
#include <dlfcn.h>
#endif

#include <SDL_image.h>
#include <algorithm>
#include <iterator>
#include <string>

#include "desktop.h"
#include "failure.h"

SDL_Surface *screen = nullptr;
TTF_Font *font = nullptr;
SDL_Color txtClr = {0, 0, 0, 0};
SDL_Surface *scoreText[2] = {nullptr, nullptr};
SDL_Surface *sprites = nullptr;
SDL_Surface *bgGame = nullptr;
SDL_Surface *bgMenu = nullptr;
SDL_Surface *menuOpts = nullptr;
SDL_Rect src = {0, 0, 0, 0};
SDL_Rect dest = {0, 0, 0, 0};

namespace {
// What is saved before the game leaves without its display.
void (*saveOnDisplayLoss)() = nullptr;

constexpr const char *FONT_PATH = "img/hyperfont.ttf";
constexpr int FONT_POINT_SIZE = 15;

// ---- The window
// The window may take this share of the desktop, as a fraction.
constexpr int DESKTOP_SHARE_NUMERATOR = 4;
constexpr int DESKTOP_SHARE_DENOMINATOR = 5;

// SDL 1.2 on X11 reads the first; sdl12-compat over Wayland the second (the
// app id the compositor matches with the desktop entry).
constexpr const char *CLASS_VARIABLES[] = {"SDL_VIDEO_X11_WMCLASS", "SDL_VIDEO_WAYLAND_WMCLASS"};
// sdl12-compat draws the 320x240 picture into a window this many times as
// large (read with the video mode); "nearest" keeps every game pixel a crisp
// square instead of a blur (read when SDL starts). The classic library's
// window has the video mode's size, and it ignores both.
constexpr const char *SCALE_VARIABLE = "SDL12COMPAT_WINDOW_SCALING";
constexpr const char *SCALE_METHOD_VARIABLE = "SDL12COMPAT_SCALE_METHOD";
constexpr const char *CRISP_SCALE_METHOD = "nearest";

// On Linux SDL shows its window through an X server or a Wayland compositor,
// which it finds through these variables. When it reaches neither (over ssh,
// on a text console) it falls back to a driver that draws into the terminal
// (classic SDL 1.2's text-mode ones) or nowhere (SDL2's offscreen, under
// sdl12-compat), and the game would run unseen.
constexpr const char *DISPLAY_VARIABLES[] = {"DISPLAY", "WAYLAND_DISPLAY"};
constexpr const char *UNSEEN_DRIVERS[] = {"offscreen", "dummy", "aalib", "caca"};
constexpr const char *VIDEO_DRIVER_VARIABLE = "SDL_VIDEODRIVER";

bool isSet(const char *variable) {
    const char *value = getenv(variable);
    return value != nullptr && *value != '\0';
}

#ifdef __linux__
constexpr int DRIVER_NAME_SIZE = 32; // bytes, more than any driver's name

Status displayPresent() { return displayNamed(); }

Status displayReached() {
    char driver[DRIVER_NAME_SIZE] = "";
    if (SDL_VideoDriverName(driver, sizeof driver) == nullptr)
        return {};
    return driverShows(driver);
}

// SDL reaches an X server through Xlib, which it loads itself (the game does
// not link it); the two of Xlib's types the game needs.
constexpr const char *XLIB_LIBRARY = "libX11.so.6";
using XIOErrorHandler = int (*)(void *display);
using XSetIOErrorHandlerFunction = XIOErrorHandler (*)(XIOErrorHandler);

// The status of a game that lost its display, as of any failure.
constexpr int DISPLAY_LOST_STATUS = 1;

// Xlib calls this once the connection to the X server is broken. It cannot
// hand a failure back: should it return, Xlib ends the process with exit(),
// whose handlers run SDL's shut-down, which over SDL2 waits on the dead
// connection for ever. So the process ends here, with _Exit (no exit
// handler, nothing more sent to the display): what was recorded is kept,
// the sound device (which needs no display) closed, and the line printed.
int leaveWithoutDisplay(void *) {
    if (saveOnDisplayLoss != nullptr)
        saveOnDisplayLoss();
    Mix_CloseAudio();
    puts("Lost the connection to the display.");
    std::fflush(stdout); // _Exit flushes nothing
    std::_Exit(DISPLAY_LOST_STATUS);
}

// Once SDL's window is open: where SDL talks to the display through Xlib,
// a lost connection ends the game through leaveWithoutDisplay.
void catchDisplayLoss() {
    void *xlib = dlopen(XLIB_LIBRARY, RTLD_LAZY | RTLD_NOLOAD);
    if (xlib == nullptr)
        return; // SDL found its display another way (Wayland), or a driver with none
    const auto setHandler =
        reinterpret_cast<XSetIOErrorHandlerFunction>(dlsym(xlib, "XSetIOErrorHandler"));
    if (setHandler != nullptr)
        setHandler(leaveWithoutDisplay);
    dlclose(xlib);
}
#else
// Elsewhere (the browser) SDL shows its picture without such variables, and
// the page outlives no display.
Status displayPresent() { return {}; }
Status displayReached() { return {}; }
void catchDisplayLoss() {}
#endif

// The start-up failure line for a missing display.
void sayNoDisplay(const Status &display) {
    printf("Couldn't initialize SDL: no display found (%s)\n", display.error.c_str());
}

// Sets an environment variable for SDL unless the player has set it.
void setDefault(const char *variable, const std::string &value) {
    setenv(variable, value.c_str(), 0);
}

void setWindowIcon() {
    SDL_Surface *icon = IMG_Load(WINDOW_ICON_PATH);
    if (icon == nullptr) {
        // No icon is no error: keep its message out of later error lines.
        SDL_ClearError();
        return;
    }
    SDL_WM_SetIcon(icon, nullptr); // the mask comes from the icon's alpha
    SDL_FreeSurface(icon);
}

void chooseWindowScale() {
    // Before a video mode is set, SDL reports the desktop's size.
    const SDL_VideoInfo *desktop = SDL_GetVideoInfo();
    const int scale = desktop ? windowScale(desktop->current_w, desktop->current_h) : 1;
    setDefault(SCALE_VARIABLE, std::to_string(scale));
}
} // namespace

int initGame() {
    setWindowDefaults();
    if (const Status display = displayPresent(); !display.ok()) {
        sayNoDisplay(display);
        return 1;
    }
    if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO) < 0) {
        printf("Couldn't initialize SDL: %s\n", SDL_GetError());
        return 1;
    }
    // However the process ends (a failed start-up returns from main, a
    // missing match asset calls exit): on sdl12-compat a process that ends
    // with the audio device open can die of SIGSEGV, SDL2's audio thread
    // calling into the library while it is unloaded.
    std::atexit(SDL_Quit);
    if (const Status display = displayReached(); !display.ok()) {
        SDL_Quit(); // a text-mode driver gives the terminal back before the line
        sayNoDisplay(display);
        return 1;
    }
    catchHangUp();
    if (initSound() != 0) {
        puts("Error during sound init.");
        return 1;
    }
    prepareWindow();
    screen = SDL_SetVideoMode(SCREEN_WIDTH, SCREEN_HEIGHT, 0, SDL_SWSURFACE);
    // Hidden even when the mode could not be set.
    SDL_ShowCursor(SDL_DISABLE);
    if (screen == nullptr) {
        printf("Unable to set video mode: %s\n", SDL_GetError());
        return 1;
    }
    catchDisplayLoss();
    if (TTF_Init() < 0) {
        printf("Error initializing TTF library. %s\n", SDL_GetError());
        return 1;
    }
    font = TTF_OpenFont(FONT_PATH, FONT_POINT_SIZE);
    if (font == nullptr) {
        printf("Error loading font. %s\n", SDL_GetError());
        return 1;
    }
    return 0;
}

void quitGame() {
    Mix_CloseAudio();
    SDL_Quit();
    TTF_Quit();
    puts("SDL, SDL_mixer, and TTF have been shut down.");
}

void setSaveOnDisplayLoss(void (*save)()) { saveOnDisplayLoss = save; }

void setWindowDefaults() {
    for (const char *variable : CLASS_VARIABLES)
        setDefault(variable, WINDOW_CLASS);
    setDefault(SCALE_METHOD_VARIABLE, CRISP_SCALE_METHOD);
}

void prepareWindow() {
    SDL_WM_SetCaption(WINDOW_TITLE, WINDOW_TITLE);
    setWindowIcon();
    chooseWindowScale();
}

Status displayNamed() {
    if (isSet(VIDEO_DRIVER_VARIABLE) ||
        std::any_of(std::begin(DISPLAY_VARIABLES), std::end(DISPLAY_VARIABLES), isSet))
        return {};
    return {"DISPLAY and WAYLAND_DISPLAY are not set"};
}

Status driverShows(const char *driver) {
    const auto isDriver = [driver](const char *unseen) { return strcmp(driver, unseen) == 0; };
    if (isSet(VIDEO_DRIVER_VARIABLE) ||
        std::none_of(std::begin(UNSEEN_DRIVERS), std::end(UNSEEN_DRIVERS), isDriver))
        return {};
    return {std::string("SDL fell back to its ") + driver + " driver"};
}

int windowScale(int desktopWidth, int desktopHeight) {
    const int byWidth =
        desktopWidth * DESKTOP_SHARE_NUMERATOR / (DESKTOP_SHARE_DENOMINATOR * SCREEN_WIDTH);
    const int byHeight =
        desktopHeight * DESKTOP_SHARE_NUMERATOR / (DESKTOP_SHARE_DENOMINATOR * SCREEN_HEIGHT);
    return std::max(1, std::min(byWidth, byHeight));
}
