// The figures of the README's "Online in the browser, from a link", for the
// web build in build-web/ (run ./tools/web.sh --with-test-tools first), with
// the online test's local mosquitto, coturn and proxy (tests/web/online.mjs):
//   node tools/web_online_benchmark.mjs [TRIES]
// - pairing at the first try: TRIES pairings (20 unless given) straight, and
//   through coturn behind the lossy proxy at 5 % and at 10 % loss per
//   crossing, each with a new host and a new link opened once: how many
//   started their match within the joining side's limit, and the median and
//   worst time from the joining page's "Joining room R." (its page loaded and
//   a broker found) to its "Joined: the match starts.", and the median from
//   opening the link;
// - size: korrin-online.js (loaded when online play is chosen) and online.js
//   (on every page), gzipped (level 9) as a web server would send them;
// - rollbacks, stalls and bytes each way: the game's figures line of both
//   sides after PLAY_MS through coturn behind the lossy proxy, each side
//   turning its paddle at its own pace so that the guesses miss.
import { readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { gzipSync } from 'node:zlib';
import * as web from '../tests/web/browser.mjs';
import * as online from '../tests/web/online.mjs';

const BUILD = join(dirname(fileURLToPath(import.meta.url)), '..', 'build-web');
const TRIES = Number(process.argv[2] ?? 20);
const LOSSES = [0.05, 0.1];
const PLAY_MS = 20000;
const TURN_EVERY_MS = [290, 370]; // host, joining side
const FIGURES_WAIT_MS = 15000;

// Pairs TRIES times with the given query; says how it went.
async function pairings(name, url, query) {
  const pairMs = [], joinMs = [];
  for (let i = 0; i < TRIES; ++i) {
    try {
      const sides = await online.pair(url, query);
      pairMs.push(sides.pairMs);
      joinMs.push(sides.joinMs);
    } catch (error) {
      console.log(`${name}: try ${i + 1} failed: ${error.message.slice(0, 300)}`);
    }
    await online.closePages();
  }
  const median = (times) => times.sort((a, b) => a - b)[Math.floor((times.length - 1) / 2)];
  console.log(`${name}: ${pairMs.length} of ${TRIES} paired at the first try; from "Joining room" ` +
              `median ${median(pairMs)} ms, worst ${pairMs[pairMs.length - 1]} ms; from opening ` +
              `the link median ${median(joinMs)} ms`);
}

const { url, signal } = await online.start();
try {
  await pairings('straight', url, `${signal}&${online.noIce}`);
  const turn = await online.startTurn();
  for (const loss of LOSSES) {
    const proxy = await online.startLossyProxy(turn.port, loss);
    await pairings(`through coturn behind the proxy, ${loss * 100} % loss`, url,
                   `${signal}&${turn.relayIce(proxy.port)}`);
  }

  for (const name of ['korrin-online.js', 'online.js']) {
    const bytes = readFileSync(join(BUILD, name));
    console.log(`${name}: ${bytes.length} B, ${gzipSync(bytes, { level: 9 }).length} B gzipped`);
  }

  const proxy = await online.startLossyProxy(turn.port);
  const sides = await online.pair(url, `${signal}&${turn.relayIce(proxy.port)}`);
  await Promise.all([sides.host, sides.guest].map(async (side, s) => {
    for (let t = 0; t < PLAY_MS; t += TURN_EVERY_MS[s]) {
      const key = (t / TURN_EVERY_MS[s]) % 2 ? 'ArrowUp' : 'ArrowDown';
      await web.press(side.page, key, TURN_EVERY_MS[s] / 2);
    }
  }));
  await web.press(sides.host.page, 'Escape');
  for (const side of [sides.host, sides.guest]) {
    console.log(await online.waitFor(/^korrin-tavrel: online:/, side.stderr, FIGURES_WAIT_MS));
  }
} finally {
  await online.stopAll();
}
