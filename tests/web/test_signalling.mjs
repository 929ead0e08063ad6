// The page's side of a room's signalling (RoomSignalling in
// web/online/link.mjs) through brokers and connections of the test's own
// making: knocks, offers, answers and candidates, each taken once however
// often it comes; the limits that keep a flood or a silent broker harmless;
// hostile messages refused with a line each. Needs web/online's packages
// (tools/web.sh):
//   node tests/web/test_signalling.mjs
import assert from 'node:assert/strict';
import { EventEmitter } from 'node:events';
import { mock, test } from 'node:test';
import { NEWS, RoomLink, RoomSignalling } from '../../web/online/link.mjs';
import { decode, encode, roomKey } from '../../web/online/signal.mjs';

// The link's own figures, as these tests hold it to them.
const BROKER_WAIT_MS = 10000;
const KNOCK_AGAIN_MS = 1000, KNOCKS = 10;
const CONNECT_LIMIT_MS = 15000;
const CONNECTIONS_AT_ONCE = 16; // eight other sides
const EARLY_CANDIDATES_KEPT = 64;
const MAX_PAYLOAD_BYTES = 16384;

const ROOM = 'k7qm-2xhp-9wvt-fj3n';
const STRANGER = '00ff00ff00ff00ff'; // a side the test plays itself
const key = await roomKey(ROOM);
const realTimeout = setTimeout; // the test's own waits, also while the link's timers are mocked
const turn = () => new Promise((resolve) => setImmediate(resolve));
// Until `holds()` (WebCrypto answers on threads of its own: a few turns).
async function until(holds, what = 'a condition') {
  for (let i = 0; i < 2000 && !(await holds()); ++i) await new Promise((resolve) => realTimeout(resolve, 1));
  assert.ok(await holds(), `no ${what}`);
}
const pause = (ms = 30) => new Promise((resolve) => realTimeout(resolve, ms));

// A broker: what a client publishes reaches every client subscribed to the
// topic, the sender too (as MQTT does), on a later turn.
class FakeBroker {
  clients = [];
  published = []; // every payload, in order
  deliver(topic, payload) {
    this.published.push(payload);
    for (const client of this.clients) {
      if (client.connected && client.topics.has(topic)) setImmediate(() => client.emit('message', topic, Buffer.from(payload)));
    }
  }
}

class FakeClient extends EventEmitter {
  connected = false;
  topics = new Set();
  constructor(broker) {
    super();
    this.broker = broker;
    broker?.clients.push(this);
    if (broker) setImmediate(() => { this.connected = true; this.emit('connect'); });
  }

  subscribe(topic, options, done) {
    this.topics.add(topic);
    setImmediate(() => done(null));
  }

  publish(topic, payload) {
    this.broker.deliver(topic, payload);
  }

  end() {
    this.connected = false;
  }
}

class FakeChannel extends EventTarget {
  readyState = 'connecting';
  close() {}
}

// A connection that records what was done to it, in order.
class FakePeer extends EventTarget {
  static made = 0;
  connectionState = 'new';
  done = []; // 'channel', 'offer', 'answer', 'closed'
  added = []; // the candidates added
  remote = null;
  local = null;
  createDataChannel() {
    this.done.push('channel');
    return new FakeChannel();
  }

  async createOffer() {
    this.done.push('offer');
    return { type: 'offer', sdp: `v=0 offer ${++FakePeer.made}` };
  }

  async createAnswer() {
    this.done.push('answer');
    return { type: 'answer', sdp: `v=0 answer ${++FakePeer.made}` };
  }

  async setLocalDescription(description) {
    this.local = description;
  }

  async setRemoteDescription(description) {
    if (!description.sdp.startsWith('v=0')) throw new Error('not a description');
    this.remote = description;
  }

  async addIceCandidate(candidate) {
    if (!this.remote) throw new Error('no description');
    this.added.push(candidate);
  }

  close() {
    this.done.push('closed');
  }

  // Its ICE agent found a candidate (null: no more).
  find(candidate) {
    this.dispatchEvent(Object.assign(new Event('icecandidate'), { candidate }));
  }

  become(state) {
    this.connectionState = state;
    this.dispatchEvent(new Event('connectionstatechange'));
  }
}

