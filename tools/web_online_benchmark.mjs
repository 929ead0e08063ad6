// The figures of the README's "Online in the browser, from a link", for the
// web build in build-web/ (run ./tools/web.sh --with-test-tools first), with
// the online test's local mosquitto, coturn and proxy (tests/web/online.mjs):
//   node tools/web_online_benchmark.mjs
// - link to match start: from opening the link the host's page shows to the
//   joining page's "Joined: the match starts.", straight, the median of JOINS;
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
const JOINS = 5;
const PLAY_MS = 20000;
const TURN_EVERY_MS = [290, 370]; // host, joining side
const FIGURES_WAIT_MS = 15000;

const { url, signal } = await online.start();
try {
  const times = [];
  for (let i = 0; i < JOINS; ++i) {
    const { host, guest, joinMs } = await online.pair(url, `${signal}&${online.noIce}`);
    times.push(joinMs);
    await host.close();
    await guest.close();
  }
  times.sort((a, b) => a - b);
  console.log(`link to match start: median ${times[Math.floor(JOINS / 2)]} ms (${times.join(', ')})`);

  for (const name of ['korrin-online.js', 'online.js']) {
    const bytes = readFileSync(join(BUILD, name));
    console.log(`${name}: ${bytes.length} B, ${gzipSync(bytes, { level: 9 }).length} B gzipped`);
  }

  const turn = await online.startTurn();
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
