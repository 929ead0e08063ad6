// A host's watchers through a simulated network, on a fake clock: a whole
// match's settled inputs served as they settle to watchers who come at the
// start or late, and those that misbehave dropped without touching the rest.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <tuple>

#include "snapshot.h"
#include "watch_session.h"
#include "watchers.h"

namespace {
constexpr int HOST = 1000; // the host's end of the network
constexpr uint32_t NEVER = 0xffffffffu;
// What a player's settling adds to the frame's time (a round trip and more).
constexpr uint32_t SETTLE_MS = 120;

struct Net {
    uint32_t now, delayMs, lossPercent;
    uint32_t growFrom = NEVER; // from then on, watcher 0's delay grows by half the time
    std::mt19937 random{37};
    // Each end's events (with the watcher they came from), by when they arrive.
    std::map<int, std::multimap<uint32_t, std::tuple<LinkEvent, int, std::vector<uint8_t>>>>
        inbox{};

    void deliver(int to, LinkEvent event, int from, std::vector<uint8_t> data, bool lossy) {
        if (lossy && random() % 100 < lossPercent)
            return;
        const uint32_t grown = to == 0 && now > growFrom ? (now - growFrom) / 2 : 0;
        inbox[to].emplace(now + delayMs + grown, std::make_tuple(event, from, std::move(data)));
    }
};

// A side's link on the network: the host's (its watchers only: the player is
// not this test's) or a watcher's, which may say what a watcher may not.
struct SimLink : Link {
    SimLink(Net &net, int self) : net_(net), self_(self) {}
    LinkEvent poll(uint32_t, std::vector<uint8_t> &data) override {
        auto &inbox = net_.inbox[self_];
        if (inbox.empty() || inbox.begin()->first > net_.now)
            return LinkEvent::None;
        LinkEvent event;
        std::tie(event, from_, data) = inbox.begin()->second;
        inbox.erase(inbox.begin());
        return event;
    }
    int watcher() const override { return from_; }
    void sendToWatcher(int watcher, const std::vector<uint8_t> &packet) override {
        if (dropped.count(watcher) == 0)
            net_.deliver(watcher, LinkEvent::Received, 0, packet, true);
    }
    void dropWatcher(int watcher, bool away) override {
        dropped.insert(watcher);
        net_.deliver(watcher, away ? LinkEvent::Refused : LinkEvent::Disconnected, 0, {}, false);
    }
    void send(const std::vector<uint8_t> &packet, bool) override {
        net_.deliver(HOST, LinkEvent::WatcherSaid, self_, packet, true);
    }
    std::set<int> dropped;
    std::string hostPlace() const override { return ""; }
    std::string hostName() const override { return ""; }
    void disconnect(uint32_t) override {}
    bool connected() const override { return true; }
    uint32_t roundTripMs() const override { return 0; }
    uint64_t bytesSent() const override { return 0; }
    uint64_t bytesReceived() const override { return 0; }
    Net &net_;
    int self_;
    int from_ = -1;
};

// How watcher 0 misbehaves from BAD_AT_MS: says what it may not (once), sends n
// packets in a second, falls silent n ms, lags ever further; or the host settles
// nothing for n ms then all at once, or its loop stops n ms (a hidden page's).
enum class Bad { None, Inputs, Ack, CutAck, Flood, Silent, Lags, OtherRules, HostStall, HostPause };
constexpr uint32_t BAD_AT_MS = 20000;

// Both paddles follow the ball, one looking away a quarter of the time.
uint8_t botButtons(uint32_t frame) {
    const int ball = TavrelBall.worldRect.y + TavrelBall.worldRect.h / 2;
    uint8_t buttons = 0;
    for (int side = 0; side < 2; ++side) {
        const int paddle = Players[side].worldRect.y + Players[side].worldRect.h / 2;
        if ((frame / 40 + side) % 4 == 0 || std::abs(ball - paddle) < 8)
            continue;
        buttons |= ball < paddle ? (side == 0 ? BUTTON_UP_1 : BUTTON_UP_2)
                                 : (side == 0 ? BUTTON_DOWN_1 : BUTTON_DOWN_2);
    }
    return buttons;
}

TEST(Watching, WatchersOfAWholeMatch) {
    using E = SessionEnd;
    struct Case {
        const char *name;
        uint32_t delayMs, lossPercent, watchers, comesAtMs;
        Bad bad;
        uint32_t n; // the rows' figure
        E end;      // of watcher 0 (dropped, with a line, unless Finished)
    } const cases[] = {
        {"from the start", 50, 0, 1, 0, Bad::None, 0, E::Finished},
        {"5 % lost, 125 ms", 125, 5, 1, 0, Bad::None, 0, E::Finished},
        {"comes 30 s in", 50, 5, 1, 30000, Bad::None, 0, E::Finished},
        {"eight watchers", 50, 0, 8, 0, Bad::None, 0, E::Finished},
        {"nine: one turned away", 50, 0, 9, 0, Bad::None, 0, E::Finished},
        {"sends inputs", 50, 0, 2, 0, Bad::Inputs, 0, E::ConnectionLost},
        {"acknowledges all it was sent", 0, 0, 2, 0, Bad::Ack, 0, E::Finished},
        {"acknowledges one more", 0, 0, 2, 0, Bad::Ack, 1, E::ConnectionLost},
        {"an acknowledgement cut short", 50, 0, 2, 0, Bad::CutAck, 0, E::ConnectionLost},
        {"100 packets in a second", 50, 0, 2, 0, Bad::Flood, 100, E::Finished},
        {"101 packets in a second", 50, 0, 2, 0, Bad::Flood, 101, E::ConnectionLost},
        {"silent 4 s", 50, 0, 2, 0, Bad::Silent, 4000, E::Finished},
        {"silent 6 s", 50, 0, 2, 0, Bad::Silent, 6000, E::ConnectionLost},
        {"ever further behind", 50, 0, 2, 0, Bad::Lags, 0, E::ConnectionLost},
        {"the host settles 6 s at once", 50, 0, 1, 0, Bad::HostStall, 6000, E::Finished},
        {"the host's loop stops 4 s", 50, 0, 1, 0, Bad::HostPause, 4000, E::Finished},
        // (The host hears nothing from it, and drops it.)
        {"other rules", 50, 0, 1, 0, Bad::OtherRules, 0, E::VersionMismatch},
    };
    // The match itself, as its players settle it.
    const MatchStart start{20261210, ONLINE_PLAYERS, 0};
    startMatch(start);
    std::vector<uint8_t> match;
    while (quitFlag == 0) {
        match.push_back(botButtons(static_cast<uint32_t>(match.size())));
        runFrame(decodeFrameInput(match.back()), FRAME_PERIOD_MS);
    }
    const uint64_t ended = matchHash(); // scores and all
    const auto matchMs = static_cast<uint32_t>(match.size() * FRAME_PERIOD_MS);
    ASSERT_GT(matchMs, 40000u);

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Net net{0, c.delayMs, c.lossPercent, c.bad == Bad::Lags ? BAD_AT_MS : NEVER};
        SimLink hostLink(net, HOST);
        WatcherService service(hostLink);
        service.begin(start, rulesFingerprint());
        std::vector<std::unique_ptr<SimLink>> links;
        std::vector<std::unique_ptr<WatchSession>> watchers;
        std::vector<MatchSnapshot> states(c.watchers);
        std::vector<uint32_t> caughtUpMs(c.watchers, NEVER), worstBehind(c.watchers);
        testing::internal::CaptureStderr();
        // spins: passes told not to wait that ran no frame (a page's loop that
        // never waits never hands the browser the packets it waits for).
        uint32_t settled = 0, settledWhenCame = 0, spins = 0;
        for (; net.now < matchMs + 20000; ++net.now) {
            const bool stalled =
                (c.bad == Bad::HostStall || c.bad == Bad::HostPause) && net.now - BAD_AT_MS < c.n;
            const bool paused = stalled && c.bad == Bad::HostPause;
            for (; !stalled && settled < match.size() &&
                   settled * FRAME_PERIOD_MS + SETTLE_MS <= net.now;
                 ++settled)
                service.settle(match[settled], settled + 1 == match.size());
            if (net.now == c.comesAtMs) {
                settledWhenCame = settled;
                for (uint32_t w = 0; w < c.watchers; ++w) {
                    links.push_back(std::make_unique<SimLink>(net, w));
                    watchers.push_back(std::make_unique<WatchSession>(
                        *links.back(), rulesFingerprint() + (c.bad == Bad::OtherRules && w == 0),
                        [&net] { return net.now; }));
                    if (w % 2 == 0) // (the others heard it as players, then watched)
                        net.deliver(w, LinkEvent::Watching, 0, {}, false);
                    net.deliver(HOST, LinkEvent::WatcherCame, w, {}, false);
                }
            }
            std::vector<uint8_t> data;
            for (LinkEvent event; !paused && (event = hostLink.poll(0, data)) != LinkEvent::None;)
                service.take(event, hostLink.watcher(), data, net.now);
            if (!paused)
                service.serve(net.now);
            const uint32_t badMs = net.now - BAD_AT_MS;
            if (badMs == 0) { // watcher 0, come at the start, misbehaves
                if (c.bad == Bad::Inputs)
                    links[0]->send(writePacket(InputsPacket{}), false);
                if (c.bad == Bad::Ack) // all settled frames were sent by now
                    links[0]->send(writeWatchAck(settled + c.n), false);
                if (c.bad == Bad::CutAck)
                    links[0]->send({static_cast<uint8_t>(PacketType::WatchAck), 0, 0, 0}, false);
                for (uint32_t i = 0; c.bad == Bad::Flood && i < c.n; ++i)
                    links[0]->send(writeWatchAck(0), false);
            }
            for (uint32_t w = 0; w < watchers.size(); ++w) {
                WatchSession &watcher = *watchers[w];
                // (A flood comes alone in its second: the watcher is quiet around it.)
                if (w == 0 && (c.bad == Bad::Silent ? badMs < c.n
                                                    : c.bad == Bad::Flood && badMs + 1500 < 2500))
                    continue;
                restoreMatch(states[w]);
                const bool noWait = watcher.waitMs() == 0;
                watcher.receive(0);
                watcher.advance();
                spins +=
                    noWait && !watcher.ranFrames() && watcher.state() != WatchSession::State::Ended;
                states[w] = saveMatch();
                const uint32_t behind = settled - watcher.frames();
                if (caughtUpMs[w] == NEVER && watcher.frames() > 0 && behind < 10)
                    caughtUpMs[w] = net.now;
                if (caughtUpMs[w] != NEVER && watcher.state() != WatchSession::State::Ended)
                    worstBehind[w] = std::max(worstBehind[w], behind);
            }
        }
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(hostLink.dropped.count(0) == 1 &&
                      said.find("dropped a watcher") != std::string::npos,
                  c.end != E::Finished)
            << said;
        EXPECT_EQ(spins, 0u);
        for (uint32_t w = 0; w < c.watchers; ++w) {
            SCOPED_TRACE(w);
            // (A match takes eight watchers.)
            EXPECT_EQ(watchers[w]->end(), w >= 8 ? E::Refused : w == 0 ? c.end : E::Finished);
            if (watchers[w]->end() != E::Finished)
                continue;
            restoreMatch(states[w]);
            EXPECT_EQ(matchHash(), ended);
            // Caught up at least four times faster than the match ran (its figures
            // too: all settled when it came, but for 9 frames), then a fixed delay.
            EXPECT_LT((caughtUpMs[w] - c.comesAtMs) * 4, c.comesAtMs + 4000);
            EXPECT_LT(watchers[w]->caughtUpMs() * 4, c.comesAtMs + 4000);
            EXPECT_GE(watchers[w]->caughtUpFrames() + 9, settledWhenCame);
            if (w == 0 && c.bad != Bad::None)
                continue; // (it was behind while it misbehaved)
            EXPECT_LE(worstBehind[w] * FRAME_PERIOD_MS,
                      10 * FRAME_PERIOD_MS + 2 * c.delayMs + (c.lossPercent > 0 ? 600 : 0));
        }
    }
}
} // namespace
