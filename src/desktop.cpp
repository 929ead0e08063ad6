// The game's window on the desktop, and the player's close requests.
#include "desktop.h"

#include <SDL_image.h>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "init.h"

namespace {
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

bool closeRequested = false;

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

int windowScale(int desktopWidth, int desktopHeight) {
    const int byWidth =
        desktopWidth * DESKTOP_SHARE_NUMERATOR / (DESKTOP_SHARE_DENOMINATOR * SCREEN_WIDTH);
    const int byHeight =
        desktopHeight * DESKTOP_SHARE_NUMERATOR / (DESKTOP_SHARE_DENOMINATOR * SCREEN_HEIGHT);
    return std::max(1, std::min(byWidth, byHeight));
}

void handlePendingEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT)
            closeRequested = true;
        else if (event.type == SDL_KEYDOWN && event.key.keysym.sym == FULLSCREEN_KEY)
            SDL_WM_ToggleFullScreen(screen);
    }
}
