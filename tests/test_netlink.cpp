// The ENet link's own limits, on 127.0.0.1 in real time: a candidate that
// never speaks is dropped at 2 s while a player beside it gets in, a joining
// side whose host never answers connects anew at 4 s, and the connect's
// tries stay half a second apart. Each bound allows for the machine's scheduling
// and no more: a limit moved by a tenth fails it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "enet_link.h"

namespace {
constexpr uint32_t ATTEMPT_DROPPED = 3; // the data of the host's drop
constexpr uint32_t RETRY_MS = 500;      // the link's promise: a connect unanswered is tried again
// The first byte of an ENet datagram whose header carries its sending time.
constexpr uint8_t SENT_TIME_FLAG = 0x80;

uint32_t msSince(std::chrono::steady_clock::time_point from) {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - from)
                                     .count());
}

// A bare ENet host, standing for a peer that is not the game: one that
// connects (listening: false) or one on 127.0.0.1 that listens.
ENetHost *bareHost(bool listening) {
    enet_initialize();
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = 0;
    return enet_host_create(listening ? &address : nullptr, 4, 2, 0, 0);
}

uint16_t portOf(ENetHost *host) {
    ENetAddress address{};
    enet_socket_get_address(host->socket, &address);
    return address.port;
}

TEST(NetLink, ASilentCandidateIsDroppedAtTwoSecondsWhileAPlayerBesideItGetsIn) {
    NetLink host;
    ASSERT_TRUE(host.listen(0).ok());
    ENetHost *squatter = bareHost(false);
    ENetAddress to{};
    enet_address_set_host(&to, "127.0.0.1");
    to.port = host.port();
    ASSERT_NE(enet_host_connect(squatter, &to, 2, 0), nullptr);

    NetLink player;
    std::vector<uint8_t> data;
    const std::vector<uint8_t> hello{1, 2, 3};
    auto connectedAt = std::chrono::steady_clock::now();
    bool squatterIn = false, playerStarted = false, playerTaken = false;
    uint32_t droppedMs = 0, dropData = 0;
    const auto began = std::chrono::steady_clock::now();
    while (droppedMs == 0 && msSince(began) < 4000) {
        const LinkEvent event = host.poll(1, data);
        playerTaken = playerTaken || (event == LinkEvent::Received && data == hello);
        ENetEvent bare;
        while (enet_host_service(squatter, &bare, 0) > 0) {
            if (bare.type == ENET_EVENT_TYPE_CONNECT) {
                squatterIn = true;
                connectedAt = std::chrono::steady_clock::now();
            } else if (bare.type == ENET_EVENT_TYPE_DISCONNECT) {
                droppedMs = msSince(connectedAt);
                dropData = bare.data;
            }
        }
        if (squatterIn && !playerStarted && msSince(connectedAt) > 1000)
            playerStarted = player.connect("127.0.0.1", host.port(), false).ok();
        if (playerStarted && player.poll(0, data) == LinkEvent::Connected)
            player.send(hello, false);
    }
    enet_host_destroy(squatter);
    EXPECT_TRUE(playerTaken);
    EXPECT_EQ(dropData, ATTEMPT_DROPPED);
    EXPECT_GE(droppedMs, 1950u);
    EXPECT_LE(droppedMs, 2150u);
}

TEST(NetLink, AJoiningSideItsHostNeverAnswersConnectsAnewAtFourSeconds) {
    ENetHost *silentHost = bareHost(true);
    NetLink joiner;
    ASSERT_TRUE(joiner.connect("127.0.0.1", portOf(silentHost), false).ok());
    std::vector<uint32_t> connects;
    std::vector<uint8_t> data;
    const auto began = std::chrono::steady_clock::now();
    while (connects.size() < 2 && msSince(began) < 6000) {
        joiner.poll(1, data);
        ENetEvent bare;
        while (enet_host_service(silentHost, &bare, 0) > 0)
            if (bare.type == ENET_EVENT_TYPE_CONNECT)
                connects.push_back(msSince(began));
    }
    enet_host_destroy(silentHost);
    ASSERT_EQ(connects.size(), 2u);
    EXPECT_GE(connects[1], 3950u);
    EXPECT_LE(connects[1], 4150u);
}