const sides = [];
// A page in the room: its link, signalling, connections and news; opened
// on the given brokers (a URL 'silent' never answers, 'bad' is refused).
function page(hosting, brokers) {
  const peers = [];
  const news = [];
  const link = new RoomLink(hosting, (item) => news.push(item), `page-${sides.length}`);
  const signalling = new RoomSignalling({
    link, room: ROOM, rtcConfig: {},
    connectBroker: (url) => {
      if (url === 'bad') throw new Error('unknown protocol');
      return new FakeClient(brokers[url]);
    },
    PeerConnection: class extends FakePeer {
      constructor() {
        super();
        peers.push(this);
      }
    },
  });
  link.rooms = [signalling];
  const side = { link, signalling, peers, news, opened: null, open: (urls) => (side.opened = signalling.open(urls)) };
  sides.push(side);
  return side;
}
test.afterEach(() => sides.splice(0).forEach((side) => side.link.leave()));

// What the test says in the room as STRANGER, and what was said to it.
async function say(broker, topic, fields, from = STRANGER) {
  broker.deliver(topic, await encode(key, { room: ROOM, from, ...fields }));
}
async function heard(broker, type) {
  const read = await Promise.all(broker.published.map((payload) => decode(key, ROOM, STRANGER, payload)));
  return read.map((r) => r.message).filter((m) => m?.type === type);
}

// The link's lines on console.error while `run` runs (not node's warnings).
async function errorLines(run) {
  const lines = [];
  const error = mock.method(console, 'error', (line) => String(line).startsWith('korrin-tavrel:') && lines.push(line));
  try {
    await run();
  } finally {
    error.mock.restore();
  }
  return lines;
}

test('a host and a joining page meet through two brokers: two connections, each description and ' +
     'candidate taken once, the channels made before the descriptions', async () => {
  const brokers = { a: new FakeBroker(), b: new FakeBroker() };
  const host = page(true, brokers), guest = page(false, brokers);
  assert.equal(await host.open(['a', 'b']), true);
  assert.equal(await guest.open(['a', 'b']), true);
  const answered = () => host.peers.length === 2 && host.peers.every((peer) => peer.remote);
  await until(() => answered() && guest.peers.length === 2, 'answers');
  await pause();
  assert.equal(host.peers.length, 2);
  assert.equal(guest.peers.length, 2);
  const peer = (side, other, conn) => side.signalling.connections.get(`${other.signalling.self} ${conn}`).pc;
  for (let conn = 0; conn < 2; ++conn) {
    const [offerer, answerer] = [peer(host, guest, conn), peer(guest, host, conn)];
    assert.deepEqual(offerer.done, ['channel', 'channel', 'channel', 'offer'], `conn ${conn}`);
    assert.deepEqual(answerer.done, ['channel', 'channel', 'channel', 'answer'], `conn ${conn}`);
    assert.deepEqual([answerer.remote, offerer.remote], [offerer.local, answerer.local], `conn ${conn}`);
  }
  assert.notEqual(host.peers[0].local.sdp, host.peers[1].local.sdp);
  peer(host, guest, 1).find({ candidate: 'candidate:1 1 UDP 41885695 127.0.0.1 49171 typ relay', sdpMid: '0' });
  peer(host, guest, 1).find(null);
  peer(guest, host, 0).find({ candidate: 'candidate:2 1 UDP 2122252543 127.0.0.1 50411 typ host', sdpMid: '0' });
  await until(() => peer(guest, host, 1).added.length === 2 && peer(host, guest, 0).added.length === 1, 'candidates');
  await pause();
  assert.deepEqual(peer(guest, host, 1).added, [
    { candidate: 'candidate:1 1 UDP 41885695 127.0.0.1 49171 typ relay', sdpMid: '0' },
    { candidate: '', sdpMid: '0' }]);
  assert.deepEqual([peer(guest, host, 0).added, peer(host, guest, 0).added, peer(host, guest, 1).added],
                   [[], [{ candidate: 'candidate:2 1 UDP 2122252543 127.0.0.1 50411 typ host', sdpMid: '0' }], []]);
});

// What a host does with what the test says to it as a joining page: each
// row's messages, then what it offered (by conn), the connections it keeps,
// and its lines.
const OFFERS = { type: 'knock', role: 'join' };
const answerTo = (conn, sdp = `v=0 answer of ${conn}`) => ({ type: 'answer', to: 'HOST', conn, sdp });
const HOST_ROWS = [
  ['a knock: two offers', [OFFERS], [0, 1], 2, []],
  ['the same knock twice more: the same two offers again each time', [OFFERS, OFFERS, OFFERS],
    [0, 0, 0, 1, 1, 1], 2, []],
  ['a knock once conn 0 is answered: the offer of conn 1 again', [OFFERS, answerTo(0), OFFERS], [0, 1, 1], 2, []],
  ["a watcher's knock: nothing", [{ type: 'knock', role: 'watch' }], [], 0, []],
  ['an answer never asked for: nothing', [answerTo(0)], [], 0, []],
  ['an answer the connection refuses: that connection ends', [OFFERS, answerTo(1, 'garbage')], [0, 1], 1,
    ['korrin-tavrel: signalling: answer: not a description']],
];

