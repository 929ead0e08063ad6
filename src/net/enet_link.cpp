// The online match's link over ENet.
#include "enet_link.h"

#include <enet/enet.h>

#include <cstdlib>

namespace {
// A host keeps slots beside its player's for others knocking, to be turned
// away, and for connections that never complete: enough for a burst of a
// hundred stray CONNECT datagrams a second, each reset after PENDING_LIMIT_MS.
constexpr size_t HOST_PEER_SLOTS = 256;
constexpr uint32_t PENDING_LIMIT_MS = 2000;
constexpr uint32_t NOT_PENDING = 0xffffffffu;
// Unreliable packets on one channel, reliable ones on another: ENet holds
// back a channel's later packets while a reliable one of it is lost.
constexpr size_t CHANNELS = 2;
constexpr uint8_t UNRELIABLE_CHANNEL = 0;
constexpr uint8_t RELIABLE_CHANNEL = 1;
// No packet of ours comes near this; a peer cannot make ENet hold more than
// MAX_WAITING_BYTES for it (ENet's own limits are 32 MB each).
constexpr size_t MAX_PACKET_BYTES = 1024;
constexpr size_t MAX_WAITING_BYTES = 64 * 1024;
// How much ENet's packet throttle falls when the round trip grows: nothing.
constexpr enet_uint32 NO_THROTTLE_FALL = 0;
// The data of a disconnect that tells a joining side the host has its player.
constexpr uint32_t REFUSED_HOST_BUSY = 1;
// The data of our own goodbye; ENet reports a link that timed out with 0.
constexpr uint32_t GOODBYE = 2;
} // namespace

Result<std::unique_ptr<Link>> openLink(bool hosting, const std::string &host, uint16_t port) {
    auto link = std::make_unique<NetLink>();
    const Status opened = hosting ? link->listen(port) : link->connect(host, port);
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
    host_ = enet_host_create(static_cast<const ENetAddress *>(address), peerCount, CHANNELS, 0, 0);
    if (host_ == nullptr)
        return {"could not open a UDP socket"};
    host_->maximumPacketSize = MAX_PACKET_BYTES;
    host_->maximumWaitingData = MAX_WAITING_BYTES;
    return {};
}

Status NetLink::listen(uint16_t port) {
    ENetAddress address;
    address.host = ENET_HOST_ANY;
    address.port = port;
    if (!createHost(&address, HOST_PEER_SLOTS).ok())
        return {"could not listen on UDP port " + std::to_string(port) + " (is it in use?)"};
    pendingSince_.assign(HOST_PEER_SLOTS, NOT_PENDING);
    return {};
}

Status NetLink::connect(const std::string &host, uint16_t port) {
    ENetAddress address;
    if (enet_address_set_host(&address, host.c_str()) != 0)
        return {"unknown host " + host};
    address.port = port;
    joinHost_ = host;
    joinPort_ = port;
    if (const Status created = createHost(nullptr, 1); !created.ok())
        return created;
    peer_ = enet_host_connect(host_, &address, CHANNELS, 0);
    if (peer_ == nullptr)
        return {"could not start connecting"};
    return {};
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
    dropPendingPeers();
    ENetEvent event;
    if (enet_host_service(host_, &event, waitMs) <= 0)
        return LinkEvent::None;
    switch (event.type) {
    case ENET_EVENT_TYPE_CONNECT:
        if (peer_ != nullptr && event.peer != peer_) {
            enet_peer_disconnect_now(event.peer, REFUSED_HOST_BUSY);
            return LinkEvent::None;
        }
        peer_ = event.peer;
        peerConnected_ = true;
        // ENet drops unreliable packets while it sees the round trip grow,
        // as it does after an outage: just when the inputs must get through.
        // Its throttle never falls instead.
        enet_peer_throttle_configure(peer_, ENET_PEER_PACKET_THROTTLE_INTERVAL,
                                     ENET_PEER_PACKET_THROTTLE_ACCELERATION, NO_THROTTLE_FALL);
        return LinkEvent::Connected;
    case ENET_EVENT_TYPE_RECEIVE: {
        const bool fromPeer = event.peer == peer_ && peerConnected_;
        if (fromPeer) {
            data.assign(event.packet->data, event.packet->data + event.packet->dataLength);
        }
        enet_packet_destroy(event.packet);
        return fromPeer ? LinkEvent::Received : LinkEvent::None;
    }
    case ENET_EVENT_TYPE_DISCONNECT:
        if (event.peer != peer_)
            return LinkEvent::None;
        peer_ = nullptr;
        peerConnected_ = false;
        if (event.data == REFUSED_HOST_BUSY)
            return LinkEvent::Refused;
        return event.data == GOODBYE ? LinkEvent::Disconnected : LinkEvent::Lost;
    case ENET_EVENT_TYPE_NONE:
        break;
    }
    return LinkEvent::None;
}

void NetLink::dropPendingPeers() {
    const uint32_t now = enet_time_get();
    for (size_t i = 0; i < pendingSince_.size(); ++i) {
        ENetPeer *slot = &host_->peers[i];
        const bool pending = slot != peer_ && slot->state != ENET_PEER_STATE_DISCONNECTED &&
                             slot->state != ENET_PEER_STATE_CONNECTED;
        if (!pending) {
            pendingSince_[i] = NOT_PENDING;
        } else if (pendingSince_[i] == NOT_PENDING) {
            pendingSince_[i] = now;
        } else if (static_cast<int32_t>(now - pendingSince_[i]) > int32_t{PENDING_LIMIT_MS}) {
            enet_peer_reset(slot);
            pendingSince_[i] = NOT_PENDING;
        }
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
