// The game's generator: the worked sequences from known seeds, the signed
// reduction of the step, and the range of the results.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "fake_time.h"
#include "randgen.h"

namespace {
// The seed is private, but with this bound the result is the new seed's
// unsigned bit pattern divided by 3, which pins the seed down to 3 values.
constexpr int WHOLE_RANGE = INT_MAX;

std::vector<unsigned> draws(time_t clockReading, int n, int count) {
    seedGeneratorAt(clockReading);
    std::vector<unsigned> results;
    for (int i = 0; i < count; ++i)
        results.push_back(getRandom(n));
    return results;
}

unsigned patternOver3(long long seed) { return static_cast<unsigned>(seed) / 3; }
} // namespace

TEST(Random, SixDrawsFromSeedZero) {
    EXPECT_EQ(draws(0, 14, 6), (std::vector<unsigned>{13, 6, 0, 4, 9, 5}));
    EXPECT_EQ(draws(0, 2, 6), (std::vector<unsigned>{1, 0, 0, 0, 1, 1}));
    // The seeds left behind: 12345, -740551042, -1492899873, -698016724,
    // 229283573, -1038148470.
    EXPECT_EQ(draws(0, WHOLE_RANGE, 6),
              (std::vector<unsigned>{patternOver3(12345), patternOver3(-740551042),
                                     patternOver3(-1492899873), patternOver3(-698016724),
                                     patternOver3(229283573), patternOver3(-1038148470)}));
}

TEST(Random, FirstDrawFromSmallSeeds) {
    struct Row {
        time_t clock;
        long long newSeed;
        unsigned of14, of2;
    };
    const Row rows[] = {
        {0, 12345, 13, 1},
        {1, 1103527590, 6, 0},
        {2, -2087924461, 13, 1}, // negative: read as 2207042835, / 3 = 735680945
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.clock);
        EXPECT_EQ(draws(row.clock, 14, 1)[0], row.of14);
        EXPECT_EQ(draws(row.clock, 2, 1)[0], row.of2);
        EXPECT_EQ(draws(row.clock, WHOLE_RANGE, 1)[0], patternOver3(row.newSeed));
    }
    EXPECT_EQ(draws(2, WHOLE_RANGE, 1)[0], 735680945u);
}

TEST(Random, ClockReadingIsCutTo32Bits) {
    // 2207042835 becomes the seed -2087924461, the same seed that seed 2
    // leads to, so it continues seed 2's sequence one step later.
    std::vector<unsigned> fromTwo = draws(2, 14, 7);
    fromTwo.erase(fromTwo.begin());
    EXPECT_EQ(draws(2207042835, 14, 6), fromTwo);
    EXPECT_EQ(draws(2207042835, 14, 6), (std::vector<unsigned>{3, 9, 0, 1, 4, 5}));
    EXPECT_EQ(draws(4294967296LL + 1, 14, 6), draws(1, 14, 6));
}

TEST(Random, ReductionKeepsTheSignOfTheStep) {
    // Clock readings whose first step lands on the edges of the reduction.
    struct Row {
        time_t clock;
        long long step, newSeed;
    };
    const Row rows[] = {
        {2378021662, 2147483647, 0},
        {1798410728, -2147483647, 0},
        {2088216195, -2147483648LL, -1}, // reads as 4294967295
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.step);
        EXPECT_EQ(draws(row.clock, WHOLE_RANGE, 1)[0], patternOver3(row.newSeed));
    }
    // A seed of 0 is no fixed point: the step after it gives 12345 again.
    EXPECT_EQ(draws(2378021662, 14, 2), (std::vector<unsigned>{0, 13}));
}

TEST(Random, BoundOfOneGivesZeroAndStillAdvances) {
    for (unsigned result : draws(0, 1, 3))
        EXPECT_EQ(result, 0u);
    // Three steps taken by getRandom(1): the next three are the 4th to 6th.
    EXPECT_EQ(getRandom(14), 4u);
    EXPECT_EQ(getRandom(14), 9u);
    EXPECT_EQ(getRandom(14), 5u);
}

TEST(Random, ResultsStayBelowTheBound) {
    for (int n : {2, 3, 14, 1000}) {
        SCOPED_TRACE(n);
        std::vector<int> seen(n, 0);
        for (unsigned result : draws(1700000000, n, 20000)) {
            ASSERT_LT(result, static_cast<unsigned>(n));
            ++seen[result];
        }
        if (n <= 14) { // every value of the small bounds comes up
            for (int count : seen)
                EXPECT_GT(count, 0);
        }
    }
}
