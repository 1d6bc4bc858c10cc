// What every call promises: bad arguments rejected with the reason, the
// signal and the progress hook honoured, and no memory kept on any path.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { test } from 'node:test';

import os from 'node:os';

import { memoryInUse, threads, upscale, upscaleRGBA, vectorTarget, version } from '../index.js';
import { random, randomImage } from './native.js';

const image = (width, height) => new Uint8Array(width * height).map((_, i) => (i * 37) & 255);

// [what, arguments, error kind, message pattern]
const badCalls = [
  ['a string of pixels', ['abc', 3, 3], TypeError, /pixels must be a Uint8Array.*not the string "abc"/],
  ['an Int16Array', [new Int16Array(9), 3, 3], TypeError, /pixels must be .* not a Int16Array/],
  ['a Float32Array', [new Float32Array(9), 3, 3], TypeError, /not a Float32Array/],
  ['a plain array', [[1, 2, 3, 4, 5, 6, 7, 8, 9], 3, 3], TypeError, /not a Array/],
  ['no pixels', [undefined, 3, 3], TypeError, /not undefined/],
  ['a short array', [image(3, 3).subarray(1), 3, 3], RangeError, /holds 8 samples, but a 3 x 3 image has 9/],
  ['a long array', [image(4, 4), 3, 5], RangeError, /holds 16 samples, but a 3 x 5 image has 15/],
  ['a string width', [image(3, 3), '3', 3], TypeError, /width must be a number, not the string "3"/],
  ['a fractional height', [image(3, 3), 3, 3.5], RangeError, /height must be a whole number of pixels, not 3.5/],
  ['a negative width', [image(3, 3), -3, -3], RangeError, /a -3 x -3 image cannot be upscaled: .*3 pixels or more/],
  ['a side of 2', [image(2, 5), 2, 5], RangeError, /a 2 x 5 image cannot be upscaled: .*3 pixels or more/],
  ['a side past a C int', [image(3, 3), 3, 2 ** 31], RangeError, /height must be at most 2147483647 pixels/],
  ['a NaN side', [image(3, 3), 3, NaN], RangeError, /height must be a whole number of pixels, not NaN/],
  ['an infinite side', [image(3, 3), Infinity, 3], RangeError, /width must be a whole number of pixels, not Infinity/],
  ['a maxval past 8 bits', [image(3, 3), 3, 3, { maxval: 256 }], RangeError, /maxval must be a whole number from 1 to 255 for 8-bit samples, not 256/],
  ['a maxval of 0', [new Uint16Array(9), 3, 3, { maxval: 0 }], RangeError, /from 1 to 65535 for 16-bit samples, not 0/],
  ['a fractional maxval', [new Uint16Array(9), 3, 3, { maxval: 2.5 }], RangeError, /not 2.5/],
  ['a string maxval', [image(3, 3), 3, 3, { maxval: '255' }], TypeError, /maxval must be a number, not the string "255"/],
  ['a sample above the maxval', [new Uint16Array(9).fill(4096), 3, 3, { maxval: 4095 }], RangeError, /above the maxval/i],
  ['options not an object', [image(3, 3), 3, 3, 'fast'], TypeError, /options must be an object/],
  ['onProgress not a function', [image(3, 3), 3, 3, { onProgress: 1 }], TypeError, /onProgress must be a function/],
  ['signal not a signal', [image(3, 3), 3, 3, { signal: {} }], TypeError, /signal must be an AbortSignal/],
  ['negative threads', [image(3, 3), 3, 3, { threads: -1 }], RangeError, /threads must be a whole number, 0 for all, not -1/],
  ['threads a string', [image(3, 3), 3, 3, { threads: '2' }], TypeError, /threads must be a number/],
];

test('bad arguments reject with the reason', async () => {
  for (const [what, args, kind, message] of badCalls) {
    await assert.rejects(upscale(...args), (error) => {
      assert.ok(error instanceof kind, `${what}: ${error}`);
      assert.match(error.message, message, what);
      return true;
    });
  }
});

test('an abort stops a call in progress, and the next call still works', async () => {
  const pixels = randomImage(Uint8Array, 400, 300, 255, random(7));
  const expected = await upscale(pixels, 400, 300);
  const controller = new AbortController();
  const seen = [];
  const call = upscale(pixels, 400, 300, {
    signal: controller.signal,
    // Aborted from the event loop, while the call waits for its next turn.
    onProgress: (rowsDone, rowsTotal) => {
      seen.push([rowsDone, rowsTotal]);
      if (seen.length === 1) setImmediate(() => controller.abort());
    },
  });
  await assert.rejects(call, { name: 'AbortError' });
  assert.ok(seen.length > 0 && seen.at(-1)[0] < 600, `stopped after ${seen.at(-1)}`);
  assert.deepEqual(await upscale(pixels, 400, 300), expected);
  await assert.rejects(upscale(pixels, 400, 300, { signal: AbortSignal.abort() }), { name: 'AbortError' });
});

test('progress comes in order and ends with every row', async () => {
  const seen = [];
  await upscale(image(40, 30), 40, 30, { onProgress: (done, total) => seen.push([done, total]) });
  assert.deepEqual(seen.at(-1), [60, 60]);
  assert.ok(seen.every(([done], i) => i === 0 || done > seen[i - 1][0]));
});

