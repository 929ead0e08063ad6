// libFuzzer target for the network's packet reader: any bytes are read
// without a crash or a read past their end, and a packet the reader takes is
// exactly what the writer makes of what it read (no field half-checked, no
// byte ignored but those after a watcher's start of another protocol, unread).
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "packets.h"

namespace {
std::vector<uint8_t> rewrite(const Packet &packet) {
    switch (packet.type) {
    case PacketType::Hello:
        return writePacket(packet.hello);
    case PacketType::Start:
        return writePacket(packet.start);
    case PacketType::Inputs:
        return writePacket(packet.inputs);
    case PacketType::WatchStart:
        return writePacket(packet.watchStart);
    case PacketType::WatchInputs:
        return writePacket(packet.watchInputs);
    case PacketType::WatchAck:
        return writeWatchAck(packet.watchAck);
    }
    abort(); // the reader took a type it does not know
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Result<Packet> read = readPacket(data, size);
    if (!read.ok())
        return 0;
    std::vector<uint8_t> written = rewrite(read.value);
    if (read.value.type == PacketType::WatchStart &&
        read.value.watchStart.hello.protocol != PROTOCOL_VERSION) { // the Hello's part alone
        written.resize(written.size() - writePacket(WatchStartPacket{}).size() +
                       writePacket(HelloPacket{}).size());
        size = std::min(size, written.size());
    }
    if (written != std::vector<uint8_t>(data, data + size))
        abort();
    return 0;
}
