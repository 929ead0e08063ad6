// The command line: every mode with its argument, each value at the edges of
// its range, and the errors that end the game with status 2 before anything
// starts, each with its line.
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
        {{"--host", "00080"}, Mode::Host, "", "", "", 80}, // five digits, whatever their value
        {{"--host", "--record", "h.rec"}, Mode::Host, "h.rec", "", "", DEFAULT_PORT},
        {{"--record", "h.rec", "--host", "7"}, Mode::Host, "h.rec", "", "", 7},
        {{"--join", "example.org:4000"}, Mode::Join, "", "", "example.org", 4000},
        {{"--join", "example.org:65535"}, Mode::Join, "", "", "example.org", 65535},
        {{"--join", "127.0.0.1"}, Mode::Join, "", "", "127.0.0.1", DEFAULT_PORT},
        {{"--join", "[::1]:0"}, Mode::Join, "", "", "[::1]", 0}, // the last colon parts the port
        {{"--join", "j:1", "--record", "j.rec"}, Mode::Join, "j.rec", "", "j", 1},
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

TEST(Options, UnknownMissingBadOrClashingArgumentsSayWhatIsWrong) {
    const std::string twoModes = "korrin-tavrel: only one of --replay, --verify, --host, --join, "
                                 "--help and --version at a time";
    const std::string recordWithFile =
        "korrin-tavrel: --record plays matches: it does not go with --replay or --verify";
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--bogus"}, "korrin-tavrel: unknown option --bogus"},
        {{"play"}, "korrin-tavrel: unknown option play"},
        {{"--record"}, "korrin-tavrel: --record needs an argument"},
        {{"--replay"}, "korrin-tavrel: --replay needs an argument"},
        {{"--verify"}, "korrin-tavrel: --verify needs an argument"},
        {{"--join"}, "korrin-tavrel: --join needs an argument"},
        {{"--record", "a", "--record", "b"}, "korrin-tavrel: --record given twice"},
        {{"--replay", "a", "--verify", "b"}, twoModes},
        {{"--help", "--host"}, twoModes},
        {{"--host", "--host"}, twoModes},
        {{"--version", "--version"}, twoModes},
        {{"--replay", "a", "--record", "b"}, recordWithFile},
        {{"--record", "b", "--verify", "a"}, recordWithFile},
        {{"--host", "65536"}, "korrin-tavrel: bad port: 65536"},
        {{"--host", "000080"}, "korrin-tavrel: bad port: 000080"}, // six digits
        {{"--host", "-1"}, "korrin-tavrel: bad port: -1"},
        {{"--host", "8o"}, "korrin-tavrel: bad port: 8o"},
        {{"--host", ""}, "korrin-tavrel: bad port: "},
        {{"--join", ":4000"}, "korrin-tavrel: bad address to join: :4000"},
        {{"--join", "host:"}, "korrin-tavrel: bad address to join: host:"},
        {{"--join", "host:port"}, "korrin-tavrel: bad address to join: host:port"},
        {{"--join", "host:65536"}, "korrin-tavrel: bad address to join: host:65536"},
    };
    for (const auto &c : cases) {
        const Result<Options> parsed = parse(c.args);
        EXPECT_EQ(parsed.error, c.error) << joined(c.args);
    }
}
} // namespace
