// The online session's bookkeeping.
#include "session.h"

#include <algorithm>
#include <bitset>
#include <chrono>

#include "randgen.h"
#include "version.h"

namespace {
// Frames whose checks and sounds are kept: more than the prediction window.
constexpr uint32_t RING_FRAMES = 128;
static_assert(RING_FRAMES > 2 * MAX_PREDICTION_FRAMES, "the rings must hold the window");
// Hashes of either side kept for comparison, the newest ones.
constexpr size_t HASHES_KEPT = 8;
// The inputs checksum: 32-bit FNV-1a over each frame's buttons.
constexpr uint32_t CHECK_BASIS = 2166136261u;
constexpr uint32_t CHECK_PRIME = 16777619u;
// While a side runs this many frames ahead of the other, each of its frames
// waits this much longer, until the other has caught up: it mends a start
// whose trip was misjudged and clocks that drift. A stall is
// mended by the schedule itself, the side behind running its due frames at once.
constexpr double AHEAD_LIMIT_FRAMES = 1.0;
constexpr uint32_t AHEAD_WAIT_MS = 3;
// The weight of a new reading in the smoothed lead over the other side.
constexpr double AHEAD_SMOOTHING = 0.1;
// A silence this long is a stall for the figures, and the two sides count as
// back in step once a packet shows them this many frames apart.
constexpr uint32_t STALL_FIGURE_MS = 1000;
constexpr double IN_STEP_FRAMES = 2.0;
constexpr uint32_t FRAME_MS = FRAME_PERIOD_MS;
// A side whose frame is due but must wait for the other looks again this
// often, or as soon as a packet comes.
constexpr uint32_t STALL_POLL_MS = 1;

uint32_t countSounds(FrameSounds sounds) {
    return static_cast<uint32_t>(std::bitset<8>(sounds).count());
}
} // namespace

OnlineSession::OnlineSession(Link &link, bool hosting, uint64_t rules, SessionClock now)
    : link_(link), hosting_(hosting), side_(hosting ? 0 : 1), rules_(rules), now_(std::move(now)),
      rollback_(side_), openedMs_(now_()), checks_(RING_FRAMES, 0), sounds_(RING_FRAMES) {}

void OnlineSession::receive(uint32_t waitMs) {
    if (end_ != SessionEnd::None)
        return;
    for (LinkEvent event = link_.poll(waitMs, received_); event != LinkEvent::None;
         event = link_.poll(0, received_)) {
        if (started_)
            takePacket(event);
        else
            handshake(event);
        if (end_ != SessionEnd::None)
            return;
    }
    checkTimeouts();
}

// Until the match starts: the connection, both Hellos and the host's Start.
void OnlineSession::handshake(LinkEvent event) {
    Packet packet;
    switch (event) {
    case LinkEvent::Connected:
        connected_ = true;
        connectedMs_ = now_();
        link_.send(writePacket(HelloPacket{PROTOCOL_VERSION, GAME_VERSION, rules_}), true);
        return;
    case LinkEvent::Refused:
        finish(SessionEnd::Refused);
        return;
    case LinkEvent::Disconnected:
    case LinkEvent::Lost:
        if (!hosting_) {
            finish(event == LinkEvent::Lost ? SessionEnd::NoAnswer : SessionEnd::HostClosed);
            return;
        }
        // That player went away before the match: wait for another.
        connected_ = false;
        helloMatched_ = false;
        return;
    case LinkEvent::Received:
        break;
    case LinkEvent::None:
        return;
    }
    if (!readPacket(received_.data(), received_.size(), packet)) {
        ++stats_.badPackets;
    } else if (packet.type == PacketType::Hello && !helloMatched_) {
        takeHello(packet.hello);
    } else if (packet.type == PacketType::Start && helloMatched_ && !hosting_) {
        beginPlay(packet.start);
    } else if (packet.type != PacketType::Inputs || hosting_ || !helloMatched_) {
        // (The host's first inputs may overtake its Start: they come again.)
        ++stats_.badPackets;
    }
}

