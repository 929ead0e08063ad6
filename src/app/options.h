// The command line. With no arguments the game shows its menu and plays as
// it always has; the options record, replay or check matches, or start a
// match between two machines.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "failure.h"

enum class Mode {
    Play,    // the menu and its matches (recorded with --record FILE)
    Replay,  // --replay FILE: show the recorded matches
    Verify,  // --verify FILE: check the recorded matches, no window or sound
    Host,    // --host [PORT] or --host-room: wait for a player to join over the network
    Join,    // --join HOST[:PORT] or --join ROOM: join a waiting host
    Watch,   // --watch HOST[:PORT] or --watch ROOM: watch a host's match
    Help,    // --help
    Version, // --version
};

// The port a host listens on and a join connects to unless told otherwise.
constexpr int DEFAULT_PORT = 27960;

struct Options {
    Mode mode = Mode::Play;
    std::string recordPath;           // empty: nothing is recorded
    std::string replayPath;           // the recording to replay or verify
    std::string joinHost;             // the host to join
    int port = DEFAULT_PORT;          // to listen on (0: any free port) or to join
    bool hostRoom = false;            // --host-room: make a room and wait in it
    std::string room;                 // the room to join (lowercase), from its code or its link
    std::vector<std::string> brokers; // --signal URL, repeatable: a room's brokers
    std::string ice;                  // --ice JSON: a room's ICE servers
};

// Rooms' codes are 1 to this many of a-z, 0-9 and '-', read in any case.
constexpr size_t ROOM_CODE_MAX = 64;

// The options the arguments give, or the line that says what is wrong with
// them (an unknown option, a missing or bad argument, two modes at once),
// which the caller prints on standard error with the usage line.
Result<Options> parseOptions(int argc, char **argv);

// The usage line, then one line for each option.
void printUsage(FILE *to);
void printVersion();
