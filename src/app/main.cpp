// Korrin Tavrel: the program's entry. Reads the command line, starts the
// media libraries, then alternates menu and match until the player leaves.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

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
// The launcher names the folder of img/ and snd/ here instead of starting
// the game in it, so that the player's file names keep meaning the folder
// they were typed in.
constexpr const char *DATA_FOLDER_VARIABLE = "KORRIN_DATA_DIR";

// A file name of the command line, taken from the folder the game started in.
// Should that folder have no name any more, the name stays as typed, and
// opening the file says what is wrong.
void makeAbsolute(std::string &path) {
    if (path.empty())
        return;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (!error)
        path = absolute.string();
}

// With a data folder named by the launcher: the options' file names become
// absolute, then the game moves into that folder, where it loads its assets.
// Started without it (from the repository root, in the tests) nothing moves.
// Returns false after saying why the folder cannot be entered.
bool enterDataFolder(Options &options) {
    const char *folder = getenv(DATA_FOLDER_VARIABLE);
    if (folder == nullptr || *folder == '\0')
        return true;
    makeAbsolute(options.recordPath);
    makeAbsolute(options.replayPath);
    std::error_code error;
    std::filesystem::current_path(folder, error);
    if (error) {
        fprintf(stderr, "korrin-tavrel: cannot enter the data folder %s: %s\n", folder,
                error.message().c_str());
        return false;
    }
    return true;
}

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
// of a game left from its menu; CUT_OFF_STATUS after showing a recording cut
// off to its end.
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
    const int status = showRecordedMatches(read.value.matches);
    quitGame();
    puts(CLOSING_LINE);
    return status;
}
} // namespace

int main(int argc, char **argv) {
    // Progress lines go out as they happen, also into a file or a pipe.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // A game that loses its display mid-match keeps what it recorded of it.
    setSaveOnDisplayLoss(saveRecordingCutOff);
    Options options;
    if (const int status = parseOptions(argc, argv, options); status != 0)
        return status;
    if (!enterDataFolder(options))
        return 1;
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
