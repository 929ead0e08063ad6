// Installed from the home screen and played offline: the service worker
// (service-worker.js, written by tools/offline_files.py for each build)
// keeps this build's files; online play needs the network, and says so.
setUpOffline();

function setUpOffline() {
  // Service workers need a secure context: https, or a page of this machine.
  // Each visit online asks for the worker again: a new build's worker
  // then caches the new files (see service-worker.js).
  if ('serviceWorker' in navigator && window.isSecureContext) {
    // The worker's script is always asked of the server, never of the HTTP cache.
    navigator.serviceWorker
      .register('service-worker.js', { updateViaCache: 'none' })
      .then((registration) => navigator.onLine && registration.update())
      .catch((error) => console.error('service-worker.js:', error.message));
  }

  const play = document.getElementById('online-play');
  const status = document.getElementById('online-status');
  const OFFLINE_LINE = 'Online play needs the network.';
  function showNetwork() {
    play.disabled = !navigator.onLine;
    if (!navigator.onLine) status.textContent = OFFLINE_LINE;
    else if (status.textContent === OFFLINE_LINE) status.textContent = '';
  }
  window.addEventListener('online', showNetwork);
  window.addEventListener('offline', showNetwork);
  showNetwork();
}
