// The replay file's bytes, little-endian throughout.
#include "replayfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <utility>

#include "bytes.h"
#include "version.h"

namespace {
// A match's start: seed, players, ball; its end: scores, quitFlag, end seed,
// hash. Version 1 has the frame count after the start, version 2 a count
// before each block (0 before the end).
constexpr size_t MATCH_SETUP_BYTES = 4 + 1 + 1;
constexpr size_t FRAME_COUNT_BYTES = 4;
constexpr size_t MATCH_END_BYTES = 2 + 1 + 4 + 8;
constexpr size_t CHECKSUM_BYTES = 4;
constexpr size_t FRAME_BYTES = 2;
constexpr size_t BLOCK_COUNT_BYTES = 1;
constexpr uint8_t END_MARK = 0;
constexpr uint32_t CRC32_POLYNOMIAL = 0xedb88320u; // reflected, as zlib's

// zlib's crc32(): the CRC-32 of earlier bytes whose CRC-32 was crc, followed
// by these (0 for none before).
uint32_t crc32(uint32_t crc, const uint8_t *data, size_t size) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (CRC32_POLYNOMIAL & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t crc32(uint32_t crc, const std::string &bytes) {
    return crc32(crc, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

void putSetup(std::string &out, const MatchStart &start) {
    putLittleEndian(out, static_cast<uint32_t>(start.seed), 4);
    putLittleEndian(out, start.players, 1);
    putLittleEndian(out, start.ballType, 1);
}

void putFrame(std::string &out, const RecordedFrame &frame) {
    out.push_back(static_cast<char>(frame.buttons));
    out.push_back(static_cast<char>(frame.ms));
}

void putEnd(std::string &out, const MatchEnd &end) {
    putLittleEndian(out, end.scores[0], 1);
    putLittleEndian(out, end.scores[1], 1);
    putLittleEndian(out, static_cast<uint8_t>(end.quitFlag), 1);
    putLittleEndian(out, static_cast<uint32_t>(end.seed), 4);
    putLittleEndian(out, end.hash, 8);
}

// The readers below have checked that the bytes are there.
MatchStart takeSetup(ByteReader &in) {
    const auto seed = static_cast<int32_t>(static_cast<uint32_t>(in.next(4)));
    const auto players = static_cast<uint8_t>(in.next(1));
    return {seed, players, static_cast<uint8_t>(in.next(1))};
}

void takeFrames(ByteReader &in, size_t count, std::vector<RecordedFrame> &frames) {
    for (size_t i = 0; i < count; ++i) {
        frames.push_back({in.here()[0], in.here()[1]});
        in.skip(FRAME_BYTES);
    }
}

MatchEnd takeEnd(ByteReader &in) {
    MatchEnd end;
    end.scores[0] = static_cast<uint8_t>(in.next(1));
    end.scores[1] = static_cast<uint8_t>(in.next(1));
    end.quitFlag = static_cast<int8_t>(in.next(1));
    end.seed = static_cast<int32_t>(static_cast<uint32_t>(in.next(4)));
    end.hash = in.next(8);
    return end;
}

Status readHeader(ByteReader &in, uint64_t &version, std::string &gameVersion) {
    if (in.left() == 0)
        return {"empty file, not a replay"};
    if (in.left() < sizeof REPLAY_MAGIC ||
        std::memcmp(in.here(), REPLAY_MAGIC, sizeof REPLAY_MAGIC) != 0)
        return {"not a Korrin Tavrel replay"};
    in.skip(sizeof REPLAY_MAGIC);
    uint64_t length = 0;
    if (!in.take(version, 2))
        return {"truncated in its header"};
    if (version < OLDEST_REPLAY_FORMAT_VERSION || version > REPLAY_FORMAT_VERSION)
        return {"replay format version " + std::to_string(version) + ", this game reads versions " +
                std::to_string(OLDEST_REPLAY_FORMAT_VERSION) + " to " +
                std::to_string(REPLAY_FORMAT_VERSION)};
    if (!in.take(length, 1) || in.left() < length)
        return {"truncated in its header"};
    if (length == 0 || length > MAX_GAME_VERSION_LENGTH)
        return {"corrupted header (game version of " + std::to_string(length) + " bytes)"};
    for (size_t i = 0; i < length; ++i)
        if (in.here()[i] < ' ' || in.here()[i] > '~')
            return {"corrupted header (game version not printable)"};
    gameVersion.assign(reinterpret_cast<const char *>(in.here()), length);
    in.skip(length);
    return {};
}

// Whether the values of a record whose checksums hold are in range (of a
// match cut off, those it holds), or which is not.
Status checkValues(const RecordedMatch &match) {
    if (match.start.players != 1 && match.start.players != 2)
        return {"a number of players of " + std::to_string(match.start.players)};
    if (match.start.ballType >= BALL_TYPES)
        return {"ball " + std::to_string(match.start.ballType)};
    for (size_t i = 0; i < match.frames.size(); ++i) {
        const RecordedFrame &frame = match.frames[i];
        if ((frame.buttons & ~ALL_FRAME_BUTTONS) != 0)
            return {"unknown buttons in frame " + std::to_string(i + 1)};
        if (frame.ms > MAX_RECORDED_FRAME_MS)
            return {"a frame of " + std::to_string(frame.ms) + " ms"};
    }
    if (match.cutOff)
        return {};
    const MatchEnd &end = match.end;
    if (end.scores[0] > WINNING_SCORE || end.scores[1] > WINNING_SCORE)
        return {"a score above " + std::to_string(WINNING_SCORE)};
    if (end.quitFlag != 1 && end.quitFlag != 2 && end.quitFlag != -1)
        return {"an end flag of " + std::to_string(end.quitFlag)};
    return {};
}

// Reads a version 1 record, written whole as its match ended, or says what
// is wrong with it.
Status readWholeMatch(ByteReader &in, RecordedMatch &match) {
    const uint8_t *record = in.here();
    const size_t recordStart = in.at();
    if (in.left() < MATCH_SETUP_BYTES + FRAME_COUNT_BYTES)
        return {"truncated"};
    match.start = takeSetup(in);
    const uint64_t frames = in.next(FRAME_COUNT_BYTES);
    // Checked before anything is allocated: the frames must be in the file.
    if (frames == 0)
        return {"corrupted (no frames)"};
    if (frames > (in.left() - std::min(in.left(), MATCH_END_BYTES + CHECKSUM_BYTES)) / FRAME_BYTES)
        return {"truncated"};
    match.frames.reserve(frames);
    takeFrames(in, frames, match.frames);
    // The size check above leaves room for the end state and the checksum.
    match.end = takeEnd(in);
    const uint32_t computed = crc32(0, record, in.at() - recordStart);
    if (computed != in.next(CHECKSUM_BYTES))
        return {"corrupted (checksum mismatch)"};
    return {};
}

// A version 2 piece of `size` bytes at the reader, then its checksum: whole
// and sound (crc then covers both), cut off by the file's end, or damaged.
enum class Piece { Sound, CutOff, Damaged };

Piece checkPiece(const ByteReader &in, size_t size, uint32_t &crc) {
    if (in.left() < size + CHECKSUM_BYTES)
        return Piece::CutOff;
    crc = crc32(crc, in.here(), size);
    ByteReader checksum(in.here() + size, CHECKSUM_BYTES);
    const bool sound = checksum.next(CHECKSUM_BYTES) == crc;
    crc = crc32(crc, in.here() + size, CHECKSUM_BYTES);
    return sound ? Piece::Sound : Piece::Damaged;
}

// Reads a version 2 record, written while its match was played: whole, or
// cut off by the file's end after its start (then match.cutOff); or says
// what is wrong with it.
Status readStreamedMatch(ByteReader &in, RecordedMatch &match) {
    uint32_t crc = 0;
    const Piece start = checkPiece(in, MATCH_SETUP_BYTES, crc);
    if (start != Piece::Sound) // the start is written at once: a cut there is a torn write
        return {start == Piece::CutOff ? "truncated" : "corrupted (checksum mismatch)"};
    match.start = takeSetup(in);
    in.skip(CHECKSUM_BYTES);
    for (;;) {
        const size_t count = in.left() > 0 ? in.here()[0] : END_MARK; // none left: a cut

        const size_t size =
            BLOCK_COUNT_BYTES + (count == END_MARK ? MATCH_END_BYTES : FRAME_BYTES * count);
        const Piece piece = checkPiece(in, size, crc);
        if (piece == Piece::CutOff) {
            in.skip(in.left()); // what a killed game wrote of its last piece
            match.cutOff = true;
            return {};
        }
        if (piece == Piece::Damaged)
            return {"corrupted (checksum mismatch)"};
        in.skip(BLOCK_COUNT_BYTES);
        if (count == END_MARK)
            break;
        takeFrames(in, count, match.frames);
        in.skip(CHECKSUM_BYTES);
    }
    match.end = takeEnd(in);
    in.skip(CHECKSUM_BYTES);
    if (match.frames.empty())
        return {"corrupted (no frames)"};
    return {};
}
} // namespace

std::string encodeReplayHeader(const std::string &gameVersion) {
    std::string out(REPLAY_MAGIC, sizeof REPLAY_MAGIC);
    putLittleEndian(out, REPLAY_FORMAT_VERSION, 2);
    putLittleEndian(out, gameVersion.size(), 1);
    out += gameVersion;
    return out;
}

std::string MatchRecordEncoder::sealed(std::string piece) {
    crc_ = crc32(crc_, piece);
    putLittleEndian(piece, crc_, CHECKSUM_BYTES);
    crc_ =
        crc32(crc_, reinterpret_cast<const uint8_t *>(piece.data()) + piece.size() - CHECKSUM_BYTES,
              CHECKSUM_BYTES);
    return piece;
}

std::string MatchRecordEncoder::start(const MatchStart &start) {
    crc_ = 0;
    block_.clear();
    blockMs_ = 0;
    std::string piece;
    putSetup(piece, start);
    return sealed(piece);
}

std::string MatchRecordEncoder::addFrame(const RecordedFrame &frame) {
    block_.push_back(frame);
    blockMs_ += frame.ms;
    const bool full = block_.size() == MAX_BLOCK_FRAMES || blockMs_ >= BLOCK_PLAY_MS;
    return full ? rest() : "";
}

std::string MatchRecordEncoder::rest() {
    if (block_.empty())
        return "";
    std::string piece;
    piece.reserve(BLOCK_COUNT_BYTES + FRAME_BYTES * block_.size() + CHECKSUM_BYTES);
    putLittleEndian(piece, block_.size(), BLOCK_COUNT_BYTES);
    for (const RecordedFrame &frame : block_)
        putFrame(piece, frame);
    block_.clear();
    blockMs_ = 0;
    return sealed(piece);
}

std::string MatchRecordEncoder::end(const MatchEnd &end) {
    std::string piece(1, static_cast<char>(END_MARK));
    putEnd(piece, end);
    return rest() + sealed(piece);
}

std::string encodeMatchRecord(const RecordedMatch &match) {
    MatchRecordEncoder encoder;
    std::string out = encoder.start(match.start);
    for (const RecordedFrame &frame : match.frames)
        out += encoder.addFrame(frame);
    return out + (match.cutOff ? encoder.rest() : encoder.end(match.end));
}

Result<ReplayContents> decodeReplay(const uint8_t *data, size_t size) {
    Result<ReplayContents> read;
    ReplayContents &contents = read.value;
    ByteReader in(data, size);
    uint64_t version = 0;
    if (Status header = readHeader(in, version, contents.gameVersion); !header.ok()) {
        read.error = std::move(header.error);
        return read;
    }
    while (in.left() > 0) {
        RecordedMatch match;
        Status taken = version == OLDEST_REPLAY_FORMAT_VERSION ? readWholeMatch(in, match)
                                                               : readStreamedMatch(in, match);
        if (taken.ok()) {
            if (const Status values = checkValues(match); !values.ok())
                taken.error = "corrupted (" + values.error + ")";
        }
        if (!taken.ok()) {
            read.error =
                "match " + std::to_string(contents.matches.size() + 1) + " is " + taken.error;
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
