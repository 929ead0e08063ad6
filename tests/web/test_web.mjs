// The web build (build-web/, made by tools/web.sh) played in headless
// Chromium, compared with the native game (build/korrin-tavrel):
//   node tests/web/test_web.mjs [native game, default build/korrin-tavrel]
// One session plays menu, a two-player match, a one-player match and QUIT,
// checking the pictures, keys, stereo, the motion at every refresh, a hidden
// tab and the printed lines on the way, and records its matches, which the
// native game's --verify must end as the page did; a second start without
// the font file must fail as the native game does. Then, in Chromium and Firefox ESR, a browser that
// never starts its audio plays from a pad and the keys in a small window. Last, the recordings (see there).
import assert from 'node:assert/strict';
import { execFile, execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { CUT_OFF_STATUS, MAX_REPLAY_FILE_BYTES } from '../../web/numbers.js';
import * as web from './browser.mjs';
import { ballMotion, sampleMotion } from './motion.mjs';

const ROOT = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
const NATIVE_GAME = process.argv[2] || join(ROOT, 'build', 'korrin-tavrel');

const VERSION_LINE = 'Compiled with SDL_mixer version: 1.2.12';
const SHOWING_MENU = 'Showing menu now';
const EXITING_MENU = 'Exiting menu.';
const CLOSING = ['SDL, SDL_mixer, and TTF have been shut down.',
                 'Korrin Tavrel is exiting normally.'];

const { LEFT_PADDLE, RIGHT_PADDLE, FIELD, PADDLE_TOP_Y, PADDLE_START_Y, PADDLE_BOTTOM_Y, pixel, paddleTop } = web;
// Long enough for a paddle to cross the field (11 px per 60 ms).
const PADDLE_CROSSING_MS = 1200;

// The ball's motion at every refresh of a 60 Hz display, for MOTION_MS once
// it flies: its frames run 22 ms apart and move it 5 px each (227 px/s, as
// natively; frames at the refreshes' pace, 17 and 33 ms long, would move it
// 3 and 7 px: 195 px/s), and the pictures between them show it moving at
// nearly every refresh by nearly the same distance (a picture per frame: 26
// % of refreshes still, a coefficient of variation of 0.62; 1 % and 0.28
// measured at a load average of 20).
const MOTION_MS = 5000;
const FLIGHT_REFRESHES = 30;
const BALL_PX_PER_S = 5000 / 22;
const PACING_TOLERANCE = 0.1;
const STILL_REFRESHES = 0.1;
const MOVE_VARIATION = 0.45;
// Where the page records its matches (--record), for the native --verify.
const RECORDING = '/recorded.krp';
// SDL_mixer's gain at distance 100 (the menu's sound): (255 - 100) / 255.
const MENU_SOUND_GAIN = 155 / 255;
// Resampling to the audio device's rate moves a peak a little.
const GAIN_TOLERANCE = 0.03;

// In a one-player match where player 1 does not steer, the computer wins in
// 22 s on average; 138 of 2,000 such matches run through the rules had no
// hit on the right paddle at all (the others had one within 17 s). So
// another one-player match starts whenever the menu is back. Time for three
// matches: all without a right hit once in 2,400 runs.
const RIGHT_HIT_WAIT_MS = 75000;

// A hidden tab must not move the ball: a ball that ran on would cross the
// field (about 230 px a second) in this time. The pictures taken 1 s into it
// and at its end must be the same.
const HIDDEN_MS = 3000;
const HIDDEN_LOOK_MS = 1000;
const HOLD_BANNER = { x: 101, y: 107, w: 119, h: 27 }; // "PAUSED", over the field's middle (as drawCentredBanner places it)
// What the ball may move between the last picture before hiding and the
// first after P resumes the match: up to 0.1 s before hiding, the tab
// switch's and the pictures' own time and RESUME_LOOK_MS after resuming
// (0.3 s and 80 px seen; 0.6 s at most, 140 px), plus its own 12 px. The 4 s
// spent hidden and on hold would carry it 930 px.
const BALL_SPAN_LIMIT = 12 + 140;
const RESUME_LOOK_MS = 50;

// Windows with no room for the key line beneath or beside the picture.
const SMALL_WINDOW = { width: 400, height: 290 };
const DOUBLE_WINDOW = { width: 2 * web.SCREEN_WIDTH, height: 2 * web.SCREEN_HEIGHT };
const PAD_A = 0, PAD_BACK = 8, PAD_START = 9, PAD_DPAD_UP = 12; // the browser's standard mapping
const SETTLE_MS = 300; // for a key, a blur or a resize to take effect, frames included

// The loudest sample of a 16-bit mono WAV, as a fraction of full scale.
function wavPeak(path) {
  const bytes = readFileSync(path);
  const data = bytes.indexOf('data') + 8;
  let peak = 0;
  for (let i = data; i + 1 < bytes.length; i += 2) peak = Math.max(peak, Math.abs(bytes.readInt16LE(i)));
  return peak / 32768;
}

function differingPixels(actual, expected, fromX = 0, toX = web.SCREEN_WIDTH) {
  const found = [];
  for (let y = 0; y < web.SCREEN_HEIGHT; y++) {
    for (let x = fromX; x < toX; x++) {
      if (!pixel(actual, x, y).equals(pixel(expected, x, y))) found.push([x, y]);
    }
  }
  return found;
}

// Waits until the ball moves in the field (it is served a while after the
// match starts); returns the last picture.
async function waitForBallMoving(page) {
  let last = await web.canvasPixels(page), moving = 0;
  for (let look = 0; look < 50 && moving === 0; look++) {
    await web.sleep(100);
    const next = await web.canvasPixels(page);
    moving = differingPixels(next, last, FIELD.fromX, FIELD.toX).length;
    last = next;
  }
  assert.ok(moving > 0, 'the ball moves');
  return last;
}

async function waitForPicture(page, expected, what, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const actual = await web.canvasPixels(page);
    const wrong = differingPixels(actual, expected);
    if (wrong.length === 0) return;
    if (Date.now() > deadline) {
      assert.fail(`${what}: ${wrong.length} pixels differ, the first at ${JSON.stringify(wrong.slice(0, 5))}`);
    }
    await web.sleep(50);
  }
}

