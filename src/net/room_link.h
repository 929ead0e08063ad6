// The link of an online match in a room, natively: the two games meet through
// MQTT brokers (signalling.h's messages, through Eclipse Paho C) and play
// over WebRTC data channels (libdatachannel), as the page does
// (web/online/link.mjs): two connections at once, paired on the first that
// answers, the packets that come early kept.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link.h"

struct RoomSettings {
    std::string room;                 // the room's code, lowercase
    std::vector<std::string> brokers; // ws:// or wss:// URLs
    std::string ice;       // {"iceServers": [...], "iceTransportPolicy": ...}; empty: none
    bool watching = false; // joining: to watch the host's match
};

// Opens the room once a broker has answered (10 s at most; giveUp, asked
// every few ms, ends the wait at once).
Result<std::unique_ptr<Link>> openRoomLink(bool hosting, const RoomSettings &settings,
                                           const std::function<bool()> &giveUp);
