// Watchers of an online match: the host sends each the match's start and the
// settled inputs of both players (never a guess, so a watcher never rolls
// back), the match so far first to one who comes late; the watcher runs
// them, faster than real time until it is a few frames behind the live
// settled frame, then at the match's pace. A watcher is only ever sent to:
// one that falls behind, says anything but its acknowledgements, floods or
// lies is dropped, and the match never waits for one.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "link.h"
#include "packets.h"

// A match takes this many watchers; one more is turned away.
constexpr size_t MAX_WATCHERS = 8;
// At most this many frames sent to a watcher and not yet acknowledged: a
// watcher who comes late gets the match so far this much a round trip.
constexpr uint32_t WATCH_WINDOW_FRAMES = 4 * MAX_WATCH_INPUTS_PER_PACKET;
// The start goes to a watcher this often until it acknowledges it.
constexpr uint32_t WATCH_START_REPEAT_MS = 100;
// What was sent and not acknowledged in this time is sent again.
constexpr uint32_t WATCH_RESEND_MS = 200;
// A watcher hears from the host at least this often, settled frames or not.
constexpr uint32_t WATCH_KEEPALIVE_MS = 250;
// A watcher that lacks frames settled this long ago, beyond the least it
// ever lacked (a late one starts far behind), has fallen behind. In time,
// not frames: a host back from a stall settles seconds of frames at once.
constexpr uint32_t WATCH_LAG_LIMIT_MS = 5000;
// A watcher that acknowledges at most once a frame sends fewer packets than
// this in any second.
constexpr uint32_t WATCHER_PACKETS_PER_S = 100;
// After the match, the host waits this long at most for its watchers to hold
// the whole of it.
constexpr uint32_t WATCHERS_END_WAIT_MS = 3000;

// The host's side: the settled inputs kept, and each watcher served.
class WatcherService {
  public:
    explicit WatcherService(Link &link) : link_(link) {}

    // The match began: what each watcher is told first.
    void begin(const MatchStart &start, uint64_t rules);
    // The next settled frame's inputs (encodeFrameInput); last: the match ended in it.
    void settle(uint8_t input, bool last);
    // A watcher's event from the link (WatcherCame, WatcherSaid, WatcherLeft).
    void take(LinkEvent event, int watcher, const std::vector<uint8_t> &data, uint32_t nowMs);
    // Sends each watcher what it lacks, and drops those that fell behind.
    void serve(uint32_t nowMs);
    // Some watcher lacks some of the match's settled frames.
    bool lacking() const;
    size_t count() const { return watchers_.size(); }
    // Watchers taken in all, and what was sent to them: packets and their bytes.
    uint32_t served() const { return served_; }
    uint64_t packetsSent() const { return packetsSent_; }
    uint64_t bytesSent() const { return bytesSent_; }
    // The settled frames' inputs kept so far.
    const std::vector<uint8_t> &settled() const { return settled_; }

  private:
    struct Watcher {
        int id = 0;
        bool started = false;  // it acknowledged the start
        uint32_t acked = 0;    // frames it holds
        uint32_t sent = 0;     // frames sent since the last resend from acked
        uint32_t offered = 0;  // the most frames ever sent
        uint32_t leastLag = 0; // the least lag its acknowledgements had
        uint32_t lastSendMs = 0;
        uint32_t resentMs = 0;
        uint32_t progressMs = 0; // when it last acknowledged more
        uint32_t heardMs = 0;    // when it last said something, or held all
        uint32_t secondMs = 0;   // the present second of its packets, and their count
        uint32_t packets = 0;
    };
    void hear(Watcher &watcher, const std::vector<uint8_t> &data, uint32_t nowMs);
    void serveOne(Watcher &watcher, uint32_t nowMs);
    void sendInputs(Watcher &watcher, uint32_t nowMs);
    void send(const Watcher &watcher, const std::vector<uint8_t> &packet);
    // The frames settled by WATCH_LAG_LIMIT_MS ago (0 before).
    uint32_t settledLagLimitAgo(uint32_t nowMs);
    // Drops a watcher with one line on standard error saying why.
    void drop(int id, const std::string &why);
    Watcher *find(int id);

    Link &link_;
    bool begun_ = false;
    WatchStartPacket start_;
    std::vector<uint8_t> settled_;
    bool ended_ = false;
    uint32_t servedMs_ = 0; // when serve() last ran, if it did
    bool servedOnce_ = false;
    // When the settled frames grew, and to how many: from the newest one
    // at least WATCH_LAG_LIMIT_MS old on.
    std::deque<std::pair<uint32_t, uint32_t>> settledAt_;
    std::vector<Watcher> watchers_;
    uint32_t served_ = 0;
    uint64_t packetsSent_ = 0, bytesSent_ = 0;
};
