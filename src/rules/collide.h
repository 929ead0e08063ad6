// Rectangle hit tests: does a point of rectangle B lie strictly inside the
// area of rectangle A? A point on the border is outside.
#pragma once

#include <SDL.h>

// B's top-left corner inside A. B's size is not read.
bool collisionDetectRIR(SDL_Rect a, SDL_Rect b);

// B's top-left corner inside A moved sideways by dx and widened by dw.
// The moved x and widened w wrap in their 16-bit fields. The match uses this
// for both paddle hits.
bool collisionDetectRIRmW(SDL_Rect a, SDL_Rect b, int dx, int dw);

// B's centre (x + w / 2, y + h / 2) inside A.
bool collisionDetectPIR(SDL_Rect a, SDL_Rect b);
