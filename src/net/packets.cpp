// The packets the two sides exchange.
#include "packets.h"

#include <algorithm>
#include <iterator>

#include "bytes.h"
#include "version.h"

namespace {
// The first bytes of a Hello: they tell a Korrin Tavrel peer from anything else.
constexpr uint8_t HELLO_MAGIC[4] = {'K', 'T', 'A', 'V'};
constexpr size_t HELLO_FIXED_SIZE = 1 + sizeof HELLO_MAGIC + 2 + 1;
constexpr size_t START_SIZE = 1 + 4 + 1 + 1 + 4 + 4;

constexpr size_t MATCH_START_SIZE = 4 + 1 + 1;
constexpr size_t WATCH_INPUTS_FIXED_SIZE = 1 + 4 + 4 + 1 + 2;
constexpr uint8_t LAST_BIT = 0x01;
constexpr size_t WATCH_ACK_SIZE = 1 + 4;

constexpr int FINGERPRINT_SIZE = 8;
constexpr int STAMP_SIZE = 4;

constexpr size_t INPUTS_FIXED_SIZE = 1 + 4 + 4 + 4 + 4 + 4 + 4 + 8 + 1 + 4 + 1;
// The verdict byte: the verdict in its low bits, and ENDED_BIT.
constexpr uint8_t VERDICT_BITS = 0x03;
constexpr uint8_t ENDED_BIT = 0x04;

bool printableVersion(const std::string &version) {
    return !version.empty() && version.size() <= MAX_GAME_VERSION_LENGTH &&
           std::all_of(version.begin(), version.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

// A Hello's fields, followed by trailing bytes of something else; of
// another protocol, whatever follows them is not read.
Status readHello(ByteReader &in, HelloPacket &hello, size_t trailing = 0) {
    if (in.left() < HELLO_FIXED_SIZE - 1)
        return {"a Hello cut short"};
    if (!std::equal(std::begin(HELLO_MAGIC), std::end(HELLO_MAGIC), in.here()))
        return {"a Hello of another program"};
    in.skip(sizeof HELLO_MAGIC);
    hello.protocol = static_cast<uint16_t>(in.next(2));
    const size_t length = in.next(1);
    const size_t fingerprint = hello.protocol >= FINGERPRINT_PROTOCOL ? FINGERPRINT_SIZE : 0;
    const size_t stamp = hello.protocol >= STAMP_PROTOCOL ? STAMP_SIZE : 0;
    const size_t fields = length + fingerprint + stamp;
    const bool followed = trailing > 0 && hello.protocol != PROTOCOL_VERSION;
    if (followed ? in.left() < fields : in.left() != fields + trailing)
        return {"a Hello whose size is not that of its fields"};
    hello.gameVersion.assign(reinterpret_cast<const char *>(in.here()), length);
    in.skip(length);
    hello.rules = in.next(static_cast<int>(fingerprint));
    hello.sentMs = static_cast<uint32_t>(in.next(static_cast<int>(stamp)));
    if (!printableVersion(hello.gameVersion))
        return {"a Hello whose game version is empty, too long or not printable"};
    return {};
}

Status readMatchStart(ByteReader &in, MatchStart &start) {
    start.seed = static_cast<int32_t>(static_cast<uint32_t>(in.next(4)));
    start.players = static_cast<uint8_t>(in.next(1));
    start.ballType = static_cast<uint8_t>(in.next(1));
    if (start.players != ONLINE_PLAYERS || start.ballType >= BALL_TYPES)
        return {"a Start not of two players, or of a ball that does not exist"};
    return {};
}

void putMatchStart(std::vector<uint8_t> &out, const MatchStart &start) {
    putLittleEndian(out, static_cast<uint32_t>(start.seed), 4);
    putLittleEndian(out, start.players, 1);
    putLittleEndian(out, start.ballType, 1);
}

Status readStart(ByteReader &in, StartPacket &start) {
    if (in.left() != START_SIZE - 1)
        return {"a Start whose size is not that of one"};
    const Status read = readMatchStart(in, start.start);
    start.sinceStartMs = static_cast<uint32_t>(in.next(4));
    start.echoMs = static_cast<uint32_t>(in.next(4));
    return read;
}

Status readWatchStart(ByteReader &in, WatchStartPacket &start) {
    if (const Status hello = readHello(in, start.hello, MATCH_START_SIZE); !hello.ok())
        return hello;
    if (start.hello.protocol != PROTOCOL_VERSION)
        return {};
    return readMatchStart(in, start.start);
}

bool validButtons(const std::vector<uint8_t> &inputs) {
    return std::all_of(inputs.begin(), inputs.end(),
                       [](uint8_t input) { return (input & ~ALL_FRAME_BUTTONS) == 0; });
}

Status readWatchInputs(ByteReader &in, WatchInputsPacket &inputs) {
    if (in.left() < WATCH_INPUTS_FIXED_SIZE - 1)
        return {"a watcher's inputs cut short"};
    inputs.firstFrame = static_cast<uint32_t>(in.next(4));
    inputs.liveFrames = static_cast<uint32_t>(in.next(4));
    const auto flags = static_cast<uint8_t>(in.next(1));
    inputs.last = (flags & LAST_BIT) != 0;
    const size_t count = in.next(2);
    if (count > MAX_WATCH_INPUTS_PER_PACKET || in.left() != count)
        return {"a watcher's inputs whose count is not that of the bytes, or too many"};
    if ((flags & ~LAST_BIT) != 0 || inputs.liveFrames >= FRAME_LIMIT ||
        inputs.firstFrame > inputs.liveFrames || inputs.liveFrames - inputs.firstFrame < count ||
        (inputs.last && inputs.liveFrames - inputs.firstFrame != count))
        return {"a watcher's inputs whose frames are out of range or order"};
    inputs.inputs.assign(in.here(), in.here() + count);
    if (!validButtons(inputs.inputs))
        return {"inputs with buttons that do not exist"};
    return {};
}

Status readWatchAck(ByteReader &in, uint32_t &frames) {
    if (in.left() != WATCH_ACK_SIZE - 1)
        return {"a watcher's acknowledgement whose size is not that of one"};
    frames = static_cast<uint32_t>(in.next(4));
    if (frames >= FRAME_LIMIT)
        return {"a watcher's acknowledgement past the frames' limit"};
    return {};
}

Status readInputs(ByteReader &in, InputsPacket &inputs) {
    if (in.left() < INPUTS_FIXED_SIZE - 1)
        return {"inputs cut short"};
    inputs.senderFrames = static_cast<uint32_t>(in.next(4));
    inputs.receivedFrames = static_cast<uint32_t>(in.next(4));
    inputs.firstFrame = static_cast<uint32_t>(in.next(4));
    inputs.checkedFrames = static_cast<uint32_t>(in.next(4));
    inputs.inputsCheck = static_cast<uint32_t>(in.next(4));
    inputs.hashedFrames = static_cast<uint32_t>(in.next(4));
    inputs.stateHash = in.next(8);
    const auto verdict = static_cast<uint8_t>(in.next(1));
    inputs.verdict = static_cast<Verdict>(verdict & VERDICT_BITS);
    inputs.ended = (verdict & ENDED_BIT) != 0;
    inputs.syncLostFrame = static_cast<uint32_t>(in.next(4));
    const size_t count = in.next(1);
    if (count > MAX_INPUTS_PER_PACKET || in.left() != count)
        return {"inputs whose count is not that of the bytes, or too many"};
    if (inputs.senderFrames >= FRAME_LIMIT || inputs.receivedFrames >= FRAME_LIMIT ||
        inputs.firstFrame > inputs.senderFrames ||
        inputs.senderFrames - inputs.firstFrame < count ||
        inputs.checkedFrames > inputs.senderFrames ||
        inputs.checkedFrames > inputs.receivedFrames ||
        inputs.hashedFrames > inputs.checkedFrames ||
        (inputs.hashedFrames == 0 && inputs.stateHash != 0))
        return {"inputs whose frames, checks or hash are out of range or order"};
    if ((verdict & ~(VERDICT_BITS | ENDED_BIT)) != 0 || inputs.verdict > Verdict::SyncLost ||
        (inputs.ended && inputs.verdict == Verdict::None) ||
        (inputs.verdict == Verdict::SyncLost ? inputs.syncLostFrame >= inputs.senderFrames
                                             : inputs.syncLostFrame != 0))
        return {"inputs with an unknown verdict, or the verdict's fields out of place"};
    inputs.inputs.assign(in.here(), in.here() + count);
    if (!validButtons(inputs.inputs))
        return {"inputs with buttons that do not exist"};
    return {};
}

void putHello(std::vector<uint8_t> &out, const HelloPacket &hello, PacketType type) {
    putLittleEndian(out, static_cast<uint8_t>(type), 1);
    out.insert(out.end(), std::begin(HELLO_MAGIC), std::end(HELLO_MAGIC));
    putLittleEndian(out, hello.protocol, 2);
    putLittleEndian(out, static_cast<uint8_t>(hello.gameVersion.size()), 1);
    out.insert(out.end(), hello.gameVersion.begin(), hello.gameVersion.end());
    if (hello.protocol >= FINGERPRINT_PROTOCOL)
        putLittleEndian(out, hello.rules, FINGERPRINT_SIZE);
    if (hello.protocol >= STAMP_PROTOCOL)
        putLittleEndian(out, hello.sentMs, STAMP_SIZE);
}

} // namespace

bool isWatchPacket(PacketType type) {
    return type == PacketType::WatchStart || type == PacketType::WatchInputs ||
           type == PacketType::WatchAck;
}

std::vector<uint8_t> writePacket(const HelloPacket &hello) {
    std::vector<uint8_t> out;
    putHello(out, hello, PacketType::Hello);
    return out;
}

std::vector<uint8_t> writePacket(const WatchStartPacket &start) {
    std::vector<uint8_t> out;
    putHello(out, start.hello, PacketType::WatchStart);
    putMatchStart(out, start.start);
    return out;
}

std::vector<uint8_t> writePacket(const WatchInputsPacket &inputs) {
    std::vector<uint8_t> out;
    putLittleEndian(out, static_cast<uint8_t>(PacketType::WatchInputs), 1);
    putLittleEndian(out, inputs.firstFrame, 4);
    putLittleEndian(out, inputs.liveFrames, 4);
    putLittleEndian(out, inputs.last ? LAST_BIT : 0, 1);
    putLittleEndian(out, static_cast<uint16_t>(inputs.inputs.size()), 2);
    out.insert(out.end(), inputs.inputs.begin(), inputs.inputs.end());
    return out;
}

std::vector<uint8_t> writeWatchAck(uint32_t frames) {
    std::vector<uint8_t> out;
    putLittleEndian(out, static_cast<uint8_t>(PacketType::WatchAck), 1);
    putLittleEndian(out, frames, 4);
    return out;
}

std::vector<uint8_t> writePacket(const StartPacket &start) {
    std::vector<uint8_t> out;
    putLittleEndian(out, static_cast<uint8_t>(PacketType::Start), 1);
    putMatchStart(out, start.start);
    putLittleEndian(out, start.sinceStartMs, 4);
    putLittleEndian(out, start.echoMs, 4);
    return out;
}

std::vector<uint8_t> writePacket(const InputsPacket &inputs) {
    std::vector<uint8_t> out;
    putLittleEndian(out, static_cast<uint8_t>(PacketType::Inputs), 1);
    putLittleEndian(out, inputs.senderFrames, 4);
    putLittleEndian(out, inputs.receivedFrames, 4);
    putLittleEndian(out, inputs.firstFrame, 4);
    putLittleEndian(out, inputs.checkedFrames, 4);
    putLittleEndian(out, inputs.inputsCheck, 4);
    putLittleEndian(out, inputs.hashedFrames, 4);
    putLittleEndian(out, inputs.stateHash, 8);
    putLittleEndian(out, static_cast<uint8_t>(inputs.verdict) | (inputs.ended ? ENDED_BIT : 0), 1);
    putLittleEndian(out, inputs.syncLostFrame, 4);
    putLittleEndian(out, static_cast<uint8_t>(inputs.inputs.size()), 1);
    out.insert(out.end(), inputs.inputs.begin(), inputs.inputs.end());
    return out;
}

Result<Packet> readPacket(const uint8_t *data, size_t size) {
    Result<Packet> read;
    if (size == 0) {
        read.error = "an empty packet";
        return read;
    }
    ByteReader in(data, size);
    const auto type = static_cast<uint8_t>(in.next(1));
    Packet &packet = read.value;
    packet.type = static_cast<PacketType>(type);
    Status taken{"a packet of unknown type " + std::to_string(type)};
    switch (packet.type) {
    case PacketType::Hello:
        taken = readHello(in, packet.hello);
        break;
    case PacketType::Start:
        taken = readStart(in, packet.start);
        break;
    case PacketType::Inputs:
        taken = readInputs(in, packet.inputs);
        break;
    case PacketType::WatchStart:
        taken = readWatchStart(in, packet.watchStart);
        break;
    case PacketType::WatchInputs:
        taken = readWatchInputs(in, packet.watchInputs);
        break;
    case PacketType::WatchAck:
        taken = readWatchAck(in, packet.watchAck);
        break;
    }
    read.error = taken.error;
    return read;
}
