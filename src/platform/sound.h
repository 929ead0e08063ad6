// Sound effects: opening the audio device and playing one effect on its own
// mixer channel with its volume and stereo position.
#pragma once

#include <SDL.h>
#include <SDL_mixer.h>

#include "match.h"

// One sound effect and how to play it.
struct SND_Data {
    Uint8 volume;     // channel volume; the mixer caps it at MIX_MAX_VOLUME
    Uint8 distance;   // 0 nearest (loudest) to 255 farthest
    Sint16 angle;     // degrees clockwise from ahead: 90 right, 270 left
    Mix_Chunk *chunk; // borrowed; its owner loads and frees it
    int channel;      // the mixer channel this effect always plays on
    int loops;        // extra repetitions; 0 plays once
};

// The mixer's channels: 1 carries paddle hits, 2 wall bounces and the menu.
constexpr int MIXER_CHANNELS = 4;
constexpr int HIT_CHANNEL = 1;
constexpr int WALL_CHANNEL = 2;
constexpr int MENU_CHANNEL = 2;
constexpr Uint8 EFFECT_VOLUME = 255;
// Stereo angles for a paddle hit on either side.
constexpr Sint16 ANGLE_RIGHT = 90;
constexpr Sint16 ANGLE_LEFT = 270;

// The match's effects: the paddle hit (its angle set before each play to the
// paddle's side) and the wall bounce. The match loads their chunks when it
// starts and frees them when it ends.
extern SND_Data hitSound;
extern SND_Data wallSound;

// Prints the mixer version line, opens the audio device (44.1 kHz, 16-bit
// stereo) and allocates the channels. Returns 0, or 1 after printing why not.
// Called once by initGame.
int initSound();

// playSound for the match and the menu, which carry on when the effect could
// not be played: after playSound's own line they add "Mix_PlayChannel: ...",
// whichever step failed.
void playEffect(const SND_Data &sound);
// Plays a frame's sounds on the match's records: the wall bounce, then a
// paddle hit with hitSound on that paddle's side of the stereo field.
void playMatchSounds(FrameSounds sounds);

// Returns once no mixer channel is playing, polling every 100 ms, so that no
// chunk is freed while the mixer still plays it.
void waitUntilSilent();

// Sets the channel's volume and position from the record, then starts the
// effect, replacing whatever the channel was playing. Returns at once:
// 0 when the effect started, 1 after printing why not.
int playSound(SND_Data *sound);
