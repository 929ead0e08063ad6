// Korrin Tavrel: the program's entry. Reads the command line, starts the
// media libraries, then alternates menu and match until the player leaves.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

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
constexpr const char *START_UP_FAILED_LINE = "Some errors occurred during initialization.";
// The process's statuses: a game that ran and ended as the player asked; a
// failure (its line printed); a bad command line; a recording cut off (the
// game was killed mid-match) that --verify or --replay showed playing as
// recorded to its end.
constexpr int ENDED_STATUS = 0;
constexpr int FAILED_STATUS = 1;
constexpr int USAGE_STATUS = 2;
constexpr int CUT_OFF_STATUS = 3;
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

// The menu and its matches, as the game has always run. Fails when the game
// cannot start (after initGame's own line).
Status playFromMenu() {
    initRandom();
    if (initGame() != 0)
        return {START_UP_FAILED_LINE};
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
    return {};
}

// The recorded matches in the window, with no menu, then the closing lines
// of a game left from its menu; its value: a recording cut off was shown to
// its end. Fails when the game cannot start, or as the game would when a
// match's assets cannot be loaded: nothing shut down.
Result<bool> replayMatches(const std::vector<RecordedMatch> &matches) {
    if (initGame() != 0)
        return {false, START_UP_FAILED_LINE};
    const Result<bool> shown = showRecordedMatches(matches);
    if (!shown.ok())
        return shown;
    quitGame();
    puts(CLOSING_LINE);
    return shown;
}

// The status after a step that failed or not; its line on standard output.
int statusAfter(const std::string &error) {
    if (error.empty())
        return ENDED_STATUS;
    puts(error.c_str());
    return FAILED_STATUS;
}

// What is wrong with a file the command line names: its line on standard
// error, and the status of a failure.
int fileFailed(const std::string &error) {
    fprintf(stderr, "%s\n", error.c_str());
    return FAILED_STATUS;
}

int verifyFile(const std::string &path) {
    const Result<Verdict> verified = verifyRecordedMatches(path);
    if (!verified.ok())
        return fileFailed(verified.error);
    switch (verified.value) {
    case Verdict::AsRecorded:
        return ENDED_STATUS;
    case Verdict::CutOff:
        return CUT_OFF_STATUS;
    case Verdict::Differs:
        break;
    }
    return FAILED_STATUS; // each match's line says which differs
}

int replayFile(const std::string &path) {
    const Result<ReplayContents> read = readReplayFile(path);
    if (!read.ok())
        return fileFailed(read.error);
    const Result<bool> shown = replayMatches(read.value.matches);
    if (shown.ok() && shown.value)
        return CUT_OFF_STATUS;
    return statusAfter(shown.error);
}

// The online match; its closing line, after a session that did not fail.
int hostOrJoin(const Options &options) {
    const Result<SessionOutcome> played = playOnline(options);
    if (!played.ok())
        return statusAfter(played.error);
    if (played.value == SessionOutcome::Failed)
        return FAILED_STATUS; // its line was said as it happened
    puts(CLOSING_LINE);
    return ENDED_STATUS;
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
        return USAGE_STATUS;
    }
    Options &options = parsed.value;
    // What is wrong with the files the command line names goes to standard error.
    if (const Status entered = enterDataFolder(options); !entered.ok())
        return fileFailed(entered.error);
    switch (options.mode) {
    case Mode::Help:
        printUsage(stdout);
        return ENDED_STATUS;
    case Mode::Version:
        printVersion();
        return ENDED_STATUS;
    case Mode::Play:
        if (!options.recordPath.empty()) {
            if (const Status recording = startRecording(options.recordPath); !recording.ok())
                return fileFailed(recording.error);
        }
        return statusAfter(playFromMenu().error);
    case Mode::Replay:
        // Ended by exit(): in the browser, main has long returned to the page
        // by the time a replay ends (its loops wait through Asyncify), and
        // what it returns then is lost; the page needs the cut-off status.
        exit(replayFile(options.replayPath));
    case Mode::Verify:
        return verifyFile(options.replayPath);
    case Mode::Host:
    case Mode::Join:
    case Mode::Watch:
        return hostOrJoin(options);
    }
    return USAGE_STATUS; // every mode returns above
}
