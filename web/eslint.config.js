// ESLint's checks of the page's JavaScript (npm run check, from tools/test.sh).
import js from '@eslint/js';
import globals from 'globals';

// What Emscripten gives the functions of a --js-library file: they are copied
// into the game's own script, where these are defined.
const emscriptenLibrary = {
  mergeInto: 'readonly',
  LibraryManager: 'readonly',
  Module: 'readonly',
  SDL: 'readonly',
  Browser: 'readonly',
  Asyncify: 'readonly',
  HEAPU8: 'readonly',
  HEAP8: 'readonly',
  HEAP16: 'readonly',
  HEAP32: 'readonly',
  HEAPU32: 'readonly',
  HEAPF32: 'readonly',
  UTF8ToString: 'readonly',
  stringToUTF8: 'readonly',
  lengthBytesUTF8: 'readonly',
  _malloc: 'readonly',
  _free: 'readonly',
  getValue: 'readonly',
  setValue: 'readonly',
  FS: 'readonly',
  abort: 'readonly',
  allocateUTF8: 'readonly',
  _SDL_AudioQuit: 'readonly',
  _SDL_ConvertSurface: 'readonly',
  callUserCallback: 'readonly',
  // This game's own library objects ($KorrinName in each file).
  KorrinFonts: 'readonly',
  KorrinFrame: 'readonly',
  KorrinKeys: 'readonly',
  KorrinLink: 'readonly',
  KorrinMixer: 'readonly',
  KorrinPads: 'readonly',
  KorrinTouch: 'readonly',
};

export default [
  // clock.js: Emscripten fills in its {{{ C_STRUCTS... }}} before it is JavaScript.
  { ignores: ['node_modules/', 'online/node_modules/', 'library/clock.js'] },
  js.configs.recommended,
  {
    rules: {
      eqeqeq: 'error',
      'no-implicit-globals': 'error',
      'no-shadow': 'error',
      'no-unused-vars': ['error', { args: 'none', caughtErrors: 'none' }],
      'prefer-const': 'error',
    },
  },
  // The page's modules (shell.html), and this file.
  { files: ['*.js'], languageOptions: { sourceType: 'module', globals: globals.browser } },
  {
    // A classic worker script: its global scope is its own.
    files: ['service-worker.js'],
    languageOptions: { sourceType: 'script', globals: { ...globals.serviceworker, BUILD: 'readonly' } },
    rules: { 'no-implicit-globals': 'off' },
  },
  {
    files: ['library/*.js'],
    languageOptions: { sourceType: 'script', globals: { ...globals.browser, ...emscriptenLibrary } },
    rules: { 'no-implicit-globals': 'off' },
  },
  { files: ['online/*.mjs'], languageOptions: { sourceType: 'module', globals: globals.browser } },
];
