// The online session's screen: the banners, the keys, the match drawn and
// heard, and its lines, around the session's bookkeeping (session.h).
#include "online.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "desktop.h"
#include "game.h"
#include "init.h"
#include "input.h"
#include "link.h"
#include "pace.h"
#include "packets.h"
#include "page.h"
#include "randgen.h"
#include "refresh.h"
#include "replay.h"
#include "rollback.h"
#include "session.h"
#include "snapshot.h"
#include "version.h"
#include "watch_session.h"

namespace {
// How long the goodbye may take before the game-over screen.
constexpr Uint32 DISCONNECT_WAIT_MS = 1000;
// Where the waiting banners lie in the sprite sheet, and where they are shown.
constexpr SDL_Rect WAITING_BANNER = {1, 157, 300, 27};
constexpr SDL_Rect JOINING_BANNER = {1, 185, 300, 27};
constexpr int BANNER_Y = 106;
constexpr int BELOW_BANNER_GAP = 8; // pixels between the banner and the room's code
// Prints a line of the session, which the page shows the players too, whole
// however long (a room's link carries its servers).
__attribute__((format(printf, 1, 2))) void say(const char *format, ...) {
    va_list arguments, measuring;
    va_start(arguments, format);
    va_copy(measuring, arguments);
    const int length = vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string line(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
    vsnprintf(line.data(), line.size(), format, arguments);
    va_end(arguments);
    line.pop_back(); // the terminating zero
    puts(line.c_str());
    tellPage(PageEvent::PlayerLine, line);
}

// Each player steers with player 1's keys on their own machine: their
// commands become the buttons of their side's player.
uint8_t localButtons(const FrameInput &keys, int side) {
    FrameInput input{};
    input.up[side] = keys.up[0];
    input.down[side] = keys.down[0];
    input.leave = keys.leave;
    return encodeFrameInput(input);
}

// A new room's code as the page makes them: four groups of four letters and
// digits that a reader cannot mistake for one another (about 79 bits: it
// cannot be guessed).
std::string makeRoomCode() {
    static const char ALPHABET[] = "abcdefghjkmnpqrstuvwxyz23456789";
    constexpr int GROUPS = 4, GROUP_LENGTH = 4;
    std::random_device random;
    std::uniform_int_distribution<size_t> pick(0, sizeof ALPHABET - 2);
    std::string code;
    for (int group = 0; group < GROUPS; group++) {
        if (group > 0)
            code += '-';
        for (int i = 0; i < GROUP_LENGTH; i++)
            code += ALPHABET[pick(random)];
    }
    return code;
}

// The banner, and beneath it what the player reads out (a room's code), if any.
void drawBanner(const SDL_Rect &banner, SDL_Surface *below) {
    drawBackground();
    drawCentredBanner(banner, BANNER_Y);
    if (below != nullptr) {
        SDL_Rect at = {static_cast<Sint16>((SCREEN_WIDTH - below->w) / 2),
                       static_cast<Sint16>(BANNER_Y + banner.h + BELOW_BANNER_GAP), 0, 0};
        SDL_BlitSurface(below, nullptr, screen, &at);
    }
    SDL_Flip(screen);
}

// The screen's part of an online session (OnlineSession keeps the books):
// the banners, the keys, the match drawn and heard, the recording, the lines.
class OnlineScreen {
  public:
    explicit OnlineScreen(const Options &options)
        : options_(options), hosting_(options.mode == Mode::Host),
          watching_(options.mode == Mode::Watch) {}

    SessionOutcome run();

  private:
    Status open();
    SessionOutcome waitForMatch();
    SessionOutcome playMatch();
    // A watcher's session, from its link's word that it watches: the start
    // awaited, then the match shown as its frames come.
    SessionOutcome watch();
    SessionOutcome watchMatch();
    void recordSettledFrames();
    void recordWatchedFrames();
    // The recording's match ends with the session's: whole, or cut off
    // where this side's settled frames end.
    void finishRecording(bool finished);
    void sayEnd();
    void printStats() const;
    // The match's own figures end with it, not with the goodbye and the
    // game-over picture.
    void markEnd();

    const Options &options_;
    const bool hosting_;
    bool watching_;
    std::unique_ptr<Link> link_;
    // A hosted room's code, shown while waiting (null where there is none).
    std::unique_ptr<SDL_Surface, decltype(&SDL_FreeSurface)> roomCodeText_{nullptr,
                                                                           SDL_FreeSurface};
    std::unique_ptr<OnlineSession> session_;
    std::unique_ptr<WatchSession> watch_;
    Uint32 startMs_ = 0;
    Uint32 endMs_ = 0;
    uint64_t sentBefore_ = 0, receivedBefore_ = 0; // by the link before the match
    uint64_t sentInMatch_ = 0, receivedInMatch_ = 0;
    // --record: the settled frames, as both sides hold them.
    MatchRecorder recorder_;
    uint32_t recordedFrames_ = 0;
};

SessionOutcome OnlineScreen::run() {
    if (!options_.recordPath.empty()) {
        const Status opened = recorder_.open(options_.recordPath);
        if (!opened.ok()) {
            fprintf(stderr, "%s\n", opened.error.c_str());
            return SessionOutcome::Failed;
        }
    }
    if (const Status opened = open(); !opened.ok()) {
        say("Cannot %s: %s.", hosting_ ? "host" : "join", opened.error.c_str());
        return SessionOutcome::Failed;
    }
    if (const Status loaded = beginMatch(); !loaded.ok()) {
        say("%s", loaded.error.c_str());
        return SessionOutcome::Failed;
    }
    if (watching_)
        return watch();
    session_ = std::make_unique<OnlineSession>(*link_, hosting_, rulesFingerprint(), SDL_GetTicks);
    const SessionOutcome waited = waitForMatch();
    if (session_->end() == SessionEnd::Watching) {
        say("Watching %s.", link_->hostName().c_str());
        watching_ = true;
        return watch();
    }
    if (waited != SessionOutcome::Played) {
        quitFlag = -1;
        endMatch();
        return waited;
    }
    const SessionOutcome played = playMatch();
    printStats();
    return played;
}

Status OnlineScreen::open() {
    LinkPlace place{options_.hostRoom ? makeRoomCode() : options_.room,
                    options_.joinHost,
                    static_cast<uint16_t>(options_.port),
                    options_.brokers,
                    options_.ice,
                    watching_};
    Result<std::unique_ptr<Link>> opened = openLink(hosting_, place, [] {
        handlePendingEvents();
        return closeRequested;
    });
    if (!opened.ok())
        return {opened.error};
    link_ = std::move(opened.value);
    if (hosting_)
        say("Waiting for a player %s.", link_->hostPlace().c_str());
    if (hosting_ && options_.hostRoom) {
        say("%s", roomInvitation(place).c_str());
        roomCodeText_.reset(TTF_RenderText_Solid(font, place.room.c_str(), txtClr));
    } else if (watching_)
        say("Watching %s.", link_->hostName().c_str());
    else if (!hosting_)
        say("Joining %s.", link_->hostName().c_str());
    return {};
}

// Until the match starts: the banner, and the session's handshake.
SessionOutcome OnlineScreen::waitForMatch() {
    while (!session_->started()) {
        drawBanner(hosting_ ? WAITING_BANNER : JOINING_BANNER, roomCodeText_.get());
        if (readFrameInput().leave) {
            say(hosting_ ? "Gave up waiting for a player." : "Gave up joining.");
            link_->disconnect(0);
            return SessionOutcome::GaveUp;
        }
        session_->receive(FRAME_PERIOD_MS);
        if (session_->end() == SessionEnd::Watching)
            return SessionOutcome::Failed; // (watched instead)
        if (session_->end() != SessionEnd::None) {
            sayEnd();
            session_->close(DISCONNECT_WAIT_MS);
            return SessionOutcome::Failed;
        }
    }
    say(hosting_ ? "A player joined: the match starts." : "Joined: the match starts.");
    tellPage(PageEvent::MatchBegan);
    if (recorder_.isOpen())
        recorder_.beginMatch(session_->matchStart());
    startMs_ = SDL_GetTicks();
    sentBefore_ = link_->bytesSent();
    receivedBefore_ = link_->bytesReceived();
    return SessionOutcome::Played;
}

SessionOutcome OnlineScreen::playMatch() {
    const int side = hosting_ ? 0 : 1;
    steerByTouch({false, side});
    MatchPace pace(1 - side); // the other player's paddle is eased
    while (session_->end() == SessionEnd::None) {
        session_->receive(linkWaitMs(session_->waitMs()));
        // The keys are read only for frames that are due: the local input
        // applies in the frame it is read.
        const uint8_t buttons =
            session_->msUntilDue() == 0 ? localButtons(readFrameInput(), side) : 0;
        playMatchSounds(session_->advance(buttons));
        recordSettledFrames();
        pace.afterFrames(session_->ranFrames(), session_->msUntilDue());
        pace.present();
    }
    markEnd();
    const bool finished = session_->end() == SessionEnd::Finished;
    if (finished)
        drawScreen();
    sayEnd();
    finishRecording(finished);
    // The other side ends only once it knows how this side saw the end; the
    // watchers once they hold the whole match.
    while (session_->confirming() || session_->servingWatchers()) {
        session_->receive(session_->waitMs());
        session_->advance(0);
    }
    session_->close(DISCONNECT_WAIT_MS);
    if (!finished)
        quitFlag = -1;
    endMatch();
    return finished ? SessionOutcome::Played : SessionOutcome::Failed;
}

SessionOutcome OnlineScreen::watch() {
    watch_ = std::make_unique<WatchSession>(*link_, rulesFingerprint(), SDL_GetTicks);
    while (!watch_->started() && watch_->end() == SessionEnd::None) {
        drawBanner(JOINING_BANNER, nullptr);
        if (readFrameInput().leave) {
            say("Gave up watching.");
            link_->disconnect(0);
            quitFlag = -1;
            endMatch();
            return SessionOutcome::GaveUp;
        }
        watch_->receive(FRAME_PERIOD_MS);
    }
    if (watch_->started()) {
        tellPage(PageEvent::MatchBegan, WATCHED_MATCH);
        if (recorder_.isOpen())
            recorder_.beginMatch(watch_->matchStart());
        startMs_ = SDL_GetTicks();
    }
    const SessionOutcome watched = watchMatch();
    endMs_ = SDL_GetTicks();
    std::vector<uint32_t> behind = watch_->behind();
    std::sort(behind.begin(), behind.end());
    const uint32_t median = behind.empty() ? 0 : behind[behind.size() / 2];
    const uint32_t worst = behind.empty() ? 0 : behind.back();
    fprintf(stderr,
            "korrin-tavrel: watched: %u frames, caught up on %u frames in %u ms, behind the host's "
            "settled frames by %u ms (median) and %u ms (worst), %d bad packets\n",
            watch_->frames(), watch_->caughtUpFrames(), watch_->caughtUpMs(),
            median * FRAME_PERIOD_MS, worst * FRAME_PERIOD_MS, watch_->badPackets());
    return watched;
}

SessionOutcome OnlineScreen::watchMatch() {
    MatchPace pace;
    while (watch_->end() == SessionEnd::None) {
        watch_->receive(linkWaitMs(watch_->waitMs()));
        if (readFrameInput().leave) {
            say("Stopped watching.");
            break;
        }
        playMatchSounds(watch_->advance());
        recordWatchedFrames();
        pace.afterFrames(watch_->ranFrames(), watch_->msUntilDue());
        pace.present();
    }
    const bool finished = watch_->end() == SessionEnd::Finished;
    if (finished)
        drawScreen();
    sayEnd();
    if (watch_->started())
        finishRecording(finished);
    link_->disconnect(0);
    if (!finished)
        quitFlag = -1;
    endMatch();
    return finished ? SessionOutcome::Played : SessionOutcome::Failed;
}

void OnlineScreen::recordSettledFrames() {
    if (!recorder_.isOpen())
        return;
    const Rollback &rollback = session_->rollback();
    for (; recordedFrames_ < rollback.settledFrames(); ++recordedFrames_)
        recorder_.addFrame(rollback.inputsOf(recordedFrames_), FRAME_PERIOD_MS);
}

void OnlineScreen::recordWatchedFrames() {
    if (!recorder_.isOpen())
        return;
    for (; recordedFrames_ < watch_->frames(); ++recordedFrames_)
        recorder_.addFrame(decodeFrameInput(watch_->inputs()[recordedFrames_]), FRAME_PERIOD_MS);
}

void OnlineScreen::finishRecording(bool finished) {
    if (!recorder_.isOpen())
        return;
    if (!finished) {
        // Cut off where this side's settled frames end, not at the last
        // whole block.
        recorder_.saveCutOff();
        return;
    }
    const Status written = recorder_.finishMatch(currentMatchEnd());
    if (!written.ok())
        fprintf(stderr, "%s\n", written.error.c_str());
}

// The line that says how the session ended, a player's or a watcher's.
void OnlineScreen::sayEnd() {
    const HelloPacket &other = watching_ ? watch_->peerHello() : session_->peerHello();
    switch (watching_ ? watch_->end() : session_->end()) {
    case SessionEnd::Finished:
        if (!watching_ && session_->rollback().remoteLeft())
            say("The other player left the match.");
        say("Final score: %d - %d.", Players[0].getScore(), Players[1].getScore());
        break;
    case SessionEnd::Refused:
        say(watching_ ? "The match has all the watchers it takes."
                      : "The host already has a player.");
        break;
    case SessionEnd::HostClosed:
        say("The host closed the connection.");
        break;
    case SessionEnd::NoAnswer:
        say("No answer from %s.", link_->hostName().c_str());
        break;
    case SessionEnd::VersionMismatch:
        say("Version mismatch: this game is %s (protocol %u), the other is %s (protocol %u).",
            GAME_VERSION, PROTOCOL_VERSION, other.gameVersion.c_str(), other.protocol);
        break;
    case SessionEnd::ConnectionLost:
        say(watching_ ? "Connection to the host lost." : "Connection to the other player lost.");
        break;
    case SessionEnd::SyncLost: // (a player's only: a watcher runs settled frames)
        say("Lost sync with the other player at frame %u.", session_->syncLostFrame());
        if (!session_->rollback().fault().ok())
            fprintf(stderr, "korrin-tavrel: %s\n", session_->rollback().fault().error.c_str());
        break;
    case SessionEnd::None:
    case SessionEnd::Watching:
        break;
    }
}

void OnlineScreen::markEnd() {
    endMs_ = SDL_GetTicks();
    sentInMatch_ = link_->bytesSent() - sentBefore_;
    receivedInMatch_ = link_->bytesReceived() - receivedBefore_;
}

void OnlineScreen::printStats() const {
    const SessionStats &stats = session_->stats();
    std::vector<uint32_t> depths = stats.rollbackDepths;
    std::sort(depths.begin(), depths.end());
    const auto percentile = [&depths](size_t percent) {
        return depths.empty() ? 0u : depths[(depths.size() - 1) * percent / 100];
    };
    const double seconds = std::max(1u, endMs_ - startMs_) / 1000.0;
    fprintf(stderr,
            "korrin-tavrel: online: %u frames, %zu rollbacks (depth median %u, p99 %u, worst %u "
            "in %.0f us), %d stalls over a frame, %u sounds (%u missing, %u wrong, %u late), "
            "longest silence %u ms, in step %u ms after a stall, %.0f B/s sent, %.0f B/s "
            "received, %d bad packets\n",
            session_->rollback().frames(), depths.size(), percentile(50), percentile(99),
            stats.worstRollbackDepth, stats.worstRollbackUs, stats.longStalls, stats.sounds,
            stats.soundsMissing, stats.soundsWrong, stats.soundsLate, stats.longestSilenceMs,
            stats.inStepAfterStallMs, sentInMatch_ / seconds, receivedInMatch_ / seconds,
            stats.badPackets);
    const WatcherService &watchers = session_->watchers();
    if (watchers.served() > 0)
        fprintf(stderr,
                "korrin-tavrel: watchers: %u served, %.0f packets/s and %.0f B/s of packets to "
                "each\n",
                watchers.served(), watchers.packetsSent() / seconds / watchers.served(),
                watchers.bytesSent() / seconds / watchers.served());
}
} // namespace

Result<SessionOutcome> playOnline(const Options &options) {
    initRandom();
    if (initGame() != 0)
        return {SessionOutcome::Failed, "Some errors occurred during initialization."};
    OnlineScreen session(options);
    const SessionOutcome outcome = session.run();
    quitGame();
    return {outcome, ""};
}
