// QuillmorphWorker's promises against a worker that never answers (Node has
// no Web Worker; the page's test runs the real one): every call settles,
// whether the worker is terminated or fails to load, before the call or
// after it.
import assert from 'node:assert/strict';
import { test } from 'node:test';

class SilentWorker {
  static last = null;
  constructor() {
    SilentWorker.last = this;
  }
  postMessage() {}
  terminate() {}
}
globalThis.Worker = SilentWorker;
const { QuillmorphWorker } = await import('../worker.js');

const calls = (worker) => [
  worker.upscale(new Uint8Array(9), 3, 3),
  worker.upscaleRGBA(Buffer.alloc(36), 3, 3),
  worker.version(),
  worker.threads(),
  worker.memoryFor(3, 3),
];

test('after terminate() every call rejects, those waiting and those made after', async () => {
  const worker = new QuillmorphWorker();
  const waiting = calls(worker);
  worker.terminate();
  for (const call of waiting) await assert.rejects(call, { name: 'AbortError', message: /worker was terminated/ });
  for (const call of calls(worker)) {
    await assert.rejects(call, { name: 'InvalidStateError', message: /terminated: make a new QuillmorphWorker/ });
  }
});

test('a worker that fails to load rejects every call with the reason', async () => {
  const worker = new QuillmorphWorker();
  const waiting = calls(worker);
  SilentWorker.last.onerror({ message: 'SyntaxError in worker-thread.js' });
  for (const call of [...waiting, ...calls(worker)]) {
    await assert.rejects(call, /the worker failed: SyntaxError in worker-thread\.js/);
  }
});
