// Sound effects on fixed mixer channels.
#include "sound.h"

#include <cstdio>
#include <string>
#include <utility>

#include "failure.h"

SND_Data hitSound = {};
SND_Data wallSound = {};

namespace {
constexpr int AUDIO_FREQUENCY = 44100;
constexpr int AUDIO_OUTPUT_CHANNELS = 2;
constexpr int AUDIO_CHUNK_SIZE = 4096;
constexpr Uint32 SILENCE_POLL_MS = 100;

// The mixer's line for a call that failed.
Status mixerFailure(const char *call) { return {std::string(call) + ": " + SDL_GetError()}; }

// The two steps of a play. Volume and position are set anew for every play,
// since channels are shared.
Status positionEffect(const SND_Data &sound) {
    Mix_Volume(sound.channel, sound.volume);
    if (Mix_SetPosition(sound.channel, sound.angle, sound.distance) == 0)
        return mixerFailure("Mix_SetPosition");
    return {};
}

Status startEffect(const SND_Data &sound) {
    if (Mix_PlayChannel(sound.channel, sound.chunk, sound.loops) == -1)
        return mixerFailure("Mix_PlayChannel");
    return {};
}
} // namespace

int initSound() {
    SDL_version compiled;
    MIX_VERSION(&compiled);
    printf("Compiled with SDL_mixer version: %d.%d.%d\n", compiled.major, compiled.minor,
           compiled.patch);

    if (Mix_OpenAudio(AUDIO_FREQUENCY, AUDIO_S16LSB, AUDIO_OUTPUT_CHANNELS, AUDIO_CHUNK_SIZE) ==
        -1) {
        printf("Mix_OpenAudio error: %s\n", SDL_GetError());
        return 1;
    }
    Mix_AllocateChannels(MIXER_CHANNELS);
    return 0;
}

void playEffect(const SND_Data &sound) {
    SND_Data record = sound;
    if (playSound(&record) != 0)
        printf("Mix_PlayChannel: %s\n", SDL_GetError());
}

void playMatchSounds(FrameSounds sounds) {
    if ((sounds & SOUND_WALL) != 0)
        playEffect(wallSound);
    for (const auto &[sound, angle] :
         {std::pair{SOUND_HIT_LEFT, ANGLE_LEFT}, std::pair{SOUND_HIT_RIGHT, ANGLE_RIGHT}}) {
        if ((sounds & sound) != 0) {
            hitSound.angle = angle;
            playEffect(hitSound);
        }
    }
}

void waitUntilSilent() {
    while (Mix_Playing(-1) > 0)
        SDL_Delay(SILENCE_POLL_MS);
}

int playSound(SND_Data *sound) {
    Status played = positionEffect(*sound);
    if (played.ok())
        played = startEffect(*sound);
    if (played.ok())
        return 0;
    puts(played.error.c_str());
    return 1;
}
