// Online play between two browsers (build-web/, made by tools/web.sh): two
// headless Chromium processes meet through a local mosquitto, then play
// straight, through a local coturn (relay only), and a Chromium and a Firefox
// through a UDP proxy in front of coturn that delays and drops datagrams
// (tests/web/online.mjs); and a page and the installed game (build/) through
// coturn, each hosting once. Each pairing is tried once:
//   node tests/web/test_online.mjs
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import * as web from './browser.mjs';
import { paddleMoves, sampleMotion } from './motion.mjs';
import * as online from './online.mjs';
import { CONNECT_TIMEOUT_MS } from '../../web/numbers.js';
import { MAX_PAYLOAD_BYTES } from '../../web/online/signal.mjs';

const NATIVE_GAME = join(dirname(fileURLToPath(import.meta.url)), '..', '..', 'build', 'korrin-tavrel');
const FINAL = /^Final score: (\d+) - (\d+)\.$/;
const FIGURES = /^korrin-tavrel: online:/, WATCHED = /^korrin-tavrel: watched:/, FRAMES = /: (\d+) frames,/;
// A whole match with both paddles held up (17 to 27 s); a segment ends at Escape.
const MATCH_MS = 150000;
const SEGMENT_MS = 3000;
// The figures come after the game-over picture, which stays a few seconds.
const GAME_OVER_MS = 10000;
// A refusal's line on the page's console, once published.
const HOSTILE_LINE_MS = 5000;
// A page without a broker says so within 10 s (and a little for the page).
const NO_BROKER_MS = 12000;
// A join nobody answers gives up after the join limit, not earlier (timed by the page's clock).
const JOIN_LIMIT_MS = CONNECT_TIMEOUT_MS;
// Longer than the other side's silence limit (4.5 s): a hidden tab's match runs on.
const HOST_HIDDEN_MS = 5000;
// The window sizes the page is laid out for, from the smallest up.
const WINDOWS = [{ width: 400, height: 290 }, { width: 800, height: 600 }];
// The host's paddle on the joining side at every refresh as both start up: a
// correction (a round trip late: 200 ms, 37 px) eased in over 100 ms moves it
// its own 4 px and a sixth of the correction at most (13 px seen; 60 unease).
const OTHER_PADDLE_MS = 3000;
const OTHER_PADDLE_LARGEST_MOVE = 16;
// What anyone who knows a room might publish in it, each refused with a line on the console of the
// page waiting there (each refusal: test_signalling.mjs): [refusal, payload from the room's key].
const HOSTILE = [
  ['huge', async () => new Uint8Array(MAX_PAYLOAD_BYTES + 1)],
  ['not a JSON object', async (key, iv = crypto.getRandomValues(new Uint8Array(12))) => Uint8Array.of(1, ...iv,
    ...new Uint8Array(await crypto.subtle.encrypt({ name: 'AES-GCM', iv }, key, new TextEncoder().encode('{"type":'))))],
];
// What the installed game prints after its session's lines.
const NATIVE_CLOSING = ['SDL, SDL_mixer, and TTF have been shut down.', 'Korrin Tavrel is exiting normally.'];
// The page's rhythm against the installed game (which holds no key): each
// change of keys one the other side guessed wrong and rolls back.
const PAGE_STEERING = [['ArrowUp', 700], ['ArrowDown', 900]];

// At each window size: the picture, the status line, the link (shown if
// `invite`) and the `others` whole in the window, the lines beneath the picture.
async function checkLayout(page, invite, ...others) {
  for (const size of WINDOWS) {
    await page.setViewport(size);
    await web.sleep(100); // the page places itself on resize
    const [canvas, status, link, ...more] = await web.boxes(page, 'canvas', 'online-status', 'online-invite', ...others);
    const where = `${size.width}x${size.height}: ${JSON.stringify([canvas, status, link, ...more])}`;
    assert.ok(status && (link !== null) === invite && more.every(Boolean), where);
    for (const box of [canvas, status, link, ...more].filter(Boolean)) {
      assert.ok(box.left >= 0 && box.top >= 0 && box.right <= size.width && box.bottom <= size.height, where);
      assert.ok(box === canvas || box.top >= canvas.bottom, where);
    }
  }
}
// From now on, each text the element `id` shows, in window.texts[id] (some come in their own time).
const noteTexts = (page, id) => page.$eval(`#${id}`, (element) => new MutationObserver(() =>
  ((window.texts ??= {})[element.id] ??= []).push(element.textContent)).observe(element, { childList: true }));
