#include "signalling.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

namespace {

using Json = nlohmann::ordered_json;

const char *const TOPIC_PREFIX = "korrin-tavrel/1/";
const char *const TOPIC_SALT = "korrin-tavrel room ";
const char *const KEY_SALT = "korrin-tavrel key ";
const char *const TYPE_NAMES[] = {"knock", "here", "offer", "answer", "candidate"};

std::array<uint8_t, SHA256_DIGEST_LENGTH> sha256(const std::string &text) {
    std::array<uint8_t, SHA256_DIGEST_LENGTH> digest{};
    SHA256(reinterpret_cast<const unsigned char *>(text.data()), text.size(), digest.data());
    return digest;
}

std::string hex(const uint8_t *bytes, size_t size) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; i++) {
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 0xf];
    }
    return text;
}

bool isPeerId(const Json &value) {
    if (!value.is_string())
        return false;
    const auto &id = value.get_ref<const std::string &>();
    return id.size() == PEER_ID_DIGITS && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// JSON numbers are read as the page reads them: 1.0 is the integer 1.
bool readConn(const Json &value, int &conn) {
    if (!value.is_number())
        return false;
    double number = value.get<double>();
    for (int c = 0; c < ROOM_CONNECTIONS; c++) {
        if (number == c) {
            conn = c;
            return true;
        }
    }
    return false;
}

bool readString(const Json &object, const char *name, std::string &field) {
    auto it = object.find(name);
    if (it == object.end() || !it->is_string())
        return false;
    field = it->get<std::string>();
    return true;
}

bool readPeer(const Json &object, const char *name, std::string &field) {
    auto it = object.find(name);
    if (it == object.end() || !isPeerId(*it))
        return false;
    field = it->get<std::string>();
    return true;
}

// The fields of the message's own type, after type, room and from.
bool readTypeFields(const Json &object, SignalMessage &message) {
    switch (message.type) {
    case SignalType::Knock:
        return readString(object, "role", message.role);
    case SignalType::Here:
        return true;
    case SignalType::Offer:
    case SignalType::Answer: {
        auto conn = object.find("conn");
        return readPeer(object, "to", message.to) && conn != object.end() &&
               readConn(*conn, message.conn) && readString(object, "sdp", message.sdp);
    }
    case SignalType::Candidate: {
        auto conn = object.find("conn");
        return readPeer(object, "to", message.to) && conn != object.end() &&
               readConn(*conn, message.conn) &&
               readString(object, "candidate", message.candidate) &&
               readString(object, "mid", message.mid);
    }
    }
    return false;
}

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

} // namespace

std::string roomTopic(const std::string &room) {
    auto digest = sha256(TOPIC_SALT + room);
    return TOPIC_PREFIX + hex(digest.data(), digest.size());
}

RoomKey roomKey(const std::string &room) { return sha256(KEY_SALT + room); }

std::string newPeerId() {
    uint8_t bytes[PEER_ID_DIGITS / 2];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        abort(); // OpenSSL seeds itself from the system: this does not fail
    return hex(bytes, sizeof bytes);
}

std::string signalText(const SignalMessage &message) {
    Json object;
    object["type"] = TYPE_NAMES[static_cast<int>(message.type)];
    object["room"] = message.room;
    object["from"] = message.from;
    switch (message.type) {
    case SignalType::Knock:
        object["role"] = message.role;
        break;
    case SignalType::Here:
        break;
    case SignalType::Offer:
    case SignalType::Answer:
        object["to"] = message.to;
        object["conn"] = message.conn;
        object["sdp"] = message.sdp;
        break;
    case SignalType::Candidate:
        object["to"] = message.to;
        object["conn"] = message.conn;
        object["candidate"] = message.candidate;
        object["mid"] = message.mid;
        break;
    }
    return object.dump();
}

