// What the online web test (tests/web/test_online.mjs) and the online
// benchmark (tools/web_online_benchmark.mjs) run beside the pages, all on
// 127.0.0.1: the web build served, a mosquitto, a coturn and a lossy UDP
// proxy, configured here; two pages of two Chromium processes paired in a
// room; and the installed game in a room of its own or of a page. stopAll()
// ends everything, also after a failure.
import { spawn } from 'node:child_process';
import dgram from 'node:dgram';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import net from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';
import { roomKey, roomTopic } from '../../web/online/signal.mjs';
import * as web from './browser.mjs';

// The MQTT client the page bundles (web/online's packages, tools/web.sh).
const mqtt = createRequire(new URL('../../web/online/package.json', import.meta.url))('mqtt');

const ROOT = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
const BUILD = join(ROOT, 'build-web');
// Plain IP candidates between two local browsers, without multicast DNS. On
// a machine whose only network is the loopback, Chromium gathers no
// candidate at all unless loopback is allowed and the page may use media (a
// fake device, asked for before the game starts).
const CHROMIUM_ONLINE_FLAGS = [
  '--disable-features=WebRtcHideLocalIpsWithMdns', '--allow-loopback-in-peer-connection',
  '--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream'];
const askForMedia = () => navigator.mediaDevices.getUserMedia({ audio: true });
const notePrintTimes = () => {
  const log = console.log;
  window.printedAt = {};
  console.log = (line, ...rest) => {
    window.printedAt[line] ??= Date.now();
    log(line, ...rest);
  };
};
const WAITING = /^Waiting for a player in room ([A-Za-z0-9-]+)\.$/;
const DAEMON_START_MS = 500;
// The proxy in front of coturn, by default: each datagram 50 ms (±10) late, 5 % lost.
const PROXY_DELAY_MS = 50, PROXY_JITTER_MS = 10, PROXY_LOSS = 0.05;
// Firefox gathers loopback candidates, under their own addresses, only when asked to.
const FIREFOX_ONLINE_PREFS = { 'media.peerconnection.ice.loopback': true,
                               'media.peerconnection.ice.obfuscate_host_addresses': false };
// A page loaded, its game started and a broker found (8 s at a load of 20).
export const PAGE_LOAD_MS = 30000;
// The joining side's limit (10 s) and a little for the page.
export const PAIRING_MS = 12000;
const TURN_USER = 'korrin', TURN_PASSWORD = 'korrinpass';

export const temp = mkdtempSync(join(tmpdir(), 'korrin-online-'));
const running = []; // what stopAll() ends: {stop()}

// A free port of 127.0.0.1, as the system hands them out.
export function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function startDaemon(command, lines) {
  const file = join(temp, `${command}.conf`);
  writeFileSync(file, lines.join('\n'));
  const child = spawn(command, ['-c', file], { stdio: 'ignore' });
  running.push({ stop: () => child.kill() });
  await web.sleep(DAEMON_START_MS);
}

// The build served, and mosquitto with a WebSocket listener (and the plain
// one it needs beside it): the page's address, the query naming the broker,
// and the broker's URL.
export async function start() {
  const { server, url } = await web.serve(BUILD);
  running.push({ stop: () => server.kill() });
  const [plain, websocket] = [await freePort(), await freePort()];
  await startDaemon('mosquitto', [
    `listener ${plain} 127.0.0.1`, 'allow_anonymous true',
    `listener ${websocket} 127.0.0.1`, 'protocol websockets', 'allow_anonymous true']);
  const broker = `ws://127.0.0.1:${websocket}`;
  return { url, signal: `signal=${encodeURIComponent(broker)}`, broker };
}

// A broker's URL whose server takes the connection and never says a word.
export async function startSilentBroker() {
  const sockets = [];
  const server = net.createServer((socket) => sockets.push(socket));
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  running.push({ stop: () => { sockets.forEach((socket) => socket.destroy()); server.close(); } });
  return `ws://127.0.0.1:${server.address().port}`;
}

