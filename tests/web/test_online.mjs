// Online play between two browsers (build-web/, made by tools/web.sh): two
// headless Chromium processes meet through a local mosquitto, then play
// straight, through a local coturn (relay only), and through a UDP proxy in
// front of coturn that delays and drops datagrams:
//   node tests/web/test_online.mjs [--figures]
// With --figures it also times five joins and prints the figures.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import dgram from 'node:dgram';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import net from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import * as web from './browser.mjs';

const ROOT = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
const BUILD = join(ROOT, 'build-web');
const FIGURES = process.argv.includes('--figures');
const FIGURES_PLAY_MS = 20000;

// Plain IP candidates between two local browsers, without multicast DNS.
const CHROMIUM_ONLINE_FLAGS = ['--disable-features=WebRtcHideLocalIpsWithMdns'];
const STARTED = { host: 'A player joined: the match starts.', join: 'Joined: the match starts.' };
const WAITING = /^Waiting for a player in room ([A-Za-z0-9-]+)\.$/;
const FINAL = /^Final score: \d+ - \d+\.$/;
const SYNC_LOST = /^Lost sync/;
// A whole match with both paddles held up; a short segment ends at Escape.
const MATCH_MS = 150000;
const SEGMENT_MS = 3000;
// The figures come after the game-over picture, which stays a few seconds.
const GAME_OVER_MS = 10000;
// A page without a broker says so within 10 s (and a little for the page).
const NO_BROKER_MS = 12000;
// The proxy in front of coturn: each datagram delayed 50 ms (±10), 5 % dropped.
const PROXY_DELAY_MS = 50, PROXY_JITTER_MS = 10, PROXY_LOSS = 0.05;
const TURN_USER = 'korrin', TURN_PASSWORD = 'korrinpass';

const temp = mkdtempSync(join(tmpdir(), 'korrin-online-'));

// A free TCP/UDP port of 127.0.0.1, as the system hands them out.
function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

const daemons = []; // all stopped at the end (and the proxy)
function startDaemon(command, args) {
  const child = spawn(command, args, { stdio: ['ignore', 'ignore', 'pipe'] });
  daemons.push(child);
  let output = '';
  child.stderr.on('data', (data) => { output += data; });
  child.on('exit', (code) => { if (code) console.error(`${command} ended with ${code}: ${output}`); });
  return child;
}

// mosquitto with a WebSocket listener (and the plain one it needs beside it).
async function startBroker() {
  const [plain, websocket] = [await freePort(), await freePort()];
  const config = join(temp, 'mosquitto.conf');
  writeFileSync(config, `listener ${plain} 127.0.0.1\nallow_anonymous true\n` +
                        `listener ${websocket} 127.0.0.1\nprotocol websockets\nallow_anonymous true\n`);
  startDaemon('mosquitto', ['-c', config]);
  await web.sleep(500);
  return `ws://127.0.0.1:${websocket}`;
}

async function startTurn() {
  const port = await freePort();
  const relayBase = 50000 + (process.pid % 100) * 100;
  const log = join(temp, 'turn.log');
  const config = join(temp, 'turnserver.conf');
  writeFileSync(config, [
    'listening-ip=127.0.0.1', `listening-port=${port}`, 'relay-ip=127.0.0.1',
    `min-port=${relayBase}`, `max-port=${relayBase + 99}`, 'realm=korrin.test', 'lt-cred-mech',
    `user=${TURN_USER}:${TURN_PASSWORD}`, 'fingerprint', 'no-tls', 'no-dtls', 'no-tcp-relay',
    'no-cli', 'allow-loopback-peers', `log-file=${log}`, 'simple-log', 'verbose', `pidfile=${join(temp, 'turn.pid')}`,
  ].join('\n'));
  startDaemon('turnserver', ['-c', config]);
  await web.sleep(500);
  return { port, allocations: () => (readFileSync(log, 'utf8').match(/ALLOCATE processed, success/g) || []).length };
}

