// The checks that the two sides' matches have not parted.
#include "divergence.h"

#include <cstddef>

namespace {
// Hashes of either side kept for comparison, the newest ones.
constexpr size_t HASHES_KEPT = 8;
// The inputs checksum: 32-bit FNV-1a over each frame's buttons.
constexpr uint32_t CHECK_BASIS = 2166136261u;
constexpr uint32_t CHECK_PRIME = 16777619u;

void keep(std::map<uint32_t, uint64_t> &hashes, uint32_t hashedFrames, uint64_t hash) {
    hashes[hashedFrames] = hash;
    if (hashes.size() > HASHES_KEPT)
        hashes.erase(hashes.begin());
}
} // namespace

DivergenceChecks::DivergenceChecks(uint32_t window) : checks_(window, 0) {}

void DivergenceChecks::settle(const FrameInput &inputs) {
    const uint32_t check = (inputsCheck() ^ encodeFrameInput(inputs)) * CHECK_PRIME;
    checks_[settled_ % checks_.size()] = check;
    ++settled_;
}

uint32_t DivergenceChecks::inputsCheck() const {
    return settled_ == 0 ? CHECK_BASIS : checks_[(settled_ - 1) % checks_.size()];
}

HashComparison DivergenceChecks::hashLocal(uint32_t hashedFrames, uint64_t hash) {
    keep(localHashes_, hashedFrames, hash);
    sentHashFrames_ = hashedFrames;
    return compare(hashedFrames);
}

void DivergenceChecks::hearChecksum(uint32_t checkedFrames, uint32_t check) {
    if (checkedFrames > remoteCheckedFrames_) {
        remoteCheckedFrames_ = checkedFrames;
        remoteCheck_ = check;
    }
}

HashComparison DivergenceChecks::hearHash(uint32_t hashedFrames, uint64_t hash) {
    if (hashedFrames == 0 || remoteHashes_.count(hashedFrames) != 0)
        return HashComparison::Unknown;
    keep(remoteHashes_, hashedFrames, hash);
    return compare(hashedFrames);
}

bool DivergenceChecks::inputsParted(uint32_t &frame) const {
    const uint32_t frames = remoteCheckedFrames_;
    if (frames == 0 || frames > settled_ || settled_ - frames >= checks_.size())
        return false;
    frame = frames - 1;
    return checks_[frame % checks_.size()] != remoteCheck_;
}

uint64_t DivergenceChecks::sentHash() const {
    const auto sent = localHashes_.find(sentHashFrames_);
    return sent == localHashes_.end() ? 0 : sent->second;
}

HashComparison DivergenceChecks::compare(uint32_t hashedFrames) {
    const auto local = localHashes_.find(hashedFrames);
    const auto remote = remoteHashes_.find(hashedFrames);
    if (local == localHashes_.end() || remote == remoteHashes_.end())
        return HashComparison::Unknown;
    if (local->second == remote->second)
        return HashComparison::Same;
    sentHashFrames_ = hashedFrames;
    return HashComparison::Different;
}
