// Shared ground for the in-process tests: real SDL on the dummy video driver
// and the disk audio driver, and, for test programs linked with the linker's
// --wrap, a fake clock and a recorder of blits.
#pragma once

#include <SDL.h>
#include <SDL_mixer.h>

#include <ostream>
#include <string>
#include <vector>

// Rectangles compared field by field, and shown as (x, y, w, h) in failure
// messages. In the global namespace, with SDL_Rect, so that the gtest macros
// find them by argument lookup.
inline bool operator==(const SDL_Rect &a, const SDL_Rect &b) {
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}
inline bool operator!=(const SDL_Rect &a, const SDL_Rect &b) { return !(a == b); }
inline void PrintTo(const SDL_Rect &r, std::ostream *os) {
    *os << "(" << r.x << ", " << r.y << ", " << r.w << ", " << r.h << ")";
}

namespace harness {

// Points SDL at the dummy video driver and at a disk audio file of this
// process's own (made at the first call, removed at exit), and makes the
// repository root (where img/ and snd/ are) the working directory. Fails the
// test if it cannot.
void prepareMedia();

// prepareMedia, then initGame. Safe to call more than once; fails the test if
// start-up fails.
void startGame();

// The raw 16-bit stereo samples the disk audio driver has written so far.
std::vector<Sint16> diskAudioSamples();

// A 32-bit surface of the given size, for pixel checks.
SDL_Surface *makeSurface(int w, int h);

// Holds or releases a key in SDL's key-state array, as the game reads it.
void holdKey(SDLKey key, bool down = true);
void releaseAllKeys();

// A 440 Hz tone of the given length held in memory as a mixer chunk (44.1 kHz,
// 16-bit stereo, both sides alike), so that sound checks do not depend on the
// game's own files; an amplitude of 0 gives silence. The destructor halts
// every channel and frees the chunk.
struct Tone {
    explicit Tone(int milliseconds, Sint16 amplitude = 8000);
    ~Tone();
    Tone(const Tone &) = delete;
    Tone &operator=(const Tone &) = delete;

    std::vector<Sint16> samples; // interleaved stereo
    Mix_Chunk *chunk;
};

// A folder of its own under /tmp holding a copy of every asset of the game
// ("img/...", "snd/...") but the one named, for start-ups that must fail on
// it. Removed with the object, or at exit when the process ends with exit()
// (a death test's child). Throws when the copy cannot be made or the name is
// not one of the assets.
class AssetsWithout {
  public:
    explicit AssetsWithout(const std::string &missing);
    ~AssetsWithout();
    AssetsWithout(const AssetsWithout &) = delete;
    AssetsWithout &operator=(const AssetsWithout &) = delete;
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

// Reads everything the code under test prints to stdout between the
// constructor and lines().
class StdoutCapture {
  public:
    StdoutCapture();
    ~StdoutCapture();
    std::vector<std::string> lines();

  private:
    int savedFd_;
    std::string path_;
    bool done_ = false;
};

} // namespace harness

// ---- The fake clock, blit recorder and gamepads, for tests linked with
// FAKE_SDL (see tests/CMakeLists.txt)
namespace fake {

// A gamepad as SDL's joystick calls see it, with one hat and buttons enough
// for either layout.
struct Pad {
    Uint8 hat = SDL_HAT_CENTERED;
    Sint16 stickY = 0;       // axis 1, the left stick's vertical (down is positive)
    std::vector<int> held{}; // the buttons down
    int buttons = 22;        // how many it has: fewer lack a layout's buttons
};

struct Blit {
    SDL_Surface *source;
    SDL_Rect sourceRect;         // as given (zero when none was)
    SDL_Rect destGiven;          // the destination rectangle as handed to the blit
    SDL_Rect destDrawn;          // what the blit wrote back into it
    const SDL_Rect *destAddress; // which rectangle object was handed over
};

// While false (the default) the wrapped calls go to the real SDL.
extern bool clockIsFake;
extern Uint32 now;                 // the fake SDL_GetTicks reading
extern Uint32 ticksPerRead;        // added to now after every reading
extern std::vector<Uint32> delays; // every SDL_Delay asked for, in order
extern std::vector<Blit> blits;    // every blit, in order, whatever clockIsFake says
// SDL lists these pads, and no others, as its joysticks (the game's openPads
// opens them); a test may change their state at any time.
extern std::vector<Pad> pads;
// When set, SDL_Linked_Version returns it (sdl12-compat is 1.2.50 and above).
extern const SDL_version *linkedVersion;

// Everything back to the real SDL, the pads the game opened closed first.
void reset();
} // namespace fake
