// The motion figures of the README's "Play in your browser" section, for the
// web build in build-web/ (run ./tools/web.sh --with-test-tools first):
//   node tools/web_motion_benchmark.mjs
// Each reads the picture on the page's canvas at every display refresh
// (tests/web/motion.mjs), in headless Chromium (60 Hz):
// - a one-player match, player 1 idle, for SAMPLE_MS once the ball flies:
//   the refreshes without motion while the ball flies, the coefficient of
//   variation of its horizontal move per refresh, its speed;
// - online, the joining side's picture of the host's paddle while both
//   players turn their paddles at their own pace, for SAMPLE_MS: its
//   largest move between two refreshes, and the refreshes where it moved
//   more than a paddle can (PADDLE_REFRESH_PX), through coturn behind a
//   proxy that delays each datagram 25 ms (50 ms each way, two passes) and
//   behind the online test's lossy proxy (50 +-10 ms a pass, 5 % lost).
import * as web from '../tests/web/browser.mjs';
import * as online from '../tests/web/online.mjs';
import { ballMotion, paddleMoves, sampleMotion } from '../tests/web/motion.mjs';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';

const BUILD = join(dirname(fileURLToPath(import.meta.url)), '..', 'build-web');
const SAMPLE_MS = 10000;
const TURN_EVERY_MS = [290, 370]; // host, joining side
// 11 px per 60 ms: 3 px in a 16.7 ms refresh, and a pixel of rounding.
const PADDLE_REFRESH_PX = 4;
const HOST_SIDE = 0;

function ballFigures(samples) {
  const m = ballMotion(samples);
  return `${m.refreshes} refreshes in flight (one per ${m.refreshMs.toFixed(1)} ms): ` +
         `${(100 * m.still).toFixed(1)} % without motion, move per refresh CV ${m.variation.toFixed(2)}, ` +
         `${m.speed.toFixed(0)} px/s`;
}

function paddleFigures(samples) {
  const moves = paddleMoves(samples, HOST_SIDE);
  const jumps = moves.filter((move) => move > PADDLE_REFRESH_PX).length;
  return `largest move ${Math.max(...moves)} px, ${jumps} of ${moves.length} refreshes over ${PADDLE_REFRESH_PX} px`;
}

async function turnPaddles(sides, ms) {
  await Promise.all(sides.map(async (side, s) => {
    for (let t = 0; t < ms; t += TURN_EVERY_MS[s]) {
      await web.press(side.page, (t / TURN_EVERY_MS[s]) % 2 ? 'ArrowUp' : 'ArrowDown', TURN_EVERY_MS[s] / 2);
    }
  }));
}

const { server, url } = await web.serve(BUILD);
const chrome = await web.launch();
try {
  const { page, lines } = await web.openGame(chrome.browser, url);
  await web.waitForLine(lines, 'Showing menu now');
  await web.press(page, 'Enter'); // 1 PLAYER
  await web.waitForLine(lines, 'Exiting menu.');
  await web.sleep(3700); // the first serve's wait
  console.log(`Local match: ${ballFigures(await sampleMotion(page, SAMPLE_MS))}`);
} finally {
  await chrome.close();
  server.kill();
}

const { url: onlineUrl, signal } = await online.start();
try {
  const turn = await online.startTurn();
  for (const [what, proxy] of [['50 ms each way', await online.startLossyProxy(turn.port, 0, 25, 0)],
                               ['the lossy proxy', await online.startLossyProxy(turn.port)]]) {
    const sides = await online.pair(onlineUrl, `${signal}&${turn.relayIce(proxy.port)}`);
    const [samples] = await Promise.all([sampleMotion(sides.guest.page, SAMPLE_MS),
                                         turnPaddles([sides.host, sides.guest], SAMPLE_MS)]);
    console.log(`Online, ${what}, the other paddle: ${paddleFigures(samples)}`);
    await sides.host.close();
    await sides.guest.close();
  }
} finally {
  await online.stopAll();
}
