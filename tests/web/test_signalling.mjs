// The page's side of a room's signalling (RoomSignalling in web/online/link.mjs)
// on brokers and connections of the test's own making. Needs web/online's
// packages (tools/web.sh):  node tests/web/test_signalling.mjs
import assert from 'node:assert/strict';
import { EventEmitter } from 'node:events';
import { mock, test } from 'node:test';
import { NEWS, RoomLink, RoomSignalling } from '../../web/online/link.mjs';
import { decode, encode, roomKey } from '../../web/online/signal.mjs';

// The link's own figures, as these tests hold it to them.
const BROKER_WAIT_MS = 10000, KNOCK_AGAIN_MS = 1000, KNOCKS = 10, CONNECT_LIMIT_MS = 15000;
const CONNECTIONS_AT_ONCE = 20, EARLY_CANDIDATES_KEPT = 64;
const ROOM = 'k7qm-2xhp-9wvt-fj3n';
const STRANGER = '00ff00ff00ff00ff'; // a side the test plays itself
const key = await roomKey(ROOM);
const realTimeout = setTimeout; // the test's own waits, also while the link's timers are mocked
const pause = (ms = 30) => new Promise((resolve) => realTimeout(resolve, ms));
async function until(holds, what) { // WebCrypto answers on threads of its own
  for (let i = 0; i < 2000 && !(await holds()); ++i) await pause(1);
  assert.ok(await holds(), `no ${what}`);
}

// A broker is the list of its clients: what one publishes reaches every
// client subscribed to the topic, the sender too (as MQTT does), a turn later.
const newBroker = () => Object.assign([], { published: [] });
class FakeClient extends EventEmitter {
  connected = false;
  topics = new Set();
  constructor(broker) { // none: it never answers
    super();
    this.broker = broker;
    broker?.push(this);
    if (broker) setImmediate(() => { this.connected = true; this.emit('connect'); });
  }
  subscribe(topic, options, done) { this.topics.add(topic); setImmediate(done); }
  publish(topic, payload) { say(this.broker, payload); }
  end() { this.connected = false; }
}
function say(broker, payload) {
  broker.published.push(payload);
  for (const client of broker) {
    for (const topic of client.connected ? client.topics : []) setImmediate(() => client.emit('message', topic, Buffer.from(payload)));
  }
}

// A connection that records what was done to it.
let made = 0;
class FakePeer extends EventTarget {
  connectionState = 'new';
  done = []; // 'channel', 'offer', 'answer', 'closed', in order
  added = []; // the candidates added
  createDataChannel() { this.done.push('channel'); return Object.assign(new EventTarget(), { close() {} }); }
  async createOffer() { this.done.push('offer'); return { type: 'offer', sdp: `v=0 ${++made}` }; }
  async createAnswer() { this.done.push('answer'); return { type: 'answer', sdp: `v=0 ${++made}` }; }
  async setLocalDescription(description) { this.local = description; }
  async setRemoteDescription(description) {
    if (!description.sdp.startsWith('v=0')) throw new Error('not a description');
    this.remote = description;
  }
  async addIceCandidate(candidate) { this.added.push(candidate); }
  close() { this.done.push('closed'); }
  tell(type, fields) { this.dispatchEvent(Object.assign(new Event(type), fields)); }
  become(state) { this.connectionState = state; this.tell('connectionstatechange'); }
}

// A page in the room through `broker` (or brokers): its link, signalling,
// connections and news.
const pages = [];
async function page(hosting, broker, urls = ['a']) {
  const peers = [], news = [];
  const link = new RoomLink(hosting, (item) => news.push(item), `page-${pages.length}`);
  const connectBroker = (url) => {
    if (url === 'bad') throw new Error('unknown protocol');
    return new FakeClient(url === 'silent' ? null : broker[url] ?? broker);
  };
  const PeerConnection = class extends FakePeer { constructor() { super(); peers.push(this); } };
  const signalling = (link.rooms[0] = new RoomSignalling({ link, room: ROOM, rtcConfig: {}, connectBroker, PeerConnection }));
  pages.push(link);
  const opened = signalling.open(urls);
  if (!urls.includes('silent')) assert.equal(await opened, true);
  return { link, signalling, peers, news, opened, self: signalling.self, peer: (side, conn) => signalling.connections.get(`${side} ${conn}`).pc };
}
test.afterEach(() => pages.splice(0).forEach((link) => link.leave()));