// Publishes `payloads` (each made from the room's key) on the room's topic, as anyone who knows it could.
export async function sayInRoom(broker, room, payloads) {
  const client = await mqtt.connectAsync(broker, { clean: true, protocolVersion: 4, reconnectPeriod: 0 });
  const [topic, key] = [await roomTopic(room), await roomKey(room)];
  for (const payload of payloads) await client.publishAsync(topic, Buffer.from(await payload(key)));
  await client.endAsync();
}

export const noIce = `ice=${encodeURIComponent(JSON.stringify({ iceServers: [] }))}`;

// coturn: its port, the ICE settings for relay only through `port` (it, or a proxy in front) and
// the query that gives them to a page, and the count of relays it has allocated. It relays on its
// default ports (49152-65535): each page holds a port for each of its connections, two a pairing,
// and those of pages gone until they expire (30 once ran out: "error 508: Cannot create socket").
export async function startTurn() {
  const port = await freePort();
  const log = join(temp, 'turn.log');
  await startDaemon('turnserver', [
    'listening-ip=127.0.0.1', `listening-port=${port}`, 'relay-ip=127.0.0.1',
    'realm=korrin.test', 'lt-cred-mech',
    `user=${TURN_USER}:${TURN_PASSWORD}`, 'fingerprint', 'no-tls', 'no-dtls', 'no-tcp-relay',
    'no-cli', 'allow-loopback-peers', `log-file=${log}`, 'simple-log', 'verbose',
    `pidfile=${join(temp, 'turn.pid')}`]);
  const relay = (through = port) => ({
    iceServers: [{ urls: `turn:127.0.0.1:${through}`, username: TURN_USER, credential: TURN_PASSWORD }],
    iceTransportPolicy: 'relay',
  });
  return {
    port,
    relay,
    relayIce: (through = port) => `ice=${encodeURIComponent(JSON.stringify(relay(through)))}`,
    allocations: () => (readFileSync(log, 'utf8').match(/ALLOCATE processed, success/g) || []).length,
  };
}

