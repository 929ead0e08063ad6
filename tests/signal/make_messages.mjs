// Writes tests/signal/messages.json, the recorded signalling messages that
// the page's and the installed game's tests both read: for one room, each
// message as its JSON text and its exact bytes on the wire under fixed IVs,
// and payloads that a reader must refuse, each with its refusal
// (docs/signalling.md). Sealed here with Node's WebCrypto alone, apart from
// either side's code:
//   node tests/signal/make_messages.mjs
import { writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const OUT = join(dirname(fileURLToPath(import.meta.url)), 'messages.json');
const ROOM = 'k7qm-2xhp-9wvt-fj3n';
const OTHER_ROOM = 'abcd-efgh-jkmn-pqrs';
const HOST = '9f3c5a7e1b2d4f60', JOIN = '4e1a8c0b7d3f2e91', STRANGER = '00ff00ff00ff00ff';
const MAX_PAYLOAD_BYTES = 16384;
const OVERHEAD_BYTES = 1 + 12 + 16; // version, IV, tag

const utf8 = new TextEncoder();
const hex = (bytes) => Buffer.from(bytes).toString('hex');
const sha256 = async (text) => new Uint8Array(await crypto.subtle.digest('SHA-256', utf8.encode(text)));
const keyOf = async (room) =>
  crypto.subtle.importKey('raw', await sha256(`korrin-tavrel key ${room}`), 'AES-GCM', true, ['encrypt']);
// Each row's IV: fixed, and different for each row.
const ivOf = async (name) => (await sha256(`iv ${name}`)).subarray(0, 12);

async function seal(key, name, plaintext, version = 1) {
  const iv = await ivOf(name);
  const sealed = new Uint8Array(await crypto.subtle.encrypt({ name: 'AES-GCM', iv }, key, plaintext));
  return { iv: hex(iv), bytes: Uint8Array.from([version, ...iv, ...sealed]) };
}

const SDP_OFFER = [
  'v=0', 'o=- 4611731400430051336 2 IN IP4 127.0.0.1', 's=-', 't=0 0', 'a=group:BUNDLE 0',
  'a=msid-semantic: WMS', 'm=application 9 UDP/DTLS/SCTP webrtc-datachannel', 'c=IN IP4 0.0.0.0',
  'a=ice-ufrag:Qx7d', 'a=ice-pwd:b3Rk9vLm2NpQ8sTw4YzA1cDe', 'a=ice-options:trickle',
  'a=fingerprint:sha-256 4F:1C:9A:22:7B:E0:53:6D:88:0F:C4:31:A9:5E:72:1B:D6:40:2C:97:EE:13:5A:68:B1:0D:F2:46:89:3C:7A:E5',
  'a=setup:actpass', 'a=mid:0', 'a=sctp-port:5000', 'a=max-message-size:262144', ''].join('\r\n');
const SDP_ANSWER = SDP_OFFER.replace('actpass', 'active').replace('Qx7d', 'Jm4p').replace('4611731400430051336', '77');
const CANDIDATE = 'candidate:1 1 UDP 2122252543 127.0.0.1 50411 typ host';
const RELAY = 'candidate:3 1 UDP 41885695 127.0.0.1 49171 typ relay raddr 0.0.0.0 rport 0';

const knock = { type: 'knock', room: ROOM, from: JOIN, role: 'join' };
const offer = (conn, sdp = SDP_OFFER) => ({ type: 'offer', room: ROOM, from: HOST, to: JOIN, conn, sdp });

// An offer whose payload is `bytes` long, its SDP padded.
function offerOfSize(bytes) {
  const padded = (n) => offer(0, `${SDP_OFFER}a=x-pad:${'x'.repeat(n)}\r\n`);
  const textBytes = (message) => utf8.encode(JSON.stringify(message)).length;
  const n = bytes - OVERHEAD_BYTES - textBytes(padded(0));
  return padded(n);
}

// Messages a reader takes: [name, reader, the message as read, its text if
// it is not the message written by a writer (fields in order, no spaces)].
const MESSAGES = [
  ['knock', HOST, knock],
  ['knock of a watcher', HOST, { ...knock, role: 'watch' }],
  ['here', JOIN, { type: 'here', room: ROOM, from: HOST }],
  ['offer of connection 0', JOIN, offer(0)],
  ['offer of connection 1', JOIN, offer(1)],
  ['answer', HOST, { type: 'answer', room: ROOM, from: JOIN, to: HOST, conn: 1, sdp: SDP_ANSWER }],
  ['candidate of the host', JOIN,
    { type: 'candidate', room: ROOM, from: HOST, to: JOIN, conn: 0, candidate: RELAY, mid: '0' }],
  ['candidate of the joining side', HOST,
    { type: 'candidate', room: ROOM, from: JOIN, to: HOST, conn: 1, candidate: CANDIDATE, mid: '0' }],
  ['end of candidates', HOST, { type: 'candidate', room: ROOM, from: JOIN, to: HOST, conn: 0, candidate: '', mid: '0' }],
  ['answer whose text needs escapes and UTF-8', HOST,
    { type: 'answer', room: ROOM, from: JOIN, to: HOST, conn: 0, sdp: 'v=0\r\ns=Korrin\t"é" \\ \u0001 ✓ 𝄞\r\n' }],
  ['largest offer', JOIN, offerOfSize(MAX_PAYLOAD_BYTES)],
  ['knock with a field of a later version, and spaces', HOST, knock,
    `{ "from": "${JOIN}", "role": "join", "room": "${ROOM}", "type": "knock", "team": [1, 2] }`],
];

// Payloads a reader refuses: [name, reader, refusal, plaintext or bytes, how to seal it].
const json = (value) => JSON.stringify(value);
const without = (message, field) => Object.fromEntries(Object.entries(message).filter(([name]) => name !== field));
const BAD = [
  ['empty', HOST, 'truncated', { bytes: [] }],
  ['one byte short of the least payload', HOST, 'truncated', { bytes: Array(OVERHEAD_BYTES - 1).fill(1) }],
  ['version 2', HOST, 'newer version', { text: json(knock), version: 2 }],
  ['version 0', HOST, 'malformed', { text: json(knock), version: 0 }],
  ['a bit of the tag flipped', HOST, 'not of this room, or damaged', { text: json(knock), flip: -1 }],
  ['a bit of the text flipped', HOST, 'not of this room, or damaged', { text: json(knock), flip: 13 }],
  ['a bit of the IV flipped', HOST, 'not of this room, or damaged', { text: json(knock), flip: 1 }],
  ['sealed with another room\'s key', HOST, 'not of this room, or damaged',
    { text: json({ ...knock, room: OTHER_ROOM }), room: OTHER_ROOM }],
  ['no text', HOST, 'not a JSON object', { text: '' }],
  ['not JSON', HOST, 'not a JSON object', { text: 'knock' }],
  ['JSON cut short', HOST, 'not a JSON object', { text: json(knock).slice(0, 30) }],
  ['a JSON array', HOST, 'not a JSON object', { text: json(['knock', ROOM, JOIN]) }],
  ['JSON null', HOST, 'not a JSON object', { text: 'null' }],
  ['text that is not UTF-8', HOST, 'not a JSON object',
    { bytes: [...utf8.encode(json(knock).replace('join', 'j__n'))].map((b) => (b === 0x5f ? 0xff : b)), seal: true }],
  ['no from', HOST, 'missing or ill-typed field', { text: json(without(knock, 'from')) }],
  ['from in capitals', HOST, 'missing or ill-typed field', { text: json({ ...knock, from: JOIN.toUpperCase() }) }],
  ['from of 15 digits', HOST, 'missing or ill-typed field', { text: json({ ...knock, from: JOIN.slice(1) }) }],
  ['type a number', HOST, 'missing or ill-typed field', { text: json({ ...knock, type: 1 }) }],
  ['no room', HOST, 'missing or ill-typed field', { text: json(without(knock, 'room')) }],
  ['role a number', HOST, 'missing or ill-typed field', { text: json({ ...knock, role: 1 }) }],
  ['offer without sdp', JOIN, 'missing or ill-typed field', { text: json(without(offer(0), 'sdp')) }],
  ['offer without to', JOIN, 'missing or ill-typed field', { text: json(without(offer(0), 'to')) }],
  ['offer of connection 2', JOIN, 'missing or ill-typed field', { text: json(offer(2)) }],
  ['offer of connection -1', JOIN, 'missing or ill-typed field', { text: json(offer(-1)) }],
  ['offer of connection "0"', JOIN, 'missing or ill-typed field', { text: json(offer('0')) }],
  ['offer of connection 0.5', JOIN, 'missing or ill-typed field', { text: json(offer(0.5)) }],
  ['candidate without mid', HOST, 'missing or ill-typed field',
    { text: json({ type: 'candidate', room: ROOM, from: JOIN, to: HOST, conn: 0, candidate: CANDIDATE }) }],
  ['an offer for another room, under our key', JOIN, 'another room', { text: json({ ...offer(0), room: OTHER_ROOM }) }],
  ['the room in capitals', HOST, 'another room', { text: json({ ...knock, room: ROOM.toUpperCase() }) }],
  ['our own knock, handed back', JOIN, 'own echo', { text: json(knock) }],
  ['an offer to another page', STRANGER, 'not for us', { text: json(offer(0)) }],
  ['a type of a later version', HOST, 'unknown type', { text: json({ ...knock, type: 'leave' }) }],
  ['one byte over the largest payload', JOIN, 'huge', { text: json(offerOfSize(MAX_PAYLOAD_BYTES + 1)) }],
];

async function badPayload(key, name, { bytes, text, version = 1, flip, room, seal: sealBytes }) {
  if (bytes && !sealBytes) return Uint8Array.from(bytes);
  const plaintext = bytes ? Uint8Array.from(bytes) : utf8.encode(text);
  const sealed = (await seal(room ? await keyOf(room) : key, name, plaintext, version)).bytes;
  if (flip !== undefined) sealed[flip < 0 ? sealed.length + flip : flip] ^= 1;
  return sealed;
}

const key = await keyOf(ROOM);
const file = {
  about: 'Recorded signalling messages (docs/signalling.md), written by tests/signal/make_messages.mjs.',
  room: ROOM,
  topic: `korrin-tavrel/1/${hex(await sha256(`korrin-tavrel room ${ROOM}`))}`,
  key: hex(new Uint8Array(await crypto.subtle.exportKey('raw', key))),
  peers: { host: HOST, join: JOIN },
  messages: [],
  refused: [],
};
for (const [name, reader, message, text = JSON.stringify(message)] of MESSAGES) {
  const { iv, bytes } = await seal(key, name, utf8.encode(text));
  file.messages.push({ name, reader, message, text, written: text === JSON.stringify(message), iv, wire: hex(bytes) });
}
for (const [name, reader, refusal, how] of BAD) {
  file.refused.push({ name, reader, refusal, wire: hex(await badPayload(key, name, how)) });
}
writeFileSync(OUT, `${JSON.stringify(file, null, 1)}\n`);
console.log(`${OUT}: ${file.messages.length} messages, ${file.refused.length} refused`);
