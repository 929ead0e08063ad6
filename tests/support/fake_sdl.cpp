// Stand-ins for SDL_GetTicks, SDL_Delay and SDL_UpperBlit, put in place by
// the linker's --wrap: a clock the test drives, and a record of every blit.
#include "harness.h"

extern "C" {
Uint32 __real_SDL_GetTicks(void);
void __real_SDL_Delay(Uint32 ms);
int __real_SDL_UpperBlit(SDL_Surface *src, SDL_Rect *srcrect, SDL_Surface *dst, SDL_Rect *dstrect);
}

namespace fake {
bool clockIsFake = false;
Uint32 now = 0;
Uint32 ticksPerRead = 0;
std::vector<Uint32> delays;
std::vector<Blit> blits;

void reset() {
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
