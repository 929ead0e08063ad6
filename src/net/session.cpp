// The online session's protocol.
#include "session.h"

#include <algorithm>
#include <chrono>

#include "randgen.h"
#include "version.h"

namespace {
constexpr uint32_t FRAME_MS = FRAME_PERIOD_MS;
// A verdict is awaited, and then confirmed, for at most this many silence
// limits: packets that keep coming without the other side's word end the
// wait too.
constexpr uint32_t VERDICT_WAIT_LIMITS = 2;
// A side whose frame is due but must wait for the other looks again this
// often, or as soon as a packet comes.
constexpr uint32_t STALL_POLL_MS = 1;
} // namespace

OnlineSession::OnlineSession(Link &link, bool hosting, uint64_t rules, SessionClock now)
    : link_(link), hosting_(hosting), side_(hosting ? 0 : 1), rules_(rules), now_(std::move(now)),
      rollback_(side_), openedMs_(now_()), checks_(HISTORY_FRAMES), sounds_(HISTORY_FRAMES),
      watchers_(link) {}

void OnlineSession::moveTo(State next) {
    switch (next) {
    case State::Playing:
        started_ = true;
        lastHeardMs_ = now_();
        lastProgressMs_ = lastHeardMs_;
        break;
    case State::Waiting:
    case State::Greeting:
    case State::Starting:
    case State::Ending:
    case State::Ended:
        break;
    }
    state_ = next;
}

void OnlineSession::finish(SessionEnd how) {
    end_ = how;
    endedMs_ = now_();
    moveTo(State::Ended);
}

SessionStats OnlineSession::stats() const {
    SessionStats stats = stats_;
    const SoundFigures &sounds = sounds_.figures();
    stats.sounds = sounds.sounds;
    stats.soundsMissing = sounds.missing;
    stats.soundsWrong = sounds.wrong;
    stats.soundsLate = sounds.late;
    stats.longStalls = pacing_.longStalls();
    stats.inStepAfterStallMs = pacing_.inStepAfterStallMs();
    return stats;
}

bool OnlineSession::servingWatchers() const {
    return started_ && watchers_.lacking() &&
           (state_ != State::Ended || elapsedSince(endedMs_) <= WATCHERS_END_WAIT_MS);
}

void OnlineSession::receive(uint32_t waitMs) {
    if (state_ == State::Ended && !confirming() && !servingWatchers())
        return;
    for (LinkEvent event = link_.poll(waitMs, received_); event != LinkEvent::None;
         event = link_.poll(0, received_)) {
        if (event >= LinkEvent::WatcherCame)
            watchers_.take(event, link_.watcher(), received_, now_());
        else if (state_ == State::Ended && !confirming())
            continue; // (only the watchers are served now)
        else if (state_ < State::Playing)
            handshake(event);
        else
            takePacket(event);
        if (state_ == State::Ended && !confirming() && !servingWatchers())
            return;
    }
    listenedMs_ = now_();
    checkTimeouts();
}

uint32_t OnlineSession::silenceLimit() const {
    return heardInMatch_ ? SILENCE_LIMIT_MS + SILENCE_ALLOWANCE_MS : CONNECT_TIMEOUT_MS;
}

