// The page's signalling codec (web/online/signal.mjs) against the recorded
// messages that the installed game's tests read too (tests/signal/messages.json):
// the same topic, the same bytes written, the same messages read, the same
// refusals. No browser:
//   node tests/web/test_signal.mjs
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { decode, encode, messageText, roomKey, roomTopic } from '../../web/online/signal.mjs';

const recorded = JSON.parse(readFileSync(new URL('../signal/messages.json', import.meta.url)));
const bytes = (hex) => Uint8Array.from(Buffer.from(hex, 'hex'));
const key = await roomKey(recorded.room);

test("the room's topic", async () => {
  assert.equal(await roomTopic(recorded.room), recorded.topic);
});

test('each recorded message is read as it was written, and written byte for byte', async () => {
  for (const row of recorded.messages) {
    const read = await decode(key, recorded.room, row.reader, bytes(row.wire));
    assert.deepEqual(read, { message: row.message }, row.name);
    if (!row.written) continue; // a text no writer of ours makes
    assert.equal(messageText(row.message), row.text, row.name);
    assert.deepEqual(await encode(key, row.message, bytes(row.iv)), bytes(row.wire), row.name);
  }
});

test('each recorded bad payload is refused for its own reason', async () => {
  for (const row of recorded.refused) {
    assert.deepEqual(await decode(key, recorded.room, row.reader, bytes(row.wire)), { refused: row.refusal }, row.name);
  }
});

test('a message written twice is sealed under two IVs, and read back', async () => {
  const { message, reader } = recorded.messages[0];
  const [first, second] = [await encode(key, message), await encode(key, message)];
  assert.notDeepEqual(first.subarray(1, 13), second.subarray(1, 13));
  assert.deepEqual(await decode(key, recorded.room, reader, second), { message });
});
