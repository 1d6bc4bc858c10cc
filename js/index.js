// quillmorph: doubles the resolution of grayscale images, in WebAssembly,
// to the same bytes as the native library.
//
// The module (dist/, built from the library's C++ by Emscripten) runs one
// call at a time, started on the calling thread.  Its progress hook comes
// back here every few rows: to report, to see whether the signal has fired,
// and now and then to let the event loop run (the call is suspended
// meanwhile), so that a long call neither freezes its thread nor misses an
// abort.
//
// Two builds of the module give the same bytes: one with threads (the
// engine's own thread pool, on Web Workers or Node's worker_threads, in
// shared memory), used where shared memory may be had and the calling
// thread may wait for its helpers (Node, a worker of a cross-origin
// isolated page); and one without, everywhere else or when the other fails
// to load.
import { abortError, bytesText, checkArguments, checkLength, checkRGBA, checkSides } from './checks.js';

// How long a call runs between two turns of the event loop.
const millisecondsBetweenYields = 25;

// A module whose memory grew past this during a call is dropped after it,
// so that its memory goes back: WebAssembly memory never shrinks, and a new
// instance of the compiled module costs a few milliseconds.
const largestKeptMemory = 64 * 2 ** 20;

// The library's cap on a call's threads (QM_MAX_THREADS), the calling one
// among them.
const mostThreads = 256;

const isNode = typeof process === 'object' && typeof process.versions?.node === 'string';

const builds = {
  single: {
    glue: () => import('./dist/quillmorph_wasm.js'),
    wasm: new URL('./dist/quillmorph_wasm.wasm', import.meta.url),
  },
  threaded: {
    glue: () => import('./dist/threads/quillmorph_wasm_threads.mjs'),
    wasm: new URL('./dist/threads/quillmorph_wasm_threads.wasm', import.meta.url),
  },
};

async function processorCount() {
  if (isNode) {
    const os = await import(/* @vite-ignore */ 'node:os');
    return os.availableParallelism?.() ?? os.cpus().length;
  }
  return globalThis.navigator?.hardwareConcurrency ?? 1;
}

// Threads need shared memory, which a page has only when cross-origin
// isolated, a calling thread that may block while its helpers work, which
// a page's own thread may not, and a processor for a helper (without one,
// the threaded build's start never settles in Node).
// In Node, QUILLMORPH_WASM=single asks for the module without threads (the
// tests run both).
async function threadsPossible() {
  if (typeof SharedArrayBuffer !== 'function') return false;
  const shared = isNode
    ? process.env.QUILLMORPH_WASM !== 'single'
    : globalThis.crossOriginIsolated === true && typeof document === 'undefined';
  return shared && (await processorCount()) > 1;
}

async function wasmBytes(url) {
  if (url.protocol === 'file:') {
    // Node: the .wasm beside this file.  (Emscripten's own loader would
    // fetch it by URL, which Node's fetch does not do for files.)
    const fs = 'node:fs/promises';
    const { readFile } = await import(/* @vite-ignore */ fs);
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`quillmorph: ${url} could not be loaded: HTTP ${response.status}`);
  return new Uint8Array(await response.arrayBuffer());
}

// A small image upscaled as the module loads: engines compile WebAssembly
// quickly first and optimise what runs, so the first real call is then
// optimised already (given a moment in between, as a page has).
const warmUpSide = 64;

function warmUp(module) {
  const lr = module._malloc(warmUpSide * warmUpSide);
  const hr = module._malloc(4 * warmUpSide * warmUpSide);
  if (lr && hr) {
    for (let i = 0; i < warmUpSide * warmUpSide; i++) module.HEAPU8[lr + i] = (i * 37) ^ (i >> 6);
    module.qmProgress = () => 0;
    module._qmjs_upscale(1, lr, warmUpSide, warmUpSide, hr, 255, module.threads);
    module.qmProgress = null;
  }
  module._free(hr);
  module._free(lr);
  return module;
}

// Each build's compiled module, kept for the process: instances come and go.
const compiled = new Map();
function compiledModule(build) {
  if (!compiled.has(build)) {
    const compiling = wasmBytes(build.wasm).then((bytes) => WebAssembly.compile(bytes));
    compiled.set(build, compiling);
    compiling.catch(() => compiled.delete(build));
  }
  return compiled.get(build);
}