// Until the match starts: the connection, both Hellos and the host's Start.
void OnlineSession::handshake(LinkEvent event) {
    switch (event) {
    case LinkEvent::Connected:
        // (A link may connect anew while the Hellos are matched: they stay so.)
        connectedMs_ = now_();
        if (state_ == State::Waiting)
            moveTo(State::Greeting);
        if (!hosting_)
            sendHello(false);
        return;
    case LinkEvent::Refused:
        finish(SessionEnd::Refused);
        return;
    case LinkEvent::Watching:
        finish(SessionEnd::Watching);
        return;
    case LinkEvent::Disconnected:
    case LinkEvent::Lost:
        if (!hosting_)
            finish(event == LinkEvent::Lost ? SessionEnd::NoAnswer : SessionEnd::HostClosed);
        else
            waitForAnotherPlayer();
        return;
    case LinkEvent::Received:
        break;
    case LinkEvent::None:
    case LinkEvent::WatcherCame:
    case LinkEvent::WatcherSaid:
    case LinkEvent::WatcherLeft:
        return;
    }
    const Result<Packet> read = readPacket(received_.data(), received_.size());
    const Packet &packet = read.value;
    if (!read.ok() || isWatchPacket(packet.type)) {
        ++stats_.badPackets;
    } else if (packet.type == PacketType::Hello && state_ != State::Waiting) {
        takeHello(packet.hello);
    } else if (packet.type == PacketType::Start && state_ == State::Starting && !hosting_) {
        // The host's frame 0 was due that long before it sent this Start,
        // half a round trip ago.
        const uint32_t roundTripMs = elapsedSince(packet.start.echoMs);
        if (packet.start.sinceStartMs > CONNECT_TIMEOUT_MS || roundTripMs > CONNECT_TIMEOUT_MS) {
            ++stats_.badPackets;
        } else {
            beginPlay(packet.start.start, now_() - packet.start.sinceStartMs - roundTripMs / 2,
                      roundTripMs);
        }
    } else if (packet.type == PacketType::Inputs && hosting_ && state_ == State::Starting) {
        // The joining side's first inputs: it has the Start.
        beginPlay(start_, startMs_, UINT32_MAX);
        takePacket(event);
    }
    // Anything else is a repeat of the handshake, a Hello while the host has
    // no player (from one it dropped), or inputs that overtook the Start:
    // what matters comes again.
}

void OnlineSession::takeHello(const HelloPacket &hello) {
    // The host echoes the newest Hello's clock in its Starts.
    peerHelloMs_ = hello.sentMs;
    peerHelloHeardMs_ = now_();
    if (state_ == State::Starting)
        return;
    if (hello.protocol != PROTOCOL_VERSION || hello.gameVersion != GAME_VERSION ||
        hello.rules != rules_) {
        peerHello_ = hello;
        // The joining side learns of it from the host's Hello: that one must arrive.
        if (hosting_)
            sendHello(true);
        finish(SessionEnd::VersionMismatch);
        return;
    }
    moveTo(State::Starting);
    if (hosting_) {
        start_ = {randomSeed(), ONLINE_PLAYERS, static_cast<uint8_t>(ballType)};
        startMs_ = now_();
        answerHello();
    }
}

void OnlineSession::answerHello() {
    sendHello(false);
    const uint32_t echoMs = peerHelloMs_ + elapsedSince(peerHelloHeardMs_);
    link_.send(writePacket(StartPacket{start_, elapsedSince(startMs_), echoMs}), false);
}

void OnlineSession::sendHello(bool reliable) {
    link_.send(writePacket(HelloPacket{PROTOCOL_VERSION, GAME_VERSION, rules_, now_()}), reliable);
    lastHandshakeMs_ = now_();
}

void OnlineSession::beginPlay(const MatchStart &start, uint32_t startMs, uint32_t roundTripMs) {
    start_ = start;
    startMatch(start_);
    if (hosting_)
        watchers_.begin(start_, rules_);
    pacing_.start(startMs, roundTripMs);
    moveTo(State::Playing);
}

// That player went away before the match, or never got it started.
void OnlineSession::waitForAnotherPlayer() { moveTo(State::Waiting); }

