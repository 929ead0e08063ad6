// Recording matches into replay files.
#include "replay.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "match.h"
#include "randgen.h"
#include "snapshot.h"
#include "version.h"

namespace {
// Every local match of this run, when --record names a file.
MatchRecorder localRecorder;

// Writes all the bytes and pushes them to the disk.
bool writeDurably(FILE *file, const std::string &bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
           std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}
} // namespace

MatchEnd currentMatchEnd() {
    MatchEnd end;
    end.scores[0] = static_cast<uint8_t>(Players[0].getScore());
    end.scores[1] = static_cast<uint8_t>(Players[1].getScore());
    end.quitFlag = static_cast<int8_t>(quitFlag);
    end.seed = randomSeed();
    end.hash = matchHash();
    return end;
}

MatchRecorder::~MatchRecorder() {
    if (file_ != nullptr)
        std::fclose(file_);
}

Status MatchRecorder::open(const std::string &path) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ != nullptr && writeDurably(file_, encodeReplayHeader(GAME_VERSION)))
        return {};
    return cannotWrite();
}

Status MatchRecorder::cannotWrite() {
    const Status failed{"Replay file " + path_ + ": cannot be written: " + std::strerror(errno)};
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr; // a part of a record would spoil every later one
    return failed;
}

void MatchRecorder::beginMatch(const MatchStart &start) {
    match_ = RecordedMatch{};
    match_.start = start;
    overlongFrameMs_ = 0;
}

void MatchRecorder::addFrame(const FrameInput &input, int elapsedMs) {
    if (elapsedMs < 0 || elapsedMs > MAX_RECORDED_FRAME_MS) {
        if (overlongFrameMs_ == 0)
            overlongFrameMs_ = elapsedMs;
        return;
    }
    match_.frames.push_back({encodeFrameInput(input), static_cast<uint8_t>(elapsedMs)});
}

Status MatchRecorder::finishMatch(const MatchEnd &end) {
    if (overlongFrameMs_ != 0)
        return {"Replay file " + path_ + ": a match with a frame of " +
                std::to_string(overlongFrameMs_) + " ms is left out"};
    match_.end = end;
    return writeDurably(file_, encodeMatchRecord(match_)) ? Status{} : cannotWrite();
}

Status startRecording(const std::string &path) { return localRecorder.open(path); }

void recordMatchStart(const MatchStart &start) {
    if (localRecorder.isOpen())
        localRecorder.beginMatch(start);
}

void recordFrame(const FrameInput &input, int elapsedMs) {
    if (localRecorder.isOpen())
        localRecorder.addFrame(input, elapsedMs);
}

void recordMatchEnd() {
    if (!localRecorder.isOpen())
        return;
    const Status finished = localRecorder.finishMatch(currentMatchEnd());
    if (!finished.ok())
        fprintf(stderr, "%s\n", finished.error.c_str());
}
