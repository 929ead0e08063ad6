// The players' keys and what they mean.
#include "input.h"

#include "desktop.h"

const Uint8 *readHeldKeys() {
    handlePendingEvents();
    SDL_PumpEvents();
    return SDL_GetKeyState(nullptr);
}

FrameInput readFrameInput() {
    const Uint8 *keys = readHeldKeys();
    FrameInput input{};
    input.up[0] = keys[SDLK_UP] != 0;
    input.down[0] = keys[SDLK_DOWN] != 0;
    input.up[1] = keys[SDLK_SPACE] != 0;
    input.down[1] = keys[SDLK_LALT] != 0;
    // Closing the window ends the match as Escape does.
    input.leave = keys[SDLK_ESCAPE] != 0 || closeRequested;
    return input;
}

MenuInput readMenuInput() {
    const Uint8 *keys = readHeldKeys();
    MenuInput input{};
    input.up = keys[SDLK_UP] != 0;
    input.down = keys[SDLK_DOWN] != 0;
    input.choose = keys[SDLK_RETURN] || keys[SDLK_LCTRL];
    input.nextBall = keys[SDLK_TAB] != 0;
    return input;
}
