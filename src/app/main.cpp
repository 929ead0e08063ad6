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
Status enterDataFolder(Options &options) {
    const char *folder = getenv(DATA_FOLDER_VARIABLE);
    if (folder == nullptr || *folder == '\0')
        return {};
    makeAbsolute(options.recordPath);
    makeAbsolute(options.replayPath);
    std::error_code error;
    std::filesystem::current_path(folder, error);
    if (error)
        return {std::string("korrin-tavrel: cannot enter the data folder ") + folder + ": " +
                error.message()};
    return {};
}

// The menu and its matches, as the game has always run.
int playFromMenu() {
    initRandom();
    if (initGame() != 0) {
        puts("Some errors occurred during initialization.");
        return 1;
    }
    // The menu ends this loop by leaving numPlayers at 0 (also when its own
    // assets cannot be loaded: the game then closes as after QUIT); a close
    // request ends it after the match it came in.
    while (numPlayers != 0 && !closeRequested) {
        if (showMenu() != 0)
            break;
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
// off to its end. A match whose assets cannot be loaded ends it as it would
// end the game: its line, status 1, nothing shut down.
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
    const Result<bool> shown = showRecordedMatches(read.value.matches);
    if (!shown.ok()) {
        puts(shown.error.c_str());
        return 1;
    }
    quitGame();
    puts(CLOSING_LINE);
    return shown.value ? CUT_OFF_STATUS : 0;
}

// The online match; its closing line, after a session that did not fail.
int hostOrJoin(const Options &options) {
    const int status = playOnline(options);
    if (status == 0)
        puts(CLOSING_LINE);
    return status;
}
} // namespace

int main(int argc, char **argv) {
    // Progress lines go out as they happen, also into a file or a pipe.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // A game that loses its display mid-match keeps what it recorded of it.
    setSaveOnDisplayLoss(saveRecordingCutOff);
    Result<Options> parsed = parseOptions(argc, argv);
    if (!parsed.ok()) {
        fprintf(stderr, "%s\n", parsed.error.c_str());
        printUsage(stderr);
        return 2;
    }
    Options &options = parsed.value;
    // What is wrong with the files the command line names goes to standard error.
    if (const Status entered = enterDataFolder(options); !entered.ok()) {
        fprintf(stderr, "%s\n", entered.error.c_str());
        return 1;
    }
    switch (options.mode) {
    case Mode::Help:
        printUsage(stdout);
        return 0;
    case Mode::Version:
        printVersion();
        return 0;
    case Mode::Play:
        if (!options.recordPath.empty()) {
            if (const Status recording = startRecording(options.recordPath); !recording.ok()) {
                fprintf(stderr, "%s\n", recording.error.c_str());
                return 1;
            }
        }
        return playFromMenu();
    case Mode::Replay:
        // Ended by exit(): in the browser, main has long returned to the page
        // by the time a replay ends (its loops wait through Asyncify), and
        // what it returns then is lost; the page needs the cut-off status.
        exit(replayFromFile(options.replayPath));
    case Mode::Verify:
        return verifyRecordedMatches(options.replayPath);
    case Mode::Host:
    case Mode::Join:
        return hostOrJoin(options);
    }
    return 2; // every mode returns above
}
