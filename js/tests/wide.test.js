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
  // [width, height, bits]: needing more than the module's 2 GB
  for (const [width, height, bits] of [[100_000, 100_000, 8], [20_000, 20_000, 16]]) {
    const needs = await memoryFor(width, height, { bits });
    assert.ok(needs.bytes > 5 * width * height * (bits / 8) && needs.available < 2 ** 31, `${width} x ${height}`);
  }
  // Wider than the rings a 32-bit address space holds: the library's own limit.
  await assert.rejects(memoryFor(1_000_000, 1000), /a 1000000 x 1000 image cannot be upscaled: The image is too large to process/);
  await assert.rejects(upscale(new Uint8Array(0), 1_000_000, 0), /a 1000000 x 0 image cannot be upscaled: .*3 pixels or more/);
});