// Settings of the threaded build: its pool of helper threads, and in Node
// what its glue needs there (src/node-require.js).
async function threadSettings() {
  const qmPoolSize = Math.max(0, Math.min(await processorCount(), mostThreads) - 1);
  if (!isNode) return { qmPoolSize };
  const { createRequire } = await import(/* @vite-ignore */ 'node:module');
  const { fileURLToPath } = await import(/* @vite-ignore */ 'node:url');
  return {
    qmPoolSize,
    qmRequire: createRequire(import.meta.url),
    qmDirname: fileURLToPath(new URL('./dist/threads/', import.meta.url)),
  };
}

async function instantiate(build) {
  const [wasm, { default: createQuillmorphModule }] = await Promise.all([compiledModule(build), build.glue()]);
  const threaded = build === builds.threaded;
  const settings = threaded ? await threadSettings() : {};
  const module = await createQuillmorphModule({
    ...settings,
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(wasm, imports).then((instance) => receive(instance, wasm));
      return {};
    },
  });
  module.threads = threaded ? settings.qmPoolSize + 1 : 1;
  if (threaded && isNode) {
    // Its workers wait for work between calls; they must not keep Node
    // from exiting.
    for (const worker of module.PThread.unusedWorkers) worker.unref();
  }
  module._qmjs_statuses();
  return warmUp(module);
}

// The threaded build where threads are possible, the single one where not
// or when the threaded one cannot be loaded.
async function instantiateBest() {
  if (await threadsPossible()) {
    try {
      return await instantiate(builds.threaded);
    } catch {
      // The single-threaded build gives the same bytes.
    }
  }
  return instantiate(builds.single);
}

let instance = null;
function loadModule() {
  if (!instance) {
    const loading = instantiateBest().catch((error) => {
      throw new Error(`quillmorph: the module could not be loaded: ${error.message}`, { cause: error });
    });
    instance = loading;
    // A failed load may be tried again by the next call.
    loading.catch(() => {
      if (instance === loading) instance = null;
    });
  }
  return instance;
}

// Forgets the instance, its threads stopped: the next call makes a new one.
function dropModule(module) {
  module.dropped = true;
  module.PThread?.terminateAllThreads();
  instance = null;
}

// A turn of the event loop: a macrotask, so that timers, messages and
// input are handled, not just promise callbacks.
const nextTurn =
  typeof setImmediate === 'function'
    ? () => new Promise((resolve) => setImmediate(resolve))
    : () =>
        new Promise((resolve) => {
          const channel = new MessageChannel();
          channel.port1.onmessage = () => {
            channel.port1.close();
            resolve();
          };
          channel.port2.postMessage(null);
        });

// The module runs one call at a time: a suspended call holds its stack.
let queue = Promise.resolve();

function enqueue(work) {
  const run = queue.then(work);
  queue = run.catch(() => {});
  return run;
}

/**
 * Doubles the resolution of a width x height grayscale image.
 *
 * @param {Uint8Array | Uint8ClampedArray | Uint16Array} pixels the samples, row by row
 * @param {number} width
 * @param {number} height
 * @param {{maxval?: number, threads?: number, onProgress?: (rowsDone: number, rowsTotal: number) => void, signal?: AbortSignal}} [options]
 *   maxval: the largest value a sample may take (default 255 or 65535)
 * @returns {Promise<Uint8Array | Uint8ClampedArray | Uint16Array>} the 2*width x 2*height image, of the input's kind
 */
export async function upscale(pixels, width, height, options) {
  return upscaleQueued(pixels, width, height, options, { keepModule: false });
}

// keepModule: more calls follow at once (upscaleRGBA's channels), which a
// module grown large is kept for.
async function upscaleQueued(pixels, width, height, options, { keepModule }) {
  // Being async, a throw here rejects the promise.
  const call = checkArguments(pixels, width, height, options);
  if (call.signal?.aborted) throw abortError(call.signal);
  return enqueue(() => upscaleNow(pixels, width, height, { ...call, keepModule }));
}

