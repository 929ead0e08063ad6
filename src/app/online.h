// A match between two machines: the host waits for one player, the joining
// side connects; after a handshake on versions, seed and ball, both run the
// same match frame by frame, each player's own paddle at once and the other's
// by rollback, with hashes of the settled frames compared along the way.
#pragma once

#include "options.h"

// Runs a whole online session for --host (options.port, 0 for any free one)
// or --join (options.joinHost and options.port): start-up, waiting or
// connecting with a banner, the match and its game-over screen, shut-down.
// Returns the process's exit status: 0 for a match played to its end or left
// by either player (or a wait given up), after which main prints its closing
// line; 1 after a line saying what went wrong (no answer, a version mismatch,
// a lost connection or sync, a match's assets that cannot be loaded).
int playOnline(const Options &options);
