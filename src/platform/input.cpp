// The players' keys and gamepads, and what they mean.
#include "input.h"

#include <cstdlib>
#include <vector>

#include "desktop.h"
#include "init.h"
#include "match.h"

namespace {
// Which raw button does what. Pads number their buttons differently: on
// sdl12-compat with SDL12COMPAT_USE_GAME_CONTROLLERS=1 every pad that SDL2
// knows comes in its game-controller layout; otherwise the game reads the
// order that Linux gives the common Xbox-style pads (A B X Y LB RB Back Start).
struct ButtonLayout {
    int firstFace;  // A: chooses in the menu
    int secondFace; // B: the next ball in the menu
    int back;       // leaves the match
    int start;      // chooses in the menu, holds the match
    int dpadUp;     // -1 where the d-pad is hat 0
    int dpadDown;
};
constexpr ButtonLayout RAW_LAYOUT = {0, 1, 6, 7, -1, -1};
constexpr ButtonLayout GAME_CONTROLLER_LAYOUT = {0, 1, 4, 6, 11, 12};

// The left stick's vertical axis, in both layouts.
constexpr int STICK_VERTICAL_AXIS = 1;
constexpr int DPAD_HAT = 0;

// sdl12-compat reports itself as SDL 1.2.50 and above.
constexpr int SDL12_COMPAT_FIRST_PATCH = 50;
constexpr const char *GAME_CONTROLLER_VARIABLE = "SDL12COMPAT_USE_GAME_CONTROLLERS";

struct Pad {
    SDL_Joystick *joystick;
    int hats, buttons;
};
std::vector<Pad> pads;
const ButtonLayout *layout = &RAW_LAYOUT;
// Whether P, Pause or a Start was down in the previous pass of the match or
// the menu: a Start that chose in the menu must be let go before it holds.
bool holdWasDown = false;
TouchSteering touchSteering = {false, 0};

// What one pad asks for in this pass.
struct PadCommands {
    bool up, down, firstFace, secondFace, back, start;
};

bool usesGameControllerLayout() {
    const SDL_version *linked = SDL_Linked_Version();
    const bool sdl12Compat =
        linked->major == 1 && linked->minor == 2 && linked->patch >= SDL12_COMPAT_FIRST_PATCH;
    const char *setting = getenv(GAME_CONTROLLER_VARIABLE);
    return sdl12Compat && setting != nullptr && atoi(setting) != 0;
}

// False for a button the pad does not have (SDL would set an error).
bool buttonDown(const Pad &pad, int button) {
    return button >= 0 && button < pad.buttons && SDL_JoystickGetButton(pad.joystick, button);
}

PadCommands readPad(const Pad &pad) {
    const Uint8 hat = pad.hats > DPAD_HAT ? SDL_JoystickGetHat(pad.joystick, DPAD_HAT) : 0;
    const Sint16 stick = SDL_JoystickGetAxis(pad.joystick, STICK_VERTICAL_AXIS);
    PadCommands commands{};
    // The stick's axis grows downwards, as the screen's rows do.
    commands.up = (hat & SDL_HAT_UP) || stick < -STICK_DEAD_ZONE || buttonDown(pad, layout->dpadUp);
    commands.down =
        (hat & SDL_HAT_DOWN) || stick > STICK_DEAD_ZONE || buttonDown(pad, layout->dpadDown);
    commands.firstFace = buttonDown(pad, layout->firstFace);
    commands.secondFace = buttonDown(pad, layout->secondFace);
    commands.back = buttonDown(pad, layout->back);
    commands.start = buttonDown(pad, layout->start);
    return commands;
}

// Whether a finger asks the paddle to go up or down: towards the finger's
// height, unless it lies within the dead zone of the paddle's centre.
void steerTowards(const ScreenPoint &finger, const Player &paddle, bool &up, bool &down) {
    const int centre = paddle.worldRect.y + paddle.worldRect.h / 2;
    up = up || finger.y < centre - TOUCH_DEAD_ZONE_ROWS;
    down = down || finger.y > centre + TOUCH_DEAD_ZONE_ROWS;
}

// The fingers' commands added to the keys' and pads': each paddle follows
// the finger put down last among those that steer it; two players' fingers
// steer the paddle of the half they were put down on.
void addFingers(const TouchScreen &touch, FrameInput &input) {
    const ScreenPoint *steering[2] = {nullptr, nullptr};
    for (int finger = 0; finger < touch.fingerCount; ++finger) {
        const int paddle = touchSteering.byHalves
                               ? (touch.putDownAt[finger].x < SCREEN_WIDTH / 2 ? 0 : 1)
                               : touchSteering.paddle;
        steering[paddle] = &touch.fingers[finger];
    }
    for (int paddle = 0; paddle < 2; ++paddle) {
        if (steering[paddle] == nullptr)
            continue;
        // The one player's commands are player 1's, whichever paddle they steer.
        const int player = touchSteering.byHalves ? paddle : 0;
        steerTowards(*steering[paddle], Players[paddle], input.up[player], input.down[player]);
    }
}

// Once per press: true only in the pass where the hold keys go down.
bool holdPressed(const Uint8 *keys, bool otherHold) {
    const bool down = keys[SDLK_p] || keys[SDLK_PAUSE] || otherHold;
    const bool pressed = down && !holdWasDown;
    holdWasDown = down;
    return pressed;
}
} // namespace

