// A match between two machines: the host waits for one player, the joining
// side connects; after a handshake on versions, seed and ball, both run the
// same match frame by frame, each player's own paddle at once and the other's
// by rollback, with hashes of the settled frames compared along the way.
#pragma once

#include "failure.h"
#include "options.h"

// How an online session ended: a match played to its end or left by either
// player; a wait for the other given up; or failed, after the line that says
// what went wrong (no answer, a version mismatch, a lost connection or sync,
// a match's assets that cannot be loaded), said as it happened.
enum class SessionOutcome { Played, GaveUp, Failed };

// Runs a whole online session for --host (options.port, 0 for any free one)
// or --join (options.joinHost and options.port): start-up, waiting or
// connecting with a banner, the match and its game-over screen, shut-down.
// Fails when the game cannot start (after initGame's own line).
Result<SessionOutcome> playOnline(const Options &options);
