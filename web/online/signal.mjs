// The rooms' signalling messages (docs/signalling.md): the room's topic and
// key, and each message sealed with that key into the bytes an MQTT broker
// carries, and read back with every refusal a reader owes a message that is
// damaged, foreign or hostile. The installed game reads and writes the same
// bytes (tests/signal/messages.json holds both sides to them).

export const VERSION = 1;
const TOPIC_PREFIX = 'korrin-tavrel/1/';
const TOPIC_SALT = 'korrin-tavrel room ';
const KEY_SALT = 'korrin-tavrel key ';
const IV_BYTES = 12;
const TAG_BYTES = 16;
const HEADER_BYTES = 1 + IV_BYTES;
// Larger payloads are dropped unread: an offer is 1 to 3 KB.
export const MAX_PAYLOAD_BYTES = 16384;
export const ROOM_PATTERN = /^[a-z0-9-]{1,64}$/;
const PEER_ID = /^[0-9a-f]{16}$/;
export const CONNECTIONS = 2; // a joining side's connections to a host: conn 0 and 1

// Why a payload was not taken, as the installed game names them too.
export const REFUSAL = {
  huge: 'huge',
  truncated: 'truncated',
  newerVersion: 'newer version',
  malformed: 'malformed',
  damaged: 'not of this room, or damaged',
  notObject: 'not a JSON object',
  badField: 'missing or ill-typed field',
  anotherRoom: 'another room',
  // Ignored without a word: a later version's message, our own message as
  // the broker hands it back, a message between two other sides.
  unknownType: 'unknown type',
  ownEcho: 'own echo',
  notForUs: 'not for us',
};
export const SILENT = new Set([REFUSAL.unknownType, REFUSAL.ownEcho, REFUSAL.notForUs]);

// The fields of each type beyond type, room and from, by what they must hold.
const isPeer = (value) => typeof value === 'string' && PEER_ID.test(value);
const isConn = (value) => Number.isInteger(value) && value >= 0 && value < CONNECTIONS;
const isString = (value) => typeof value === 'string';
const FIELDS = {
  knock: { role: isString },
  here: {},
  offer: { to: isPeer, conn: isConn, sdp: isString },
  answer: { to: isPeer, conn: isConn, sdp: isString },
  candidate: { to: isPeer, conn: isConn, candidate: isString, mid: isString },
};
// The order a writer puts the fields in, so that both sides write the same bytes.
const FIELD_ORDER = ['type', 'room', 'from', 'to', 'role', 'conn', 'sdp', 'candidate', 'mid'];

const utf8 = new TextEncoder();
const strictUtf8 = new TextDecoder('utf-8', { fatal: true });

async function sha256(text) {
  return new Uint8Array(await crypto.subtle.digest('SHA-256', utf8.encode(text)));
}

const hex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');

// A random peer id: 16 lowercase hex digits.
export function newPeerId() {
  return hex(crypto.getRandomValues(new Uint8Array(8)));
}

// The room's topic: the broker never sees the room's code.
export async function roomTopic(room) {
  return TOPIC_PREFIX + hex(await sha256(TOPIC_SALT + room));
}

export async function roomKey(room) {
  return crypto.subtle.importKey('raw', await sha256(KEY_SALT + room), 'AES-GCM', false, [
    'encrypt',
    'decrypt',
  ]);
}

// The message's JSON text, its fields in the writers' order.
export function messageText(message) {
  const ordered = {};
  for (const name of FIELD_ORDER) if (name in message) ordered[name] = message[name];
  return JSON.stringify(ordered);
}

// The payload of a message: version, IV, then the text sealed under the key.
export async function encode(key, message, iv = crypto.getRandomValues(new Uint8Array(IV_BYTES))) {
  const sealed = await crypto.subtle.encrypt({ name: 'AES-GCM', iv }, key, utf8.encode(messageText(message)));
  const payload = new Uint8Array(HEADER_BYTES + sealed.byteLength);
  payload[0] = VERSION;
  payload.set(iv, 1);
  payload.set(new Uint8Array(sealed), HEADER_BYTES);
  return payload;
}

// The message in a payload, {message} with its known fields only, else
// {refused: a REFUSAL}. `self` is our peer id, `room` our room's code.
export async function decode(key, room, self, payload) {
  if (payload.length > MAX_PAYLOAD_BYTES) return { refused: REFUSAL.huge };
  if (payload.length < HEADER_BYTES + TAG_BYTES) return { refused: REFUSAL.truncated };
  if (payload[0] !== VERSION)
    return { refused: payload[0] > VERSION ? REFUSAL.newerVersion : REFUSAL.malformed };
  let text, value;
  try {
    const iv = payload.subarray(1, HEADER_BYTES);
    text = await crypto.subtle.decrypt({ name: 'AES-GCM', iv }, key, payload.subarray(HEADER_BYTES));
  } catch {
    return { refused: REFUSAL.damaged };
  }
  try {
    value = JSON.parse(strictUtf8.decode(text)); // text that is not UTF-8 is no JSON either
  } catch {
    return { refused: REFUSAL.notObject };
  }
  if (typeof value !== 'object' || value === null || Array.isArray(value))
    return { refused: REFUSAL.notObject };
  return check(value, room, self);
}

function check(value, room, self) {
  if (!isString(value.type) || !isString(value.room) || !isPeer(value.from))
    return { refused: REFUSAL.badField };
  if (value.room !== room) return { refused: REFUSAL.anotherRoom };
  if (value.from === self) return { refused: REFUSAL.ownEcho };
  if (!Object.hasOwn(FIELDS, value.type)) return { refused: REFUSAL.unknownType };
  const fields = FIELDS[value.type];
  const message = { type: value.type, room: value.room, from: value.from };
  for (const [name, valid] of Object.entries(fields)) {
    if (!valid(value[name])) return { refused: REFUSAL.badField };
    message[name] = value[name];
  }
  if ('to' in message && message.to !== self) return { refused: REFUSAL.notForUs };
  return { message };
}
