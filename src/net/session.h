// The online session's protocol, from the handshake to the match's end: its
// state, the packets in and out, the silence limits, which frames run and
// when, and how the match ends; its jobs in units of their own (pacing.h,
// divergence.h, end_agreement.h, sound_ledger.h). It knows the link only as a
// Link and the time only as a number of ms it is given, so that the screen
// (src/app/online.cpp, natively and in the browser alike) adds nothing but
// drawing, keys, sounds and lines, and a test can drive two sessions through
// a simulated network in milliseconds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "divergence.h"
#include "end_agreement.h"
#include "link.h"
#include "pacing.h"
#include "packets.h"
#include "rollback.h"
#include "sound_ledger.h"
#include "watchers.h"

// The session's clock in ms. It may wrap: times are compared by their
// signed difference.
using SessionClock = std::function<uint32_t()>;

// A joining side gives up when the match has not started in this time; a
// host drops a player whose match has not started in this time after it
// connected (the player has given up by then).
constexpr uint32_t CONNECT_TIMEOUT_MS = 10000;
// A host drops a player that has not said a matching Hello in this time, or
// has fallen silent this long after one before the match started (its Hello
// comes every HANDSHAKE_REPEAT_MS until the Start arrives), so that a peer
// that connects and says nothing, or a game closed while its start failed,
// keeps nobody out for long.
constexpr uint32_t HELLO_LIMIT_MS = 2000;
// The joining side's Hello and the host's answer (its Hello and Start) are
// sent unreliably, so that nothing waits on a lost reliable message, and
// repeated this often until the match starts (the joining side's Hello until
// the Start arrives: the host hears that it is still there).
constexpr uint32_t HANDSHAKE_REPEAT_MS = 100;

// How a session ended; the screen says it in its own line.
enum class SessionEnd {
    None,            // still going
    Finished,        // both sides settled the match's end, and their states agree
    Refused,         // the host already has a player
    Watching,        // the host took this side as a watcher of its match (watch_session.h)
    HostClosed,      // the host said goodbye before the match
    NoAnswer,        // no match started in CONNECT_TIMEOUT_MS, or the link died before one
    VersionMismatch, // the other game's protocol, version or rules differ (peerHello())
    ConnectionLost,  // the other side went away, fell silent or stopped moving during the match
    SyncLost,        // the two matches differ (syncLostFrame(), the same on both sides)
};

// What the match measured.
struct SessionStats {
    std::vector<uint32_t> rollbackDepths; // frames run again, one entry per rollback
    double worstRollbackUs = 0.0;
    uint32_t worstRollbackDepth = 0;
    int longStalls = 0; // waits for the other side longer than a frame
    int badPackets = 0;
    // Of the settled frames: their sounds, those never heard, and those
    // heard from a guess that proved wrong; and the sounds played late.
    uint32_t sounds = 0;
    uint32_t soundsMissing = 0;
    uint32_t soundsWrong = 0;
    uint32_t soundsLate = 0;
    // The longest time without a packet in the match, up to the last look
    // that found none: a late look of our own (a busy or stopped thread) is
    // not the other side's silence.
    uint32_t longestSilenceMs = 0;
    // After a silence of a second or more (the other side's stall or ours),
    // the longest time until a packet sent after it showed the two at most
    // 2 whole frames apart.
    uint32_t inStepAfterStallMs = 0;
};

class OnlineSession {
  public:
    // Where the session is, in the order it goes. Waiting: a host without a
    // player, a joining side not yet connected. Greeting: connected, the
    // Hellos not yet matched. Starting: they matched; the host sends its
    // Start until the joining side's first inputs show it arrived, the joining
    // side its Hello until the Start comes. Playing: the match runs. Ending:
    // this side has its verdict on the end and awaits the other's. Ended: the
    // session has its end(), and confirms it while confirming().
    enum class State { Waiting, Greeting, Starting, Playing, Ending, Ended };

    // rules: this game's rulesFingerprint(), which the other must share.
    OnlineSession(Link &link, bool hosting, uint64_t rules, SessionClock now);

    // Takes what the link has, waiting at most waitMs for the first event:
    // the handshake until the match starts (startMatch when it does), the
    // other side's packets after; then ends the session if the time to wait
    // for the other side is over, and repeats the handshake's packets.
    void receive(uint32_t waitMs);

    State state() const { return state_; }
    bool started() const { return started_; }
    const MatchStart &matchStart() const { return start_; }
    SessionEnd end() const { return end_; }