void OnlineSession::checkTimeouts() {
    if (state_ >= State::Playing)
        return;
    if (!hosting_) {
        if (elapsedSince(openedMs_) > CONNECT_TIMEOUT_MS)
            finish(SessionEnd::NoAnswer);
        else if (state_ != State::Waiting && elapsedSince(lastHandshakeMs_) >= HANDSHAKE_REPEAT_MS)
            sendHello(false);
        return;
    }
    if (state_ == State::Waiting)
        return;
    const bool matched = state_ == State::Starting;
    const bool gaveUp = matched ? elapsedSince(connectedMs_) > CONNECT_TIMEOUT_MS ||
                                      elapsedSince(peerHelloHeardMs_) > HELLO_LIMIT_MS
                                : elapsedSince(connectedMs_) > HELLO_LIMIT_MS;
    if (gaveUp) {
        link_.disconnect(0);
        waitForAnotherPlayer();
    } else if (matched && elapsedSince(lastHandshakeMs_) >= HANDSHAKE_REPEAT_MS) {
        answerHello();
    }
}

void OnlineSession::takePacket(LinkEvent event) {
    if (event == LinkEvent::Disconnected || event == LinkEvent::Lost ||
        event == LinkEvent::Refused) {
        peerGone_ = true;
        return;
    }
    if (event != LinkEvent::Received)
        return;
    const Result<Packet> read = readPacket(received_.data(), received_.size());
    if (!read.ok() || isWatchPacket(read.value.type))
        ++stats_.badPackets;
    else if (read.value.type == PacketType::Inputs)
        takeInputs(read.value.inputs);
    // (A Hello or a Start is a repeat sent before the other side knew.)
}

void OnlineSession::takeInputs(const InputsPacket &inputs) {
    // The other side cannot run further than its window past our frames,
    // nor hold more of our inputs than we sent.
    if (inputs.receivedFrames > sentFrames_ ||
        inputs.senderFrames > rollback_.frames() + MAX_PREDICTION_FRAMES) {
        ++stats_.badPackets;
        return;
    }
    const uint32_t silenceMs = elapsedSince(lastHeardMs_);
    const auto unheardMs = static_cast<int32_t>(listenedMs_ - lastHeardMs_);
    if (heardInMatch_ && unheardMs > 0)
        stats_.longestSilenceMs =
            std::max(stats_.longestSilenceMs, static_cast<uint32_t>(unheardMs));
    if (state_ >= State::Ending) {
        lastHeardMs_ = now_();
        takeVerdict(inputs);
        return;
    }
    const uint32_t remoteFrames = rollback_.remoteFrames();
    if (!rollback_.receiveRemote(inputs.firstFrame, inputs.inputs.data(), inputs.inputs.size())
             .ok()) {
        ++stats_.badPackets;
        return;
    }
    pacing_.heard(silenceMs, rollback_.frames(), now_());
    lastHeardMs_ = now_();
    heardInMatch_ = true;
    if (rollback_.remoteFrames() > remoteFrames)
        lastProgressMs_ = lastHeardMs_;
    // The newest word stands: a forged acknowledgement lasts one packet.
    rollback_.acknowledge(inputs.receivedFrames);
    pacing_.measureLead(inputs, rollback_.frames(), link_.roundTripMs(), now_());

    checks_.hearChecksum(inputs.checkedFrames, inputs.inputsCheck);
    judgeHashes(inputs.hashedFrames, checks_.hearHash(inputs.hashedFrames, inputs.stateHash));
    compareInputs();
    takeVerdict(inputs);
}

void OnlineSession::takeVerdict(const InputsPacket &inputs) {
    verdicts_.hear(inputs.verdict, inputs.syncLostFrame, inputs.ended, now_());
    if (state_ == State::Playing && verdicts_.own() != Verdict::None)
        moveTo(State::Ending);
}

uint32_t OnlineSession::msUntilDue() const {
    return pacing_.msUntilDue(rollback_.frames(), now_());
}

uint32_t OnlineSession::waitMs() const {
    if (state_ >= State::Ending) {
        const uint32_t sinceSent = elapsedSince(lastSendMs_);
        return sinceSent >= FRAME_MS ? 0 : FRAME_MS - sinceSent;
    }
    const uint32_t untilDue = msUntilDue();
    return untilDue > 0 || rollback_.canAdvance() ? untilDue : STALL_POLL_MS;
}

