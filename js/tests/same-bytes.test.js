// The module writes the native library's samples: the chart and random
// images of every size class, 8- and 16-bit, compared with the native
// build's tool (8-bit) and with upscale_raw (any maxval, 16-bit).
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { upscale } from '../index.js';
import {
  chart,
  nativeMissing,
  nativeUpscale,
  nativeUpscaleRaw,
  random,
  randomImage,
  scratchFolder,
} from './native.js';

const missing = nativeMissing() ?? false;

// width x height: the smallest, thin ones, odd ones, a few hundred pixels.
const sizes = [
  [3, 3], [3, 4], [4, 3], [3, 17], [17, 3], [3, 64], [64, 3], [4, 4], [5, 7], [7, 5],
  [8, 8], [9, 9], [11, 6], [13, 21], [16, 15], [23, 31], [33, 33], [64, 9], [100, 37], [127, 129],
  [256, 5], [301, 211],
];

test('the chart upscales to the native bytes', { skip: missing }, async () => {
  const folder = scratchFolder();
  const { width, height, pixels } = chart(folder, 256);
  const result = await upscale(pixels, width, height);
  assert.ok(Buffer.from(result).equals(Buffer.from(nativeUpscale(folder, pixels, width, height))));
});

test("random 8-bit images upscale to the tool's bytes", { skip: missing }, async () => {
  const folder = scratchFolder();
  const next = random(20240611);
  for (const [index, [width, height]] of sizes.entries()) {
    const pixels = randomImage(index % 2 ? Uint8ClampedArray : Uint8Array, width, height, 255, next);
    const result = await upscale(pixels, width, height);
    assert.equal(result.constructor, pixels.constructor);
    const expected = nativeUpscale(folder, pixels, width, height);
    assert.ok(Buffer.from(result.buffer).equals(Buffer.from(expected)), `${width} x ${height} (row ${index})`);
  }
});

test("random images of any maxval, 8- and 16-bit, upscale to the library's samples", { skip: missing }, async () => {
  const folder = scratchFolder();
  const next = random(4095);
  // [the array kind, maxvals]: the largest, the smallest, and some between.
  const depths = [
    [Uint8Array, [255, 1, 200]],
    [Uint16Array, [65535, 1, 255, 1023, 4095, 40000]],
  ];
  for (const [ArrayKind, maxvals] of depths) {
    for (const [index, [width, height]] of sizes.entries()) {
      const maxval = maxvals[index % maxvals.length];
      const pixels = randomImage(ArrayKind, width, height, maxval, next);
      const result = await upscale(pixels, width, height, { maxval });
      assert.equal(result.constructor, ArrayKind);
      const expected = nativeUpscaleRaw(folder, pixels, width, height, maxval);
      assert.deepEqual(result, expected, `${ArrayKind.name} ${width} x ${height}, maxval ${maxval} (row ${index})`);
    }
  }
});
