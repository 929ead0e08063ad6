// A watcher of an online match (watchers.h: the host's side): the start and
// the settled inputs taken from the host, the frames run at the match's pace
// a few frames behind the newest, or faster while far behind.
#pragma once

#include <cstdint>
#include <vector>

#include "link.h"
#include "match.h"
#include "packets.h"
#include "session.h"

class WatchSession {
  public:
    enum class State { Waiting, Watching, Ended };

    // rules: this game's rulesFingerprint(), which the host must share.
    WatchSession(Link &link, uint64_t rules, SessionClock now);

    // Takes what the link has, waiting at most waitMs for the first event
    // (startMatch when the start comes), acknowledges it, and ends the
    // session if the link never took us as a watcher in CONNECT_TIMEOUT_MS,
    // or the host falls silent in the match as long as a player may.
    void receive(uint32_t waitMs);
    // Runs the frames that are due; returns their sounds. The match ending
    // in one ends the session (Finished).
    FrameSounds advance();

    State state() const { return state_; }
    bool started() const { return started_; }
    SessionEnd end() const { return end_; }
    const MatchStart &matchStart() const { return start_; }
    const HelloPacket &peerHello() const { return peerHello_; }
    bool ranFrames() const { return ranFrames_; }
    uint32_t frames() const { return played_; }
    // The settled frames' inputs held (encodeFrameInput), the first frames() of them run.
    const std::vector<uint8_t> &inputs() const { return inputs_; }
    // The host's settled frames, as last heard.
    uint32_t liveFrames() const { return live_; }
    // The ms until the next frame is due (0: now).
    uint32_t msUntilDue() const;
    // How long receive() may wait: until the next frame is due, or, while
    // no frame can run for want of the host's inputs, until they come. (0
    // only when advance() runs a frame: a page whose loop never waits never
    // hands the browser the packets it waits for.)
    uint32_t waitMs() const;
    int badPackets() const { return badPackets_; }
    // How many frames behind the host's settled ones each frame ran, once
    // caught up (the newest the host had said it settled).
    const std::vector<uint32_t> &behind() const { return behind_; }
    // The frames run before the first at the match's pace (those it caught
    // up on, a few for a watcher there from the start), and the ms from the
    // start to it.
    uint32_t caughtUpFrames() const { return caughtUpFrames_; }
    uint32_t caughtUpMs() const { return caughtUpMs_; }

  private:
    void take(LinkEvent event);
    void takeStart(const WatchStartPacket &start);
    void takeInputs(const WatchInputsPacket &inputs);
    void acknowledge();
    // Further behind the host's settled frames than a watcher catches up from.
    bool farBehind() const;
    // advance() has a frame to run once one is due: inputs in hand, and
    // enough of them after a wait.
    bool canRun() const;
    FrameSounds runFrames(uint32_t count);
    void finish(SessionEnd how);

    Link &link_;
    const uint64_t rules_;
    SessionClock now_;
    State state_ = State::Waiting;
    SessionEnd end_ = SessionEnd::None;
    bool started_ = false;
    MatchStart start_{};
    HelloPacket peerHello_;
    std::vector<uint8_t> received_; // a packet
    std::vector<uint8_t> inputs_;   // the settled frames' inputs held
    bool complete_ = false;         // the match's end is among them
    uint32_t live_ = 0;
    uint32_t played_ = 0;
    uint32_t openedMs_;
    uint32_t heardMs_ = 0;
    uint32_t dueMs_ = 0; // when the next frame is due at the match's pace
    bool refilling_ = true;
    bool ackDue_ = false; // the host sent something since the last acknowledgement
    uint32_t ackMs_ = 0;
    bool ranFrames_ = false;
    int badPackets_ = 0;
    std::vector<uint32_t> behind_;
    uint32_t startedMs_ = 0;
    uint32_t caughtUpFrames_ = 0, caughtUpMs_ = 0;
};
