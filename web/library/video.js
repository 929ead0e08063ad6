// Video beside Emscripten's SDL 1.2: SDL_DisplayFormat, which it lacks, its surfaces'
// canvases, and fullscreen, which the page switches itself.

mergeInto(LibraryManager.library, {
  // Missing from the stock library. Its surfaces are all 32-bit canvases:
  // a copy is already in the screen's format.
  SDL_DisplayFormat__deps: ['SDL_ConvertSurface', '$KorrinCanvas'],
  SDL_DisplayFormat: function (surf) {
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
    markSurfacesRead: function () {
      var createContext = Browser.createContext;
      Browser.createContext = function (canvas, useWebGL, setInModule) {
        // A canvas keeps the attributes of its first 2D context.
        if (!useWebGL && !setInModule) canvas.getContext('2d', { willReadFrequently: true });
        return createContext.apply(Browser, arguments);
      };
    },
  },

  // The page switches fullscreen itself on F11, inside the key press, where
  // browsers allow it (the stock function asks for pointer lock and resizes
  // the canvas, and the picture went black). The game's own F11 call
  // then has nothing left to do.
  SDL_WM_ToggleFullScreen: function (surf) {
    return 1;
  },
});
