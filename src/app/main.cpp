// Korrin Tavrel: the program's entry. Reads the command line, starts the
// media libraries, then alternates menu and match until the player leaves.
#include <cstdio>
#include <string>

#include "desktop.h"
#include "game.h"
#include "init.h"
#include "input.h"
#include "menu.h"
#include "online.h"
#include "options.h"
#include "playback.h"
#include "randgen.h"
#include "replay.h"
#include "verify.h"

namespace {
constexpr const char *CLOSING_LINE = "Korrin Tavrel is exiting normally.";

// The menu and its matches, as the game has always run.
int playFromMenu() {
    initRandom();
    if (initGame() != 0) {
        puts("Some errors occurred during initialization.");
        return 1;
    }
    // The menu ends this loop by leaving numPlayers at 0; a close request
    // ends it after the match it came in.
    while (numPlayers != 0 && !closeRequested) {
        showMenu();
        if (numPlayers != 0)
            startGame();
    }
    closePads();
    quitGame();
    puts(CLOSING_LINE);
    return 0;
}

// The recorded matches in the window, with no menu, then the closing lines
// of a game left from its menu.
int replayFromFile(const std::string &path) {
    const Result<ReplayContents> read = readReplayFile(path);
    if (!read.ok()) {
        fprintf(stderr, "%s\n", read.error.c_str());
        return 1;
    }
    if (initGame() != 0) {
        puts("Some errors occurred during initialization.");
        return 1;
    }
    showRecordedMatches(read.value.matches);
    quitGame();
    puts(CLOSING_LINE);
    return 0;
}
} // namespace

int main(int argc, char **argv) {
    // Progress lines go out as they happen, also into a file or a pipe.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (const int status = parseOptions(argc, argv, options); status != 0)
        return status;
    switch (options.mode) {
    case Mode::Help:
        printUsage(stdout);
        return 0;
    case Mode::Version:
        printVersion();
        return 0;
    case Mode::Play:
        if (!options.recordPath.empty() && !startRecording(options.recordPath))
            return 1;
        return playFromMenu();
    case Mode::Replay:
        return replayFromFile(options.replayPath);
    case Mode::Verify:
        return verifyRecordedMatches(options.replayPath);
    case Mode::Host:
    case Mode::Join:
        return playOnline(options);
    }
    return 2; // every mode returns above
}
