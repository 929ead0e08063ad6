// The ENet link and the packets the two sides exchange.
#include "network.h"

#include <enet/enet.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

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

// Little-endian writers and a reader that never reads past its end.
void putU8(std::vector<uint8_t> &out, uint8_t value) { out.push_back(value); }
void putU16(std::vector<uint8_t> &out, uint16_t value) {
    for (int i = 0; i < 2; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void putU32(std::vector<uint8_t> &out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void putU64(std::vector<uint8_t> &out, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

class Reader {
  public:
    Reader(const uint8_t *data, size_t size) : data_(data), left_(size) {}
    uint64_t take(int bytes) { // the caller checked the size
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<uint64_t>(data_[i]) << (8 * i);
        data_ += bytes;
        left_ -= static_cast<size_t>(bytes);
        return value;
    }
    const uint8_t *here() const { return data_; }
    size_t left() const { return left_; }

  private:
    const uint8_t *data_;
    size_t left_;
};

bool printableVersion(const std::string &version) {
    return !version.empty() && version.size() <= MAX_VERSION_LENGTH &&
           std::all_of(version.begin(), version.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

bool readHello(Reader &in, HelloPacket &hello) {
    if (in.left() < HELLO_FIXED_SIZE - 1)
        return false;
    if (!std::equal(std::begin(HELLO_MAGIC), std::end(HELLO_MAGIC), in.here()))
        return false;
    in.take(sizeof HELLO_MAGIC);
    hello.protocol = static_cast<uint16_t>(in.take(2));
    const size_t length = in.take(1);
    if (in.left() != length)
        return false;
    hello.gameVersion.assign(reinterpret_cast<const char *>(in.here()), length);
    return printableVersion(hello.gameVersion);
}

bool readStart(Reader &in, StartPacket &start) {
    if (in.left() != START_SIZE - 1)
        return false;
    start.seed = static_cast<int32_t>(static_cast<uint32_t>(in.take(4)));
    start.ballType = static_cast<uint8_t>(in.take(1));
    return start.ballType < BALL_TYPES;
}

bool readInputs(Reader &in, InputsPacket &inputs) {
    if (in.left() < INPUTS_FIXED_SIZE - 1)
        return false;
    inputs.senderFrames = static_cast<uint32_t>(in.take(4));
    inputs.receivedFrames = static_cast<uint32_t>(in.take(4));
    inputs.firstFrame = static_cast<uint32_t>(in.take(4));
    const size_t count = in.take(1);
    if (count > MAX_INPUTS_PER_PACKET || in.left() != count)
        return false;
    if (inputs.senderFrames >= FRAME_LIMIT || inputs.receivedFrames >= FRAME_LIMIT ||
        inputs.firstFrame > inputs.senderFrames || inputs.senderFrames - inputs.firstFrame < count)
        return false;
    inputs.inputs.assign(in.here(), in.here() + count);
    return std::all_of(inputs.inputs.begin(), inputs.inputs.end(),
                       [](uint8_t input) { return (input & ~INPUT_ALL_BITS) == 0; });
}

bool readHash(Reader &in, HashPacket &hash) {
    if (in.left() != HASH_SIZE - 1)
        return false;
    hash.frame = static_cast<uint32_t>(in.take(4));
    hash.hash = in.take(8);
    return hash.frame < FRAME_LIMIT;
}
} // namespace

std::vector<uint8_t> writePacket(const HelloPacket &hello) {
    std::vector<uint8_t> out;
    putU8(out, static_cast<uint8_t>(PacketType::Hello));
    out.insert(out.end(), std::begin(HELLO_MAGIC), std::end(HELLO_MAGIC));
    putU16(out, hello.protocol);
    putU8(out, static_cast<uint8_t>(hello.gameVersion.size()));
    out.insert(out.end(), hello.gameVersion.begin(), hello.gameVersion.end());
    return out;
}

std::vector<uint8_t> writePacket(const StartPacket &start) {
    std::vector<uint8_t> out;
    putU8(out, static_cast<uint8_t>(PacketType::Start));
    putU32(out, static_cast<uint32_t>(start.seed));
    putU8(out, start.ballType);
    return out;
}

std::vector<uint8_t> writePacket(const InputsPacket &inputs) {
    std::vector<uint8_t> out;
    putU8(out, static_cast<uint8_t>(PacketType::Inputs));
    putU32(out, inputs.senderFrames);
    putU32(out, inputs.receivedFrames);
    putU32(out, inputs.firstFrame);
    putU8(out, static_cast<uint8_t>(inputs.inputs.size()));
    out.insert(out.end(), inputs.inputs.begin(), inputs.inputs.end());
    return out;
}

std::vector<uint8_t> writePacket(const HashPacket &hash) {
    std::vector<uint8_t> out;
    putU8(out, static_cast<uint8_t>(PacketType::Hash));
    putU32(out, hash.frame);
    putU64(out, hash.hash);
    return out;
}

bool readPacket(const uint8_t *data, size_t size, Packet &packet) {
    if (size == 0)
        return false;
    Reader in(data, size);
    packet.type = static_cast<PacketType>(in.take(1));
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
