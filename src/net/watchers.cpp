// The host's watchers, served.
#include "watchers.h"

#include <algorithm>
#include <cstdio>

#include "version.h"

namespace {
constexpr uint32_t MS_PER_S = 1000;
} // namespace

void WatcherService::begin(const MatchStart &start, uint64_t rules) {
    start_ = {HelloPacket{PROTOCOL_VERSION, GAME_VERSION, rules, 0}, start};
    begun_ = true;
}

void WatcherService::settle(uint8_t input, bool last) {
    if (ended_)
        return;
    settled_.push_back(input);
    ended_ = last;
}

WatcherService::Watcher *WatcherService::find(int id) {
    auto it = std::find_if(watchers_.begin(), watchers_.end(),
                           [id](const Watcher &watcher) { return watcher.id == id; });
    return it == watchers_.end() ? nullptr : &*it;
}

void WatcherService::drop(int id, const std::string &why) {
    // One that was sent the whole match and goes is no news.
    if (!ended_ || find(id)->offered < settled_.size())
        fprintf(stderr, "korrin-tavrel: dropped a watcher: %s\n", why.c_str());
    link_.dropWatcher(id, false);
    watchers_.erase(std::remove_if(watchers_.begin(), watchers_.end(),
                                   [id](const Watcher &watcher) { return watcher.id == id; }),
                    watchers_.end());
}

void WatcherService::take(LinkEvent event, int id, const std::vector<uint8_t> &data,
                          uint32_t nowMs) {
    Watcher *watcher = find(id);
    if (event == LinkEvent::WatcherCame) {
        if (watcher != nullptr)
            return;
        if (watchers_.size() >= MAX_WATCHERS) {
            link_.dropWatcher(id, true);
            return;
        }
        Watcher fresh;
        fresh.id = id;
        fresh.progressMs = fresh.heardMs = fresh.secondMs = nowMs;
        fresh.lastSendMs = nowMs - WATCH_KEEPALIVE_MS;
        watchers_.push_back(fresh);
        ++served_;
    } else if (watcher != nullptr && event == LinkEvent::WatcherLeft) {
        drop(id, "it went away");
    } else if (watcher != nullptr && event == LinkEvent::WatcherSaid) {
        hear(*watcher, data, nowMs);
    }
}

void WatcherService::hear(Watcher &watcher, const std::vector<uint8_t> &data, uint32_t nowMs) {
    if (nowMs - watcher.secondMs >= MS_PER_S) {
        watcher.secondMs = nowMs;
        watcher.packets = 0;
    }
    if (++watcher.packets > WATCHER_PACKETS_PER_S) {
        drop(watcher.id,
             "it sent more than " + std::to_string(WATCHER_PACKETS_PER_S) + " packets in a second");
        return;
    }
    const Result<Packet> read = readPacket(data.data(), data.size());
    if (!read.ok()) {
        drop(watcher.id, read.error);
        return;
    }
    if (read.value.type != PacketType::WatchAck) {
        drop(watcher.id, "it sent a packet of type " +
                             std::to_string(static_cast<int>(read.value.type)) +
                             ", which only a player sends");
        return;
    }
    const uint32_t frames = read.value.watchAck;
    if (!begun_ || frames > watcher.offered) {
        drop(watcher.id, "it acknowledged frames it was never sent");
        return;
    }
    watcher.started = true;
    watcher.heardMs = nowMs;
    if (frames > watcher.acked) { // (an older acknowledgement may come late)
        watcher.acked = frames;
        watcher.progressMs = nowMs;
    }
}

uint32_t WatcherService::settledLagLimitAgo(uint32_t nowMs) {
    const auto held = static_cast<uint32_t>(settled_.size());
    if (settledAt_.empty() || settledAt_.back().second != held)
        settledAt_.emplace_back(nowMs, held);
    while (settledAt_.size() > 1 && nowMs - settledAt_[1].first >= WATCH_LAG_LIMIT_MS)
        settledAt_.pop_front();
    return nowMs - settledAt_.front().first >= WATCH_LAG_LIMIT_MS ? settledAt_.front().second : 0;
}

