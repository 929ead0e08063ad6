// The online session: connecting, the handshake and the match loop.
#include "online.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "desktop.h"
#include "game.h"
#include "init.h"
#include "input.h"
#include "link.h"
#include "packets.h"
#include "randgen.h"
#include "replay.h"
#include "rollback.h"
#include "version.h"

namespace {
// A joining side gives up when the host has not answered in this time.
constexpr Uint32 CONNECT_TIMEOUT_MS = 10000;
// A host drops a player who has not said Hello in this time, and waits for another.
constexpr Uint32 HELLO_TIMEOUT_MS = 5000;
// A peer not heard from for this long is taken as gone.
constexpr Uint32 SILENCE_LIMIT_MS = 3000;
// A side that must wait for the other looks again this often, or when a packet comes.
constexpr Uint32 STALL_POLL_MS = 1;
// About one second of frames between two hashes of the settled state.
constexpr uint32_t HASH_INTERVAL_FRAMES = 45;
// Hashes of either side kept for comparison, the newest ones.
constexpr size_t HASHES_KEPT = 8;
// How long the goodbye may take before the game-over screen.
constexpr Uint32 DISCONNECT_WAIT_MS = 1000;
// While a side runs this many frames ahead of the other, each of its frames
// waits this much longer, until the other has caught up.
constexpr double AHEAD_LIMIT_FRAMES = 1.0;
constexpr Uint32 AHEAD_WAIT_MS = 3;
// The weight of a new reading in the smoothed lead over the other side.
constexpr double AHEAD_SMOOTHING = 0.1;
// Where the waiting banners lie in the sprite sheet, and where they are shown.
constexpr SDL_Rect WAITING_BANNER = {1, 157, 300, 27};
constexpr SDL_Rect JOINING_BANNER = {1, 185, 300, 27};
constexpr int BANNER_Y = 106;

// How a session ended, for the exit status.
enum class Outcome { Played, GaveUp, Failed };

// What the match loop measured, written on standard error at the end.
struct NetStats {
    std::vector<uint32_t> rollbackDepths; // frames run again, one entry per rollback
    double worstRollbackUs = 0.0;
    uint32_t worstRollbackDepth = 0;
    int longStalls = 0; // waits for the other side longer than a frame
    int badPackets = 0;
    Uint32 startMs = 0;
};

// Each player steers with player 1's keys on their own machine: their
// commands become the buttons of their side's player.
uint8_t localButtons(const FrameInput &keys, int side) {
    FrameInput input{};
    input.up[side] = keys.up[0];
    input.down[side] = keys.down[0];
    input.leave = keys.leave;
    return encodeFrameInput(input);
}

void drawBanner(const SDL_Rect &banner) {
    drawBackground();
    drawCentredBanner(banner, BANNER_Y);
    SDL_Flip(screen);
}

class OnlineSession {
  public:
    explicit OnlineSession(const Options &options)
        : options_(options), hosting_(options.mode == Mode::Host), side_(hosting_ ? 0 : 1),
          rollback_(side_) {}

    Outcome run();

  private:
    bool open();
    Outcome waitForMatch();
    bool handleHello(const HelloPacket &hello);
    void beginPlay(const StartPacket &start);
    Outcome playMatch();
    void serviceLink();
    void takeInputs(const InputsPacket &inputs);
    void takeHash(const HashPacket &hash);
    void hashSettledFrames();
    void compareHashes(uint32_t frame);
    void recordSettledFrames();
    void runDueFrames();
    void sendInputs();
    void finishMatch();
    void printStats() const;