test('a host offers each joining page two connections, and again only what is not answered', async () => {
  for (const [name, messages, offeredConns, connections, expectedLines] of HOST_ROWS) {
    const broker = new FakeBroker();
    const host = page(true, { a: broker });
    await host.open(['a']);
    const topic = [...broker.clients[0].topics][0];
    const lines = await errorLines(async () => {
      for (const fields of messages) {
        const to = fields.to && host.signalling.self;
        await say(broker, topic, { ...fields, ...(to && { to }) });
        await until(() => host.peers.every((peer) => peer.local), 'offers');
        await pause();
      }
    });
    const offers = await heard(broker, 'offer');
    assert.deepEqual(offers.map((offer) => offer.conn).sort(), offeredConns, name);
    const offered = (conn) => host.signalling.connections.get(`${STRANGER} ${conn}`)?.sdp;
    for (const offer of offers.filter((o) => offered(o.conn))) assert.equal(offer.sdp, offered(offer.conn), name);
    assert.equal(host.signalling.connections.size, connections, name);
    assert.deepEqual(lines, expectedLines, name);
  }
});

test('a page connects with 8 other sides at once, not 9: a host knocked on, a joining page sent candidates',
     async () => {
  for (const hosting of [true, false]) {
    const broker = new FakeBroker();
    const side = page(hosting, { a: broker });
    await side.open(['a']);
    const topic = [...broker.clients[0].topics][0];
    const to = side.signalling.self;
    for (let i = 0; i <= CONNECTIONS_AT_ONCE / 2; ++i) {
      for (const conn of [0, 1]) {
        const fields = hosting ? OFFERS : { type: 'candidate', to, conn, candidate: 'candidate:1', mid: '0' };
        await say(broker, topic, fields, `00000000000000${i}a`);
      }
    }
    await until(() => side.peers.length === CONNECTIONS_AT_ONCE, 'connections');
    await pause();
    assert.equal(side.peers.length, CONNECTIONS_AT_ONCE, `hosting ${hosting}`);
  }
});

test("a joining page answers each offer once, the same offer again alike, and keeps an offer's " +
     'early candidates', async () => {
  const broker = new FakeBroker();
  const guest = page(false, { a: broker });
  await guest.open(['a']);
  const topic = [...broker.clients[0].topics][0];
  const to = guest.signalling.self;
  const candidate = (n) => ({ type: 'candidate', to, conn: 1, candidate: `candidate:${n}`, mid: '0' });
  for (let n = 0; n <= EARLY_CANDIDATES_KEPT; ++n) await say(broker, topic, candidate(n));
  await say(broker, topic, candidate(0)); // the same again: one of the 64
  const offer = { type: 'offer', to, conn: 1, sdp: 'v=0 offer of 1' };
  await say(broker, topic, offer);
  await until(() => guest.peers[0]?.local, 'an answer');
  await say(broker, topic, offer);
  await until(async () => (await heard(broker, 'answer')).length === 2, 'the answer again');
  await pause();
  const answers = await heard(broker, 'answer');
  assert.equal(guest.peers.length, 1);
  assert.deepEqual(answers.map((answer) => [answer.conn, answer.sdp]), [[1, guest.peers[0].local.sdp], [1, guest.peers[0].local.sdp]]);
  assert.deepEqual(guest.peers[0].added.map((added) => added.candidate),
                   [...Array(EARLY_CANDIDATES_KEPT).keys()].map((n) => `candidate:${n}`));
});

