// The checks of upscale()'s arguments, shared by the module's own call and
// the worker wrapper, which checks before it posts anything: every message
// text about a bad argument is here.

// The sample kinds taken, with their width in bits.
const kinds = new Map([
  [Uint8Array, 8],
  [Uint8ClampedArray, 8],
  [Uint16Array, 16],
]);

// The library's own limit: twice a side must fit a C int.
const largestSide = 0x3fffffff;
const smallestSide = 3;

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
  if (value < smallestSide) {
    throw new RangeError(`quillmorph: ${name} must be at least ${smallestSide} pixels, not ${value}`);
  }
  if (value > largestSide) {
    throw new RangeError(`quillmorph: ${name} must be at most ${largestSide} pixels, not ${value}`);
  }
}

/** Checks an image's sides; throws a TypeError or RangeError naming the one at fault. */
export function checkSides(width, height) {
  checkSide('width', width);
  checkSide('height', height);
}

/**
 * Checks the options of a call on samples of the given bits and returns
 * { maxval, onProgress, signal }.
 */
export function checkOptions(options, bits) {
  if (options === undefined || options === null) options = {};
  if (typeof options !== 'object') {
    throw new TypeError(`quillmorph: options must be an object, not ${describe(options)}`);
  }
  const largest = 2 ** bits - 1;
  const { maxval = largest, onProgress, signal } = options;
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
  return { maxval, onProgress, signal };
}

/**
 * Checks upscale()'s arguments and returns what the call needs:
 * { bits, maxval, onProgress, signal }.  Throws a TypeError or a RangeError that
 * names the argument at fault.
 */
export function checkArguments(pixels, width, height, options) {
  const bits = kinds.get(pixels?.constructor);
  if (bits === undefined || !ArrayBuffer.isView(pixels)) {
    throw new TypeError(
      `quillmorph: pixels must be a Uint8Array, Uint8ClampedArray or Uint16Array, not ${describe(pixels)}`,
    );
  }
  checkSides(width, height);
  if (pixels.length !== width * height) {
    throw new RangeError(
      `quillmorph: pixels holds ${pixels.length} samples, but a ${width} x ${height} image has ${width * height}`,
    );
  }
  return { bits, ...checkOptions(options, bits) };
}

/** Checks upscaleRGBA()'s arguments as checkArguments does upscale()'s. */
export function checkRGBA(rgba, width, height, options) {
  if (!(rgba instanceof Uint8ClampedArray || rgba instanceof Uint8Array)) {
    throw new TypeError(`quillmorph: rgba must be a Uint8ClampedArray or Uint8Array, not ${describe(rgba)}`);
  }
  checkSides(width, height);
  if (rgba.length !== 4 * width * height) {
    throw new RangeError(
      `quillmorph: rgba holds ${rgba.length} samples, but a ${width} x ${height} RGBA image has ${4 * width * height}`,
    );
  }
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
