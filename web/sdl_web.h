// Forced into every game source by CMakeLists.txt (-include): what the
// game's sources expect from the desktop SDL 1.2 headers and Emscripten's
// SDL headers leave out. Its JavaScript library implements the function.
#pragma once

#include <SDL.h>

#ifdef __cplusplus
extern "C" {
#endif

// SDL 1.2's name for the array of held keys (SDL_GetKeyboardState in SDL 2).
Uint8 *SDL_GetKeyState(int *numkeys);

#ifdef __cplusplus
}
#endif