// Holds a key until the paddle's top row has moved by `rows`.
async function steer(page, key, paddle, fromTop, rows, what) {
  await page.keyboard.down(key);
  await web.sleep(PADDLE_CROSSING_MS);
  await page.keyboard.up(key);
  assert.equal(paddleTop(await web.canvasPixels(page), paddle), fromTop + rows, what);
}

// Peak meters on a mixer channel's stereo output (KorrinMixer, web/library/mixer.js): each side's
// peak in every render quantum with sound, on the audio thread (a main-thread ScriptProcessor lost
// a sound's first 3 ms, its peak, on a loaded machine).
const METER_PROCESSOR = `registerProcessor('korrin-meter', class extends AudioWorkletProcessor {
  process([input]) {
    const peaks = [0, 1].map((side) => (input[side] || []).reduce((peak, sample) => Math.max(peak, Math.abs(sample)), 0));
    if (peaks[0] > 0 || peaks[1] > 0) this.port.postMessage(peaks);
    return true;
  }
});`;
function meterChannel(page, channel) {
  return page.evaluate(async (channel, processor) => {
    const context = SDL.audioContext;
    if (!window.korrinMeters) {
      await context.audioWorklet.addModule(URL.createObjectURL(new Blob([processor], { type: 'text/javascript' })));
      window.korrinMeters = {};
    }
    const meter = new AudioWorkletNode(context, 'korrin-meter', { outputChannelCount: [2] });
    const blocks = (window.korrinMeters[channel] = []);
    meter.port.onmessage = ({ data }) => blocks.push(data);
    KorrinMixer.stage(channel).output.connect(meter);
    meter.connect(context.destination); // (silent) a node is run while it leads somewhere
  }, channel, METER_PROCESSOR);
}
// The game's clock (SDL_GetTicks, web/library/clock.js) and the page's own, in ms.
const gameClock = (page) => page.evaluate(() => ({ ticks: _SDL_GetTicks(), at: Date.now() }));
const meterBlocks = (page, channel) => page.evaluate((channel) => window.korrinMeters[channel], channel);