// The page's end message, once shown.
async function endedText(page) {
  await page.waitForSelector('#ended:not([hidden])', { timeout: GAME_OVER_MS });
  return page.$eval('#ended-text', (text) => text.textContent);
}
// The native --verify of a recording: one match, ended at the final line's score.
function assertVerifies(file, final) {
  const [, left, right] = FINAL.exec(final), verified = web.verifyNatively(NATIVE_GAME, file);
  assert.match(`${verified.status} ${verified.out}`, new RegExp(`^0 Match 1: ${left}-${right} after .* as recorded$`));
}

// Plays with both paddles held up, to the end or to the host's Escape after a segment: both pages
// end on the same final line, in sync, and say it; with watchOtherPaddle, the host's paddle on the
// joining side moves no more than OTHER_PADDLE_LARGEST_MOVE between two refreshes. A `watcher`
// ends a whole match as the players do: the same line, each frame run, the same match offered,
// and no side's outcome.
async function play({ host, guest }, whole, watchOtherPaddle = false, watcher = null) {
  const otherPaddle = watchOtherPaddle && sampleMotion(guest.page, OTHER_PADDLE_MS);
  await Promise.all([host, guest].map((side) => side.page.keyboard.down('ArrowUp')));
  if (otherPaddle) {
    const largest = Math.max(...paddleMoves(await otherPaddle, 0));
    assert.ok(largest > 0 && largest <= OTHER_PADDLE_LARGEST_MOVE, `the other paddle moved ${largest} px in a refresh`);
  }
  if (!whole) {
    await web.sleep(SEGMENT_MS);
    await web.press(host.page, 'Escape');
  }
  const finals = [];
  const sides = watcher ? [host, guest, watcher] : [host, guest];
  try {
    for (const side of sides) finals.push(await online.waitFor(FINAL, side.lines, MATCH_MS));
  } catch (failure) { // every side's lines and figures say how a match was lost
    failure.message += sides.map((side, i) => `\n${['host', 'guest', 'watcher'][i]}: ${JSON.stringify([...side.lines, ...side.stderr])}`).join('');
    throw failure;
  }
  assert.deepEqual(finals, sides.map(() => finals[0]));
  for (const side of [host, guest]) {
    assert.ok(!side.lines.some((l) => l.startsWith('Lost sync')), side.lines.join('\n'));
    await online.waitFor(FIGURES, side.stderr, GAME_OVER_MS);
  }
  // Each page says what ended the match: who won a whole one (the host plays the left paddle; a
  // watcher neither), that the other player left, and the score.
  const [, left, right] = FINAL.exec(finals[0]).map(Number);
  const said = whole ? [left > right, right > left].map((won) => (won ? 'You won. ' : 'You lost. '))
                     : ['', 'The other player left the match. '];
  for (const [i, side] of sides.entries()) assert.equal(await endedText(side.page), (said[i] ?? '') + finals[0], `side ${i}`);
  if (!whole) return;
  // Each page offers the match as both settled it: the same bytes, which the native game plays to the score.
  const [hosts, ...others] = await Promise.all(sides.map((side) => web.offeredMatch(side.page, '#ended .save-match')));
  assert.ok(others.every((bytes) => bytes.equals(hosts)), 'the pages recorded different matches');
  const frames = (line) => FRAMES.exec(line)[1];
  if (watcher) {
    assert.equal(frames(await online.waitFor(WATCHED, watcher.stderr, GAME_OVER_MS)), frames(host.stderr.find((l) => FIGURES.test(l))));
  }
  writeFileSync(join(online.temp, 'match.krp'), hosts);
  assertVerifies(join(online.temp, 'match.krp'), finals[0]);
}

