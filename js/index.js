// quillmorph: doubles the resolution of grayscale images, in WebAssembly,
// to the same bytes as the native library.
//
// The module (dist/, built from the library's C++ by Emscripten) runs one
// call at a time on the calling thread.  Its progress hook comes back here
// every few rows: to report, to see whether the signal has fired, and now
// and then to let the event loop run (the call is suspended meanwhile), so
// that a long call neither freezes its thread nor misses an abort.
import createQuillmorphModule from './dist/quillmorph_wasm.js';
import { abortError, checkArguments, checkRGBA } from './checks.js';

const wasmUrl = new URL('./dist/quillmorph_wasm.wasm', import.meta.url);

// How long a call runs between two turns of the event loop.
const millisecondsBetweenYields = 25;

// Status codes of the C API (include/quillmorph.h).
const QM_OK = 0;
const QM_ERROR_ARGUMENT = -1;
const QM_ERROR_SIZE = -2;
const QM_ERROR_TOO_LARGE = -3;
const QM_ERROR_NO_MEMORY = -4;
const QM_ERROR_CANCELLED = -7;
const QM_ERROR_SAMPLE = -8;

async function wasmBytes() {
  if (wasmUrl.protocol === 'file:') {
    // Node: the .wasm beside this file.  (Emscripten's own loader would
    // fetch it by URL, which Node's fetch does not do for files.)
    const fs = 'node:fs/promises';
    const { readFile } = await import(/* @vite-ignore */ fs);
    return readFile(wasmUrl);
  }
  const response = await fetch(wasmUrl);
  if (!response.ok) throw new Error(`quillmorph: ${wasmUrl} could not be loaded: HTTP ${response.status}`);
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
    module._qmjs_upscale(1, lr, warmUpSide, warmUpSide, hr, 255);
    module.qmProgress = null;
  }
  module._free(hr);
  module._free(lr);
  return module;
}

let instance = null;
async function loadModule() {
  if (!instance) {
    instance = wasmBytes().then(async (wasmBinary) => warmUp(await createQuillmorphModule({ wasmBinary })));
    // A failed load may be tried again by the next call.
    instance.catch(() => {
      instance = null;
    });
  }
  return instance;
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

/**
 * Doubles the resolution of a width x height grayscale image.
 *
 * @param {Uint8Array | Uint8ClampedArray | Uint16Array} pixels the samples, row by row
 * @param {number} width
 * @param {number} height
 * @param {{maxval?: number, onProgress?: (rowsDone: number, rowsTotal: number) => void, signal?: AbortSignal}} [options]
 *   maxval: the largest value a sample may take (default 255 or 65535)
 * @returns {Promise<Uint8Array | Uint8ClampedArray | Uint16Array>} the 2*width x 2*height image, of the input's kind
 */
export async function upscale(pixels, width, height, options) {
  // Being async, a throw here rejects the promise.
  const call = checkArguments(pixels, width, height, options);
  if (call.signal?.aborted) throw abortError(call.signal);
  const run = queue.then(() => upscaleNow(pixels, width, height, call));
  queue = run.catch(() => {});
  return run;
}

async function upscaleNow(pixels, width, height, { bits, maxval, onProgress, signal }) {
  if (signal?.aborted) throw abortError(signal);
  const module = await loadModule();
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
        `quillmorph: a ${width} x ${height} image needs ${lrBytes + hrBytes} bytes, more than the module's memory can hold`,
      );
    }
    heap(module, bits).set(pixels, lr / sampleBytes);
    const status = await callModule(module, () =>
      module.ccall(
        'qmjs_upscale',
        'number',
        ['number', 'number', 'number', 'number', 'number', 'number'],
        [sampleBytes, lr, width, height, hr, maxval],
        { async: true },
      ),
    );
    if (hookError) throw hookError;
    if (status === QM_ERROR_CANCELLED) throw abortError(signal);
    if (status !== QM_OK) throw statusError(module, status);
    // The heap may have grown during the call: heap() gives its view now.
    const result = new pixels.constructor(4 * pixels.length);
    result.set(heap(module, bits).subarray(hr / sampleBytes, hr / sampleBytes + result.length));
    return result;
  } finally {
    if (instance) {
      module._free(hr);
      module._free(lr);
    }
    module.qmProgress = null;
  }
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
    instance = null;
    throw error;
  }
}

function statusError(module, status) {
  const text = `quillmorph: ${module.UTF8ToString(module._qm_status_string(status))}`;
  switch (status) {
    case QM_ERROR_SIZE:
    case QM_ERROR_TOO_LARGE:
    case QM_ERROR_SAMPLE:
    case QM_ERROR_NO_MEMORY:
      return new RangeError(text);
    case QM_ERROR_ARGUMENT:
      return new TypeError(text);
    default:
      return new Error(text);
  }
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
  const { maxval, onProgress, signal } = checkRGBA(rgba, width, height, options);
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
    const upscaled = await upscale(plane, width, height, {
      maxval,
      signal,
      onProgress:
        onProgress &&
        ((rowsDone, rowsTotal) => onProgress(index * rowsTotal + rowsDone, planes.length * rowsTotal)),
    });
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
 * Bytes of the module's heap in use, between calls: what a leak would make
 * grow.
 */
export async function memoryInUse() {
  const module = await loadModule();
  return module._qmjs_heap_in_use();
}