test('the web build plays as the native game does', async (t) => {
  const pictures = mkdtempSync(join(tmpdir(), 'korrin-web-'));
  const { server, url } = await web.serve(join(ROOT, 'build-web'));
  const chrome = await web.launch();
  t.after(async () => {
    await chrome.close();
    server.kill();
    rmSync(pictures, { recursive: true, force: true });
  });
  execFileSync('/usr/bin/python3', [join(ROOT, 'tests', 'web', 'native_pictures.py'), '--game', NATIVE_GAME,
                                    '--assets', ROOT, pictures], { stdio: 'inherit' });
  const nativeMenu = readFileSync(join(pictures, 'menu.rgb'));
  const nativeMatch = readFileSync(join(pictures, 'match.rgb'));
  // A tab to hide the game's behind later, opened first: opening a tab
  // takes the focus (and would hold a match) a while after it returns.
  const otherTab = await chrome.browser.newPage();
  const { page, lines, errors } = await web.openGame(chrome.browser, url,
                                                     `window.Module = { arguments: ['--record', '${RECORDING}'] };`);

  // The menu, then Down to 2 PLAYERS: its sound on both sides, at the distance's gain.
  await web.waitForLine(lines, SHOWING_MENU);
  await waitForPicture(page, nativeMenu, 'the menu');
  await meterChannel(page, 2);
  await web.press(page, 'ArrowDown');
  await web.sleep(200);
  const menuPeak = wavPeak(join(ROOT, 'snd', 'menu-opt.wav')) * MENU_SOUND_GAIN;
  const menuSound = await meterBlocks(page, 2);
  assert.ok(menuSound.length > 0, 'the menu sound was heard');
  for (const side of [0, 1]) {
    const peak = Math.max(...menuSound.map((block) => block[side]));
    assert.ok(Math.abs(peak - menuPeak) < GAIN_TOLERANCE * menuPeak, `menu sound side ${side}: ${peak}, not ${menuPeak}`);
  }

  // A two-player match: its first picture as the native game's, scores in the game's font.
  await web.press(page, 'Enter');
  await web.waitForLine(lines, EXITING_MENU);
  await waitForPicture(page, nativeMatch, "the match's first picture");
  const leftStart = paddleTop(nativeMatch, LEFT_PADDLE);
  const rightStart = paddleTop(nativeMatch, RIGHT_PADDLE);


  // The keys: Down/Up the left paddle, Left Alt/Space the right one.
  const down = PADDLE_BOTTOM_Y - PADDLE_START_Y, up = PADDLE_TOP_Y - PADDLE_BOTTOM_Y;
  await steer(page, 'ArrowDown', LEFT_PADDLE, leftStart, down, 'Down: left paddle at the bottom');
  await steer(page, 'ArrowUp', LEFT_PADDLE, leftStart + down, up, 'Up: left paddle at the top');
  await steer(page, 'AltLeft', RIGHT_PADDLE, rightStart, down, 'Left Alt: right paddle at the bottom');
  await steer(page, 'Space', RIGHT_PADDLE, rightStart + down, up, 'Space: right paddle at the top');

  // Escape: the menu is back. Return: a one-player match, where the computer
  // returns the ball on the right: its hits sound on the right side only.
  await web.press(page, 'Escape');
  await web.waitForLine(lines, SHOWING_MENU, 2);
  await waitForPicture(page, nativeMenu, 'the menu after Escape');
  const firstOffered = await web.offeredMatch(page, '#recordings .save-match');
  await meterChannel(page, 1);
  const hitPeak = wavPeak(join(ROOT, 'snd', 'bounce.wav'));
  let hits, matches = 1;
  for (const deadline = Date.now() + RIGHT_HIT_WAIT_MS; Date.now() < deadline; await web.sleep(200)) {
    if (lines.filter((line) => line === SHOWING_MENU).length > matches) {
      await web.press(page, 'Enter');
      await web.waitForLine(lines, EXITING_MENU, ++matches);
    }
    hits = await meterBlocks(page, 1);
    if (hits.some(([left, right]) => left === 0 && right > 0)) break;
  }
  assert.ok(hits.some(([left, right]) => left === 0 && Math.abs(right - hitPeak) < GAIN_TOLERANCE * hitPeak),
            `no right paddle hit at full gain on the right only: ${JSON.stringify(hits)}`);
  assert.ok(hits.every(([left, right]) => left === 0 || right === 0),
            `a paddle hit sounded on both sides: ${JSON.stringify(hits)}`);

  // A hidden tab puts the match on hold, as a window losing the focus does:
  // nothing moves while the tab is hidden nor once it is back, until P
  // resumes the match where it stood.
  const beforeHiding = await waitForBallMoving(page);
  await otherTab.bringToFront();
  assert.equal(await page.evaluate(() => document.visibilityState), 'hidden');
  await web.sleep(HIDDEN_LOOK_MS);
  const whileHidden = await web.canvasPixels(page);
  const clockHidden = await gameClock(page);
  await web.sleep(HIDDEN_MS - HIDDEN_LOOK_MS);
  assert.deepEqual(differingPixels(await web.canvasPixels(page), whileHidden, FIELD.fromX, FIELD.toX), [],
                   'the ball moved while the tab was hidden');
  const clockLeft = await gameClock(page);
  assert.equal(clockLeft.ticks, clockHidden.ticks, "the game's clock ran while the tab was hidden");
  await page.bringToFront();
  await web.sleep(HIDDEN_LOOK_MS);
  // Back, it runs on from there: by no more than the page's own time since it was read hidden.
  const clockBack = await gameClock(page);
  assert.ok(clockBack.ticks > clockLeft.ticks && clockBack.ticks - clockLeft.ticks <= clockBack.at - clockLeft.at,
            `the game's clock went from ${clockLeft.ticks} to ${clockBack.ticks} in ${clockBack.at - clockLeft.at} ms`);
  // The game's clock stands still while the tab is hidden, so the hold may
  // only draw its banner now; nothing else changes, then or later.
  const back = await web.canvasPixels(page);
  const besideBanner = ([x, y]) => x < HOLD_BANNER.x || x >= HOLD_BANNER.x + HOLD_BANNER.w ||
                                   y < HOLD_BANNER.y || y >= HOLD_BANNER.y + HOLD_BANNER.h;
  assert.deepEqual(differingPixels(back, whileHidden).filter(besideBanner), [],
                   'the match did not stay on hold once the tab was back');
  await web.sleep(HIDDEN_LOOK_MS);
  assert.deepEqual(differingPixels(await web.canvasPixels(page), back), [],
                   'the match did not stay on hold once the tab was back');
  await page.keyboard.down('KeyP');
  await web.sleep(RESUME_LOOK_MS);
  const resumed = await web.canvasPixels(page);
  await page.keyboard.up('KeyP');
  const moved = differingPixels(resumed, beforeHiding, FIELD.fromX, FIELD.toX);
  const span = (axis) => Math.max(0, ...moved.map((p) => p[axis])) - Math.min(web.SCREEN_WIDTH, ...moved.map((p) => p[axis]));
  assert.ok(moved.length === 0 || (span(0) < BALL_SPAN_LIMIT && span(1) < BALL_SPAN_LIMIT),
            `the ball jumped (${span(0)} x ${span(1)} pixels changed) over the hidden time`);
  await web.sleep(500);
  assert.ok(differingPixels(await web.canvasPixels(page), resumed, FIELD.fromX, FIELD.toX).length > 0,
            'the ball moves again once P resumes the match');

  // Escape; a new one-player match, which no player can win before its
  // ball has flown MOTION_MS: the ball's motion as the display shows it,
  // and its pace.
  await web.press(page, 'Escape');
  await web.waitForLine(lines, SHOWING_MENU, matches + 1);
  await web.press(page, 'Enter');
  await web.waitForLine(lines, EXITING_MENU, ++matches);
  await waitForBallMoving(page);
  const motion = ballMotion(await sampleMotion(page, MOTION_MS));
  const figures = JSON.stringify(motion);
  assert.ok(motion.refreshes >= FLIGHT_REFRESHES, `the ball hardly flew: ${figures}`);
  assert.ok(Math.abs(motion.speed - BALL_PX_PER_S) <= PACING_TOLERANCE * BALL_PX_PER_S, `the ball's pace: ${figures}`);
  assert.ok(motion.still < STILL_REFRESHES, `refreshes without motion: ${figures}`);
  assert.ok(motion.variation < MOVE_VARIATION, `uneven motion: ${figures}`);

  // Escape, then QUIT (Up wraps to it): the native closing lines, and the
  // page's end message, where Enter starts the game again.
  await web.press(page, 'Escape');
  await web.waitForLine(lines, SHOWING_MENU, matches + 1);
  await web.press(page, 'ArrowUp');
  await web.press(page, 'Enter');
  await page.waitForSelector('#ended:not([hidden])', { timeout: 5000 });
  assert.deepEqual(lines, [VERSION_LINE, ...Array(matches + 1).fill([SHOWING_MENU, EXITING_MENU]).flat(), ...CLOSING]);
  assert.deepEqual(errors, []);
  // The page's frames, fed to the native game, end every match as they did in the page.
  const file = join(pictures, 'recorded.krp');
  writeFileSync(file, await web.bytesOf(page, (file) => FS.readFile(file), RECORDING));
  const { status, out: verified } = web.verifyNatively(NATIVE_GAME, file);
  assert.ok(status === 0 && verified.length === matches && verified.every((line) => line.endsWith('end state as recorded')),
            `${status}: ${verified.join('\n')}`);
  // The page offered the first match once over, and offers the last once the game ended: each alone.
  for (const [offered, line] of [[firstOffered, verified[0]], [await web.offeredMatch(page, '#ended .save-match'), verified.at(-1)]]) {
    writeFileSync(file, offered);
    assert.deepEqual(web.verifyNatively(NATIVE_GAME, file), { status: 0, out: [line.replace(/^Match \d+/, 'Match 1')], err: [] });
  }
  await web.press(page, 'Enter'); // "Play again"
  await web.waitForLine(lines, SHOWING_MENU, matches + 2);

  // Without its font file the game stops as the native one does.
  const fontless = await web.openGame(chrome.browser, url, () => {
    window.Module = { onRuntimeInitialized: () => FS.unlink('/img/hyperfont.ttf') };
  });
  await fontless.page.waitForSelector('#ended:not([hidden])', { timeout: 10000 });
  assert.deepEqual(fontless.lines, [VERSION_LINE, "Error loading font. Couldn't open img/hyperfont.ttf",
                                    'Some errors occurred during initialization.']);
});

