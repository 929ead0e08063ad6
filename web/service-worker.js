// Plays the game offline once it has been visited: this build's files, all
// of them, in a cache of the build's own (BUILD, written above this by
// tools/offline_files.py: the build's version and its files).
//
// A page gets every one of its files from one place, so that no page ever
// mixes two builds' files: a page loaded from the network (online) gets its
// files from the network, a page loaded from the cache (offline) from the
// cache. From the network means from the server itself: the browser's HTTP
// cache may hold a copy it deems fresh (a server that sends no caching
// headers leaves that to the browser's guess, days for a file months old),
// so every request asks the server whether its copy is current. A new build
// is thus what the first visit online plays; its worker caches its files
// beside the old ones and takes over once no page of the old build is open,
// then deletes the old cache. Online, a file the network fails to give
// comes from the cache.
const CACHE = 'korrin-' + BUILD.version;
const PAGE = 'index.html';
// The pages this worker gave from its cache, by client id. A worker that
// has been idle a while is stopped and forgets them: a page then asks the
// network for what it still needs, which the game's pages do only as they
// start.
const cachedPages = new Set();

self.addEventListener('install', (event) => {
  // Straight from the server: never a copy of another build from the HTTP cache.
  const requests = BUILD.files.map((file) => new Request(file, { cache: 'reload' }));
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(requests)));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(
    caches
      .keys()
      .then((names) =>
        Promise.all(
          names
            .filter((name) => name.startsWith('korrin-') && name !== CACHE)
            .map((name) => caches.delete(name)),
        ),
      ),
  );
});

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== location.origin) return;
  if (request.mode === 'navigate') event.respondWith(openPage(event));
  else if (cachedPages.has(event.clientId)) event.respondWith(fromCache(request));
  // Also the browser's own requests (a manifest's icons), which belong to no page.
  else event.respondWith(fromServer(request).catch(() => fromCache(request)));
});

// Whatever the HTTP cache holds, asked of the server (which answers "not
// modified" for a copy that is current).
function fromServer(request) {
  return fetch(request, { cache: 'no-cache' });
}

// The page from the network, else (offline) from the cache. A navigation's
// own request cannot be sent with other options: its address is, with its
// redirects left to the browser.
async function openPage(event) {
  try {
    return await fromServer(new Request(event.request.url, { redirect: 'manual' }));
  } catch (offline) {
    const page = await caches.match(PAGE, { cacheName: CACHE });
    if (!page) throw offline;
    cachedPages.add(event.resultingClientId);
    return page;
  }
}

// A file of this build; one the build does not have (a site's online.json)
// from the network.
async function fromCache(request) {
  return (await caches.match(request, { cacheName: CACHE, ignoreSearch: true })) || fetch(request);
}
