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

Status readHello(ByteReader &in, HelloPacket &hello) {
    if (in.left() < HELLO_FIXED_SIZE - 1)
        return {"a Hello cut short"};
    if (!std::equal(std::begin(HELLO_MAGIC), std::end(HELLO_MAGIC), in.here()))
        return {"a Hello of another program"};
    in.skip(sizeof HELLO_MAGIC);
    hello.protocol = static_cast<uint16_t>(in.next(2));
    const size_t length = in.next(1);
    const size_t fingerprint = hello.protocol >= FINGERPRINT_PROTOCOL ? FINGERPRINT_SIZE : 0;
    const size_t stamp = hello.protocol >= STAMP_PROTOCOL ? STAMP_SIZE : 0;
    if (in.left() != length + fingerprint + stamp)
        return {"a Hello whose size is not that of its fields"};
    hello.gameVersion.assign(reinterpret_cast<const char *>(in.here()), length);
    in.skip(length);
    hello.rules = in.next(static_cast<int>(fingerprint));
    hello.sentMs = static_cast<uint32_t>(in.next(static_cast<int>(stamp)));
    if (!printableVersion(hello.gameVersion))
        return {"a Hello whose game version is empty, too long or not printable"};
    return {};
}

Status readStart(ByteReader &in, StartPacket &start) {
    if (in.left() != START_SIZE - 1)
        return {"a Start whose size is not that of one"};
    start.start.seed = static_cast<int32_t>(static_cast<uint32_t>(in.next(4)));
    start.start.players = static_cast<uint8_t>(in.next(1));
    start.start.ballType = static_cast<uint8_t>(in.next(1));
    start.sinceStartMs = static_cast<uint32_t>(in.next(4));
    start.echoMs = static_cast<uint32_t>(in.next(4));
    if (start.start.players != ONLINE_PLAYERS || start.start.ballType >= BALL_TYPES)
        return {"a Start not of two players, or of a ball that does not exist"};
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
    if (!std::all_of(inputs.inputs.begin(), inputs.inputs.end(),
                     [](uint8_t input) { return (input & ~ALL_FRAME_BUTTONS) == 0; }))
        return {"inputs with buttons that do not exist"};
    return {};
}

} // namespace

std::vector<uint8_t> writePacket(const HelloPacket &hello) {
    std::vector<uint8_t> out;
    putLittleEndian(out, static_cast<uint8_t>(PacketType::Hello), 1);
    out.insert(out.end(), std::begin(HELLO_MAGIC), std::end(HELLO_MAGIC));
    putLittleEndian(out, hello.protocol, 2);
    putLittleEndian(out, static_cast<uint8_t>(hello.gameVersion.size()), 1);
    out.insert(out.end(), hello.gameVersion.begin(), hello.gameVersion.end());
    if (hello.protocol >= FINGERPRINT_PROTOCOL)
        putLittleEndian(out, hello.rules, FINGERPRINT_SIZE);
    if (hello.protocol >= STAMP_PROTOCOL)
        putLittleEndian(out, hello.sentMs, STAMP_SIZE);
    return out;
}

std::vector<uint8_t> writePacket(const StartPacket &start) {
    std::vector<uint8_t> out;
    putLittleEndian(out, static_cast<uint8_t>(PacketType::Start), 1);
    putLittleEndian(out, static_cast<uint32_t>(start.start.seed), 4);
    putLittleEndian(out, start.start.players, 1);
    putLittleEndian(out, start.start.ballType, 1);
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
    }
    read.error = taken.error;
    return read;
}