// Before the game: a browser that never starts its audio (as Firefox without
// a sound output), counting the page's tries; a pad in the standard mapping;
// every keydown, to see which the page cancelled.
function silentBrowserWithPad() {
  window.audioResumes = 0;
  AudioContext.prototype.resume = () => {
    window.audioResumes++;
    return new Promise(() => {});
  };
  window.testPad = { mapping: 'standard', axes: [0, 0], buttons: Array.from({ length: 16 }, () => ({ pressed: false })) };
  navigator.getGamepads = () => [window.testPad];
  window.keydowns = [];
  window.addEventListener('keydown', (event) => window.keydowns.push(event), true);
}
async function pressPad(page, button) {
  for (const pressed of [true, false]) {
    await page.evaluate((button, pressed) => { window.testPad.buttons[button].pressed = pressed; }, button, pressed);
    await web.sleep(web.KEY_HOLD_MS);
  }
}
const canvasBox = (page) => page.$eval('#canvas', (canvas) =>
  ['left', 'top', 'right', 'bottom'].map((side) => canvas.getBoundingClientRect()[side]));

for (const which of ['chromium', 'firefox']) {
  test(`${which}: without sound, from a pad and the keys, in a small window`, async (t) => {
    const { server, url } = await web.serve(join(ROOT, 'build-web'));
    const browser = await web.launch(which, { autoplay: false });
    t.after(() => browser.close().then(() => server.kill()));
    const { page, lines, errors } = await web.openGame(browser.browser, url, silentBrowserWithPad, SMALL_WINDOW);
    await web.waitForLine(lines, SHOWING_MENU);
    assert.deepEqual(await canvasBox(page), [40, 25, 360, 265], 'the whole picture, at 1x, in the middle');
    assert.ok(await page.$eval('#loading', (loading) => loading.hidden), 'the loading line is gone');

    // Pad only: Start chooses and asks for the sound, Back leaves; neither waits for a sound.
    await pressPad(page, PAD_START);
    await web.waitForLine(lines, EXITING_MENU);
    assert.ok(await page.evaluate(() => window.audioResumes) > 0, 'a pad button asks for the sound');
    await pressPad(page, PAD_BACK);
    await web.waitForLine(lines, SHOWING_MENU, 2);

    // Ctrl+Plus and F5 are the browser's (see the keydowns below) and choose nothing; Left Ctrl alone chooses.
    await page.keyboard.down('Control');
    await web.press(page, '+');
    await page.keyboard.up('Control');
    await web.press(page, 'F5');
    await web.sleep(SETTLE_MS);
    assert.equal(lines.filter((line) => line === EXITING_MENU).length, 1, 'Ctrl+Plus chose');
    await web.press(page, 'Control');
    await web.waitForLine(lines, EXITING_MENU, 2);

    // "Play online" in a match asks before leaving it; refused, the match goes on.
    await waitForBallMoving(page);
    await page.evaluate(() => { window.confirm = (question) => { window.asked = question; return false; }; });
    await page.$eval('#online-play', (button) => button.click());
    assert.equal(await page.evaluate(() => window.asked), 'Leave this match to play online?');

    // The window losing the focus holds the match: the PAUSED picture stays, and the
    // key line shows over it (it says what resumes the match); P resumes it.
    await page.evaluate(() => window.dispatchEvent(new Event('blur')));
    await web.sleep(SETTLE_MS);
    const held = await web.canvasPixels(page);
    assert.ok(await page.$eval('#keys', (keys) => keys.checkVisibility()), 'the key line is hidden');
    await web.sleep(SETTLE_MS);
    assert.deepEqual(differingPixels(await web.canvasPixels(page), held), [], 'the match did not hold');
    await web.press(page, 'p');
    assert.notDeepEqual(differingPixels(await web.canvasPixels(page), held, FIELD.fromX, FIELD.toX), [], 'P did not resume');

    // Escape, then QUIT by the d-pad and A. Every key asked for the sound.
    await web.press(page, 'Escape');
    await web.waitForLine(lines, SHOWING_MENU, 3);
    await pressPad(page, PAD_DPAD_UP);
    await pressPad(page, PAD_A);
    await page.waitForSelector('#ended:not([hidden])', { timeout: 5000 });
    assert.deepEqual(lines, [VERSION_LINE, ...Array(3).fill([SHOWING_MENU, EXITING_MENU]).flat(), ...CLOSING]);
    assert.deepEqual(errors, []);
    const keydowns = await page.evaluate(() => window.keydowns.map((event) => [event.key, event.defaultPrevented]));
    assert.ok(await page.evaluate(() => window.audioResumes) >= keydowns.length, 'a key did not ask for the sound');
    assert.deepEqual(keydowns.filter(([key]) => key !== 'Control'), [['+', false], ['F5', false], ['p', true], ['Escape', true]]);
    await page.setViewport(DOUBLE_WINDOW);
    await web.sleep(SETTLE_MS); // the page hears of it a frame later
    assert.deepEqual(await canvasBox(page), [0, 0, DOUBLE_WINDOW.width, DOUBLE_WINDOW.height], 'not 2x in a 640x480 window');
  });
}