// The heap bytes a call needs, after the library's own size check: a size
// it refuses throws its RangeError.
function callBytes(module, width, height, bits, threads) {
  const status = module._qm_check_size(width, height);
  if (status !== module.qmStatus.ok) throw statusError(module, status, `a ${width} x ${height} image`);
  const needed = module._qmjs_call_bytes(bits / 8, width, height, threads);
  if (needed < 0) throw statusError(module, module.qmStatus.tooLarge, `a ${width} x ${height} image`);
  return needed;
}

// Throws the RangeError of a call that the library refuses or that would not
// fit the module's memory, with the limit.
function checkSize(module, width, height, bits, threads) {
  const needed = callBytes(module, width, height, bits, threads);
  const room = module._qmjs_heap_room();
  if (needed > room) {
    throw new RangeError(
      `quillmorph: a ${width} x ${height} image of ${bits}-bit samples needs ${bytesText(needed)} of memory, ` +
        `and the module can have ${bytesText(room)} more`,
    );
  }
}

/**
 * What a call on a width x height image takes of the module's memory (its
 * input, output and working memory) and what the module can still have, in
 * bytes: { bytes, available }.  Rejects as upscale() would for a size the
 * library refuses.  options: { bits: 8 or 16, threads }.
 */
export async function memoryFor(width, height, { bits = 8, threads = 0 } = {}) {
  checkSides(width, height);
  if (bits !== 8 && bits !== 16) throw new RangeError(`quillmorph: bits must be 8 or 16, not ${bits}`);
  return enqueue(async () => {
    const module = await loadModule();
    const bytes = callBytes(module, width, height, bits, callThreads(module, threads));
    return { bytes, available: module._qmjs_heap_room() };
  });
}

async function upscaleNow(pixels, width, height, { Kind, bits, maxval, threads, onProgress, signal, keepModule }) {
  if (signal?.aborted) throw abortError(signal);
  // The array may have changed since the call was made: it is read now.
  checkLength('pixels', pixels, width * height, `a ${width} x ${height} image`);
  const module = await loadModule();
  checkSize(module, width, height, bits, callThreads(module, threads));
  const sampleBytes = bits / 8;
  const lrBytes = sampleBytes * width * height;
  const hrBytes = 4 * lrBytes;
  let lr = 0;
  let hr = 0;
  let hookError = null;
  let lastTurn = Date.now();
  module.qmProgress = (rowsDone, rowsTotal) => {
    try {
      onProgress?.(rowsDone, rowsTotal);
    } catch (error) {
      hookError = error;
      return 1;
    }
    if (signal?.aborted) return 1;
    if (Date.now() - lastTurn < millisecondsBetweenYields) return 0;
    return nextTurn().then(() => {
      lastTurn = Date.now();
      return signal?.aborted ? 1 : 0;
    });
  };
  try {
    lr = module._malloc(lrBytes);
    hr = lr && module._malloc(hrBytes);
    if (!lr || !hr) {
      throw new RangeError(
        `quillmorph: a ${width} x ${height} image needs ${bytesText(lrBytes + hrBytes)}, more than the module's memory can hold`,
      );
    }
    heap(module, bits).set(pixels, lr / sampleBytes);
    const status = await callModule(module, () =>
      module.ccall(
        'qmjs_upscale',
        'number',
        ['number', 'number', 'number', 'number', 'number', 'number', 'number'],
        [sampleBytes, lr, width, height, hr, maxval, callThreads(module, threads)],
        { async: true },
      ),
    );
    if (hookError) throw hookError;
    if (status === module.qmStatus.cancelled) throw abortError(signal);
    if (status !== module.qmStatus.ok) throw statusError(module, status, `a ${width} x ${height} image`);
    // The heap may have grown during the call: heap() gives its view now.
    const result = new Kind(4 * pixels.length);
    result.set(heap(module, bits).subarray(hr / sampleBytes, hr / sampleBytes + result.length));
    return result;
  } finally {
    module.qmProgress = null;
    if (!module.dropped) {
      module._free(hr);
      module._free(lr);
      if (!keepModule && module.HEAPU8.length > largestKeptMemory) dropModule(module);
    }
  }
}

// The threads a call runs on: those asked for (0 for all), at most as many
// as the module has.
function callThreads(module, asked) {
  return asked === 0 ? module.threads : Math.min(asked, module.threads);
}

