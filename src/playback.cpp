// Playing recorded matches again.
#include "playback.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>

#include "game.h"
#include "init.h"
#include "randgen.h"
#include "replay.h"
#include "snapshot.h"
#include "sound.h"

namespace {
constexpr double MS_PER_SECOND = 1000.0;

// The kind of match and the ball, which the menu chooses in play.
void chooseAsRecorded(const MatchStart &start) {
    numPlayers = start.players;
    ballType = start.ballType;
}

// Waits until the clock reaches due (modulo 2^32); returns at once when it is past.
void waitUntil(Uint32 due) {
    const Sint32 left = static_cast<Sint32>(due - SDL_GetTicks());
    if (left > 0)
        SDL_Delay(static_cast<Uint32>(left));
}

// Shows one match; false when the viewer asked to leave.
bool showRecordedMatch(const RecordedMatch &match) {
    chooseAsRecorded(match.start);
    beginMatch();
    setRandomSeed(match.start.seed);
    bool viewerLeft = false;
    Uint32 due = SDL_GetTicks();
    for (const RecordedFrame &frame : match.frames) {
        if (quitFlag != 0)
            break;
        due += frame.ms;
        waitUntil(due);
        if (readFrameInput().leave) {
            viewerLeft = true;
            quitFlag = -1;
            break;
        }
        runFrame(frameInputOf(frame.buttons), frame.ms);
        drawScreen();
    }
    endMatch();
    return !viewerLeft;
}

double matchSeconds(const RecordedMatch &match) {
    const long ms =
        std::accumulate(match.frames.begin(), match.frames.end(), 0L,
                        [](long sum, const RecordedFrame &frame) { return sum + frame.ms; });
    return static_cast<double>(ms) / MS_PER_SECOND;
}
} // namespace

void showRecordedMatches(const std::vector<RecordedMatch> &matches) {
    // Stops at the first match the viewer leaves.
    (void)std::all_of(matches.begin(), matches.end(), showRecordedMatch);
}

bool replaysAsRecorded(const RecordedMatch &match) {
    chooseAsRecorded(match.start);
    quitFlag = 0;
    resetAll();
    setRandomSeed(match.start.seed);
    for (const RecordedFrame &frame : match.frames) {
        if (quitFlag != 0)
            return false; // it ended before its last recorded frame
        runFrame(frameInputOf(frame.buttons), frame.ms);
    }
    return matchHash() == match.end.hash;
}

int verifyRecordedMatches(const std::string &path) {
    const ReplayContents contents = readReplayFile(path);
    if (!contents.error.empty()) {
        fprintf(stderr, "%s\n", contents.error.c_str());
        return 1;
    }
    effectsMuted = true;
    int differing = 0;
    for (size_t i = 0; i < contents.matches.size(); ++i) {
        const RecordedMatch &match = contents.matches[i];
        const bool same = replaysAsRecorded(match);
        const std::string verdict = same ? "end state as recorded"
                                         : "END STATE DIFFERS (recorded " +
                                               std::to_string(match.end.scores[0]) + "-" +
                                               std::to_string(match.end.scores[1]) + ")";
        differing += same ? 0 : 1;
        printf("Match %zu: %d-%d after %.1f s, %s\n", i + 1, Players[0].getScore(),
               Players[1].getScore(), matchSeconds(match), verdict.c_str());
    }
    return differing == 0 ? 0 : 1;
}