// Recordings in the page: the corpus, files that are no whole recording, a match kept by a page closed.
const CORPUS = join(ROOT, 'tests', 'replays');
// A replay in the page ends when its last frame is due, as natively: late by no more than the
// page's timers were, and the frames it then runs at once. --verify prints a match's length to 0.1 s.
const PACE_SLACK_S = 0.1, PRINTED_S = 0.05;
const ENDED_MS = 120000, LONGEST_PLAYED_S = 60; // the longest recording played, after its page loads
const seconds = (line) => Number(/after ([\d.]+) s/.exec(line)[1]);

// Files that are not whole recordings, how each reaches the page, and the line it must show: the
// native --verify's for the same file, but for one the page cannot fetch. One too large is refused unread.
const BAD_FILES = [
  { name: 'empty.krp', how: 'address', bytes: () => Buffer.alloc(0) },
  { name: 'picture.krp', how: 'chosen', bytes: () => readFileSync(join(ROOT, 'img', 'icon.png')) },
  { name: 'newer.krp', how: 'address', bytes: (whole) => Buffer.concat([whole.subarray(0, 8), Buffer.from([3, 0]), whole.subarray(10)]) },
  { name: 'header-cut.krp', how: 'dropped', bytes: (whole) => whole.subarray(0, 12) },
  { name: 'damaged.krp', how: 'chosen', bytes: (whole) => Buffer.from(whole.map((byte, i) => i === whole.length >> 1 ? byte ^ 0x40 : byte)) },
  { name: 'at-limit.krp', how: 'address', size: MAX_REPLAY_FILE_BYTES }, // read by the game: no recording
  { name: 'huge.krp', how: 'address', size: MAX_REPLAY_FILE_BYTES + 1 },
  { name: 'huge-chosen.krp', how: 'chosen', size: MAX_REPLAY_FILE_BYTES + 1, refusedAtOnce: true },
  { name: 'missing.krp', how: 'address', line: 'Replay file missing.krp: 404 File not found' },
];
// How long a match plays before its page is closed; the recorder writes a block each second of play.
const KEPT_PLAY_MS = 3000, BLOCK_MS = 1000;