// What the test says in the room as `from`, and what was said to STRANGER.
const sayAs = async (broker, fields, from = STRANGER) => say(broker, await encode(key, { room: ROOM, from, ...fields }));
const heard = async (broker, type) => (await Promise.all(broker.published.map((p) => decode(key, ROOM, STRANGER, p))))
  .map((read) => read.message).filter((message) => message?.type === type);
async function errorLines(run) { // the link's lines on console.error meanwhile (not node's warnings)
  const lines = [];
  const error = mock.method(console, 'error', (line) => String(line).startsWith('korrin-tavrel:') && lines.push(line));
  await run().finally(() => error.mock.restore());
  return lines;
}

test('two pages meet through two brokers: the channels before each description, each description and candidate taken once', async () => {
  const brokers = { a: newBroker(), b: newBroker() };
  const host = await page(true, brokers, ['a', 'b']), guest = await page(false, brokers, ['a', 'b']);
  await until(() => host.peers.length === 2 && host.peers.every((peer) => peer.remote), 'answers');
  const relay = { candidate: 'candidate:1 1 UDP 41885695 127.0.0.1 49171 typ relay', sdpMid: '1' };
  for (const candidate of [relay, null]) host.peer(guest.self, 1).tell('icecandidate', { candidate });
  await until(() => guest.peer(host.self, 1).added.length === 2, 'candidates');
  await pause();
  for (const conn of [0, 1]) {
    const [offerer, answerer] = [host.peer(guest.self, conn), guest.peer(host.self, conn)];
    assert.deepEqual([offerer.done, answerer.done], [['channel', 'channel', 'channel', 'offer'],
                                                     ['channel', 'channel', 'channel', 'answer']]);
    assert.deepEqual([answerer.remote, offerer.remote], [offerer.local, answerer.local]);
  }
  // The end of candidates is said with the last one's mid.
  assert.deepEqual([host.peers.length, guest.peers.length, guest.peer(host.self, 0).added, guest.peer(host.self, 1).added],
                   [2, 2, [], [relay, { candidate: '', sdpMid: '1' }]]);
});

// A host's answer to what the test says as a joining page (or sends as
// bytes): the conns it offered (again), the connections it keeps, its lines.
const KNOCK = { type: 'knock', role: 'join' };
const answerTo = (conn, sdp = 'v=0 answer') => ({ type: 'answer', conn, sdp });
const seal = (fields) => () => encode(key, { ...KNOCK, room: ROOM, from: STRANGER, ...fields });
const HOSTILE = [async () => (await seal({})()).subarray(0, 28), seal({ room: 'abcd' }),
  seal({ type: 'leave' }), seal({ type: 'answer', to: '0123456789abcdef', conn: 0, sdp: 'v=0' })]; // these two unsaid
const HOST_ROWS = [
  ['a knock three times: the same two offers each time', [KNOCK, KNOCK, KNOCK], [0, 0, 0, 1, 1, 1], 2, []],
  ['a knock once conn 0 is answered: the offer of conn 1 again', [KNOCK, answerTo(0), KNOCK], [0, 1, 1], 2, []],
  ["a watcher's knock: the same two offers", [{ ...KNOCK, role: 'watch' }], [0, 1], 2, []],
  ['an answer never asked for: nothing', [answerTo(0)], [], 0, []],
  ['an answer the connection refuses: that connection ends', [KNOCK, answerTo(1, 'garbage')], [0, 1], 1,
    ['korrin-tavrel: signalling: answer: not a description']],
  ['hostile messages twice each: refused, a line for the first of each kind', [...HOSTILE, ...HOSTILE], [], 0,
    ['truncated', 'another room'].map((why) => `korrin-tavrel: signalling: refused a message: ${why}`)],
];

test('a host offers each joining page two connections, again what is not answered; hostile messages refused', async () => {
  for (const [name, messages, offeredConns, connections, expectedLines] of HOST_ROWS) {
    const broker = newBroker();
    const host = await page(true, broker);
    const lines = await errorLines(async () => {
      for (const message of messages) {
        if (typeof message === 'function') say(broker, await message());
        else await sayAs(broker, message.type === 'answer' ? { ...message, to: host.self } : message);
        await new Promise(setImmediate).then(() => host.signalling.reading); // read
        await until(() => host.peers.every((peer) => peer.local), 'offers');
      }
      await until(async () => (await heard(broker, 'offer')).length >= offeredConns.length, 'offers said');
      await pause();
    });
    const offers = await heard(broker, 'offer');
    assert.deepEqual(offers.map((offer) => offer.conn).sort(), offeredConns, name);
    for (const { conn, sdp } of offers) assert.equal(sdp, host.peers[conn].local.sdp, name);
    assert.deepEqual([host.signalling.connections.size, lines], [connections, expectedLines], name);
  }
});

