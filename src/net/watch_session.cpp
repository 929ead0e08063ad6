// A watcher of an online match.
#include "watch_session.h"

#include <algorithm>

#include "version.h"

namespace {
// A watcher keeps this many frames in hand against the jitter of their
// arrival: after a wait it runs again only once it holds them.
constexpr uint32_t WATCH_BUFFER_FRAMES = 3;
// Further behind the newest settled frame than the buffer and this, a
// watcher catches up, running at most CATCH_UP_FRAMES frames an advance.
constexpr uint32_t CATCH_UP_MARGIN_FRAMES = 6;
constexpr uint32_t CATCH_UP_FRAMES = 16;
// A watcher acknowledges at most this often (at most once a frame).
constexpr uint32_t ACK_INTERVAL_MS = FRAME_PERIOD_MS;
// Without a frame it can run, a watcher waits this long at most for the
// host's next packet (which ends the wait) before it looks at its silence.
constexpr uint32_t INPUTS_WAIT_MS = FRAME_PERIOD_MS;
} // namespace

WatchSession::WatchSession(Link &link, uint64_t rules, SessionClock now)
    : link_(link), rules_(rules), now_(std::move(now)), openedMs_(now_()) {}

void WatchSession::finish(SessionEnd how) {
    end_ = how;
    state_ = State::Ended;
}

void WatchSession::receive(uint32_t waitMs) {
    if (state_ == State::Ended)
        return;
    for (LinkEvent event = link_.poll(waitMs, received_); event != LinkEvent::None;
         event = link_.poll(0, received_)) {
        take(event);
        if (state_ == State::Ended)
            return;
    }
    acknowledge();
    // Taken as a watcher, it waits for the match to start as long as the
    // link lasts.
    if (started_ && now_() - heardMs_ > SILENCE_LIMIT_MS + SILENCE_ALLOWANCE_MS)
        finish(SessionEnd::ConnectionLost);
    else if (!started_ && state_ == State::Waiting && now_() - openedMs_ > CONNECT_TIMEOUT_MS)
        finish(SessionEnd::NoAnswer);
}

void WatchSession::take(LinkEvent event) {
    switch (event) {
    case LinkEvent::Watching:
        state_ = State::Watching;
        return;
    case LinkEvent::Refused:
        finish(SessionEnd::Refused);
        return;
    case LinkEvent::Disconnected:
    case LinkEvent::Lost:
        if (!complete_)
            finish(started_                   ? SessionEnd::ConnectionLost
                   : event == LinkEvent::Lost ? SessionEnd::NoAnswer
                                              : SessionEnd::HostClosed);
        return;
    case LinkEvent::Received:
        break;
    default:
        return;
    }
    const Result<Packet> read = readPacket(received_.data(), received_.size());
    if (!read.ok()) {
        ++badPackets_;
    } else if (read.value.type == PacketType::WatchStart) {
        takeStart(read.value.watchStart);
    } else if (read.value.type == PacketType::WatchInputs && started_) {
        takeInputs(read.value.watchInputs);
    } else if (read.value.type != PacketType::WatchInputs) {
        ++badPackets_;
    }
}

void WatchSession::takeStart(const WatchStartPacket &start) {
    heardMs_ = now_();
    ackDue_ = true;
    if (started_)
        return;
    const HelloPacket &hello = start.hello;
    if (hello.protocol != PROTOCOL_VERSION || hello.gameVersion != GAME_VERSION ||
        hello.rules != rules_) {
        peerHello_ = hello;
        finish(SessionEnd::VersionMismatch);
        return;
    }
    start_ = start.start;
    startMatch(start_);
    started_ = true;
    state_ = State::Watching;
    dueMs_ = startedMs_ = now_();
}

void WatchSession::takeInputs(const WatchInputsPacket &inputs) {
    heardMs_ = now_();
    ackDue_ = true; // (a repeat too: the acknowledgement before may have been lost)
    live_ = std::max(live_, inputs.liveFrames);
    const auto held = static_cast<uint32_t>(inputs_.size());
    const uint32_t through = inputs.firstFrame + static_cast<uint32_t>(inputs.inputs.size());
    if (complete_ || inputs.firstFrame > held || through <= held)
        return; // a gap (the frames before are sent again) or a repeat
    inputs_.insert(inputs_.end(), inputs.inputs.begin() + (held - inputs.firstFrame),
                   inputs.inputs.end());
    complete_ = inputs.last;
}

void WatchSession::acknowledge() {
    if (!started_ || !ackDue_ || now_() - ackMs_ < ACK_INTERVAL_MS)
        return;
    link_.send(writeWatchAck(static_cast<uint32_t>(inputs_.size())), false);
    ackDue_ = false;
    ackMs_ = now_();
}

bool WatchSession::farBehind() const {
    return live_ - played_ > WATCH_BUFFER_FRAMES + CATCH_UP_MARGIN_FRAMES;
}

bool WatchSession::canRun() const {
    const auto inHand = static_cast<uint32_t>(inputs_.size()) - played_;
    return inHand > 0 && (farBehind() || !refilling_ || inHand >= WATCH_BUFFER_FRAMES || complete_);
}

uint32_t WatchSession::msUntilDue() const {
    if (!started_ || state_ == State::Ended)
        return FRAME_PERIOD_MS;
    const auto untilDue = static_cast<int32_t>(dueMs_ - now_());
    const bool catchingUp = farBehind() && inputs_.size() > played_;
    return untilDue <= 0 || catchingUp ? 0 : static_cast<uint32_t>(untilDue);
}

uint32_t WatchSession::waitMs() const {
    if (!started_ || state_ == State::Ended || !canRun())
        return INPUTS_WAIT_MS;
    return msUntilDue();
}

FrameSounds WatchSession::advance() {
    ranFrames_ = false;
    if (!started_ || state_ == State::Ended)
        return 0;
    const auto held = static_cast<uint32_t>(inputs_.size());
    const uint32_t framesBehind = live_ - played_;
    if (farBehind()) {
        dueMs_ = now_() + FRAME_PERIOD_MS;
        return runFrames(
            std::min({held - played_, framesBehind - WATCH_BUFFER_FRAMES, CATCH_UP_FRAMES}));
    }
    if (static_cast<int32_t>(now_() - dueMs_) < 0)
        return 0;
    if (!canRun()) {
        refilling_ = true; // a wait: the frames come in again before they run
        dueMs_ = now_();
        return 0;
    }
    refilling_ = false;
    if (behind_.empty()) {
        caughtUpFrames_ = played_;
        caughtUpMs_ = now_() - startedMs_;
    }
    behind_.push_back(framesBehind);
    // After a late advance the match keeps its pace, never more than a frame late.
    dueMs_ = std::max<int32_t>(static_cast<int32_t>(dueMs_ + FRAME_PERIOD_MS - now_()),
                               -static_cast<int32_t>(FRAME_PERIOD_MS)) +
             now_();
    return runFrames(1);
}

FrameSounds WatchSession::runFrames(uint32_t count) {
    FrameSounds sounds = 0;
    for (uint32_t i = 0; i < count && state_ != State::Ended; ++i) {
        sounds |= runFrame(decodeFrameInput(inputs_[played_++]), FRAME_PERIOD_MS);
        ranFrames_ = true;
        if (quitFlag != 0)
            finish(SessionEnd::Finished);
    }
    return sounds;
}
