// The command line: every mode with its argument, and the errors that end the
// game with status 2 before anything starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

namespace {
Result<Options> parse(const std::vector<std::string> &args) {
    std::vector<char *> argv = {const_cast<char *>("korrin-tavrel")};
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    return parseOptions(static_cast<int>(argv.size()), argv.data());
}

std::string joined(const std::vector<std::string> &args) {
    std::string line;
    for (const std::string &arg : args)
        line += arg + " ";
    return line;
}

TEST(Options, EachArgumentListGivesItsMode) {
    using M = Mode;
    constexpr int D = DEFAULT_PORT;
    const std::string longest(ROOM_CODE_MAX, 'z');
    const std::string link = "https://example.org/kt/index.html?join=AB-12&signal=ws%3A%2F%2Fx"
                             "&signal=wss://y&ice=%7B%22a%22%3A+1%7D%zz";
    const std::string servers = "index.html?signal=ws://x&join=ab&ice=%7B%7D";
    const std::vector<std::string> b = {"ws://127.0.0.1:1/mqtt", "wss://b"}; // two brokers
    struct Case {
        std::vector<std::string> args;
        Mode mode;
        std::string joinHost;
        int port;
        std::string room = {}, ice = {};
        std::vector<std::string> brokers = {};
        std::string recordPath = {}, replayPath = {};
    } const cases[] = {
        {{}, M::Play, "", D},
        {{"--record", "a.rec"}, M::Play, "", D, "", "", {}, "a.rec"},
        {{"--replay", "a.rec"}, M::Replay, "", D, "", "", {}, "", "a.rec"},
        {{"--verify", "--odd-name"}, M::Verify, "", D, "", "", {}, "", "--odd-name"},
        {{"--help"}, M::Help, "", D},
        {{"--version"}, M::Version, "", D},
        {{"--host"}, M::Host, "", D},
        {{"--host", "0"}, M::Host, "", 0},
        {{"--host", "65535"}, M::Host, "", 65535},
        {{"--host", "00080"}, M::Host, "", 80}, // five digits
        {{"--host", "--record", "h.rec"}, M::Host, "", D, "", "", {}, "h.rec"},
        {{"--join", "example.org:4000"}, M::Join, "example.org", 4000},
        {{"--watch", "127.0.0.1:4000"}, M::Watch, "127.0.0.1", 4000},
        {{"--join", "127.0.0.1"}, M::Join, "127.0.0.1", D},
        {{"--join", "[::1]:0"}, M::Join, "[::1]", 0}, // the port after the last colon
        {{"--join", "localhost"}, M::Join, "localhost", D},
        // Rooms: every host below hosts one.
        {{"--host-room"}, M::Host, "", D},
        {{"--join", "K7QM-2xhp"}, M::Join, "", D, "k7qm-2xhp"},
        {{"--join", "a"}, M::Join, "", D, "a"},
        {{"--join", longest}, M::Join, "", D, longest},
        {{"--join", link}, M::Join, "", D, "ab-12", "{\"a\": 1}%zz", {"ws://x", "wss://y"}},
        // The command line's servers go first.
        {{"--join", servers, "--signal", "ws://z"}, M::Join, "", D, "ab", "{}", {"ws://z"}},
        {{"--join", "index.html?host&join=ab-12#top"}, M::Join, "", D, "ab-12"},
        {{"korrin-tavrel:?join=AB-12"}, M::Join, "", D, "ab-12"}, // from the desktop
        {{"--record", "r", "korrin-tavrel:?join=ab-12"}, M::Join, "", D, "ab-12", "", {}, "r"},
        {{"--watch", "x.html?join=AB-12", "--signal", b[1]}, M::Watch, "", D, "ab-12", "", {b[1]}},
        {{"--host-room", "--signal", b[0], "--signal", b[1]}, M::Host, "", D, "", "", b},
        {{"--host-room", "--ice", "{}"}, M::Host, "", D, "", "{}"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(joined(c.args));
        const Result<Options> parsed = parse(c.args);
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        const Options &options = parsed.value;
        EXPECT_EQ(options.mode, c.mode);
        EXPECT_EQ(options.recordPath, c.recordPath);
        EXPECT_EQ(options.replayPath, c.replayPath);
        EXPECT_EQ(options.joinHost, c.joinHost);
        EXPECT_EQ(options.port, c.port);
        EXPECT_EQ(options.hostRoom, c.args.size() > 0 && c.args[0] == "--host-room");
        EXPECT_EQ(options.room, c.room);
        EXPECT_EQ(options.brokers, c.brokers);
        EXPECT_EQ(options.ice, c.ice);
    }
}

TEST(Options, UnknownMissingBadOrClashingArgumentsAreRefused) {
    const std::vector<std::string> cases[] = {
        {"--bogus"},
        {"--record"},
        {"--join"},
        {"play"},
        {"--record", "a", "--record", "b"},
        {"--replay", "a", "--verify", "b"},
        {"--host", "--host"},
        {"--replay", "a", "--record", "b"},
        {"--record", "b", "--verify", "a"},
        {"--host", "65536"},
        {"--host", "000080"},
        {"--host", "-1"},
        {"--host", ""},
        {"--join", ":4000"},
        {"--join", "host:"},
        {"--join", "host:port"},
        {"--help", "--host"},
        {"--join", std::string(ROOM_CODE_MAX + 1, 'z')},
        {"--join", "room_1"},
        {"--join", "r\xc3\xa9"},
        {"--join", "index.html?join="},
        {"--join", "index.html?join=a b"},
        {"--host-room", "--join", "ab"},
        {"--host", "--signal", "ws://b"}, // rooms only
        {"--join", "h:1", "--ice", "{}"},
        {"--signal"},
        {"korrin-tavrel:"},
        {"korrin-tavrel:?join="},
        {"korrin-tavrel:?join=ab", "--host"},
        {"korrin-tavrel:?join=ab", "korrin-tavrel:?join=cd"},
        {"korrin-tavrel"}, // no URL: an unknown argument
        {"--watch", "h:1", "--join", "h:1"},
        {"--watch", "host:port"},
        {"--record", "f", "--watch", "ab"},
    };
    for (const std::vector<std::string> &args : cases) {
        EXPECT_EQ(parse(args).error.rfind("korrin-tavrel: ", 0), 0u) << joined(args);
    }
}
} // namespace
