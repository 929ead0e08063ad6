// Two online sessions through a simulated network, on a fake clock that wraps
// mid-match: how each side ends, the two in step, the true sounds heard.
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>

#include "randgen.h"
#include "session.h"
#include "snapshot.h"

namespace {
constexpr uint32_t CLOCK_START = 0xffffffffu - 10000; // wraps 10 s into the session
constexpr uint32_t RESEND_MS = 200;                   // a lost reliable packet's next try
constexpr uint32_t NEVER = 0xffffffffu;
constexpr int32_t TAMPERED_SEED = 12345;
// Outages that begin when the match reaches a point rather than at a time.
constexpr uint32_t AT_END = NEVER - 1;     // as the first side settles the end
constexpr uint32_t AT_VERDICT = NEVER - 2; // after the first packet with a verdict

struct Network {
    uint32_t now, delayMs, jitterMs;
    double loss;
    uint32_t outageFrom, outageMs; // from CLOCK_START
    std::function<bool(std::vector<uint8_t> &)>
        rewrite; // of what goes to the joining side; false: lost
    uint32_t toHostLostFrom = NEVER, toHostLostMs = 0; // the joining side's packets only
    bool tampered = false;
    std::mt19937 random{20261209};

    bool lostAt(uint32_t t) {
        return (outageFrom < AT_VERDICT && t - (CLOCK_START + outageFrom) < outageMs) ||
               std::uniform_real_distribution<>(0, 1)(random) < loss;
    }
};

// One end of the link: what the other end sends waits in its inbox until due.
class SimLink : public Link {
  public:
    SimLink(Network &network, bool toJoiner) : net_(network), toJoiner_(toJoiner) {}
    SimLink *peer = nullptr;
    int connections = 0; // the Connected events it gave

    void deliver(LinkEvent event, std::vector<uint8_t> data, bool reliable) {
        const Result<Packet> read = readPacket(data.data(), data.size());
        const bool firstVerdict = net_.outageFrom == AT_VERDICT && read.ok() &&
                                  read.value.type == PacketType::Inputs &&
                                  read.value.inputs.verdict != Verdict::None;
        if (firstVerdict) // it goes; whatever is sent from now on is lost
            net_.outageFrom = net_.now - CLOCK_START;
        uint32_t due = net_.now;
        while (reliable && net_.lostAt(due)) // tried until it passes, and kept in order
            due += RESEND_MS;
        const bool toHostLost =
            !toJoiner_ && due - (CLOCK_START + net_.toHostLostFrom) < net_.toHostLostMs;
        if (!reliable && !firstVerdict &&
            (net_.lostAt(due) || toHostLost || (toJoiner_ && !net_.rewrite(data))))
            return;
        due += net_.delayMs - net_.jitterMs + net_.random() % (2 * net_.jitterMs + 1);
        // Kept in order of the time since the start, which does not wrap.
        const uint32_t dueMs = due - CLOCK_START;
        reliableDue_ = reliable ? std::max(dueMs, reliableDue_) : reliableDue_;
        peer->inbox_.emplace(reliable ? reliableDue_ : dueMs,
                             std::make_pair(event, std::move(data)));
    }
    LinkEvent poll(uint32_t, std::vector<uint8_t> &data) override {
        if (inbox_.empty() || net_.now - CLOCK_START < inbox_.begin()->first)
            return LinkEvent::None;
        const LinkEvent event = inbox_.begin()->second.first;
        data = inbox_.begin()->second.second;
        inbox_.erase(inbox_.begin());
        if (!toJoiner_ && event == LinkEvent::Disconnected && !answered_) {
            // As NetLink does, a joining side dropped before the host said a
            // word connects anew.
            up_ = false;
            deliver(LinkEvent::Connected, {}, true);
            peer->deliver(LinkEvent::Connected, {}, true);
            return LinkEvent::None;
        }
        answered_ = answered_ || event == LinkEvent::Received;
        connections += event == LinkEvent::Connected;
        up_ = up_ ? event != LinkEvent::Disconnected : event == LinkEvent::Connected;
        return event;
    }
    void send(const std::vector<uint8_t> &packet, bool reliable) override {
        if (up_)
            deliver(LinkEvent::Received, packet, reliable);
    }
    void disconnect(uint32_t) override {
        if (up_)
            deliver(LinkEvent::Disconnected, {}, true);
        up_ = false;
    }
    bool connected() const override { return up_; }
    uint32_t roundTripMs() const override { return 2 * net_.delayMs; }
    std::string hostPlace() const override { return ""; }
    std::string hostName() const override { return ""; }
    uint64_t bytesSent() const override { return 0; }
    uint64_t bytesReceived() const override { return 0; }