    // In the match: the ms until the next frame is due (0: now).
    uint32_t msUntilDue() const;
    // How long to wait for the link before the next advance: until the next
    // frame is due, or a moment when it is due but waits for the other side.
    uint32_t waitMs() const;
    // Runs what is due: the correction of wrong guesses, the checks, the end,
    // and the frames whose time has come (all of them at once after a stall,
    // unless this side runs ahead of the other), with the local player's
    // buttons. Returns the sounds to play now. After the end, while
    // confirming(), it only sends the packet that confirms it.
    FrameSounds advance(uint8_t localButtons);
    // Frames were run by the last advance (the screen is drawn anew).
    bool ranFrames() const { return ranFrames_; }
    // After a Finished or SyncLost end: the other side may not have heard
    // this side's verdict yet. Receiving and advancing go on until it has,
    // or has gone, or the silence limit has passed.
    bool confirming() const;

    // (The host's) watchers still lack some of the match, and the end was
    // not WATCHERS_END_WAIT_MS ago: receiving and advancing go on.
    bool servingWatchers() const;
    const WatcherService &watchers() const { return watchers_; }

    // After the end (and its confirmation): the goodbye.
    void close(uint32_t waitMs);

    const Rollback &rollback() const { return rollback_; }
    const HelloPacket &peerHello() const { return peerHello_; }
    uint32_t syncLostFrame() const { return syncLostFrame_; }
    SessionStats stats() const;

  private:
    uint32_t elapsedSince(uint32_t thenMs) const { return now_() - thenMs; }
    // The longest silence of the other side that ends nothing: the connect
    // limit until its first packet of the match, the silence limit after.
    uint32_t silenceLimit() const;
    FrameSounds advanceMatch(uint8_t localButtons);
    void handshake(LinkEvent event);
    void takeHello(const HelloPacket &hello);
    void answerHello();
    void sendHello(bool reliable);
    void beginPlay(const MatchStart &start, uint32_t startMs, uint32_t roundTripMs);
    void waitForAnotherPlayer();
    void checkTimeouts();
    void takePacket(LinkEvent event);
    void takeInputs(const InputsPacket &inputs);
    void takeVerdict(const InputsPacket &inputs);
    void correct(FrameSounds &playNow);
    void settleFrames();
    // What a comparison of hashes found: a lost sync, or the end agreed.
    void judgeHashes(uint32_t hashedFrames, HashComparison found);
    void compareInputs();
    void loseSync(uint32_t frame);
    void checkEnd();
    void conclude();
    void endForSilence();
    bool verdictOverdue() const;
    void runDueFrames(uint8_t localButtons, FrameSounds &playNow);
    void sendInputs();
    // The one place the state changes.
    void moveTo(State next);
    void finish(SessionEnd how);

    Link &link_;
    const bool hosting_;
    const int side_; // the host plays the left paddle, the joining side the right one
    const uint64_t rules_;
    SessionClock now_;
    Rollback rollback_;
    State state_ = State::Waiting;
    SessionEnd end_ = SessionEnd::None;
    std::vector<uint8_t> received_;

    // The handshake. The host's clock starts with its first Start; it plays
    // once the joining side's first inputs show that the Start arrived.
    uint32_t openedMs_;
    uint32_t connectedMs_ = 0;
    HelloPacket peerHello_;
    uint32_t peerHelloMs_ = 0;      // the other side's newest Hello's clock
    uint32_t peerHelloHeardMs_ = 0; // and when it arrived, by ours
    uint32_t lastHandshakeMs_ = 0;  // when this side last sent its Hello (and Start)
    bool started_ = false;          // the match began (whatever ended the session)
    MatchStart start_{};

    uint32_t startMs_ = 0; // the host's: when its frame 0 was due, from its first Start
    Pacing pacing_;
    uint32_t lastHeardMs_ = 0;
    uint32_t listenedMs_ = 0; // when the link last had nothing more for us
    bool heardInMatch_ = false;
    bool peerGone_ = false;
    // When the other side's inputs last grew: a side that hears the other
    // but gets no further for the silence limit has lost it too.
    uint32_t lastProgressMs_ = 0;
    uint32_t sentFrames_ = 0; // the most frames a packet of ours has covered
    uint32_t lastSendMs_ = 0;
    bool ranFrames_ = false;

    DivergenceChecks checks_;
    bool endHashMatched_ = false;

    EndAgreement verdicts_;
    uint32_t syncLostFrame_ = 0;

    SoundLedger sounds_;
    std::vector<FrameSounds> rerun_;

    WatcherService watchers_;
    uint32_t endedMs_ = 0;

    SessionStats stats_;
};
