// The browser's online link as the game's C++ sees it (web/link_web.cpp):
// plain calls that start things and report where they are, so that the game
// waits for them in its own loops (SDL_Delay and emscripten_sleep yield to
// the browser under Asyncify). The link itself is a RoomLink of
// web/online/link.mjs, which the page (web/online.js) loads on demand and
// opens through Module.korrinOnline. One link at a time.

mergeInto(LibraryManager.library, {
  $KorrinLink: {
    link: null, // the open RoomLink
    opening: false, // while the page looks for a broker
    closing: false, // while the link's goodbye is under way
    error: '', // why the last open failed
    room: '', // the room's code
  },

  // Starts opening the link: hosting a room of the page's making, or joining
  // the room named.
  korrin_link_open__deps: ['$KorrinLink'],
  korrin_link_open: function (hosting, room) {
    KorrinLink.opening = true;
    KorrinLink.error = '';
    Module['korrinOnline']
      .open(hosting !== 0, UTF8ToString(room))
      .then(
        function (opened) {
          KorrinLink.link = opened.link;
          KorrinLink.room = opened.room;
        },
        function (failure) {
          KorrinLink.error = failure.message || String(failure);
        },
      )
      .finally(function () {
        KorrinLink.opening = false;
      });
  },

  korrin_link_opening__deps: ['$KorrinLink'],
  korrin_link_opening: function () {
    return KorrinLink.opening ? 1 : 0;
  },

  // Why opening failed ("" if it did not), or the room, into a buffer.
  korrin_link_error__deps: ['$KorrinLink'],
  korrin_link_error: function (buffer, size) {
    stringToUTF8(KorrinLink.error, buffer, size);
  },
  korrin_link_room__deps: ['$KorrinLink'],
  korrin_link_room: function (buffer, size) {
    stringToUTF8(KorrinLink.room, buffer, size);
  },

  // Takes the oldest event: its LinkEvent, and a received packet's bytes
  // into data (at most size of them; their count into *length).
  korrin_link_next__deps: ['$KorrinLink'],
  korrin_link_next: function (data, size, length) {
    var link = KorrinLink.link;
    if (!link || link.events.length === 0) return 0;
    var event = link.events.shift();
    KorrinLink.watcher = event.watcher === undefined ? -1 : event.watcher;
    var bytes = event.data ? event.data.subarray(0, size) : new Uint8Array(0);
    HEAPU8.set(bytes, data);
    HEAP32[length >> 2] = bytes.length;
    return event.type;
  },

  korrin_link_send__deps: ['$KorrinLink'],
  korrin_link_send: function (data, length, reliable) {
    if (KorrinLink.link) KorrinLink.link.send(HEAPU8.slice(data, data + length), reliable !== 0);
  },

  // The watcher of the last event korrin_link_next gave (-1: none).
  korrin_link_watcher__deps: ['$KorrinLink'],
  korrin_link_watcher: function () {
    return KorrinLink.watcher === undefined ? -1 : KorrinLink.watcher;
  },

  korrin_link_send_watcher__deps: ['$KorrinLink'],
  korrin_link_send_watcher: function (watcher, data, length) {
    if (KorrinLink.link) KorrinLink.link.sendToWatcher(watcher, HEAPU8.slice(data, data + length));
  },

  korrin_link_drop_watcher__deps: ['$KorrinLink'],
  korrin_link_drop_watcher: function (watcher, turnedAway) {
    if (KorrinLink.link) KorrinLink.link.dropWatcher(watcher, turnedAway !== 0);
  },

  korrin_link_connected__deps: ['$KorrinLink'],
  korrin_link_connected: function () {
    return KorrinLink.link && KorrinLink.link.connected ? 1 : 0;
  },

  // Starts the goodbye to the player; korrin_link_closing says when it is done.
  korrin_link_disconnect__deps: ['$KorrinLink'],
  korrin_link_disconnect: function (waitMs) {
    if (!KorrinLink.link) return;
    KorrinLink.closing = true;
    KorrinLink.link.disconnect(waitMs).finally(function () {
      KorrinLink.closing = false;
    });
  },
  korrin_link_closing__deps: ['$KorrinLink'],
  korrin_link_closing: function () {
    return KorrinLink.closing ? 1 : 0;
  },

  // Leaves the room: nobody can join any more.
  korrin_link_leave__deps: ['$KorrinLink'],
  korrin_link_leave: function () {
    if (KorrinLink.link) KorrinLink.link.leave();
    KorrinLink.link = null;
  },

  korrin_link_round_trip_ms__deps: ['$KorrinLink'],
  korrin_link_round_trip_ms: function () {
    return KorrinLink.link ? KorrinLink.link.roundTripMs : 0;
  },
  // Bytes sent (sent != 0) or received, as a double: they pass 2^32.
  korrin_link_bytes__deps: ['$KorrinLink'],
  korrin_link_bytes: function (sent) {
    var link = KorrinLink.link;
    return link ? (sent ? link.bytesSent : link.bytesReceived) : 0;
  },
});
