// The game's clock in the browser, in place of Emscripten's SDL_GetTicks: it stops
// while a local game's tab is hidden; and the page's focus told to SDL as a window's.

mergeInto(LibraryManager.library, {
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
});
