// The packets that two games exchange in an online match, written and read,
// with a reader that checks every field before anything uses it. Inputs are
// the frame's buttons (commands.h), each side sending only its own player's.
// No link and no SDL: fuzzed alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"

// Raised whenever a packet's layout or meaning changes; both sides must agree.
constexpr uint16_t PROTOCOL_VERSION = 2;

// ---- The packets
enum class PacketType : uint8_t { Hello = 1, Start = 2, Inputs = 3, Hash = 4 };

// Every packet from either side opens with its type byte.
// At most this many frames' inputs in one packet.
constexpr size_t MAX_INPUTS_PER_PACKET = 64;
// An online match is always one of two players.
constexpr uint8_t ONLINE_PLAYERS = 2;
// Frame counters stay below this (2^31 frames of 22 ms are 1.5 years).
constexpr uint32_t FRAME_LIMIT = 0x80000000u;

// Both sides' first packet: who they are. Its layout never changes, so that
// any two versions can tell each other apart.
struct HelloPacket {
    uint16_t protocol = PROTOCOL_VERSION;
    std::string gameVersion; // 1 to MAX_GAME_VERSION_LENGTH printable ASCII characters
};

// The host's answer to a matching Hello: what both need to start the same
// match (always two players).
struct StartPacket {
    MatchStart start;
};

// The sender's recent inputs, sent every frame, unreliably: each packet
// repeats every input the receiver has not yet acknowledged.
struct InputsPacket {
    uint32_t senderFrames = 0;   // frames the sender has run
    uint32_t receivedFrames = 0; // the receiver's frames whose inputs the sender holds
    uint32_t firstFrame = 0;     // the frame of inputs[0]
    std::vector<uint8_t> inputs; // frame buttons, one per frame from firstFrame
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
// frames, at most MAX_INPUTS_PER_PACKET inputs of ALL_FRAME_BUTTONS, a start
// of two players and a known ball).
bool readPacket(const uint8_t *data, size_t size, Packet &packet);