void OnlineSession::takeHello(const HelloPacket &hello) {
    if (hello.protocol != PROTOCOL_VERSION || hello.gameVersion != GAME_VERSION ||
        hello.rules != rules_) {
        peerHello_ = hello;
        finish(SessionEnd::VersionMismatch);
        return;
    }
    helloMatched_ = true;
    if (hosting_) {
        const StartPacket start{{randomSeed(), ONLINE_PLAYERS, static_cast<uint8_t>(ballType)}};
        link_.send(writePacket(start), true);
        beginPlay(start);
    }
}

void OnlineSession::beginPlay(const StartPacket &start) {
    start_ = start.start;
    startMatch(start_);
    started_ = true;
    lastHeardMs_ = now_();
    // The host began when it sent Start: the joining side's first frame was
    // due a trip ago, so that both run each frame at the same moment.
    startMs_ = lastHeardMs_ - (hosting_ ? 0 : link_.roundTripMs() / 2);
}

void OnlineSession::takePacket(LinkEvent event) {
    if (event == LinkEvent::Disconnected || event == LinkEvent::Lost ||
        event == LinkEvent::Refused) {
        peerGone_ = true;
        return;
    }
    if (event != LinkEvent::Received)
        return;
    Packet packet;
    if (readPacket(received_.data(), received_.size(), packet) && packet.type == PacketType::Inputs)
        takeInputs(packet.inputs);
    else
        ++stats_.badPackets;
}

void OnlineSession::takeInputs(const InputsPacket &inputs) {
    // The other side cannot run further than its window past our frames,
    // nor hold more of ours than that (a correction that ends the match
    // sooner takes back frames we had sent).
    const uint32_t frames = rollback_.frames();
    if (inputs.receivedFrames > frames + MAX_PREDICTION_FRAMES ||
        inputs.senderFrames > frames + MAX_PREDICTION_FRAMES ||
        !rollback_.receiveRemote(inputs.firstFrame, inputs.inputs.data(), inputs.inputs.size())) {
        ++stats_.badPackets;
        return;
    }
    const uint32_t silenceMs = elapsedSince(lastHeardMs_);
    if (heardInMatch_ && silenceMs > stats_.longestSilenceMs)
        stats_.longestSilenceMs = silenceMs;
    if (silenceMs >= STALL_FIGURE_MS) {
        gapEndMs_ = now_();
        inGap_ = true;
    }
    lastHeardMs_ = now_();
    heardInMatch_ = true;
    rollback_.acknowledge(inputs.receivedFrames);
    measureLead(inputs);

    if (inputs.checkedFrames > remoteCheckedFrames_) {
        remoteCheckedFrames_ = inputs.checkedFrames;
        remoteCheck_ = inputs.inputsCheck;
    }
    if (inputs.hashedFrames > 0 && remoteHashes_.count(inputs.hashedFrames) == 0) {
        remoteHashes_[inputs.hashedFrames] = inputs.stateHash;
        if (remoteHashes_.size() > HASHES_KEPT)
            remoteHashes_.erase(remoteHashes_.begin());
        compareHashes(inputs.hashedFrames);
    }
    compareInputs();
}

// How far this side runs ahead of the other: our frames against the
// other's when it sent, plus the frames that passed while the packet
// travelled. A packet older than one already heard, or sent while the other
// side waited at the end of its window for us, says nothing of its pace.
void OnlineSession::measureLead(const InputsPacket &inputs) {
    const bool waiting = inputs.senderFrames >= inputs.receivedFrames + MAX_PREDICTION_FRAMES;
    if (inputs.senderFrames < peerFrames_ || waiting)
        return;
    peerFrames_ = inputs.senderFrames;
    // The shortest round trip seen: a stall inflates the link's smoothed one for seconds.
    shortestRoundTripMs_ = std::min(shortestRoundTripMs_, link_.roundTripMs());
    const double travelFrames = shortestRoundTripMs_ / 2.0 / FRAME_MS;
    const double ahead =
        static_cast<double>(rollback_.frames()) - (inputs.senderFrames + travelFrames);
    aheadFrames_ += AHEAD_SMOOTHING * (ahead - aheadFrames_);
    if (inGap_ && ahead <= IN_STEP_FRAMES && ahead >= -IN_STEP_FRAMES) {
        inGap_ = false;
        stats_.inStepAfterStallMs = std::max(stats_.inStepAfterStallMs, elapsedSince(gapEndMs_));
    }
}

