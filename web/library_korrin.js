// The web build's additions to Emscripten's SDL 1.2 (its library_sdl.js),
// linked by tools/web.sh with --js-library: each function here replaces the
// stock one of the same name, where the stock one is missing or behaves
// unlike the desktop libraries the game is made for (SDL 1.2, SDL_mixer
// 1.2.12, SDL_ttf 2.0.11). The game's C++ stays as it is.

mergeInto(LibraryManager.library, {
  // ---- The clock, a hidden tab and the focus

  // A hidden tab gets one timer a second: a match would run on unseen, a
  // second's worth of play per frame. So the game's clock stops while the
  // page is hidden, and goes on from the same reading when it is back;
  // but not in an online match (web/online.js sets Module.korrinOnline),
  // whose other player cannot wait: there it runs on, and the late frames
  // are run at once, each second and when the page is back.
  // SDL also hears of it as it would of a minimised window: an
  // SDL_ACTIVEEVENT losing (then regaining) the input focus and the
  // visibility, which the game may pause on. A window losing the focus
  // (another window in front, a click elsewhere) is told as SDL 1.2 tells
  // it: the input focus alone.
  $KorrinClock__deps: ['$SDL', 'malloc'],
  $KorrinClock__postset: 'document.addEventListener("visibilitychange", KorrinClock.onVisibilityChange);' +
                         'window.addEventListener("blur", KorrinClock.onFocusChange);' +
                         'window.addEventListener("focus", KorrinClock.onFocusChange);',
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
      if (hidden && KorrinClock.hiddenSince === null && !Module['korrinOnline']) {
        KorrinClock.hiddenSince = Date.now();
      } else if (!hidden && KorrinClock.hiddenSince !== null) {
        KorrinClock.hiddenMs += Date.now() - KorrinClock.hiddenSince;
        KorrinClock.hiddenSince = null;
      }
      KorrinClock.pushActiveEvent(hidden ? 0 : 1, KorrinClock.SDL_APPINPUTFOCUS | KorrinClock.SDL_APPACTIVE);
    },

    onFocusChange: function(event) {
      KorrinClock.pushActiveEvent(event.type === 'focus' ? 1 : 0, KorrinClock.SDL_APPINPUTFOCUS);
    },

    SDL_APPINPUTFOCUS: 0x02,
    SDL_APPACTIVE: 0x04,

    // Queues an SDL 1.2 SDL_ActiveEvent as SDL_PushEvent would: a pointer to
    // a C event, which SDL_PollEvent copies out. Its layout in Emscripten's
    // SDL_events.h: Uint32 type, then Uint8 gain, then Uint8 state.
    pushActiveEvent: function(gain, state) {
      // Before SDL_Init there is no event queue, and nothing to pause.
      if (!SDL.keyboardState) return;
      var SDL_ACTIVEEVENT = 0x7000; // SDL_EVENT_COMPAT1 in SDL_compat.h
      var event = _malloc({{{ C_STRUCTS.SDL_KeyboardEvent.__size__ }}});
      HEAPU32[event >> 2] = SDL_ACTIVEEVENT;
      HEAPU8[event + 4] = gain;
      HEAPU8[event + 5] = state;
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
  // The menu restarts the joystick subsystem to find the pads plugged in
  // since; the browser's pads need no restart.
  SDL_QuitSubSystem: function(flags) {},

  // ---- Keys the browser keeps

  // SDL's key handler (on the document) cancels every key it hears, so none
  // of the browser's shortcuts worked on the page, even after the game had
  // ended. Listening before it (on the window, capturing), the page keeps
  // from SDL every key pressed with Ctrl or Meta (Ctrl+R, Ctrl+F, Ctrl+Plus
  // and the like) and the function keys but F11 (F5 reloads, F12 opens the
  // developer tools): the game uses none of them, and the browser gets them.
  // Left Ctrl alone chooses in the menu, yet a shortcut begins with it: so a
  // Ctrl reaches the game only once it is let go with no key pressed
  // meanwhile, then as a press held long enough for the game to see it.
  $KorrinKeys__deps: ['$SDL'],
  $KorrinKeys__postset: '["keydown", "keyup", "keypress"].forEach(function(type) {' +
                        '  window.addEventListener(type, KorrinKeys.route, true);' +
                        '});' +
                        'window.addEventListener("blur", KorrinKeys.forgetCtrl);',
  $KorrinKeys: {
    CTRL_KEY_CODE: 17,
    CTRL_PRESS_MS: 100, // the game reads held keys once a frame (22 ms)
    // F11 is the game's fullscreen.
    BROWSER_FUNCTION_KEYS: ['F1', 'F2', 'F3', 'F4', 'F5', 'F6', 'F7', 'F8', 'F9', 'F10', 'F12'],
    ctrlAlone: false, // a Ctrl is down, and no other key has been pressed since

    route: function(event) {
      if (event.keyCode === KorrinKeys.CTRL_KEY_CODE) {
        event.stopPropagation();
        KorrinKeys.onCtrl(event);
      } else if (event.type !== 'keyup' && KorrinKeys.isBrowsers(event)) {
        // A key let go always reaches SDL: it may have gone down before Ctrl.
        event.stopPropagation();
        KorrinKeys.forgetCtrl();
      }
    },

    isBrowsers: function(event) {
      return event.ctrlKey || event.metaKey || KorrinKeys.BROWSER_FUNCTION_KEYS.includes(event.key);
    },

    onCtrl: function(event) {
      if (event.type === 'keydown' && !event.repeat) {
        KorrinKeys.ctrlAlone = true;
      } else if (event.type === 'keyup' && KorrinKeys.ctrlAlone && SDL.keyboardState) {
        // Plain objects, as SDL's own handler queues for keys it releases.
        var key = {keyCode: event.keyCode, location: event.location};
        KorrinKeys.ctrlAlone = false;
        SDL.events.push(Object.assign({type: 'keydown'}, key));
        setTimeout(function() {
          SDL.events.push(Object.assign({type: 'keyup'}, key));
        }, KorrinKeys.CTRL_PRESS_MS);
      }
    },

    forgetCtrl: function() {
      KorrinKeys.ctrlAlone = false;
    },
  },

  // The held keys, as KorrinKeys lets the game have them (the stock function
  // itself is kept: this only links KorrinKeys in).
  SDL_GetKeyState__deps: ['SDL_GetKeyboardState', '$KorrinKeys'],

  // ---- Video

  // Missing from the stock library. Its surfaces are all 32-bit canvases:
  // a copy is already in the screen's format.
  SDL_DisplayFormat__deps: ['SDL_ConvertSurface', '$KorrinCanvas'],
  SDL_DisplayFormat: function(surf) {
    return _SDL_ConvertSurface(surf, 0, 0);
  },

  // The library reads the pixels of its surfaces' canvases back (IMG_Load,
  // SDL_LockSurface), and gives a freed surface's canvas to the next one:
  // Chromium then warns, once a menu, that a canvas read back often should
  // say so. Every surface's canvas says so; the page's own is only drawn on.
  // (Linked in by SDL_DisplayFormat, which every image the game keeps meets.)
  $KorrinCanvas__deps: ['$Browser'],
  $KorrinCanvas__postset: 'KorrinCanvas.markSurfacesRead();',
  $KorrinCanvas: {
    markSurfacesRead: function() {
      var createContext = Browser.createContext;
      Browser.createContext = function(canvas, useWebGL, setInModule) {
        // A canvas keeps the attributes of its first 2D context.
        if (!useWebGL && !setInModule) canvas.getContext('2d', {willReadFrequently: true});
        return createContext.apply(Browser, arguments);
      };
    },
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
  //
  // Browsers keep the audio suspended until the player's first key, click or
  // touch, and some never start it (Firefox without a sound output). The
  // page asks for it again on each of those (all of them: the keys that
  // KorrinKeys keeps from SDL too) and on each pad button press (a pad may
  // not count as a player's gesture: then it stays silent).
  $KorrinMixer__deps: ['$SDL'],
  $KorrinMixer__postset: '["keydown", "mousedown", "touchstart"].forEach(function(type) {' +
                         '  window.addEventListener(type, KorrinMixer.wake, true);' +
                         '});',
  $KorrinMixer: {
    audible: function() {
      return !!SDL.audioContext && SDL.audioContext.state === 'running';
    },

    wake: function() {
      if (SDL.audioContext && SDL.audioContext.state === 'suspended') SDL.audioContext.resume();
    },

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

  // The game waits for its sounds to end before it leaves the menu or a
  // match; a sound the browser cannot play would never end. So while the
  // audio is not running no sound plays, and none counts as playing.
  Mix_Playing__deps: ['$KorrinMixer'],
  Mix_Playing: function(channel) {
    if (!KorrinMixer.audible()) return 0;
    var playing = function(info) {
      return info && info.audio && !info.audio.paused ? 1 : 0;
    };
    if (channel != -1) return playing(SDL.channels[channel]);
    return SDL.channels.reduce(function(count, info) {
      return count + playing(info);
    }, 0);
  },

  // As SDL_mixer does, a sound started on a busy channel replaces the one
  // playing there (the stock function let both play on). Unheard, it ends
  // at once (see Mix_Playing).
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
      if (!KorrinMixer.audible()) {
        info.audio = null;
        return;
      }
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

  // ---- Pads

  // The game reads a pad's buttons in the order Linux gives the common
  // Xbox-style pads (A B X Y LB RB Back Start Guide LS RS, the d-pad as hat
  // 0). A browser gives a pad it knows in its 'standard' mapping (A B X Y LB
  // RB LT RT Back Start LS RS, the d-pad as buttons Up Down Left Right, then
  // Guide): such a pad is shown to the game in the Linux order, so Start,
  // Back and the d-pad do in the page what they do natively. The left
  // stick's vertical axis is axis 1 in both. Other pads keep the browser's
  // order.
  $KorrinPads__deps: ['$SDL', '$KorrinMixer'],
  $KorrinPads: {
    STANDARD_BUTTON_OF_LINUX_BUTTON: [0, 1, 2, 3, 4, 5, 8, 9, 16, 10, 11],
    // The standard d-pad buttons, and SDL's hat bits for them.
    STANDARD_DPAD: [[12, 0x01], [13, 0x04], [14, 0x08], [15, 0x02]], // up, down, left, right
    wasDown: {}, // 'pad/button' -> whether it was down when last read

    standardPad: function(joystick) {
      var gamepad = SDL.getGamepad(joystick - 1);
      return gamepad && gamepad.mapping === 'standard' ? gamepad : null;
    },

    // Whether the browser's button `button` is down; one going down asks
    // for the sound.
    isDown: function(gamepad, button) {
      var down = button < gamepad.buttons.length && !!SDL.getJoystickButtonState(gamepad.buttons[button]);
      var key = gamepad.index + '/' + button;
      if (down && !KorrinPads.wasDown[key]) KorrinMixer.wake();
      KorrinPads.wasDown[key] = down;
      return down;
    },
  },

  SDL_JoystickNumButtons__deps: ['$KorrinPads'],
  SDL_JoystickNumButtons: function(joystick) {
    var gamepad = SDL.getGamepad(joystick - 1);
    if (!gamepad) return 0;
    if (gamepad.mapping === 'standard') return KorrinPads.STANDARD_BUTTON_OF_LINUX_BUTTON.length;
    return gamepad.buttons.length;
  },

  SDL_JoystickGetButton__deps: ['$KorrinPads'],
  SDL_JoystickGetButton: function(joystick, button) {
    var gamepad = SDL.getGamepad(joystick - 1);
    if (!gamepad) return 0;
    var index = gamepad.mapping === 'standard' ? KorrinPads.STANDARD_BUTTON_OF_LINUX_BUTTON[button] : button;
    return index !== undefined && KorrinPads.isDown(gamepad, index) ? 1 : 0;
  },

  SDL_JoystickNumHats__deps: ['$KorrinPads'],
  SDL_JoystickNumHats: function(joystick) {
    return KorrinPads.standardPad(joystick) ? 1 : 0;
  },

  SDL_JoystickGetHat__deps: ['$KorrinPads'],
  SDL_JoystickGetHat: function(joystick, hat) {
    var gamepad = KorrinPads.standardPad(joystick);
    if (!gamepad || hat != 0) return 0;
    return KorrinPads.STANDARD_DPAD.reduce(function(bits, dpad) {
      return KorrinPads.isDown(gamepad, dpad[0]) ? bits | dpad[1] : bits;
    }, 0);
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
