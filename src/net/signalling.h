// What two games say to each other in a room to meet (docs/signalling.md):
// the room's code, its MQTT topic and key, and the sealed messages, written
// byte for byte as the page writes them and read with every check before
// anything uses them. No broker and no connection here: fuzzed alone.
// (Not signal.h: that name is the C library's.)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t SIGNAL_VERSION = 1;
constexpr size_t SIGNAL_IV_BYTES = 12;
constexpr size_t SIGNAL_TAG_BYTES = 16;
// The least payload seals an empty text; the largest is well above an offer
// (1 to 3 KB) and is dropped unread beyond.
constexpr size_t SIGNAL_MIN_PAYLOAD = 1 + SIGNAL_IV_BYTES + SIGNAL_TAG_BYTES;
constexpr size_t SIGNAL_MAX_PAYLOAD = 16384;
constexpr size_t PEER_ID_DIGITS = 16;
// A joining side's connections to a host, conn 0 and 1, made at once.
constexpr int ROOM_CONNECTIONS = 2;

using RoomKey = std::array<uint8_t, 32>;
using SignalIv = std::array<uint8_t, SIGNAL_IV_BYTES>;

std::string roomTopic(const std::string &room);
RoomKey roomKey(const std::string &room);
// 16 random lowercase hex digits: a side's id in its room.
std::string newPeerId();

enum class SignalType { Knock, Here, Offer, Answer, Candidate };

// One message; the fields its type does not carry stay empty.
struct SignalMessage {
    SignalType type = SignalType::Knock;
    std::string room, from;
    std::string to;   // offer, answer, candidate
    std::string role; // knock: "join", or "watch" for a watcher
    int conn = 0;     // offer, answer, candidate
    std::string sdp;  // offer, answer
    std::string candidate, mid;
};

// The plaintext, as JavaScript's JSON.stringify writes it in the fields'
// order, and the payload that seals it under the key with the IV given (a
// fresh random one for each message sent).
std::string signalText(const SignalMessage &message);
std::vector<uint8_t> sealSignal(const SignalMessage &message, const RoomKey &key,
                                const SignalIv &iv);
std::vector<uint8_t> sealSignal(const SignalMessage &message, const RoomKey &key);

// Why a payload was not taken, in the order of the reader's checks. The
// last three are ordinary traffic, not faults.
enum class SignalRefusal {
    None,
    Huge,
    Truncated,
    NewerVersion,
    Malformed,
    Damaged,
    NotJson,
    BadField,
    AnotherRoom,
    OwnEcho,
    UnknownType,
    NotForUs,
};
constexpr size_t SIGNAL_REFUSALS = static_cast<size_t>(SignalRefusal::NotForUs) + 1;
const char *refusalName(SignalRefusal refusal);
bool refusalIsOrdinary(SignalRefusal refusal);

// Reads a payload of the room (its code and key) as the side with id self:
// None and the message, or why it was refused.
SignalRefusal openSignal(const uint8_t *payload, size_t size, const std::string &room,
                         const RoomKey &key, const std::string &self, SignalMessage &message);
// The checks after the decryption, on the plaintext.
SignalRefusal readSignalText(const std::string &text, const std::string &room,
                             const std::string &self, SignalMessage &message);