// Forwards UDP between the pages and targetPort, each datagram late and some lost.
export async function startLossyProxy(targetPort, loss = PROXY_LOSS, delayMs = PROXY_DELAY_MS,
                                      jitterMs = PROXY_JITTER_MS) {
  const socket = dgram.createSocket('udp4');
  const upstreams = new Map(); // a page's address -> its socket towards the target
  let forwarded = 0;
  const later = (send) => {
    if (Math.random() >= loss) setTimeout(send, delayMs + (Math.random() * 2 - 1) * jitterMs);
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
  running.push({ stop: () => { upstreams.forEach((upstream) => upstream.close()); socket.close(); } });
  return { port: socket.address().port, forwarded: () => forwarded };
}

// A page of its own browser (Chromium, or Firefox; `view` as web.openGame's), opened once `query` (or
// the promise of it) is known; `stderr` collects its console.error lines (the match's figures),
// `openedAt` is when the browser had started, `printedAt()` when each line was printed first, by the
// page's own clock (a busy browser may hand a line on late).
export async function openPage(url, query, which = 'chromium', view = undefined) {
  const chromium = which === 'chromium';
  const browser = await web.launch(which, { extraFlags: CHROMIUM_ONLINE_FLAGS, extraPrefs: FIREFOX_ONLINE_PREFS });
  const entry = { stop: () => browser.close(), browser: true };
  running.push(entry);
  const openedAt = Date.now();
  const beforeStart = chromium ? [notePrintTimes, askForMedia] : [notePrintTimes];
  const game = await web.openGame(browser.browser, `${url}index.html?${await query}`, beforeStart, view);
  game.openedAt = openedAt;
  game.stderr = [];
  game.page.on('console', (message) => {
    if (message.type() === 'error') game.stderr.push(message.text());
  });
  game.printedAt = () => game.page.evaluate(() => window.printedAt);
  game.close = () => running.splice(running.indexOf(entry), 1)[0].stop();
  return game;
}

// The installed game with `args`, without a window, sound or keys (its paddle stays where it starts),
// its assets from the source tree, online.json `config` where it keeps it. `lines` and `stderr`
// collect what it prints; `exited` resolves to its status.
export function startNative(game, args, config = {}) {
  const home = mkdtempSync(join(temp, 'native-'));
  mkdirSync(join(home, 'korrin-tavrel'));
  writeFileSync(join(home, 'korrin-tavrel', 'online.json'), JSON.stringify(config));
  const env = { ...process.env, SDL_VIDEODRIVER: 'dummy', SDL_AUDIODRIVER: 'dummy', XDG_CONFIG_HOME: home };
  // Line-buffered, as on a terminal: each line is seen when the game says it.
  const child = spawn('stdbuf', ['-oL', game, ...args], { cwd: ROOT, env, stdio: ['ignore', 'pipe', 'pipe'] });
  const native = { lines: [], stderr: [], child };
  for (const [stream, lines] of [[child.stdout, native.lines], [child.stderr, native.stderr]]) {
    createInterface({ input: stream }).on('line', (line) => lines.push(line));
  }
  native.exited = new Promise((resolve) => child.on('exit', (status) => resolve(status)));
  running.push({ stop: () => child.kill() });
  return native;
}

// The first of lines that matches pattern, once there is one.
export async function waitFor(pattern, lines, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  while (!lines.some((l) => pattern.test(l))) {
    if (Date.now() > deadline) throw new Error(`no ${pattern} within ${timeoutMs} ms: ${JSON.stringify(lines)}`);
    await web.sleep(50);
  }
  return lines.find((l) => pattern.test(l));
}

// The room a host's page says it waits in, and the link it shows.
export async function hostedRoom(host) {
  const room = WAITING.exec(await waitFor(WAITING, host.lines, PAGE_LOAD_MS))[1];
  const link = await host.page.$eval('#online-link', (field) => field.value);
  if (!link.includes(`join=${room}`)) throw new Error(`the page's link ${link} is not to room ${room}`);
  return { room, query: link.slice(link.indexOf('?') + 1) };
}

// A host, and a page that opens the link its page shows: see joinRoom().
export async function pair(url, query, guestBrowser = 'chromium', guestView = undefined) {
  const host = await openPage(url, `host&${query}`);
  return joinRoom(url, host, await hostedRoom(host), guestBrowser, guestView);
}

// A page that opens the link `invite` to the host's room, once: resolves once
// both have started the match, with the times to "Joined: the match starts."
// from opening the link and from "Joining room R." (a broker found); fails on
// "No answer from room R.".
export async function joinRoom(url, host, { room, query: invite }, guestBrowser = 'chromium', guestView = undefined) {
  const guest = await openPage(url, invite, guestBrowser, guestView);
  const joining = `Joining room ${room}.`, joined = 'Joined: the match starts.';
  const noAnswer = `No answer from room ${room}.`;
  await web.waitForLine(guest.lines, joining, 1, PAGE_LOAD_MS);
  const outcome = await waitFor({ test: (line) => line === joined || line === noAnswer }, guest.lines,
                                PAIRING_MS);
  if (outcome !== joined) throw new Error(`${outcome} (host: ${JSON.stringify(host.lines)})`);
  await web.waitForLine(host.lines, 'A player joined: the match starts.');
  const printedAt = await guest.printedAt();
  return { host, guest, room, joinMs: printedAt[joined] - guest.openedAt, pairMs: printedAt[joined] - printedAt[joining] };
}

// Closes the browsers still open (after a failed pairing), leaving the rest.
export async function closePages() {
  for (const entry of running.filter((e) => e.browser)) {
    running.splice(running.indexOf(entry), 1);
    await entry.stop();
  }
}

export async function stopAll() {
  for (const entry of running.splice(0).reverse()) await entry.stop();
  rmSync(temp, { recursive: true, force: true });
}