void WatcherService::serve(uint32_t nowMs) {
    if (!begun_)
        return;
    // A host that was not served for a while (a stall of its own) counts
    // none of it against its watchers' silence: what a watcher was silent
    // before the stall still counts (one heard during it, heard just now).
    if (servedOnce_ && nowMs - servedMs_ > WATCH_KEEPALIVE_MS)
        for (Watcher &watcher : watchers_)
            watcher.heardMs =
                nowMs - std::max(static_cast<int32_t>(servedMs_ - watcher.heardMs), 0);
    servedMs_ = nowMs;
    servedOnce_ = true;
    // (Dropping one changes the list: the ids are read first.)
    std::vector<int> ids(watchers_.size());
    std::transform(watchers_.begin(), watchers_.end(), ids.begin(),
                   [](const Watcher &watcher) { return watcher.id; });
    for (int id : ids)
        serveOne(*find(id), nowMs);
}

void WatcherService::serveOne(Watcher &watcher, uint32_t nowMs) {
    const auto held = static_cast<uint32_t>(settled_.size());
    const uint32_t lag = held - watcher.acked;
    if (lag == 0) // (its silence counts while frames wait for it)
        watcher.progressMs = watcher.heardMs = nowMs;
    watcher.leastLag = watcher.started ? std::min(watcher.leastLag, lag) : lag;
    if (watcher.acked + watcher.leastLag < settledLagLimitAgo(nowMs)) {
        drop(watcher.id, "it fell " + std::to_string(lag) + " frames behind");
        return;
    }
    if (lag > 0 && nowMs - watcher.heardMs > SILENCE_LIMIT_MS + SILENCE_ALLOWANCE_MS) {
        drop(watcher.id, "it said nothing for " + std::to_string(nowMs - watcher.heardMs) + " ms");
        return;
    }
    if (!watcher.started) {
        if (nowMs - watcher.lastSendMs >= WATCH_START_REPEAT_MS) {
            send(watcher, writePacket(start_));
            watcher.lastSendMs = nowMs;
        }
        return;
    }
    // What is not acknowledged in time is sent again, from the first frame it lacks.
    if (watcher.acked < watcher.sent && nowMs - watcher.progressMs >= WATCH_RESEND_MS &&
        nowMs - watcher.resentMs >= WATCH_RESEND_MS) {
        watcher.sent = watcher.acked;
        watcher.resentMs = nowMs;
    }
    sendInputs(watcher, nowMs);
}

void WatcherService::sendInputs(Watcher &watcher, uint32_t nowMs) {
    const auto held = static_cast<uint32_t>(settled_.size());
    const uint32_t until = std::min(held, watcher.acked + WATCH_WINDOW_FRAMES);
    bool sent = false;
    while (watcher.sent < until) {
        WatchInputsPacket packet;
        packet.firstFrame = watcher.sent;
        packet.liveFrames = held;
        const uint32_t frames =
            std::min<uint32_t>(until - watcher.sent, MAX_WATCH_INPUTS_PER_PACKET);
        packet.inputs.assign(settled_.begin() + watcher.sent,
                             settled_.begin() + watcher.sent + frames);
        packet.last = ended_ && watcher.sent + frames == held;
        send(watcher, writePacket(packet));
        watcher.sent += frames;
        watcher.offered = std::max(watcher.offered, watcher.sent);
        sent = true;
    }
    if (!sent && nowMs - watcher.lastSendMs < WATCH_KEEPALIVE_MS)
        return;
    if (!sent) { // nothing new: the newest frames again, which say how far the match is
        WatchInputsPacket packet;
        packet.firstFrame = watcher.sent;
        packet.liveFrames = held;
        packet.last = ended_ && watcher.sent == held;
        if (packet.last) { // the end must ride with an input
            packet.firstFrame = held - 1;
            packet.inputs.push_back(settled_.back());
        }
        send(watcher, writePacket(packet));
    }
    watcher.lastSendMs = nowMs;
}

void WatcherService::send(const Watcher &watcher, const std::vector<uint8_t> &packet) {
    link_.sendToWatcher(watcher.id, packet);
    ++packetsSent_;
    bytesSent_ += packet.size();
}

bool WatcherService::lacking() const {
    return std::any_of(watchers_.begin(), watchers_.end(),
                       [this](const Watcher &watcher) { return watcher.acked < settled_.size(); });
}