// Forwards UDP between the pages and target, each datagram late and some lost.
async function startLossyProxy(targetPort) {
  const socket = dgram.createSocket('udp4');
  const upstreams = new Map(); // a page's address -> its socket towards the target
  let forwarded = 0;
  const later = (send) => {
    if (Math.random() < PROXY_LOSS) return;
    setTimeout(send, PROXY_DELAY_MS + (Math.random() * 2 - 1) * PROXY_JITTER_MS);
  };
  socket.on('message', (message, from) => {
    const key = `${from.address}:${from.port}`;
    if (!upstreams.has(key)) {
      const upstream = dgram.createSocket('udp4');
      upstream.on('message', (reply) => later(() => socket.send(reply, from.port, from.address)));
      upstreams.set(key, upstream);
    }
    forwarded += 1;
    later(() => upstreams.get(key).send(message, targetPort, '127.0.0.1'));
  });
  await new Promise((resolve) => socket.bind(0, '127.0.0.1', resolve));
  daemons.push({ kill: () => { upstreams.forEach((upstream) => upstream.close()); socket.close(); } });
  return {
    port: socket.address().port,
    forwarded: () => forwarded,
  };
}

// A page of its own Chromium; `errors` collects its console.error lines too
// (the online match's figures).
const chromiums = []; // all closed at the end, also after a failure
async function openPage(url, query) {
  const chromium = await web.launch(CHROMIUM_ONLINE_FLAGS);
  chromiums.push(chromium);
  const game = await web.openGame(chromium.browser, `${url}index.html?${query}`);
  game.stderr = [];
  game.page.on('console', (message) => { if (message.type() === 'error') game.stderr.push(message.text()); });
  game.close = async () => {
    chromiums.splice(chromiums.indexOf(chromium), 1);
    await chromium.close();
  };
  return game;
}

async function waitForMatch(line, lines, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  while (!lines.some((l) => line.test(l))) {
    if (Date.now() > deadline) throw new Error(`no ${line} within ${timeoutMs} ms: ${JSON.stringify(lines)}`);
    await web.sleep(50);
  }
  return lines.find((l) => line.test(l));
}

// A host and a joining page; resolves once both have started the match.
async function pair(url, config) {
  const host = await openPage(url, `host&${config}`);
  const room = WAITING.exec(await waitForMatch(WAITING, host.lines, 15000))[1];
  const link = await host.page.$eval('#online-link', (field) => field.value);
  assert.ok(link.includes(`join=${room}`), link);
  const opened = Date.now();
  const guest = await openPage(url, link.slice(link.indexOf('?') + 1));
  await web.waitForLine(guest.lines, `Joining room ${room}.`);
  await web.waitForLine(guest.lines, STARTED.join, 1, 20000);
  await web.waitForLine(host.lines, STARTED.host);
  return { host, guest, room, joinMs: Date.now() - opened };
}

// Plays with both paddles held up, to the end or to Escape after a segment;
// both pages must end on the same final line, in sync.
async function play({ host, guest }, whole) {
  await Promise.all([host, guest].map((side) => side.page.keyboard.down('ArrowUp')));
  if (!whole) {
    await web.sleep(SEGMENT_MS);
    await web.press(host.page, 'Escape');
  }
  const finals = [];
  for (const side of [host, guest]) finals.push(await waitForMatch(FINAL, side.lines, MATCH_MS));
  assert.equal(finals[0], finals[1]);
  for (const side of [host, guest]) {
    assert.ok(!side.lines.some((l) => SYNC_LOST.test(l)), side.lines.join('\n'));
    await waitForMatch(/^korrin-tavrel: online:/, side.stderr, GAME_OVER_MS);
  }
  if (!whole) await web.waitForLine(guest.lines, 'The other player left the match.');
  assert.equal(await host.page.$eval('#ended-text', (text) => text.textContent), finals[0]);
  return host.stderr.find((l) => l.startsWith('korrin-tavrel: online:'));
}

