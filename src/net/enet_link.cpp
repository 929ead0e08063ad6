// The online match's link over ENet.
#include "enet_link.h"

#include <enet/enet.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
// A host keeps slots beside its player's for others knocking, to be turned
// away, for candidates that have not said anything yet and for connections
// that never complete: as many as ENet allows (a flood of two thousand stray
// CONNECT datagrams a second, each reset after PENDING_LIMIT_MS).
constexpr size_t HOST_PEER_SLOTS = ENET_PROTOCOL_MAXIMUM_PEER_ID;
constexpr uint32_t PENDING_LIMIT_MS = 2000;
constexpr uint32_t NOT_PENDING = 0xffffffffu;
// A joining side whose host has not answered in this time connects anew: the
// host has dropped an attempt it never heard a word of well before, and the
// word that it did was lost.
constexpr uint32_t REJOIN_MS = 2 * PENDING_LIMIT_MS;
// Unreliable packets on one channel, reliable ones on another: ENet holds
// back a channel's later packets while a reliable one of it is lost.
constexpr size_t CHANNELS = 2;
constexpr uint8_t UNRELIABLE_CHANNEL = 0;
constexpr uint8_t RELIABLE_CHANNEL = 1;
// A peer cannot make ENet hold more than this for it (ENet's own limit is
// 32 MB); its packets are at most MAX_PACKET_BYTES (link.h).
constexpr size_t MAX_WAITING_BYTES = 64 * 1024;
// How much ENet's packet throttle falls when the round trip grows: nothing.
constexpr enet_uint32 NO_THROTTLE_FALL = 0;
// A reliable command's wait for its acknowledgement (a ping, the connect, a
// goodbye) is cut to this, which keeps its tries twice this apart
// (keepRetriesShort), so that one gets through soon after an outage.
constexpr enet_uint32 RETRY_LIMIT_MS = 250;
// ENet gives a peer up after this long without an acknowledgement: well
// beyond the game's own limits (session.h), which alone end a match.
constexpr enet_uint32 PEER_TIMEOUT_MS = 20000;
// ENet's back-off factor before it may give up: none of ours reaches it.
constexpr enet_uint32 PEER_TIMEOUT_BACKOFF = 1024;
// The data of a disconnect that tells a joining side the host has its player.
constexpr uint32_t REFUSED_HOST_BUSY = 1;
// The data of our own goodbye; ENet reports a link that timed out with 0.
constexpr uint32_t GOODBYE = 2;
// The data of a disconnect that drops an attempt that said nothing in time.
constexpr uint32_t ATTEMPT_DROPPED = 3;
// The data of a disconnect that drops a watcher that misbehaved or fell behind.
constexpr uint32_t WATCHER_DROPPED = 4;
// The data of a joining side's connect that asks to watch (a player's is 0;
// an older host takes it as a player's, which its first packet belies).
constexpr uint32_t WATCH_REQUEST = 1;

void configurePeer(ENetPeer *peer) {
    enet_peer_timeout(peer, PEER_TIMEOUT_BACKOFF, PEER_TIMEOUT_MS, PEER_TIMEOUT_MS);
}

// Once connected (the throttle's settings travel to the peer).
void configureThrottle(ENetPeer *peer) {
    // ENet drops unreliable packets while it sees the round trip grow, as it
    // does after an outage: just when the inputs must get through. Its
    // throttle never falls instead.
    enet_peer_throttle_configure(peer, ENET_PEER_PACKET_THROTTLE_INTERVAL,
                                 ENET_PEER_PACKET_THROTTLE_ACCELERATION, NO_THROTTLE_FALL);
}
} // namespace

Result<std::unique_ptr<Link>> openNetLink(bool hosting, const std::string &host, uint16_t port,
                                          bool watching) {
    auto link = std::make_unique<NetLink>();
    const Status opened = hosting ? link->listen(port) : link->connect(host, port, watching);
    if (!opened.ok())
        return {nullptr, opened.error};
    return {std::move(link), ""};
}

