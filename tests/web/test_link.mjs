// The browser link's pairing (web/online/link.mjs) on connections of its own
// making: each page meets the other in two connections at once and both must
// settle on the same one. Needs web/online's packages (tools/web.sh):
//   node tests/web/test_link.mjs
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { EVENT, NEWS, RoomLink } from '../../web/online/link.mjs';
import { EARLY_PACKETS_KEPT, HANDSHAKE_REPEAT_MS as ASK_AGAIN_MS, UNSENT_LIMIT_BYTES } from '../../web/numbers.js';
const settle = (ms = 0) => new Promise((resolve) => setTimeout(resolve, ms));

class FakeChannel extends EventTarget {
  readyState = 'connecting';
  other = null; // the same channel on the other side
  cut = false; // what it sends is lost
  sent = []; // what it sent
  bufferedAmount = 0; // what waits to leave
  open() {
    this.readyState = 'open';
    this.onopen?.();
    this.dispatchEvent(new Event('open'));
  }
  send(data) {
    this.sent.push(data);
    const { other } = this;
    if (!this.cut) queueMicrotask(() => other.readyState === 'open' && other.onmessage?.({ data }));
  }
  close() {
    if (this.readyState === 'closed') return;
    this.readyState = 'closed';
    this.onclose?.();
  }
}

class FakeConnection {
  channels = {};
  createDataChannel(label) { return (this.channels[label] = new FakeChannel()); }
  async getStats() { return new Map(); }
}

// A connection between two links, its channels made as the rooms'
// negotiation ends and then opened (unless `opened` is false: then by its
// `open`), or lost on both sides by its `lose`; what `lostFrom` ('host',
// 'guest') sends on the pairing channel is lost.
function connect(host, guest, lostFrom = null, opened = true) {
  const ends = { host: new FakeConnection(), guest: new FakeConnection() };
  host.meet(ends.host);
  guest.meet(ends.guest);
  for (const label of Object.keys(ends.host.channels)) {
    const [a, b] = [ends.host.channels[label], ends.guest.channels[label]];
    [a.other, b.other] = [b, a];
  }
  if (lostFrom) ends[lostFrom].channels.pair.cut = true;
  const open = () => Object.values(ends).forEach((end) => Object.values(end.channels).forEach((channel) => channel.open()));
  if (opened) open();
  return { ...ends, open, lose: () => [host.lose(ends.host), guest.lose(ends.guest)] };
}

const types = (link) => link.events.map((event) => event.type);
const links = [];
let pages = 0;
function newLink(hosting, news = []) {
  links.push(new RoomLink(hosting, (said) => news.push(said), `page-${++pages}`));
  return links.at(-1);
}
// Leaving closes the connections (the room's signalling does), which ends
// their meetings.
test.afterEach(() => links.splice(0).forEach((link) => {
  link.leave();
  [...link.meetings.keys()].forEach((connection) => link.forget(connection));
}));

test('the pages pair on one connection of the two, the first the host hears on', async () => {
  const [host, guest] = [newLink(true), newLink(false)];
  const first = connect(host, guest);
  const second = connect(host, guest);
  await settle();
  assert.deepEqual([types(host), types(guest)], [[EVENT.connected], [EVENT.connected]]);
  assert.equal(host.player, first.host);
  assert.equal(guest.player, first.guest);
  assert.deepEqual(second.host.channels.pair.sent, []); // the same page: no answer there
  const asked = second.guest.channels.pair.sent.length;
  await settle(3 * ASK_AGAIN_MS);
  assert.equal(second.guest.channels.pair.sent.length, asked, 'asked again once paired');
});

test('a connection whose answer is lost, then fails, leaves the other to pair on', async () => {
  const [host, guest] = [newLink(true), newLink(false)];
  const first = connect(host, guest, 'host'); // the question arrives, the answer is lost
  const second = connect(host, guest);
  await settle();
  assert.equal(host.player, first.host);
  assert.deepEqual(types(guest), []);
  assert.ok(second.guest.channels.pair.sent.length > 0, 'the other connection asks too');
  first.lose();
  await settle(2 * ASK_AGAIN_MS);
  // The host's game saw a player come and go, as natively, then the next.
  assert.deepEqual(types(host), [EVENT.connected, EVENT.disconnected, EVENT.connected]);
  assert.deepEqual(types(guest), [EVENT.connected]);
  assert.deepEqual([host.player, guest.player], [second.host, second.guest]);
});