// The native --replay of a file, at its pace (no picture or sound): its status and its lines.
const replayNatively = (file) => new Promise((resolve) => execFile(NATIVE_GAME, ['--replay', file],
  { cwd: ROOT, env: { ...process.env, SDL_VIDEODRIVER: 'dummy', SDL_AUDIODRIVER: 'dummy' } },
  (error, stdout) => resolve({ status: error ? error.code : 0, out: stdout.split('\n').filter((line) => line !== '') })));

// The game's events by the page's clock, with how late the page's timers came, all told, since the
// match began: a machine too busy to run the page on time delays the game's frames as much, at most.
function timeEvents() {
  const TICK_MS = 50;
  let last = performance.now(), stall = 0;
  setInterval(() => [stall, last] = [stall + Math.max(0, performance.now() - last - TICK_MS), performance.now()], TICK_MS);
  window.korrinEvents = [];
  window.addEventListener('korrin-match', () => window.korrinEvents.push(['match', performance.now(), stall = 0]));
  window.addEventListener('korrin-ended', () => window.korrinEvents.push(['ended', performance.now(), stall]));
}

// A page that opens `address` in a window (every page visible, so it runs) and storage of its own.
async function ownPage(browser, url, address) {
  const context = await browser.createBrowserContext();
  return { context, ...await web.openGame(context, url + address, timeEvents) };
}
// Enter in the menu, again until heard: a busy page prints the menu's line well before it reads keys.
const startMatch = (page, lines) => web.until(async () => {
  await web.press(page, 'Enter');
  return lines.includes(EXITING_MENU);
}, ENDED_MS, 'a match from the menu');
const endedText = (page, what) => web.until(() => page.$eval('#ended', (ended) => !ended.hidden &&
  document.getElementById('ended-text').textContent), ENDED_MS, `${what}: the end message`);

