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

// Shows one match; its value is false when the viewer asked to leave.
Result<bool> showRecordedMatch(const RecordedMatch &match) {
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
    runRecordedMatch(match, atItsPace, shown);
    endMatch();
    return {!viewerLeft, ""};
}
} // namespace

Status showRecordedMatches(const std::vector<RecordedMatch> &matches) {
    for (const RecordedMatch &match : matches) {
        const Result<bool> shown = showRecordedMatch(match);
        if (!shown.ok())
            return {shown.error};
        if (!shown.value)
            break; // the viewer left: no later match either
    }
    return {};
}
