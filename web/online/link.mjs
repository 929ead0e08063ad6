// The online match's link in the browser: two pages meet in a room through
// MQTT brokers (trystero's MQTT strategy exchanges the connection offers),
// then the game's packets go straight from page to page over two WebRTC data
// channels of their own: an unreliable, unordered one for the inputs (a lost
// packet is repeated by the next one anyway; retransmitting would only delay
// the newer ones), and a reliable, ordered one for the packets that must
// arrive. Bundled by tools/web.sh into korrin-online.js, which the page
// (web/online.js) loads only when online play is chosen; web/library/link.js
// hands its events to the game (web/link_web.cpp).
import { getRelaySockets, joinRoom } from '@trystero-p2p/mqtt';

// Pages of this game meet only pages of this game: the room's topics and the
// encryption of the offers are derived from it.
const APP_ID = 'korrin-tavrel';
// Without a broker within this time, nobody could ever find the room.
const BROKER_WAIT_MS = 10000;
const BROKER_POLL_MS = 50;
// Channels both sides create with the same ids, so no offer is needed for them.
const GAME_CHANNEL = { negotiated: true, id: 100, ordered: false, maxRetransmits: 0 };
const SURE_CHANNEL = { negotiated: true, id: 101, ordered: true };
// How often the round trip and the byte counts are read from the connection.
const STATS_INTERVAL_MS = 250;
// Packets kept from a peer not yet paired: its Hello and a few inputs.
const EARLY_PACKETS_KEPT = 32;
const WEBSOCKET_OPEN = 1;

// What happened, in the order of the game's LinkEvent (src/net/link.h).
export const EVENT = { connected: 1, received: 2, disconnected: 3, lost: 4, refused: 5 };

// The short messages the two sides exchange on trystero's own channel to
// sort out who hosts: each side says its role when it meets a peer, and the
// host answers a joining side with welcome, or busy when it has a player.
const ROLE = { host: 'host', join: 'join', welcome: 'welcome', busy: 'busy' };

