// Rectangle hit tests; every comparison is strict.
#include "collide.h"

namespace {
bool pointInArea(int px, int py, const SDL_Rect &area) {
    return area.x < px && px < area.x + area.w && area.y < py && py < area.y + area.h;
}
} // namespace

bool collisionDetectRIR(SDL_Rect a, SDL_Rect b) { return pointInArea(b.x, b.y, a); }

bool collisionDetectRIRmW(SDL_Rect a, SDL_Rect b, int dx, int dw) {
    a.x = static_cast<Sint16>(a.x + dx);
    a.w = static_cast<Uint16>(a.w + dw);
    return collisionDetectRIR(a, b);
}

bool collisionDetectPIR(SDL_Rect a, SDL_Rect b) {
    return pointInArea(b.x + b.w / 2, b.y + b.h / 2, a);
}
