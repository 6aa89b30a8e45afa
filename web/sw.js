// The page's service worker: keeps the files of one version of the page
// in a cache of its own, so that after one visit the page opens and
// converts with no network at all. The build writes VERSION (a hash of
// every file of the page) and FILES; a new version of the page is a new
// worker with a new cache, which the browser installs beside the old one.
// It takes over only when no page of the old version is open (or when a
// page that has not started anything asks it to, and reloads), and then
// drops the old cache: a page's files all come from one version.
const VERSION = '@TVRCGCV_PAGE_VERSION@';
const FILES = [@TVRCGCV_PAGE_FILES@];
const CACHE = `tvrcgcv-${VERSION}`;

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) =>
    cache.addAll(FILES.map((file) => new Request(file, { cache: 'reload' })))));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys().then((keys) => Promise.all(keys
    .filter((key) => key.startsWith('tvrcgcv-') && key !== CACHE)
    .map((key) => caches.delete(key)))));
});

self.addEventListener('message', (event) => {
  if (event.data === 'take over') self.skipWaiting();
});

// The page's own files from the cache (whatever the query: ?lang=ja is
// the same page), anything else from the network.
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(request, { ignoreSearch: true }))
    .then((kept) => kept || fetch(request)));
});
