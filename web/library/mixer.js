// Sound: SDL_mixer 1.2.12's channels, stereo placement and playing state over Web
// Audio, in place of Emscripten's own Mix_ functions.

mergeInto(LibraryManager.library, {
  // Each mixer channel plays through a stereo stage of its own: a gain per
  // side, set by Mix_SetPosition, into `output`, which feeds the speakers.
  // The stock library pans with a PannerNode, whose centre gives each side
  // 0.71 of full instead of SDL_mixer's full.
  //
  // Browsers keep the audio suspended until the player's first key, click or
  // touch, and some never start it (Firefox without a sound output). The
  // page asks for it again on each of those (all of them: the keys that
  // KorrinKeys keeps from SDL too) and on each pad button press (a pad may
  // not count as a player's gesture: then it stays silent).
  $KorrinMixer__deps: ['$SDL'],
  $KorrinMixer__postset:
    '["keydown", "mousedown", "touchstart"].forEach(function(type) {' +
    '  window.addEventListener(type, KorrinMixer.wake, true);' +
    '});',
  $KorrinMixer: {
    audible: function () {
      return !!SDL.audioContext && SDL.audioContext.state === 'running';
    },

    wake: function () {
      if (SDL.audioContext && SDL.audioContext.state === 'suspended') SDL.audioContext.resume();
    },

    stage: function (channel) {
      var info = SDL.channels[channel];
      if (!info.stage) {
        var context = SDL.audioContext;
        var stage = {
          // Up-mixes a mono sound to both sides, as SDL_mixer converts every
          // chunk to the stereo it opened the device with.
          input: new GainNode(context, {
            channelCount: 2,
            channelCountMode: 'explicit',
            channelInterpretation: 'speakers',
          }),
          split: new ChannelSplitterNode(context, { numberOfOutputs: 2 }),
          left: new GainNode(context),
          right: new GainNode(context),
          output: new ChannelMergerNode(context, { numberOfInputs: 2 }),
        };
        stage.input.connect(stage.split);
        stage.split.connect(stage.left, 0);
        stage.split.connect(stage.right, 1);
        stage.left.connect(stage.output, 0, 0);
        stage.right.connect(stage.output, 0, 1);
        stage.output.connect(context.destination);
        info.stage = stage;
      }
      return info.stage;
    },

    stop: function (info) {
      var playing = info.audio;
      info.audio = null;
      if (playing && playing.webAudioNode) {
        playing.webAudioNode.onended = null;
        playing.webAudioNode.stop();
      }
    },
  },

  // SDL_mixer 1.2.12's stereo placement: the side away from the angle fades
  // (90 degrees: right only, 270: left only, 0: both full), and distance
  // (0 near to 255 far) scales both sides by (255 - distance) / 255, so 100
  // gives 0.6078 of full. Measured with Debian's SDL_mixer on the disk
  // audio driver at 0, 90 and 270 degrees, and at distances 0 and 100.
  Mix_SetPosition__deps: ['$KorrinMixer'],
  Mix_SetPosition: function (channel, angle, distance) {
    var MAX_U8 = 255;
    var QUADRANT_END = 89; // SDL_mixer divides each quadrant by 89, not 90
    angle = Math.abs(angle) % 360;
    var left = MAX_U8,
      right = MAX_U8;
    if (angle < 90) {
      left = MAX_U8 - Math.floor((MAX_U8 * angle) / QUADRANT_END);
    } else if (angle < 180) {
      left = Math.floor((MAX_U8 * (angle - 90)) / QUADRANT_END);
    } else if (angle < 270) {
      right = MAX_U8 - Math.floor((MAX_U8 * (angle - 180)) / QUADRANT_END);
    } else {
      right = Math.floor((MAX_U8 * (angle - 270)) / QUADRANT_END);
    }
    var nearness = (MAX_U8 - distance) / MAX_U8;
    var stage = KorrinMixer.stage(channel);
    stage.left.gain.value = (left / MAX_U8) * nearness;
    stage.right.gain.value = (right / MAX_U8) * nearness;
    return 1;
  },

  // The game waits for its sounds to end before it leaves the menu or a
  // match; a sound the browser cannot play would never end. So while the
  // audio is not running no sound plays, and none counts as playing.
  Mix_Playing__deps: ['$KorrinMixer'],
  Mix_Playing: function (channel) {
    if (!KorrinMixer.audible()) return 0;
    var playing = function (info) {
      return info && info.audio && !info.audio.paused ? 1 : 0;
    };
    if (channel !== -1) return playing(SDL.channels[channel]);
    return SDL.channels.reduce(function (count, info) {
      return count + playing(info);
    }, 0);
  },

  // As SDL_mixer does, a sound started on a busy channel replaces the one
  // playing there (the stock function let both play on). Unheard, it ends
  // at once (see Mix_Playing).
  Mix_PlayChannel__deps: ['$KorrinMixer'],
  Mix_PlayChannel: function (channel, id, loops) {
    var chunk = SDL.audios[id];
    if (!chunk || !chunk.webAudio) return -1;
    if (channel === -1) {
      channel = SDL.channels.findIndex(function (info, i) {
        return i >= SDL.channelMinimumNumber && !info.audio;
      });
      if (channel === -1) return -1;
    }
    var info = SDL.channels[channel];
    KorrinMixer.stop(info);
    var stage = KorrinMixer.stage(channel);
    var playing = { paused: false, webAudioNode: null, webAudioGainNode: null };
    info.audio = playing;

    function start() {
      if (info.audio !== playing) return; // replaced while its chunk was decoding
      if (!KorrinMixer.audible()) {
        info.audio = null;
        return;
      }
      var context = SDL.audioContext;
      var source = new AudioBufferSourceNode(context, { buffer: chunk.webAudio.decodedBuffer });
      // SDL_mixer plays a chunk 1 + loops times; -1 loops for ever.
      source.loop = loops !== 0;
      if (loops > 0) source.stop(context.currentTime + (loops + 1) * source.buffer.duration);
      // Mix_Volume (the stock one) sets this gain while the sound plays.
      var volume = new GainNode(context, { gain: info.volume });
      source.connect(volume).connect(stage.input);
      source.onended = function () {
        if (info.audio === playing) info.audio = null;
      };
      playing.webAudioNode = source;
      playing.webAudioGainNode = volume;
      source.start();
    }
    // Loading a WAV decodes it in the background: play it once it is ready.
    if (chunk.webAudio.decodedBuffer) start();
    else chunk.webAudio.onDecodeComplete.push(start);
    return channel;
  },
});
