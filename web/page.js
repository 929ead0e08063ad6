// The page around the game's picture (web/shell.html): the picture's scale
// and the key line's place, fullscreen, the loading line, and what the page
// shows once the game has ended. It follows the game through the events the
// game sends it (src/platform/page.h: "korrin-menu", "korrin-match", ...),
// and keeps the last one in the root element's data-game ("menu", "match",
// "hold", "ended") for the styles and scripts that depend on it.
import { FIELD_HEIGHT as SCREEN_HEIGHT, FIELD_WIDTH as SCREEN_WIDTH } from './numbers.js';
import { TOUCH_LAYOUT, fitTouch } from './touch.js';

const KEYS_GAP_PX = 12; // #stage's gap
const stage = document.getElementById('stage');
const canvas = document.getElementById('canvas');
const keys = document.getElementById('keys');
const online = document.getElementById('online');
const loading = document.getElementById('loading');

// The largest whole scale at which the picture, and online play's rows
// beneath it, fit the window; where not even 1 does, the largest that fits.
export function fit() {
  if (TOUCH_LAYOUT) return fitTouch(); // a phone or a tablet (web/touch.js)
  const rows = stage.classList.contains('online')
    ? Math.ceil(online.getBoundingClientRect().height) + KEYS_GAP_PX
    : 0;
  const fits = Math.min(window.innerWidth / SCREEN_WIDTH, (window.innerHeight - rows) / SCREEN_HEIGHT);
  const scale = fits >= 1 ? Math.floor(fits) : fits;
  document.documentElement.style.setProperty('--scale', scale);
  const rowsWidth = rows > 0 ? online.offsetWidth : 0;
  stage.dataset.keys = placeKeys(Math.max(SCREEN_WIDTH * scale, rowsWidth), SCREEN_HEIGHT * scale + rows);
}

// The key line never makes the picture smaller: it goes beneath the picture
// (and online play's rows) where the window has the room, else beside, else
// over the foot of the picture (a 640x480 window shows the picture at 2x).
function placeKeys(columnWidth, columnHeight) {
  stage.dataset.keys = 'beneath';
  if (window.innerHeight - columnHeight - KEYS_GAP_PX >= keys.offsetHeight) return 'beneath';
  stage.dataset.keys = 'beside';
  if (
    window.innerWidth - columnWidth - KEYS_GAP_PX >= keys.offsetWidth &&
    window.innerHeight >= keys.offsetHeight
  )
    return 'beside';
  return 'over';
}
window.addEventListener('resize', fit);
document.addEventListener('fullscreenchange', fit);
fit();

// Over the picture, the key line shows until the player's first key,
// click, touch or pad, and again when the window has been left: a match
// then holds, and the line says what resumes it.
for (const type of ['keydown', 'mousedown', 'touchstart', 'gamepadconnected']) {
  window.addEventListener(
    type,
    (event) => {
      // A press on the line's own buttons must stay there to be a click.
      if (!(event.target instanceof Node && keys.contains(event.target))) stage.classList.add('keys-read');
    },
    true,
  );
}
window.addEventListener('blur', () => stage.classList.remove('keys-read'));

// F11 puts the game, not the whole browser, in fullscreen, and back. The
// page does it within the key press, as browsers require; the game's own
// SDL_WM_ToggleFullScreen then does nothing (web/library/video.js).
window.addEventListener(
  'keydown',
  (event) => {
    if (event.key !== 'F11') return;
    event.preventDefault();
    if (document.fullscreenElement) document.exitFullscreen();
    else stage.requestFullscreen();
  },
  true,
);

const ended = document.getElementById('ended');
document.getElementById('again').addEventListener('click', () => location.reload());
// Once the game has ended, the keys are the page's: SDL's key handler
// listens on and would cancel them all (Enter or Space then press "Play
// again", which has the focus).
for (const type of ['keydown', 'keyup', 'keypress']) {
  window.addEventListener(
    type,
    (event) => {
      if (!ended.hidden) event.stopImmediatePropagation();
    },
    true,
  );
}

// What the game is showing, as it tells the page; the loading line goes
// with the first menu.
const GAME_STATES = { menu: 'menu', match: 'match', hold: 'hold', resume: 'match', ended: 'ended' };
for (const [event, state] of Object.entries(GAME_STATES)) {
  window.addEventListener('korrin-' + event, () => {
    document.documentElement.dataset.game = state;
    if (state === 'menu') loading.hidden = true;
  });
}

// Loads the game's own script (Emscripten's, named in shell.html's
// #game-script, where it stays inert) once the page's modules have set
// Module up; the page's last script calls it.
export function startGame() {
  const named = document.getElementById('game-script').content.querySelector('script');
  const script = document.createElement('script');
  script.src = named.getAttribute('src');
  document.body.append(script);
}

// Emscripten's settings and hooks for the game, which its script reads from
// the global Module once startGame() has loaded it. A page that embeds the
// game may set Module before this script runs.
export const Module = window.Module || {};
window.Module = Module;
Object.assign(Module, {
  canvas: canvas,
  // The game's progress lines, as it prints them on a terminal.
  print: (line) => console.log(line),
  printErr: (line) => console.error(line),
  // Mix_LoadWAV decodes the sounds from their files: no copies decoded
  // ahead are looked for (nor missed in the console).
  noAudioDecoding: true,
  // The game ended: QUIT from the menu (status 0), or a failed start.
  onExit: (status) => {
    if (status !== 0) {
      document.getElementById('ended-text').textContent =
        'Korrin Tavrel could not start (the browser console says why).';
      document.getElementById('again').textContent = 'Try again';
    }
    loading.hidden = true;
    ended.hidden = false;
    document.getElementById('again').focus();
  },
});
