// QuillmorphWorker: the upscaling calls on a Web Worker of its own, so that
// a page never waits for them.  The same arguments, results and errors as
// upscale() and upscaleRGBA() in index.js; the pixels are copied to the
// worker, the result comes back without a copy.  upscaleBitmap() takes and
// gives ImageBitmaps, for pages that draw.
import { abortError, checkArguments, checkBitmap, checkRGBA } from './checks.js';

const errorKinds = { TypeError, RangeError };

export class QuillmorphWorker {
  #worker;
  #calls = new Map(); // call id -> { resolve, reject, onProgress, signal, onAbort }
  #nextId = 1;

  constructor() {
    this.#worker = new Worker(new URL('./worker-thread.js', import.meta.url), { type: 'module' });
    this.#worker.onmessage = ({ data }) => this.#receive(data);
    this.#worker.onerror = (event) => {
      event.preventDefault?.();
      this.#failAll(new Error(`quillmorph: the worker failed: ${event.message ?? 'its module did not load'}`));
    };
  }

  /** The library's version in the worker, once its module is loaded: "major.minor.patch". */
  version() {
    return this.#call({ type: 'version' }, {});
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

  /** Stops the worker; calls still waiting reject with an AbortError. */
  terminate() {
    this.#worker.terminate();
    this.#failAll(new DOMException('quillmorph: the worker was terminated', 'AbortError'));
  }

  // Checked here, so that nothing the worker cannot take is posted; being
  // async, a throw rejects the promise.
  async #upscale(type, check, pixels, width, height, options, transfer = []) {
    const checked = check(pixels, width, height, options);
    if (checked.signal?.aborted) throw abortError(checked.signal);
    return this.#call({ type, pixels, width, height, maxval: checked.maxval }, checked, transfer);
  }

  #call(message, { onProgress, signal }, transfer = []) {
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

  #failAll(error) {
    for (const id of [...this.#calls.keys()]) this.#finish(id).reject(error);
  }
}
