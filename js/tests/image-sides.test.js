// The page reads an image's sides from its header (web/image-sides.js):
// PNG and JPEG files made by netpbm's encoders, baseline and progressive,
// with segments and fill bytes before the frame header, and headers cut
// short.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { imageSides } from '../../web/image-sides.js';
import { pgm, random, randomImage, scratchFolder } from './native.js';

const encoders = ['pnmtopng', 'pnmtojpeg'].map((name) => path.join('/usr/bin', name));
const missing = encoders.find((file) => !fs.existsSync(file));

// An APP1 segment of n bytes and two fill bytes, put after the JPEG's SOI.
const withSegmentFirst = (jpeg, n) =>
  Buffer.concat([jpeg.subarray(0, 2), Buffer.from([0xff, 0xe1, (n + 2) >> 8, (n + 2) & 255]), Buffer.alloc(n, 0x45), Buffer.from([0xff, 0xff]), jpeg.subarray(2)]);

test('the sides of PNG and JPEG files, from their headers', { skip: missing ? `${missing} is not installed (netpbm)` : false }, () => {
  const folder = scratchFolder();
  const input = path.join(folder, 'image.pgm');
  for (const [width, height] of [[3, 3], [97, 61], [1000, 7]]) {
    fs.writeFileSync(input, pgm(randomImage(Uint8Array, width, height, 255, random(width)), width, height));
    const png = execFileSync(encoders[0], [input], { stdio: ['ignore', 'pipe', 'ignore'] });
    const jpeg = execFileSync(encoders[1], [input], { stdio: ['ignore', 'pipe', 'ignore'] });
    const progressive = execFileSync(encoders[1], ['-progressive', input], { stdio: ['ignore', 'pipe', 'ignore'] });
    // [file, format]
    const files = [[png, 'PNG'], [jpeg, 'JPEG'], [progressive, 'JPEG'], [withSegmentFirst(jpeg, 65000), 'JPEG']];
    for (const [index, [file, format]] of files.entries()) {
      assert.deepEqual(imageSides(new Uint8Array(file)), { format, width, height }, `${width} x ${height}, file ${index}`);
    }
    assert.equal(imageSides(new Uint8Array(png.subarray(0, 20))), null);
    assert.equal(imageSides(new Uint8Array(jpeg.subarray(0, 30))), null);
  }
});

test('sides too large to decode are read all the same, and other files give none', () => {
  const png = Buffer.from('89504e470d0a1a0a0000000d49484452000186a0000186a00800000000', 'hex');
  assert.deepEqual(imageSides(new Uint8Array(png)), { format: 'PNG', width: 100000, height: 100000 });
  assert.throws(() => imageSides(new Uint8Array(Buffer.from('P5\r\n4 3\r\n255\r\n'))), /no valid size/);
  assert.deepEqual(imageSides(new Uint8Array(Buffer.from('P5 70000 70000 255\n'))), { format: 'PGM', width: 70000, height: 70000 });
  assert.equal(imageSides(new Uint8Array(Buffer.from('GIF89a....'))), null);
});
