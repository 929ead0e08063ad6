// Two online sessions wired back to back through a simulated network (delay,
// jitter, loss, outages, a changed packet) and driven by a fake clock that
// wraps during the match: what each side says at the end, whether they stay
// in step after a stall, and whether every sound of the true match is heard.
// No SDL, no ENet: whole matches in well under a second each.
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

struct Network {
    uint32_t now = CLOCK_START;
    uint32_t delayMs, jitterMs;
    double loss;
    uint32_t outageFrom, outageMs; // from CLOCK_START
    std::mt19937 random{20261209};
    // Changes a datagram on its way to the joining side, or leaves it.
    std::function<void(std::vector<uint8_t> &)> rewrite;

    bool lostAt(uint32_t t) {
        return t - (CLOCK_START + outageFrom) < outageMs ||
               std::uniform_real_distribution<>(0, 1)(random) < loss;
    }
    uint32_t travel() { return delayMs - jitterMs + random() % (2 * jitterMs + 1); }
};

class SimLink : public Link {
  public:
    SimLink(Network &network, bool toJoiner) : net_(network), toJoiner_(toJoiner) {}
    SimLink *peer = nullptr;

    void deliver(LinkEvent event, std::vector<uint8_t> data, bool reliable) {
        uint32_t due = net_.now;
        if (reliable) { // tried again until it passes, and kept in order
            while (net_.lostAt(due))
                due += RESEND_MS;
            due = std::max(due + net_.travel(), reliableDue_);
            reliableDue_ = due;
        } else {
            if (net_.lostAt(due))
                return;
            due += net_.travel();
            if (toJoiner_ && net_.rewrite)
                net_.rewrite(data);
        }
        peer->inbox_.emplace(due, std::make_pair(event, std::move(data)));
    }