test('a joining page answers the same offer alike, keeps 64 early candidates; 10 other sides at once, not 11', async () => {
  const broker = newBroker();
  const guest = await page(false, broker);
  const candidate = (n, conn = 1) => ({ type: 'candidate', to: guest.self, conn, candidate: `candidate:${n}`, mid: '0' });
  for (let n = 0; n <= EARLY_CANDIDATES_KEPT; ++n) await sayAs(broker, candidate(n));
  for (const answers of [1, 2]) {
    await sayAs(broker, { type: 'offer', to: guest.self, conn: 1, sdp: 'v=0 offer' });
    await until(async () => (await heard(broker, 'answer')).length === answers, 'an answer');
  }
  assert.deepEqual((await heard(broker, 'answer')).map((answer) => answer.sdp), Array(2).fill(guest.peers[0].local.sdp));
  assert.deepEqual(guest.peers[0].added.map((added) => added.candidate), [...Array(EARLY_CANDIDATES_KEPT).keys()].map((n) => `candidate:${n}`));

  const host = await page(true, broker);
  const sideOf = (i) => `${String(i).padStart(15, '0')}a`;
  for (let i = 1; i <= CONNECTIONS_AT_ONCE / 2 + 1; ++i) {
    for (const fields of [candidate(i, 0), candidate(i, 1), KNOCK]) await sayAs(broker, fields, sideOf(i));
  }
  await until(() => guest.peers.length + host.peers.length >= 2 * CONNECTIONS_AT_ONCE, 'connections');
  await pause();
  assert.deepEqual([guest.peers.length, host.peers.length], [CONNECTIONS_AT_ONCE, CONNECTIONS_AT_ONCE]);
  // Both connections to a side closed by the link (a watcher dropped) make room for the side refused.
  for (const conn of [0, 1]) host.signalling.close(host.peer(sideOf(1), conn));
  await sayAs(broker, KNOCK, sideOf(CONNECTIONS_AT_ONCE / 2 + 1));
  await until(() => host.peers.length === CONNECTIONS_AT_ONCE + 2, 'offers to the side refused');
});

test("time: no broker gives up at 10 s; knocks for 10 s and on the host's word; a connection not up in 15 s ends", async (t) => {
  t.mock.timers.enable({ apis: ['setTimeout', 'setInterval', 'Date'] });
  const lines = await errorLines(async () => {
    const lonely = await page(true, null, ['silent', 'bad']);
    const opened = () => Promise.race([lonely.opened, pause().then(() => 'waiting')]);
    await until(() => lonely.signalling.brokers.length === 1, 'a broker');
    t.mock.timers.tick(BROKER_WAIT_MS - 1);
    assert.equal(await opened(), 'waiting');
    t.mock.timers.tick(1);
    assert.equal(await opened(), false);
  });
  assert.deepEqual(lines, ['korrin-tavrel: signalling: bad: unknown protocol']);

  const broker = newBroker();
  await page(false, broker);
  const knocks = async () => (await heard(broker, 'knock')).length;
  await until(async () => (await knocks()) === 1, 'a knock');
  await sayAs(broker, { type: 'here' });
  await until(async () => (await knocks()) === 2, "a knock on the host's word");
  for (let i = 0; i < 2 * KNOCKS; ++i) t.mock.timers.tick(KNOCK_AGAIN_MS); // each tick its own time
  await until(async () => (await knocks()) >= KNOCKS + 1, 'knocks');
  await pause();
  assert.equal(await knocks(), KNOCKS + 1);

  const host = await page(true, broker);
  await sayAs(broker, KNOCK);
  await until(() => host.peers.length === 2, 'offers');
  host.peers[0].become('connected');
  const closed = () => host.peers.map((peer) => peer.done.includes('closed'));
  t.mock.timers.tick(CONNECT_LIMIT_MS - 1);
  assert.deepEqual(closed(), [false, false]);
  t.mock.timers.tick(1);
  assert.deepEqual(closed(), [false, true]);
  host.peers[0].become('failed');
  assert.deepEqual([closed(), host.news], [[true, true], [NEWS.connecting, NEWS.connecting, NEWS.failed]]);
});
