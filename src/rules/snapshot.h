// The whole state of a match, saved and restored in one piece: a rolled-back
// frame of an online match starts again from it, and a recorded match ends
// with its hash, which a replay must reach again.
#pragma once

#include <cstdint>

#include "ball.h"
#include "commands.h"
#include "player.h"

struct MatchSnapshot {
    Player players[2];
    Ball ball;
    int32_t randomSeed;
    int quitFlag;
};

MatchSnapshot saveMatch();
void restoreMatch(const MatchSnapshot &snapshot);

// A 64-bit FNV-1a hash of what decides the rest of the match: both paddles'
// rows, speeds and scores, the ball's place, speeds and countdown, the
// generator's state and quitFlag. Equal states give equal hashes on every
// build of the game.
uint64_t matchHash();

// The rules' own fingerprint: the hash at the end of a fixed scripted run of
// a few hundred frames of every length (the computer, both paddles' keys
// alone and held together, the serve, the long frames' steps, a leave), from
// a fixed seed. Two builds whose rules
// differ in anything a match can reach give different fingerprints, so an
// online handshake can refuse a peer that would part from it later. Leaves
// the match's state as it found it.
uint64_t rulesFingerprint();
// The length of the fingerprint's scripted matches, and the commands of their
// frames, for a match of players.
constexpr int FINGERPRINT_FRAMES = 600;
FrameInput fingerprintInput(int frame, int players);