std::vector<uint8_t> sealSignal(const SignalMessage &message, const RoomKey &key,
                                const SignalIv &iv) {
    std::string text = signalText(message);
    std::vector<uint8_t> payload(SIGNAL_MIN_PAYLOAD + text.size());
    payload[0] = SIGNAL_VERSION;
    std::copy(iv.begin(), iv.end(), payload.begin() + 1);
    uint8_t *sealed = payload.data() + 1 + SIGNAL_IV_BYTES;
    CipherContext context(EVP_CIPHER_CTX_new());
    int written = 0, last = 0;
    // Our own text under a valid key and IV: OpenSSL fails here only without memory.
    if (!context ||
        EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), iv.data()) != 1 ||
        EVP_EncryptUpdate(context.get(), sealed, &written,
                          reinterpret_cast<const unsigned char *>(text.data()),
                          static_cast<int>(text.size())) != 1 ||
        EVP_EncryptFinal_ex(context.get(), sealed + written, &last) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, SIGNAL_TAG_BYTES,
                            sealed + text.size()) != 1)
        abort();
    return payload;
}

std::vector<uint8_t> sealSignal(const SignalMessage &message, const RoomKey &key) {
    SignalIv iv{};
    if (RAND_bytes(iv.data(), static_cast<int>(iv.size())) != 1)
        abort(); // as in newPeerId
    return sealSignal(message, key, iv);
}

const char *refusalName(SignalRefusal refusal) {
    static const char *const NAMES[SIGNAL_REFUSALS] = {
        "none",
        "huge",
        "truncated",
        "newer version",
        "malformed",
        "not of this room, or damaged",
        "not a JSON object",
        "missing or ill-typed field",
        "another room",
        "own echo",
        "unknown type",
        "not for us",
    };
    return NAMES[static_cast<size_t>(refusal)];
}

bool refusalIsOrdinary(SignalRefusal refusal) {
    return refusal == SignalRefusal::OwnEcho || refusal == SignalRefusal::UnknownType ||
           refusal == SignalRefusal::NotForUs;
}

SignalRefusal openSignal(const uint8_t *payload, size_t size, const std::string &room,
                         const RoomKey &key, const std::string &self, SignalMessage &message) {
    if (size > SIGNAL_MAX_PAYLOAD)
        return SignalRefusal::Huge;
    if (size < SIGNAL_MIN_PAYLOAD)
        return SignalRefusal::Truncated;
    if (payload[0] > SIGNAL_VERSION)
        return SignalRefusal::NewerVersion;
    if (payload[0] < SIGNAL_VERSION)
        return SignalRefusal::Malformed;
    const uint8_t *iv = payload + 1;
    const uint8_t *sealed = iv + SIGNAL_IV_BYTES;
    size_t textSize = size - SIGNAL_MIN_PAYLOAD;
    std::string text(textSize, '\0');
    uint8_t tag[SIGNAL_TAG_BYTES];
    std::copy(sealed + textSize, sealed + textSize + SIGNAL_TAG_BYTES, tag);
    CipherContext context(EVP_CIPHER_CTX_new());
    int written = 0, last = 0;
    auto *plain = reinterpret_cast<unsigned char *>(&text[0]);
    if (!context ||
        EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), iv) != 1 ||
        EVP_DecryptUpdate(context.get(), plain, &written, sealed, static_cast<int>(textSize)) !=
            1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, SIGNAL_TAG_BYTES, tag) != 1 ||
        EVP_DecryptFinal_ex(context.get(), plain + written, &last) != 1)
        return SignalRefusal::Damaged;
    return readSignalText(text, room, self, message);
}

SignalRefusal readSignalText(const std::string &text, const std::string &room,
                             const std::string &self, SignalMessage &message) {
    Json object = Json::parse(text, nullptr, false);
    if (!object.is_object())
        return SignalRefusal::NotJson;
    SignalMessage read;
    std::string type;
    if (!readString(object, "type", type) || !readString(object, "room", read.room) ||
        !readPeer(object, "from", read.from))
        return SignalRefusal::BadField;
    if (read.room != room)
        return SignalRefusal::AnotherRoom;
    if (read.from == self)
        return SignalRefusal::OwnEcho;
    size_t index = 0;
    while (index < std::size(TYPE_NAMES) && type != TYPE_NAMES[index])
        index++;
    if (index == std::size(TYPE_NAMES))
        return SignalRefusal::UnknownType;
    read.type = static_cast<SignalType>(index);
    if (!readTypeFields(object, read))
        return SignalRefusal::BadField;
    if (!read.to.empty() && read.to != self)
        return SignalRefusal::NotForUs;
    message = read;
    return SignalRefusal::None;
}
