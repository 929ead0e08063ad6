// The web build on emulated phones and tablets, played by touch alone
// (fingers through the DevTools protocol): node tests/web/test_phone.mjs
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { appendFileSync, cpSync, mkdtempSync, readFileSync, readdirSync, rmSync, utimesSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import * as web from './browser.mjs';
import * as online from './online.mjs';

const ROOT = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
const MENU = 'Showing menu now', MATCH = 'Exiting menu.';
const [PHONE, PHONE_TURNED, TABLET, TABLET_TURNED, SMALL_PHONE_TURNED, WIDE_PHONE_TURNED] =
  ['Pixel 5', 'Pixel 5 landscape', 'iPad', 'iPad landscape', 'iPhone SE landscape', 'Galaxy S9+ landscape']
    .map((name) => web.KnownDevices[name]);
const { PADDLE_TOP_Y: TOP, PADDLE_START_Y: START, PADDLE_BOTTOM_Y: BOTTOM } = web; // a paddle's rectangle's top
const ONE_PLAYER = { x: 160, y: 85 }, TWO_PLAYERS = { x: 160, y: 118 }, QUIT = { x: 160, y: 151 }; // on the menu's bands
const ENTRIES_END_ROW = 160; // below QUIT's band
const LIT = { x: 100, y: 85 }; // in 1 PLAYER's band, gold as the menu opens
const SETTLE_MS = 300; // for a tap or a resize to take effect
// A paddle crosses the field in 0.5 s, a page starts in 2 s: far longer on a busy machine.
const SLOW_MS = 30000;

// The menu's first picture: its first pass has run, which takes a finger
// already down (or lifted since the match) as none, so a tap waits for it.
async function menuOn({ page, lines }, count) {
  await web.waitForLine(lines, MENU, count, SLOW_MS);
  const gold = ([r, g, b]) => r > 200 && g > 150 && b < 120;
  await web.until(async () => gold(web.pixel(await web.canvasPixels(page), LIT.x, LIT.y)), SLOW_MS, 'no menu drawn');
}

// The fingers on a page, in the game's pixels: put(...points) holds exactly
// those (ids by their place), lift() takes them all off.
async function fingersOn(page) {
  const cdp = await page.target().createCDPSession();
  let down = 0;
  const send = async (type, points) => {
    const { left, top, width } = await page.$eval('#canvas', (canvas) => canvas.getBoundingClientRect().toJSON());
    const at = (p) => (p + 0.5) * width / web.SCREEN_WIDTH;
    const touchPoints = points.map(({ x, y }, id) => ({ x: left + at(x), y: top + at(y), id }));
    await cdp.send('Input.dispatchTouchEvent', { type, touchPoints });
    down = points.length;
  };
  const fingers = {
    put: (...points) => send(points.length > down ? 'touchStart' : 'touchMove', points),
    lift: () => send('touchEnd', []),
    tap: (point) => fingers.put(point).then(() => web.sleep(web.KEY_HOLD_MS)).then(fingers.lift),
  };
  return fingers;
}

const paddles = (page) => web.canvasPixels(page).then((rgb) => [web.LEFT_PADDLE, web.RIGHT_PADDLE].map((paddle) => web.paddleTop(rgb, paddle)));
// The rows each paddle's colour begins below its rectangle's top, from the
// match's first picture (the menu's may still show once the match has begun).
const paddleOffsets = (page) => web.until(() => paddles(page).then((rows) =>
  rows.every((y) => Math.abs(y - web.PADDLE_START_Y) < 5) && rows.map((y) => y - web.PADDLE_START_Y)), SLOW_MS, 'no match');
// Waits until each paddle's top is `expected`: a row, [from, to] or null
// (anywhere), and checks that it stays there.
async function waitForPaddles(page, offsets, expected, what) {
  let seen;
  const matches = async () => {
    seen = (await paddles(page)).map((y, i) => y - offsets[i]);
    return expected.every((row, i) => row === null || ([].concat(row)[0] <= seen[i] && seen[i] <= [].concat(row).at(-1)));
  };
  const failed = () => `${what}: the paddles at ${seen}, not ${JSON.stringify(expected)}`;
  await web.until(matches, SLOW_MS, failed);
  await web.sleep(SETTLE_MS);
  assert.ok(await matches(), failed());
}

// The picture at least 90 % of the largest that fits (within 1/64 px);
// nothing scrolled or zoomed; in a match, nothing of the page over it.
async function expectFillsTheScreen(page, device) {
  await page.emulate(device);
  await web.sleep(SETTLE_MS);
  const [picture, ...others] = await web.boxes(page, 'canvas', 'keys', 'online', 'touch-controls');
  const [fits, scrolled, zoom, playing, shown] = await page.evaluate(() => [320 * Math.min(innerWidth / 320, innerHeight / 240),
    scrollX + scrollY, visualViewport.scale, document.documentElement.dataset.game === 'match',
    ['keys', 'online'].filter((id) => document.getElementById(id).checkVisibility())]);
  const over = others.filter((b) => playing && b && b.left < picture.right && b.right > picture.left &&
                                    b.top < picture.bottom && b.bottom > picture.top);
  // Upright, the controls lie where a thumb reaches: in the screen's lower half.
  const controls = others[2], upright = device.viewport.height > device.viewport.width;
  const reached = !upright || (controls ? controls.top >= device.viewport.height / 2 : !playing);
  assert.ok(picture.width >= 0.9 * fits - 1 / 64 && scrolled === 0 && zoom === 1 && over.length === 0 &&
            (!playing || shown.length === 0) && reached,
            `${device.viewport.width} wide: ${JSON.stringify({ picture, fits, scrolled, zoom, over, shown, controls })}`);
}
const gameState = (page, state) => page.waitForFunction((state) => document.documentElement.dataset.game === state, { timeout: SLOW_MS }, state);

test('a tablet for two and alone; a phone offline, turned both ways, then with a new build', async (t) => {
  // The game in a folder of the site, so that a page of the site's root,
  // which no worker serves, can read the caches. Its files a year old: a
  // server that sends no caching headers leaves the browser to guess how
  // long its copies are fresh (a tenth of their age: weeks).
  const site = mkdtempSync(join(tmpdir(), 'korrin-offline-')), folder = join(site, 'game');
  cpSync(join(ROOT, 'build-web'), folder, { recursive: true });
  const YEAR_S = 365 * 24 * 3600, agedBy = (s) => Date.now() / 1000 - s;
  for (const file of readdirSync(folder)) utimesSync(join(folder, file), agedBy(YEAR_S), agedBy(YEAR_S));
  let { server, url } = await web.serve(site);
  const chrome = await web.launch();
  t.after(() => chrome.close().then(() => server.kill()).then(() => rmSync(site, { recursive: true })));
  const openOn = (device, query = '') => web.openGame(chrome.browser, url + 'game/' + query, undefined, device)
    .then((game) => menuOn(game, 1).then(() => game));

  // "Play online" first asks the page's broker (a closed port here), and says it cannot be reached.
  // A tablet for two: a paddle moves only by its own finger, both at once; columns 159 and 160 part
  // the halves; a finger keeps the paddle of the half it was put down on, wherever it slides. Alone,
  // a finger on the right half steers the left paddle. The leave control ends both. Turned, the
  // picture is at its least share (90 %) beside the controls' strip.
  const closedBroker = `signal=${encodeURIComponent(`ws://127.0.0.1:${await online.freePort()}`)}`;
  const tablet = await openOn(TABLET, `?${closedBroker}`);
  const fingers = await fingersOn(tablet.page);
  await tablet.page.tap('#online-play');
  const statusSays = (page, text) => page.waitForFunction((text) => document.getElementById('online-status').checkVisibility() &&
    document.getElementById('online-status').textContent === text, { timeout: SLOW_MS }, text);
  await statusSays(tablet.page, 'Online play needs the network: no signalling server could be reached.');
  assert.equal(await tablet.page.evaluate(() => location.search.includes('host')), false, 'went online without a broker');
  for (const [round, choice, moves] of [
    [1, TWO_PLAYERS, [[[{ x: 40, y: 0 }], [TOP, START]], [[{ x: 40, y: 0 }, { x: 280, y: 239 }], [TOP, BOTTOM]],
                      [[{ x: 159, y: 239 }, { x: 160, y: 0 }], [BOTTOM, TOP]],
                      [[{ x: 200, y: 0 }, { x: 100, y: 239 }], [TOP, BOTTOM]]]],
    [2, ONE_PLAYER, [[[{ x: 280, y: 0 }], [TOP, null]]]]]) {
    await fingers.tap(choice);
    await web.waitForLine(tablet.lines, MATCH, round);
    if (round === 1) for (const device of [TABLET, TABLET_TURNED]) await expectFillsTheScreen(tablet.page, device);
    const offsets = await paddleOffsets(tablet.page);
    for (const [points, expected] of moves) {
      await fingers.put(...points);
      await waitForPaddles(tablet.page, offsets, expected, JSON.stringify(points));
    }
    await fingers.lift();
    await tablet.page.tap('#touch-leave');
    await menuOn(tablet, round + 1);
  }
  // A tap on the menu's ball steps the ball, which the hints name.
  assert.equal(await tablet.page.$eval('#touch-ball', (name) => name.textContent), 'pearl');
  await fingers.tap({ x: 276, y: 66 });
  await tablet.page.waitForFunction(() => document.getElementById('touch-ball').textContent === 'gold', { timeout: SLOW_MS });
  // One tap on QUIT only highlights it; a second tap leaves the game.
  for (const [taps, ended] of [[1, false], [2, true]]) {
    await fingers.tap(QUIT);
    await web.sleep(SETTLE_MS);
    assert.equal(await tablet.page.$eval('#ended', (shown) => !shown.hidden), ended, `${taps} tap(s) on QUIT`);
  }
  await tablet.page.close();
  // Joining a room, a tablet is offered no installed game to open it in.
  const joining = await web.openGame(chrome.browser, `${url}game/?join=ab-12&${closedBroker}`, undefined, TABLET);
  await statusSays(joining.page, 'Looking for room ab-12…');
  const offer = [await web.boxes(joining.page, 'online-native'), await joining.page.$eval('#online-native', (offer) => offer.hidden)];
  assert.deepEqual(offer, [[null], false], 'shown, or offered nowhere');
  await joining.page.close();

  // Offline (the server gone: emulation leaves the worker online) a phone's
  // page comes from the cache, says online play needs it, and plays by touch.
  const offline = async (game, count) => {
    server.kill();
    await game.page.setOfflineMode(true);
    await game.page.reload();
    await menuOn(game, count);
  };
  const phone = await openOn(PHONE), { page, lines } = phone;
  await page.evaluate(() => navigator.serviceWorker.ready);
  await offline(phone, 2);
  assert.equal(await page.$eval('#online-status', (status) => status.textContent), 'Online play needs the network.');
  assert.ok(await page.$eval('#online-play', (button) => button.disabled) && await page.$eval('#touch-hints', (hints) => hints.checkVisibility()));
  // On small phones turned, the hints lie over the picture's foot, beneath
  // the menu's entries; a tap on them reaches nothing under them.
  for (const device of [SMALL_PHONE_TURNED, WIDE_PHONE_TURNED]) {
    await page.emulate(device);
    await web.sleep(SETTLE_MS);
    const [hints, picture] = await web.boxes(page, 'keys', 'canvas');
    const entriesEnd = picture.top + ENTRIES_END_ROW * picture.height / web.SCREEN_HEIGHT;
    assert.ok(hints.top >= entriesEnd - 1 / 64, `${device.viewport.width} wide: the hints at ${hints.top}, over the entries`);
    await page.tap('#touch-hints li'); // its middle
    await web.sleep(SETTLE_MS);
    assert.ok(!lines.includes(MATCH) && await page.$eval('#ended', (shown) => shown.hidden), 'a tap on the hints reached the menu');
  }
  // A swipe and a double tap beside the picture scroll and zoom nothing.
  const finger = await fingersOn(page);
  await finger.put({ x: 160, y: 300 });
  await finger.put({ x: 160, y: 250 });
  for (const point of [{ x: 160, y: 300 }, { x: 160, y: 300 }, ONE_PLAYER]) await finger.tap(point);
  await expectFillsTheScreen(page, PHONE);
  await web.waitForLine(lines, MATCH);
  // The paddle rests while its centre (25 rows below its top, at first on row
  // 120) is within the dead zone (4 rows) of the finger, else moves until it
  // is, and follows the finger to its bounds.
  const offsets = await paddleOffsets(page);
  for (const [y, expected] of [[124, START], [116, START], [125, [96, 104]], [115, [86, 94]], [0, TOP], [239, BOTTOM]]) {
    await finger.put({ x: 200, y });
    await waitForPaddles(page, offsets, [expected, null], `a finger at row ${y}`);
  }
  // Turned, the picture fills the other way; on hold nothing moves; resumed, the computer wins.
  await expectFillsTheScreen(page, PHONE_TURNED);
  await page.tap('#touch-hold');
  await gameState(page, 'hold');
  const held = await web.canvasPixels(page);
  await web.sleep(SETTLE_MS);
  assert.ok(held.equals(await web.canvasPixels(page)), 'the match did not hold');
  await page.tap('#touch-hold');
  await gameState(page, 'match');
  await finger.lift();
  await web.waitForLine(lines, MENU, 3, 4 * SLOW_MS);

  // A new build is what the first visit online gets, though the HTTP cache
  // deems the old files fresh for weeks; once that page is closed, the
  // cache holds it alone, and offline it plays.
  const build = String(Date.now()), marker = `\nwindow.newBuild = '${build}';`;
  appendFileSync(join(folder, 'touch.js'), marker);
  utimesSync(join(folder, 'touch.js'), agedBy(YEAR_S / 2), agedBy(YEAR_S / 2));
  execFileSync('/usr/bin/python3', [join(ROOT, 'tools', 'offline_files.py'), folder]);
  const touchScript = (page) => page.evaluate(() => fetch('touch.js').then((response) => response.text()));
  const cache = 'korrin-' + /"version": "(\w+)"/.exec(readFileSync(join(folder, 'service-worker.js'), 'utf8'))[1];
  ({ server } = await web.serve(site, new URL(url).port));
  await page.close();
  const visit = await openOn(PHONE);
  assert.equal(await visit.page.evaluate(() => window.newBuild), build, 'the first visit online ran the old build');
  await visit.page.close();
  const root = await chrome.browser.newPage();
  await root.goto(url);
  await root.waitForFunction((cache) => caches.keys().then((names) => names.join() === cache), { timeout: SLOW_MS }, cache);
  const again = await openOn(PHONE_TURNED);
  await offline(again, 2);
  assert.ok((await touchScript(again.page)).endsWith(marker), 'offline, the old build came back');
  // Offline, what a page loaded online still asks for fails (its worker's
  // update, the manifest's icons), as do connections to the stopped server.
  const notOffline = (error) => !/net::ERR_|service-worker|icon-\d+\.png/.test(error);
  assert.deepEqual([...tablet.errors, ...phone.errors, ...visit.errors, ...again.errors].filter(notOffline), []);
});

test('a phone joins an online match from the link and plays by touch', async () => {
  const { url, signal } = await online.start();
  try {
    const { host, guest } = await online.pair(url, `${signal}&${online.noIce}`, 'chromium', PHONE_TURNED);
    // The phone plays the right paddle; its finger steers it on both pages,
    // and it rests with its own centre (not the other's) near the finger.
    const finger = await fingersOn(guest.page);
    const offsets = await paddleOffsets(guest.page);
    await finger.put({ x: 40, y: 160 });
    for (const side of [guest, host]) await waitForPaddles(side.page, offsets, [null, [131, 139]], 'the phone\'s finger');
    for (const device of [PHONE_TURNED, PHONE]) await expectFillsTheScreen(guest.page, device);
    // Online only what works shows (a match cannot hold), and leaving asks:
    // Stay goes on with the match, Leave ends it.
    const shown = (page, ...ids) => page.evaluate((ids) => ids.map((id) => document.getElementById(id).checkVisibility()), ids);
    assert.deepEqual(await shown(guest.page, 'touch-hold', 'touch-leave', 'leave-ask'), [false, true, false]);
    const LEFT = 'The other player left the match.';
    for (const [answer, leaves] of [['#leave-no', false], ['#leave-yes', true]]) {
      await guest.page.tap('#touch-leave');
      await web.sleep(SETTLE_MS);
      assert.deepEqual([host.lines.includes(LEFT), ...await shown(guest.page, 'leave-ask')], [false, true], 'no question');
      await guest.page.tap(answer);
      if (leaves) await web.waitForLine(host.lines, LEFT, 1, SLOW_MS);
      await web.sleep(SETTLE_MS);
      assert.deepEqual([host.lines.includes(LEFT), ...await shown(guest.page, 'leave-ask')], [leaves, false], answer);
    }
    await online.waitFor(/^Final score: /, guest.lines, SLOW_MS);
  } finally {
    await online.stopAll();
  }
});