test('a failed connection is news to the page only once no other is being made', async () => {
  for (const secondFails of [false, true]) {
    const news = [];
    const [host, guest] = [newLink(true), newLink(false, news)];
    const first = connect(host, guest, 'host'); // the host takes it; its answer is lost
    const second = connect(host, guest, null, false); // negotiated, its channels still opening
    await settle();
    first.lose();
    (secondFails ? second.lose : second.open)();
    await settle(2 * ASK_AGAIN_MS);
    const [failed, paired] = secondFails ? [[NEWS.failed], []] : [[], [EVENT.connected]];
    assert.deepEqual([news, types(guest)], [[NEWS.connecting, NEWS.connecting, ...failed], paired], `second fails ${secondFails}`);
  }
});

test('a third page watches once however many connections it has: a host with a player, a spent room, an ' +
     "installed game's host; it is heard apart from the player, and one too many is turned away", async () => {
  for (const room of ['player', 'spent', 'installed']) {
    const third = newLink(false);
    let host = null;
    if (room === 'installed') { // its host answers watching on the pairing channel, nothing else
      const end = new FakeConnection();
      third.meet(end);
      const hosts = Object.assign(new FakeChannel(), { readyState: 'open', other: end.channels.pair });
      hosts.onmessage = () => hosts.send('watching');
      end.channels.pair.other = hosts;
      Object.values(end.channels).forEach((channel) => channel.open());
    } else {
      host = Object.assign(newLink(true), { closed: [] }); // the connections its room was told to end
      host.rooms = [{ close: (connection) => host.closed.push(connection), leave() {} }];
      if (room === 'spent') host.spend();
      else connect(host, newLink(false));
      connect(host, third);
      connect(host, third);
    }
    await settle(2 * ASK_AGAIN_MS);
    assert.deepEqual(types(third), [EVENT.watching], room);
    if (!host) continue;
    const [came] = host.events.filter((event) => event.type === EVENT.watcherCame);
    assert.deepEqual(types(host), room === 'spent' ? [EVENT.watcherCame] : [EVENT.connected, EVENT.watcherCame]);
    host.sendToWatcher(came.watcher, Uint8Array.of(5));
    third.send(Uint8Array.of(7), false);
    host.sendToWatcher(came.watcher + 1, Uint8Array.of(6)); // no such watcher
    await settle();
    assert.deepEqual(third.events.slice(1).map((event) => [event.type, event.data[0]]), [[EVENT.received, 5]], room);
    assert.deepEqual(host.events.at(-1), { type: EVENT.watcherSaid, data: Uint8Array.of(7), watcher: came.watcher });
    const watcher = host.watcherOf(came.watcher);
    host.dropWatcher(came.watcher, true);
    await settle();
    assert.deepEqual(types(third).slice(2), [EVENT.refused], room);
    assert.deepEqual(host.closed, [watcher], room); // its place in the room freed
  }
});

test("the host's packets before the joining page has paired wait for it, up to a limit", async () => {
  for (const count of [EARLY_PACKETS_KEPT, EARLY_PACKETS_KEPT + 1]) {
    const [host, guest] = [newLink(true), newLink(false)];
    const ends = connect(host, guest, 'host'); // the host pairs, the joining page not yet
    await settle();
    for (let i = 0; i < count; ++i) host.send(Uint8Array.of(i), i % 2 === 0);
    await settle();
    assert.deepEqual(types(guest), []);
    ends.host.channels.pair.cut = false;
    await settle(2 * ASK_AGAIN_MS);
    const received = guest.events.filter((event) => event.type === EVENT.received).map((event) => event.data[0]);
    assert.equal(guest.events[0].type, EVENT.connected);
    assert.deepEqual(received, [...Array(EARLY_PACKETS_KEPT).keys()], `${count} sent`);
  }
  // Behind the limit of bytes waiting to leave, an unreliable packet is dropped, a reliable one is not.
  const [host, guest] = [newLink(true), newLink(false)];
  const { game, sure } = connect(host, guest).host.channels;
  await settle(2 * ASK_AGAIN_MS);
  for (const [waiting, kept] of [[UNSENT_LIMIT_BYTES - 1, 1], [UNSENT_LIMIT_BYTES, 0]]) {
    game.bufferedAmount = sure.bufferedAmount = waiting;
    const before = [game.sent.length, sure.sent.length];
    host.send(Uint8Array.of(0), false);
    host.send(Uint8Array.of(1), true);
    assert.deepEqual([game.sent.length - before[0], sure.sent.length - before[1]], [kept, 1], `${waiting} B waiting`);
  }
});
