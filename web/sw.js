// The service worker: keeps one build of the page in a cache, so that it starts offline and
// installs as an app. tools/make_service_worker.py fills in BUILD when the folder is gathered.
//
// How a new build takes over: every build writes its version, its file list and a hash of the
// files into this script, so a new build is a new sw.js. The browser compares sw.js on each
// visit; when it differs, the new worker installs beside the old one and fetches every file
// afresh into its own cache. It then waits while any page of the old build is open: those pages
// keep taking every file (the worklet, fetched at the first gesture, included) from the old
// cache, so no page ever runs a mix of two builds. Once they are all closed the new worker
// activates, deletes the old cache, and the next visit runs the new build. If any file fails to
// load, the install fails and the old build stays.

const BUILD = { version: '0.0.0', hash: 'unbuilt', files: [] };

// Caches belong to the whole origin: the scope in the name keeps two copies of the page on one
// host apart.
const PREFIX = `tonvarel ${self.registration.scope} `;
const CACHE = `${PREFIX}${BUILD.version}-${BUILD.hash}`;

self.addEventListener('install', (event) => {
  // 'reload' passes the HTTP cache by, which may still hold a file of the previous build.
  const requests = BUILD.files.map((name) => new Request(name, { cache: 'reload' }));
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(requests)));
});

self.addEventListener('activate', (event) => {
  event.waitUntil((async () => {
    for (const name of await caches.keys()) {
      if (name.startsWith(PREFIX) && name !== CACHE) await caches.delete(name);
    }
    await self.clients.claim();  // the first visit's page, too, is served from here on
  })());
});

self.addEventListener('fetch', (event) => {
  const url = new URL(event.request.url);
  const scope = new URL(self.registration.scope);
  if (event.request.method !== 'GET' || url.origin !== scope.origin ||
      !url.pathname.startsWith(scope.pathname)) {
    return;
  }
  const name = url.pathname.slice(scope.pathname.length) || 'index.html';
  if (BUILD.files.includes(name)) event.respondWith(fromCache(name, event.request));
});

async function fromCache(name, request) {
  // The query (?lang=, ?tap=) is the page's own business, and a host's Vary header does not
  // apply: the one stored copy answers them all.
  const cache = await caches.open(CACHE);
  const response = await cache.match(new URL(name, self.registration.scope).href,
                                     { ignoreVary: true });
  if (!response) return fetch(request);  // the browser dropped the cache: the network
  // A host that redirected index.html to its folder gave a response that a navigation refuses.
  return response.redirected ? new Response(response.body, response) : response;
}
