// The page's signalling codec (web/online/signal.mjs) against the recorded
// messages the installed game's tests read too (tests/signal/messages.json).
//   node tests/web/test_signal.mjs
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { decode, encode, messageText, roomKey, roomTopic } from '../../web/online/signal.mjs';

const recorded = JSON.parse(readFileSync(new URL('../signal/messages.json', import.meta.url)));
const bytes = (hex) => Uint8Array.from(Buffer.from(hex, 'hex'));
const key = await roomKey(recorded.room);

test('the topic, each recorded message read and written byte for byte, each bad payload refused alike', async () => {
  assert.equal(await roomTopic(recorded.room), recorded.topic);
  for (const row of [...recorded.messages, ...recorded.refused]) {
    const read = row.refusal ? { refused: row.refusal } : { message: row.message };
    assert.deepEqual(await decode(key, recorded.room, row.reader, bytes(row.wire)), read, row.name);
    if (!row.written) continue; // a refusal, or a text no writer of ours makes
    assert.equal(messageText(row.message), row.text, row.name);
    assert.deepEqual(await encode(key, row.message, bytes(row.iv)), bytes(row.wire), row.name);
  }
  // Written twice: sealed under two IVs, and read back.
  const { message, reader } = recorded.messages[0];
  const [first, second] = [await encode(key, message), await encode(key, message)];
  assert.notDeepEqual(first.subarray(1, 13), second.subarray(1, 13));
  assert.deepEqual(await decode(key, recorded.room, reader, second), { message });
});
