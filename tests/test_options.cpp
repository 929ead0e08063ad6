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
    struct Case {
        std::vector<std::string> args;
        Mode mode;
        std::string recordPath, replayPath, joinHost;
        int port;
    } const cases[] = {
        {{}, Mode::Play, "", "", "", DEFAULT_PORT},
        {{"--record", "a.rec"}, Mode::Play, "a.rec", "", "", DEFAULT_PORT},
        {{"--replay", "a.rec"}, Mode::Replay, "", "a.rec", "", DEFAULT_PORT},
        {{"--verify", "--odd-name"}, Mode::Verify, "", "--odd-name", "", DEFAULT_PORT},
        {{"--help"}, Mode::Help, "", "", "", DEFAULT_PORT},
        {{"--version"}, Mode::Version, "", "", "", DEFAULT_PORT},
        {{"--host"}, Mode::Host, "", "", "", DEFAULT_PORT},
        {{"--host", "0"}, Mode::Host, "", "", "", 0},
        {{"--host", "65535"}, Mode::Host, "", "", "", 65535},
        {{"--host", "00080"}, Mode::Host, "", "", "", 80}, // five digits
        {{"--host", "--record", "h.rec"}, Mode::Host, "h.rec", "", "", DEFAULT_PORT},
        {{"--join", "example.org:4000"}, Mode::Join, "", "", "example.org", 4000},
        {{"--watch", "127.0.0.1:4000"}, Mode::Watch, "", "", "127.0.0.1", 4000},
        {{"--join", "127.0.0.1"}, Mode::Join, "", "", "127.0.0.1", DEFAULT_PORT},
        {{"--join", "[::1]:0"}, Mode::Join, "", "", "[::1]", 0}, // the port after the last colon
        {{"--join", "localhost"}, Mode::Join, "", "", "localhost", DEFAULT_PORT},
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
    }
}

TEST(Options, RoomsFromTheirCodeOrLinkWithTheirServers) {
    using M = Mode;
    const std::string longest(ROOM_CODE_MAX, 'z');
    const std::string link = "https://example.org/kt/index.html?join=AB-12&signal=ws%3A%2F%2Fx"
                             "&signal=wss://y&ice=%7B%22a%22%3A+1%7D%zz";
    const std::string servers = "index.html?signal=ws://x&join=ab&ice=%7B%7D";
    const std::vector<std::string> b = {"ws://127.0.0.1:1/mqtt", "wss://b"}; // two brokers
    struct Case {
        std::vector<std::string> args;
        Mode mode; // every host here hosts a room
        std::string room, ice;
        std::vector<std::string> brokers;
    } const cases[] = {
        {{"--host-room"}, M::Host, "", "", {}},
        {{"--join", "K7QM-2xhp"}, M::Join, "k7qm-2xhp", "", {}},
        {{"--join", "a"}, M::Join, "a", "", {}},
        {{"--join", longest}, M::Join, longest, "", {}},
        {{"--join", link}, M::Join, "ab-12", "{\"a\": 1}%zz", {"ws://x", "wss://y"}},
        // The command line's servers go first.
        {{"--join", servers, "--signal", "ws://z"}, M::Join, "ab", "{}", {"ws://z"}},
        {{"--join", "index.html?host&join=ab-12#top"}, M::Join, "ab-12", "", {}},
        {{"korrin-tavrel:?join=AB-12"}, M::Join, "ab-12", "", {}}, // from the desktop
        {{"--record", "r.krp", "korrin-tavrel:?join=ab-12"}, M::Join, "ab-12", "", {}},
        {{"--watch", "index.html?join=AB-12", "--signal", b[1]}, M::Watch, "ab-12", "", {b[1]}},
        {{"--host-room", "--signal", b[0], "--signal", b[1], "--ice", "{}"}, M::Host, "", "{}", b},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(joined(c.args));
        const Result<Options> parsed = parse(c.args);
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        const Options &options = parsed.value;
        EXPECT_EQ(options.mode, c.mode);
        EXPECT_EQ(options.hostRoom, c.mode == Mode::Host);
        EXPECT_EQ(options.room, c.room);
        EXPECT_EQ(options.joinHost, "");
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
