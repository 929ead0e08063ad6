// The network link between two games: an ENet host with one peer (the host
// listens and takes one player, the joining side connects), and the packets
// the two sides exchange, with a reader that checks every field before
// anything uses it. It knows nothing of the match: inputs are small numbers,
// frames are counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct _ENetHost;
struct _ENetPeer;

// Raised whenever a packet's layout or meaning changes; both sides must agree.
constexpr uint16_t PROTOCOL_VERSION = 1;

// ---- The packets
enum class PacketType : uint8_t { Hello = 1, Start = 2, Inputs = 3, Hash = 4 };

// Every packet from either side opens with its type byte.
constexpr size_t MAX_VERSION_LENGTH = 31; // characters of a game version
// Inputs of one player for one frame: a set of these bits.
constexpr uint8_t INPUT_UP = 1;
constexpr uint8_t INPUT_DOWN = 2;
constexpr uint8_t INPUT_LEAVE = 4;
constexpr uint8_t INPUT_ALL_BITS = INPUT_UP | INPUT_DOWN | INPUT_LEAVE;
// At most this many frames' inputs in one packet.
constexpr size_t MAX_INPUTS_PER_PACKET = 64;
// Frame counters stay below this (2^31 frames of 22 ms are 1.5 years).
constexpr uint32_t FRAME_LIMIT = 0x80000000u;
constexpr uint8_t BALL_TYPES = 4;

// Both sides' first packet: who they are. Its layout never changes, so that
// any two versions can tell each other apart.
struct HelloPacket {
    uint16_t protocol = PROTOCOL_VERSION;
    std::string gameVersion; // 1 to MAX_VERSION_LENGTH printable ASCII characters
};

// The host's answer to a matching Hello: what both need to start the same match.
struct StartPacket {
    int32_t seed = 0;     // the generator's whole state at the match's start
    uint8_t ballType = 0; // the ball sprite, below BALL_TYPES
};

// The sender's recent inputs, sent every frame, unreliably: each packet
// repeats every input the receiver has not yet acknowledged.
struct InputsPacket {
    uint32_t senderFrames = 0;   // frames the sender has run
    uint32_t receivedFrames = 0; // the receiver's frames whose inputs the sender holds
    uint32_t firstFrame = 0;     // the frame of inputs[0]
    std::vector<uint8_t> inputs; // sets of INPUT_* bits, one per frame from firstFrame
};

// The hash of the match's state after a frame both sides hold all inputs of.
struct HashPacket {
    uint32_t frame = 0;
    uint64_t hash = 0;
};

struct Packet {
    PacketType type = PacketType::Hello;
    HelloPacket hello;
    StartPacket start;
    InputsPacket inputs;
    HashPacket hash;
};

std::vector<uint8_t> writePacket(const HelloPacket &hello);
std::vector<uint8_t> writePacket(const StartPacket &start);
std::vector<uint8_t> writePacket(const InputsPacket &inputs);
std::vector<uint8_t> writePacket(const HashPacket &hash);

// Reads a packet of size bytes into packet. False, leaving it in an unspecified
// state, for anything but an exact packet of a known type with every value
// inside its range (frames below FRAME_LIMIT, inputs no later than the sender's
// frames, at most MAX_INPUTS_PER_PACKET inputs of INPUT_ALL_BITS).
bool readPacket(const uint8_t *data, size_t size, Packet &packet);

// ---- The link
// Why a link ended or could not start.
enum class LinkEvent { None, Connected, Received, Disconnected, Refused };

class NetLink {
  public:
    NetLink() = default;
    ~NetLink();
    NetLink(const NetLink &) = delete;
    NetLink &operator=(const NetLink &) = delete;

    // Listens on port (0: any free one) of every address. False after
    // filling error.
    bool listen(uint16_t port, std::string &error);
    // Starts connecting to host:port. False after filling error (an unknown host).
    bool connect(const std::string &host, uint16_t port, std::string &error);
    // The port this side's socket is bound to.
    uint16_t port() const;

    // Waits at most waitMs for something to happen on the link and says what:
    // the peer connected, a packet arrived (into data), the peer left or was
    // lost (Disconnected), or it refused us (Refused). A second peer knocking
    // at a host is turned away here and reported as None.
    LinkEvent poll(uint32_t waitMs, std::vector<uint8_t> &data);
    // Sends to the peer, if any: reliable packets arrive once and in order,
    // unreliable ones may be lost.
    void send(const std::vector<uint8_t> &packet, bool reliable);
    // Says goodbye to the peer after what is queued has left, waiting at most
    // waitMs for it to answer; with 0, at once (what is queued is dropped).
    void disconnect(uint32_t waitMs);
    bool connected() const { return peer_ != nullptr && peerConnected_; }

    // The smoothed round trip to the peer, in ms.
    uint32_t roundTripMs() const;
    // Bytes of UDP payload sent and received so far, ENet's own traffic included.
    uint64_t bytesSent() const;
    uint64_t bytesReceived() const;

  private:
    bool createHost(const void *address, size_t peerCount, std::string &error);

    _ENetHost *host_ = nullptr;
    _ENetPeer *peer_ = nullptr;
    bool peerConnected_ = false;
};