// A whole match between a page and the installed game (`native`, recording to `recording`) in
// `room`: the page steers in its rhythm until both have said the final score. Both print the lines
// of an online match, the same score (the page's among the game's lines), figures without a loss;
// the page offers the very bytes the game recorded, which --verify plays to the score.
async function playNative(page, native, recording, room, pageHosts) {
  const starts = ['A player joined: the match starts.', 'Joined: the match starts.'];
  const [pageStart, nativeStart] = pageHosts ? starts : [starts[1], starts[0]];
  await web.waitForLine(page.lines, pageStart, 1, online.PAIRING_MS);
  let steering = true;
  const steered = (async () => {
    for (let i = 0; steering; i = (i + 1) % PAGE_STEERING.length) {
      const [key, holdMs] = PAGE_STEERING[i];
      await page.page.keyboard.down(key);
      await web.sleep(holdMs);
      await page.page.keyboard.up(key);
    }
  })();
  let finals;
  try {
    finals = [await online.waitFor(FINAL, page.lines, MATCH_MS), await online.waitFor(FINAL, native.lines, MATCH_MS)];
  } finally {
    steering = false;
    await steered;
  }
  assert.equal(Math.max(...FINAL.exec(finals[0]).slice(1).map(Number)), 5, finals[0]);
  assert.equal(await Promise.race([native.exited, web.sleep(GAME_OVER_MS).then(() => 'running')]), 0, native.stderr.join('\n'));
  const opening = pageHosts ? [`Joining room ${room}.`] : [
    `Waiting for a player in room ${room}.`, native.lines.find((l) => l.startsWith('Send this link'))];
  assert.deepEqual(native.lines.slice(1), [...opening, nativeStart, finals[0], ...NATIVE_CLOSING]);
  await online.waitFor(FIGURES, page.stderr, GAME_OVER_MS);
  assert.ok(!page.lines.some((l) => l.startsWith('Lost sync')), page.lines.join('\n'));
  for (const figures of [page, native].map((side) => side.stderr.find((l) => FIGURES.test(l)))) {
    assert.ok(/ 0 bad packets$/.test(figures) && !/ 0 B\/s/.test(figures), figures);
  }
  await endedText(page.page);
  assert.ok((await web.offeredMatch(page.page, '#ended .save-match')).equals(readFileSync(recording)),
            'the page and the game recorded different matches');
  assertVerifies(recording, finals[0]);
}

const { url, signal, broker } = await online.start();
test.after(online.stopAll);

