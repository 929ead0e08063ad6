// Start and end: Emscripten's SDL_Quit, TTF_Quit and SDL_QuitSubSystem without the
// lines of their own they print among the game's.

mergeInto(LibraryManager.library, {
  // The stock functions print a line of their own ("... called (and
  // ignored)") among the game's lines, which the desktop libraries do not.
  SDL_Quit__deps: ['SDL_AudioQuit'],
  SDL_Quit: function () {
    _SDL_AudioQuit();
  },
  TTF_Quit: function () {},
  // The menu restarts the joystick subsystem to find the pads plugged in
  // since; the browser's pads need no restart.
  SDL_QuitSubSystem: function (flags) {},
});