bool OnlineSession::confirming() const {
    return (end_ == SessionEnd::Finished || end_ == SessionEnd::SyncLost) &&
           !verdicts_.peerEnded() && !peerGone_ && elapsedSince(lastHeardMs_) <= silenceLimit() &&
           !verdictOverdue();
}

bool OnlineSession::verdictOverdue() const {
    return verdicts_.own() != Verdict::None &&
           elapsedSince(verdicts_.reachedMs()) > VERDICT_WAIT_LIMITS * silenceLimit();
}

FrameSounds OnlineSession::advance(uint8_t localButtons) {
    const FrameSounds playNow = advanceMatch(localButtons);
    // (The frames settled now go at once.)
    if (started_)
        watchers_.serve(now_());
    return playNow;
}

FrameSounds OnlineSession::advanceMatch(uint8_t localButtons) {
    ranFrames_ = false;
    FrameSounds playNow = 0;
    if (state_ < State::Playing || (state_ == State::Ended && !started_))
        return playNow;
    if (state_ == State::Ended) {
        if (confirming() && elapsedSince(lastSendMs_) >= FRAME_MS)
            sendInputs();
        return playNow;
    }
    if (state_ == State::Playing) {
        correct(playNow);
        settleFrames();
        compareInputs();
        checkEnd();
        if (!rollback_.fault().ok())
            loseSync(std::max(checks_.settledFrames(), 1u) - 1);
    }
    conclude();
    if (state_ == State::Ended) {
        sendInputs(); // the verdict, at once
        return playNow;
    }
    // (Once the end is settled, only the other side's verdict is awaited.)
    const bool stuck = state_ == State::Playing && !rollback_.settledEnd() &&
                       elapsedSince(lastProgressMs_) > silenceLimit();
    if (peerGone_ || elapsedSince(lastHeardMs_) > silenceLimit() || stuck || verdictOverdue()) {
        endForSilence();
        return playNow;
    }
    if (state_ == State::Ending) {
        // Waiting for the other side's verdict: keep it hearing ours.
        if (elapsedSince(lastSendMs_) >= FRAME_MS)
            sendInputs();
        return playNow;
    }
    runDueFrames(localButtons, playNow);
    return playNow;
}

// The other side is gone: a lost sync found here is still said, with the
// frame found here.
void OnlineSession::endForSilence() {
    if (verdicts_.own() == Verdict::SyncLost) {
        syncLostFrame_ = verdicts_.ownFrame();
        finish(SessionEnd::SyncLost);
    } else {
        finish(SessionEnd::ConnectionLost);
    }
}

// Both verdicts are known: the match ends the same way on both sides.
void OnlineSession::conclude() {
    if (!verdicts_.decided())
        return;
    if (verdicts_.agreed()) {
        finish(SessionEnd::Finished);
        return;
    }
    syncLostFrame_ = verdicts_.lostFrame();
    finish(SessionEnd::SyncLost);
}

// Runs again what a wrong guess made, and plays the sounds it revealed if
// they are recent.
void OnlineSession::correct(FrameSounds &playNow) {
    const auto begun = std::chrono::steady_clock::now();
    const uint32_t depth = rollback_.correct(rerun_);
    if (depth == 0)
        return;
    const std::chrono::duration<double, std::micro> us = std::chrono::steady_clock::now() - begun;
    stats_.rollbackDepths.push_back(depth);
    if (depth > stats_.worstRollbackDepth) {
        stats_.worstRollbackDepth = depth;
        stats_.worstRollbackUs = us.count();
    }
    playNow |= sounds_.rerun(rollback_.frames() - depth, rerun_, rollback_.frames());
}