// Resolves to the link once a broker has answered; rejects with the reason
// (to complete "Cannot host: " or "Cannot join: ") otherwise.
export async function openLink({ hosting, room, brokers, rtcConfig }) {
  const config = { appId: APP_ID };
  if (brokers.length > 0) config.relayConfig = { urls: brokers };
  if (rtcConfig) config.rtcConfig = rtcConfig;
  const trysteroRoom = joinRoom(config, room);
  if (!(await brokerAnswered())) {
    trysteroRoom.leave();
    throw new Error(`no signalling server answered within ${BROKER_WAIT_MS / 1000} s`);
  }
  return new RoomLink(trysteroRoom, hosting);
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

class RoomLink {
  constructor(room, hosting) {
    this.room = room;
    this.hosting = hosting;
    this.events = []; // {type, data}, taken by the game one at a time
    this.player = null; // the other game's peer id, once paired
    this.paired = false; // both channels to the player are open, and the game knows
    this.channels = {}; // peer id -> {game, sure}
    this.early = {}; // peer id -> packets that came before the pairing
    this.roundTripMs = 0;
    this.bytesSent = 0;
    this.bytesReceived = 0;
    this.statsTimer = setInterval(() => this.readStats(), STATS_INTERVAL_MS);
    const [sendRole, getRole] = roleAction(room);
    this.sendRole = sendRole;
    getRole((role, peer) => this.onRole(role, peer));
    room.onPeerJoin = (peer) => {
      this.openChannels(peer);
      this.sendRole(hosting ? ROLE.host : ROLE.join, peer);
    };
    room.onPeerLeave = (peer) => this.lose(peer);
  }

  // Both channels to a peer, made as soon as it is met, so that they exist on
  // both sides before either says anything on them.
  openChannels(peer) {
    const connection = this.room.getPeers()[peer];
    if (!connection) return;
    const channels = {
      game: connection.createDataChannel('game', GAME_CHANNEL),
      sure: connection.createDataChannel('sure', SURE_CHANNEL),
    };
    for (const channel of Object.values(channels)) {
      channel.binaryType = 'arraybuffer';
      channel.onmessage = (message) => this.receive(peer, new Uint8Array(message.data));
      channel.onopen = () => this.announceIfReady(peer);
      channel.onclose = () => this.lose(peer);
    }
    this.channels[peer] = channels;
  }

  // The other side's first packets may come before the roles have paired us
  // (they travel on another channel): they wait for the pairing.
  receive(peer, data) {
    if (peer === this.player && this.paired) {
      this.events.push({ type: EVENT.received, data });
      return;
    }
    const early = (this.early[peer] ??= []);
    if (early.length < EARLY_PACKETS_KEPT) early.push(data);
  }

  onRole(role, peer) {
    if (this.hosting && role === ROLE.join && this.player !== peer) {
      if (this.player !== null) {
        this.sendRole(ROLE.busy, peer);
        return;
      }
      this.sendRole(ROLE.welcome, peer);
      this.pair(peer);
    } else if (!this.hosting && this.player === null) {
      // Only the host answers welcome or busy; another joining page in the
      // room says join, which is not for us.
      if (role === ROLE.welcome) this.pair(peer);
      else if (role === ROLE.busy) this.events.push({ type: EVENT.refused });
    }
  }

  pair(peer) {
    this.player = peer;
    this.announceIfReady(peer);
  }

  // The game hears of its player once both channels to it are open.
  announceIfReady(peer) {
    const channels = this.channels[peer];
    if (peer !== this.player || this.paired || !channels) return;
    if (channels.game.readyState !== 'open' || channels.sure.readyState !== 'open') return;
    this.paired = true;
    this.events.push({ type: EVENT.connected });
    for (const data of this.early[peer] ?? []) this.events.push({ type: EVENT.received, data });
    delete this.early[peer];
  }

  lose(peer) {
    const channels = this.channels[peer];
    delete this.channels[peer];
    delete this.early[peer];
    if (channels) Object.values(channels).forEach((channel) => channel.close());
    if (peer !== this.player) return;
    if (this.paired) this.events.push({ type: EVENT.disconnected });
    this.player = null;
    this.paired = false;
  }

  get connected() {
    return this.player !== null && this.paired;
  }

  send(bytes, reliable) {
    if (!this.connected) return;
    const channels = this.channels[this.player];
    const channel = reliable ? channels.sure : channels.game;
    if (channel.readyState === 'open') channel.send(bytes);
  }

  // Closes the channels to the player once what is queued has left (waiting
  // at most waitMs); the room stays open for another player, until leave().
  // With 0, at once.
  async disconnect(waitMs) {
    const peer = this.player;
    const channels = this.channels[peer];
    if (!channels) return;
    if (waitMs > 0) {
      const deadline = Date.now() + waitMs;
      const leaving = () => channels.sure.readyState === 'open' && Date.now() < deadline &&
                            channels.game.bufferedAmount + channels.sure.bufferedAmount > 0;
      while (leaving()) await new Promise((resolve) => setTimeout(resolve, 1));
      const timeLeft = new Promise((resolve) => setTimeout(resolve, Math.max(0, deadline - Date.now())));
      await Promise.race([this.readStats(), timeLeft]);
    }
    this.paired = false; // a goodbye of our own is no news for the game
    this.lose(peer);
  }

  leave() {
    clearInterval(this.statsTimer);
    this.room.leave();
  }

  // The player's connection's smoothed round trip and its bytes, the
  // signalling library's own channel and the encryption included.
  async readStats() {
    const connection = this.player !== null && this.room.getPeers()[this.player];
    if (!connection) return;
    const report = await connection.getStats();
    report.forEach((entry) => {
      if (entry.type === 'transport') {
        this.bytesSent = entry.bytesSent ?? this.bytesSent;
        this.bytesReceived = entry.bytesReceived ?? this.bytesReceived;
      } else if (entry.type === 'candidate-pair' && entry.nominated && entry.state === 'succeeded' &&
                 entry.currentRoundTripTime !== undefined) {
        this.roundTripMs = Math.round(entry.currentRoundTripTime * 1000);
      }
    });
  }
}

// trystero's message action for the roles: [send(role, peer), onRole(handler)].
function roleAction(room) {
  const action = room.makeAction('role');
  return [
    (role, peer) => action.send(role, { target: peer }),
    (handler) => { action.onMessage = (role, { peerId }) => handler(role, peerId); },
  ];
}
