// The game's own pseudo-random generator.
#include "randgen.h"

#include <cstdint>
#include <ctime>

namespace {
constexpr uint32_t LCG_MULTIPLIER = 1103515245u;
constexpr uint32_t LCG_INCREMENT = 12345u;
constexpr int32_t SEED_MODULUS = 2147483647; // 2^31 - 1
constexpr unsigned int RESULT_DIVISOR = 3;

// The whole state of the generator; 0 until initRandom runs, and it may go negative.
int32_t seed = 0;
} // namespace

void initRandom() { seed = static_cast<int32_t>(time(nullptr)); }

unsigned int getRandom(int n) {
    // The step wraps modulo 2^32; the reduction keeps the sign of the step.
    int32_t step =
        static_cast<int32_t>(static_cast<uint32_t>(seed) * LCG_MULTIPLIER + LCG_INCREMENT);
    seed = step % SEED_MODULUS;
    // A negative seed is read as its unsigned bit pattern.
    return static_cast<uint32_t>(seed) / RESULT_DIVISOR % static_cast<unsigned int>(n);
}

int32_t randomSeed() { return seed; }

void setRandomSeed(int32_t state) { seed = state; }
