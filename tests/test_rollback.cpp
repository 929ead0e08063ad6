// Rollback: however late and in whatever bursts the other player's inputs
// arrive, the settled frames are exactly those of a plain run of the true
// inputs, and a frame run again makes no sound.
#include <gtest/gtest.h>

#include <vector>

#include "match_fixture.h"
#include "randgen.h"
#include "rollback.h"
#include "snapshot.h"

namespace {
int plays = 0;
}

extern "C" {
int __real_Mix_PlayChannelTimed(int channel, Mix_Chunk *chunk, int loops, int ticks);
int __wrap_Mix_PlayChannelTimed(int channel, Mix_Chunk *chunk, int loops, int ticks) {
    ++plays;
    return __real_Mix_PlayChannelTimed(channel, chunk, loops, ticks);
}
}

namespace {
constexpr int32_t SEED = 20261208;
constexpr uint32_t NOBODY_LEAVES = 0;

// How the other player's inputs reach the local side, and what they are.
struct Delivery {
    const char *name;
    int localSide;
    uint32_t delayFrames; // the input of frame f arrives delayFrames ticks after f
    uint32_t burstTicks;  // and only every burstTicks ticks (the packets between are lost)
    uint32_t holdFrames;  // the other player changes keys every holdFrames frames
    uint32_t leaveFrame;  // the other player leaves in this frame, or NOBODY_LEAVES
    uint32_t maxFrames;   // the match is cut here unless it ends before
    bool ends;            // and it does
};

// The local player's keys: a pattern of its own, so that both sides move.
uint8_t localInput(uint32_t frame) {
    constexpr uint8_t PATTERN[] = {0, INPUT_UP, INPUT_UP, 0, INPUT_DOWN};
    return PATTERN[frame / 13 % 5];
}

uint8_t remoteInput(const Delivery &d, uint32_t frame) {
    constexpr uint8_t PATTERN[] = {INPUT_DOWN, 0, INPUT_UP, INPUT_UP | INPUT_DOWN, INPUT_UP};
    if (d.leaveFrame != NOBODY_LEAVES && frame == d.leaveFrame)
        return INPUT_LEAVE;
    return PATTERN[frame / d.holdFrames % 5];
}

FrameInput trueInput(const Delivery &d, uint32_t frame) {
    const uint8_t local = localInput(frame), remote = remoteInput(d, frame);
    const uint8_t bySide[2] = {d.localSide == 0 ? local : remote,
                               d.localSide == 0 ? remote : local};
    FrameInput input{};
    for (int side = 0; side < 2; ++side) {
        input.up[side] = (bySide[side] & INPUT_UP) != 0;
        input.down[side] = (bySide[side] & INPUT_DOWN) != 0;
    }
    input.leave = ((local | remote) & INPUT_LEAVE) != 0;
    return input;
}

void startMatch() {
    quitFlag = 0;
    resetAll();
    setRandomSeed(SEED);
}

// The plain run: the hash after every frame, up to the end or the cut.
std::vector<uint64_t> plainRun(const Delivery &d) {
    startMatch();
    std::vector<uint64_t> hashes;
    while (hashes.size() < d.maxFrames && quitFlag == 0) {
        runFrame(trueInput(d, static_cast<uint32_t>(hashes.size())), ONLINE_FRAME_MS);
        hashes.push_back(matchHash());
    }
    return hashes;
}

class RollbackTest : public MatchTest {};

TEST_F(RollbackTest, SettledFramesAreThoseOfAPlainRunOfTheTrueInputs) {
    const Delivery deliveries[] = {
        {"on time", 0, 0, 1, 7, NOBODY_LEAVES, 400, false},
        {"3 frames late, keys held long", 0, 3, 1, 50, NOBODY_LEAVES, 400, false},
        {"6 frames late, keys changing often", 0, 6, 1, 4, NOBODY_LEAVES, 400, false},
        {"joining side, 12 frames late", 1, 12, 1, 9, NOBODY_LEAVES, 400, false},
        {"30 frames late, one packet in five", 0, 30, 5, 11, NOBODY_LEAVES, 400, false},
        {"beyond the window: the local side waits", 1, 55, 3, 6, NOBODY_LEAVES, 300, false},
        {"the other player leaves, 8 frames late", 0, 8, 2, 5, 150, 400, true},
        {"a whole match to its end, 10 frames late", 1, 10, 4, 40, NOBODY_LEAVES, 5000, true},
    };
    for (const Delivery &d : deliveries) {
        SCOPED_TRACE(d.name);
        const std::vector<uint64_t> expected = plainRun(d);
        const uint32_t lastFrame = static_cast<uint32_t>(expected.size());
        ASSERT_EQ(quitFlag != 0, d.ends);
        const int endFlag = quitFlag;

        startMatch();
        Rollback rollback(d.localSide);
        uint32_t delivered = 0, checked = 0, rollbacks = 0;
        for (uint32_t tick = 0; checked < lastFrame && tick < 4 * d.maxFrames; ++tick) {
            if (tick % d.burstTicks == 0 && tick >= d.delayFrames) {
                std::vector<uint8_t> inputs;
                for (uint32_t f = delivered; f <= tick - d.delayFrames && f < lastFrame; ++f)
                    inputs.push_back(remoteInput(d, f));
                // Packets of at most MAX_INPUTS_PER_PACKET, each repeating the last input sent.
                for (size_t at = 0; at < inputs.size(); at += MAX_INPUTS_PER_PACKET - 1) {
                    const size_t from = at == 0 ? 0 : at - 1;
                    const size_t count = std::min(MAX_INPUTS_PER_PACKET, inputs.size() - from);
                    ASSERT_TRUE(rollback.receiveRemote(delivered + static_cast<uint32_t>(from),
                                                       inputs.data() + from, count));
                }
                delivered += static_cast<uint32_t>(inputs.size());
            }
            const int playsBefore = plays;
            rollbacks += rollback.correct() > 0;
            EXPECT_EQ(plays, playsBefore) << "a frame run again played a sound";
            EXPECT_FALSE(effectsMuted);
            for (; checked < rollback.settledFrames(); ++checked) {
                ASSERT_EQ(rollback.settledHash(checked), expected[checked])
                    << "settled frame " << checked << " at tick " << tick;
            }
            rollback.acknowledge(rollback.frames());
            if (rollback.canAdvance())
                rollback.advance(localInput(rollback.frames()));
            EXPECT_LE(rollback.frames(), rollback.remoteFrames() + MAX_PREDICTION_FRAMES);
        }
        EXPECT_EQ(checked, lastFrame);
        EXPECT_EQ(rollback.settledEnd(), d.ends);
        if (d.ends) {
            EXPECT_EQ(rollback.frames(), lastFrame);
            EXPECT_EQ(quitFlag, endFlag);
            EXPECT_EQ(matchHash(), expected.back());
            EXPECT_EQ(rollback.remoteLeft(), d.leaveFrame != NOBODY_LEAVES);
        }
        if (d.delayFrames > 0 && d.holdFrames < 20) {
            EXPECT_GT(rollbacks, 0u) << "the case never missed a prediction";
        }
    }
}

TEST_F(RollbackTest, InputsThatContradictWhatIsKnownOrLieBeyondTheWindowAreRefused) {
    const uint8_t held[4] = {INPUT_UP, INPUT_UP, INPUT_DOWN, 0};
    struct Case {
        const char *name;
        uint32_t first;
        std::vector<uint8_t> inputs;
        bool accepted;
        uint32_t remoteFrames; // after it
    } cases[] = {
        {"a repeat of the known", 1, {INPUT_UP, INPUT_DOWN, 0}, true, 4},
        {"a repeat and one new", 2, {INPUT_DOWN, 0, INPUT_UP}, true, 5},
        {"after a gap: kept for a later packet", 6, {INPUT_UP}, true, 4},
        {"a known frame changed", 0, {INPUT_DOWN}, false, 4},
        {"the window's last frame", MAX_PREDICTION_FRAMES - 1, {0}, true, 4},
        {"past the window", MAX_PREDICTION_FRAMES, {0}, false, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        startMatch();
        Rollback rollback(0);
        ASSERT_TRUE(rollback.receiveRemote(0, held, 4));
        EXPECT_EQ(rollback.receiveRemote(c.first, c.inputs.data(), c.inputs.size()), c.accepted);
        EXPECT_EQ(rollback.remoteFrames(), c.remoteFrames);
    }
}
} // namespace
