// Where rooms meet: the player's online.json read as the page reads its own,
// the defaults where it says nothing, and what is wrong with it said.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "room_config.h"

namespace {
const std::string PUBLIC_BROKER = "wss://test.mosquitto.org:8081/mqtt";
constexpr size_t PUBLIC_BROKERS = 4;

TEST(RoomConfig, OnlineJsonOverTheDefaults) {
    struct Case {
        const char *name;
        const char *text;
        std::string error = {}; // a part of it
        std::string ice = {};   // "": the defaults
        std::string page = {};
        std::vector<std::string> brokers = {}; // none: the defaults
    } const cases[] = {
        {"empty object", "{}"},
        {"its brokers", R"({"signal": ["ws://a", "wss://b"]})", "", "", "", {"ws://a", "wss://b"}},
        {"one broker as a string", R"({"signal": "ws://a:1"})", "", "", "", {"ws://a:1"}},
        {"its ICE servers and page",
         R"({"ice": {"iceServers": [], "iceTransportPolicy": "relay"}, "page": "https://x/index.html"})",
         "", R"({"iceServers":[],"iceTransportPolicy":"relay"})", "https://x/index.html"},
        {"not JSON", "{\"signal\": [", "is not a JSON object"},
        {"a list", "[]", "is not a JSON object"},
        {"a broker not a string", R"({"signal": [1]})", "\"signal\" is not a list of addresses"},
        {"ICE as a string", R"({"ice": "stun:x"})", "\"ice\" is not a JSON object"},
        {"page not a string", R"({"page": 1})", "\"page\" is not an address"},
    };
    const std::string path = testing::TempDir() + "korrin-online.json";
    std::remove(path.c_str());
    ASSERT_TRUE(readRoomConfig(path).ok()); // no file: the defaults
    const RoomConfig defaults = readRoomConfig(path).value;
    ASSERT_EQ(defaults.brokers.size(), PUBLIC_BROKERS);
    EXPECT_EQ(defaults.brokers[0], PUBLIC_BROKER);
    EXPECT_NE(defaults.ice.find("stun:stun.l.google.com:19302"), std::string::npos);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path) << c.text;
        const Result<RoomConfig> read = readRoomConfig(path);
        if (!c.error.empty()) {
            EXPECT_NE(read.error.find(c.error), std::string::npos) << read.error;
            EXPECT_EQ(read.error.rfind(path, 0), 0u) << read.error; // it names the file
            continue;
        }
        ASSERT_TRUE(read.ok()) << read.error;
        EXPECT_EQ(read.value.brokers, c.brokers.empty() ? defaults.brokers : c.brokers);
        EXPECT_EQ(read.value.ice, c.ice.empty() ? defaults.ice : c.ice);
        EXPECT_EQ(read.value.page, c.page);
    }
    std::remove(path.c_str());
}

// A page opening the link must meet the host on its servers: those the
// player chose go with the link, the defaults (which the page has) do not.
TEST(RoomConfig, TheInvitationCarriesTheServersChosen) {
    RoomConfig withPage = readRoomConfig("").value; // no file: the defaults
    withPage.page = "https://x/index.html";
    const std::string sent = "Send this link to the other player: https://x/index.html?join=ab-12";
    struct Case {
        const char *name;
        std::vector<std::string> brokers;
        std::string ice, linkEnd; // what the link says past the room
    } const cases[] = {
        {"the defaults", {}, "", ""},
        {"two brokers",
         {"ws://127.0.0.1:1/mqtt", "wss://u:p@b"},
         "",
         "&signal=ws%3A%2F%2F127.0.0.1%3A1%2Fmqtt&signal=wss%3A%2F%2Fu%3Ap%40b"},
        {"one default broker of four",
         {PUBLIC_BROKER},
         "",
         "&signal=wss%3A%2F%2Ftest.mosquitto.org%3A8081%2Fmqtt"},
        {"ICE servers",
         {},
         R"({"iceServers": [], "x": "a~b_c"})",
         "&ice=%7B%22iceServers%22%3A%20%5B%5D%2C%20%22x%22%3A%20%22a~b_c%22%7D"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const LinkPlace place{"ab-12", "", 0, c.brokers, c.ice};
        EXPECT_EQ(roomInvitationLine(roomSettings(place, withPage), withPage), sent + c.linkEnd);
    }
}
} // namespace
