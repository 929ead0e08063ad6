// Saving, restoring and hashing the state of a match.
#include "snapshot.h"

#include <cstring>
#include <string>
#include <type_traits>

#include "bytes.h"

#include "match.h"
#include "randgen.h"

namespace {
constexpr uint64_t FNV_OFFSET_BASIS = 14695981039346656037ull;
constexpr uint64_t FNV_PRIME = 1099511628211ull;

// The fingerprint's scripted matches, one against the computer and one of two
// players: each player's keys (none, up, down, both) changing on a rhythm of
// their own, frame lengths from none to a long stall, and a leave in the last
// frame. Both players score in the second.
constexpr int32_t FINGERPRINT_SEED = 19700101;
constexpr int FINGERPRINT_FRAME_MS[] = {22, 0, 17, 45, 22, 130, 3, 250};
constexpr int FINGERPRINT_KEY_FRAMES[2] = {7, 11};
enum FingerprintKeys { KEYS_NONE, KEYS_UP, KEYS_DOWN, KEYS_BOTH, FINGERPRINT_KEY_STATES };

class Fnv1a {
  public:
    // Hashes an integer's bytes, least significant first on every machine.
    template <typename T> void add(T value) {
        static_assert(std::is_integral_v<T>, "a double goes through addDouble");
        std::string bytes;
        putLittleEndian(bytes, static_cast<uint64_t>(value), sizeof value);
        for (const char byte : bytes) {
            hash_ ^= static_cast<unsigned char>(byte);
            hash_ *= FNV_PRIME;
        }
    }
    // A double by its IEEE 754 bits, in the same order.
    void addDouble(double value) {
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        add(bits);
    }
    uint64_t value() const { return hash_; }

  private:
    uint64_t hash_ = FNV_OFFSET_BASIS;
};
} // namespace

FrameInput fingerprintInput(int frame, int players) {
    FrameInput input{};
    for (int side = 0; side < players; ++side) {
        const int keys = frame / FINGERPRINT_KEY_FRAMES[side] % FINGERPRINT_KEY_STATES;
        input.up[side] = keys == KEYS_UP || keys == KEYS_BOTH;
        input.down[side] = keys == KEYS_DOWN || keys == KEYS_BOTH;
    }
    input.leave = frame == FINGERPRINT_FRAMES - 1;
    return input;
}

uint64_t rulesFingerprint() {
    const MatchSnapshot kept = saveMatch();
    const int keptPlayers = numPlayers, keptBall = ballType, keptReset = resetGame;
    const float keptScaler = timeScaler;

    Fnv1a fingerprint;
    for (const uint8_t players : {1, 2}) {
        startMatch({FINGERPRINT_SEED, players, 0});
        constexpr int LENGTHS = sizeof FINGERPRINT_FRAME_MS / sizeof FINGERPRINT_FRAME_MS[0];
        for (int frame = 0; frame < FINGERPRINT_FRAMES && quitFlag == 0; ++frame) {
            runFrame(fingerprintInput(frame, players), FINGERPRINT_FRAME_MS[frame % LENGTHS]);
        }
        fingerprint.add(matchHash());
    }

    restoreMatch(kept);
    numPlayers = keptPlayers;
    ballType = keptBall;
    resetGame = keptReset;
    timeScaler = keptScaler;
    return fingerprint.value();
}

MatchSnapshot saveMatch() { return {{Players[0], Players[1]}, TavrelBall, randomSeed(), quitFlag}; }

void restoreMatch(const MatchSnapshot &snapshot) {
    Players[0] = snapshot.players[0];
    Players[1] = snapshot.players[1];
    TavrelBall = snapshot.ball;
    setRandomSeed(snapshot.randomSeed);
    quitFlag = snapshot.quitFlag;
}

uint64_t matchHash() {
    Fnv1a hash;
    // Places as SDL 1.2's 16-bit numbers: the browser's SDL_Rect holds ints,
    // and the same match must hash the same there as natively.
    for (const Player &paddle : Players) {
        hash.add(static_cast<int16_t>(paddle.worldRect.y));
        hash.addDouble(paddle.speed);
        hash.addDouble(paddle.score);
    }
    hash.add(static_cast<int16_t>(TavrelBall.worldRect.x));
    hash.add(static_cast<int16_t>(TavrelBall.worldRect.y));
    hash.addDouble(TavrelBall.speedX);
    hash.addDouble(TavrelBall.speedY);
    hash.addDouble(TavrelBall.pauseTime);
    hash.add(randomSeed());
    hash.add(quitFlag);
    return hash.value();
}