test('a whole match between two browsers after a host reload, hostile messages in its room and a link in ' +
     'capitals; a third page watching it, a join without a host, no broker, the host hidden; the page at two sizes',
     async () => {
  const query = `${signal}&${online.noIce}`;
  const nobody = `ws://127.0.0.1:${await online.freePort()}`, silent = await online.startSilentBroker();
  const lonely = online.openPage(url, `host&signal=${encodeURIComponent(nobody)}&signal=${encodeURIComponent(silent)}`);
  const unhosted = online.openPage(url, `join=abcd-efgh-jkmn-pqrs&${query}`);
  const host = await online.openPage(url, `host&${query}`);
  const hosted = await online.hostedRoom(host);
  assert.ok(await host.page.$eval('#loading', (line) => line.hidden));
  // The button says what the copy did once the clipboard answers.
  await noteTexts(host.page, 'online-copy');
  await host.page.click('#online-copy');
  await host.page.waitForFunction(() => window.texts?.['online-copy']?.length > 0);
  assert.equal(await host.page.evaluate(() => window.texts['online-copy'][0]), 'Copied');
  // A reload keeps the room, and the link already sent works.
  host.lines.length = 0;
  await host.page.reload();
  assert.equal((await online.hostedRoom(host)).room, hosted.room);
  await noteTexts(host.page, 'online-status');
  await checkLayout(host.page, true);
  // Hostile messages in its room: a line each, and the host waits on for its player.
  await online.sayInRoom(broker, hosted.room, HOSTILE.map(([, payload]) => payload));
  for (const [why] of HOSTILE) {
    await web.waitForLine(host.stderr, `korrin-tavrel: signalling: refused a message: ${why}`, 1, HOSTILE_LINE_MS);
  }
  // Beside the waiting host, ended before the match (three browsers at most): a page without a
  // broker, and a join that found nobody, which offers the same room again and a room of one's own.
  const noBroker = await lonely;
  const cannotHost = 'Cannot host: no signalling server answered within 10 s.';
  await web.waitForLine(noBroker.lines, cannotHost, 1, NO_BROKER_MS);
  assert.equal(await endedText(noBroker.page), cannotHost);
  const noHost = await unhosted;
  const [joining, noAnswer] = ['Joining room abcd-efgh-jkmn-pqrs.', 'No answer from room abcd-efgh-jkmn-pqrs.'];
  await web.waitForLine(noHost.lines, joining, 1, online.PAGE_LOAD_MS);
  await web.waitForLine(noHost.lines, noAnswer, 1, online.PAIRING_MS);
  const printedAt = await noHost.printedAt();
  const gaveUpMs = printedAt[noAnswer] - printedAt[joining];
  assert.ok(gaveUpMs >= JOIN_LIMIT_MS, `gave up after ${gaveUpMs} ms`);
  assert.deepEqual(await noHost.page.evaluate(() => [
    document.getElementById('again').textContent, document.getElementById('again-host').hidden,
    location.search.startsWith('?join=abcd-efgh-jkmn-pqrs&'), document.getElementById('online-native').hidden]),
                   ['Try again', false, true, true]); // (no installed game offered once given up)
  await noHost.page.click('#again-host');
  await online.hostedRoom(noHost);
  for (const page of [noBroker, noHost]) await page.close();

  const capitals = { room: hosted.room, query: hosted.query.replace(hosted.room, hosted.room.toUpperCase()) };
  // The third page's browser starts while the players pair (the match lasts about 20 s), and opens
  // the link once the host has its player.
  const thirdOpened = online.openPage(url, online.waitFor(/^A player joined/, host.lines, MATCH_MS)
    .then(() => `join=${hosted.room}&${query}`));
  const match = await online.joinRoom(url, host, capitals);
  assert.ok((await host.page.evaluate(() => window.texts['online-status'])).includes('A player is connecting…'));
  const third = await thirdOpened;
  await web.waitForLine(third.lines, `Joining room ${match.room}.`, 1, online.PAGE_LOAD_MS);
  await web.waitForLine(third.lines, `Watching room ${match.room}.`, 1, online.PAIRING_MS);

  await checkLayout(host.page, false);
  const cover = await match.host.page.browser().newPage(); // the host's tab hidden
  await web.sleep(HOST_HIDDEN_MS);
  await cover.close();
  await play(match, true, false, third);
  await online.waitFor(/^korrin-tavrel: watchers: 1 served,/, host.stderr, GAME_OVER_MS);
  await third.close();
  // Played again, the host's spent room is not kept: a new one.
  host.lines.length = 0;
  await host.page.click('#again');
  assert.notEqual((await online.hostedRoom(host)).room, hosted.room);
  await online.closePages();
});

