// Playing recorded matches again on the screen.
#include "playback.h"

#include <optional>

#include "game.h"
#include "init.h"
#include "input.h"
#include "pace.h"
#include "page.h"
#include "verify.h"

namespace {
// The ms from now until the clock reaches due (modulo 2^32); 0 when it is past.
Uint32 msUntil(Uint32 due) {
    const Sint32 left = static_cast<Sint32>(due - SDL_GetTicks());
    return left > 0 ? static_cast<Uint32>(left) : 0;
}

// Shows one match, numbered from 1; its value is false when the viewer asked
// to leave.
Result<bool> showRecordedMatch(size_t number, const RecordedMatch &match) {
    if (const Status loaded = beginMatch(); !loaded.ok())
        return {false, loaded.error};
    tellPage(PageEvent::MatchBegan);
    bool viewerLeft = false;
    // Made at the first frame: its pictures start from the match as
    // runRecordedMatch starts it.
    std::optional<MatchPace> pace;
    Uint32 due = SDL_GetTicks();
    // Each frame when its recorded length says, the pictures between the
    // frames as a match has them.
    const auto atItsPace = [&](const RecordedFrame &frame) {
        if (!pace)
            pace.emplace();
        due += frame.ms;
        while (!pace->waitForFrame([due] { return msUntil(due); }))
            pace->present();
        viewerLeft = readFrameInput().leave;
        if (viewerLeft)
            quitFlag = -1;
        return !viewerLeft;
    };
    const auto shown = [&pace](FrameSounds sounds) {
        playMatchSounds(sounds);
        pace->present();
    };
    if (runRecordedMatch(match, atItsPace, shown) && match.cutOff)
        printMatchLine(number, match, true);
    endMatch();
    return {!viewerLeft, ""};
}
} // namespace

Result<bool> showRecordedMatches(const std::vector<RecordedMatch> &matches) {
    for (size_t i = 0; i < matches.size(); ++i) {
        const Result<bool> shown = showRecordedMatch(i + 1, matches[i]);
        if (!shown.ok())
            return {false, shown.error};
        if (!shown.value)
            return {false, ""}; // the viewer left: no later match either
    }
    return {matches.back().cutOff, ""};
}
