// The command line: every mode with its argument, and the errors that end the
// game with status 2 before anything starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

namespace {
int parse(const std::vector<std::string> &args, Options &options) {
    std::vector<char *> argv = {const_cast<char *>("korrin-tavrel")};
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    return parseOptions(static_cast<int>(argv.size()), argv.data(), options);
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
        {{"--host", "0"}, Mode::Host, "", "", "", 0},
        {{"--host", "--record", "h.rec"}, Mode::Host, "h.rec", "", "", DEFAULT_PORT},
        {{"--join", "example.org:4000"}, Mode::Join, "", "", "example.org", 4000},
        {{"--join", "127.0.0.1"}, Mode::Join, "", "", "127.0.0.1", DEFAULT_PORT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(joined(c.args));
        Options options;
        ASSERT_EQ(parse(c.args, options), 0);
        EXPECT_EQ(options.mode, c.mode);
        EXPECT_EQ(options.recordPath, c.recordPath);
        EXPECT_EQ(options.replayPath, c.replayPath);
        EXPECT_EQ(options.joinHost, c.joinHost);
        EXPECT_EQ(options.port, c.port);
    }
}

TEST(Options, UnknownMissingBadOrClashingArgumentsGiveStatusTwo) {
    const std::vector<std::string> cases[] = {
        {"--bogus"},
        {"--record"},
        {"play"},
        {"--record", "a", "--record", "b"},
        {"--replay", "a", "--verify", "b"},
        {"--replay", "a", "--record", "b"},
        {"--host", "65536"},
        {"--host", "-1"},
        {"--join", ":4000"},
        {"--join", "host:port"},
        {"--help", "--host"},
    };
    for (const std::vector<std::string> &args : cases) {
        Options options;
        EXPECT_EQ(parse(args, options), 2) << joined(args);
    }
}
} // namespace
