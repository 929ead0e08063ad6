// The in-process test ground: SDL with dummy video and disk audio.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

#include "init.h"

#ifndef KORRIN_SOURCE_DIR
#error "KORRIN_SOURCE_DIR must name the repository root"
#endif

namespace harness {
namespace {
std::string diskAudioPath;
bool started = false;

void removeDiskAudio() {
    if (!diskAudioPath.empty())
        std::remove(diskAudioPath.c_str());
}

const std::string ASSETS[] = {"img/game.png",      "img/game-sprites.png", "img/menu.png",
                              "img/menu-opts.png", "img/hyperfont.ttf",    "snd/bounce.wav",
                              "snd/menu-opt.wav"};

void removeFoldersLeft();

// The asset folders not removed yet. Built before the handler is registered,
// so that the handler runs before the list is destroyed.
std::vector<std::string> &foldersLeft() {
    static std::vector<std::string> folders;
    static const bool handlerRegistered = std::atexit(removeFoldersLeft) == 0;
    (void)handlerRegistered;
    return folders;
}

void removeFoldersLeft() {
    std::error_code ignored;
    for (const std::string &folder : foldersLeft())
        std::filesystem::remove_all(folder, ignored);
}
} // namespace

void prepareMedia() {
    if (diskAudioPath.empty()) {
        char pattern[] = "/tmp/korrin-audio-XXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        diskAudioPath = pattern;
        std::atexit(removeDiskAudio);
    }
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", diskAudioPath.c_str(), 1);
    // Buffers go to the file about four times faster than real time.
    setenv("SDL_DISKAUDIODELAY", "20", 0);
    ASSERT_EQ(chdir(KORRIN_SOURCE_DIR), 0);
}

void startGame() {
    if (started)
        return;
    prepareMedia();
    if (::testing::Test::HasFatalFailure())
        return;

    StdoutCapture capture;
    const int status = initGame();
    const std::vector<std::string> printed = capture.lines();
    ASSERT_EQ(status, 0) << (printed.empty() ? "" : printed.back());
    started = true;
}

std::vector<Sint16> diskAudioSamples() {
    std::ifstream in(diskAudioPath, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Sint16> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<Sint16>(static_cast<Uint8>(bytes[2 * i]) |
                                         (static_cast<Uint8>(bytes[2 * i + 1]) << 8));
    return samples;
}

SDL_Surface *makeSurface(int w, int h) {
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0x00ff0000, 0x0000ff00, 0x000000ff, 0);
}

void holdKey(SDLKey key, bool down) { SDL_GetKeyState(nullptr)[key] = down ? 1 : 0; }

void releaseAllKeys() {
    int count = 0;
    Uint8 *keys = SDL_GetKeyState(&count);
    for (int i = 0; i < count; ++i)
        keys[i] = 0;
}

Tone::Tone(int milliseconds, Sint16 amplitude) {
    constexpr int SAMPLE_RATE = 44100;
    const int frames = SAMPLE_RATE * milliseconds / 1000;
    for (int i = 0; i < frames; ++i) {
        const Sint16 v =
            static_cast<Sint16>(amplitude * std::sin(i * 2 * M_PI * 440 / SAMPLE_RATE));
        samples.push_back(v);
        samples.push_back(v);
    }
    chunk = Mix_QuickLoad_RAW(reinterpret_cast<Uint8 *>(samples.data()),
                              static_cast<Uint32>(samples.size() * sizeof(Sint16)));
}

Tone::~Tone() {
    Mix_HaltChannel(-1);
    Mix_FreeChunk(chunk);
}

AssetsWithout::AssetsWithout(const std::string &missing) {
    if (std::find(std::begin(ASSETS), std::end(ASSETS), missing) == std::end(ASSETS))
        throw std::invalid_argument("not an asset of the game: " + missing);
    char pattern[] = "/tmp/korrin-assets-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    path_ = pattern;
    foldersLeft().push_back(path_);
    for (const std::string &asset : ASSETS) {
        if (asset == missing)
            continue;
        const std::filesystem::path to = path_ + "/" + asset;
        std::filesystem::create_directories(to.parent_path());
        std::filesystem::copy_file(std::string(KORRIN_SOURCE_DIR) + "/" + asset, to);
    }
}

AssetsWithout::~AssetsWithout() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::vector<std::string> &folders = foldersLeft();
    folders.erase(std::remove(folders.begin(), folders.end(), path_), folders.end());
}

StdoutCapture::StdoutCapture() {
    char pattern[] = "/tmp/korrin-stdout-XXXXXX";
    const int fd = mkstemp(pattern);
    path_ = pattern;
    fflush(stdout);
    savedFd_ = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

StdoutCapture::~StdoutCapture() { lines(); }

std::vector<std::string> StdoutCapture::lines() {
    if (!done_) {
        fflush(stdout);
        dup2(savedFd_, STDOUT_FILENO);
        close(savedFd_);
        done_ = true;
    }
    std::vector<std::string> result;
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    std::remove(path_.c_str());
    return result;
}

} // namespace harness
