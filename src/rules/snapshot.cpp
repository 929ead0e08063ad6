// Saving, restoring and hashing the state of a match.
#include "snapshot.h"

#include <cstring>

#include "match.h"
#include "randgen.h"

namespace {
constexpr uint64_t FNV_OFFSET_BASIS = 14695981039346656037ull;
constexpr uint64_t FNV_PRIME = 1099511628211ull;

class Fnv1a {
  public:
    // Hashes a value's bytes (little-endian on every machine the game runs on).
    template <typename T> void add(const T &value) {
        unsigned char bytes[sizeof value];
        std::memcpy(bytes, &value, sizeof value);
        for (unsigned char byte : bytes) {
            hash_ ^= byte;
            hash_ *= FNV_PRIME;
        }
    }
    uint64_t value() const { return hash_; }

  private:
    uint64_t hash_ = FNV_OFFSET_BASIS;
};
} // namespace

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
    for (const Player &paddle : Players) {
        hash.add(paddle.worldRect.y);
        hash.add(paddle.speed);
        hash.add(paddle.score);
    }
    hash.add(TavrelBall.worldRect.x);
    hash.add(TavrelBall.worldRect.y);
    hash.add(TavrelBall.speedX);
    hash.add(TavrelBall.speedY);
    hash.add(TavrelBall.pauseTime);
    hash.add(randomSeed());
    hash.add(quitFlag);
    return hash.value();
}
