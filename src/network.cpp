// The ENet link and the packets the two sides exchange.
#include "network.h"

#include <enet/enet.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "bytes.h"

namespace {
// The first bytes of a Hello: they tell a Korrin Tavrel peer from anything else.
constexpr uint8_t HELLO_MAGIC[4] = {'K', 'T', 'A', 'V'};
constexpr size_t HELLO_FIXED_SIZE = 1 + sizeof HELLO_MAGIC + 2 + 1;
constexpr size_t START_SIZE = 1 + 4 + 1;
constexpr size_t INPUTS_FIXED_SIZE = 1 + 4 + 4 + 4 + 1;
constexpr size_t HASH_SIZE = 1 + 4 + 8;

// A host keeps one slot beside its player's, for turning others away.
constexpr size_t HOST_PEER_SLOTS = 2;
constexpr size_t CHANNELS = 1;
constexpr uint8_t CHANNEL = 0;
// No packet of ours comes near this; a peer cannot make ENet hold more than
// MAX_WAITING_BYTES for it (ENet's own limits are 32 MB each).
constexpr size_t MAX_PACKET_BYTES = 1024;
constexpr size_t MAX_WAITING_BYTES = 64 * 1024;
// The data of a disconnect that tells a joining side the host has its player.
constexpr uint32_t REFUSED_HOST_BUSY = 1;

bool printableVersion(const std::string &version) {
    return !version.empty() && version.size() <= MAX_VERSION_LENGTH &&
           std::all_of(version.begin(), version.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

bool readHello(ByteReader &in, HelloPacket &hello) {
    if (in.left() < HELLO_FIXED_SIZE - 1)
        return false;
    if (!std::equal(std::begin(HELLO_MAGIC), std::end(HELLO_MAGIC), in.here()))
        return false;
    in.skip(sizeof HELLO_MAGIC);
    hello.protocol = static_cast<uint16_t>(in.next(2));
    const size_t length = in.next(1);
    if (in.left() != length)
        return false;
    hello.gameVersion.assign(reinterpret_cast<const char *>(in.here()), length);
    return printableVersion(hello.gameVersion);
}

bool readStart(ByteReader &in, StartPacket &start) {
    if (in.left() != START_SIZE - 1)
        return false;
    start.seed = static_cast<int32_t>(static_cast<uint32_t>(in.next(4)));
    start.ballType = static_cast<uint8_t>(in.next(1));
    return start.ballType < BALL_TYPES;
}

bool readInputs(ByteReader &in, InputsPacket &inputs) {
    if (in.left() < INPUTS_FIXED_SIZE - 1)
        return false;
    inputs.senderFrames = static_cast<uint32_t>(in.next(4));
    inputs.receivedFrames = static_cast<uint32_t>(in.next(4));
    inputs.firstFrame = static_cast<uint32_t>(in.next(4));
    const size_t count = in.next(1);
    if (count > MAX_INPUTS_PER_PACKET || in.left() != count)
        return false;
    if (inputs.senderFrames >= FRAME_LIMIT || inputs.receivedFrames >= FRAME_LIMIT ||
        inputs.firstFrame > inputs.senderFrames || inputs.senderFrames - inputs.firstFrame < count)
        return false;
    inputs.inputs.assign(in.here(), in.here() + count);
    return std::all_of(inputs.inputs.begin(), inputs.inputs.end(),
                       [](uint8_t input) { return (input & ~INPUT_ALL_BITS) == 0; });
}

bool readHash(ByteReader &in, HashPacket &hash) {
    if (in.left() != HASH_SIZE - 1)
        return false;
    hash.frame = static_cast<uint32_t>(in.next(4));
    hash.hash = in.next(8);
    return hash.frame < FRAME_LIMIT;
}
} // namespace

std::vector<uint8_t> writePacket(const HelloPacket &hello) {
    std::vector<uint8_t> out;
    putLittleEndian(out, static_cast<uint8_t>(PacketType::Hello), 1);
    out.insert(out.end(), std::begin(HELLO_MAGIC), std::end(HELLO_MAGIC));
    putLittleEndian(out, hello.protocol, 2);
    putLittleEndian(out, static_cast<uint8_t>(hello.gameVersion.size()), 1);
    out.insert(out.end(), hello.gameVersion.begin(), hello.gameVersion.end());
    return out;
}

std::vector<uint8_t> writePacket(const StartPacket &start) {
    std::vector<uint8_t> out;
    putLittleEndian(out, static_cast<uint8_t>(PacketType::Start), 1);
    putLittleEndian(out, static_cast<uint32_t>(start.seed), 4);
    putLittleEndian(out, start.ballType, 1);
    return out;
}

std::vector<uint8_t> writePacket(const InputsPacket &inputs) {
    std::vector<uint8_t> out;
    putLittleEndian(out, static_cast<uint8_t>(PacketType::Inputs), 1);
    putLittleEndian(out, inputs.senderFrames, 4);
    putLittleEndian(out, inputs.receivedFrames, 4);
    putLittleEndian(out, inputs.firstFrame, 4);
    putLittleEndian(out, static_cast<uint8_t>(inputs.inputs.size()), 1);
    out.insert(out.end(), inputs.inputs.begin(), inputs.inputs.end());
    return out;
}

std::vector<uint8_t> writePacket(const HashPacket &hash) {
    std::vector<uint8_t> out;
    putLittleEndian(out, static_cast<uint8_t>(PacketType::Hash), 1);
    putLittleEndian(out, hash.frame, 4);
    putLittleEndian(out, hash.hash, 8);
    return out;
}

bool readPacket(const uint8_t *data, size_t size, Packet &packet) {
    if (size == 0)
        return false;
    ByteReader in(data, size);
    packet.type = static_cast<PacketType>(in.next(1));
    switch (packet.type) {
    case PacketType::Hello:
        return readHello(in, packet.hello);
    case PacketType::Start:
        return readStart(in, packet.start);
    case PacketType::Inputs:
        return readInputs(in, packet.inputs);
    case PacketType::Hash:
        return readHash(in, packet.hash);
    }
    return false;
}

NetLink::~NetLink() {
    if (host_ != nullptr)
        enet_host_destroy(host_);
}

bool NetLink::createHost(const void *address, size_t peerCount, std::string &error) {
    // ENet keeps no state of its own beyond its hosts: starting it again is harmless.
    if (enet_initialize() != 0) {
        error = "ENet could not start";
        return false;
    }
    std::atexit(enet_deinitialize);
    host_ = enet_host_create(static_cast<const ENetAddress *>(address), peerCount, CHANNELS, 0, 0);
    if (host_ == nullptr) {
        error = "could not open a UDP socket";
        return false;
    }
    host_->maximumPacketSize = MAX_PACKET_BYTES;
    host_->maximumWaitingData = MAX_WAITING_BYTES;
    return true;
}

bool NetLink::listen(uint16_t port, std::string &error) {
    ENetAddress address;
    address.host = ENET_HOST_ANY;
    address.port = port;
    if (!createHost(&address, HOST_PEER_SLOTS, error)) {
        error = "could not listen on UDP port " + std::to_string(port) + " (is it in use?)";
        return false;
    }
    return true;
}

bool NetLink::connect(const std::string &host, uint16_t port, std::string &error) {
    ENetAddress address;
    if (enet_address_set_host(&address, host.c_str()) != 0) {
        error = "unknown host " + host;
        return false;
    }
    address.port = port;
    if (!createHost(nullptr, 1, error))
        return false;
    peer_ = enet_host_connect(host_, &address, CHANNELS, 0);
    if (peer_ == nullptr) {
        error = "could not start connecting";
        return false;
    }
    return true;
}

uint16_t NetLink::port() const {
    ENetAddress address;
    if (host_ == nullptr || enet_socket_get_address(host_->socket, &address) != 0)
        return 0;
    return address.port;
}

LinkEvent NetLink::poll(uint32_t waitMs, std::vector<uint8_t> &data) {
    if (host_ == nullptr)
        return LinkEvent::None;
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
        return event.data == REFUSED_HOST_BUSY ? LinkEvent::Refused : LinkEvent::Disconnected;
    case ENET_EVENT_TYPE_NONE:
        break;
    }
    return LinkEvent::None;
}

void NetLink::send(const std::vector<uint8_t> &packet, bool reliable) {
    if (!connected())
        return;
    ENetPacket *enetPacket =
        enet_packet_create(packet.data(), packet.size(), reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
    if (enetPacket == nullptr)
        return;
    if (enet_peer_send(peer_, CHANNEL, enetPacket) != 0) {
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
        enet_peer_disconnect_now(peer_, 0);
        peer_ = nullptr;
        peerConnected_ = false;
        return;
    }
    enet_peer_disconnect_later(peer_, 0);
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
