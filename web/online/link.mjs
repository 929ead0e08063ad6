// The online match's link in the browser: two pages meet in a room through
// MQTT brokers (trystero's MQTT strategy exchanges the connection offers),
// then everything of ours goes straight from page to page over WebRTC data
// channels of our own, created alike on both sides of each connection: an
// unreliable, unordered one for the inputs (a lost packet is repeated by the
// next one anyway; retransmitting would only delay the newer ones), a
// reliable, ordered one for the packets that must arrive, and an unreliable
// one on which the two pages pair. Bundled by tools/web.sh into
// korrin-online.js, which the page (web/online.js) loads only when online
// play is chosen; web/library/link.js hands its events to the game
// (web/link_web.cpp).
//
// Nothing of the pairing waits for a reliable message: one lost at the start
// of a connection is sent again only after seconds. So the pages take each
// connection as soon as trystero has negotiated it (through the connection
// class it is given), without waiting for its own channel and handshake, and
// say who they are on the pairing channel, again and again until answered.
//
// Nor does it hang on one connection: a datagram lost as a connection sets up
// its encryption and its channels is sent again only after a second or more,
// then two, then four (a connection through TURN at 10 % loss took 6 s to
// come up now and then). So each page is in the room twice over, under two
// application names that trystero keeps apart, and two pages meet in two
// independent connections at once: they pair on the first that answers.
import { getRelaySockets, joinRoom } from '@trystero-p2p/mqtt';
import { EARLY_PACKETS_KEPT, HANDSHAKE_REPEAT_MS } from '../numbers.js';
// The brokers tried when the page names none (web/online.js asks them first).
export { defaultRelayUrls as DEFAULT_BROKERS } from '@trystero-p2p/mqtt';

// Pages of this game meet only pages of this game: the room's topics and the
// encryption of the offers are derived from these names.
const APP_IDS = ['korrin-tavrel', 'korrin-tavrel-2'];
// Without a broker within this time, nobody could ever find the room.
const BROKER_WAIT_MS = 10000;
const BROKER_POLL_MS = 50;
// Channels both sides create with the same ids, so no offer is needed for them.
const GAME_CHANNEL = { negotiated: true, id: 100, ordered: false, maxRetransmits: 0 };
const SURE_CHANNEL = { negotiated: true, id: 101, ordered: true };
const PAIR_CHANNEL = { negotiated: true, id: 102, ordered: false, maxRetransmits: 0 };
// How often a joining page asks again while the host has not answered (as
// often as the game repeats its handshake): a lost question costs this much,
// at a few bytes each time.
const ASK_AGAIN_MS = HANDSHAKE_REPEAT_MS;
// How often the round trip and the byte counts are read from the connection.
const STATS_INTERVAL_MS = 250;
const WEBSOCKET_OPEN = 1;

// What happened, in the order of the game's LinkEvent (src/net/link.h).
export const EVENT = { connected: 1, received: 2, disconnected: 3, lost: 4, refused: 5 };

// What the link tells the page beside the game's events (openLink's onNews):
// a connection to another page is being made, or one failed (the page knows
// whether a match had begun on it).
export const NEWS = { connecting: 'connecting', failed: 'failed' };

// The pairing: a joining page asks "join PAGE" (PAGE: its own random name, the
// same on all its connections); the host answers welcome to the first page
// that asks (also when it asks again), busy to any other page.
const JOIN = 'join ', WELCOME = 'welcome', BUSY = 'busy';
const PAGE_NAME = crypto.getRandomValues(new Uint32Array(2)).join('-');

// Resolves to the link once a broker has answered; rejects with the reason
// (to complete "Cannot host: " or "Cannot join: ") otherwise.
export async function openLink({ hosting, room, brokers, rtcConfig, onNews }) {
  const link = new RoomLink(hosting, onNews);
  const config = { rtcPolyfill: connectionClassFor(link) };
  if (brokers.length > 0) config.relayConfig = { urls: brokers };
  if (rtcConfig) config.rtcConfig = rtcConfig;
  link.rooms = APP_IDS.map((appId) => joinRoom({ ...config, appId }, room));
  if (!(await brokerAnswered())) {
    link.leave();
    throw new Error(`no signalling server answered within ${BROKER_WAIT_MS / 1000} s`);
  }
  return link;
}

