// QuillmorphWorker: the upscaling calls on a Web Worker of its own, so that
// a page never waits for them.  The same arguments, results and errors as
// upscale() and upscaleRGBA() in index.js; the pixels are copied to the
// worker, the result comes back without a copy.  upscaleBitmap() takes and
// gives ImageBitmaps, for pages that draw.
import { abortError, checkArguments, checkBitmap, checkRGBA, checkSides } from './checks.js';

const errorKinds = { TypeError, RangeError };

export class QuillmorphWorker {
  #worker;
  #calls = new Map(); // call id -> { resolve, reject, onProgress, signal, onAbort }
  #nextId = 1;
  #gone = null; // once the worker is terminated or broken: why, for every call after

  constructor() {
    this.#worker = new Worker(new URL('./worker-thread.js', import.meta.url), { type: 'module' });
    this.#worker.onmessage = ({ data }) => this.#receive(data);
    this.#worker.onerror = (event) => {
      event.preventDefault?.();
      const why = `quillmorph: the worker failed: ${event.message ?? 'its script or module did not load'}`;
      this.#end(new Error(why), new Error(why));
    };
  }

  /** The library's version in the worker, once its module is loaded: "major.minor.patch". */
  version() {
    return this.#call({ type: 'version' }, {});
  }

  /** The threads a call with threads: 0 runs on in the worker. */
  threads() {
    return this.#call({ type: 'threads' }, {});
  }

  /** As memoryFor() of the package's main module, in the worker. */
  async memoryFor(width, height, options) {
    checkSides(width, height);
    return this.#call({ type: 'memoryFor', width, height, options: { ...options } }, {});
  }

  /** As upscale() of the package's main module, on the worker's thread. */
  upscale(pixels, width, height, options) {
    return this.#upscale('upscale', checkArguments, pixels, width, height, options);
  }

  /** As upscaleRGBA() of the package's main module, on the worker's thread. */
  upscaleRGBA(rgba, width, height, options) {
    return this.#upscale('upscaleRGBA', checkRGBA, rgba, width, height, options);
  }

  /**
   * Upscales an ImageBitmap as upscaleRGBA() does its pixels, and gives the
   * result as an ImageBitmap: decoding (createImageBitmap), reading the
   * pixels and making the result all happen off the page's thread, so a page
   * only draws.  The caller keeps its bitmap (a copy is sent).
   */
  upscaleBitmap(bitmap, options) {
    const check = (image, width, height, checkedOptions) => checkBitmap(image, checkedOptions);
    return this.#upscale('upscaleBitmap', check, bitmap, bitmap?.width, bitmap?.height, options, [bitmap]);
  }

  /**
   * Stops the worker; calls still waiting reject with an AbortError, and
   * calls made after with an InvalidStateError.
   */
  terminate() {
    this.#worker.terminate();
    this.#end(
      new DOMException('quillmorph: the worker was terminated', 'AbortError'),
      new DOMException('quillmorph: the worker was terminated: make a new QuillmorphWorker', 'InvalidStateError'),
    );
  }

  // Checked here, so that nothing the worker cannot take is posted; being
  // async, a throw rejects the promise.
  async #upscale(type, check, pixels, width, height, options, transfer = []) {
    const checked = check(pixels, width, height, options);
    if (checked.signal?.aborted) throw abortError(checked.signal);
    const { maxval, threads } = checked;
    return this.#call({ type, pixels, width, height, maxval, threads }, checked, transfer);
  }

  #call(message, { onProgress, signal }, transfer = []) {
    if (this.#gone) return Promise.reject(this.#gone);
    return new Promise((resolve, reject) => {
      const id = this.#nextId++;
      const onAbort = () => this.#worker.postMessage({ id, type: 'abort' });
      signal?.addEventListener('abort', onAbort, { once: true });
      this.#calls.set(id, { resolve, reject, onProgress, signal, onAbort });
      this.#worker.postMessage({ ...message, id }, transfer);
    });
  }

  #finish(id) {
    const call = this.#calls.get(id);
    if (!call) return null;
    this.#calls.delete(id);
    call.signal?.removeEventListener('abort', call.onAbort);
    return call;
  }

  #receive({ id, type, result, rowsDone, rowsTotal, name, message }) {
    if (type === 'progress') {
      try {
        this.#calls.get(id)?.onProgress?.(rowsDone, rowsTotal);
      } catch (error) {
        // As in upscale(): a throwing onProgress stops the call with its error.
        this.#worker.postMessage({ id, type: 'abort' });
        this.#finish(id).reject(error);
      }
      return;
    }
    const call = this.#finish(id);
    if (!call) return;
    if (type === 'result') call.resolve(result);
    else if (name === 'AbortError') call.reject(abortError(call.signal));
    else call.reject(new (errorKinds[name] ?? Error)(message));
  }

  // Rejects the calls waiting with `waiting`, and every later one with `later`.
  #end(waiting, later) {
    this.#gone ??= later;
    for (const id of [...this.#calls.keys()]) this.#finish(id).reject(waiting);
  }
}