test('500 calls on every path leave the heap as it was', async () => {
  await upscale(image(8, 8), 8, 8);
  const before = await memoryInUse();
  const failure = new Error('stop here');
  for (let i = 0; i < 500; i++) {
    const pixels = image(8 + (i % 5), 7);
    const width = 8 + (i % 5);
    switch (i % 5) {
      case 0:
        await upscale(pixels, width, 7);
        break;
      case 1: {
        const controller = new AbortController();
        const call = upscale(pixels, width, 7, { signal: controller.signal, onProgress: () => controller.abort() });
        await assert.rejects(call, { name: 'AbortError' });
        break;
      }
      case 2:
        await assert.rejects(upscale(pixels, width, 7, { onProgress: () => { throw failure; } }), failure);
        break;
      case 3:
        await assert.rejects(upscale(pixels, width, 8), RangeError);
        break;
      default:
        await upscale(pixels, width, 7, { onProgress: () => {} });
    }
  }
  assert.equal(await memoryInUse(), before);
});

test('upscaleRGBA upscales grey images once and colour ones channel by channel', async () => {
  const next = random(11);
  const [width, height] = [13, 9];
  const planes = [0, 1, 2, 3].map(() => randomImage(Uint8Array, width, height, 255, next));
  // [what, the channels' planes (R, G, B, A)]
  const images = [
    ['grey, opaque', [planes[0], planes[0], planes[0], new Uint8Array(width * height).fill(255)]],
    ['colour, opaque', [planes[0], planes[1], planes[2], new Uint8Array(width * height).fill(255)]],
    ['grey, translucent', [planes[1], planes[1], planes[1], planes[3]]],
    ['colour, translucent', planes],
  ];
  for (const [what, channels] of images) {
    const rgba = new Uint8ClampedArray(4 * width * height).map((_, i) => channels[i % 4][i >> 2]);
    const result = await upscaleRGBA(rgba, width, height);
    for (const [c, plane] of channels.entries()) {
      const expected = await upscale(plane, width, height);
      assert.deepEqual(result.filter((_, i) => i % 4 === c), new Uint8ClampedArray(expected), `${what}, channel ${c}`);
    }
  }
  await assert.rejects(upscaleRGBA(new Uint8ClampedArray(35), 3, 3), /rgba holds 35 samples, but a 3 x 3 RGBA image has 36/);
});

test("the package and the module carry the project's version", async () => {
  const cmake = fs.readFileSync(new URL('../../CMakeLists.txt', import.meta.url), 'utf8');
  const [, project] = cmake.match(/project\(Quillmorph VERSION (\S+)/);
  const { version: packageVersion } = JSON.parse(fs.readFileSync(new URL('../package.json', import.meta.url)));
  assert.equal(packageVersion, project);
  assert.match(await version(), /^\d+\.\d+\.\d+$/);
  assert.equal(await vectorTarget(), 'wasm-simd128');
});

test('Buffers and other Uint8Array subclasses are taken as Uint8Arrays', async () => {
  class Samples extends Uint8Array {}
  const pixels = randomImage(Uint8Array, 17, 11, 255, random(5));
  const expected = await upscale(pixels, 17, 11);
  for (const input of [Buffer.from(pixels), Samples.from(pixels)]) {
    const result = await upscale(input, 17, 11);
    assert.equal(result.constructor, Uint8Array, input.constructor.name);
    assert.deepEqual(result, expected, input.constructor.name);
  }
  const rgba = Buffer.alloc(4 * 9, 200);
  assert.deepEqual(await upscaleRGBA(rgba, 3, 3), new Uint8ClampedArray(4 * 36).fill(200));
});

test("a queued call reads its array when its turn comes", async () => {
  const next = random(3);
  const [before, after] = [0, 1].map(() => randomImage(Uint8Array, 40, 30, 255, next));
  const running = upscale(randomImage(Uint8Array, 300, 200, 255, next), 300, 200);
  const changed = before.slice();
  const queued = upscale(changed, 40, 30);
  const detached = before.slice();
  const lost = upscale(detached, 40, 30);
  changed.set(after);
  structuredClone(detached.buffer, { transfer: [detached.buffer] });
  await running;
  assert.deepEqual(await queued, await upscale(after, 40, 30));
  await assert.rejects(lost, /pixels holds 0 samples, but a 40 x 30 image has 1200/);
});

test('threads() says what a call runs on: every processor with threads, 1 without', async () => {
  const expected = process.env.QUILLMORPH_WASM === 'single' ? 1 : Math.min(os.availableParallelism(), 256);
  assert.equal(await threads(), expected);
  const pixels = randomImage(Uint8Array, 300, 40, 255, random(9));
  assert.deepEqual(await upscale(pixels, 300, 40, { threads: 1 }), await upscale(pixels, 300, 40));
});

// A process allowed one processor has no room for a helper thread: it gets
// the module without threads, and its calls settle.
const taskset = ['/usr/bin/taskset', '/bin/taskset'].find((path) => fs.existsSync(path));
test('a process on one processor upscales without threads', { skip: !taskset && 'no taskset' }, () => {
  const script = `import { threads, upscale } from ${JSON.stringify(new URL('../index.js', import.meta.url).href)};
    const hr = await upscale(new Uint8Array(9).fill(7), 3, 3);
    console.log(await threads(), hr.length);`;
  const output = execFileSync(taskset, ['-c', '0', process.execPath, '--input-type=module', '-e', script]);
  assert.equal(output.toString().trim(), '1 36');
});