NetLink::~NetLink() {
    if (host_ != nullptr)
        enet_host_destroy(host_);
}

Status NetLink::createHost(const void *address, size_t peerCount) {
    // ENet keeps no state of its own beyond its hosts: starting it again is harmless.
    if (enet_initialize() != 0)
        return {"ENet could not start"};
    std::atexit(enet_deinitialize);
    errno = 0;
    host_ = enet_host_create(static_cast<const ENetAddress *>(address), peerCount, CHANNELS, 0, 0);
    if (host_ == nullptr) {
        if (errno == EADDRINUSE)
            return {"is it in use?"};
        return {errno != 0 ? std::strerror(errno) : "out of memory"};
    }
    host_->maximumPacketSize = MAX_PACKET_BYTES;
    host_->maximumWaitingData = MAX_WAITING_BYTES;
    return {};
}

Status NetLink::listen(uint16_t port) {
    ENetAddress address;
    address.host = ENET_HOST_ANY;
    address.port = port;
    if (const Status created = createHost(&address, HOST_PEER_SLOTS); !created.ok())
        return {"could not listen on UDP port " + std::to_string(port) + " (" + created.error +
                ")"};
    pendingSince_.assign(HOST_PEER_SLOTS, NOT_PENDING);
    watchers_.assign(HOST_PEER_SLOTS, false);
    return {};
}

Status NetLink::connect(const std::string &host, uint16_t port, bool watching) {
    ENetAddress address;
    if (enet_address_set_host(&address, host.c_str()) != 0)
        return {"unknown host " + host};
    joinHost_ = host;
    joinPort_ = port;
    watching_ = watching;
    if (const Status created = createHost(nullptr, 1); !created.ok())
        return created;
    startAttempt();
    if (peer_ == nullptr)
        return {"could not start connecting"};
    return {};
}

void NetLink::startAttempt() {
    ENetAddress address;
    enet_address_set_host(&address, joinHost_.c_str());
    address.port = joinPort_;
    if (peer_ != nullptr)
        enet_peer_reset(peer_);
    peerConnected_ = false;
    attemptMs_ = enet_time_get();
    // Its only slot is free again: this fails only where connect() says so.
    peer_ = enet_host_connect(host_, &address, CHANNELS, watching_ ? WATCH_REQUEST : 0);
    if (peer_ != nullptr)
        configurePeer(peer_);
}

std::string NetLink::hostPlace() const { return "on port " + std::to_string(port()); }

std::string NetLink::hostName() const { return joinHost_ + ":" + std::to_string(joinPort_); }

uint16_t NetLink::port() const {
    ENetAddress address;
    if (host_ == nullptr || enet_socket_get_address(host_->socket, &address) != 0)
        return 0;
    return address.port;
}

LinkEvent NetLink::poll(uint32_t waitMs, std::vector<uint8_t> &data) {
    if (host_ == nullptr)
        return LinkEvent::None;
    if (firstPacketWaiting_) {
        firstPacketWaiting_ = false;
        data.swap(firstPacket_);
        return LinkEvent::Received;
    }
    if (!pendingSince_.empty())
        dropPendingPeers();
    else
        rejoinIfUnanswered();
    if (peer_ != nullptr)
        keepRetriesShort(peer_);
    ENetEvent event;
    if (enet_host_service(host_, &event, waitMs) <= 0)
        return LinkEvent::None;
    const auto slot = static_cast<size_t>(event.peer != nullptr ? event.peer - host_->peers : 0);
    if (!watchers_.empty() &&
        (watchers_[slot] || (event.type == ENET_EVENT_TYPE_CONNECT && event.data == WATCH_REQUEST)))
        return takeWatcherEvent(event, slot, data);
    switch (event.type) {
    case ENET_EVENT_TYPE_CONNECT:
        return takeConnection(event.peer);
    case ENET_EVENT_TYPE_RECEIVE: {
        const LinkEvent received = takePacket(event.peer, *event.packet, data);
        enet_packet_destroy(event.packet);
        return received;
    }
    case ENET_EVENT_TYPE_DISCONNECT:
        if (event.peer != peer_)
            return LinkEvent::None;
        if (!pendingSince_.empty() || hostAnswered_ || event.data == REFUSED_HOST_BUSY ||
            event.data == WATCHER_DROPPED) {
            peer_ = nullptr;
            peerConnected_ = false;
            if (event.data == REFUSED_HOST_BUSY)
                return LinkEvent::Refused;
            return event.data == GOODBYE ? LinkEvent::Disconnected : LinkEvent::Lost;
        }
        // A host that dropped an attempt it never answered waits for the next.
        peer_ = nullptr;
        startAttempt();
        return LinkEvent::None;
    case ENET_EVENT_TYPE_NONE:
        break;
    }
    return LinkEvent::None;
}