void OnlineSession::checkTimeouts() {
    if (started_)
        return;
    if (!hosting_ && elapsedSince(openedMs_) > CONNECT_TIMEOUT_MS)
        finish(SessionEnd::NoAnswer);
    if (hosting_ && connected_ && elapsedSince(connectedMs_) > CONNECT_TIMEOUT_MS) {
        // A connection that says no Hello: make room for a real player.
        link_.disconnect(0);
        connected_ = false;
    }
}

uint32_t OnlineSession::msUntilDue() const {
    const uint32_t due = startMs_ + rollback_.frames() * FRAME_MS + shiftMs_;
    return reached(due) ? 0 : due - now_();
}

uint32_t OnlineSession::waitMs() const {
    const uint32_t untilDue = msUntilDue();
    return untilDue > 0 || rollback_.canAdvance() ? untilDue : STALL_POLL_MS;
}

FrameSounds OnlineSession::advance(uint8_t localButtons) {
    ranFrames_ = false;
    FrameSounds playNow = 0;
    if (end_ != SessionEnd::None || !started_)
        return playNow;
    correct(playNow);
    settleFrames();
    compareInputs();
    checkEnd();
    if (end_ != SessionEnd::None)
        return playNow;
    const uint32_t silenceLimit =
        heardInMatch_ ? SILENCE_LIMIT_MS + SILENCE_ALLOWANCE_MS : CONNECT_TIMEOUT_MS;
    if (peerGone_ || elapsedSince(lastHeardMs_) > silenceLimit) {
        finish(SessionEnd::ConnectionLost);
        return playNow;
    }
    runDueFrames(localButtons, playNow);
    return playNow;
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
    const uint32_t first = rollback_.frames() - depth;
    for (uint32_t i = 0; i < depth; ++i) {
        const uint32_t frame = first + i;
        FrameSoundSlot &slot = sounds_[frame % RING_FRAMES];
        if (slot.frame != frame)
            slot = FrameSoundSlot{frame, 0, 0};
        slot.ran = rerun_[i];
        const FrameSounds late = slot.ran & ~slot.heard;
        if (late != 0 && rollback_.frames() - frame <= LATE_SOUND_FRAMES) {
            playNow |= late;
            slot.heard |= late;
            stats_.soundsLate += countSounds(late);
        }
    }
}

// For each newly settled frame: the inputs checksum, the sounds' account,
// and the state's hash every HASH_INTERVAL_FRAMES frames and at the end.
void OnlineSession::settleFrames() {
    for (const uint32_t settled = rollback_.settledFrames(); settled_ < settled; ++settled_) {
        const uint32_t frame = settled_;
        const uint32_t before = frame == 0 ? CHECK_BASIS : checks_[(frame - 1) % RING_FRAMES];
        checks_[frame % RING_FRAMES] =
            (before ^ encodeFrameInput(rollback_.inputsOf(frame))) * CHECK_PRIME;

        const FrameSoundSlot &sounds = sounds_[frame % RING_FRAMES];
        if (sounds.frame == frame) {
            stats_.sounds += countSounds(sounds.ran);
            stats_.soundsMissing += countSounds(sounds.ran & ~sounds.heard);
            stats_.soundsWrong += countSounds(sounds.heard & ~sounds.ran);
        }

        const bool last = rollback_.settledEnd() && frame == rollback_.endFrame();
        if ((frame + 1) % HASH_INTERVAL_FRAMES != 0 && !last)
            continue;
        localHashes_[frame + 1] = rollback_.settledHash(frame);
        if (localHashes_.size() > HASHES_KEPT)
            localHashes_.erase(localHashes_.begin());
        sentHashFrames_ = frame + 1;
        compareHashes(frame + 1);
    }
}

