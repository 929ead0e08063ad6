// Recordings on the page. Every match played here is recorded by the game
// itself, as with --record (docs/replay-format.md), into its file system;
// once a match is over the page offers it as a file to keep, and while it is
// played each piece the game writes is copied into IndexedDB, so that a page
// closed mid-match or at its end keeps the match for the next visit ("Your
// last match was kept"). A recording chosen, dropped on the page, or named
// by index.html?replay=URL is played by the game's own --replay: the page
// writes the file into the game's file system before the game starts, and
// the game's reader says what is wrong with a file that is not a whole
// recording. Only a file too large for a recording is refused here, before
// the page reads it. (FS is the game's file system: Emscripten's script
// defines it, after this module has run and before any of its handlers.)
/* global FS */
import { CUT_OFF_STATUS, MAX_REPLAY_FILE_BYTES as MAX_REPLAY_BYTES } from './numbers.js';
import { Module, fit } from './page.js';
import { TOUCH_LAYOUT } from './touch.js';

const stage = document.getElementById('stage');
const loading = document.getElementById('loading');

setUpRecordings();

// Records every match, offers it once over and keeps it for the next visit;
// or, where the page was opened with a recording, plays it.
function setUpRecordings() {
  // Where the game records (unless the page that embeds it chose a file).
  const RECORDING = '/recording.krp';
  // Where a recording to watch is written, under its own name.
  const REPLAYS = '/replays/';
  // IndexedDB: the match being played (or the last one), and the file
  // chosen to watch, carried over to the page that plays it.
  const DATABASE = 'korrin-tavrel',
    STORE = 'recordings',
    KEPT = 'kept',
    CHOSEN = 'chosen';

  const params = new URLSearchParams(location.search);
  const watching = params.has('replay');
  const status = document.getElementById('recording-status');
  const keptLine = document.getElementById('kept');
  const saveLinks = document.querySelectorAll('.save-match');
  const chooser = document.getElementById('recording-file');

  function show(text) {
    status.textContent = text;
    fit();
  }

  const database = new Promise((resolve, reject) => {
    const request = indexedDB.open(DATABASE, 1);
    request.onupgradeneeded = () => request.result.createObjectStore(STORE);
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => reject(request.error);
  });
  // Stores a value (undefined deletes it); resolves once it is committed.
  async function store(key, value) {
    const transaction = (await database).transaction(STORE, 'readwrite');
    if (value === undefined) transaction.objectStore(STORE).delete(key);
    else transaction.objectStore(STORE).put(value, key);
    transaction.commit?.(); // at once, not when the page's task ends: the page may be closing
    return new Promise((resolve, reject) => {
      transaction.oncomplete = resolve;
      transaction.onerror = () => reject(transaction.error);
    });
  }
  async function stored(key) {
    const request = (await database).transaction(STORE).objectStore(STORE).get(key);
    return new Promise((resolve, reject) => {
      request.onsuccess = () => resolve(request.result);
      request.onerror = () => reject(request.error);
    });
  }

  // This page's address for another purpose (an online page's broker and
  // ICE servers kept).
  function pageWith(choice) {
    const kept = new URLSearchParams();
    for (const [key, value] of params) if (key === 'signal' || key === 'ice') kept.append(key, value);
    if (choice) kept.set(choice, '');
    const query = kept.toString().replace(/=(&|$)/g, '$1');
    return location.pathname + (query ? '?' + query : '');
  }

  const tooLarge = (name, bytes) =>
    `Replay file ${name}: too large for a replay (${bytes} bytes, at most ${MAX_REPLAY_BYTES})`;

  // ---- Watching: a file chosen or dropped here goes to a page that plays it.
  async function watch(file) {
    if (file.size > MAX_REPLAY_BYTES) return show(tooLarge(file.name, file.size));
    const playing = ['match', 'hold'].includes(document.documentElement.dataset.game);
    if (playing && !window.confirm('Leave this match to watch the recording?')) return;
    await store(CHOSEN, { name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) });
    location.href = pageWith('replay');
  }
  const watchFailed = (error) => show(`The recording could not be opened: ${error.message}`);
  chooser.addEventListener('change', () => {
    if (chooser.files.length > 0) watch(chooser.files[0]).catch(watchFailed);
    chooser.value = '';
  });
  for (const button of document.querySelectorAll('.open-recording')) {
    button.addEventListener('click', () => chooser.click());
  }
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => {
    event.preventDefault();
    const file = event.dataTransfer.files[0];
    if (file) watch(file).catch(watchFailed);
  });

  // The bytes of ?replay=URL, refused past the limit while they come in.
  async function download(url, name) {
    const response = await fetch(url);
    if (!response.ok)
      throw new Error(`Replay file ${name}: ${response.status} ${response.statusText}`.trim());
    const announced = Number(response.headers.get('Content-Length'));
    if (announced > MAX_REPLAY_BYTES) throw new Error(tooLarge(name, announced));
    const chunks = [];
    let size = 0;
    for (const reader = response.body.getReader(); ;) {
      const { done, value } = await reader.read();
      if (done) break;
      size += value.length;
      if (size > MAX_REPLAY_BYTES) {
        reader.cancel();
        throw new Error(tooLarge(name, `${size} or more`));
      }
      chunks.push(value);
    }
    return new Uint8Array(await new Blob(chunks).arrayBuffer());
  }

  // A page that watched, or could not: its last line, and the way to the
  // menu or to another recording (a reload does not watch again).
  function endWith(line) {
    history.replaceState(null, '', pageWith(null));
    show('');
    loading.hidden = true;
    document.getElementById('ended-text').textContent = line;
    document.getElementById('again').textContent = 'Play';
    document.getElementById('ended-open').hidden = false;
    document.getElementById('ended').hidden = false;
  }

  if (watching) {
    // What the game last printed in a match (a cut-off line comes before
    // the match's end) and on its errors.
    const last = { line: '', error: '' };
    let matchOn = false;
    window.addEventListener('korrin-ended', () => {
      matchOn = false;
    });
    for (const [output, key] of [
      ['print', 'line'],
      ['printErr', 'error'],
    ]) {
      const print = Module[output];
      Module[output] = (line) => {
        if (key === 'error' || matchOn) last[key] = line;
        print(line);
      };
    }
    const url = params.get('replay');
    const name =
      (url ? decodeURIComponent(new URL(url, location.href).pathname.split('/').pop()) : '') ||
      'recording.krp';
    Module.arguments = ['--replay', REPLAYS];
    Module.preRun = [].concat(Module.preRun || [], () => {
      Module.addRunDependency('replay');
      (url ? download(url, name).then((bytes) => ({ name, bytes })) : stored(CHOSEN))
        .then((file) => {
          if (!file) throw new Error('No recording was chosen: choose one or drop it on the page.');
          const path = REPLAYS + file.name.replaceAll('/', '_');
          FS.mkdirTree(REPLAYS);
          FS.writeFile(path, file.bytes);
          Module.arguments[1] = path; // the game reads its arguments once it starts
          show(`Watching ${file.name}.` + (TOUCH_LAYOUT ? '' : ' Escape stops it.'));
          Module.removeRunDependency('replay');
        })
        .catch((error) => endWith(error.message));
    });
    window.addEventListener('korrin-match', () => {
      matchOn = true;
      loading.hidden = true; // no menu comes first
    });
    const onExit = Module.onExit;
    Module.onExit = (exitStatus) => {
      onExit(exitStatus);
      const ending =
        exitStatus === 0
          ? 'The recording has ended.'
          : exitStatus === CUT_OFF_STATUS
            ? last.line
            : last.error.replace('Replay file ' + REPLAYS, 'Replay file ');
      endWith(ending);
    };
    return;
  }

  // ---- Recording: every match, as --record writes it (but for a page
  // that embeds the game to check a recording).
  Module.arguments = Module.arguments || [];
  if (Module.arguments.includes('--verify') || Module.arguments.includes('--replay')) return;
  const option = Module.arguments.indexOf('--record');
  const path = option >= 0 ? Module.arguments[option + 1] : RECORDING;
  if (option < 0) Module.arguments.push('--record', path);

  // A local game's file holds every match of the visit, after the header
  // (what it holds when the first menu shows); a match starts where the last
  // menu found the file. An online game records its one match alone.
  let headerEnd = null,
    matchStart = null,
    matchName = null;
  const fileSize = () => FS.stat(path).size;
  window.addEventListener('korrin-menu', () => {
    matchStart = fileSize();
    headerEnd ??= matchStart;
  });
  function recordedMatch() {
    const bytes = FS.readFile(path);
    if (headerEnd === null) return bytes;
    const match = new Uint8Array(headerEnd + bytes.length - matchStart);
    match.set(bytes.subarray(0, headerEnd));
    match.set(bytes.subarray(matchStart), headerEnd);
    return match;
  }
  const keptFailed = (error) => console.error('The match could not be kept:', error.message);
  window.addEventListener('korrin-match', () => {
    const now = new Date(),
      two = (n) => String(n).padStart(2, '0');
    matchName =
      `korrin-tavrel-${now.getFullYear()}-${two(now.getMonth() + 1)}-${two(now.getDate())}-` +
      `${two(now.getHours())}${two(now.getMinutes())}${two(now.getSeconds())}.krp`;
    for (const link of saveLinks) link.hidden = true;
    fit();
  });
  // Each piece the game writes, once this page's match has begun (the
  // game's writes all go through FS.write).
  Module.preRun = [].concat(Module.preRun || [], () => {
    const write = FS.write;
    FS.write = (stream, ...rest) => {
      const written = write(stream, ...rest);
      if (stream.path === path && matchName !== null) {
        store(KEPT, { name: matchName, bytes: recordedMatch() }).catch(keptFailed);
      }
      return written;
    };
  });

  function offer(links, name, bytes) {
    for (const link of links) {
      URL.revokeObjectURL(link.href);
      link.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
      link.download = name;
      link.hidden = false;
    }
    fit();
  }
  // The match is over and the recorder has written its end. A key line over
  // the picture shows again with the offer, until the next key.
  window.addEventListener('korrin-ended', () => {
    offer(saveLinks, matchName, recordedMatch());
    stage.classList.remove('keys-read');
  });
  // Saved: nothing left to keep for the next visit.
  const forgetKept = () => store(KEPT, undefined).catch(keptFailed);
  for (const link of saveLinks) link.addEventListener('click', forgetKept);

  // A match kept by an earlier visit, closed before it was saved.
  stored(KEPT)
    .then((kept) => {
      if (!kept) return;
      const link = document.getElementById('kept-save');
      offer([link], kept.name, kept.bytes);
      keptLine.hidden = false;
      const forget = () => {
        keptLine.hidden = true;
        fit();
        if (matchName === null) forgetKept(); // else the store holds this visit's match
      };
      link.addEventListener('click', forget);
      document.getElementById('kept-forget').addEventListener('click', () => {
        URL.revokeObjectURL(link.href);
        forget();
      });
      fit();
    })
    .catch(keptFailed);
}
