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
// The recorder whose match is being played, if any.
MatchRecorder *recording = nullptr;
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
    if (recording == this)
        recording = nullptr;
    if (file_ != nullptr)
        std::fclose(file_);
}

Status MatchRecorder::open(const std::string &path) {
    path_ = path;
    failed_ = {};
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr)
        return {"Replay file " + path_ + ": cannot be written: " + std::strerror(errno)};
    if (write(encodeReplayHeader(GAME_VERSION), true))
        return {};
    std::fclose(file_);
    file_ = nullptr;
    return failed_;
}

bool MatchRecorder::write(const std::string &bytes, bool sync) {
    if (!failed_.ok())
        return false;
    if (bytes.empty() && !sync)
        return true;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size() &&
                         std::fflush(file_) == 0 && (!sync || fsync(fileno(file_)) == 0);
    if (!written) // a part of a piece would spoil every later one
        stop(std::string("cannot be written: ") + std::strerror(errno));
    return written;
}

void MatchRecorder::stop(const std::string &why) {
    failed_ = {"Replay file " + path_ + ": " + why};
}

void MatchRecorder::beginMatch(const MatchStart &start) {
    recording = this;
    write(match_.start(start), false);
}

void MatchRecorder::addFrame(const FrameInput &input, int elapsedMs) {
    if (!failed_.ok())
        return;
    if (elapsedMs < 0 || elapsedMs > MAX_RECORDED_FRAME_MS) {
        if (write(match_.rest(), true))
            stop("a frame of " + std::to_string(elapsedMs) +
                 " ms cannot be recorded: the recording ends before it");
        return;
    }
    write(match_.addFrame({encodeFrameInput(input), static_cast<uint8_t>(elapsedMs)}), false);
}

Status MatchRecorder::finishMatch(const MatchEnd &end) {
    if (recording == this)
        recording = nullptr;
    if (write(match_.end(end), true))
        return {};
    std::fclose(file_);
    file_ = nullptr;
    return failed_;
}

void MatchRecorder::saveCutOff() { write(match_.rest(), true); }

void saveRecordingCutOff() {
    if (recording != nullptr)
        recording->saveCutOff();
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
