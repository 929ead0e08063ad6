// The online match's link over ENet (UDP): a host that listens and takes one
// player, or a joining side that connects.
#pragma once

#include <vector>

#include "link.h"

struct _ENetHost;
struct _ENetPeer;

class NetLink : public Link {
  public:
    NetLink() = default;
    ~NetLink() override;
    NetLink(const NetLink &) = delete;
    NetLink &operator=(const NetLink &) = delete;

    // Listens on port (0: any free one) of every address.
    Status listen(uint16_t port);
    // Starts connecting to host:port; fails for an unknown host.
    Status connect(const std::string &host, uint16_t port);
    // The port this side's socket is bound to.
    uint16_t port() const;

    std::string hostPlace() const override;
    std::string hostName() const override;
    LinkEvent poll(uint32_t waitMs, std::vector<uint8_t> &data) override;
    void send(const std::vector<uint8_t> &packet, bool reliable) override;
    void disconnect(uint32_t waitMs) override;
    bool connected() const override { return peer_ != nullptr && peerConnected_; }
    uint32_t roundTripMs() const override;
    uint64_t bytesSent() const override;
    uint64_t bytesReceived() const override;

  private:
    Status createHost(const void *address, size_t peerCount);
    // Resets the host's peers that have not completed their connection
    // within PENDING_LIMIT_MS (a bare CONNECT datagram holds a slot for half
    // a minute otherwise).
    void dropPendingPeers();

    _ENetHost *host_ = nullptr;
    _ENetPeer *peer_ = nullptr;
    bool peerConnected_ = false;
    std::string joinHost_; // the host as the player named it, when joining
    uint16_t joinPort_ = 0;
    // For each of the host's peer slots, when it was first seen in use
    // (enet_time_get), or NOT_PENDING.
    std::vector<uint32_t> pendingSince_;
};