    std::string hostPlace() const override { return "here"; }
    std::string hostName() const override { return "there"; }
    LinkEvent poll(uint32_t, std::vector<uint8_t> &data) override {
        if (inbox_.empty() || static_cast<int32_t>(net_.now - inbox_.begin()->first) < 0)
            return LinkEvent::None;
        const LinkEvent event = inbox_.begin()->second.first;
        data = inbox_.begin()->second.second;
        inbox_.erase(inbox_.begin());
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
    uint64_t bytesSent() const override { return 0; }
    uint64_t bytesReceived() const override { return 0; }

  private:
    Network &net_;
    bool toJoiner_;
    bool up_ = false;
    uint32_t reliableDue_ = 0;
    std::multimap<uint32_t, std::pair<LinkEvent, std::vector<uint8_t>>> inbox_;
};

struct Case {
    const char *name;
    uint32_t delayMs, jitterMs;
    double loss;
    uint32_t outageFrom, outageMs;
    int stalledSide;        // -1: none
    uint32_t leaveFrame;    // the joining player leaves in it, or NEVER
    uint32_t tamperFrame;   // the joining side's state is changed after it, or NEVER
    bool changeAnInput;     // one input to the joining side is changed on its way
    SessionEnd end;         // on both sides
    uint32_t syncLostFrame; // when the end is SyncLost and the frame is known
    // No correction reaches further back than LATE_SOUND_FRAMES: no sound is missing.
    bool shallow;
};

constexpr uint32_t STALL_FROM_MS = 8000, STALL_MS = 2000;

// One side: its link, its session, and its own copy of the match's state
// (the rules keep one match in globals: each side's is put in place for its turn).
struct Side {
    Side(Network &net, bool hosting)
        : link(net, hosting),
          session(link, hosting, rulesFingerprint(), [&net] { return net.now; }), hosting(hosting) {
    }
    SimLink link;
    OnlineSession session;
    bool hosting;
    MatchSnapshot state{};
    uint32_t played = 0;             // sounds played
    std::vector<FrameInput> settled; // the settled frames' inputs, as a recording keeps them
};

uint32_t count(FrameSounds sounds) { return static_cast<uint32_t>(std::bitset<8>(sounds).count()); }

// Each player follows the ball with their paddle, but now and then looks
// away for a while, so that points are scored; their keys change often, so
// that the other side's guesses go wrong.
uint8_t keysOf(int side, uint32_t frame, uint32_t leaveFrame) {
    constexpr uint32_t LOOK_FRAMES = 40, LOOKS_AWAY_EVERY = 4, NEAR_PIXELS = 8;
    if (side == 1 && frame == leaveFrame)
        return BUTTON_LEAVE;
    if ((frame / LOOK_FRAMES + side) % LOOKS_AWAY_EVERY == 0)
        return 0;
    const int paddle = Players[side].worldRect.y + Players[side].worldRect.h / 2;
    const int ball = TavrelBall.worldRect.y + TavrelBall.worldRect.h / 2;
    const FrameInput keys = {{side == 0 && ball < paddle - int{NEAR_PIXELS},
                              side == 1 && ball < paddle - int{NEAR_PIXELS}},
                             {side == 0 && ball > paddle + int{NEAR_PIXELS},
                              side == 1 && ball > paddle + int{NEAR_PIXELS}},
                             false,
                             false};
    return encodeFrameInput(keys);
}

TEST(Session, WholeMatchesThroughASimulatedNetwork) {
    const Case cases[] = {
        {"50 ms each way, 5 % lost", 50, 10, 0.05, 0, 0, -1, NEVER, NEVER, false,
         SessionEnd::Finished, 0, true},
        {"125 ms each way, 5 % lost", 125, 10, 0.05, 0, 0, -1, NEVER, NEVER, false,
         SessionEnd::Finished, 0, true},
        {"a 2.9 s outage mid-match", 50, 10, 0.0, 9000, 2900, -1, NEVER, NEVER, false,
         SessionEnd::Finished, 0, false},
        {"a 2.9 s outage as the match starts", 50, 0, 0.0, 40, 2900, -1, NEVER, NEVER, false,
         SessionEnd::Finished, 0, true},
        {"Hellos and Start lost for 8 s at 250 ms each way", 250, 0, 0.05, 0, 8000, -1, NEVER,
         NEVER, false, SessionEnd::Finished, 0, true},
        {"a 3.1 s outage mid-match", 50, 10, 0.0, 9000, 3100, -1, NEVER, NEVER, false,
         SessionEnd::ConnectionLost, 0, false},
        {"the host stalls for 2 s", 50, 10, 0.05, 0, 0, 0, NEVER, NEVER, false,
         SessionEnd::Finished, 0, false},
        {"the joining side stalls for 2 s", 125, 10, 0.05, 0, 0, 1, NEVER, NEVER, false,
         SessionEnd::Finished, 0, false},
        {"a state that parts after the last hash", 50, 10, 0.0, 0, 0, -1, 300, 272, false,
         SessionEnd::SyncLost, 300, true},
        {"an input changed on its way", 50, 10, 0.0, 0, 0, -1, NEVER, NEVER, true,
         SessionEnd::SyncLost, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Network net{CLOCK_START, c.delayMs, c.jitterMs, c.loss, c.outageFrom, c.outageMs, {}, {}};
        bool changed = false;
        if (c.changeAnInput) {
            net.rewrite = [&changed](std::vector<uint8_t> &data) {
                Packet packet;
                if (!changed && readPacket(data.data(), data.size(), packet) &&
                    packet.type == PacketType::Inputs && packet.inputs.senderFrames > 200 &&
                    !packet.inputs.inputs.empty()) {
                    data.back() ^= BUTTON_UP_1;
                    changed = true;
                }
            };
        }
        Side sides[2] = {{net, true}, {net, false}};
        sides[0].link.peer = &sides[1].link;
        sides[1].link.peer = &sides[0].link;
        sides[1].link.deliver(LinkEvent::Connected, {}, true);
        sides[0].link.deliver(LinkEvent::Connected, {}, true);

        uint32_t worstGapAfterStall = 0;
        while (sides[0].session.end() == SessionEnd::None ||
               sides[1].session.end() == SessionEnd::None) {
            ASSERT_LT(net.now - CLOCK_START, 400000u) << "the match never ended";
            ++net.now;
            const uint32_t ms = net.now - CLOCK_START;
            for (Side &side : sides) {
                if (side.session.end() != SessionEnd::None ||
                    (c.stalledSide == (side.hosting ? 0 : 1) && ms - STALL_FROM_MS < STALL_MS))
                    continue;
                restoreMatch(side.state);
                side.session.receive(0);
                const uint32_t frame = side.session.rollback().frames();
                side.played +=
                    count(side.session.advance(keysOf(side.hosting ? 0 : 1, frame, c.leaveFrame)));
                // The joining side's generator parts from the host's (in
                // every state it runs on from there, whatever it runs again).
                if (!side.hosting && side.session.rollback().frames() > c.tamperFrame)
                    setRandomSeed(TAMPERED_SEED);
                const Rollback &rollback = side.session.rollback();
                while (side.settled.size() < rollback.settledFrames())
                    side.settled.push_back(rollback.inputsOf(side.settled.size()));
                if (side.session.end() != SessionEnd::None)
                    side.session.close(0);
                side.state = saveMatch();
            }
            if (c.stalledSide >= 0 &&
                ms - (STALL_FROM_MS + STALL_MS + 1000) < (getenv("DBG") ? 20000u : 2000u)) {
                const int64_t gap = int64_t{sides[0].session.rollback().frames()} -
                                    sides[1].session.rollback().frames();
                worstGapAfterStall = std::max<uint32_t>(worstGapAfterStall, std::abs(gap));
                if (getenv("DBG") && ms % 50 == 0)
                    printf("%u %ld\n", ms, (long)gap);
            }
        }
        for (const Side &side : sides) {
            EXPECT_EQ(side.session.end(), c.end) << (side.hosting ? "host" : "joining side");
            if (c.syncLostFrame != 0) {
                EXPECT_EQ(side.session.syncLostFrame(), c.syncLostFrame);
            }
        }
        EXPECT_EQ(changed, c.changeAnInput);
        if (c.stalledSide >= 0) {
            EXPECT_LE(worstGapAfterStall, 2u) << "1 s after the stall, the two apart";
        }
        if (c.end != SessionEnd::Finished)
            continue;
        EXPECT_EQ(sides[0].state.players[0].getScore(), sides[1].state.players[0].getScore());
        EXPECT_EQ(sides[0].state.players[1].getScore(), sides[1].state.players[1].getScore());

        // The true match, run plainly from its settled inputs: every sound
        // of it heard, few heard that it did not make.
        startMatch(sides[0].session.matchStart());
        uint32_t sounds = 0;
        for (const FrameInput &input : sides[0].settled)
            sounds += count(runFrame(input, FRAME_PERIOD_MS));
        EXPECT_EQ(quitFlag != 0, true) << "the settled frames end the match";
        EXPECT_GT(sounds, 50u) << sides[0].settled.size() << " frames";
        for (const Side &side : sides) {
            const SessionStats &stats = side.session.stats();
            EXPECT_EQ(stats.sounds, sounds);
            if (c.shallow) {
                EXPECT_EQ(stats.soundsMissing, 0u);
            }
            EXPECT_LT(stats.soundsWrong * 100, 3 * sounds);
            // (Two of a kind in the frames of one catch-up play as one.)
            EXPECT_LE(side.played + stats.soundsMissing, sounds + stats.soundsWrong);
            EXPECT_GE(side.played + stats.soundsMissing + 2, sounds + stats.soundsWrong);
        }
    }
}

TEST(Session, BuildsWhoseRulesDifferRefuseEachOther) {
    Network net{CLOCK_START, 20, 0, 0.0, 0, 0, {}, {}};
    SimLink host(net, false), joiner(net, true);
    host.peer = &joiner;
    joiner.peer = &host;
    OnlineSession sessions[2] = {{host, true, 1, [&net] { return net.now; }},
                                 {joiner, false, 2, [&net] { return net.now; }}};
    host.deliver(LinkEvent::Connected, {}, true);
    joiner.deliver(LinkEvent::Connected, {}, true);
    for (int ms = 0; ms < 200; ++ms, ++net.now)
        for (OnlineSession &session : sessions)
            session.receive(0);
    for (const OnlineSession &session : sessions) {
        EXPECT_EQ(session.end(), SessionEnd::VersionMismatch);
        EXPECT_EQ(session.peerHello().protocol, PROTOCOL_VERSION);
        EXPECT_FALSE(session.started());
    }
}
} // namespace
