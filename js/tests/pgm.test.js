// The page's PGM reader and writer (web/pgm.js).
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { parsePgm, pgmBlob } from '../../web/pgm.js';

const bytes = (text, ...data) => new Uint8Array([...Buffer.from(text, 'latin1'), ...data]);

test('PGM files of 8 and 16 bits read back as written', async () => {
  for (const [maxval, ArrayKind] of [[255, Uint8Array], [1, Uint8Array], [256, Uint16Array], [65535, Uint16Array]]) {
    const samples = new ArrayKind(12).map((_, i) => (i * 9973) % (maxval + 1));
    const file = new Uint8Array(await pgmBlob(samples, 4, 3, maxval).arrayBuffer());
    assert.deepEqual(parsePgm(file), { width: 4, height: 3, maxval, samples }, `maxval ${maxval}`);
  }
  // Comments anywhere in the header, and 16-bit samples big-endian.
  const commented = parsePgm(bytes('P5 # made by hand\n3 # wide\n 1\n#maxval next\n1000\n', 0, 1, 3, 232, 1, 0));
  assert.deepEqual(commented.samples, new Uint16Array([1, 1000, 256]));
});

test('malformed PGM files are refused with the reason', () => {
  // [file, message pattern]
  const files = [
    [bytes('P2 3 1 255\n1 2 3\n'), /plain text \(P2\)/],
    [bytes('P6 3 1 255\n', 1, 2, 3), /not a PGM file/],
    [bytes('P5 3 x 255\n', 1, 2, 3), /no valid height/],
    [bytes('P5 3 1 70000\n', 1, 2, 3), /maxval, 70000, is not between 1 and 65535/],
    [bytes('P5 0 1 255\n'), /0 x 1 pixels: it holds no image/],
    [bytes('P5 3 2 255\n', 1, 2, 3), /ends before its 6 samples/],
    [bytes('P5 3 1 300\n', 1, 2, 3), /ends before its 3 samples/],
  ];
  for (const [index, [file, message]] of files.entries()) assert.throws(() => parsePgm(file), message, `row ${index}`);
});
