// The game's calls to its page (src/platform/page.h): each becomes an event
// "korrin-NAME" on the window, its text in the event's detail, for the
// page's scripts to follow.

mergeInto(LibraryManager.library, {
  korrin_page_event: function (name, text) {
    window.dispatchEvent(new CustomEvent('korrin-' + UTF8ToString(name), { detail: UTF8ToString(text) }));
  },
});