async function brokerAnswered() {
  const deadline = Date.now() + BROKER_WAIT_MS;
  while (Date.now() < deadline) {
    const sockets = Object.values(getRelaySockets());
    if (sockets.some((socket) => socket.readyState === WEBSOCKET_OPEN)) return true;
    await new Promise((resolve) => setTimeout(resolve, BROKER_POLL_MS));
  }
  return false;
}

// The connections trystero makes, each shown to the link as it is made (the
// ones it prepares ahead too) and when it is closed.
function connectionClassFor(link) {
  return class extends RTCPeerConnection {
    constructor(config) {
      super(config);
      link.watch(this);
    }

    close() {
      super.close();
      link.lose(this);
    }
  };
}

// The pairing and the packets of one page (exported for tests/web/test_link.mjs).
export class RoomLink {
  constructor(hosting, onNews, pageName = PAGE_NAME) {
    this.rooms = []; // trystero's room, under each application name
    this.hosting = hosting;
    this.onNews = onNews;
    this.events = []; // {type, data}, taken by the game one at a time
    this.player = null; // the connection to the other game, once paired
    this.pageName = pageName; // (the joining page's) who asks
    this.playerPage = null; // (the host's) the player's page name
    this.spent = false; // (the host's) a match began: nobody else is welcome
    this.paired = false; // the channels to the player are open, and the game knows
    this.refused = false; // (the joining page's) the host has a player already
    this.meetings = new Map(); // connection -> {channels, early packets, asking timer}
    this.roundTripMs = 0;
    this.bytesSent = 0;
    this.bytesReceived = 0;
    this.statsTimer = setInterval(() => this.readStats(), STATS_INTERVAL_MS);
  }

  // A connection is met once trystero has negotiated it (it has an offer
  // and an answer): then our channels can be added to it without another
  // offer, and opening them waits for nothing but the connection.
  watch(connection) {
    const meetWhenNegotiated = () => {
      const negotiated = connection.signalingState === 'stable' && connection.currentRemoteDescription;
      if (negotiated && !this.meetings.has(connection)) this.meet(connection);
    };
    connection.addEventListener('signalingstatechange', meetWhenNegotiated);
    connection.addEventListener('connectionstatechange', () => {
      if (connection.connectionState === 'failed') this.lose(connection);
      else meetWhenNegotiated();
    });
  }

  meet(connection) {
    const channels = {
      game: connection.createDataChannel('game', GAME_CHANNEL),
      sure: connection.createDataChannel('sure', SURE_CHANNEL),
      pair: connection.createDataChannel('pair', PAIR_CHANNEL),
    };
    const meeting = { channels, early: [], asking: null };
    this.meetings.set(connection, meeting);
    for (const channel of Object.values(channels)) {
      channel.binaryType = 'arraybuffer';
      channel.onopen = () => this.announceIfReady(connection);
      channel.onclose = () => this.lose(connection);
    }
    channels.game.onmessage = channels.sure.onmessage =
      (message) => this.receive(connection, new Uint8Array(message.data));
    channels.pair.onmessage = (message) => this.hear(connection, message.data);
    if (!this.hosting) {
      channels.pair.addEventListener('open', () => {
        meeting.asking = setInterval(() => this.ask(meeting), ASK_AGAIN_MS);
        this.ask(meeting);
      });
    }
    if (this.player === null) this.onNews?.(NEWS.connecting);
  }

  ask(meeting) {
    if (this.player !== null) clearInterval(meeting.asking); // paired on another connection
    else if (meeting.channels.pair.readyState === 'open') meeting.channels.pair.send(JOIN + this.pageName);
  }

  hear(connection, message) {
    const meeting = this.meetings.get(connection);
    if (!meeting) return;
    if (this.hosting) {
      if (!message.startsWith(JOIN)) return;
      const page = message.slice(JOIN.length);
      if (this.player === null && !this.spent) {
        this.player = connection;
        this.playerPage = page;
        this.announceIfReady(connection);
      }
      // The player's page may have a second connection to us: it is paired
      // on the first, and hears nothing on this one.
      if (this.player === connection) meeting.channels.pair.send(WELCOME);
      else if (page !== this.playerPage) meeting.channels.pair.send(BUSY);
      return;
    }
    if (message !== WELCOME && message !== BUSY) return; // another joining page
    clearInterval(meeting.asking);
    if (this.player !== null || this.refused) return;
    if (message === BUSY) {
      this.refused = true; // said once, though each connection hears it
      this.events.push({ type: EVENT.refused });
      return;
    }
    this.player = connection;
    this.announceIfReady(connection);
  }

