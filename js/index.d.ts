/** Samples of 8 or 16 bits; the result is of the same kind. */
export type Pixels = Uint8Array | Uint8ClampedArray | Uint16Array;

export interface UpscaleOptions {
  /**
   * The largest value a sample may take, 1 to 255 for 8-bit samples and to
   * 65535 for 16-bit ones (the default): 4095 for a 12-bit camera, say.  A
   * sample above it rejects the call with a RangeError.
   */
  maxval?: number;
  /**
   * Called every few output rows, and once at the end, with the rows of the
   * 2*height output done so far and in all.  A throw stops the call, which
   * rejects with what was thrown.
   */
  onProgress?: (rowsDone: number, rowsTotal: number) => void;
  /** Cancels the call: it rejects with the signal's reason (an AbortError). */
  signal?: AbortSignal;
  /**
   * Threads to run on, the calling one among them: 0 (the default) for all
   * the module has.  The module without threads runs on 1 whatever is asked.
   */
  threads?: number;
}

/**
 * Doubles the resolution of a width x height grayscale image, given row by
 * row: the result is the 2*width x 2*height image, row by row, of the same
 * array kind (a subclass such as Node's Buffer gives the kind it extends),
 * the same samples as the native library gives (qm_upscale for 8 bits,
 * qm_upscale16 for 16).  Sides must be whole numbers that the library takes
 * (at least 3 pixels, and memory for the width), and pixels.length must be
 * width * height, when the call is made and again when its turn comes:
 * otherwise the promise rejects with a TypeError or a RangeError that says
 * what is wrong.  Calls run one at a time.
 */
export function upscale(pixels: Uint16Array, width: number, height: number, options?: UpscaleOptions): Promise<Uint16Array>;
export function upscale(
  pixels: Uint8ClampedArray,
  width: number,
  height: number,
  options?: UpscaleOptions,
): Promise<Uint8ClampedArray>;
export function upscale(pixels: Uint8Array, width: number, height: number, options?: UpscaleOptions): Promise<Uint8Array>;

/**
 * What a call on a width x height image of `bits`-bit samples (8, the
 * default, or 16) takes of the module's memory, its input, output and
 * working memory, and what the module can still have, in bytes: upscale()
 * refuses a call whose bytes exceed what is available.  Rejects with a
 * RangeError, as upscale() would, for a size the library refuses whatever
 * the memory.
 */
export function memoryFor(
  width: number,
  height: number,
  options?: { bits?: 8 | 16; threads?: number },
): Promise<{ bytes: number; available: number }>;

/** The threads a call with threads: 0 runs on. */
export function threads(): Promise<number>;

/** The version of the library in the module: "major.minor.patch". */
export function version(): Promise<string>;
/** The copy of the library's vector code the module runs: "wasm-simd128". */
export function vectorTarget(): Promise<string>;

/** Bytes of the module's heap allocated between calls (for leak checks). */
export function memoryInUse(): Promise<number>;

/**
 * Bytes of WebAssembly memory the package holds: the module's whole memory,
 * which never shrinks, so a module that grew past 64 MB in a call is
 * dropped after it, and the next call makes a new one; 0 while none is
 * loaded.
 */
export function memoryHeld(): Promise<number>;

/**
 * Doubles the resolution of a width x height RGBA image (ImageData.data):
 * grey opaque images in one call, others channel by channel, alpha only
 * where it is not 255 everywhere.  onProgress counts the rows of every
 * channel's call.
 */
export function upscaleRGBA(
  rgba: Uint8ClampedArray | Uint8Array,
  width: number,
  height: number,
  options?: UpscaleOptions,
): Promise<Uint8ClampedArray>;