test('recordings: the corpus plays in the page as natively; bad files say what is wrong', async (t) => {
  // The site: the build, and the recordings under replays/.
  const site = mkdtempSync(join(tmpdir(), 'korrin-recordings-')), replays = join(site, 'replays');
  mkdirSync(replays);
  for (const file of readdirSync(join(ROOT, 'build-web'))) symlinkSync(join(ROOT, 'build-web', file), join(site, file));
  const { server, url } = await web.serve(site);
  const chrome = await web.launch();
  t.after(() => chrome.close().then(() => { server.kill(); rmSync(site, { recursive: true, force: true }); }));

  // Each recording of the corpus, and the match kept below (cut off), played
  // in a page from its address and natively, side by side while the rest
  // runs; but the longest, which would only add minutes of the same frames.
  const corpus = readdirSync(CORPUS).filter((name) => name.endsWith('.krp') &&
    seconds(web.verifyNatively(NATIVE_GAME, join(CORPUS, name)).out[0]) <= LONGEST_PLAYED_S);
  for (const name of corpus) writeFileSync(join(replays, name), readFileSync(join(CORPUS, name)));
  const playing = [];
  const play = async (name) => {
    const file = join(replays, name);
    const native = replayNatively(file);
    // Opened one at a time: a busy machine loads seven pages at once in more than 30 s.
    const { page, lines, errors } = await ownPage(chrome.browser, url, `?replay=replays/${name}`);
    playing.push(endedText(page, name).then(async (ending) => ({ name, file, lines, errors, ending,
      events: await page.evaluate(() => window.korrinEvents), native: await native })));
  };
  for (const name of corpus) await play(name);

  // Files that are not whole recordings, each in a page of its own.
  const whole = readFileSync(join(CORPUS, 'two-player-escape-ball1.krp'));
  for (const row of BAD_FILES) {
    const file = join(replays, row.name);
    if (!row.line) writeFileSync(file, row.bytes?.(whole) ?? Buffer.alloc(row.size));
    const expected = row.line ?? web.verifyNatively(NATIVE_GAME, file).err[0].replace('Replay file ' + file, 'Replay file ' + row.name);
    const { context, page, lines, errors } =
      await ownPage(chrome.browser, url, row.how === 'address' ? `?replay=replays/${row.name}` : '');
    if (row.how !== 'address') await web.waitForLine(lines, SHOWING_MENU);
    // A file chosen or dropped is watched in the page it reloads as.
    const reloaded = row.how !== 'address' && !row.refusedAtOnce && page.waitForNavigation();
    if (row.how === 'chosen') await (await page.$('#recording-file')).uploadFile(file);
    if (row.how === 'dropped') await page.evaluate((name, text) => { // as a browser hands it over
      const data = new DataTransfer();
      data.items.add(new File([Uint8Array.from(text, (c) => c.charCodeAt(0))], name));
      document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true }));
    }, row.name, readFileSync(file).toString('latin1'));
    await reloaded;
    if (row.refusedAtOnce) {
      // Refused before the game is left: it plays on.
      await web.until(() => page.$eval('#recording-status', (status, expected) => status.textContent === expected,
                                       expected), 5000, row.name);
      await startMatch(page, lines);
    } else {
      assert.equal(await endedText(page, row.name), expected, row.name);
      await page.click('#again'); // "Play": the menu
      await web.waitForLine(lines, SHOWING_MENU, row.how === 'address' ? 1 : 2);
    }
    // The console has the game's line (the file in the game's folder), and the browser's for a 404.
    const expectedError = (error) => error === expected.replace('Replay file ', 'Replay file /replays/') ||
                                     (row.line !== undefined && error.includes('404'));
    assert.deepEqual(errors.filter((error) => !expectedError(error)), [], row.name);
    await context.close();
  }

  // A match kept by its page, closed 3 s into it, for the next visit.
  const { context, page, lines } = await ownPage(chrome.browser, url, '');
  await web.waitForLine(lines, SHOWING_MENU);
  await startMatch(page, lines);
  await web.sleep(KEPT_PLAY_MS);
  const written = await web.bytesOf(page, () => FS.readFile('/recording.krp'));
  await page.close();
  const next = await web.openGame(context, url);
  await next.page.waitForSelector('#kept:not([hidden])', { timeout: 10000 });
  const kept = await web.offeredMatch(next.page, '#kept-save');
  // Every piece written before the page closed, perhaps one more.
  assert.ok(kept.length >= written.length && kept.subarray(0, written.length).equals(written),
            `kept ${kept.length} bytes of the ${written.length} written`);
  writeFileSync(join(replays, 'cut.krp'), kept); // played (and its status checked) below
  const cutLine = web.verifyNatively(NATIVE_GAME, join(replays, 'cut.krp')).out[0];
  assert.ok(seconds(cutLine) >= (KEPT_PLAY_MS - BLOCK_MS) / 1000, cutLine);
  // Forgotten, it is offered no more.
  await next.page.click('#kept-forget');
  await next.page.reload();
  await web.waitForLine(next.lines, SHOWING_MENU, 2);
  await web.sleep(SETTLE_MS);
  assert.ok(await next.page.$eval('#kept', (line) => line.hidden), 'a forgotten match offered again');

  await play('cut.krp');

  for (const { name, file, lines, errors, ending, events, native } of await Promise.all(playing)) {
    const verified = web.verifyNatively(NATIVE_GAME, file);
    const cutOff = name === 'cut.krp';
    assert.deepEqual([verified.status, native.status], Array(2).fill(cutOff ? CUT_OFF_STATUS : 0), `${name}: ${verified.out}`);
    assert.deepEqual(lines, native.out, `${name}: the page's lines`);
    assert.deepEqual([ending, errors], [cutOff ? verified.out.at(-1) : 'The recording has ended.', []], `${name}: the last line`);
    // The same pace: each match as long as its frames.
    assert.deepEqual(events.map(([event]) => event), verified.out.flatMap(() => ['match', 'ended']), name);
    verified.out.forEach((line, i) => {
      const [[, began], [, ended, stallMs]] = events.slice(2 * i, 2 * i + 2);
      const played = (ended - began) / 1000, late = PRINTED_S + PACE_SLACK_S + stallMs / 1000;
      assert.ok(played >= seconds(line) - PRINTED_S && played <= seconds(line) + late,
                `${name}: match ${i + 1} took ${played} s in the page (its timers ${stallMs} ms late): ${line}`);
    });
  }
});
