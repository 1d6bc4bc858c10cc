// The worker's side of QuillmorphWorker (worker.js): runs upscale() on the
// worker's thread and answers each call by its id.  A call in progress
// yields to the worker's event loop every few dozen milliseconds, which is
// when an abort message gets through.
import { upscale, upscaleRGBA, version } from './index.js';

const upscalers = { upscale, upscaleRGBA };

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
  if (type === 'version') {
    version().then((text) => self.postMessage({ id, type: 'result', result: text }), (error) => answer(id, error));
    return;
  }
  const upscaler = upscalers[type];
  if (!upscaler) return;
  const controller = new AbortController();
  running.set(id, controller);
  try {
    const result = await upscaler(data.pixels, data.width, data.height, {
      maxval: data.maxval,
      signal: controller.signal,
      onProgress: (rowsDone, rowsTotal) => self.postMessage({ id, type: 'progress', rowsDone, rowsTotal }),
    });
    self.postMessage({ id, type: 'result', result }, [result.buffer]);
  } catch (error) {
    answer(id, error);
  } finally {
    running.delete(id);
  }
};
