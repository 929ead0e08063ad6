// The network's packets read back as written and refused when anything is
// off; the link on 127.0.0.1 takes one player and turns a second one away.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <string>
#include <vector>

#include "network.h"

namespace {
std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

bool reads(const std::vector<uint8_t> &data, Packet &packet) {
    return readPacket(data.data(), data.size(), packet);
}

TEST(Packets, ReadBackAsWritten) {
    Packet packet;
    ASSERT_TRUE(reads(writePacket(HelloPacket{7, "1.2.3"}), packet));
    EXPECT_EQ(packet.type, PacketType::Hello);
    EXPECT_EQ(packet.hello.protocol, 7);
    EXPECT_EQ(packet.hello.gameVersion, "1.2.3");

    ASSERT_TRUE(reads(writePacket(StartPacket{-123456789, 3}), packet));
    EXPECT_EQ(packet.type, PacketType::Start);
    EXPECT_EQ(packet.start.seed, -123456789);
    EXPECT_EQ(packet.start.ballType, 3);

    const std::vector<uint8_t> inputs(MAX_INPUTS_PER_PACKET, INPUT_ALL_BITS);
    ASSERT_TRUE(reads(writePacket(InputsPacket{100000, 99990, 100000 - 64, inputs}), packet));
    EXPECT_EQ(packet.type, PacketType::Inputs);
    EXPECT_EQ(packet.inputs.senderFrames, 100000u);
    EXPECT_EQ(packet.inputs.receivedFrames, 99990u);
    EXPECT_EQ(packet.inputs.firstFrame, 100000u - 64);
    EXPECT_EQ(packet.inputs.inputs, inputs);

    ASSERT_TRUE(reads(writePacket(HashPacket{FRAME_LIMIT - 1, 0xfedcba9876543210ull}), packet));
    EXPECT_EQ(packet.type, PacketType::Hash);
    EXPECT_EQ(packet.hash.frame, FRAME_LIMIT - 1);
    EXPECT_EQ(packet.hash.hash, 0xfedcba9876543210ull);
}

TEST(Packets, AnythingOffIsRefused) {
    const std::vector<uint8_t> hello = writePacket(HelloPacket{1, "1.0.0"});
    std::vector<uint8_t> longer = hello, shorter = hello, badMagic = hello, badChar = hello;
    longer.push_back('x');
    shorter.pop_back();
    badMagic[2] = 'X';
    badChar.back() = '\n';
    const std::vector<uint8_t> oneInput = writePacket(InputsPacket{10, 0, 9, {INPUT_UP}});
    std::vector<uint8_t> countTooHigh = oneInput, badBits = oneInput, cut = oneInput;
    countTooHigh[13] = 2;
    badBits.back() = INPUT_ALL_BITS + 1;
    cut.pop_back();
    struct Case {
        const char *name;
        std::vector<uint8_t> data;
    } cases[] = {
        {"nothing", {}},
        {"an unknown type", bytes({9, 0, 0, 0, 0})},
        {"a Hello with a byte more", longer},
        {"a Hello with a byte less", shorter},
        {"a Hello of another program", badMagic},
        {"a version with a control character", badChar},
        {"an empty version", writePacket(HelloPacket{1, ""})},
        {"a version too long",
         writePacket(HelloPacket{1, std::string(MAX_VERSION_LENGTH + 1, 'v')})},
        {"a ball that does not exist", writePacket(StartPacket{1, BALL_TYPES})},
        {"a Start cut short", bytes({2, 1, 2, 3, 4})},
        {"more inputs than bytes", countTooHigh},
        {"inputs cut short", cut},
        {"an input with unknown bits", badBits},
        {"more inputs than a packet holds",
         writePacket(InputsPacket{1000, 0, 0, std::vector<uint8_t>(MAX_INPUTS_PER_PACKET + 1, 0)})},
        {"inputs later than the sender's frames", writePacket(InputsPacket{10, 0, 10, {0}})},
        {"a first frame after the sender's frames", writePacket(InputsPacket{10, 0, 11, {}})},
        {"sender frames past the limit", writePacket(InputsPacket{FRAME_LIMIT, 0, 0, {0}})},
        {"received frames past the limit", writePacket(InputsPacket{5, FRAME_LIMIT, 0, {0}})},
        {"a hash past the frame limit", writePacket(HashPacket{FRAME_LIMIT, 1})},
        {"a hash with a byte more",
         [] {
             std::vector<uint8_t> v = writePacket(HashPacket{1, 1});
             v.push_back(0);
             return v;
         }()},
    };
    for (const Case &c : cases) {
        Packet packet;
        EXPECT_FALSE(reads(c.data, packet)) << c.name;
    }
}

// Polls every link in turn until each has reported the event wanted of it,
// or the time is up. True when all have.
bool pollUntil(const std::vector<NetLink *> &links, const std::vector<LinkEvent> &wanted,
               Uint32 timeoutMs) {
    std::vector<bool> seen(links.size(), false);
    std::vector<uint8_t> data;
    const Uint32 start = SDL_GetTicks();
    while (SDL_GetTicks() - start < timeoutMs) {
        for (size_t i = 0; i < links.size(); ++i)
            if (links[i]->poll(1, data) == wanted[i])
                seen[i] = true;
        if (std::find(seen.begin(), seen.end(), false) == seen.end())
            return true;
    }
    return false;
}

TEST(Link, TheHostTakesOnePlayerAndTurnsTheNextAway) {
    NetLink host, player, intruder;
    std::string error;
    ASSERT_TRUE(host.listen(0, error)) << error;
    ASSERT_NE(host.port(), 0);
    ASSERT_TRUE(player.connect("127.0.0.1", host.port(), error)) << error;
    ASSERT_TRUE(pollUntil({&host, &player}, {LinkEvent::Connected, LinkEvent::Connected}, 3000));

    ASSERT_TRUE(intruder.connect("127.0.0.1", host.port(), error)) << error;
    EXPECT_TRUE(pollUntil({&intruder, &host}, {LinkEvent::Refused, LinkEvent::None}, 3000));
    EXPECT_EQ(host.refusedPeers(), 1);

    // The player's packets still arrive, and only theirs.
    const std::vector<uint8_t> packet = writePacket(HashPacket{44, 1234});
    player.send(packet, true);
    intruder.send(writePacket(HashPacket{44, 999}), true);
    std::vector<uint8_t> data, ignored;
    LinkEvent event = LinkEvent::None;
    for (int i = 0; i < 300 && event != LinkEvent::Received; ++i) {
        event = host.poll(1, data);
        player.poll(0, ignored);
    }
    ASSERT_EQ(event, LinkEvent::Received);
    EXPECT_EQ(data, packet);
    EXPECT_TRUE(host.connected());
}
} // namespace
