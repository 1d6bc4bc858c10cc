// Images as wide as phones take them: the module is a 32-bit build, whose
// rings the engine sizes for the layout it runs, so any width whose memory
// fits is taken, to the native library's bytes; what does not fit is
// refused by the library's own limits, before anything is allocated.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { memoryFor, memoryHeld, upscale } from '../index.js';
import { nativeMissing, nativeUpscaleRaw, random, randomImage, scratchFolder } from './native.js';

const missing = nativeMissing() ?? false;

test('wide images upscale to the native bytes, and their memory goes back', { skip: missing, timeout: 600000 }, async () => {
  const folder = scratchFolder();
  const next = random(7000);
  // [width, height]: a photograph wider than the old 6,551-pixel bound, and a thin strip.
  for (const [width, height] of [[7000, 3000], [20000, 6]]) {
    const pixels = randomImage(Uint8Array, width, height, 255, next);
    const result = await upscale(pixels, width, height);
    const expected = nativeUpscaleRaw(folder, pixels, width, height, 255);
    assert.ok(Buffer.from(result.buffer).equals(Buffer.from(expected.buffer)), `${width} x ${height}`);
  }
  assert.ok((await memoryHeld()) <= 64 * 2 ** 20, `${await memoryHeld()} bytes held after the large calls`);
});

test('sizes beyond the memory are refused with the limit, before any allocation', async () => {
  const { bytes, available } = await memoryFor(7000, 3000);
  assert.ok(bytes > 5 * 7000 * 3000 && bytes < available, `${bytes} of ${available}`);
  // [width, height, bits, message pattern]
  const refused = [
    [1_000_000, 1000, 8, /a 1000000 x 1000 image cannot be upscaled: The image is too large to process/],
    [100_000, 100_000, 8, /a 100000 x 100000 image of 8-bit samples needs 46\.\d GB of memory, and the module can have .* more/],
    [20_000, 20_000, 16, /needs 3\.\d GB of memory/],
  ];
  for (const [width, height, bits, message] of refused) {
    await assert.rejects(memoryFor(width, height, { bits }), message, `${width} x ${height}`);
  }
});