  // The other side's first packets may come before this side has paired
  // (the answer that pairs travels on another channel): they wait for it.
  receive(connection, data) {
    if (connection === this.player && this.paired) {
      this.events.push({ type: EVENT.received, data });
      return;
    }
    const meeting = this.meetings.get(connection);
    if (meeting && meeting.early.length < EARLY_PACKETS_KEPT) meeting.early.push(data);
  }

  // The game hears of its player once the channels to it are open.
  announceIfReady(connection) {
    const meeting = this.meetings.get(connection);
    if (connection !== this.player || this.paired || !meeting) return;
    if (Object.values(meeting.channels).some((channel) => channel.readyState !== 'open')) return;
    this.paired = true;
    this.events.push({ type: EVENT.connected });
    for (const data of meeting.early.splice(0)) this.events.push({ type: EVENT.received, data });
  }

  // Ends a meeting: its questions, its channels. False if it had ended.
  forget(connection) {
    const meeting = this.meetings.get(connection);
    if (!meeting) return false;
    this.meetings.delete(connection);
    clearInterval(meeting.asking);
    Object.values(meeting.channels).forEach((channel) => channel.close());
    return true;
  }

  lose(connection) {
    if (!this.forget(connection)) return;
    if (connection !== this.player) {
      if (this.player === null && this.meetings.size === 0) this.onNews?.(NEWS.failed);
      return;
    }
    if (this.paired) this.events.push({ type: EVENT.disconnected });
    this.onNews?.(NEWS.failed);
    this.player = null;
    this.playerPage = null;
    this.paired = false;
  }

  // The page says so once a match began: the room is spent, also after the
  // match, while the game-over picture stays.
  spend() {
    this.spent = true;
  }

  get connected() {
    return this.player !== null && this.paired;
  }

  send(bytes, reliable) {
    if (!this.connected) return;
    const { channels } = this.meetings.get(this.player);
    const channel = reliable ? channels.sure : channels.game;
    if (channel.readyState === 'open') channel.send(bytes);
  }

  // Closes the channels to the player once what is queued has left (waiting
  // at most waitMs); the room stays open for another player, until leave().
  // With 0, at once.
  async disconnect(waitMs) {
    const connection = this.player;
    const meeting = this.meetings.get(connection);
    if (!meeting) return;
    if (waitMs > 0) {
      const { game, sure } = meeting.channels;
      const deadline = Date.now() + waitMs;
      const leaving = () => sure.readyState === 'open' && Date.now() < deadline &&
                            game.bufferedAmount + sure.bufferedAmount > 0;
      while (leaving()) await new Promise((resolve) => setTimeout(resolve, 1));
      const timeLeft = new Promise((resolve) => setTimeout(resolve, Math.max(0, deadline - Date.now())));
      await Promise.race([this.readStats(), timeLeft]);
    }
    // A goodbye of our own is no news for the game nor the page.
    this.forget(connection);
    this.player = null;
    this.playerPage = null;
    this.paired = false;
  }

  leave() {
    clearInterval(this.statsTimer);
    this.onNews = null; // the connections that close now are no news
    this.rooms.forEach((room) => room.leave());
  }

  // The player's connection's smoothed round trip, and its bytes (the
  // signalling library's own channel and the encryption included) as the
  // sum over its candidate pairs: Chromium and Firefox both count them there.
  async readStats() {
    const connection = this.player;
    if (!connection) return;
    const report = await connection.getStats();
    let sent = 0, received = 0;
    report.forEach((entry) => {
      if (entry.type !== 'candidate-pair') return;
      sent += entry.bytesSent ?? 0;
      received += entry.bytesReceived ?? 0;
      if (entry.nominated && entry.state === 'succeeded') {
        const roundTrip = entry.currentRoundTripTime ??
                          (entry.responsesReceived > 0 ? entry.totalRoundTripTime / entry.responsesReceived : undefined);
        if (roundTrip !== undefined) this.roundTripMs = Math.round(roundTrip * 1000);
      }
    });
    this.bytesSent = Math.max(this.bytesSent, sent);
    this.bytesReceived = Math.max(this.bytesReceived, received);
  }
}
