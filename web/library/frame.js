// The display's refresh, for the match's pictures (web/refresh_web.cpp): a
// wait that a refresh ends, and a question whether one came.

mergeInto(LibraryManager.library, {
  // One requestAnimationFrame at a time serves both calls; it is asked for
  // only while the game asks, so that the menu costs no refreshes.
  $KorrinFrame: {
    requested: 0, // the pending request's id, 0 for none
    came: false, // a refresh came since the game last asked
    waiting: null, // the wait's wakeUp, while the game waits for a refresh
    refreshedAt: 0, // performance.now() of the last refresh

    request: function () {
      if (KorrinFrame.requested) return;
      KorrinFrame.requested = requestAnimationFrame(function (time) {
        KorrinFrame.requested = 0;
        KorrinFrame.came = true;
        KorrinFrame.refreshedAt = time;
        var wakeUp = KorrinFrame.waiting;
        KorrinFrame.waiting = null;
        if (wakeUp) wakeUp(1);
      });
    },
  },

  // Waits until the next refresh (1) or for ms, whichever is first (0).
  // A hidden page gets no refresh: then the time ends the wait. The game
  // resumes as a callback of Emscripten's own, as from its sleeps, so that
  // an exit() that follows ends it the normal way instead of escaping into
  // the browser as an uncaught ExitStatus.
  korrin_wait_for_refresh__deps: ['$KorrinFrame', '$callUserCallback'],
  korrin_wait_for_refresh: function (ms) {
    return Asyncify.handleSleep(function (wakeUp) {
      var resume = function (value) {
        callUserCallback(function () {
          wakeUp(value);
        });
      };
      KorrinFrame.came = false;
      var timer = setTimeout(function () {
        KorrinFrame.waiting = null;
        resume(0);
      }, ms);
      KorrinFrame.waiting = function (refreshed) {
        clearTimeout(timer);
        KorrinFrame.came = false;
        resume(refreshed);
      };
      KorrinFrame.request();
    });
  },

  // Whether a refresh came since the last call (the first call only asks for one).
  korrin_refresh_came__deps: ['$KorrinFrame'],
  korrin_refresh_came: function () {
    var came = KorrinFrame.came;
    KorrinFrame.came = false;
    KorrinFrame.request();
    return came ? 1 : 0;
  },

  // performance.now() of the last refresh, in ms.
  korrin_refreshed_at__deps: ['$KorrinFrame'],
  korrin_refreshed_at: function () {
    return KorrinFrame.refreshedAt;
  },
});
