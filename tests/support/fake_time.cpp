// time() for test programs linked with WRAP time: the real clock unless a
// test has set a reading (gtest itself may ask for the time).
#include "fake_time.h"

#include "randgen.h"

extern "C" time_t __real_time(time_t *t);

namespace {
bool readingIsFake = false;
time_t fakeReading = 0;
} // namespace

extern "C" time_t __wrap_time(time_t *t) {
    if (!readingIsFake)
        return __real_time(t);
    if (t)
        *t = fakeReading;
    return fakeReading;
}

void seedGeneratorAt(time_t clockReading) {
    readingIsFake = true;
    fakeReading = clockReading;
    initRandom();
    readingIsFake = false;
}
