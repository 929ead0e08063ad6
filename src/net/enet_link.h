// The online match's link over ENet (UDP): a host that listens and takes one
// player, or a joining side that connects.
#pragma once

#include <vector>

#include "link.h"

struct _ENetHost;
struct _ENetPeer;
struct _ENetPacket;
struct _ENetEvent;

class NetLink : public Link {
  public:
    NetLink() = default;
    ~NetLink() override;
    NetLink(const NetLink &) = delete;
    NetLink &operator=(const NetLink &) = delete;

    // Listens on port (0: any free one) of every address.
    Status listen(uint16_t port);
    // Starts connecting to host:port, to play or to watch; fails for an
    // unknown host.
    Status connect(const std::string &host, uint16_t port, bool watching);
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
    int watcher() const override { return watcher_; }
    void sendToWatcher(int watcher, const std::vector<uint8_t> &packet) override;
    void dropWatcher(int watcher, bool turnedAway) override;

  private:
    // Starts ENet and opens its socket; the error says why not ("is it in
    // use?" for a port another program holds).
    Status createHost(const void *address, size_t peerCount);
    // The joining side's attempt: a new connection to the host.
    void startAttempt();
    // A host's connected peer becomes its player with its first packet:
    // until then it is one of the candidates (any number at once), so that a
    // peer that connects and says nothing keeps no player out. A connection
    // from the player's own address replaces the player's (its game started
    // again), reported as Disconnected; any other is refused once the host
    // has its player.
    LinkEvent takeConnection(_ENetPeer *peer);
    // What a watcher's slot had: it came, said something or went.
    LinkEvent takeWatcherEvent(const _ENetEvent &event, size_t slot, std::vector<uint8_t> &data);
    LinkEvent takePacket(_ENetPeer *peer, const _ENetPacket &packet, std::vector<uint8_t> &data);
    // Drops the host's slots other than its player's that have been in use
    // for PENDING_LIMIT_MS: connections that never completed (a bare CONNECT
    // datagram holds a slot for half a minute otherwise) and candidates
    // that said nothing (told so, in case they are a player whose words
    // were lost: its game connects anew).
    void dropPendingPeers();
    // A joining side that has heard nothing from the host REJOIN_MS into its
    // attempt, or that the host dropped before answering, connects anew: the
    // host may have dropped the attempt, or never completed it while this
    // side believes it connected.
    void rejoinIfUnanswered();
    // ENet's retries of a reliable command back off without bound: after an
    // outage the next one could fall seconds after the link is back. They
    // are kept to twice RETRY_LIMIT_MS apart instead.
    void keepRetriesShort(_ENetPeer *peer);

    _ENetHost *host_ = nullptr;
    _ENetPeer *peer_ = nullptr;
    bool peerConnected_ = false;
    // The host: the packet that made a candidate its player, given after
    // the Connected event.
    std::vector<uint8_t> firstPacket_;
    bool firstPacketWaiting_ = false;
    // The joining side: the host as the player named it, when its present
    // attempt began (enet_time_get), and whether the host has answered.
    std::string joinHost_;
    uint16_t joinPort_ = 0;
    uint32_t attemptMs_ = 0;
    bool hostAnswered_ = false;
    // For each of the host's peer slots, when it was first seen in use
    // (enet_time_get), or NOT_PENDING.
    std::vector<uint32_t> pendingSince_;
    // The host: which of its slots hold watchers (a watcher's number is its
    // slot's), and the watcher of the last Watcher event. The joining side:
    // it connects to watch.
    std::vector<bool> watchers_;
    int watcher_ = -1;
    bool watching_ = false;
};

// The ENet half of openLink (link.h): hosting on port, or joining host:port
// to play or to watch.
Result<std::unique_ptr<Link>> openNetLink(bool hosting, const std::string &host, uint16_t port,
                                          bool watching);