void openPads() {
    closePads();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) < 0) {
        SDL_ClearError(); // no joystick support: keys only, and no error line
        return;
    }
    layout = usesGameControllerLayout() ? &GAME_CONTROLLER_LAYOUT : &RAW_LAYOUT;
    for (int index = 0; index < SDL_NumJoysticks(); ++index) {
        if (SDL_Joystick *joystick = SDL_JoystickOpen(index))
            pads.push_back(
                {joystick, SDL_JoystickNumHats(joystick), SDL_JoystickNumButtons(joystick)});
    }
}

void closePads() {
    for (const Pad &pad : pads)
        SDL_JoystickClose(pad.joystick);
    pads.clear();
}

void steerByTouch(const TouchSteering &steering) { touchSteering = steering; }

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
    bool padStart = false;
    for (size_t player = 0; player < pads.size(); ++player) {
        const PadCommands pad = readPad(pads[player]);
        // The first pad steers player 1, the second player 2; the match
        // ignores player 2's commands against the computer.
        if (player < 2) {
            input.up[player] = input.up[player] || pad.up;
            input.down[player] = input.down[player] || pad.down;
        }
        input.leave = input.leave || pad.back;
        padStart = padStart || pad.start;
    }
    const TouchScreen touch = readTouchScreen();
    addFingers(touch, input);
    input.leave = input.leave || touch.leaveTapped;
    input.hold = holdPressed(keys, padStart || touch.holdTapped);
    return input;
}

MenuInput readMenuInput() {
    const Uint8 *keys = readHeldKeys();
    MenuInput input{};
    input.up = keys[SDLK_UP] != 0;
    input.down = keys[SDLK_DOWN] != 0;
    input.choose = keys[SDLK_RETURN] || keys[SDLK_LCTRL];
    input.nextBall = keys[SDLK_TAB] != 0;
    bool padStart = false;
    for (const Pad &pad : pads) {
        const PadCommands commands = readPad(pad);
        input.up = input.up || commands.up;
        input.down = input.down || commands.down;
        input.choose = input.choose || commands.firstFace || commands.start;
        input.nextBall = input.nextBall || commands.secondFace;
        padStart = padStart || commands.start;
    }
    holdPressed(keys, padStart); // a Start that chooses here does not hold the match
    // The hold and leave controls tapped here do nothing.
    const TouchScreen touch = readTouchScreen();
    input.pointing = touch.fingerCount > 0;
    if (input.pointing)
        input.pointedAt = touch.fingers[touch.fingerCount - 1];
    input.lifted = touch.lifted;
    input.liftedAt = touch.liftedAt;
    return input;
}