// Hostile or broken payloads in a host's room: a line for the first of each
// refusal (none for the ordinary ones), no connection, and a knock after them
// is answered as ever.
const seal = (fields) => encode(key, { type: 'knock', room: ROOM, from: STRANGER, role: 'join', ...fields });
async function sealText(text) {
  const iv = crypto.getRandomValues(new Uint8Array(12));
  const sealed = await crypto.subtle.encrypt({ name: 'AES-GCM', iv }, key, new TextEncoder().encode(text));
  return Uint8Array.of(1, ...iv, ...new Uint8Array(sealed));
}
const HOSTILE_ROWS = [
  ['truncated', async () => (await seal({})).subarray(0, 28), 'truncated'],
  ['a newer version', async () => Uint8Array.of(2, ...(await seal({})).subarray(1)), 'newer version'],
  ['version 0', async () => Uint8Array.of(0, ...(await seal({})).subarray(1)), 'malformed'],
  ['huge', async () => new Uint8Array(MAX_PAYLOAD_BYTES + 1), 'huge'],
  ['sealed with another key', async () =>
    encode(await roomKey('abcd'), { type: 'knock', room: 'abcd', from: STRANGER, role: 'join' }),
  'not of this room, or damaged'],
  ['its text damaged', async () => (await seal({})).fill(7, 13, 20), 'not of this room, or damaged'],
  ['not JSON', async () => sealText('knock'), 'not a JSON object'],
  ['an offer for another room, under our key', async () =>
    seal({ type: 'offer', room: 'abcd', to: '0123456789abcdef', conn: 0, sdp: 'v=0' }), 'another room'],
  ['a knock without its role', async () => seal({ role: 7 }), 'missing or ill-typed field'],
  ['a type of a later version', async () => seal({ type: 'leave' }), null],
  ['an answer to another host', async () =>
    seal({ type: 'answer', to: '0123456789abcdef', conn: 0, sdp: 'v=0' }), null],
];

test('hostile and broken messages: refused, a line for the first of each kind, nothing changed', async () => {
  const broker = new FakeBroker();
  const host = page(true, { a: broker });
  await host.open(['a']);
  const topic = [...broker.clients[0].topics][0];
  const lines = await errorLines(async () => {
    for (const [, payload] of HOSTILE_ROWS) {
      for (let i = 0; i < 2; ++i) broker.deliver(topic, await payload());
    }
    await until(() => [...host.signalling.refusals.values()].reduce((a, b) => a + b, 0) >= 2 * HOSTILE_ROWS.length,
                'refusals');
  });
  const expected = new Set(HOSTILE_ROWS.map(([, , refusal]) => refusal).filter(Boolean));
  assert.deepEqual(lines.sort(), [...expected].map((r) => `korrin-tavrel: signalling: refused a message: ${r}`).sort());
  assert.equal(host.peers.length, 0);
  await say(broker, topic, OFFERS);
  await until(() => host.peers.length === 2, 'offers after them');
});

test('time: no broker answering gives up at 10 s; a joining page knocks 10 times in its 10 s, and ' +
     "at once on the host's word; a connection not up in 15 s ends", async (t) => {
  t.mock.timers.enable({ apis: ['setTimeout', 'setInterval', 'Date'] });
  const lonely = page(true, {});
  const lines = await errorLines(async () => {
    lonely.open(['silent', 'bad']);
    await until(() => lonely.signalling.brokers.length === 1, 'a broker');
    t.mock.timers.tick(BROKER_WAIT_MS - 1);
    await pause();
  });
  assert.deepEqual(lines, ['korrin-tavrel: signalling: bad: unknown protocol']);
  let gaveUp = false;
  lonely.opened.then((answered) => { gaveUp = !answered; });
  await pause();
  assert.equal(gaveUp, false);
  t.mock.timers.tick(1);
  await until(() => gaveUp, 'giving up');

  const broker = new FakeBroker();
  const guest = page(false, { a: broker });
  await guest.open(['a']);
  const topic = [...broker.clients[0].topics][0];
  const knocks = async () => (await heard(broker, 'knock')).length;
  await until(async () => (await knocks()) === 1, 'a knock');
  await say(broker, topic, { type: 'here' });
  await until(async () => (await knocks()) === 2, "a knock on the host's word");
  for (let i = 0; i < 2 * KNOCKS; ++i) {
    t.mock.timers.tick(KNOCK_AGAIN_MS);
    await pause(5);
  }
  await pause();
  assert.equal(await knocks(), KNOCKS + 1);

  const host = page(true, { a: broker });
  await host.open(['a']);
  await say(broker, topic, OFFERS);
  await until(() => host.peers.length === 2, 'offers');
  host.peers[0].become('connected');
  t.mock.timers.tick(CONNECT_LIMIT_MS - 1);
  await pause();
  assert.deepEqual(host.peers.map((peer) => peer.done.includes('closed')), [false, false]);
  t.mock.timers.tick(1);
  await pause();
  assert.deepEqual(host.peers.map((peer) => peer.done.includes('closed')), [false, true]);
  host.peers[0].become('failed');
  assert.deepEqual(host.news, [NEWS.connecting, NEWS.connecting, NEWS.failed]);
});
