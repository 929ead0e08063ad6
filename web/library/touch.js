// Touches: the fingers on the page in the game's own pixels, and the page's touch
// controls, for the game's touch screen (src/platform/touch.h, web/touch_web.cpp).

mergeInto(LibraryManager.library, {
  // Every finger put down on the page counts, on the picture or beside it
  // (two players on a tablet hold their own halves, margins included),
  // but those put down on the page's own controls (buttons, the link
  // field) or on what it shows over or beside the picture (marked
  // data-page-taps: its hints, online play's rows): they keep their taps,
  // and none passes through to the picture beneath. The page scrolls, zooms and selects
  // nothing under a finger the game takes. A control marked
  // data-control="hold" or "leave" (web/shell.html) is tapped for the game.
  $KorrinTouch__postset:
    '["touchstart", "touchmove", "touchend", "touchcancel"].forEach(function(type) {' +
    '  window.addEventListener(type, KorrinTouch.onTouch, {capture: true, passive: false});' +
    '});' +
    'document.addEventListener("click", KorrinTouch.onClick);',
  $KorrinTouch: {
    fingers: [], // {id, x, y, downX, downY}, in the order they were put down
    lifted: null, // {x, y} of the last finger lifted, until the game reads it
    tapped: {}, // control -> tapped since the game last read it

    // In the game's pixels, whatever the picture's scale and place: the
    // canvas holds the game's screen at its own size.
    toScreen: function (touch) {
      var canvas = Module['canvas'];
      var box = canvas.getBoundingClientRect();
      return {
        x: Math.floor(((touch.clientX - box.left) * canvas.width) / box.width),
        y: Math.floor(((touch.clientY - box.top) * canvas.height) / box.height),
      };
    },

    indexOf: function (id) {
      return KorrinTouch.fingers.findIndex(function (finger) {
        return finger.id === id;
      });
    },

    onTouch: function (event) {
      var taken = false;
      Array.prototype.forEach.call(event.changedTouches, function (touch) {
        var index = KorrinTouch.indexOf(touch.identifier);
        if (event.type === 'touchstart') {
          if (
            touch.target.closest &&
            touch.target.closest('button, input, a, select, textarea, [data-page-taps]')
          )
            return;
          var at = KorrinTouch.toScreen(touch);
          KorrinTouch.fingers.push({ id: touch.identifier, x: at.x, y: at.y, downX: at.x, downY: at.y });
        } else if (index < 0) {
          return;
        } else if (event.type === 'touchmove') {
          Object.assign(KorrinTouch.fingers[index], KorrinTouch.toScreen(touch));
        } else {
          KorrinTouch.fingers.splice(index, 1);
          // A touch the browser cancelled (a system gesture) taps nothing.
          if (event.type === 'touchend') KorrinTouch.lifted = KorrinTouch.toScreen(touch);
        }
        taken = true;
      });
      if (taken && event.cancelable) event.preventDefault();
    },

    onClick: function (event) {
      var control = event.target.closest && event.target.closest('[data-control]');
      if (control) KorrinTouch.tapped[control.dataset.control] = true;
    },
  },

  // The fingers on the screen (at most `most`), as x, y pairs into
  // coordinates, and where each was put down into putDownAt.
  korrin_touch_fingers__deps: ['$KorrinTouch'],
  korrin_touch_fingers: function (coordinates, putDownAt, most) {
    var fingers = KorrinTouch.fingers.slice(0, most);
    fingers.forEach(function (finger, i) {
      HEAP32[(coordinates >> 2) + 2 * i] = finger.x;
      HEAP32[(coordinates >> 2) + 2 * i + 1] = finger.y;
      HEAP32[(putDownAt >> 2) + 2 * i] = finger.downX;
      HEAP32[(putDownAt >> 2) + 2 * i + 1] = finger.downY;
    });
    return fingers.length;
  },

  // 1, with the place into coordinates, once for the last finger lifted.
  korrin_touch_lifted__deps: ['$KorrinTouch'],
  korrin_touch_lifted: function (coordinates) {
    var lifted = KorrinTouch.lifted;
    if (!lifted) return 0;
    KorrinTouch.lifted = null;
    HEAP32[coordinates >> 2] = lifted.x;
    HEAP32[(coordinates >> 2) + 1] = lifted.y;
    return 1;
  },

  // 1 once for a control tapped since the last call.
  korrin_touch_tapped__deps: ['$KorrinTouch'],
  korrin_touch_tapped: function (control) {
    var name = UTF8ToString(control);
    var tapped = !!KorrinTouch.tapped[name];
    KorrinTouch.tapped[name] = false;
    return tapped ? 1 : 0;
  },
});
