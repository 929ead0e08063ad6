// The connection to the other game of an online match, whatever carries it:
// ENet over UDP natively (enet_link.h), a WebRTC data channel in the browser.
// The online session speaks to it only through this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "failure.h"

// No packet of ours comes near this many bytes; a link drops a longer one.
constexpr size_t MAX_PACKET_BYTES = 1024;
// A link that pairs before it tells the session of its peer (the browser's)
// keeps this many of the peer's packets that arrive before the pairing: its
// Hello and a few inputs.
constexpr size_t EARLY_PACKETS_KEPT = 32;
// A WebRTC link holds unreliable packets back while the connection's
// congestion control lets none out (after losses, for seconds in Firefox):
// an unreliable packet is dropped, as if lost, once this many bytes wait
// before it (about five packets). Each packet repeats what the ones before it
// said, so a queue only delays the newest.
constexpr size_t UNSENT_LIMIT_BYTES = 512;
// Once the match runs, an outage of the link this long ends nothing. The
// silence a side hears lasts longer than the outage by a period of the other
// side's packets, the path's jitter and a lost packet or two (20 to 70 ms
// measured at 50 +-10 ms each way), and by the waits of a machine whose cores
// are busy: a peer, a player or a watcher, is taken as gone only when it has
// not been heard from for the limit and this allowance (4.5 s).
constexpr uint32_t SILENCE_LIMIT_MS = 4000;
constexpr uint32_t SILENCE_ALLOWANCE_MS = 500;

// What happened on a link: the peer connected, a packet arrived, the peer
// said goodbye (Disconnected), the link went silent until it gave up (Lost),
// or the host refused us (Refused). A joining side that the host took as a
// watcher of its match hears Watching instead of Connected; a host hears of
// its watchers apart from its player: one came, said something or went
// away (watcher() says which). The browser's link (web/online/link.mjs)
// numbers them alike.
enum class LinkEvent {
    None,
    Connected,
    Received,
    Disconnected,
    Lost,
    Refused,
    Watching,
    WatcherCame,
    WatcherSaid,
    WatcherLeft
};

class Link {
  public:
    virtual ~Link() = default;

    // Where the host waits, for its first line: "on port 27960", "in room R".
    virtual std::string hostPlace() const = 0;
    // The host as the joining side names it: "HOST:PORT", "room R".
    virtual std::string hostName() const = 0;

    // Waits at most waitMs for something to happen on the link and says
    // what (a packet into data). A second peer knocking at a host is turned
    // away here and reported as None; so are connections that never
    // complete, which cost the host nothing after a short while. A joining
    // link whose host never answered may connect anew on its own; the
    // session then hears Connected again.
    virtual LinkEvent poll(uint32_t waitMs, std::vector<uint8_t> &data) = 0;
    // Sends to the peer, if any: reliable packets arrive once and in order,
    // unreliable ones may be lost (or dropped behind UNSENT_LIMIT_BYTES). The two never wait for
    // each other: a lost reliable packet holds back no unreliable one. (The session sends
    // everything unreliably but a version mismatch's Hello: a reliable
    // message lost at the start of a WebRTC association waits seconds.)
    virtual void send(const std::vector<uint8_t> &packet, bool reliable) = 0;
    // Says goodbye to the peer after what is queued has left, waiting at most
    // waitMs for it to answer; with 0, at once (what is queued is dropped).
    virtual void disconnect(uint32_t waitMs) = 0;
    virtual bool connected() const = 0;

    // A host's watchers, which links without any never report. The watcher
    // of the last Watcher event poll() gave.
    virtual int watcher() const { return -1; }
    // Sends to one watcher, unreliably; nothing if it has gone.
    virtual void sendToWatcher(int, const std::vector<uint8_t> &) {}
    // Ends a watcher's connection: one too many is told it was turned away
    // (it hears Refused), a dropped one hears its link closed.
    virtual void dropWatcher(int, bool) {}

    // The smoothed round trip to the peer, in ms.
    virtual uint32_t roundTripMs() const = 0;
    // Bytes sent and received so far, the link's own traffic included.
    virtual uint64_t bytesSent() const = 0;
    virtual uint64_t bytesReceived() const = 0;
};

// Where an online session meets the other game: in a room (natively through
// these brokers and ICE servers, else those of online.json, else the
// defaults; the page has its own), or else over ENet on a port.
struct LinkPlace {
    std::string room;                 // the room's code, lowercase; empty: ENet
    std::string host;                 // ENet, joining: the host's address
    uint16_t port = 0;                // ENet: to host on (0 for any free one) or to join
    std::vector<std::string> brokers; // a room's MQTT brokers (ws:// or wss://)
    std::string ice;                  // a room's ICE servers, as the page's JSON
    bool watching = false;            // joining: to watch the host's match, not to play
};

// Opens the link of an online session: hosting (a browser makes its room
// itself) or joining. Waiting for a room's brokers ends at once when giveUp
// (asked every few ms) says so. Defined once for each platform: room_link.cpp
// natively, web/link_web.cpp in the browser. The error completes
// "Cannot host: " or "Cannot join: ".
Result<std::unique_ptr<Link>> openLink(bool hosting, const LinkPlace &place,
                                       const std::function<bool()> &giveUp);

// What a hosting game tells a player to send to a friend for the room of
// `place`: the page's address that joins it, or how to join it with the
// game; empty where the page shows it itself.
std::string roomInvitation(const LinkPlace &place);
