// The page's PGM reader and writer (web/pgm.js): the tool's header cases
// (tests/pgm_test.cpp) and a few more read as the tool reads them, checked
// against the tool itself where a native build is there.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { parsePgm, pgmBlob, readPgmHeader } from '../../web/pgm.js';
import { nativeMissing, nativeUpscale, scratchFolder } from './native.js';

const bytes = (text, ...data) => new Uint8Array([...Buffer.from(text, 'latin1'), ...data]);
const longComment = `#${'7'.repeat(600)} 99 99 255\n`;

// [name, header, [width, height, maxval, kind]] or [name, header, null] for
// a header the tool refuses.  The samples follow the header.
const headers = [
  ['five-line header', 'P5\n# made by hand\n512 384\n# depth\n255\n', [512, 384, 255, 'gray']],
  ['one-line header', 'P5 512 384 255\n', [512, 384, 255, 'gray']],
  ['comment before magic', '# first\nP5\n4 3\n255\n', [4, 3, 255, 'gray']],
  ['P6 kind', 'P6\n4 3\n255\n', [4, 3, 255, 'colour']],
  ['P7 kind', 'P7 4 3 255\n', [4, 3, 255, 'pam']],
  ['maxval 15 parses', 'P5\n4 3\n15\n', [4, 3, 15, 'gray']],
  ['size and maxval on one line', 'P5\n512 384 255\n', [512, 384, 255, 'gray']],
  ['long comment skipped whole', `P5\n${longComment}8 6\n255\n`, [8, 6, 255, 'gray']],
  ['long comment before magic', `${longComment}P5 8 6 255\n`, [8, 6, 255, 'gray']],
  ['magic P2', 'P2\n4 3\n255\n', null],
  ['lower-case magic', 'p5\n4 3\n255\n', null],
  ['CR LF magic line', 'P5\r\n4 3\r\n255\r\n', null],
  ['size line with one number', 'P5\n512\n255\n', null],
  ['maxval not a number', 'P5\n4 3\nabc\n', null],
  ['one-line header missing maxval', 'P5 4 3\n', null],
  ['width beyond int', 'P5\n99999999999 3\n255\n', null],
  ['maxval beyond int', 'P5\n4 3\n99999999999\n', null],
  ['negative height beyond int', 'P5 4 -99999999999 255\n', null],
  ['empty file', '', null],
  ['comments only', '# a\n# b\n', null],
  ['ends after magic', 'P5\n', null],
  ['ends after size line', 'P5\n4 3\n', null],
  ['ends in a comment', 'P5\n4 3\n# depth follows\n', null],
  // Beyond the tool's table: what ends the maxval line is all skipped.
  ['CR LF after the maxval', 'P5\n5 4\n255\r\n', [5, 4, 255, 'gray']],
  ['CR LF after a one-line header', 'P5 5 4 255\r\n', [5, 4, 255, 'gray']],
  ['spaces after the maxval', 'P5\n5 4\n255  \n', [5, 4, 255, 'gray']],
  ['tabs between the numbers', 'P5\t5\t4\t255\n', [5, 4, 255, 'gray']],
  ['a comment after the magic on its line', 'P5 # by hand\n5 4\n255\n', null],
  ['16-bit, CR LF', 'P5\n5 4\n65535\r\n', [5, 4, 65535, 'gray']],
];

// Samples that tell an offset by one apart: each byte its own index.
function samplesAfter(header, count) {
  const samples = new Uint8Array(count).map((_, i) => (i * 7 + 1) & 255);
  return new Uint8Array(Buffer.concat([Buffer.from(header, 'latin1'), samples]));
}

test("headers read as the tool reads them, the samples from the byte it would read next", () => {
  for (const [index, [name, header, expected]] of headers.entries()) {
    const file = samplesAfter(header, 16);
    if (expected === null) {
      assert.throws(() => readPgmHeader(file), Error, `row ${index}: ${name}`);
      continue;
    }
    const { width, height, maxval, kind, samplesAt } = readPgmHeader(file);
    assert.deepEqual([width, height, maxval, kind], expected, `row ${index}: ${name}`);
    assert.equal(samplesAt, Buffer.byteLength(header, 'latin1'), `row ${index}: ${name}`);
  }
});

test("the tool takes the 8-bit headers the page takes, and reads the same samples", { skip: nativeMissing() ?? false }, () => {
  const folder = scratchFolder();
  const tool = path.join(process.env.QUILLMORPH_NATIVE_BUILD, 'Quillmorph');
  for (const [index, [name, header, expected]] of headers.entries()) {
    const size = expected ? Math.max(1, expected[0] * expected[1]) : 16;
    const file = samplesAfter(header, size);
    const input = path.join(folder, 'header-case.pgm');
    const output = path.join(folder, 'header-case-x2.pgm');
    fs.writeFileSync(input, file);
    let taken = true;
    try {
      execFileSync(tool, [input, output], { stdio: 'ignore' });
    } catch {
      taken = false;
    }
    const pageTakes = expected !== null && expected[2] === 255 && expected[3] === 'gray';
    assert.equal(taken, pageTakes, `row ${index}: ${name}`);
    if (!taken) continue;
    const { width, height, samples } = parsePgm(file);
    assert.ok(fs.readFileSync(output).subarray(-4 * width * height).equals(Buffer.from(nativeUpscale(folder, samples, width, height))), `row ${index}: ${name}`);
  }
});

test('PGM files of 8 and 16 bits read back as written', async () => {
  for (const [maxval, ArrayKind] of [[255, Uint8Array], [1, Uint8Array], [256, Uint16Array], [65535, Uint16Array]]) {
    const samples = new ArrayKind(12).map((_, i) => (i * 9973) % (maxval + 1));
    const file = new Uint8Array(await pgmBlob(samples, 4, 3, maxval).arrayBuffer());
    assert.deepEqual(parsePgm(file), { width: 4, height: 3, maxval, samples }, `maxval ${maxval}`);
  }
  // 16-bit samples are big-endian.
  assert.deepEqual(parsePgm(bytes('P5\n3 1\n1000\n', 0, 1, 3, 232, 1, 0)).samples, new Uint16Array([1, 1000, 256]));
});

test('malformed PGM files are refused with the reason', () => {
  // [file, message pattern]
  const files = [
    [bytes('P2 3 1 255\n1 2 3\n'), /plain text \(P2\)/],
    [bytes('P6 3 1 255\n', 1, 2, 3), /not a grayscale PGM file/],
    [bytes('P5 3 x 255\n', 1, 2, 3), /no valid size and maxval/],
    [bytes('P5\n3\n255\n', 1, 2, 3), /no valid width and height/],
    [bytes('P5\n3 1\nx\n', 1, 2, 3), /no valid maxval/],
    [bytes('P5\n3 1\n'), /ends inside its header/],
    [bytes('P5 3 1 70000\n', 1, 2, 3), /maxval, 70000, is not between 1 and 65535/],
    [bytes('P5 0 1 255\n'), /0 x 1 pixels: it holds no image/],
    [bytes('P5 3 2 255\n', 1, 2, 3), /ends before its 6 samples/],
    [bytes('P5 3 1 300\n', 1, 2, 3), /ends before its 3 samples/],
  ];
  for (const [index, [file, message]] of files.entries()) assert.throws(() => parsePgm(file), message, `row ${index}`);
});
