// The replay file's bytes, little-endian throughout.
#include "replayfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "bytes.h"
#include "version.h"

namespace {
// A match record's bytes besides its frames: seed, players, ball, frame
// count; scores, quitFlag, end seed, hash; checksum.
constexpr size_t MATCH_START_BYTES = 4 + 1 + 1 + 4;
constexpr size_t MATCH_END_BYTES = 2 + 1 + 4 + 8;
constexpr size_t CHECKSUM_BYTES = 4;
constexpr size_t FRAME_BYTES = 2;
constexpr uint32_t CRC32_POLYNOMIAL = 0xedb88320u; // reflected, as zlib's

uint32_t crc32(const uint8_t *data, size_t size) {
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (CRC32_POLYNOMIAL & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string readHeader(ByteReader &in, std::string &gameVersion) {
    if (in.left() == 0)
        return "empty file, not a replay";
    if (in.left() < sizeof REPLAY_MAGIC ||
        std::memcmp(in.here(), REPLAY_MAGIC, sizeof REPLAY_MAGIC) != 0)
        return "not a Korrin Tavrel replay";
    in.skip(sizeof REPLAY_MAGIC);
    uint64_t version = 0, length = 0;
    if (!in.take(version, 2))
        return "truncated in its header";
    if (version != REPLAY_FORMAT_VERSION)
        return "replay format version " + std::to_string(version) + ", this game reads version " +
               std::to_string(REPLAY_FORMAT_VERSION);
    if (!in.take(length, 1) || in.left() < length)
        return "truncated in its header";
    if (length == 0 || length > MAX_GAME_VERSION_LENGTH)
        return "corrupted header (game version of " + std::to_string(length) + " bytes)";
    for (size_t i = 0; i < length; ++i)
        if (in.here()[i] < ' ' || in.here()[i] > '~')
            return "corrupted header (game version not printable)";
    gameVersion.assign(reinterpret_cast<const char *>(in.here()), length);
    in.skip(length);
    return "";
}

// What is wrong with a record whose checksum holds, or "".
std::string checkValues(const RecordedMatch &match) {
    if (match.start.players != 1 && match.start.players != 2)
        return "a number of players of " + std::to_string(match.start.players);
    if (match.start.ballType >= BALL_TYPES)
        return "ball " + std::to_string(match.start.ballType);
    for (size_t i = 0; i < match.frames.size(); ++i) {
        const RecordedFrame &frame = match.frames[i];
        if ((frame.buttons & ~ALL_FRAME_BUTTONS) != 0)
            return "unknown buttons in frame " + std::to_string(i + 1);
        if (frame.ms > MAX_RECORDED_FRAME_MS)
            return "a frame of " + std::to_string(frame.ms) + " ms";
    }
    const MatchEnd &end = match.end;
    if (end.scores[0] > WINNING_SCORE || end.scores[1] > WINNING_SCORE)
        return "a score above " + std::to_string(WINNING_SCORE);
    if (end.quitFlag != 1 && end.quitFlag != 2 && end.quitFlag != -1)
        return "an end flag of " + std::to_string(end.quitFlag);
    return "";
}

// Reads one match record; "" or what is wrong with it.
std::string readMatch(ByteReader &in, RecordedMatch &match) {
    const size_t recordStart = in.at();
    const uint8_t *recordBytes = in.here();
    uint64_t seed = 0, players = 0, ball = 0, frames = 0;
    if (!in.take(seed, 4) || !in.take(players, 1) || !in.take(ball, 1) || !in.take(frames, 4))
        return "truncated";
    // Checked before anything is allocated: the frames must be in the file.
    if (frames == 0)
        return "corrupted (no frames)";
    if (frames > (in.left() - std::min(in.left(), MATCH_END_BYTES + CHECKSUM_BYTES)) / FRAME_BYTES)
        return "truncated";
    match.start = {static_cast<int32_t>(static_cast<uint32_t>(seed)), static_cast<uint8_t>(players),
                   static_cast<uint8_t>(ball)};
    match.frames.resize(frames);
    for (RecordedFrame &frame : match.frames) {
        frame.buttons = in.here()[0];
        frame.ms = in.here()[1];
        in.skip(FRAME_BYTES);
    }
    // The size check above leaves room for the end state and the checksum.
    uint64_t score1 = 0, score2 = 0, quitFlag = 0, endSeed = 0, hash = 0, checksum = 0;
    in.take(score1, 1);
    in.take(score2, 1);
    in.take(quitFlag, 1);
    in.take(endSeed, 4);
    in.take(hash, 8);
    const uint32_t computed = crc32(recordBytes, in.at() - recordStart);
    in.take(checksum, 4);
    if (computed != checksum)
        return "corrupted (checksum mismatch)";
    match.end.scores[0] = static_cast<uint8_t>(score1);
    match.end.scores[1] = static_cast<uint8_t>(score2);
    match.end.quitFlag = static_cast<int8_t>(quitFlag);
    match.end.seed = static_cast<int32_t>(static_cast<uint32_t>(endSeed));
    match.end.hash = hash;
    const std::string wrong = checkValues(match);
    return wrong.empty() ? "" : "corrupted (" + wrong + ")";
}
} // namespace

std::string encodeReplayHeader(const std::string &gameVersion) {
    std::string out(REPLAY_MAGIC, sizeof REPLAY_MAGIC);
    putLittleEndian(out, REPLAY_FORMAT_VERSION, 2);
    putLittleEndian(out, gameVersion.size(), 1);
    out += gameVersion;
    return out;
}

std::string encodeMatchRecord(const RecordedMatch &match) {
    std::string out;
    out.reserve(MATCH_START_BYTES + FRAME_BYTES * match.frames.size() + MATCH_END_BYTES +
                CHECKSUM_BYTES);
    putLittleEndian(out, static_cast<uint32_t>(match.start.seed), 4);
    putLittleEndian(out, match.start.players, 1);
    putLittleEndian(out, match.start.ballType, 1);
    putLittleEndian(out, match.frames.size(), 4);
    for (const RecordedFrame &frame : match.frames) {
        out.push_back(static_cast<char>(frame.buttons));
        out.push_back(static_cast<char>(frame.ms));
    }
    putLittleEndian(out, match.end.scores[0], 1);
    putLittleEndian(out, match.end.scores[1], 1);
    putLittleEndian(out, static_cast<uint8_t>(match.end.quitFlag), 1);
    putLittleEndian(out, static_cast<uint32_t>(match.end.seed), 4);
    putLittleEndian(out, match.end.hash, 8);
    putLittleEndian(out, crc32(reinterpret_cast<const uint8_t *>(out.data()), out.size()), 4);
    return out;
}

Result<ReplayContents> decodeReplay(const uint8_t *data, size_t size) {
    Result<ReplayContents> read;
    ReplayContents &contents = read.value;
    ByteReader in(data, size);
    read.error = readHeader(in, contents.gameVersion);
    if (!read.ok())
        return read;
    while (in.left() > 0) {
        RecordedMatch match;
        const std::string wrong = readMatch(in, match);
        if (!wrong.empty()) {
            read.error = "match " + std::to_string(contents.matches.size() + 1) + " is " + wrong;
            contents.matches.clear();
            return read;
        }
        contents.matches.push_back(std::move(match));
    }
    if (contents.matches.empty())
        read.error = "holds no match";
    return read;
}

Result<ReplayContents> readReplayFile(const std::string &path) {
    const auto fail = [&](const std::string &what) {
        return Result<ReplayContents>{{}, "Replay file " + path + ": " + what};
    };
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return fail(std::string("cannot be opened: ") + std::strerror(errno));
    struct stat status {};
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) {
        std::fclose(file);
        return fail("not a regular file");
    }
    if (status.st_size > MAX_REPLAY_FILE_BYTES) {
        std::fclose(file);
        return fail("too large for a replay (" + std::to_string(status.st_size) +
                    " bytes, at most " + std::to_string(MAX_REPLAY_FILE_BYTES) + ")");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(status.st_size));
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError)
        return fail("cannot be read");
    Result<ReplayContents> read = decodeReplay(bytes.data(), got);
    return read.ok() ? read : fail(read.error);
}