LinkEvent NetLink::takeWatcherEvent(const ENetEvent &event, size_t slot,
                                    std::vector<uint8_t> &data) {
    watcher_ = static_cast<int>(slot);
    switch (event.type) {
    case ENET_EVENT_TYPE_CONNECT:
        watchers_[slot] = true;
        configurePeer(event.peer);
        configureThrottle(event.peer);
        return LinkEvent::WatcherCame;
    case ENET_EVENT_TYPE_RECEIVE:
        data.assign(event.packet->data, event.packet->data + event.packet->dataLength);
        enet_packet_destroy(event.packet);
        return LinkEvent::WatcherSaid;
    case ENET_EVENT_TYPE_DISCONNECT:
        watchers_[slot] = false;
        return LinkEvent::WatcherLeft;
    case ENET_EVENT_TYPE_NONE:
        break;
    }
    return LinkEvent::None;
}

void NetLink::sendToWatcher(int watcher, const std::vector<uint8_t> &packet) {
    const auto slot = static_cast<size_t>(watcher);
    if (slot >= watchers_.size() || !watchers_[slot])
        return;
    ENetPacket *enetPacket = enet_packet_create(packet.data(), packet.size(), 0);
    if (enetPacket == nullptr)
        return;
    if (enet_peer_send(&host_->peers[slot], UNRELIABLE_CHANNEL, enetPacket) != 0) {
        enet_packet_destroy(enetPacket);
        return;
    }
    enet_host_flush(host_);
}

void NetLink::dropWatcher(int watcher, bool turnedAway) {
    const auto slot = static_cast<size_t>(watcher);
    if (slot >= watchers_.size() || !watchers_[slot])
        return;
    watchers_[slot] = false;
    enet_peer_disconnect_now(&host_->peers[slot], turnedAway ? REFUSED_HOST_BUSY : WATCHER_DROPPED);
}

LinkEvent NetLink::takeConnection(ENetPeer *peer) {
    if (pendingSince_.empty()) { // the joining side's attempt went through
        if (peer != peer_)
            return LinkEvent::None;
        peerConnected_ = true;
        configureThrottle(peer);
        return watching_ ? LinkEvent::Watching : LinkEvent::Connected;
    }
    configurePeer(peer);
    configureThrottle(peer);
    if (peer_ == nullptr)
        return LinkEvent::None;
    // The player's game connecting anew has given up its connection: this
    // one takes its place (a player's game only does so before the match).
    if (peer->address.host == peer_->address.host && peer->address.port == peer_->address.port) {
        enet_peer_reset(peer_);
        peer_ = nullptr;
        peerConnected_ = false;
        return LinkEvent::Disconnected;
    }
    enet_peer_disconnect_now(peer, REFUSED_HOST_BUSY);
    return LinkEvent::None;
}

