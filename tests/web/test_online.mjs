// Online play between two browsers (build-web/, made by tools/web.sh): two
// headless Chromium processes meet through a local mosquitto, then play
// straight, through a local coturn (relay only), and through a UDP proxy in
// front of coturn that delays and drops datagrams (tests/web/online.mjs):
//   node tests/web/test_online.mjs
import assert from 'node:assert/strict';
import { test } from 'node:test';
import * as web from './browser.mjs';
import { largestPaddleMove, sampleMotion } from './motion.mjs';
import * as online from './online.mjs';

const FINAL = /^Final score: \d+ - \d+\.$/;
const FIGURES = /^korrin-tavrel: online:/;
// A whole match with both paddles held up (17 to 27 s); a segment ends at Escape.
const MATCH_MS = 150000;
const SEGMENT_MS = 3000;
// The figures come after the game-over picture, which stays a few seconds.
const GAME_OVER_MS = 10000;
// A page without a broker says so within 10 s (and a little for the page).
const NO_BROKER_MS = 12000;
// Longer than the other side's silence limit (3.25 s): a hidden tab's match runs on.
const HOST_HIDDEN_MS = 4000;
// The joining side's picture of the host's paddle at every refresh, while
// both paddles start up: a correction arrives a round trip late (200 ms
// through the lossy proxy, a move of 37 px) and is eased in over 100 ms: at
// most a paddle's own 4 px and a sixth of the correction a refresh (13 px
// seen). Without the ease it jumps (up to 60 px seen).
const OTHER_PADDLE_MS = 3000;
const OTHER_PADDLE_LARGEST_MOVE = 16;

// Plays with both paddles held up, to the end or to the host's Escape after
// a segment: both pages end on the same final line, in sync, and the host's
// page shows it; with watchOtherPaddle, the host's paddle on the joining
// side moves no more than OTHER_PADDLE_LARGEST_MOVE between two refreshes.
// Resolves to the host's figures.
async function play({ host, guest }, whole, watchOtherPaddle = false) {
  const otherPaddle = watchOtherPaddle && sampleMotion(guest.page, OTHER_PADDLE_MS);
  await Promise.all([host, guest].map((side) => side.page.keyboard.down('ArrowUp')));
  if (otherPaddle) {
    const largest = largestPaddleMove(await otherPaddle, 0);
    assert.ok(largest > 0 && largest <= OTHER_PADDLE_LARGEST_MOVE, `the other paddle moved ${largest} px in a refresh`);
  }
  if (!whole) {
    await web.sleep(SEGMENT_MS);
    await web.press(host.page, 'Escape');
  }
  const finals = [];
  for (const side of [host, guest]) finals.push(await online.waitFor(FINAL, side.lines, MATCH_MS));
  assert.equal(finals[0], finals[1]);
  for (const side of [host, guest]) {
    assert.ok(!side.lines.some((l) => l.startsWith('Lost sync')), side.lines.join('\n'));
    await online.waitFor(FIGURES, side.stderr, GAME_OVER_MS);
  }
  if (!whole) await web.waitForLine(guest.lines, 'The other player left the match.');
  assert.equal(await host.page.$eval('#ended-text', (text) => text.textContent), finals[0]);
  await host.close();
  await guest.close();
  return host.stderr.find((l) => FIGURES.test(l));
}

const { url, signal } = await online.start();
test.after(online.stopAll);

test('a whole match between two browsers, a third page turned away, no broker, the host hidden', async () => {
  const nobody = `ws://127.0.0.1:${await online.freePort()}`;
  const lonely = online.openPage(url, `host&signal=${encodeURIComponent(nobody)}`);
  const match = await online.pair(url, `${signal}&${online.noIce}`);
  const third = await online.openPage(url, `join=${match.room}&${signal}&${online.noIce}`);
  await web.waitForLine(third.lines, 'The host already has a player.', 1, 15000);

  const noBroker = await lonely;
  const cannotHost = 'Cannot host: no signalling server answered within 10 s.';
  await web.waitForLine(noBroker.lines, cannotHost, 1, NO_BROKER_MS);
  assert.equal(await noBroker.page.$eval('#ended-text', (text) => text.textContent), cannotHost);
  await third.close();
  await noBroker.close();
  const cover = await match.host.page.browser().newPage(); // the host's tab hidden
  await web.sleep(HOST_HIDDEN_MS);
  await cover.close();
  console.log(await play(match, true));
});

test('through coturn, relay only: a segment; through a lossy proxy: a whole match', async () => {
  const turn = await online.startTurn();
  await play(await online.pair(url, `${signal}&${turn.relayIce()}`), false);
  assert.ok(turn.allocations() >= 2, `${turn.allocations()} relay allocations`);

  const proxy = await online.startLossyProxy(turn.port);
  const figures = await play(await online.pair(url, `${signal}&${turn.relayIce(proxy.port)}`), true, true);
  console.log(`through the proxy (${proxy.forwarded()} datagrams): ${figures}`);
});
