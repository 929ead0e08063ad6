// Playing recorded matches again on the screen.
#include "playback.h"

#include "game.h"
#include "init.h"
#include "input.h"
#include "page.h"
#include "verify.h"

namespace {
// Waits until the clock reaches due (modulo 2^32); returns at once when it is past.
void waitUntil(Uint32 due) {
    const Sint32 left = static_cast<Sint32>(due - SDL_GetTicks());
    if (left > 0)
        SDL_Delay(static_cast<Uint32>(left));
}

// Shows one match, numbered from 1; its value is false when the viewer asked
// to leave.
Result<bool> showRecordedMatch(size_t number, const RecordedMatch &match) {
    if (const Status loaded = beginMatch(); !loaded.ok())
        return {false, loaded.error};
    tellPage(PageEvent::MatchBegan);
    bool viewerLeft = false;
    Uint32 due = SDL_GetTicks();
    const auto atItsPace = [&](const RecordedFrame &frame) {
        due += frame.ms;
        waitUntil(due);
        viewerLeft = readFrameInput().leave;
        if (viewerLeft)
            quitFlag = -1;
        return !viewerLeft;
    };
    const auto shown = [](FrameSounds sounds) {
        playMatchSounds(sounds);
        drawScreen();
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
