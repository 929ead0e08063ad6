// Reading the command line.
#include "options.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "version.h"

namespace {
constexpr const char *PROGRAM = "korrin-tavrel";
constexpr int HIGHEST_PORT = 65535;
// The game's URL scheme, which the desktop hands over with the whole URL
// (korrin-tavrel:?join=ROOM, as the page's link offers it) as the only argument.
constexpr const char *URL_SCHEME = "korrin-tavrel:";

// A port number of digits only, 0 to 65535; -1 otherwise.
int parsePort(const std::string &text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const int port = std::stoi(text);
    return port <= HIGHEST_PORT ? port : -1;
}

Result<Options> usageError(const std::string &problem) {
    return {{}, std::string(PROGRAM) + ": " + problem};
}

// Sets the mode once; a second mode is an error.
bool setMode(Options &options, Mode mode) {
    if (options.mode != Mode::Play)
        return false;
    options.mode = mode;
    return true;
}

// HOST or HOST:PORT into options.
bool parseJoinAddress(const std::string &address, Options &options) {
    const size_t colon = address.rfind(':');
    options.joinHost = address.substr(0, colon);
    if (colon != std::string::npos)
        options.port = parsePort(address.substr(colon + 1));
    return !options.joinHost.empty() && options.port >= 0;
}
// A room's code as a player typed it, lowercased; empty if it is none.
std::string readRoomCode(const std::string &typed) {
    std::string room;
    for (char c : typed) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return "";
        room += c;
    }
    return room.size() <= ROOM_CODE_MAX ? room : "";
}

// A value of a link's query as the page wrote it: %XX escapes, and '+' for
// a space (a malformed escape stays as it is).
std::string readQueryValue(const std::string &text) {
    std::string value;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) != 0 &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) != 0) {
            value += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            value += text[i] == '+' ? ' ' : text[i];
        }
    }
    return value;
}

// The room of a page's link (…?join=ROOM), and the servers it names where
// they are not the page's defaults (&signal=, repeatable; &ice=) into
// `servers`; false if it is no such link.
bool parseRoomLink(const std::string &link, Options &options, Options &servers) {
    const size_t query = link.find('?');
    const size_t from = link.rfind("join=", 0) == 0 ? 0 : query;
    if (from == std::string::npos)
        return false;
    const size_t end = std::min(link.find('#', from), link.size());
    bool joins = false;
    for (size_t start = from + (from == query ? 1 : 0); start < end;) {
        const size_t next = std::min(link.find('&', start), end);
        const std::string field = link.substr(start, next - start);
        const size_t equals = field.find('=');
        const std::string name = field.substr(0, equals);
        const std::string value =
            equals == std::string::npos ? "" : readQueryValue(field.substr(equals + 1));
        if (name == "join") {
            options.room = readRoomCode(value);
            joins = true;
        } else if (name == "signal") {
            servers.brokers.push_back(value);
        } else if (name == "ice") {
            servers.ice = value;
        }
        start = next + 1;
    }
    return joins;
}

// What a player pastes after --join: the page's link (…?join=ROOM), a
// room's code, or HOST[:PORT] as ever. A name with a colon or a dot, or
// localhost, is a host; a machine of the LAN named by one word is joined
// with its port (NAME:27960). A link's servers go into `servers`.
bool parseJoinTarget(const std::string &target, Options &options, Options &servers) {
    if (parseRoomLink(target, options, servers))
        return !options.room.empty();
    if (target.find_first_of(":.") == std::string::npos && target != "localhost") {
        options.room = readRoomCode(target);
        return !options.room.empty();
    }
    return parseJoinAddress(target, options);
}

} // namespace

