// libFuzzer target for the replay reader (tools/fuzz_replay.sh builds and
// runs it). Whatever the bytes, decodeReplay must return without a crash, a
// leak or a large allocation (the script caps single allocations), and a file
// it accepts must encode back to exactly its own bytes: the reader neither
// drops nor invents anything.
//
// Random bytes almost never carry a right checksum, so each input is also
// read a second time with every match record's checksum put right (zlib's
// CRC-32, the one the format names): that reaches the checks of the values.
#include <cstdlib>
#include <cstring>
#include <string>
#include <zlib.h>

#include "replayfile.h"

namespace {
// The layout of docs/replay-format.md.
constexpr size_t MAGIC_AND_VERSION_BYTES = 10;
constexpr size_t FRAME_COUNT_AT = 6; // within a record
constexpr size_t RECORD_START_BYTES = 10;
constexpr size_t RECORD_END_BYTES = 15;
constexpr size_t CHECKSUM_BYTES = 4;

uint32_t readLittle32(const std::string &bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

// The bytes with the checksum of every whole record recomputed.
std::string withChecksumsPutRight(std::string bytes) {
    if (bytes.size() <= MAGIC_AND_VERSION_BYTES)
        return bytes;
    size_t at = MAGIC_AND_VERSION_BYTES + 1 + static_cast<uint8_t>(bytes[MAGIC_AND_VERSION_BYTES]);
    while (at + RECORD_START_BYTES <= bytes.size()) {
        const uint64_t frames = readLittle32(bytes, at + FRAME_COUNT_AT);
        const uint64_t length = RECORD_START_BYTES + 2 * frames + RECORD_END_BYTES;
        if (at + length + CHECKSUM_BYTES > bytes.size())
            break;
        const uint32_t crc =
            crc32(0, reinterpret_cast<const Bytef *>(bytes.data() + at), static_cast<uInt>(length));
        for (int i = 0; i < 4; ++i)
            bytes[at + length + i] = static_cast<char>(crc >> (8 * i));
        at += length + CHECKSUM_BYTES;
    }
    return bytes;
}

void checkRead(const uint8_t *data, size_t size) {
    const ReplayContents contents = decodeReplay(data, size);
    if (!contents.error.empty()) {
        if (!contents.matches.empty())
            std::abort(); // a refused file hands out no match
        return;
    }
    std::string again = encodeReplayHeader(contents.gameVersion);
    for (const RecordedMatch &match : contents.matches)
        again += encodeMatchRecord(match);
    if (again.size() != size || std::memcmp(again.data(), data, size) != 0)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    checkRead(data, size);
    const std::string sealed =
        withChecksumsPutRight(std::string(reinterpret_cast<const char *>(data), size));
    checkRead(reinterpret_cast<const uint8_t *>(sealed.data()), sealed.size());
    return 0;
}
