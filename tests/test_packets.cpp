// The network's packets read back as written and are refused when anything
// is off. (The link, a third player turned away included, is tried end to end
// in tests/e2e/test_online.py.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "packets.h"
#include "version.h"

namespace {
bool reads(const std::vector<uint8_t> &data, Packet &packet) {
    const Result<Packet> read = readPacket(data.data(), data.size());
    packet = read.value;
    return read.ok();
}

// The packet's bytes with one change made to them.
template <typename Change> std::vector<uint8_t> edited(std::vector<uint8_t> bytes, Change change) {
    change(bytes);
    return bytes;
}

TEST(Packets, ReadBackAsWritten) {
    Packet p;
    ASSERT_TRUE(reads(writePacket(HelloPacket{7, "1.2.3", 0x0123456789abcdefull, 0xfffffffeu}), p));
    EXPECT_EQ(std::tie(p.hello.protocol, p.hello.gameVersion, p.hello.rules, p.hello.sentMs),
              std::make_tuple(7, "1.2.3", 0x0123456789abcdefull, 0xfffffffeu));
    ASSERT_TRUE(reads(writePacket(HelloPacket{3, "1.2", 5}), p)); // before clocks
    EXPECT_EQ(std::tie(p.hello.protocol, p.hello.gameVersion, p.hello.rules),
              std::make_tuple(3, "1.2", 5u));
    ASSERT_TRUE(reads(writePacket(HelloPacket{2, "0.9"}), p)); // before fingerprints
    EXPECT_EQ(std::tie(p.hello.protocol, p.hello.gameVersion), std::make_tuple(2, "0.9"));
    ASSERT_TRUE(
        reads(writePacket(StartPacket{{-123456789, ONLINE_PLAYERS, 3}, 0xfedcba98u, 7}), p));
    EXPECT_EQ(std::tie(p.start.start.seed, p.start.start.players, p.start.start.ballType,
                       p.start.sinceStartMs, p.start.echoMs),
              std::make_tuple(-123456789, 2, 3, 0xfedcba98u, 7u));
    // The most inputs a packet holds, the last of them in the sender's last frame.
    const std::vector<uint8_t> inputs(MAX_INPUTS_PER_PACKET, ALL_FRAME_BUTTONS);
    // The hash of the newest frame checked, a lost sync in the sender's last frame.
    ASSERT_TRUE(reads(
        writePacket(InputsPacket{100000, 99990, 100000 - 64, inputs, 99990, 0x89abcdefu, 99990,
                                 0xfedcba9876543210ull, Verdict::SyncLost, 99999, true}),
        p));
    const InputsPacket &in = p.inputs;
    EXPECT_EQ(std::make_tuple(in.senderFrames, in.receivedFrames, in.firstFrame, in.checkedFrames,
                              in.inputsCheck, in.hashedFrames, in.stateHash, in.verdict,
                              in.syncLostFrame, in.ended),
              std::make_tuple(100000u, 99990u, 100000u - 64, 99990u, 0x89abcdefu, 99990u,
                              0xfedcba9876543210ull, Verdict::SyncLost, 99999u, true));
    EXPECT_EQ(in.inputs, inputs);
    // A watcher's: the start, the most inputs ending the match, its acknowledgement.
    ASSERT_TRUE(
        reads(writePacket(WatchStartPacket{{PROTOCOL_VERSION, "1.2", 9, 4}, {-5, 2, 1}}), p));
    EXPECT_EQ(std::tie(p.watchStart.hello.gameVersion, p.watchStart.hello.rules,
                       p.watchStart.start.seed, p.watchStart.start.ballType),
              std::make_tuple("1.2", 9u, -5, 1));
    const std::vector<uint8_t> watched(MAX_WATCH_INPUTS_PER_PACKET, ALL_FRAME_BUTTONS);
    ASSERT_TRUE(reads(writePacket(WatchInputsPacket{40, 40 + 960, true, watched}), p));
    EXPECT_EQ(std::tie(p.watchInputs.firstFrame, p.watchInputs.liveFrames, p.watchInputs.last),
              std::make_tuple(40u, 1000u, true));
    EXPECT_EQ(p.watchInputs.inputs, watched);
    ASSERT_TRUE(reads(writeWatchAck(FRAME_LIMIT - 1), p));
    EXPECT_EQ(p.watchAck, FRAME_LIMIT - 1);
    // Another protocol's start: its Hello, whatever follows (a mismatch to say).
    ASSERT_TRUE(reads(edited(writePacket(WatchStartPacket{{PROTOCOL_VERSION + 1, "9"}, {1, 2, 0}}),
                             [](auto &b) { b.resize(b.size() + 3); }),
                      p));
    EXPECT_EQ(p.watchStart.hello.gameVersion, "9");
}

TEST(Packets, AnythingOffIsRefused) {
    const std::vector<uint8_t> hello = writePacket(HelloPacket{PROTOCOL_VERSION, "1.0.0", 1});
    const std::vector<uint8_t> oneInput = writePacket(InputsPacket{10, 0, 9, {BUTTON_UP_1}});
    const auto byteMore = [](std::vector<uint8_t> &b) { b.push_back(0); };
    const auto byteLess = [](std::vector<uint8_t> &b) { b.pop_back(); };
    const auto with = [](std::vector<uint8_t> b, size_t at, uint8_t value) {
        b.at(at) = value;
        return b;
    };
    const size_t verdictAt = oneInput.size() - 7, lastAt = oneInput.size() - 1;
    const auto helloOf = [](const HelloPacket &p) { return writePacket(p); };
    const auto inputs = [](const InputsPacket &p) { return writePacket(p); };
    const auto watched = [](const WatchInputsPacket &p) { return writePacket(p); };
    const auto watchStart = [](uint8_t players) {
        return writePacket(WatchStartPacket{{PROTOCOL_VERSION, "1"}, {1, players, 0}});
    };
    const struct {
        const char *name;
        std::vector<uint8_t> data;
        const char *why; // in the reason given
    } cases[] = {
        {"nothing", {}, "empty"},
        {"an unknown type", {9, 0, 0, 0, 0}, "unknown type 9"},
        {"a Hello with a byte more", edited(hello, byteMore), "size"},
        {"a Hello with a byte less", edited(hello, byteLess), "size"},
        {"a Hello of another program", with(hello, 2, 'X'), "another program"},
        {"a version with a control character", with(hello, 9, '\n'), "game version"},
        {"a Hello of protocol 2 with a fingerprint", edited(helloOf({2, "1"}), byteMore), "size"},
        {"a Hello of protocol 3 with a clock",
         edited(helloOf({3, "1"}), [](auto &b) { b.resize(b.size() + 4); }), "size"},
        {"an empty version", helloOf({1, ""}), "game version"},
        {"a version too long", helloOf({1, std::string(MAX_GAME_VERSION_LENGTH + 1, 'v')}),
         "game version"},
        {"a ball that does not exist", writePacket(StartPacket{{1, ONLINE_PLAYERS, BALL_TYPES}}),
         "ball"},
        {"a match for one player", writePacket(StartPacket{{1, 1, 0}}), "two players"},
        {"a Start cut short", edited(writePacket(StartPacket{{1, ONLINE_PLAYERS, 0}}), byteLess),
         "size"},
        {"inputs with a byte more", edited(oneInput, byteMore), "count"},
        {"inputs with a byte less", edited(oneInput, byteLess), "count"},
        {"an input with unknown bits", with(oneInput, lastAt, ALL_FRAME_BUTTONS + 1), "buttons"},
        {"more inputs than a packet holds",
         inputs({1000, 0, 0, std::vector<uint8_t>(MAX_INPUTS_PER_PACKET + 1, 0)}), "count"},
        {"inputs later than the sender's frames", inputs({10, 0, 10, {0}}), "frames"},
        {"a first frame after the sender's frames", inputs({10, 0, 11, {}}), "frames"},
        {"sender frames past the limit", inputs({FRAME_LIMIT, 0, 0, {0}}), "frames"},
        {"received frames past the limit", inputs({5, FRAME_LIMIT, 0, {0}}), "frames"},
        {"a check of frames not run", inputs({10, 11, 9, {0}, 11}), "checks"},
        {"a check of frames not received", inputs({10, 5, 9, {0}, 6}), "checks"},
        {"a hash of frames not checked", inputs({10, 10, 9, {0}, 5, 0, 6, 7}), "hash"},
        {"a hash of no frame", inputs({10, 0, 9, {0}, 0, 0, 0, 7}), "hash"},
        {"an unknown verdict", with(oneInput, verdictAt, 3), "verdict"},
        {"an unknown bit beside the verdict", with(oneInput, verdictAt, 0x09), "verdict"},
        {"an end without a verdict", with(oneInput, verdictAt, 0x04), "verdict"},
        {"a lost sync in a frame not run",
         inputs({10, 0, 9, {0}, 0, 0, 0, 0, Verdict::SyncLost, 10}), "verdict"},
        {"a watcher's start with a byte more", edited(watchStart(2), byteMore), "size"},
        {"a watcher's start for one player", watchStart(1), "two players"},
        {"watched inputs with a byte more", edited(watched({0, 1, false, {0}}), byteMore), "count"},
        {"more watched inputs than a packet holds",
         watched({0, 2000, false, std::vector<uint8_t>(MAX_WATCH_INPUTS_PER_PACKET + 1)}), "count"},
        {"watched inputs past the live frames", watched({5, 6, false, {0, 0}}), "frames"},
        {"watched inputs ending before the live frames", watched({5, 8, true, {0, 0}}), "frames"},
        {"a watched input with unknown bits", watched({0, 1, false, {0x20}}), "buttons"},
        {"an unknown flag beside the end", with(watched({0, 1, true, {0}}), 9, 3), "frames"},
        {"an acknowledgement cut short", edited(writeWatchAck(1), byteLess), "size"},
        {"an acknowledgement past the limit", writeWatchAck(FRAME_LIMIT), "limit"},
        {"a frame without a lost sync", inputs({10, 0, 9, {0}, 0, 0, 0, 0, Verdict::Agreed, 1}),
         "verdict"},
    };
    for (const auto &c : cases) {
        const Result<Packet> read = readPacket(c.data.data(), c.data.size());
        EXPECT_FALSE(read.ok()) << c.name;
        EXPECT_NE(read.error.find(c.why), std::string::npos) << c.name << ": " << read.error;
    }
}

} // namespace
