// libFuzzer target for the replay reader (tools/fuzz.sh replay builds and
// runs it). Whatever the bytes, decodeReplay returns without a crash, a leak
// or a large allocation (the script caps single allocations), and the matches
// of a file it accepts, whole or cut off, written again read back the same.
// Random bytes almost never carry a right checksum, so each input is read
// again with every version 1 record's CRC-32 put right: that reaches the
// checks of the values (a version 2 file, in pieces, is reached cut).
#include <cstdlib>
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

std::string withChecksumsPutRight(std::string bytes) {
    if (bytes.size() <= MAGIC_AND_VERSION_BYTES)
        return bytes;
    size_t at = MAGIC_AND_VERSION_BYTES + 1 + static_cast<uint8_t>(bytes[MAGIC_AND_VERSION_BYTES]);
    while (at + RECORD_START_BYTES <= bytes.size()) {
        uint64_t frames = 0; // little-endian
        for (size_t i = 0; i < 4; ++i)
            frames |= uint64_t{static_cast<uint8_t>(bytes[at + FRAME_COUNT_AT + i])} << (8 * i);
        const uint64_t length = RECORD_START_BYTES + 2 * frames + RECORD_END_BYTES;
        if (at + length + CHECKSUM_BYTES > bytes.size())
            break;
        const uint32_t crc =
            crc32(0, reinterpret_cast<const Bytef *>(bytes.data() + at), static_cast<uInt>(length));
        for (size_t i = 0; i < CHECKSUM_BYTES; ++i)
            bytes[at + length + i] = static_cast<char>(crc >> (8 * i));
        at += length + CHECKSUM_BYTES;
    }
    return bytes;
}

std::string encoded(const ReplayContents &contents) {
    std::string out = encodeReplayHeader(contents.gameVersion);
    for (const RecordedMatch &match : contents.matches)
        out += encodeMatchRecord(match);
    return out;
}

// The raw input is read where libFuzzer put it, so that a read past its end is seen.
void checkRead(const uint8_t *data, size_t size) {
    const Result<ReplayContents> read = decodeReplay(data, size);
    const ReplayContents &contents = read.value;
    if (!read.ok()) {
        if (!contents.matches.empty())
            std::abort(); // a refused file hands out no match
        return;
    }
    const std::string again = encoded(contents);
    const Result<ReplayContents> reread =
        decodeReplay(reinterpret_cast<const uint8_t *>(again.data()), again.size());
    if (!reread.ok() || encoded(reread.value) != again)
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
