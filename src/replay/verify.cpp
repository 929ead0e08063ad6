// Recorded matches run again.
#include "verify.h"

#include <cstdio>
#include <numeric>

#include "snapshot.h"

namespace {
constexpr double MS_PER_SECOND = 1000.0;

double matchSeconds(const RecordedMatch &match) {
    const long ms =
        std::accumulate(match.frames.begin(), match.frames.end(), 0L,
                        [](long sum, const RecordedFrame &frame) { return sum + frame.ms; });
    return static_cast<double>(ms) / MS_PER_SECOND;
}
} // namespace

bool runRecordedMatch(const RecordedMatch &match,
                      const std::function<bool(const RecordedFrame &)> &beforeFrame,
                      const std::function<void(FrameSounds)> &afterFrame) {
    startMatch(match.start);
    for (const RecordedFrame &frame : match.frames) {
        if (quitFlag != 0 || !beforeFrame(frame))
            return false;
        afterFrame(runFrame(decodeFrameInput(frame.buttons), frame.ms));
    }
    return true;
}

bool replaysAsRecorded(const RecordedMatch &match) {
    const bool ranAll = runRecordedMatch(
        match, [](const RecordedFrame &) { return true; }, [](FrameSounds) {});
    return ranAll && (match.cutOff || matchHash() == match.end.hash);
}

void printMatchLine(size_t number, const RecordedMatch &match, bool asRecorded) {
    const std::string recorded = match.cutOff ? "cut off"
                                              : std::to_string(match.end.scores[0]) + "-" +
                                                    std::to_string(match.end.scores[1]);
    std::string verdict = "END STATE DIFFERS (recorded " + recorded + ")";
    if (asRecorded)
        verdict = match.cutOff ? "cut off (the recording ends there)" : "end state as recorded";
    printf("Match %zu: %d-%d after %.1f s, %s\n", number, Players[0].getScore(),
           Players[1].getScore(), matchSeconds(match), verdict.c_str());
}

Result<Verdict> verifyRecordedMatches(const std::string &path) {
    const Result<ReplayContents> read = readReplayFile(path);
    if (!read.ok())
        return {Verdict::Differs, read.error};
    bool allAsRecorded = true;
    const std::vector<RecordedMatch> &matches = read.value.matches;
    for (size_t i = 0; i < matches.size(); ++i) {
        const bool same = replaysAsRecorded(matches[i]);
        allAsRecorded = allAsRecorded && same;
        printMatchLine(i + 1, matches[i], same);
    }
    if (!allAsRecorded)
        return {Verdict::Differs, ""};
    return {matches.back().cutOff ? Verdict::CutOff : Verdict::AsRecorded, ""};
}
