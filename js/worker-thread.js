// The worker's side of QuillmorphWorker (worker.js): runs the upscaling
// calls on the worker's thread and answers each by its id.  A call in progress
// yields to the worker's event loop every few dozen milliseconds, which is
// when an abort message gets through.
import { memoryFor, threads, upscale, upscaleRGBA, version } from './index.js';

// An ImageBitmap's pixels, upscaled as upscaleRGBA does it, as an
// ImageBitmap: the page that sent it draws it without touching a pixel.
async function upscaleBitmap(bitmap, width, height, options) {
  const context = new OffscreenCanvas(width, height).getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  const rgba = context.getImageData(0, 0, width, height).data;
  const result = await upscaleRGBA(rgba, width, height, options);
  return createImageBitmap(new ImageData(result, 2 * width, 2 * height));
}

const upscalers = { upscale, upscaleRGBA, upscaleBitmap };
const queries = {
  version: () => version(),
  threads: () => threads(),
  memoryFor: ({ width, height, options }) => memoryFor(width, height, options),
};

const running = new Map(); // call id -> AbortController

function answer(id, error) {
  self.postMessage({
    id,
    type: 'error',
    name: typeof error?.name === 'string' ? error.name : 'Error',
    message: typeof error?.message === 'string' ? error.message : String(error),
  });
}

self.onmessage = async ({ data }) => {
  const { id, type } = data;
  if (type === 'abort') {
    running.get(id)?.abort();
    return;
  }
  const query = queries[type];
  if (query) {
    query(data).then((result) => self.postMessage({ id, type: 'result', result }), (error) => answer(id, error));
    return;
  }
  const upscaler = upscalers[type];
  if (!upscaler) return;
  const controller = new AbortController();
  running.set(id, controller);
  try {
    const result = await upscaler(data.pixels, data.width, data.height, {
      maxval: data.maxval,
      threads: data.threads,
      signal: controller.signal,
      onProgress: (rowsDone, rowsTotal) => self.postMessage({ id, type: 'progress', rowsDone, rowsTotal }),
    });
    self.postMessage({ id, type: 'result', result }, [result instanceof ImageBitmap ? result : result.buffer]);
  } catch (error) {
    answer(id, error);
  } finally {
    running.delete(id);
  }
};
