// The network's packets read back as written and are refused when anything
// is off. (The link, a third player turned away included, is tried end to end
// in tests/e2e/test_game.py's Online.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "packets.h"
#include "version.h"

namespace {
bool reads(const std::vector<uint8_t> &data, Packet &packet) {
    return readPacket(data.data(), data.size(), packet);
}

// The packet's bytes with one change made to them.
template <typename Change> std::vector<uint8_t> edited(std::vector<uint8_t> bytes, Change change) {
    change(bytes);
    return bytes;
}

TEST(Packets, ReadBackAsWritten) {
    Packet p;
    ASSERT_TRUE(reads(writePacket(HelloPacket{7, "1.2.3"}), p));
    EXPECT_EQ(std::tie(p.hello.protocol, p.hello.gameVersion), std::make_tuple(7, "1.2.3"));
    ASSERT_TRUE(reads(writePacket(StartPacket{{-123456789, ONLINE_PLAYERS, 3}}), p));
    EXPECT_EQ(std::tie(p.start.start.seed, p.start.start.players, p.start.start.ballType),
              std::make_tuple(-123456789, 2, 3));
    // The most inputs a packet holds, the last of them in the sender's last frame.
    const std::vector<uint8_t> inputs(MAX_INPUTS_PER_PACKET, ALL_FRAME_BUTTONS);
    ASSERT_TRUE(reads(writePacket(InputsPacket{100000, 99990, 100000 - 64, inputs}), p));
    EXPECT_EQ(std::make_tuple(p.inputs.senderFrames, p.inputs.receivedFrames, p.inputs.firstFrame),
              std::make_tuple(100000u, 99990u, 100000u - 64));
    EXPECT_EQ(p.inputs.inputs, inputs);
    ASSERT_TRUE(reads(writePacket(HashPacket{FRAME_LIMIT - 1, 0xfedcba9876543210ull}), p));
    EXPECT_EQ(std::tie(p.hash.frame, p.hash.hash),
              std::make_tuple(FRAME_LIMIT - 1, 0xfedcba9876543210ull));
}

TEST(Packets, AnythingOffIsRefused) {
    const std::vector<uint8_t> hello = writePacket(HelloPacket{1, "1.0.0"});
    const std::vector<uint8_t> oneInput = writePacket(InputsPacket{10, 0, 9, {BUTTON_UP_1}});
    const auto byteMore = [](std::vector<uint8_t> &b) { b.push_back(0); };
    const auto byteLess = [](std::vector<uint8_t> &b) { b.pop_back(); };
    const struct {
        const char *name;
        std::vector<uint8_t> data;
    } cases[] = {
        {"nothing", {}},
        {"an unknown type", {9, 0, 0, 0, 0}},
        {"a Hello with a byte more", edited(hello, byteMore)},
        {"a Hello with a byte less", edited(hello, byteLess)},
        {"a Hello of another program", edited(hello, [](auto &b) { b[2] = 'X'; })},
        {"a version with a control character", edited(hello, [](auto &b) { b.back() = '\n'; })},
        {"an empty version", writePacket(HelloPacket{1, ""})},
        {"a version too long",
         writePacket(HelloPacket{1, std::string(MAX_GAME_VERSION_LENGTH + 1, 'v')})},
        {"a ball that does not exist", writePacket(StartPacket{{1, ONLINE_PLAYERS, BALL_TYPES}})},
        {"a match for one player", writePacket(StartPacket{{1, 1, 0}})},
        {"a Start cut short", {2, 1, 2, 3, 4}},
        {"inputs with a byte more", edited(oneInput, byteMore)},
        {"inputs with a byte less", edited(oneInput, byteLess)},
        {"an input with unknown bits",
         edited(oneInput, [](auto &b) { b.back() = ALL_FRAME_BUTTONS + 1; })},
        {"more inputs than a packet holds",
         writePacket(InputsPacket{1000, 0, 0, std::vector<uint8_t>(MAX_INPUTS_PER_PACKET + 1, 0)})},
        {"inputs later than the sender's frames", writePacket(InputsPacket{10, 0, 10, {0}})},
        {"a first frame after the sender's frames", writePacket(InputsPacket{10, 0, 11, {}})},
        {"sender frames past the limit", writePacket(InputsPacket{FRAME_LIMIT, 0, 0, {0}})},
        {"received frames past the limit", writePacket(InputsPacket{5, FRAME_LIMIT, 0, {0}})},
        {"a hash past the frame limit", writePacket(HashPacket{FRAME_LIMIT, 1})},
        {"a hash with a byte more", edited(writePacket(HashPacket{1, 1}), byteMore)},
    };
    for (const auto &c : cases) {
        Packet packet;
        EXPECT_FALSE(reads(c.data, packet)) << c.name;
    }
}

} // namespace
