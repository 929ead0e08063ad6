// Recording matches into replay files.
#include "replay.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "init.h"
#include "randgen.h"
#include "snapshot.h"

#ifndef KORRIN_VERSION
#error "the build gives the game's version as KORRIN_VERSION"
#endif

namespace {
// Every local match of this run, when --record names a file.
MatchRecorder localRecorder;

// Writes all the bytes and pushes them to the disk.
bool writeDurably(FILE *file, const std::string &bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
           std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}
} // namespace

uint8_t frameButtons(const FrameInput &input) {
    return static_cast<uint8_t>(
        (input.up[0] ? BUTTON_UP_1 : 0) | (input.down[0] ? BUTTON_DOWN_1 : 0) |
        (input.up[1] ? BUTTON_UP_2 : 0) | (input.down[1] ? BUTTON_DOWN_2 : 0) |
        (input.leave ? BUTTON_LEAVE : 0));
}

FrameInput frameInputOf(uint8_t buttons) {
    FrameInput input{};
    input.up[0] = (buttons & BUTTON_UP_1) != 0;
    input.down[0] = (buttons & BUTTON_DOWN_1) != 0;
    input.up[1] = (buttons & BUTTON_UP_2) != 0;
    input.down[1] = (buttons & BUTTON_DOWN_2) != 0;
    input.leave = (buttons & BUTTON_LEAVE) != 0;
    return input;
}

MatchStart currentMatchStart() {
    return {randomSeed(), static_cast<uint8_t>(numPlayers), static_cast<uint8_t>(ballType)};
}

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

std::string MatchRecorder::open(const std::string &path) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ != nullptr && writeDurably(file_, encodeReplayHeader(KORRIN_VERSION)))
        return "";
    return cannotWrite();
}

std::string MatchRecorder::cannotWrite() {
    const std::string line =
        "Replay file " + path_ + ": cannot be written: " + std::strerror(errno);
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr; // a part of a record would spoil every later one
    return line;
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
    match_.frames.push_back({frameButtons(input), static_cast<uint8_t>(elapsedMs)});
}

std::string MatchRecorder::finishMatch(const MatchEnd &end) {
    if (overlongFrameMs_ != 0)
        return "Replay file " + path_ + ": a match with a frame of " +
               std::to_string(overlongFrameMs_) + " ms is left out";
    match_.end = end;
    return writeDurably(file_, encodeMatchRecord(match_)) ? "" : cannotWrite();
}

bool startRecording(const std::string &path) {
    const std::string error = localRecorder.open(path);
    if (!error.empty())
        fprintf(stderr, "%s\n", error.c_str());
    return error.empty();
}

void recordMatchStart() {
    if (localRecorder.isOpen())
        localRecorder.beginMatch(currentMatchStart());
}

void recordFrame(const FrameInput &input, int elapsedMs) {
    if (localRecorder.isOpen())
        localRecorder.addFrame(input, elapsedMs);
}

void recordMatchEnd() {
    if (!localRecorder.isOpen())
        return;
    const std::string error = localRecorder.finishMatch(currentMatchEnd());
    if (!error.empty())
        fprintf(stderr, "%s\n", error.c_str());
}
