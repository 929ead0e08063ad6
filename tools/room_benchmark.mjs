// The figures of the README's rooms of the installed game, for build/ and
// build-web/ (./tools/web.sh --with-test-tools), with the online test's local
// mosquitto and coturn (tests/web/online.mjs), every datagram through coturn
// (relay-only ICE, as two strict home routers force):
//   node tools/room_benchmark.mjs [TRIES]
// - pairing at the first try: TRIES pairings (20 unless given) of two
//   installed games, and of an installed game hosting and a page opening the
//   link it printed, each a new room: how many started their match within
//   the joining side's limit, and the median and worst time from starting the
//   joining game (opening the link) to its "Joined: the match starts.";
// - bytes each way and CPU: two installed games play PLAY_MS in a room, then
//   over ENet on a port (--host 0, --join 127.0.0.1:PORT): the figures line
//   of the host, and the CPU time both games took from the match's start to
//   its end (/proc), as a share of one core. The games run without a window
//   or a sound device (SDL's dummy drivers), so this is the link's and the
//   game's own work, not the drawing.
import { readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import * as web from '../tests/web/browser.mjs';
import * as online from '../tests/web/online.mjs';

const GAME = join(dirname(fileURLToPath(import.meta.url)), '..', 'build', 'korrin-tavrel');
const TRIES = Number(process.argv[2] ?? 20);
const PLAY_MS = 20000;
const STARTED = /^(A player joined|Joined): the match starts\.$/;
const FIGURES = /^korrin-tavrel: online:/;
const FIGURES_WAIT_MS = 15000;
// The clock ticks of /proc/PID/stat's times (USER_HZ).
const TICKS_PER_S = 100;

const median = (times) => times.sort((a, b) => a - b)[Math.floor((times.length - 1) / 2)];

// The CPU time (user and system) a process has taken so far, in seconds.
function cpuSeconds(pid) {
  const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / TICKS_PER_S;
}

// An installed game that hosts a room with `config`, once it says its room
// and the link to send.
async function nativeHost(config) {
  const host = online.startNative(GAME, ['--host-room'], config);
  const sent = await online.waitFor(/^Send this link to the other player: /, host.lines, online.PAGE_LOAD_MS);
  const room = /[?&]join=([a-z0-9-]+)/.exec(sent)[1];
  return { host, room, link: sent.slice(sent.indexOf('http')) };
}

// Ends the installed games given, as a player closing the window would.
async function stop(...games) {
  for (const game of games) game.child.kill();
  await Promise.all(games.map((game) => game.exited));
}

// TRIES pairings made by `pairOnce` (which resolves to the ms from opening
// the link to the joining side's match start, or throws); says how it went.
async function pairings(name, pairOnce) {
  const times = [];
  for (let i = 0; i < TRIES; ++i) {
    try {
      times.push(await pairOnce());
    } catch (error) {
      console.log(`${name}: try ${i + 1} failed: ${error.message.slice(0, 300)}`);
    }
    await online.closePages();
  }
  console.log(`${name}: ${times.length} of ${TRIES} paired at the first try; from opening the link ` +
              `median ${median(times)} ms, worst ${times[times.length - 1]} ms`);
}

// Two installed games in a match (`start` makes them: {host, guest}) for
// PLAY_MS: the host's figures line and the CPU both took during the match.
async function match(name, start) {
  const { host, guest } = await start();
  for (const game of [host, guest]) await online.waitFor(STARTED, game.lines, online.PAIRING_MS);
  const before = [host, guest].map((game) => cpuSeconds(game.child.pid));
  await web.sleep(PLAY_MS);
  const after = [host, guest].map((game) => cpuSeconds(game.child.pid));
  await stop(host, guest);
  const shares = after.map((s, i) => `${((100 * (s - before[i])) / (PLAY_MS / 1000)).toFixed(1)} %`);
  console.log(`${name}: CPU of one core, host ${shares[0]}, joining game ${shares[1]}`);
  console.log(`  host's ${await online.waitFor(FIGURES, host.stderr, FIGURES_WAIT_MS)}`);
}

const { url, broker } = await online.start();
try {
  const turn = await online.startTurn();
  const config = { signal: [broker], ice: turn.relay(), page: `${url}index.html` };
  await pairings('installed game and installed game, through coturn', async () => {
    const { host, room } = await nativeHost(config);
    const openedAt = Date.now();
    const guest = online.startNative(GAME, ['--join', room], config);
    try {
      await online.waitFor(STARTED, guest.lines, online.PAIRING_MS);
      return Date.now() - openedAt;
    } finally {
      await stop(host, guest);
    }
  });
  await pairings('installed game hosting, a page joining, through coturn', async () => {
    const { host, link } = await nativeHost(config);
    try {
      return (await online.joinRoom(url, host, { room: /join=([a-z0-9-]+)/.exec(link)[1],
                                               query: link.slice(link.indexOf('?') + 1) })).joinMs;
    } finally {
      await stop(host);
    }
  });

  await match('a room through coturn', async () => {
    const { host, room } = await nativeHost(config);
    return { host, guest: online.startNative(GAME, ['--join', room], config) };
  });
  await match('ENet on a port', async () => {
    const host = online.startNative(GAME, ['--host', '0']);
    const port = /port (\d+)\./.exec(await online.waitFor(/^Waiting for a player on port /, host.lines,
                                                          online.PAGE_LOAD_MS))[1];
    return { host, guest: online.startNative(GAME, ['--join', `127.0.0.1:${port}`]) };
  });
} finally {
  await online.stopAll();
}
