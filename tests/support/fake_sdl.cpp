// Stand-ins for SDL_GetTicks, SDL_Delay, SDL_UpperBlit and the joystick
// calls the game makes, put in place by the linker's --wrap: a clock the test
// drives, a record of every blit, and gamepads whose state the test sets.
#include "harness.h"

#include <algorithm>
#include <cstdint>

#include "input.h"

extern "C" {
Uint32 __real_SDL_GetTicks(void);
void __real_SDL_Delay(Uint32 ms);
int __real_SDL_UpperBlit(SDL_Surface *src, SDL_Rect *srcrect, SDL_Surface *dst, SDL_Rect *dstrect);
const SDL_version *__real_SDL_Linked_Version(void);
}

namespace fake {
bool clockIsFake = false;
Uint32 now = 0;
Uint32 ticksPerRead = 0;
std::vector<Uint32> delays;
std::vector<Blit> blits;
std::vector<Pad> pads;
const SDL_version *linkedVersion = nullptr;

void reset() {
    closePads();
    pads.clear();
    linkedVersion = nullptr;
    clockIsFake = false;
    now = 0;
    ticksPerRead = 0;
    delays.clear();
    blits.clear();
}
} // namespace fake

extern "C" Uint32 __wrap_SDL_GetTicks(void) {
    if (!fake::clockIsFake)
        return __real_SDL_GetTicks();
    const Uint32 reading = fake::now;
    fake::now += fake::ticksPerRead;
    return reading;
}

extern "C" void __wrap_SDL_Delay(Uint32 ms) {
    if (!fake::clockIsFake) {
        __real_SDL_Delay(ms);
        return;
    }
    fake::delays.push_back(ms);
    fake::now += ms;
}

extern "C" int __wrap_SDL_UpperBlit(SDL_Surface *src, SDL_Rect *srcrect, SDL_Surface *dst,
                                    SDL_Rect *dstrect) {
    fake::Blit blit{};
    blit.source = src;
    if (srcrect)
        blit.sourceRect = *srcrect;
    if (dstrect)
        blit.destGiven = *dstrect;
    blit.destAddress = dstrect;
    const int result = __real_SDL_UpperBlit(src, srcrect, dst, dstrect);
    if (dstrect)
        blit.destDrawn = *dstrect;
    fake::blits.push_back(blit);
    return result;
}

// SDL lists exactly fake::pads: a pad's handle is its index there plus one.
namespace {
fake::Pad &padOf(SDL_Joystick *joystick) {
    return fake::pads.at(reinterpret_cast<uintptr_t>(joystick) - 1);
}
} // namespace

extern "C" int __wrap_SDL_NumJoysticks(void) { return static_cast<int>(fake::pads.size()); }

extern "C" SDL_Joystick *__wrap_SDL_JoystickOpen(int index) {
    return reinterpret_cast<SDL_Joystick *>(static_cast<uintptr_t>(index) + 1);
}

extern "C" void __wrap_SDL_JoystickClose(SDL_Joystick *) {}

extern "C" int __wrap_SDL_JoystickNumHats(SDL_Joystick *) { return 1; }

extern "C" int __wrap_SDL_JoystickNumButtons(SDL_Joystick *joystick) {
    return padOf(joystick).buttons;
}

// Only the stick's vertical axis moves; every other axis rests.
extern "C" Sint16 __wrap_SDL_JoystickGetAxis(SDL_Joystick *joystick, int axis) {
    return axis == 1 ? padOf(joystick).stickY : 0;
}

extern "C" Uint8 __wrap_SDL_JoystickGetHat(SDL_Joystick *joystick, int hat) {
    return hat == 0 ? padOf(joystick).hat : SDL_HAT_CENTERED;
}

extern "C" Uint8 __wrap_SDL_JoystickGetButton(SDL_Joystick *joystick, int button) {
    const std::vector<int> &held = padOf(joystick).held;
    return std::find(held.begin(), held.end(), button) != held.end();
}

extern "C" const SDL_version *__wrap_SDL_Linked_Version(void) {
    return fake::linkedVersion ? fake::linkedVersion : __real_SDL_Linked_Version();
}
