// The page's service worker, loaded by /web-service-worker.js at the
// checkout's root: from there its scope covers the page (web/), the
// worker's script and the module (js/), so that a reload without a network
// finds every file.  Each request goes to the network first and its answer
// is kept; without a network the kept answer is served.
//
// Every answer it gives carries the headers that make the page
// cross-origin isolated, which WebAssembly threads need (SharedArrayBuffer):
// a plain static server or a static host is then enough.
const cacheName = 'quillmorph-page';
const files = [
  'web/',
  'web/index.html',
  'web/icon.svg',
  'web/style.css',
  'web/app.js',
  'web/pgm.js',
  'web/image-sides.js',
  'js/index.js',
  'js/checks.js',
  'js/worker.js',
  'js/worker-thread.js',
  'js/dist/quillmorph_wasm.js',
  'js/dist/quillmorph_wasm.wasm',
  'js/dist/threads/quillmorph_wasm_threads.mjs',
  'js/dist/threads/quillmorph_wasm_threads.wasm',
  'js/dist/threads/quillmorph_wasm_threads.worker.js',
];

const isolationHeaders = {
  'Cross-Origin-Opener-Policy': 'same-origin',
  'Cross-Origin-Embedder-Policy': 'require-corp',
};

// The answer with the isolation headers added; an opaque or error answer
// (status 0) cannot be rebuilt, and needs none.
function isolated(response) {
  if (response.status === 0) return response;
  const headers = new Headers(response.headers);
  for (const [name, value] of Object.entries(isolationHeaders)) headers.set(name, value);
  return new Response(response.body, { status: response.status, statusText: response.statusText, headers });
}

self.addEventListener('install', (event) => {
  const urls = files.map((file) => new URL(file, self.registration.scope));
  event.waitUntil(
    caches
      .open(cacheName)
      .then((cache) => cache.addAll(urls))
      .then(() => self.skipWaiting()),
  );
});

// Controls the open page at once, so that its next load is isolated.
self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

self.addEventListener('fetch', (event) => {
  const { request } = event;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(
    fetch(request)
      .then((response) => {
        if (response.ok) {
          const copy = response.clone();
          event.waitUntil(caches.open(cacheName).then((cache) => cache.put(request, copy)));
        }
        return isolated(response);
      })
      .catch(() => caches.match(request).then((kept) => (kept ? isolated(kept) : Response.error()))),
  );
});
