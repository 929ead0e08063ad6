// Pads: a pad in the browser's standard mapping shown to the game in the button
// order Linux gives the common pads, in place of Emscripten's joystick functions.

mergeInto(LibraryManager.library, {
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
    STANDARD_DPAD: [
      [12, 0x01],
      [13, 0x04],
      [14, 0x08],
      [15, 0x02],
    ], // up, down, left, right
    wasDown: {}, // 'pad/button' -> whether it was down when last read

    standardPad: function (joystick) {
      var gamepad = SDL.getGamepad(joystick - 1);
      return gamepad && gamepad.mapping === 'standard' ? gamepad : null;
    },

    // Whether the browser's button `button` is down; one going down asks
    // for the sound.
    isDown: function (gamepad, button) {
      var down = button < gamepad.buttons.length && !!SDL.getJoystickButtonState(gamepad.buttons[button]);
      var key = gamepad.index + '/' + button;
      if (down && !KorrinPads.wasDown[key]) KorrinMixer.wake();
      KorrinPads.wasDown[key] = down;
      return down;
    },
  },

  SDL_JoystickNumButtons__deps: ['$KorrinPads'],
  SDL_JoystickNumButtons: function (joystick) {
    var gamepad = SDL.getGamepad(joystick - 1);
    if (!gamepad) return 0;
    if (gamepad.mapping === 'standard') return KorrinPads.STANDARD_BUTTON_OF_LINUX_BUTTON.length;
    return gamepad.buttons.length;
  },

  SDL_JoystickGetButton__deps: ['$KorrinPads'],
  SDL_JoystickGetButton: function (joystick, button) {
    var gamepad = SDL.getGamepad(joystick - 1);
    if (!gamepad) return 0;
    var index = gamepad.mapping === 'standard' ? KorrinPads.STANDARD_BUTTON_OF_LINUX_BUTTON[button] : button;
    return index !== undefined && KorrinPads.isDown(gamepad, index) ? 1 : 0;
  },

  SDL_JoystickNumHats__deps: ['$KorrinPads'],
  SDL_JoystickNumHats: function (joystick) {
    return KorrinPads.standardPad(joystick) ? 1 : 0;
  },

  SDL_JoystickGetHat__deps: ['$KorrinPads'],
  SDL_JoystickGetHat: function (joystick, hat) {
    var gamepad = KorrinPads.standardPad(joystick);
    if (!gamepad || hat !== 0) return 0;
    return KorrinPads.STANDARD_DPAD.reduce(function (bits, dpad) {
      return KorrinPads.isDown(gamepad, dpad[0]) ? bits | dpad[1] : bits;
    }, 0);
  },
});
