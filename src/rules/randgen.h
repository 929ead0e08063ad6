// The game's own pseudo-random generator: a linear congruential step reduced
// modulo 2^31 - 1. It never touches the C library's rand().
#pragma once

#include <cstdint>

// Seeds the generator from the wall clock (seconds, cut to 32 bits). Called
// once at the start of a run that plays matches (the menu's, and the online
// host's, which draws the match's seed), before anything draws a number.
void initRandom();

// Advances the generator one step and returns a number from 0 to n - 1.
// n must be at least 1. Used for the ball's speed after a paddle hit
// (n = 14) and for the serve direction (n = 2).
unsigned int getRandom(int n);

// The generator's whole state, to start a match again from where it stood
// (a recorded match, a rolled-back frame, both sides of an online match).
int32_t randomSeed();
void setRandomSeed(int32_t state);