test('through coturn, relay only: a segment; a Chromium and a Firefox through a lossy proxy: a whole match',
     async () => {
  const turn = await online.startTurn();
  await play(await online.pair(url, `${signal}&${turn.relayIce()}`), false);
  await online.closePages();
  assert.ok(turn.allocations() >= 2, `${turn.allocations()} relay allocations`);

  const proxy = await online.startLossyProxy(turn.port);
  const match = await online.pair(url, `${signal}&${turn.relayIce(proxy.port)}`, 'firefox');
  await play(match, true, true);
  for (const side of [match.host, match.guest]) assert.doesNotMatch(side.stderr.find((l) => FIGURES.test(l)), / 0 B\/s/);
});

test('the installed game and a page through coturn, relay only: a whole match with each hosting, a page ' +
     "watching the game's", async () => {
  const turn = await online.startTurn();
  // The page hosts; the game joins with the whole link, its room in capitals,
  // and the servers on its command line.
  const page = await online.openPage(url, `host&${signal}&${turn.relayIce()}`);
  const hosted = await online.hostedRoom(page);
  const link = `${url}index.html?${hosted.query.replace(hosted.room, hosted.room.toUpperCase())}`;
  const joined = join(online.temp, 'joined.krp');
  const joiner = online.startNative(NATIVE_GAME, [
    '--join', link, '--signal', broker, '--ice', JSON.stringify(turn.relay()), '--record', joined]);
  await playNative(page, joiner, joined, hosted.room, true);
  await online.closePages();

  // While a page joins, it offers the room to the installed game, beneath
  // the picture; taking it up leaves the page's own join, which Try again resumes.
  const joining = await online.openPage(url, `join=AB-12&${signal}`);
  await web.waitForLine(joining.lines, 'Joining room ab-12.', 1, online.PAGE_LOAD_MS);
  assert.equal(await joining.page.$eval('#online-native-link', (link) => link.href), 'korrin-tavrel:?join=ab-12');
  await checkLayout(joining.page, false, 'online-native');
  await joining.page.click('#online-native-link');
  await web.waitForLine(joining.lines, 'Gave up joining.', 1, online.PAIRING_MS);
  await joining.page.waitForSelector('#ended:not([hidden])', { timeout: GAME_OVER_MS });
  assert.deepEqual(await joining.page.evaluate(() => [
    document.getElementById('online-native').hidden, document.getElementById('again').textContent]), [true, 'Try again']);
  await online.closePages();

  // The game hosts with the servers and the page of its online.json; a page
  // opens the link it printed, as it printed it.
  const hosting = join(online.temp, 'hosted.krp');
  const host = online.startNative(NATIVE_GAME, ['--host-room', '--record', hosting],
                                  { signal: [broker], ice: turn.relay(), page: `${url}index.html` });
  const room = /^Waiting for a player in room ([a-z0-9-]+)\.$/.exec(
    await online.waitFor(/^Waiting for a player in room /, host.lines, online.PAGE_LOAD_MS))[1];
  const sent = await online.waitFor(/^Send this link to the other player: /, host.lines, online.PAGE_LOAD_MS);
  assert.ok(sent.startsWith(`Send this link to the other player: ${url}index.html?join=${room}&signal=`), sent);
  const guest = await online.openPage(url, sent.slice(sent.indexOf('?') + 1));
  await web.waitForLine(guest.lines, `Joining room ${room}.`, 1, online.PAGE_LOAD_MS);
  // The same link opened once the game has its player: that page watches.
  const watcher = online.openPage(url, online.waitFor(/^A player joined/, host.lines, online.PAIRING_MS)
    .then(() => sent.slice(sent.indexOf('?') + 1)));
  await playNative(guest, host, hosting, room, false);
  const watched = await watcher;
  assert.equal(await online.waitFor(FINAL, watched.lines, GAME_OVER_MS), await online.waitFor(FINAL, host.lines, 0));
  assert.equal(watched.lines.find((l) => l.startsWith('Watching')), `Watching room ${room}.`);
  assert.ok(host.stderr.some((l) => l.startsWith('korrin-tavrel: watchers: 1 served,')), host.stderr.join('\n'));
  assert.ok(turn.allocations() >= 4, `${turn.allocations()} relay allocations`);
});
