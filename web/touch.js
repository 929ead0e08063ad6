// The page on a phone or a tablet (a device whose pointer is a finger): the
// picture as large as the screen allows in either orientation, the controls
// that leave a match, hold and resume it and go fullscreen in the room beside
// it, the touch hints and online play's rows where they fit, and nothing that
// scrolls, zooms or selects under a finger (web/shell.html's html.touch).
// The fingers themselves reach the game through web/library/touch.js. The
// page's fit() (page.js) hands over to fitTouch() here.
import { FIELD_HEIGHT as SCREEN_HEIGHT, FIELD_WIDTH as SCREEN_WIDTH } from './numbers.js';

export const TOUCH_LAYOUT = matchMedia('(pointer: coarse)').matches;
if (TOUCH_LAYOUT) document.documentElement.classList.add('touch');

const TOUCH_CONTROL_PX = 48; // a control's side: a fingertip (shell.html)
const TOUCH_CONTROLS_GAP_PX = 12; // between the controls, and from the edge
// However little room the screen leaves beside the picture, the picture
// keeps this share of the largest size that fits; the controls then lie
// over its corner.
const TOUCH_LEAST_SHARE = 0.9;
// Narrower than this, the key line has no room beside the picture.
const TOUCH_KEYS_LEAST_WIDTH_PX = 140;
const stage = document.getElementById('stage');
const online = document.getElementById('online');
const keys = document.getElementById('keys');
// Over the picture, the key line and online play's rows stay beneath this
// row of it: the menu's entries lie above (src/app/menu.cpp), and a finger
// on them must find them.
const MENU_ENTRIES_END_ROW = 160;

// The picture scaled to fill the screen's limiting side (by any step: pixels
// stay crisp through image-rendering: pixelated), less a strip for the
// controls on either side of it where the screen has the room; the controls
// in the room on one side, online play's rows and the key line on the other.
export function fitTouch() {
  const width = window.innerWidth,
    height = window.innerHeight;
  const fill = Math.min(width / SCREEN_WIDTH, height / SCREEN_HEIGHT);
  // Wider than the picture: room at the sides; taller: at the ends.
  const sides = width * SCREEN_HEIGHT >= height * SCREEN_WIDTH;
  const strips = 2 * (TOUCH_CONTROL_PX + TOUCH_CONTROLS_GAP_PX);
  const withStrips = sides
    ? Math.min((width - strips) / SCREEN_WIDTH, height / SCREEN_HEIGHT)
    : Math.min(width / SCREEN_WIDTH, (height - strips) / SCREEN_HEIGHT);
  const scale = Math.max(withStrips, TOUCH_LEAST_SHARE * fill);
  document.documentElement.style.setProperty('--scale', scale);
  stage.dataset.room = sides ? 'sides' : 'ends';

  // The room left on each side of the centred picture: left or bottom (where
  // a thumb holding the phone upright reaches) for the controls, right or
  // top for the rest.
  const room = sides ? (width - SCREEN_WIDTH * scale) / 2 : (height - SCREEN_HEIGHT * scale) / 2;
  const controlsRoom = Math.max(room, TOUCH_CONTROL_PX);
  placeBox(
    document.getElementById('touch-controls'),
    sides
      ? { left: 0, top: 0, width: controlsRoom, height: height }
      : { left: 0, top: height - controlsRoom, width: width, height: controlsRoom },
  );
  const column = stage.classList.contains('online') ? [online, keys] : [keys];
  const box = sides
    ? { left: width - room, top: 0, width: room, height: height }
    : { left: 0, top: 0, width: width, height: room };
  stage.dataset.keys = 'beside';
  if (box.width < TOUCH_KEYS_LEAST_WIDTH_PX || stack(column, box) > box.height) {
    stage.dataset.keys = 'over';
    const top = (height - SCREEN_HEIGHT * scale) / 2 + MENU_ENTRIES_END_ROW * scale;
    stack(column, { left: 0, top: top, width: width, height: height - top });
  }
}

// Puts the elements one beneath the other across the box, in its middle (at
// its foot where they are taller); returns their height.
function stack(elements, box) {
  for (const element of elements) placeBox(element, { left: box.left, width: box.width });
  const total = elements.reduce((sum, element) => sum + element.offsetHeight, 0);
  let top = box.top + (box.height - total) / 2;
  if (total > box.height) top = box.top + box.height - total;
  for (const element of elements) {
    element.style.top = top + 'px';
    top += element.offsetHeight;
  }
  return total;
}

function placeBox(element, box) {
  for (const [side, px] of Object.entries(box)) element.style[side] = px + 'px';
}

// The ball the next match plays with, which the menu's picture never shows
// (the game's "korrin-ball"), in the touch hints: the names of the balls
// tools/make_assets.py draws.
const BALL_NAMES = ['pearl', 'gold', 'jade', 'violet'];
window.addEventListener('korrin-ball', (event) => {
  document.getElementById('touch-ball').textContent = BALL_NAMES[Number(event.detail)];
});

if (TOUCH_LAYOUT) {
  // A tap asks for fullscreen, where the browser allows it (not on every
  // phone); the picture is fitted again once it is there.
  const fullscreen = document.getElementById('touch-fullscreen');
  fullscreen.hidden = !document.fullscreenEnabled;
  fullscreen.addEventListener('click', () => {
    stage.requestFullscreen().catch(() => {});
  });
}