Result<Options> parseOptions(int argc, char **argv) {
    Options options;
    Options linkServers; // a pasted link's servers: --signal and --ice go first
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        // --host's port is optional: a next argument that is no option is it.
        const bool nextIsValue = hasValue && strncmp(argv[i + 1], "--", 2) != 0;
        Mode mode = Mode::Play;
        if (option == "--help")
            mode = Mode::Help;
        else if (option == "--version")
            mode = Mode::Version;
        else if (option == "--record" || option == "--replay" || option == "--verify" ||
                 option == "--join" || option == "--watch" || option == "--signal" ||
                 option == "--ice") {
            if (!hasValue)
                return usageError(option + " needs an argument");
            const std::string value = argv[++i];
            if (option == "--record") {
                if (!options.recordPath.empty())
                    return usageError("--record given twice");
                options.recordPath = value;
                continue;
            }
            if (option == "--signal") {
                options.brokers.push_back(value);
                continue;
            }
            if (option == "--ice") {
                options.ice = value;
                continue;
            }
            if (option == "--join" || option == "--watch") {
                mode = option == "--join" ? Mode::Join : Mode::Watch;
                if (!parseJoinTarget(value, options, linkServers))
                    return usageError("bad room or address to " + option.substr(2) + ": " + value);
            } else {
                mode = option == "--replay" ? Mode::Replay : Mode::Verify;
                options.replayPath = value;
            }
        } else if (option.rfind(URL_SCHEME, 0) == 0) {
            mode = Mode::Join;
            if (!parseJoinTarget(option, options, linkServers))
                return usageError("bad room or address to join: " + option);
        } else if (option == "--host-room") {
            mode = Mode::Host;
            options.hostRoom = true;
        } else if (option == "--host") {
            mode = Mode::Host;
            if (nextIsValue) {
                options.port = parsePort(argv[++i]);
                if (options.port < 0)
                    return usageError(std::string("bad port: ") + argv[i]);
            }
        } else {
            return usageError("unknown option " + option);
        }
        if (!setMode(options, mode))
            return usageError("only one of --replay, --verify, --host, --host-room, --join, "
                              "--watch, --help and --version at a time");
    }
    if (options.brokers.empty())
        options.brokers = linkServers.brokers;
    if (options.ice.empty())
        options.ice = linkServers.ice;
    const bool inRoom = options.hostRoom || !options.room.empty();
    if (!inRoom && (!options.brokers.empty() || !options.ice.empty()))
        return usageError(
            "--signal and --ice are for rooms: --host-room, --join ROOM or --watch ROOM");
    const bool records = !options.recordPath.empty();
    if (records && (options.mode == Mode::Replay || options.mode == Mode::Verify ||
                    options.mode == Mode::Watch))
        return usageError(
            "--record plays matches: it does not go with --replay, --verify or --watch");
    return {options, ""};
}

void printUsage(FILE *to) {
    fprintf(
        to,
        "Usage: %s [--record FILE] [--host [PORT] | --host-room | --join HOST[:PORT]|ROOM|LINK | "
        "korrin-tavrel:?join=ROOM] [--signal URL]... [--ice JSON] | --watch HOST[:PORT]|ROOM|LINK "
        "[--signal URL]... [--ice JSON] | --replay FILE | --verify FILE | --help | --version\n",
        PROGRAM);
    if (to != stdout)
        return;
    fprintf(to,
            "With no option the game shows its menu.\n"
            "  --record FILE       write every match of this run to FILE\n"
            "  --replay FILE       show the matches recorded in FILE, then end\n"
            "  --verify FILE       check that the matches in FILE play out as recorded\n"
            "  --host [PORT]       wait for a player to join over the network (port %d)\n"
            "  --host-room         make a room on the internet and wait there for a player\n"
            "  --join HOST[:PORT]  join a game that waits on HOST\n"
            "  --join ROOM|LINK    join a room by its code or its link (?join=ROOM)\n"
            "  korrin-tavrel:?join=ROOM  join the room (the page's link to the installed game)\n"
            "  --watch HOST[:PORT]|ROOM|LINK  watch the match of a host or a room\n"
            "  --signal URL        a room's signalling server (ws:// or wss://; repeatable)\n"
            "  --ice JSON          a room's ICE servers: {\"iceServers\": [...], ...}\n"
            "  --help              show this help\n"
            "  --version           show the game's version\n",
            DEFAULT_PORT);
}

void printVersion() { printf("Korrin Tavrel %s\n", GAME_VERSION); }
