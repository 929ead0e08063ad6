// The figures of the README's "On a phone or a tablet" section, for the web
// build in build-web/ (run ./tools/web.sh --with-test-tools first):
//   node tools/web_phone_benchmark.mjs [BASELINE]
//   node tools/web_phone_benchmark.mjs --link [TRIES]
// - touch to move: in a two-player match on a phone (Pixel 5 landscape), a
//   finger put down above or below the left paddle (a touch event on the
//   page), and the frames the game draws until the paddle's row changes,
//   counted by the frames' first blit (the whole 320x240 field); SAMPLES
//   touches, alternately above and below;
// - the picture's share of the screen: on four devices turned both ways,
//   the picture's size against the screen's limiting side, and its area
//   against the screen's;
// - bytes: every file of build-web/ against the same file of BASELINE (a
//   build-web/ of the game before touch, the manifest and the worker),
//   raw and gzipped (level 9); without BASELINE, the files' own sizes.
// With --link, only this: link to match on a phone: TRIES pairings (10
//   unless given) through the online test's local broker (tests/web/
//   online.mjs), each a new host on a desktop page and a Pixel 5 opening its
//   link once; the median and worst time from opening the link to the
//   phone's "Joined: the match starts.". Run it beside busy loops to see a
//   busy phone (the README says which).
import { existsSync, readdirSync, readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { gzipSync } from 'node:zlib';
import * as web from '../tests/web/browser.mjs';
import * as online from '../tests/web/online.mjs';

const BUILD = join(dirname(fileURLToPath(import.meta.url)), '..', 'build-web');
const DEVICES = ['Pixel 5', 'iPhone 13', 'Galaxy Tab S4', 'iPad'];
const SAMPLES = 20;
const LEFT_PADDLE_COLUMN = 5;
const TWO_PLAYERS = { x: 160, y: 118 }; // on the menu's band, in the game's pixels

// In the page: a finger put down at (x, y) of the game's pixels, and the
// frames drawn until the left paddle's first row changes; then lifted.
function framesToMove({ point, column: x }) {
  const canvas = document.getElementById('canvas');
  const context = canvas.getContext('2d');
  const paddleRow = () => {
    const column = context.getImageData(x, 0, 1, 240).data;
    for (let y = 0; y < 240; y++) if (column[4 * y + 2] - column[4 * y] > 100) return y; // blue
    return null;
  };
  if (!window.korrinFrames) {
    window.korrinFrames = 0;
    const drawImage = context.drawImage;
    context.drawImage = function(image, ...rest) {
      if (image.width === canvas.width && image.height === canvas.height) window.korrinFrames++;
      return drawImage.call(this, image, ...rest);
    };
  }
  const box = canvas.getBoundingClientRect();
  const touch = new Touch({ identifier: 1, target: canvas, clientX: box.left + (point.x + 0.5) * box.width / 320,
                            clientY: box.top + (point.y + 0.5) * box.height / 240 });
  const send = (type, touches) => window.dispatchEvent(
    new TouchEvent(type, { touches, changedTouches: [touch], cancelable: true }));
  const before = paddleRow(), touchedAt = window.korrinFrames;
  send('touchstart', [touch]);
  return new Promise((resolve) => {
    const look = () => {
      if (paddleRow() === before) return setTimeout(look, 1);
      send('touchend', []);
      resolve(window.korrinFrames - touchedAt);
    };
    look();
  });
}

async function touchToMove(url) {
  const chrome = await web.launch();
  const { page, lines } = await web.openGame(chrome.browser, url, undefined, web.KnownDevices['Pixel 5 landscape']);
  await web.waitForLine(lines, 'Showing menu now');
  await page.touchscreen.tap(...await page.$eval('#canvas', (canvas, point) => {
    const box = canvas.getBoundingClientRect();
    return [box.left + point.x * box.width / 320, box.top + point.y * box.height / 240];
  }, TWO_PLAYERS));
  await web.waitForLine(lines, 'Exiting menu.');
  const frames = [];
  for (let sample = 0; sample < SAMPLES; sample++) {
    const point = { x: 40, y: sample % 2 === 0 ? 0 : 239 };
    frames.push(await page.evaluate(framesToMove, { point, column: LEFT_PADDLE_COLUMN }));
    await web.sleep(100);
  }
  await chrome.close();
  frames.sort((a, b) => a - b);
  return `touch to move: ${frames[Math.floor(SAMPLES / 2)]} frames (median of ${SAMPLES}), ` +
         `${frames[0]} to ${frames[SAMPLES - 1]}`;
}

async function pictureShares(url) {
  const chrome = await web.launch();
  const rows = [];
  for (const name of DEVICES) {
    for (const device of [web.KnownDevices[name], web.KnownDevices[`${name} landscape`]]) {
      const { page, lines } = await web.openGame(chrome.browser, url, undefined, device);
      await web.waitForLine(lines, 'Showing menu now');
      const [width, height, screenWidth, screenHeight] = await page.$eval('#canvas', (canvas) => {
        const box = canvas.getBoundingClientRect();
        return [box.width, box.height, innerWidth, innerHeight];
      });
      const side = Math.max(width / screenWidth, height / screenHeight);
      rows.push(`${name} ${screenWidth}x${screenHeight}: picture ${Math.round(width)}x${Math.round(height)}, ` +
                `${(100 * side).toFixed(1)} % of the limiting side, ` +
                `${(100 * width * height / (screenWidth * screenHeight)).toFixed(0)} % of the screen`);
      await page.close();
    }
  }
  await chrome.close();
  return rows.join('\n');
}

function bytesAdded(baseline) {
  const rows = [];
  for (const name of readdirSync(BUILD).sort()) {
    const bytes = readFileSync(join(BUILD, name));
    const before = baseline && existsSync(join(baseline, name)) ? readFileSync(join(baseline, name)) : Buffer.alloc(0);
    const raw = bytes.length - before.length;
    const gzipped = gzipSync(bytes, { level: 9 }).length - (before.length ? gzipSync(before, { level: 9 }).length : 0);
    if (raw !== 0) rows.push(`${name}: ${raw > 0 ? '+' : ''}${raw} bytes (${gzipped > 0 ? '+' : ''}${gzipped} gzipped)`);
  }
  return rows.join('\n');
}

// Link to match on a phone: see the top.
async function linkToMatch(tries) {
  const { url, signal } = await online.start();
  const joinMs = [];
  try {
    for (let i = 0; i < tries; ++i) {
      try {
        joinMs.push((await online.pair(url, `${signal}&${online.noIce}`, 'chromium', web.KnownDevices['Pixel 5'])).joinMs);
      } catch (error) {
        console.log(`try ${i + 1} failed: ${error.message.slice(0, 300)}`);
      }
      await online.closePages();
    }
  } finally {
    await online.stopAll();
  }
  joinMs.sort((a, b) => a - b);
  return `link to match on a Pixel 5: ${joinMs.length} of ${tries} joined; median ` +
         `${joinMs[Math.floor((joinMs.length - 1) / 2)]} ms, worst ${joinMs.at(-1)} ms (${joinMs.join(', ')})`;
}

if (process.argv[2] === '--link') {
  console.log(await linkToMatch(Number(process.argv[3] ?? 10)));
  process.exit(0);
}
const { server, url } = await web.serve(BUILD);
try {
  console.log(await touchToMove(url));
  console.log(await pictureShares(url));
  console.log(bytesAdded(process.argv[2]));
} finally {
  server.kill();
}
