// The checks of upscale()'s arguments, shared by the module's own call and
// the worker wrapper, which checks before it posts anything: every message
// text about a bad argument is here.  The sizes the library takes are its
// own to say: index.js asks it (qm_check_size) when a call runs.

// The sample kinds taken, with their width in bits.  Subclasses (Node's
// Buffer among them) are taken as the kind they extend.
const kinds = [
  [Uint8Array, 8],
  [Uint8ClampedArray, 8],
  [Uint16Array, 16],
];

// Sides are handed to the library as C ints; which sizes it takes is its
// own rule (qm_check_size), asked when the call runs.
const largestInt = 2 ** 31 - 1;

function describe(value) {
  if (value === null) return 'null';
  if (typeof value === 'object') return `a ${value.constructor?.name ?? 'object'}`;
  if (typeof value === 'string') return `the string ${JSON.stringify(value.slice(0, 20))}`;
  return `${typeof value} ${String(value)}`;
}

function checkSide(name, value) {
  if (typeof value !== 'number') {
    throw new TypeError(`quillmorph: ${name} must be a number, not ${describe(value)}`);
  }
  if (!Number.isInteger(value)) {
    throw new RangeError(`quillmorph: ${name} must be a whole number of pixels, not ${value}`);
  }
  if (Math.abs(value) > largestInt) {
    throw new RangeError(`quillmorph: ${name} must be at most ${largestInt} pixels, not ${value}`);
  }
}

/**
 * Checks that an image's sides are whole numbers the library can be asked
 * about; throws a TypeError or RangeError naming the one at fault.
 */
export function checkSides(width, height) {
  checkSide('width', width);
  checkSide('height', height);
}

/** The kind of typed array a pixel array is, and its bits: [Kind, bits], or [] for none taken. */
export function sampleKind(pixels) {
  if (!ArrayBuffer.isView(pixels)) return [];
  return kinds.find(([Kind]) => pixels instanceof Kind) ?? [];
}

/**
 * Checks the options of a call on samples of the given bits and returns
 * { maxval, onProgress, signal, threads }.
 */
export function checkOptions(options, bits) {
  if (options === undefined || options === null) options = {};
  if (typeof options !== 'object') {
    throw new TypeError(`quillmorph: options must be an object, not ${describe(options)}`);
  }
  const largest = 2 ** bits - 1;
  const { maxval = largest, onProgress, signal, threads = 0 } = options;
  if (typeof maxval !== 'number') {
    throw new TypeError(`quillmorph: maxval must be a number, not ${describe(maxval)}`);
  }
  if (!Number.isInteger(maxval) || maxval < 1 || maxval > largest) {
    throw new RangeError(
      `quillmorph: maxval must be a whole number from 1 to ${largest} for ${bits}-bit samples, not ${maxval}`,
    );
  }
  if (onProgress !== undefined && typeof onProgress !== 'function') {
    throw new TypeError(`quillmorph: onProgress must be a function, not ${describe(onProgress)}`);
  }
  if (signal !== undefined && (typeof signal !== 'object' || signal === null || typeof signal.aborted !== 'boolean')) {
    throw new TypeError(`quillmorph: signal must be an AbortSignal, not ${describe(signal)}`);
  }
  if (typeof threads !== 'number') {
    throw new TypeError(`quillmorph: threads must be a number, not ${describe(threads)}`);
  }
  if (!Number.isInteger(threads) || threads < 0 || threads > largestInt) {
    throw new RangeError(`quillmorph: threads must be a whole number, 0 for all, not ${threads}`);
  }
  return { maxval, onProgress, signal, threads };
}

/**
 * Checks upscale()'s arguments and returns what the call needs:
 * { Kind, bits, maxval, onProgress, signal, threads }, Kind the typed array
 * the result is made of.  Throws a TypeError or a RangeError that
 * names the argument at fault.
 */
export function checkArguments(pixels, width, height, options) {
  const [Kind, bits] = sampleKind(pixels);
  if (Kind === undefined) {
    throw new TypeError(
      `quillmorph: pixels must be a Uint8Array, Uint8ClampedArray or Uint16Array, not ${describe(pixels)}`,
    );
  }
  checkSides(width, height);
  checkLength('pixels', pixels, width * height, `a ${width} x ${height} image`);
  return { Kind, bits, ...checkOptions(options, bits) };
}

/**
 * Checks that an array holds the samples it should; called again when a
 * queued call's turn comes, since its buffer may have been transferred
 * (detached, length 0) in between.
 */
export function checkLength(name, array, samples, what) {
  if (array.length !== samples) {
    throw new RangeError(`quillmorph: ${name} holds ${array.length} samples, but ${what} has ${samples}`);
  }
}

/** Checks upscaleRGBA()'s arguments as checkArguments does upscale()'s. */
export function checkRGBA(rgba, width, height, options) {
  if (sampleKind(rgba)[1] !== 8) {
    throw new TypeError(`quillmorph: rgba must be a Uint8ClampedArray or Uint8Array, not ${describe(rgba)}`);
  }
  checkSides(width, height);
  checkLength('rgba', rgba, 4 * width * height, `a ${width} x ${height} RGBA image`);
  return checkOptions(options, 8);
}

/** Checks QuillmorphWorker.upscaleBitmap()'s arguments as checkArguments does upscale()'s. */
export function checkBitmap(bitmap, options) {
  if (typeof ImageBitmap === 'undefined' || !(bitmap instanceof ImageBitmap)) {
    throw new TypeError(`quillmorph: bitmap must be an ImageBitmap, not ${describe(bitmap)}`);
  }
  checkSides(bitmap.width, bitmap.height);
  return checkOptions(options, 8);
}

/** The error a cancelled call rejects with: the signal's reason, or an AbortError. */
export function abortError(signal) {
  if (signal?.reason !== undefined) return signal.reason;
  return new DOMException('quillmorph: the upscale was aborted', 'AbortError');
}

/** Bytes as people read them: "1.5 GB". */
export function bytesText(bytes) {
  const units = ['bytes', 'KB', 'MB', 'GB', 'TB'];
  let unit = 0;
  while (bytes >= 1024 && unit < units.length - 1) {
    bytes /= 1024;
    unit++;
  }
  return `${unit === 0 ? bytes : bytes.toFixed(1)} ${units[unit]}`;
}
