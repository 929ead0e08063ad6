// The rooms' messages: the ones the page recorded (tests/signal/messages.json,
// written with WebCrypto) read as recorded and written byte for byte, each
// refused one refused for the reason recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "signalling.h"

namespace {
std::vector<uint8_t> bytes(const std::string &hexText) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hexText.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hexText.substr(i, 2), nullptr, 16)));
    return out;
}

// The message's fields as a JSON object (its text, whose writing the
// recorded payloads check byte for byte).
nlohmann::json asJson(const SignalMessage &m) { return nlohmann::json::parse(signalText(m)); }

// The recording, its room and the room's key.
class Signal : public testing::Test {
  protected:
    const nlohmann::json file =
        nlohmann::json::parse(std::ifstream(KORRIN_SOURCE_DIR "/tests/signal/messages.json"));
    const std::string room = file["room"];
    const RoomKey key = roomKey(room);

    // A recorded row's bytes opened by its reader: the refusal's name.
    std::string opened(const nlohmann::json &row, SignalMessage &message) const {
        const std::vector<uint8_t> wire = bytes(row["wire"]);
        return refusalName(openSignal(wire.data(), wire.size(), room, key, row["reader"], message));
    }
};

TEST_F(Signal, RecordedMessagesReadAndWrittenAlike) {
    EXPECT_EQ(roomTopic(room), file["topic"]);
    EXPECT_EQ(std::vector<uint8_t>(key.begin(), key.end()), bytes(file["key"]));
    ASSERT_FALSE(file["messages"].empty());
    for (const auto &row : file["messages"]) {
        SCOPED_TRACE(row["name"].get<std::string>());
        SignalMessage message;
        ASSERT_EQ(opened(row, message), "none");
        EXPECT_EQ(asJson(message), row["message"]);
        if (row["written"]) {
            const std::vector<uint8_t> iv = bytes(row["iv"]);
            SignalIv fixed{};
            std::copy(iv.begin(), iv.end(), fixed.begin());
            EXPECT_EQ(sealSignal(message, key, fixed), bytes(row["wire"]));
        }
    }
}

TEST_F(Signal, RecordedBadPayloadsRefusedForTheirReason) {
    ASSERT_FALSE(file["refused"].empty());
    for (const auto &row : file["refused"]) {
        SCOPED_TRACE(row["name"].get<std::string>());
        SignalMessage message;
        message.sdp = "untouched";
        EXPECT_EQ(opened(row, message), row["refusal"].get<std::string>());
        EXPECT_EQ(message.sdp, "untouched"); // a refused message changes nothing
    }
}

TEST_F(Signal, SealedWithRandomIvReadsBack) {
    const std::string self = "0123456789abcdef";
    SignalMessage sent{SignalType::Candidate, room, "fedcba9876543210", self, "", 1, "",
                       "candidate:1 1 udp",   "0"};
    auto first = sealSignal(sent, key), second = sealSignal(sent, key);
    EXPECT_NE(first, second); // a fresh IV each time
    SignalMessage read;
    ASSERT_EQ(openSignal(first.data(), first.size(), room, key, self, read), SignalRefusal::None);
    EXPECT_EQ(asJson(read), asJson(sent));
    EXPECT_EQ(newPeerId().size(), PEER_ID_DIGITS);
    EXPECT_NE(newPeerId(), newPeerId());
}
} // namespace