    const Options &options_;
    const bool hosting_;
    const int side_; // the host plays the left paddle, the joining side the right one
    std::unique_ptr<Link> link_;
    Rollback rollback_;
    std::vector<uint8_t> received_;
    Uint32 lastHeardMs_ = 0;
    bool peerGone_ = false;
    bool syncLost_ = false;
    uint32_t syncLostFrame_ = 0;
    Uint32 nextFrameMs_ = 0;
    bool stalled_ = false;
    Uint32 stallStartMs_ = 0;
    Uint32 lastSendMs_ = 0;
    double aheadFrames_ = 0.0;
    uint32_t nextHashFrame_ = HASH_INTERVAL_FRAMES - 1;
    std::map<uint32_t, uint64_t> localHashes_;
    std::map<uint32_t, uint64_t> remoteHashes_;
    NetStats stats_;
    // --record: the settled frames, as both sides hold them.
    MatchRecorder recorder_;
    uint32_t recordedFrames_ = 0;
};

Outcome OnlineSession::run() {
    if (!options_.recordPath.empty()) {
        const Status opened = recorder_.open(options_.recordPath);
        if (!opened.ok()) {
            fprintf(stderr, "%s\n", opened.error.c_str());
            return Outcome::Failed;
        }
    }
    if (!open())
        return Outcome::Failed;
    beginMatch();
    const Outcome waited = waitForMatch();
    if (waited != Outcome::Played) {
        quitFlag = -1;
        endMatch();
        return waited;
    }
    const Outcome played = playMatch();
    printStats();
    return played;
}

bool OnlineSession::open() {
    Result<std::unique_ptr<Link>> opened =
        openLink(hosting_, options_.joinHost, static_cast<uint16_t>(options_.port));
    if (!opened.ok()) {
        printf("Cannot %s: %s.\n", hosting_ ? "host" : "join", opened.error.c_str());
        return false;
    }
    link_ = std::move(opened.value);
    if (hosting_)
        printf("Waiting for a player %s.\n", link_->hostPlace().c_str());
    else
        printf("Joining %s.\n", link_->hostName().c_str());
    return true;
}

// Until the match starts: the banner, the connection, both Hellos and the
// host's Start.
Outcome OnlineSession::waitForMatch() {
    const Uint32 startMs = SDL_GetTicks();
    Uint32 connectedMs = 0;
    bool helloMatched = false;
    for (;;) {
        drawBanner(hosting_ ? WAITING_BANNER : JOINING_BANNER);
        if (readFrameInput().leave) {
            puts(hosting_ ? "Gave up waiting for a player." : "Gave up joining.");
            link_->disconnect(0);
            return Outcome::GaveUp;
        }
        if (!hosting_ && !link_->connected() && SDL_GetTicks() - startMs > CONNECT_TIMEOUT_MS) {
            printf("No answer from %s.\n", link_->hostName().c_str());
            return Outcome::Failed;
        }
        if (hosting_ && link_->connected() && SDL_GetTicks() - connectedMs > HELLO_TIMEOUT_MS)
            link_->disconnect(0);
        const LinkEvent event = link_->poll(FRAME_PERIOD_MS, received_);
        Packet packet;
        switch (event) {
        case LinkEvent::Connected:
            connectedMs = SDL_GetTicks();
            link_->send(writePacket(HelloPacket{PROTOCOL_VERSION, GAME_VERSION}), true);
            break;
        case LinkEvent::Refused:
            puts("The host already has a player.");
            return Outcome::Failed;
        case LinkEvent::Disconnected:
            if (hosting_) { // that player went away before the match: wait for another
                helloMatched = false;
                break;
            }
            puts("The host closed the connection.");
            return Outcome::Failed;
        case LinkEvent::Received:
            if (!readPacket(received_.data(), received_.size(), packet)) {
                ++stats_.badPackets;
            } else if (packet.type == PacketType::Hello && !helloMatched) {
                if (!handleHello(packet.hello))
                    return Outcome::Failed;
                helloMatched = true;
                if (hosting_) {
                    const StartPacket start{
                        {randomSeed(), ONLINE_PLAYERS, static_cast<uint8_t>(ballType)}};
                    link_->send(writePacket(start), true);
                    beginPlay(start);
                    return Outcome::Played;
                }
            } else if (packet.type == PacketType::Start && helloMatched && !hosting_) {
                beginPlay(packet.start);
                return Outcome::Played;
            } else {
                ++stats_.badPackets;
            }
            break;
        case LinkEvent::None:
            break;
        }
    }
}

bool OnlineSession::handleHello(const HelloPacket &hello) {
    if (hello.protocol == PROTOCOL_VERSION && hello.gameVersion == GAME_VERSION)
        return true;
    printf("Version mismatch: this game is %s (protocol %u), the other is %s (protocol %u).\n",
           GAME_VERSION, PROTOCOL_VERSION, hello.gameVersion.c_str(), hello.protocol);
    link_->disconnect(DISCONNECT_WAIT_MS);
    return false;
}

void OnlineSession::beginPlay(const StartPacket &start) {
    puts(hosting_ ? "A player joined: the match starts." : "Joined: the match starts.");
    startMatch(start.start);
    if (recorder_.isOpen())
        recorder_.beginMatch(start.start);
    lastHeardMs_ = SDL_GetTicks();
    nextFrameMs_ = lastHeardMs_;
    stats_.startMs = lastHeardMs_;
}

Outcome OnlineSession::playMatch() {
    for (;;) {
        serviceLink();
        const auto started = std::chrono::steady_clock::now();
        const uint32_t depth = rollback_.correct();
        if (depth > 0) {
            const std::chrono::duration<double, std::micro> us =
                std::chrono::steady_clock::now() - started;
            stats_.rollbackDepths.push_back(depth);
            if (depth > stats_.worstRollbackDepth) {
                stats_.worstRollbackDepth = depth;
                stats_.worstRollbackUs = us.count();
            }
        }
        hashSettledFrames();
        recordSettledFrames();
        if (syncLost_) {
            printf("Lost sync with the other player at frame %u.\n", syncLostFrame_);
            // Our hash may still be on its way: the other side must see it too.
            link_->disconnect(DISCONNECT_WAIT_MS);
            quitFlag = -1;
            endMatch();
            return Outcome::Failed;
        }
        const bool peerHasAll = peerGone_ || rollback_.acknowledgedFrames() >= rollback_.frames();
        if (rollback_.settledEnd() && peerHasAll) {
            finishMatch();
            return Outcome::Played;
        }
        if (peerGone_ || SDL_GetTicks() - lastHeardMs_ > SILENCE_LIMIT_MS) {
            puts("Connection to the other player lost.");
            link_->disconnect(0);
            quitFlag = -1;
            endMatch();
            return Outcome::Failed;
        }
        runDueFrames();
    }
}

// Takes everything the link has, then waits for the link until the next frame is due.
void OnlineSession::serviceLink() {
    const Uint32 now = SDL_GetTicks();
    Uint32 waitMs = nextFrameMs_ > now ? nextFrameMs_ - now : 0;
    for (;;) {
        const LinkEvent event = link_->poll(waitMs, received_);
        waitMs = 0;
        if (event == LinkEvent::None)
            return;
        if (event == LinkEvent::Disconnected || event == LinkEvent::Refused) {
            peerGone_ = true;
            return;
        }
        Packet packet;
        if (event != LinkEvent::Received)
            continue;
        if (!readPacket(received_.data(), received_.size(), packet)) {
            ++stats_.badPackets;
            continue;
        }
        if (packet.type == PacketType::Inputs)
            takeInputs(packet.inputs);
        else if (packet.type == PacketType::Hash)
            takeHash(packet.hash);
        else
            ++stats_.badPackets;
    }
}

void OnlineSession::takeInputs(const InputsPacket &inputs) {
    // The other side cannot hold more of our frames than we ran, nor run
    // further than its window past them.
    const uint32_t frames = rollback_.frames();
    if (inputs.receivedFrames > frames + MAX_PREDICTION_FRAMES ||
        inputs.senderFrames > frames + MAX_PREDICTION_FRAMES ||
        !rollback_.receiveRemote(inputs.firstFrame, inputs.inputs.data(), inputs.inputs.size())) {
        ++stats_.badPackets;
        return;
    }
    lastHeardMs_ = SDL_GetTicks();
    rollback_.acknowledge(inputs.receivedFrames);
    // Where the other side is now: its frames when it sent, and the frames
    // that passed while the packet travelled.
    const double travelFrames = link_->roundTripMs() / 2.0 / FRAME_PERIOD_MS;
    const double ahead = static_cast<double>(frames) - (inputs.senderFrames + travelFrames);
    aheadFrames_ += AHEAD_SMOOTHING * (ahead - aheadFrames_);
}

void OnlineSession::takeHash(const HashPacket &hash) {
    const bool onSchedule = hash.frame % HASH_INTERVAL_FRAMES == HASH_INTERVAL_FRAMES - 1;
    const bool recent = hash.frame + HASH_INTERVAL_FRAMES * HASHES_KEPT >= nextHashFrame_ &&
                        hash.frame < rollback_.frames() + MAX_PREDICTION_FRAMES;
    if (!onSchedule || !recent) {
        ++stats_.badPackets;
        return;
    }
    remoteHashes_[hash.frame] = hash.hash;
    if (remoteHashes_.size() > HASHES_KEPT)
        remoteHashes_.erase(remoteHashes_.begin());
    compareHashes(hash.frame);
}

void OnlineSession::hashSettledFrames() {
    while (rollback_.settledFrames() > nextHashFrame_) {
        const uint64_t hash = rollback_.settledHash(nextHashFrame_);
        localHashes_[nextHashFrame_] = hash;
        if (localHashes_.size() > HASHES_KEPT)
            localHashes_.erase(localHashes_.begin());
        link_->send(writePacket(HashPacket{nextHashFrame_, hash}), true);
        compareHashes(nextHashFrame_);
        nextHashFrame_ += HASH_INTERVAL_FRAMES;
    }
}

void OnlineSession::recordSettledFrames() {
    if (!recorder_.isOpen())
        return;
    for (; recordedFrames_ < rollback_.settledFrames(); ++recordedFrames_)
        recorder_.addFrame(rollback_.inputsOf(recordedFrames_), FRAME_PERIOD_MS);
}

void OnlineSession::compareHashes(uint32_t frame) {
    const auto local = localHashes_.find(frame);
    const auto remote = remoteHashes_.find(frame);
    if (local == localHashes_.end() || remote == remoteHashes_.end() ||
        local->second == remote->second || syncLost_)
        return;
    syncLost_ = true;
    syncLostFrame_ = frame;
}

// Runs the frame that is due, if the window allows, and draws it; the local
// input applies in the frame it is read.
void OnlineSession::runDueFrames() {
    const Uint32 now = SDL_GetTicks();
    if (now < nextFrameMs_)
        return;
    const FrameInput input = readFrameInput();
    if (!rollback_.canAdvance()) {
        // Waiting for the other side (or for the end to settle): keep it
        // hearing from us, and look again as soon as a packet comes.
        if (!stalled_)
            stallStartMs_ = now;
        stalled_ = true;
        if (now - lastSendMs_ >= static_cast<Uint32>(FRAME_PERIOD_MS))
            sendInputs();
        nextFrameMs_ = now + STALL_POLL_MS;
        return;
    }
    if (stalled_ && now - stallStartMs_ > static_cast<Uint32>(FRAME_PERIOD_MS))
        ++stats_.longStalls;
    stalled_ = false;
    playMatchSounds(rollback_.advance(localButtons(input, side_)));
    sendInputs();
    drawScreen();
    // A frame that came late is not made up by running the next ones sooner.
    nextFrameMs_ = std::max(nextFrameMs_ + FRAME_PERIOD_MS, now);
    if (aheadFrames_ > AHEAD_LIMIT_FRAMES)
        nextFrameMs_ += AHEAD_WAIT_MS;
}

void OnlineSession::sendInputs() {
    InputsPacket packet;
    packet.senderFrames = rollback_.frames();
    packet.receivedFrames = rollback_.remoteFrames();
    packet.firstFrame = std::min(rollback_.acknowledgedFrames(), rollback_.frames());
    packet.inputs = rollback_.unacknowledgedInputs(MAX_INPUTS_PER_PACKET);
    link_->send(writePacket(packet), false);
    lastSendMs_ = SDL_GetTicks();
}

// The settled end: a line for a player who left, the score, the goodbye, and
// the game-over screen.
void OnlineSession::finishMatch() {
    drawScreen();
    if (rollback_.remoteLeft())
        puts("The other player left the match.");
    printf("Final score: %d - %d.\n", Players[0].getScore(), Players[1].getScore());
    if (recorder_.isOpen()) {
        const Status finished = recorder_.finishMatch(currentMatchEnd());
        if (!finished.ok())
            fprintf(stderr, "%s\n", finished.error.c_str());
    }
    // The last packets tell the other side that we hold its inputs too.
    sendInputs();
    link_->disconnect(DISCONNECT_WAIT_MS);
    endMatch();
}

void OnlineSession::printStats() const {
    std::vector<uint32_t> depths = stats_.rollbackDepths;
    std::sort(depths.begin(), depths.end());
    const auto percentile = [&depths](size_t percent) {
        return depths.empty() ? 0u : depths[(depths.size() - 1) * percent / 100];
    };
    const double seconds = std::max(1u, SDL_GetTicks() - stats_.startMs) / 1000.0;
    fprintf(
        stderr,
        "korrin-tavrel: online: %u frames, %zu rollbacks (depth median %u, p99 %u, worst %u "
        "in %.0f us), %d stalls over a frame, %.0f B/s sent, %.0f B/s received, %d bad packets\n",
        rollback_.frames(), depths.size(), percentile(50), percentile(99),
        stats_.worstRollbackDepth, stats_.worstRollbackUs, stats_.longStalls,
        link_->bytesSent() / seconds, link_->bytesReceived() / seconds, stats_.badPackets);
}
} // namespace

int playOnline(const Options &options) {
    initRandom();
    if (initGame() != 0) {
        puts("Some errors occurred during initialization.");
        return 1;
    }
    OnlineSession session(options);
    const Outcome outcome = session.run();
    quitGame();
    if (outcome == Outcome::Failed)
        return 1;
    puts("Korrin Tavrel is exiting normally.");
    return 0;
}