TEST(NetLink, TheConnectIsTriedAgainEveryHalfSecond) {
    const int silent = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr *>(&address), length), 0);
    getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length);

    NetLink joiner;
    ASSERT_TRUE(joiner.connect("127.0.0.1", ntohs(address.sin_port), false).ok());
    // Each try's time by the link's own clock (the ENet header's), and the
    // longest the link went unpolled before it: a try that came late only
    // because the machine ran the test late is not the link's fault.
    std::vector<uint16_t> sentMs;
    std::vector<uint32_t> unpolledMs;
    std::vector<uint8_t> data;
    const auto began = std::chrono::steady_clock::now();
    uint32_t polledMs = 0, longestUnpolledMs = 0;
    while (msSince(began) < 2700) {
        joiner.poll(1, data);
        const uint32_t nowMs = msSince(began);
        longestUnpolledMs = std::max(longestUnpolledMs, nowMs - polledMs);
        polledMs = nowMs;
        uint8_t datagram[1500];
        for (ssize_t size; (size = recv(silent, datagram, sizeof datagram, 0)) > 0;) {
            ASSERT_GE(size, 4);
            ASSERT_NE(datagram[0] & SENT_TIME_FLAG, 0);
            sentMs.push_back(static_cast<uint16_t>(datagram[2] << 8 | datagram[3]));
            unpolledMs.push_back(longestUnpolledMs);
            longestUnpolledMs = 0;
        }
    }
    close(silent);
    // ENet alone waits twice as long for each try: 500, 1000, 2000 ms.
    ASSERT_GE(sentMs.size(), 5u);
    for (size_t i = 1; i < sentMs.size(); ++i) {
        SCOPED_TRACE(i);
        const uint32_t gapMs = static_cast<uint16_t>(sentMs[i] - sentMs[i - 1]);
        EXPECT_GE(gapMs, RETRY_MS);
        EXPECT_LE(gapMs, RETRY_MS + unpolledMs[i]);
    }
}

// A host's watchers over ENet: kept past the candidates' 2 s, sent to, heard
// apart from the player, and told that they were turned away or dropped.
TEST(NetLink, WatchersAreKeptHeardApartAndTurnedAwayOrDropped) {
    NetLink host, watchers[3]; // to be kept, turned away, dropped
    ASSERT_TRUE(host.listen(0).ok());
    for (NetLink &watcher : watchers)
        ASSERT_TRUE(watcher.connect("127.0.0.1", host.port(), true).ok());
    std::vector<int> came;
    std::vector<uint8_t> data, heard;
    LinkEvent lastHeard[3] = {};
    const auto began = std::chrono::steady_clock::now();
    while (msSince(began) < 3000) { // past the candidates' limit
        for (LinkEvent event = host.poll(1, data); event != LinkEvent::None;
             event = host.poll(0, data)) {
            if (event == LinkEvent::WatcherSaid)
                heard = data;
            if (event == LinkEvent::WatcherCame)
                came.push_back(host.watcher());
            if (event == LinkEvent::WatcherCame && came.size() == 3) {
                host.sendToWatcher(came[0], {9, 8, 7});
                host.dropWatcher(came[1], true);
                host.dropWatcher(came[2], false);
            }
        }
        for (int w = 0; w < 3; ++w) {
            const LinkEvent event = watchers[w].poll(0, data);
            if (event == LinkEvent::Watching && w == 0)
                watchers[0].send({7, 1, 0, 0, 0}, false);
            if (event != LinkEvent::None)
                lastHeard[w] = event;
        }
    }
    ASSERT_EQ(came.size(), 3u);
    EXPECT_EQ(lastHeard[0], LinkEvent::Received);
    EXPECT_EQ(data, std::vector<uint8_t>({9, 8, 7})); // (the kept watcher's, read last)
    EXPECT_EQ(heard, std::vector<uint8_t>({7, 1, 0, 0, 0}));
    EXPECT_EQ(lastHeard[1], LinkEvent::Refused);
    EXPECT_EQ(lastHeard[2], LinkEvent::Lost);
    EXPECT_TRUE(watchers[0].connected()); // not dropped as a silent candidate
}
} // namespace
