// The keys the browser keeps for itself, kept from Emscripten's SDL key handler; and
// Left Ctrl, which begins both the menu's choice and the browser's shortcuts.

mergeInto(LibraryManager.library, {
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
  $KorrinKeys__postset:
    '["keydown", "keyup", "keypress"].forEach(function(type) {' +
    '  window.addEventListener(type, KorrinKeys.route, true);' +
    '});' +
    'window.addEventListener("blur", KorrinKeys.forgetCtrl);',
  $KorrinKeys: {
    CTRL_KEY_CODE: 17,
    CTRL_PRESS_MS: 100, // the game reads held keys once a frame (22 ms)
    // F11 is the game's fullscreen.
    BROWSER_FUNCTION_KEYS: ['F1', 'F2', 'F3', 'F4', 'F5', 'F6', 'F7', 'F8', 'F9', 'F10', 'F12'],
    ctrlAlone: false, // a Ctrl is down, and no other key has been pressed since

    route: function (event) {
      if (event.keyCode === KorrinKeys.CTRL_KEY_CODE) {
        event.stopPropagation();
        KorrinKeys.onCtrl(event);
      } else if (event.type !== 'keyup' && KorrinKeys.isBrowsers(event)) {
        // A key let go always reaches SDL: it may have gone down before Ctrl.
        event.stopPropagation();
        KorrinKeys.forgetCtrl();
      }
    },

    isBrowsers: function (event) {
      return event.ctrlKey || event.metaKey || KorrinKeys.BROWSER_FUNCTION_KEYS.includes(event.key);
    },

    onCtrl: function (event) {
      if (event.type === 'keydown' && !event.repeat) {
        KorrinKeys.ctrlAlone = true;
      } else if (event.type === 'keyup' && KorrinKeys.ctrlAlone && SDL.keyboardState) {
        // Plain objects, as SDL's own handler queues for keys it releases.
        var key = { keyCode: event.keyCode, location: event.location };
        KorrinKeys.ctrlAlone = false;
        SDL.events.push(Object.assign({ type: 'keydown' }, key));
        setTimeout(function () {
          SDL.events.push(Object.assign({ type: 'keyup' }, key));
        }, KorrinKeys.CTRL_PRESS_MS);
      }
    },

    forgetCtrl: function () {
      KorrinKeys.ctrlAlone = false;
    },
  },

  // The held keys, as KorrinKeys lets the game have them (the stock function
  // itself is kept: this only links KorrinKeys in).
  SDL_GetKeyState__deps: ['SDL_GetKeyboardState', '$KorrinKeys'],
});