// For each newly settled frame: the inputs checksum, the sounds' account,
// and the state's hash every HASH_INTERVAL_FRAMES frames and at the end.
void OnlineSession::settleFrames() {
    while (checks_.settledFrames() < rollback_.settledFrames()) {
        const uint32_t frame = checks_.settledFrames();
        checks_.settle(rollback_.inputsOf(frame));
        sounds_.settle(frame);
        const bool last = rollback_.settledEnd() && frame == rollback_.endFrame();
        if (hosting_)
            watchers_.settle(encodeFrameInput(rollback_.inputsOf(frame)), last);
        if ((frame + 1) % HASH_INTERVAL_FRAMES == 0 || last)
            judgeHashes(frame + 1, checks_.hashLocal(frame + 1, rollback_.settledHash(frame)));
    }
}

void OnlineSession::judgeHashes(uint32_t hashedFrames, HashComparison found) {
    if (found == HashComparison::Different)
        loseSync(hashedFrames - 1);
    else if (found == HashComparison::Same && rollback_.settledEnd() &&
             hashedFrames == rollback_.endFrame() + 1)
        endHashMatched_ = true;
}

// The other side's newest inputs checksum against ours of the same frames.
void OnlineSession::compareInputs() {
    uint32_t frame = 0;
    if (checks_.inputsParted(frame))
        loseSync(frame);
}

// The other side is to see the same difference: its verdict will name the
// earlier frame of the two.
void OnlineSession::loseSync(uint32_t frame) {
    verdicts_.reach(Verdict::SyncLost, frame, now_());
    if (state_ == State::Playing)
        moveTo(State::Ending);
}

// This side's verdict on the end: settled, and both states agree on it (the
// other side has settled it too, so it holds all our inputs).
void OnlineSession::checkEnd() {
    if (rollback_.settledEnd() && endHashMatched_ && state_ == State::Playing) {
        verdicts_.reach(Verdict::Agreed, 0, now_());
        moveTo(State::Ending);
    }
}

// Runs the frames that are due, as far as the window allows; the local
// input applies in the frames it is read for.
void OnlineSession::runDueFrames(uint8_t localButtons, FrameSounds &playNow) {
    if (msUntilDue() > 0)
        return;
    if (!rollback_.canAdvance()) {
        // Waiting for the other side (or for the end to settle): keep it
        // hearing from us.
        pacing_.waiting(now_());
        if (elapsedSince(lastSendMs_) >= FRAME_MS)
            sendInputs();
        return;
    }
    pacing_.running(now_());
    while (msUntilDue() == 0 && rollback_.canAdvance()) {
        const uint32_t frame = rollback_.frames();
        const FrameSounds sounds = rollback_.advance(localButtons);
        sounds_.ran(frame, sounds);
        playNow |= sounds;
        pacing_.ranFrame();
    }
    ranFrames_ = true;
    sendInputs();
}

void OnlineSession::sendInputs() {
    InputsPacket packet;
    packet.senderFrames = rollback_.frames();
    packet.receivedFrames = rollback_.remoteFrames();
    packet.firstFrame = std::min(rollback_.acknowledgedFrames(), rollback_.frames());
    packet.inputs = rollback_.unacknowledgedInputs(MAX_INPUTS_PER_PACKET);
    packet.checkedFrames = checks_.settledFrames();
    packet.inputsCheck = checks_.inputsCheck();
    packet.hashedFrames = checks_.sentHashFrames();
    packet.stateHash = checks_.sentHash();
    packet.verdict = verdicts_.own();
    packet.syncLostFrame = verdicts_.ownFrame();
    packet.ended = state_ == State::Ended;
    link_.send(writePacket(packet), false);
    sentFrames_ = std::max(sentFrames_, packet.senderFrames);
    lastSendMs_ = now_();
}

void OnlineSession::close(uint32_t waitMs) {
    // A side that gave up on the other says goodbye at once; one that
    // agrees on how it ended, or refuses the other's version, lets its last
    // packets arrive first.
    const bool agreed = end_ == SessionEnd::Finished || end_ == SessionEnd::SyncLost ||
                        end_ == SessionEnd::VersionMismatch;
    link_.disconnect(agreed ? waitMs : 0);
}
