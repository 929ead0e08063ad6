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
#include "failure.h"

// Raised whenever a packet's layout or meaning changes; both sides must agree.
constexpr uint16_t PROTOCOL_VERSION = 4;
// The first protocol whose Hello carries the rules' fingerprint, and the
// first whose Hello carries its sender's clock.
constexpr uint16_t FINGERPRINT_PROTOCOL = 3;
constexpr uint16_t STAMP_PROTOCOL = 4;

// ---- The packets
// (Type 4, a separate hash packet, belonged to protocol 2.)
// Types 5 to 7 pass only between a host and its watchers: a player's game
// counts them as bad packets, as an older game does (whose host never
// misreads them: it reads no type it does not know), so the protocol stays.
enum class PacketType : uint8_t {
    Hello = 1,
    Start = 2,
    Inputs = 3,
    WatchStart = 5,
    WatchInputs = 6,
    WatchAck = 7
};
bool isWatchPacket(PacketType type);

// Every packet from either side opens with its type byte.
// At most this many frames' inputs in one packet.
constexpr size_t MAX_INPUTS_PER_PACKET = 64;
// An online match is always one of two players.
constexpr uint8_t ONLINE_PLAYERS = 2;
// Frame counters stay below this (2^31 frames of 22 ms are 1.5 years).
constexpr uint32_t FRAME_LIMIT = 0x80000000u;

// Both sides' first packet: who they are. Its first fields (up to the game
// version) never change, so that any two versions can tell each other apart;
// from FINGERPRINT_PROTOCOL on, the rules' fingerprint follows them, and from
// STAMP_PROTOCOL on, the sender's clock.
struct HelloPacket {
    uint16_t protocol = PROTOCOL_VERSION;
    std::string gameVersion; // 1 to MAX_GAME_VERSION_LENGTH printable ASCII characters
    uint64_t rules = 0;      // rulesFingerprint() of the sender; 0 before FINGERPRINT_PROTOCOL
    uint32_t sentMs = 0;     // the sender's clock as it sent; 0 before STAMP_PROTOCOL
};

// The host's answer to a matching Hello, repeated until the joining side's
// inputs arrive: what both need to start the same match (always two players),
// how long ago the host's first frame was due, so that a joining side whose
// first Starts were lost still runs each frame when the host does, and the
// joining side's newest Hello's clock plus the time the host held it, which
// gives it the round trip.
struct StartPacket {
    MatchStart start;
    uint32_t sinceStartMs = 0;
    uint32_t echoMs = 0;
};

// What a side has concluded of the match's end, in every packet from then on:
// each side ends once it holds both verdicts, so that both say the same.
enum class Verdict : uint8_t {
    None = 0,
    Agreed = 1,   // the sender settled the match's end and both states agree on it
    SyncLost = 2, // the sender found the matches differ at syncLostFrame
};

// The sender's recent inputs, sent every frame, unreliably: each packet
// repeats every input the receiver has not yet acknowledged, and the checks
// of what the sender has settled, so that a lost packet costs nothing.
struct InputsPacket {
    uint32_t senderFrames = 0;   // frames the sender has run
    uint32_t receivedFrames = 0; // the receiver's frames whose inputs the sender holds
    uint32_t firstFrame = 0;     // the frame of inputs[0]
    std::vector<uint8_t> inputs; // frame buttons, one per frame from firstFrame
    // A running checksum of both players' inputs of frames 0 to checkedFrames - 1.
    uint32_t checkedFrames = 0;
    uint32_t inputsCheck = 0;
    // The hash of the state after frame hashedFrames - 1 (none for 0): the
    // sender's newest hash of a settled frame.
    uint32_t hashedFrames = 0;
    uint64_t stateHash = 0;
    Verdict verdict = Verdict::None;
    uint32_t syncLostFrame = 0; // 0 unless the verdict is SyncLost
    // The sender holds the receiver's verdict too: it has ended, and the
    // receiver need not confirm its own any longer.
    bool ended = false;
};

// The host's first packet to a watcher, repeated until acknowledged: who
// the host is (a watcher of another version is told as a player is) and the
// match both players started. Of another protocol, only the Hello is read.
struct WatchStartPacket {
    HelloPacket hello;
    MatchStart start;
};

// At most this many frames' inputs in one packet to a watcher (a byte each).
constexpr size_t MAX_WATCH_INPUTS_PER_PACKET = 960;

// The settled inputs of both players (encodeFrameInput), for a watcher: frames
// firstFrame on, of the host's liveFrames settled so far; last: the match
// ended in the last of them.
struct WatchInputsPacket {
    uint32_t firstFrame = 0;
    uint32_t liveFrames = 0;
    bool last = false;
    std::vector<uint8_t> inputs;
};

struct Packet {
    PacketType type = PacketType::Hello;
    HelloPacket hello;
    StartPacket start;
    InputsPacket inputs;
    WatchStartPacket watchStart;
    WatchInputsPacket watchInputs;
    uint32_t watchAck = 0; // a watcher holds the frames 0 to watchAck - 1 (0 also: the start)
};

std::vector<uint8_t> writePacket(const HelloPacket &hello);
std::vector<uint8_t> writePacket(const StartPacket &start);
std::vector<uint8_t> writePacket(const InputsPacket &inputs);
std::vector<uint8_t> writePacket(const WatchStartPacket &start);
std::vector<uint8_t> writePacket(const WatchInputsPacket &inputs);
std::vector<uint8_t> writeWatchAck(uint32_t frames);

// Reads a packet of size bytes. Fails, saying what is off (the value then
// unspecified), for anything but an exact packet of a known type with every value
// inside its range (frames below FRAME_LIMIT, inputs, checks and hashes no
// later than the sender's frames, a hash no later than the check, a check no
// later than the receiver's frames the sender holds, at most
// MAX_INPUTS_PER_PACKET inputs of ALL_FRAME_BUTTONS, a known verdict (a frame
// run only with a lost sync, an end only with a verdict), a start of two
// players and a known ball, a fingerprint exactly where the Hello's protocol
// has one; for a watcher: at most MAX_WATCH_INPUTS_PER_PACKET inputs, none past
// liveFrames, the last ending there).
Result<Packet> readPacket(const uint8_t *data, size_t size);