  private:
    Network &net_;
    bool toJoiner_, up_ = false, answered_ = false;
    uint32_t reliableDue_ = 0;
    std::multimap<uint32_t, std::pair<LinkEvent, std::vector<uint8_t>>> inbox_;
};

// What goes wrong: a side stalls for 2 s, 8 s in; the joining side's state
// parts after frame tamperBy (LEAVE_AFTER_PART later it leaves); its rules
// differ; its Hellos sent in the first tamperBy ms are lost; or the relay
// tampers with the packets to the joining side, from the first one sent
// TAMPER_AT_MS in.
enum class Tamper {
    None,
    HostStalls,
    JoinerStalls,
    Parts,
    OtherRules,
    LoseHellos,
    FlipInput,   // the host's newest input changes, once
    AckSent,     // once: all the joining side sent is held, + tamperBy (its packets lost around)
    Window,      // once: the host ran MAX_PREDICTION_FRAMES past the joining side, + tamperBy
    StripInputs, // all carry the host's checks but no input
    LoseStarts,  // every Start sent in the first tamperBy ms is lost (from the start)
    LoseHellosAndStarts, // as LoseHellos, and no Start: connected anew, the joining side gives up
    HostLeaves,          // every Start lost, and the host leaves tamperBy ms in
};
constexpr uint32_t TAMPER_AT_MS = 8000, ACK_LOSS_BEFORE_MS = 100, ACK_LOSS_MS = 300;

struct Case {
    const char *name;
    uint32_t delayMs, jitterMs, lossPercent, outageFrom, outageMs;
    Tamper tamper;
    uint32_t tamperBy;
    SessionEnd end;             // on both sides; NoAnswer: the host waits for another player
    uint32_t syncLostFrame = 0; // when the end is SyncLost and the frame is known
    bool shallow = true; // no correction deeper than LATE_SOUND_FRAMES: none missing, < 3 % wrong
    int badPackets = 0;  // the joining side drops and counts, or ANY
    int connections = 1; // of the joining side: the host drops one whose Hello is late
};
constexpr int ANY = -1;

constexpr uint32_t LEAVE_AFTER_PART = 28;
constexpr uint32_t STALL_FROM_MS = 8000, STALL_MS = 2000, IN_STEP_MS = 1000;
// One side, with its own copy of the match's state, put in place for its turn.
struct Side {
    Side(Network &net, bool hosting, uint64_t rules)
        : link(net, hosting), session(link, hosting, rules, [&net] { return net.now; }),
          side(hosting ? 0 : 1) {}
    SimLink link;
    OnlineSession session;
    int side;
    MatchSnapshot state{};
    std::vector<FrameInput> settled; // the settled frames' inputs, as a recording keeps them
    uint32_t startedMs = NEVER;
    bool closed = false;
    bool done() const { return session.end() != SessionEnd::None && !session.confirming(); }
};

int count(FrameSounds sounds) { return static_cast<int>(std::bitset<8>(sounds).count()); }

// Each player follows the ball, but looks away one time in four, so that
// points are scored and keys change often (the other side's guesses go wrong).
uint8_t keysOf(int side, uint32_t frame, uint32_t partFrame) {
    constexpr uint32_t LOOK_FRAMES = 40, LOOKS_AWAY_EVERY = 4, NEAR_PIXELS = 8;
    if (side == 1 && partFrame != NEVER && frame == partFrame + LEAVE_AFTER_PART)
        return BUTTON_LEAVE;
    const int paddle = Players[side].worldRect.y + Players[side].worldRect.h / 2;
    const int ball = TavrelBall.worldRect.y + TavrelBall.worldRect.h / 2;
    if ((frame / LOOK_FRAMES + side) % LOOKS_AWAY_EVERY == 0 ||
        std::abs(ball - paddle) < NEAR_PIXELS)
        return 0;
    return ball < paddle ? (side == 0 ? BUTTON_UP_1 : BUTTON_UP_2)
                         : (side == 0 ? BUTTON_DOWN_1 : BUTTON_DOWN_2);
}

// Whether the relay lets a packet to the joining side through, as the case
// tampers with it (joinerFrames: the frames it has run, and sent).
bool tamper(const Case &c, Network &net, uint32_t joinerFrames, std::vector<uint8_t> &data) {
    const uint32_t ms = net.now - CLOCK_START;
    Result<Packet> read = readPacket(data.data(), data.size());
    Packet &packet = read.value;
    if (c.tamper < Tamper::FlipInput || !read.ok())
        return true;
    if (c.tamper == Tamper::LoseStarts)
        return packet.type != PacketType::Start || ms >= c.tamperBy;
    if (c.tamper == Tamper::LoseHellosAndStarts || c.tamper == Tamper::HostLeaves)
        return packet.type != PacketType::Start;
    InputsPacket &in = packet.inputs;
    if (packet.type != PacketType::Inputs || ms < TAMPER_AT_MS ||
        (net.tampered && c.tamper != Tamper::StripInputs))
        return true;
    net.tampered = true;
    if (c.tamper == Tamper::FlipInput && !in.inputs.empty())
        in.inputs.back() ^= BUTTON_UP_1;
    if (c.tamper == Tamper::AckSent)
        in.receivedFrames = joinerFrames + c.tamperBy;
    if (c.tamper == Tamper::Window)
        in.senderFrames = joinerFrames + MAX_PREDICTION_FRAMES + c.tamperBy;
    if (c.tamper == Tamper::StripInputs) {
        in.firstFrame = in.senderFrames;
        in.inputs.clear();
    }
    data = writePacket(in);
    return true;
}

TEST(Session, WholeMatchesThroughASimulatedNetwork) {
    using E = SessionEnd;
    using T = Tamper;
    constexpr int NO = -1; // no side stalls
    constexpr uint32_t N = NEVER;
    // Outages just under and just over the silence the game's line promises
    // to survive (4.5 s), less two periods of the packets that end it.
    constexpr uint32_t PROMISED_MS = 4500;
    constexpr uint32_t UNDER = PROMISED_MS - 2 * FRAME_PERIOD_MS, OVER = PROMISED_MS + 1;
    const Case cases[] = {
        {"50 ms, 5 % lost", 50, 10, 5, 0, 0, T::None, 0, E::Finished},
        {"125 ms, 5 % lost", 125, 10, 5, 0, 0, T::None, 0, E::Finished},
        {"outage under, mid", 50, 0, 0, 9000, UNDER, T::None, 0, E::Finished, 0, 0},
        {"outage over, mid", 50, 0, 0, 9000, OVER, T::None, 0, E::ConnectionLost, 0, 0},
        {"outage under, at the start", 50, 0, 0, 40, UNDER, T::None, 0, E::Finished, 0, 1, 0, 2},
        {"handshake lost 8 s, 250 ms", 250, 0, 5, 0, 8000, T::None, 0, E::Finished},
        {"handshake lost to 9.5 s", 50, 0, 0, 0, 9500, T::None, 0, E::Finished},
        {"handshake lost to 10 s", 50, 0, 0, 0, 10000, T::None, 0, E::NoAnswer, 0, 1, 0, 0},
        // The first Hello the host hears, 2.001 s after it heard of the connection
        // (taken before the limit is checked), or 2.002 s: dropped, it connects anew.
        {"first Hello 2.001 s in", 101, 0, 0, 0, 0, T::LoseHellos, 2001, E::Finished},
        {"first Hello 2.002 s in", 102, 0, 0, 0, 0, T::LoseHellos, 2002, E::Finished, 0, 1, 0, 2},
        {"Starts lost 1.5 s, 250 ms", 250, 0, 0, 0, 0, T::LoseStarts, 1500, E::Finished},
        // The first Start the joining side hears, 10.001 s in (taken before the
        // limit is checked: the match starts, then a long outage ends it), or
        // 10.002 s: too late.
        {"first Start 10.001 s in", 67, 0, 0, 10200, OVER, T::LoseStarts, 9934, E::ConnectionLost},
        {"first Start 10.002 s in", 34, 0, 0, 0, 0, T::LoseStarts, 9968, E::NoAnswer},
        {"the host leaves before the start", 50, 0, 0, 0, 0, T::HostLeaves, 1000, E::HostClosed},
        {"connected anew, no Start", 102, 0, 0, 0, 0, T::LoseHellosAndStarts, 2002, E::NoAnswer, 0,
         1, 0, 2},
        {"outage under, at the end", 50, 0, 0, AT_END, UNDER, T::None, 0, E::Finished},
        {"outage over, at the end", 50, 0, 0, AT_END, OVER, T::None, 0, E::ConnectionLost},
        {"outage under, verdict", 50, 0, 0, AT_VERDICT, UNDER, T::None, 0, E::Finished},
        {"the host stalls", 50, 10, 5, 0, 0, T::HostStalls, 0, E::Finished, 0, 0},
        {"the joining side stalls", 125, 10, 5, 0, 0, T::JoinerStalls, 0, E::Finished, 0, 0},
        {"parts after the last hash", 50, 10, 0, 0, 0, T::Parts, 272, E::SyncLost, 300},
        {"an input changed", 50, 10, 0, 0, 0, T::FlipInput, 0, E::SyncLost, 0, 1, ANY},
        {"all sent held (forged)", 0, 0, 0, 0, 0, T::AckSent, 0, E::Finished},
        {"one more than sent held", 0, 0, 0, 0, 0, T::AckSent, 1, E::Finished, 0, 1, 1},
        {"frames at the window", 0, 0, 0, 0, 0, T::Window, 0, E::Finished},
        {"frames past the window", 0, 0, 0, 0, 0, T::Window, 1, E::Finished, 0, 1, 1},
        {"inputs withheld", 50, 0, 0, 0, 0, T::StripInputs, 0, E::ConnectionLost, 0, 1, ANY},
        {"rules that differ", 50, 10, 0, 0, 0, T::OtherRules, 0, E::VersionMismatch, 0, 1, ANY},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Network net{CLOCK_START,  c.delayMs,  c.jitterMs, c.lossPercent / 100.0,
                    c.outageFrom, c.outageMs, {}};
        Side sides[2] = {{net, true, rulesFingerprint()},
                         {net, false, rulesFingerprint() + (c.tamper == T::OtherRules)}};
        net.rewrite = [&c, &net, &sides](std::vector<uint8_t> &data) {
            return tamper(c, net, sides[1].session.rollback().frames(), data);
        };
        if (c.tamper == T::AckSent) { // so that the host lacks what is said to be held
            net.toHostLostFrom = TAMPER_AT_MS - ACK_LOSS_BEFORE_MS;
            net.toHostLostMs = ACK_LOSS_MS;
        }
        if (c.tamper == T::LoseHellos || c.tamper == T::LoseHellosAndStarts)
            net.toHostLostFrom = 0, net.toHostLostMs = c.tamperBy;
        for (Side &side : sides) {
            side.link.peer = &sides[1 - side.side].link;
            side.link.deliver(LinkEvent::Connected, {}, true);
        }

        // (A host whose player gave up waits for the next one.)
        const int stalledSide = c.tamper == T::HostStalls     ? 0
                                : c.tamper == T::JoinerStalls ? 1
                                                              : NO;
        const uint32_t partFrame = c.tamper == T::Parts ? c.tamperBy : N;
        // Without a match, the host is awaited no longer than the joining side.
        const bool noMatch = c.end == E::NoAnswer || c.end == E::HostClosed;
        while (!sides[1].done() || (!sides[0].done() && !noMatch)) {
            ASSERT_LT(++net.now - CLOCK_START, 400000u) << "the match never ended";
            const uint32_t ms = net.now - CLOCK_START;
            for (Side &side : sides) {
                if (side.done() || (stalledSide == side.side && ms - STALL_FROM_MS < STALL_MS))
                    continue;
                if (c.tamper == T::HostLeaves && side.side == 0 && ms >= c.tamperBy) {
                    side.link.disconnect(0); // as a host given up waiting does
                    continue;
                }
                restoreMatch(side.state);
                side.session.receive(0);
                const Rollback &rollback = side.session.rollback();
                side.session.advance(keysOf(side.side, rollback.frames(), partFrame));
                if (side.side == 1 && rollback.frames() > partFrame)
                    setRandomSeed(TAMPERED_SEED); // in every state from there, whatever runs again
                while (side.settled.size() < rollback.settledFrames())
                    side.settled.push_back(rollback.inputsOf(side.settled.size()));
                if (side.session.started() && side.startedMs == N)
                    side.startedMs = ms;
                if (net.outageFrom == AT_END && rollback.settledEnd())
                    net.outageFrom = ms + 1; // what this side sent now still goes
                // A joining side without a match is closed without a word.
                if (side.done() && !side.closed && !noMatch) {
                    side.session.close(0);
                    side.closed = true;
                }
                side.state = saveMatch();
            }
            // In step from 1 s after a stall, or after a start whose first Starts
            // were lost for no longer (one 10 s late has 450 frames to catch up,
            // a window's worth a round trip).
            const uint32_t inStepFrom = stalledSide != NO ? STALL_FROM_MS + STALL_MS + IN_STEP_MS
                                        : c.tamper == T::LoseStarts && c.tamperBy <= STALL_MS
                                            ? sides[1].startedMs + IN_STEP_MS
                                            : N;
            if (inStepFrom != N && ms - inStepFrom < IN_STEP_MS) {
                ASSERT_NEAR(sides[0].session.rollback().frames(),
                            sides[1].session.rollback().frames(), 2)
                    << "apart at " << ms << " ms";
            }
        }
        if (c.badPackets != ANY) {
            EXPECT_EQ(sides[1].session.stats().badPackets, c.badPackets);
        }
        EXPECT_EQ(sides[1].link.connections, c.connections);
        if (noMatch) {
            EXPECT_EQ(sides[1].session.end(), c.end);
            EXPECT_EQ(sides[0].session.end(), E::None);
            EXPECT_FALSE(sides[0].session.started());
            // The host takes the next player as soon as the last one has
            // been silent for the Hello's limit, however long ago it connected.
            const uint32_t endedMs = net.now;
            while (sides[0].link.connected() && net.now - endedMs <= HELLO_LIMIT_MS + c.delayMs) {
                ++net.now;
                sides[0].session.receive(0);
            }
            EXPECT_FALSE(sides[0].link.connected());
            if (c.end == E::NoAnswer) { // (a host that left is not asked)
                EXPECT_EQ(sides[0].session.state(), OnlineSession::State::Waiting);
            }
            continue;
        }
        EXPECT_EQ(sides[0].session.syncLostFrame(), sides[1].session.syncLostFrame());
        for (const Side &side : sides) {
            EXPECT_EQ(std::make_pair(side.session.end(), side.session.syncLostFrame()),
                      std::make_pair(c.end, c.syncLostFrame ? c.syncLostFrame
                                                            : side.session.syncLostFrame()));
            // The figures: an outage in the match (no packet lost around it) is a
            // silence of its length and at most two periods of the packets more
            // (the verdict's own included); a side that stalled heard the other's
            // packets once back; after a stall, in step when the test sees them so.
            const SessionStats &stats = side.session.stats();
            if (c.outageFrom >= STALL_FROM_MS && c.outageMs < PROMISED_MS && c.lossPercent == 0) {
                EXPECT_GE(stats.longestSilenceMs, c.outageMs);
                EXPECT_LE(stats.longestSilenceMs, c.outageMs + 2 * FRAME_PERIOD_MS);
            }
            if (stalledSide != NO) {
                EXPECT_EQ(stats.longestSilenceMs >= STALL_MS, side.side != stalledSide);
            }
            EXPECT_LE(stats.inStepAfterStallMs, IN_STEP_MS);
        }
        if (c.end != E::Finished)
            continue;
        EXPECT_EQ(sides[0].state.players[1].getScore(), sides[1].state.players[1].getScore());
        // What the host keeps for its watchers: the settled inputs, never a guess.
        std::vector<uint8_t> settledInputs;
        for (const FrameInput &input : sides[1].settled)
            settledInputs.push_back(encodeFrameInput(input));
        EXPECT_EQ(sides[0].session.watchers().settled(), settledInputs);

        // The true match, run plainly from its settled inputs: its sounds heard.
        startMatch(sides[0].session.matchStart());
        uint32_t sounds = 0;
        for (const FrameInput &input : sides[0].settled)
            sounds += count(runFrame(input, FRAME_PERIOD_MS));
        EXPECT_EQ(Players[0].getScore(), sides[1].state.players[0].getScore());
        EXPECT_GT(sounds, 50u);
        for (const Side &side : sides) {
            const SessionStats &stats = side.session.stats();
            EXPECT_EQ(stats.sounds, sounds);
            if (c.shallow) {
                EXPECT_EQ(stats.soundsMissing, 0u);
                EXPECT_LT(stats.soundsWrong * 100, 3 * sounds);
            }
        }
    }
}
} // namespace
