// Online play on the page: "Play online" makes a room and shows the link to
// send; index.html?host hosts, index.html?join=ROOM joins. The game runs as
// with --host or --join ROOM, and its online link (web/link_web.cpp) opens
// the room through Module.korrinOnline below, which loads the signalling
// code (korrin-online.js, from web/online/) only then.
//
// Where the pages meet and how they connect: public MQTT brokers and public
// STUN servers unless a site's online.json (beside index.html) or the
// address says otherwise:
//   &signal=wss://broker.example:8084/mqtt  a broker (repeatable)
//   &ice=<URL-encoded JSON>                {"iceServers": [...], "iceTransportPolicy": "relay"}
// online.json: {"signal": ["wss://..."], "ice": {"iceServers": [...]}}.
(function() {
  // Letters and digits a reader cannot mistake for one another; four groups
  // of four of them (about 79 bits) cannot be guessed.
  const ROOM_ALPHABET = 'abcdefghjkmnpqrstuvwxyz23456789';
  const ROOM_GROUPS = 4, ROOM_GROUP_LENGTH = 4;
  const ROOM_PATTERN = /^[A-Za-z0-9-]{1,64}$/;

  const params = new URLSearchParams(location.search);
  const joinRoom = params.get('join');
  const hosting = params.has('host');
  const section = document.getElementById('online');

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

  section.querySelector('#online-play').addEventListener('click', () => {
    location.href = pageWith('host');
  });

  if (!hosting && joinRoom === null) return; // a local game: nothing more to do
  if (joinRoom !== null && !ROOM_PATTERN.test(joinRoom)) {
    section.querySelector('#online-status').textContent = 'That link names no room.';
    return;
  }
  const room = hosting ? makeRoom() : joinRoom;
  Module.arguments = hosting ? ['--host'] : ['--join', room];

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

  Module.korrinOnline = {
    async open(asHost, roomToJoin) {
      const config = await readConfig();
      const { openLink } = await import('./korrin-online.js');
      const openRoom = asHost ? room : roomToJoin;
      const link = await openLink({ hosting: asHost, room: openRoom, ...config });
      return { link, room: openRoom };
    },
  };

  // The session's lines for the players (the game's "korrin-line" events):
  // the latest under the canvas, and the last one when the game ends.
  const status = section.querySelector('#online-status');
  let lastLine = '';
  window.addEventListener('korrin-line', (event) => {
    lastLine = event.detail;
    status.textContent = lastLine;
  });
  const onExit = Module.onExit;
  Module.onExit = (exitStatus) => {
    onExit(exitStatus);
    document.getElementById('ended-text').textContent = lastLine;
    document.getElementById('again').textContent = 'Play again';
    // Playing again hosts a new room, also for the side that joined.
    history.replaceState(null, '', pageWith('host'));
  };

  if (hosting) {
    const link = new URL(pageWith('join=' + room), location.href).href;
    section.querySelector('#online-link').value = link;
    const field = section.querySelector('#online-link');
    section.querySelector('#online-copy').addEventListener('click', () => {
      // The clipboard API needs a secure context; the older command does not.
      field.select();
      if (navigator.clipboard) navigator.clipboard.writeText(link);
      else document.execCommand('copy');
    });
    section.querySelector('#online-invite').hidden = false;
  }
})();