LinkEvent NetLink::takePacket(ENetPeer *peer, const ENetPacket &packet,
                              std::vector<uint8_t> &data) {
    const bool candidate =
        !pendingSince_.empty() && peer_ == nullptr && peer->state == ENET_PEER_STATE_CONNECTED;
    if (peer != peer_ && !candidate) {
        // A candidate that speaks once the host has its player is told so.
        if (!pendingSince_.empty() && peer->state == ENET_PEER_STATE_CONNECTED)
            enet_peer_disconnect_now(peer, REFUSED_HOST_BUSY);
        return LinkEvent::None;
    }
    if (candidate) {
        peer_ = peer;
        peerConnected_ = true;
        firstPacket_.assign(packet.data, packet.data + packet.dataLength);
        firstPacketWaiting_ = true;
        return LinkEvent::Connected;
    }
    if (!peerConnected_)
        return LinkEvent::None;
    hostAnswered_ = true;
    data.assign(packet.data, packet.data + packet.dataLength);
    return LinkEvent::Received;
}

void NetLink::dropPendingPeers() {
    const uint32_t now = enet_time_get();
    for (size_t i = 0; i < pendingSince_.size(); ++i) {
        ENetPeer *slot = &host_->peers[i];
        const bool pending =
            slot != peer_ && !watchers_[i] && slot->state != ENET_PEER_STATE_DISCONNECTED;
        if (!pending) {
            pendingSince_[i] = NOT_PENDING;
        } else if (pendingSince_[i] == NOT_PENDING) {
            pendingSince_[i] = now;
        } else if (static_cast<int32_t>(now - pendingSince_[i]) > int32_t{PENDING_LIMIT_MS}) {
            enet_peer_disconnect_now(slot, ATTEMPT_DROPPED);
            pendingSince_[i] = NOT_PENDING;
        }
    }
}

void NetLink::rejoinIfUnanswered() {
    // (A watcher hears nothing until the match starts.)
    if (hostAnswered_ || peer_ == nullptr || (watching_ && peerConnected_))
        return;
    if (static_cast<int32_t>(enet_time_get() - attemptMs_) > int32_t{REJOIN_MS})
        startAttempt();
}

void NetLink::keepRetriesShort(ENetPeer *peer) {
    for (ENetListIterator command = enet_list_begin(&peer->sentReliableCommands);
         command != enet_list_end(&peer->sentReliableCommands); command = enet_list_next(command)) {
        auto *sent = reinterpret_cast<ENetOutgoingCommand *>(command);
        sent->roundTripTimeout = std::min(sent->roundTripTimeout, RETRY_LIMIT_MS);
    }
}

void NetLink::send(const std::vector<uint8_t> &packet, bool reliable) {
    if (!connected())
        return;
    ENetPacket *enetPacket =
        enet_packet_create(packet.data(), packet.size(), reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
    if (enetPacket == nullptr)
        return;
    if (enet_peer_send(peer_, reliable ? RELIABLE_CHANNEL : UNRELIABLE_CHANNEL, enetPacket) != 0) {
        enet_packet_destroy(enetPacket);
        return;
    }
    enet_host_flush(host_);
}

void NetLink::disconnect(uint32_t waitMs) {
    firstPacketWaiting_ = false;
    if (!connected()) {
        if (peer_ != nullptr)
            enet_peer_reset(peer_);
        peer_ = nullptr;
        return;
    }
    if (waitMs == 0) {
        enet_peer_disconnect_now(peer_, GOODBYE);
        peer_ = nullptr;
        peerConnected_ = false;
        return;
    }
    enet_peer_disconnect_later(peer_, GOODBYE);
    const uint32_t start = enet_time_get();
    std::vector<uint8_t> ignored;
    while (peer_ != nullptr && enet_time_get() - start < waitMs) {
        const uint32_t left = waitMs - (enet_time_get() - start);
        poll(left, ignored);
    }
    if (peer_ != nullptr)
        enet_peer_reset(peer_);
    peer_ = nullptr;
    peerConnected_ = false;
}

uint64_t NetLink::bytesSent() const { return host_ != nullptr ? host_->totalSentData : 0; }

uint64_t NetLink::bytesReceived() const { return host_ != nullptr ? host_->totalReceivedData : 0; }

uint32_t NetLink::roundTripMs() const { return connected() ? peer_->roundTripTime : 0; }
