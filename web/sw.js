// Keeps the page's files, the package's module among them, for visits
// without a network: each request goes to the network first, and its answer
// is kept; without a network the kept answer is served.
const cacheName = 'quillmorph-page';
const files = [
  './',
  'index.html',
  'icon.svg',
  'style.css',
  'app.js',
  'pgm.js',
  '../js/index.js',
  '../js/checks.js',
  '../js/worker.js',
  '../js/worker-thread.js',
  '../js/dist/quillmorph_wasm.js',
  '../js/dist/quillmorph_wasm.wasm',
];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(cacheName).then((cache) => cache.addAll(files)));
});

self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  event.respondWith(
    fetch(event.request)
      .then((response) => {
        if (response.ok) {
          const copy = response.clone();
          event.waitUntil(caches.open(cacheName).then((cache) => cache.put(event.request, copy)));
        }
        return response;
      })
      .catch(() => caches.match(event.request).then((kept) => kept ?? Response.error())),
  );
});
