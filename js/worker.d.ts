import type { Pixels, UpscaleOptions } from './index.js';

/**
 * upscale() on a Web Worker of its own (browsers), so that the page's
 * thread never waits.  The pixels are copied to the worker.
 */
export class QuillmorphWorker {
  constructor();
  /** As upscale() of the main module. */
  upscale<T extends Pixels>(pixels: T, width: number, height: number, options?: UpscaleOptions): Promise<Pixels>;
  /** As upscaleRGBA() of the main module. */
  upscaleRGBA(
    rgba: Uint8ClampedArray | Uint8Array,
    width: number,
    height: number,
    options?: UpscaleOptions,
  ): Promise<Uint8ClampedArray>;
  /**
   * Upscales an ImageBitmap as upscaleRGBA() does its pixels, and gives the
   * 2*width x 2*height result as an ImageBitmap; reading the pixels and
   * making the result happen on the worker.  The bitmap is transferred to
   * the worker (closed for the caller).
   */
  upscaleBitmap(bitmap: ImageBitmap, options?: UpscaleOptions): Promise<ImageBitmap>;
  /** The library's version in the worker, once its module has loaded. */
  version(): Promise<string>;
  /** The threads a call with threads: 0 runs on in the worker. */
  threads(): Promise<number>;
  /** As memoryFor() of the main module, in the worker's module. */
  memoryFor(
    width: number,
    height: number,
    options?: { bits?: 8 | 16; threads?: number },
  ): Promise<{ bytes: number; available: number }>;
  /**
   * Stops the worker; calls still waiting reject with an AbortError, calls
   * made after it with an InvalidStateError.  A worker that fails (its
   * script or module does not load) rejects every call with an Error that
   * says so.
   */
  terminate(): void;
}
