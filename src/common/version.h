// The game's version, as the build gives it, and the longest version that a
// replay file's header or an online handshake may carry.
#pragma once

#include <cstddef>

#ifndef KORRIN_VERSION
#error "the build gives the game's version as KORRIN_VERSION"
#endif

constexpr const char *GAME_VERSION = KORRIN_VERSION;
constexpr size_t MAX_GAME_VERSION_LENGTH = 32;
