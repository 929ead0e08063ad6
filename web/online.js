// Online play on the page: "Play online" makes a room and shows the link to
// send; index.html?host hosts, index.html?join=ROOM joins. The game runs as
// with --host or --join ROOM, and its online link (web/link_web.cpp) opens
// the room through Module.korrinOnline below, which loads the signalling
// code (korrin-online.js, from web/online/) only then. Beneath the picture
// (#online, placed by fit() in page.js) the page shows the link while it can
// be used, and what is happening in the players' words: the game's lines
// for them ("korrin-line") and the link's news.
//
// Where the pages meet and how they connect: public MQTT brokers and public
// STUN servers unless a site's online.json (beside index.html) or the
// address says otherwise:
//   &signal=wss://broker.example:8084/mqtt  a broker (repeatable)
//   &ice=<URL-encoded JSON>                {"iceServers": [...], "iceTransportPolicy": "relay"}
// online.json: {"signal": ["wss://..."], "ice": {"iceServers": [...]}}.
import { Module, fit } from './page.js';

const stage = document.getElementById('stage');
const loading = document.getElementById('loading');

setUpOnlinePlay();

// Sets the page up for a room, hosted or joined, where the address asks for
// one; otherwise only "Play online" does anything.
function setUpOnlinePlay() {
  // Letters and digits a reader cannot mistake for one another; four groups
  // of four of them (about 79 bits) cannot be guessed. A code is read
  // without regard to case.
  const ROOM_ALPHABET = 'abcdefghjkmnpqrstuvwxyz23456789';
  const ROOM_GROUPS = 4,
    ROOM_GROUP_LENGTH = 4;
  const ROOM_PATTERN = /^[a-z0-9-]{1,64}$/;
  // The room a host's tab waits in, kept while nobody has joined it: a
  // reload, or a tab restored, waits in the same room, and the link already
  // sent still works.
  const KEPT_ROOM = 'korrin-tavrel-room';
  // How long Copy says that it copied.
  const COPIED_MS = 2000;
  // How long "Play online" waits for a signalling server to answer before
  // it says that none can be reached.
  const BROKER_PROBE_MS = 5000;
  const NO_BROKER_LINE = 'Online play needs the network: no signalling server could be reached.';

  const params = new URLSearchParams(location.search);
  const joinRoom = params.has('join') ? params.get('join').toLowerCase() : null;
  const hosting = params.has('host');
  const section = document.getElementById('online');
  const status = document.getElementById('online-status');
  const invite = document.getElementById('online-invite');
  const nativeOffer = document.getElementById('online-native');

  function makeRoom() {
    const random = crypto.getRandomValues(new Uint32Array(ROOM_GROUPS * ROOM_GROUP_LENGTH));
    const letters = Array.from(random, (n) => ROOM_ALPHABET[n % ROOM_ALPHABET.length]);
    const groups = [];
    for (let i = 0; i < letters.length; i += ROOM_GROUP_LENGTH) {
      groups.push(letters.slice(i, i + ROOM_GROUP_LENGTH).join(''));
    }
    return groups.join('-');
  }

  // This page's address with the online choice replaced (signal and ice kept).
  function pageWith(choice) {
    const kept = new URLSearchParams();
    for (const [key, value] of params) if (key === 'signal' || key === 'ice') kept.append(key, value);
    const rest = kept.toString();
    return location.pathname + '?' + choice + (rest ? '&' + rest : '');
  }

  // The brokers and ICE servers: the address, else online.json, else the defaults.
  async function readConfig() {
    let site = {};
    try {
      const response = await fetch('online.json', { cache: 'no-cache' });
      if (response.ok) site = await response.json();
    } catch (error) {
      console.error('online.json:', error.message);
    }
    const signal = params.getAll('signal');
    const ice = params.get('ice');
    return {
      brokers: signal.length > 0 ? signal : site.signal || [],
      rtcConfig: ice ? JSON.parse(ice) : site.ice,
    };
  }

  // Whether a signalling server answers: a WebSocket opened to any of the
  // brokers in time. A page loaded from the cache may think itself online.
  async function brokerReachable() {
    const named = params.getAll('signal');
    const brokers = named.length > 0 ? named : (await readConfig()).brokers;
    const urls = brokers.length > 0 ? brokers : (await import('./korrin-online.js')).DEFAULT_BROKERS;
    return new Promise((resolve) => {
      const sockets = [];
      const done = (reached) => {
        clearTimeout(timer);
        for (const socket of sockets) socket.close();
        resolve(reached);
      };
      const timer = setTimeout(() => done(false), BROKER_PROBE_MS);
      let failed = 0;
      const fail = () => {
        if (++failed === urls.length) done(false);
      };
      for (const url of urls) {
        try {
          const socket = new WebSocket(url, 'mqtt');
          sockets.push(socket);
          socket.addEventListener('open', () => done(true));
          socket.addEventListener('error', fail);
        } catch (badAddress) {
          fail();
        }
      }
    });
  }

  // A line beneath the picture, also on a page of a local game.
  function showLine(text) {
    stage.classList.add('online');
    section.hidden = false;
    status.textContent = text;
    fit();
  }

  // A new room, asked for: a match going on is left only if the player
  // agrees, and only for a signalling server that answers.
  const play = document.getElementById('online-play');
  play.addEventListener('click', async () => {
    const playing = ['match', 'hold'].includes(document.documentElement.dataset.game);
    if (playing && !window.confirm('Leave this match to play online?')) return;
    play.disabled = true;
    showLine('Looking for a signalling server…');
    const reached = await brokerReachable().catch(() => false);
    play.disabled = false;
    if (!reached) {
      showLine(NO_BROKER_LINE);
      return;
    }
    sessionStorage.removeItem(KEPT_ROOM);
    location.href = pageWith('host');
  });

  if (!hosting && joinRoom === null) return; // a local game: nothing more to do
  stage.classList.add('online');
  section.hidden = false;

  // The status line beneath the picture; the picture makes room for it.
  function show(text) {
    status.textContent = text;
    fit();
  }
  function showInvite(shown) {
    invite.hidden = !shown;
    fit();
  }
  // A joining player may take the room to the installed game instead, by its
  // URL scheme (korrin-tavrel:?join=ROOM, which the game's package registers),
  // until a match starts or the join ends.
  function offerNative(shown) {
    nativeOffer.hidden = !shown;
    fit();
  }

  if (joinRoom !== null && !ROOM_PATTERN.test(joinRoom)) {
    show('That link names no room.');
    return;
  }
  const room = hosting ? (sessionStorage.getItem(KEPT_ROOM) ?? makeRoom()) : joinRoom;
  if (hosting) sessionStorage.setItem(KEPT_ROOM, room);
  Module.arguments = hosting ? ['--host'] : ['--join', room];
  if (!hosting) {
    document.getElementById('online-native-link').href = `korrin-tavrel:?join=${room}`;
    offerNative(true);
  }

  // What the link says beside the game's lines (NEWS in web/online/link.mjs).
  const NEWS = hosting
    ? {
        connecting: 'A player is connecting…',
        failed: `A player could not connect. Waiting for a player in room ${room}.`,
      }
    : {
        connecting: 'Found the host: connecting…',
        failed: 'The connection failed: trying again…',
      };

  let matchBegan = false; // a player joined (the game's "korrin-match")
  Module.korrinOnline = {
    async open(asHost, roomToJoin) {
      let openLink;
      try {
        ({ openLink } = await import('./korrin-online.js'));
      } finally {
        loading.hidden = true;
      }
      const config = await readConfig();
      show(asHost ? 'Opening the room…' : `Looking for room ${roomToJoin}…`);
      const openRoom = asHost ? room : roomToJoin;
      const onNews = (news) => {
        if (!matchBegan) show(NEWS[news]);
      };
      const link = await openLink({ hosting: asHost, room: openRoom, onNews, ...config });
      if (asHost) showInvite(true); // a broker has answered: the room can be found
      window.addEventListener('korrin-match', () => link.spend());
      return { link, room: openRoom };
    },
  };

  // The session's lines for the players (the game's "korrin-line" events):
  // the latest beneath the picture; when the game ends, those said since the
  // match began (why it ended, and the score), else the last one.
  let lastLine = '';
  const endLines = [];
  window.addEventListener('korrin-line', (event) => {
    lastLine = event.detail;
    if (matchBegan) endLines.push(lastLine);
    show(lastLine);
  });
  // Who won, for this side: the host plays player 1 (the left paddle). A
  // page that watches the match (the game's "korrin-match" says "watching")
  // has no side.
  let outcome = '';
  let watching = false;
  window.addEventListener('korrin-match', (event) => {
    watching = event.detail === 'watching';
  });
  window.addEventListener('korrin-ended', (event) => {
    if (event.detail && !watching)
      outcome = event.detail === (hosting ? '1' : '2') ? 'You won.' : 'You lost.';
  });

  // The leave control asks first: an online match ends for both players,
  // and goes on (it cannot hold) while the question shows.
  const leaveAsk = document.getElementById('leave-ask');
  document.getElementById('touch-leave').addEventListener('click', (event) => {
    event.stopPropagation(); // not yet the game's leave (web/library/touch.js)
    leaveAsk.hidden = false;
  });
  document.getElementById('leave-no').addEventListener('click', () => {
    leaveAsk.hidden = true;
  });
  document.getElementById('leave-yes').addEventListener('click', () => {
    leaveAsk.hidden = true;
  });
  window.addEventListener('korrin-ended', () => {
    leaveAsk.hidden = true;
  });

  // Once a player has joined, the room is spent: its link goes, and a reload
  // hosts a new one.
  window.addEventListener('korrin-match', () => {
    matchBegan = true;
    sessionStorage.removeItem(KEPT_ROOM);
    showInvite(false);
    offerNative(false);
  });

  const onExit = Module.onExit;
  Module.onExit = (exitStatus) => {
    onExit(exitStatus);
    showInvite(false);
    offerNative(false);
    leaveAsk.hidden = true; // nothing left to leave
    const why = endLines.length > 0 ? endLines.join(' ') : lastLine;
    document.getElementById('ended-text').textContent = outcome ? `${outcome} ${why}` : why;
    const again = document.getElementById('again');
    if (joinRoom !== null && !matchBegan) {
      // A join that came to no match: the same room again (the address is
      // still the link), or a room of one's own.
      again.textContent = 'Try again';
      const hostInstead = document.getElementById('again-host');
      hostInstead.hidden = false;
      hostInstead.addEventListener('click', () => {
        location.href = pageWith('host');
      });
      return;
    }
    // Playing again hosts: the host's room if nobody joined it, else a new
    // one, also for the side that joined.
    again.textContent = 'Play again';
    history.replaceState(null, '', pageWith('host'));
  };

  if (hosting) {
    const field = document.getElementById('online-link');
    const copy = document.getElementById('online-copy');
    field.value = new URL(pageWith('join=' + room), location.href).href;
    copy.addEventListener('click', async () => {
      field.select();
      copy.textContent = (await copied(field.value)) ? 'Copied' : 'Press Ctrl+C to copy';
      setTimeout(() => {
        copy.textContent = 'Copy';
      }, COPIED_MS);
    });
  }

  // The clipboard API needs a secure context and may be refused; the older
  // command copies the selection.
  async function copied(text) {
    try {
      await navigator.clipboard.writeText(text);
      return true;
    } catch (error) {
      return document.execCommand('copy');
    }
  }
}