void OnlineSession::compareHashes(uint32_t hashedFrames) {
    const auto local = localHashes_.find(hashedFrames);
    const auto remote = remoteHashes_.find(hashedFrames);
    if (local == localHashes_.end() || remote == remoteHashes_.end())
        return;
    if (local->second != remote->second) {
        sentHashFrames_ = hashedFrames; // the other side is to see the same difference
        loseSync(hashedFrames - 1);
    } else if (rollback_.settledEnd() && hashedFrames == rollback_.endFrame() + 1) {
        endHashMatched_ = true;
    }
}

// The other side's newest inputs checksum against ours of the same frames,
// once this side has settled them (while they are kept).
void OnlineSession::compareInputs() {
    const uint32_t frames = remoteCheckedFrames_;
    if (frames == 0 || frames > settled_ || settled_ - frames >= RING_FRAMES)
        return;
    if (checks_[(frames - 1) % RING_FRAMES] != remoteCheck_)
        loseSync(frames - 1);
}

void OnlineSession::loseSync(uint32_t frame) {
    if (end_ != SessionEnd::None)
        return;
    syncLostFrame_ = frame;
    finish(SessionEnd::SyncLost);
}

// The match ends once its end is settled, both states agree on it, and the
// other side holds all our inputs (or has already gone, having seen ours).
void OnlineSession::checkEnd() {
    if (!rollback_.settledEnd() || !endHashMatched_)
        return;
    if (peerGone_ || rollback_.acknowledgedFrames() >= rollback_.frames())
        finish(SessionEnd::Finished);
}

// Runs the frames that are due, as far as the window allows; the local
// input applies in the frames it is read for.
void OnlineSession::runDueFrames(uint8_t localButtons, FrameSounds &playNow) {
    if (msUntilDue() > 0)
        return;
    if (!rollback_.canAdvance()) {
        // Waiting for the other side (or for the end to settle): keep it
        // hearing from us.
        if (!stalled_)
            stallStartMs_ = now_();
        stalled_ = true;
        if (elapsedSince(lastSendMs_) >= FRAME_MS)
            sendInputs(false);
        return;
    }
    if (stalled_ && elapsedSince(stallStartMs_) > FRAME_MS)
        ++stats_.longStalls;
    stalled_ = false;
    while (msUntilDue() == 0 && rollback_.canAdvance()) {
        const uint32_t frame = rollback_.frames();
        const FrameSounds sounds = rollback_.advance(localButtons);
        sounds_[frame % RING_FRAMES] = FrameSoundSlot{frame, sounds, sounds};
        playNow |= sounds;
        if (aheadFrames_ > AHEAD_LIMIT_FRAMES)
            shiftMs_ += AHEAD_WAIT_MS;
    }
    ranFrames_ = true;
    sendInputs(false);
}

void OnlineSession::sendInputs(bool reliable) {
    InputsPacket packet;
    packet.senderFrames = rollback_.frames();
    packet.receivedFrames = rollback_.remoteFrames();
    packet.firstFrame = std::min(rollback_.acknowledgedFrames(), rollback_.frames());
    packet.inputs = rollback_.unacknowledgedInputs(MAX_INPUTS_PER_PACKET);
    packet.checkedFrames = settled_;
    packet.inputsCheck = settled_ == 0 ? CHECK_BASIS : checks_[(settled_ - 1) % RING_FRAMES];
    if (sentHashFrames_ > 0) {
        packet.hashedFrames = sentHashFrames_;
        packet.stateHash = localHashes_[sentHashFrames_];
    }
    link_.send(writePacket(packet), reliable);
    lastSendMs_ = now_();
}

void OnlineSession::close(uint32_t waitMs) {
    switch (end_) {
    case SessionEnd::Finished:
    case SessionEnd::SyncLost:
        sendInputs(true);
        link_.disconnect(waitMs);
        return;
    case SessionEnd::VersionMismatch:
        link_.disconnect(waitMs);
        return;
    default:
        link_.disconnect(0);
    }
}