async function closeAll(...games) {
  for (const game of games) await game.close();
}

const { server, url } = await web.serve(BUILD);
const brokerUrl = await startBroker();
const signal = `signal=${encodeURIComponent(brokerUrl)}`;
const noIce = `ice=${encodeURIComponent(JSON.stringify({ iceServers: [] }))}`;
const relayIce = (port) => `ice=${encodeURIComponent(JSON.stringify({
  iceServers: [{ urls: `turn:127.0.0.1:${port}`, username: TURN_USER, credential: TURN_PASSWORD }],
  iceTransportPolicy: 'relay',
}))}`;

test('a whole match between two browsers, a third page turned away, and no broker', async () => {
  const closedPort = await freePort();
  const lonely = openPage(url, `host&signal=${encodeURIComponent(`ws://127.0.0.1:${closedPort}`)}`);
  const match = await pair(url, `${signal}&${noIce}`);
  const third = await openPage(url, `join=${match.room}&${signal}&${noIce}`);
  await web.waitForLine(third.lines, 'The host already has a player.', 1, 15000);

  const noBroker = await lonely;
  const cannotHost = 'Cannot host: no signalling server answered within 10 s.';
  await web.waitForLine(noBroker.lines, cannotHost, 1, NO_BROKER_MS);
  assert.equal(await noBroker.page.$eval('#ended-text', (text) => text.textContent), cannotHost);
  await closeAll(third, noBroker);

  console.log(await play(match, true));
  await closeAll(match.host, match.guest);
});

test('through coturn, relay only: a segment; through a lossy proxy: a whole match', async () => {
  const { port, allocations } = await startTurn();
  const direct = await pair(url, `${signal}&${relayIce(port)}`);
  await play(direct, false);
  await closeAll(direct.host, direct.guest);
  assert.ok(allocations() >= 2, `${allocations()} relay allocations`);

  const proxy = await startLossyProxy(port);
  const lossy = await pair(url, `${signal}&${relayIce(proxy.port)}`);
  const figures = await play(lossy, true);
  console.log(`through the proxy (${proxy.forwarded()} datagrams): ${figures}`);
  await closeAll(lossy.host, lossy.guest);
});

if (FIGURES) {
  test('figures: time from opening the link to the match start, median of 5', async () => {
    const times = [];
    for (let i = 0; i < 5; ++i) {
      const match = await pair(url, `${signal}&${noIce}`);
      times.push(match.joinMs);
      await closeAll(match.host, match.guest);
    }
    times.sort((a, b) => a - b);
    console.log(`link to match start: ${times.join(', ')} ms; median ${times[2]} ms`);
  });

  test('figures: rollbacks and stalls through the lossy proxy, keys changing', async () => {
    const { port } = await startTurn();
    const proxy = await startLossyProxy(port);
    const match = await pair(url, `${signal}&${relayIce(proxy.port)}`);
    // Each side turns its paddle at its own pace, so that guesses miss.
    const turns = [[match.host, 290], [match.guest, 370]].map(async ([side, everyMs]) => {
      for (let t = 0; t < FIGURES_PLAY_MS; t += everyMs) {
        await web.press(side.page, t % (2 * everyMs) ? 'ArrowUp' : 'ArrowDown', everyMs / 2);
      }
    });
    await Promise.all(turns);
    await web.press(match.host.page, 'Escape');
    for (const side of [match.host, match.guest]) {
      console.log(await waitForMatch(/^korrin-tavrel: online:/, side.stderr, MATCH_MS));
    }
    await closeAll(match.host, match.guest);
  });
}

test.after(async () => {
  for (const chromium of chromiums) await chromium.close();
  daemons.forEach((daemon) => daemon.kill());
  server.kill();
  rmSync(temp, { recursive: true, force: true });
});
