// The web build's additions to Emscripten's SDL 1.2 (its library_sdl.js),
// linked by tools/web.sh with --js-library: each function here replaces the
// stock one of the same name, where the stock one is missing or behaves
// unlike the desktop libraries the game is made for (SDL 1.2, SDL_mixer
// 1.2.12, SDL_ttf 2.0.11). The game's C++ stays as it is.

mergeInto(LibraryManager.library, {
  // ---- The clock, and a hidden tab

  // A hidden tab gets one timer a second: a match would run on unseen, a
  // second's worth of play per frame. So the game's clock stops while the
  // page is hidden, and goes on from the same reading when it is back.
  // SDL also hears of it as it would of a minimised window: an
  // SDL_ACTIVEEVENT losing (then regaining) the input focus and the
  // visibility, which the game may pause on.
  $KorrinClock__deps: ['$SDL', 'malloc'],
  $KorrinClock__postset: 'document.addEventListener("visibilitychange", KorrinClock.onVisibilityChange);',
  $KorrinClock: {
    hiddenMs: 0,       // milliseconds spent hidden, all told
    hiddenSince: null, // Date.now() when the page was last hidden, while it is

    // Milliseconds since SDL_Init, the time hidden left out.
    now: function() {
      var hiddenNow = KorrinClock.hiddenSince === null ? 0 : Date.now() - KorrinClock.hiddenSince;
      return Date.now() - SDL.startTime - KorrinClock.hiddenMs - hiddenNow;
    },

    onVisibilityChange: function() {
      var hidden = document.hidden;
      if (hidden && KorrinClock.hiddenSince === null) {
        KorrinClock.hiddenSince = Date.now();
      } else if (!hidden && KorrinClock.hiddenSince !== null) {
        KorrinClock.hiddenMs += Date.now() - KorrinClock.hiddenSince;
        KorrinClock.hiddenSince = null;
      }
      // Before SDL_Init there is no event queue, and nothing to pause.
      if (SDL.keyboardState) KorrinClock.pushActiveEvent(hidden ? 0 : 1);
    },

    // Queues an SDL 1.2 SDL_ActiveEvent as SDL_PushEvent would: a pointer to
    // a C event, which SDL_PollEvent copies out. Its layout in Emscripten's
    // SDL_events.h: Uint32 type, then Uint8 gain, then Uint8 state.
    pushActiveEvent: function(gain) {
      var SDL_ACTIVEEVENT = 0x7000; // SDL_EVENT_COMPAT1 in SDL_compat.h
      var SDL_APPINPUTFOCUS = 0x02;
      var SDL_APPACTIVE = 0x04;
      var event = _malloc({{{ C_STRUCTS.SDL_KeyboardEvent.__size__ }}});
      HEAPU32[event >> 2] = SDL_ACTIVEEVENT;
      HEAPU8[event + 4] = gain;
      HEAPU8[event + 5] = SDL_APPINPUTFOCUS | SDL_APPACTIVE;
      SDL.events.push(event);
    },
  },

  SDL_GetTicks__deps: ['$KorrinClock'],
  SDL_GetTicks: function() {
    return KorrinClock.now() | 0;
  },

  // ---- Start and end

  // The stock functions print a line of their own ("... called (and
  // ignored)") among the game's lines, which the desktop libraries do not.
  SDL_Quit__deps: ['SDL_AudioQuit'],
  SDL_Quit: function() {
    _SDL_AudioQuit();
  },
  TTF_Quit: function() {},

  // ---- Video

  // Missing from the stock library. Its surfaces are all 32-bit canvases:
  // a copy is already in the screen's format.
  SDL_DisplayFormat__deps: ['SDL_ConvertSurface'],
  SDL_DisplayFormat: function(surf) {
    return _SDL_ConvertSurface(surf, 0, 0);
  },

  // The page switches fullscreen itself on F11, inside the key press, where
  // browsers allow it (the stock function asks for pointer lock and resizes
  // the canvas, and the picture went black). The game's own F11 call
  // then has nothing left to do.
  SDL_WM_ToggleFullScreen: function(surf) {
    return 1;
  },

  // ---- Sound

  // Each mixer channel plays through a stereo stage of its own: a gain per
  // side, set by Mix_SetPosition, into `output`, which feeds the speakers.
  // The stock library pans with a PannerNode, whose centre gives each side
  // 0.71 of full instead of SDL_mixer's full.
  $KorrinMixer__deps: ['$SDL'],
  $KorrinMixer: {
    stage: function(channel) {
      var info = SDL.channels[channel];
      if (!info.stage) {
        var context = SDL.audioContext;
        var stage = {
          // Up-mixes a mono sound to both sides, as SDL_mixer converts every
          // chunk to the stereo it opened the device with.
          input: new GainNode(context, {channelCount: 2, channelCountMode: 'explicit',
                                        channelInterpretation: 'speakers'}),
          split: new ChannelSplitterNode(context, {numberOfOutputs: 2}),
          left: new GainNode(context),
          right: new GainNode(context),
          output: new ChannelMergerNode(context, {numberOfInputs: 2}),
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

    stop: function(info) {
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
  Mix_SetPosition: function(channel, angle, distance) {
    var MAX_U8 = 255;
    var QUADRANT_END = 89; // SDL_mixer divides each quadrant by 89, not 90
    angle = Math.abs(angle) % 360;
    var left = MAX_U8, right = MAX_U8;
    if (angle < 90) {
      left = MAX_U8 - Math.floor(MAX_U8 * angle / QUADRANT_END);
    } else if (angle < 180) {
      left = Math.floor(MAX_U8 * (angle - 90) / QUADRANT_END);
    } else if (angle < 270) {
      right = MAX_U8 - Math.floor(MAX_U8 * (angle - 180) / QUADRANT_END);
    } else {
      right = Math.floor(MAX_U8 * (angle - 270) / QUADRANT_END);
    }
    var nearness = (MAX_U8 - distance) / MAX_U8;
    var stage = KorrinMixer.stage(channel);
    stage.left.gain.value = left / MAX_U8 * nearness;
    stage.right.gain.value = right / MAX_U8 * nearness;
    return 1;
  },

  // As SDL_mixer does, a sound started on a busy channel replaces the one
  // playing there (the stock function let both play on).
  Mix_PlayChannel__deps: ['$KorrinMixer'],
  Mix_PlayChannel: function(channel, id, loops) {
    var chunk = SDL.audios[id];
    if (!chunk || !chunk.webAudio) return -1;
    if (channel == -1) {
      channel = SDL.channels.findIndex(function(info, i) {
        return i >= SDL.channelMinimumNumber && !info.audio;
      });
      if (channel == -1) return -1;
    }
    var info = SDL.channels[channel];
    KorrinMixer.stop(info);
    var stage = KorrinMixer.stage(channel);
    var playing = {paused: false, webAudioNode: null, webAudioGainNode: null};
    info.audio = playing;

    function start() {
      if (info.audio !== playing) return; // replaced while its chunk was decoding
      var context = SDL.audioContext;
      var source = new AudioBufferSourceNode(context, {buffer: chunk.webAudio.decodedBuffer});
      // SDL_mixer plays a chunk 1 + loops times; -1 loops for ever.
      source.loop = loops != 0;
      if (loops > 0) source.stop(context.currentTime + (loops + 1) * source.buffer.duration);
      // Mix_Volume (the stock one) sets this gain while the sound plays.
      var volume = new GainNode(context, {gain: info.volume});
      source.connect(volume).connect(stage.input);
      source.onended = function() {
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

  // ---- Text

  // SDL_ttf reads the font file when it is opened, and fails when it cannot:
  // here the file's bytes become a web font of the page, and the game waits
  // (through Asyncify) until the browser has loaded it.
  TTF_OpenFont__deps: ['$KorrinFonts'],
  TTF_OpenFont: function(filename, size) {
    var name = UTF8ToString(filename);
    var bytes;
    try {
      bytes = FS.readFile(name);
    } catch (e) {
      KorrinFonts.setError("Couldn't open " + name);
      return 0;
    }
    return Asyncify.handleSleep(function(wakeUp) {
      var family = 'korrin-font-' + SDL.fonts.length;
      var face = new FontFace(family, bytes);
      face.load().then(function() {
        document.fonts.add(face);
        var id = SDL.fonts.length;
        SDL.fonts.push(KorrinFonts.describe(family, bytes, size));
        wakeUp(id);
      }, function() {
        KorrinFonts.setError("Couldn't load font file");
        wakeUp(0);
      });
    });
  },

  // SDL_ttf's Solid rendering: the text laid out as SDL_ttf 2.0.11 lays it
  // out, on a transparent surface, every pixel the glyphs fully cover in the
  // colour, and no others (no anti-aliasing).
  TTF_RenderText_Solid__deps: ['$KorrinFonts'],
  TTF_RenderText_Solid: function(font, text, color) {
    var fontData = SDL.fonts[font];
    var rgb = [HEAPU8[color], HEAPU8[color + 1], HEAPU8[color + 2]];
    var pixels = KorrinFonts.render(fontData, UTF8ToString(text), rgb);
    var surf = SDL.makeSurface(pixels.width, pixels.height, 0, false, 'text');
    SDL.surfaces[surf].ctx.putImageData(pixels, 0, 0);
    return surf;
  },

  $KorrinFonts__deps: ['$SDL'],
  $KorrinFonts: {
    setError: function(message) {
      if (SDL.errorMessage) _free(SDL.errorMessage);
      SDL.errorMessage = allocateUTF8(message);
    },

    // What SDL_ttf takes from the font file at a size: FreeType scales the
    // font's units to pixels at 72 dpi (one point, one pixel), and the line
    // is ascent - descent + 1 pixels high, from 'hhea', rounded up.
    describe: function(family, bytes, size) {
      var data = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
      var tables = {};
      var count = data.getUint16(4);
      for (var i = 0; i < count; i++) {
        var entry = 12 + 16 * i;
        var tag = String.fromCharCode(bytes[entry], bytes[entry + 1], bytes[entry + 2], bytes[entry + 3]);
        tables[tag] = data.getUint32(entry + 8);
      }
      var unitsPerEm = data.getUint16(tables['head'] + 18);
      var toPixels = function(units) {
        // FreeType's 26.6 fixed point, then its ceiling
        return Math.ceil(Math.round(units * size * 64 / unitsPerEm) / 64);
      };
      return {
        name: family,
        size: size,
        ascent: toPixels(data.getInt16(tables['hhea'] + 4)),
        descent: toPixels(data.getInt16(tables['hhea'] + 6)),
        rendered: new Map(), // text and colour -> ImageData: scores repeat every frame
      };
    },

    // The text as SDL_ttf 2.0.11's TTF_RenderText_Solid draws it: each glyph
    // at the pen, the pen moved on by the glyph's advance; the surface as
    // wide as the glyphs' extent (the last advance included) and a line
    // high, the baseline at the ascent.
    render: function(font, text, rgb) {
      var key = text + '/' + rgb.join(',');
      var cached = font.rendered.get(key);
      if (cached) return cached;

      var canvas = document.createElement('canvas');
      var context = canvas.getContext('2d', {willReadFrequently: true});
      context.font = font.size + 'px "' + font.name + '"';
      var glyphs = [];
      var pen = 0, minX = 0, maxX = 0;
      for (var ch of text) {
        var metrics = context.measureText(ch);
        var advance = Math.ceil(metrics.width);
        var left = Math.floor(-metrics.actualBoundingBoxLeft);
        var right = Math.ceil(metrics.actualBoundingBoxRight);
        minX = Math.min(minX, pen + left);
        maxX = Math.max(maxX, pen + Math.max(advance, right));
        glyphs.push({ch: ch, x: pen});
        pen += advance;
      }
      canvas.width = Math.max(1, maxX - minX);
      canvas.height = font.ascent - font.descent + 1;
      context.font = font.size + 'px "' + font.name + '"'; // a resize resets it
      glyphs.forEach(function(glyph) {
        context.fillText(glyph.ch, glyph.x - minX, font.ascent);
      });
      var pixels = context.getImageData(0, 0, canvas.width, canvas.height);
      var FULLY_COVERED = 255;
      for (var p = 0; p < pixels.data.length; p += 4) {
        var covered = pixels.data[p + 3] == FULLY_COVERED;
        pixels.data[p] = rgb[0];
        pixels.data[p + 1] = rgb[1];
        pixels.data[p + 2] = rgb[2];
        pixels.data[p + 3] = covered ? 255 : 0;
      }
      font.rendered.set(key, pixels);
      return pixels;
    },
  },
});
