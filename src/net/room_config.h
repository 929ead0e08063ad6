// Where the installed game's rooms meet: the brokers and ICE servers of the
// command line, else of the player's online.json
// ($XDG_CONFIG_HOME/korrin-tavrel/online.json, like the page's:
// {"signal": [URL...], "ice": {...}, "page": URL}), else the defaults.
#pragma once

#include <string>
#include <vector>

#include "failure.h"
#include "link.h"
#include "room_link.h"

struct RoomConfig {
    std::vector<std::string> brokers;
    std::string ice;  // JSON
    std::string page; // the page's address (…/index.html); empty: unknown
};

// The file's settings, the defaults where it has none (and where there is no
// file), or what is wrong with it.
Result<RoomConfig> readRoomConfig(const std::string &path);
// The file where the player keeps them.
std::string roomConfigPath();

// The servers of a room: those of `place` (the command line), else the config's.
RoomSettings roomSettings(const LinkPlace &place, const RoomConfig &config);
// The line that tells the player what to send for the room of `settings`:
// the config's page with ?join=ROOM, and the servers where they are not the
// defaults (a page meets the room only on the same brokers), else the
// command that joins it.
std::string roomInvitationLine(const RoomSettings &settings, const RoomConfig &config);
