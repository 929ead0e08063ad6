// A stand-in for time(), put in place by the linker's --wrap=time, so that a
// test can seed the game's generator through initRandom with a clock reading
// of its choice.
#pragma once

#include <ctime>

// Runs initRandom while time() reads the given value, then lets time() read
// the real clock again.
void seedGeneratorAt(time_t clockReading);