// The module's heap as samples of the given bits (malloc aligns to 8 bytes
// at least).
function heap(module, bits) {
  return bits === 8 ? module.HEAPU8 : module.HEAPU16;
}

// A trap leaves the module unusable: the next call loads it again.
async function callModule(module, call) {
  try {
    return await call();
  } catch (error) {
    dropModule(module);
    throw error;
  }
}

// The error of a status the library gave, with its sentence.
function statusError(module, status, what) {
  const text = `quillmorph: ${what} cannot be upscaled: ${module.UTF8ToString(module._qm_status_string(status))}`;
  const { argument, size, tooLarge, noMemory, sample } = module.qmStatus;
  if ([size, tooLarge, sample, noMemory].includes(status)) return new RangeError(text);
  if (status === argument) return new TypeError(text);
  return new Error(text);
}

/**
 * Doubles the resolution of a width x height RGBA image (a canvas's
 * ImageData.data): grey opaque images in one call, others channel by
 * channel, each as upscale() does it; alpha is upscaled only where it is not
 * 255 everywhere.  onProgress counts the rows of every channel's call.
 *
 * @param {Uint8ClampedArray | Uint8Array} rgba 4 * width * height samples
 * @returns {Promise<Uint8ClampedArray>} the 2*width x 2*height RGBA image
 */
export async function upscaleRGBA(rgba, width, height, options) {
  const { maxval, threads, onProgress, signal } = checkRGBA(rgba, width, height, options);
  const pixels = width * height;
  const gray = isGray(rgba);
  const opaque = isOpaque(rgba);
  // [the channel upscaled, the channels it fills]
  const planes = gray ? [[0, [0, 1, 2]]] : [[0, [0]], [1, [1]], [2, [2]]];
  if (!opaque) planes.push([3, [3]]);
  const result = new Uint8ClampedArray(16 * pixels);
  if (opaque) result.fill(255);
  const plane = new Uint8Array(pixels);
  for (const [index, [channel, fills]] of planes.entries()) {
    for (let i = 0; i < pixels; i++) plane[i] = rgba[4 * i + channel];
    const channelOptions = {
      maxval,
      threads,
      signal,
      onProgress:
        onProgress &&
        ((rowsDone, rowsTotal) => onProgress(index * rowsTotal + rowsDone, planes.length * rowsTotal)),
    };
    const keepModule = index < planes.length - 1;
    const upscaled = await upscaleQueued(plane, width, height, channelOptions, { keepModule });
    for (const c of fills) for (let i = 0; i < upscaled.length; i++) result[4 * i + c] = upscaled[i];
  }
  return result;
}

function isGray(rgba) {
  for (let i = 0; i < rgba.length; i += 4) if (rgba[i] !== rgba[i + 1] || rgba[i] !== rgba[i + 2]) return false;
  return true;
}

function isOpaque(rgba) {
  for (let i = 3; i < rgba.length; i += 4) if (rgba[i] !== 255) return false;
  return true;
}

/** The version of the library inside the module, "major.minor.patch". */
export async function version() {
  const module = await loadModule();
  return module.UTF8ToString(module._qm_version_string());
}

/**
 * The copy of the library's vector code the module runs: "wasm-simd128"
 * (WebAssembly's 128-bit SIMD, two doubles a vector).  Every copy writes
 * the same bytes.
 */
export async function vectorTarget() {
  const module = await loadModule();
  return module.UTF8ToString(module._qm_vector_target());
}

/**
 * The threads a call with threads: 0 runs on: every processor (up to the
 * library's cap) in the module built with threads, 1 in the one without.
 */
export async function threads() {
  const module = await loadModule();
  return module.threads;
}

/**
 * Bytes of the module's heap in use, between calls: what a leak would make
 * grow.
 */
export async function memoryInUse() {
  const module = await loadModule();
  return module._qmjs_heap_in_use();
}

/**
 * Bytes of WebAssembly memory the package holds now: the module's whole
 * memory, which only a new instance gives back (after a call that made it
 * grow past a limit), or 0 while no module is loaded.
 */
export async function memoryHeld() {
  const module = await instance?.catch(() => null);
  return module ? module.HEAPU8.length : 0;
}
