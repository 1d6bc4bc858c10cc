// The native build the tests compare with, found through
// QUILLMORPH_NATIVE_BUILD (a CMake build folder of this checkout holding the
// Quillmorph tool, make_chart and upscale_raw), and images to compare on.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

const build = process.env.QUILLMORPH_NATIVE_BUILD;

/** Why the comparisons cannot run, or null when they can. */
export function nativeMissing() {
  if (!build) return 'QUILLMORPH_NATIVE_BUILD is not set (a native CMake build folder of this checkout)';
  for (const program of ['Quillmorph', 'make_chart', 'upscale_raw']) {
    if (!fs.existsSync(path.join(build, program))) return `${path.join(build, program)} is not built`;
  }
  return null;
}

/** A scratch folder, removed when the process exits. */
export function scratchFolder() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quillmorph-js-'));
  process.on('exit', () => fs.rmSync(folder, { recursive: true, force: true }));
  return folder;
}

/** Parses a binary PGM: { width, height, maxval, pixels }. */
export function parsePgm(bytes) {
  const fields = [];
  let at = 0;
  while (fields.length < 4) {
    while (/\s/.test(String.fromCharCode(bytes[at]))) at++;
    const start = at;
    while (!/\s/.test(String.fromCharCode(bytes[at]))) at++;
    fields.push(Buffer.from(bytes.subarray(start, at)).toString('latin1'));
  }
  const [magic, width, height, maxval] = [fields[0], ...fields.slice(1).map(Number)];
  if (magic !== 'P5') throw new Error(`not a binary PGM: ${magic}`);
  const samples = new Uint8Array(bytes.buffer, bytes.byteOffset + at + 1, width * height);
  return { width, height, maxval, pixels: new Uint8Array(samples) };
}

export function pgm(pixels, width, height) {
  const samples = Buffer.from(pixels.buffer, pixels.byteOffset, pixels.byteLength);
  return Buffer.concat([Buffer.from(`P5\n${width} ${height}\n255\n`), samples]);
}

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const byte of bytes) c = crcTable[(c ^ byte) & 255] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

/** An 8-bit grey PNG of the pixels, made here (zlib is Node's). */
export function png(pixels, width, height) {
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    const framed = Buffer.alloc(body.length + 8);
    framed.writeUInt32BE(data.length, 0);
    body.copy(framed, 4);
    framed.writeUInt32BE(crc32(body), body.length + 4);
    return framed;
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.writeUInt8(8, 8); // bits per sample; colour type 0 (grey) and the rest 0
  const rows = Buffer.alloc((width + 1) * height); // each row after its filter byte, 0 (none)
  for (let y = 0; y < height; y++) rows.set(pixels.subarray(y * width, (y + 1) * width), y * (width + 1) + 1);
  const signature = Buffer.from('89504e470d0a1a0a', 'hex');
  return Buffer.concat([signature, chunk('IHDR', header), chunk('IDAT', zlib.deflateSync(rows)), chunk('IEND', Buffer.alloc(0))]);
}

/** The native tool's output for an 8-bit image. */
export function nativeUpscale(folder, pixels, width, height) {
  const input = path.join(folder, 'in.pgm');
  const output = path.join(folder, 'out.pgm');
  fs.writeFileSync(input, pgm(pixels, width, height));
  execFileSync(path.join(build, 'Quillmorph'), [input, output], { stdio: 'ignore' });
  return parsePgm(fs.readFileSync(output)).pixels;
}

/** The native library's output through upscale_raw: qm_upscale or qm_upscale16 with the maxval. */
export function nativeUpscaleRaw(folder, pixels, width, height, maxval) {
  const input = path.join(folder, 'in.raw');
  const output = path.join(folder, 'out.raw');
  const bits = 8 * pixels.BYTES_PER_ELEMENT;
  fs.writeFileSync(input, new Uint8Array(pixels.buffer, pixels.byteOffset, pixels.byteLength));
  const args = [input, output, width, height, bits, maxval].map(String);
  execFileSync(path.join(build, 'upscale_raw'), args, { stdio: 'ignore' });
  const bytes = fs.readFileSync(output);
  return new pixels.constructor(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength));
}

/** The chart make_chart draws, side x side, and its file. */
export function chart(folder, side) {
  const file = path.join(folder, `chart-${side}.pgm`);
  execFileSync(path.join(build, 'make_chart'), [file, String(side)], { stdio: 'ignore' });
  return { file, ...parsePgm(fs.readFileSync(file)) };
}

/** A reproducible pseudo-random generator (mulberry32) of numbers in [0, 1). */
export function random(seed) {
  let state = seed >>> 0;
  return () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

/**
 * A width x height image of maxval-bounded samples: noise, or smooth
 * gradients with edges, which take the refinement's other paths.
 */
export function randomImage(ArrayKind, width, height, maxval, next) {
  const pixels = new ArrayKind(width * height);
  const smooth = next() < 0.5;
  const [a, b, c] = [next(), next(), next()];
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const value = smooth
        ? (a * x + b * y) / (width + height) + (x * c > y ? 0.5 : 0) + 0.05 * next()
        : next();
      pixels[y * width + x] = Math.min(maxval, Math.floor((value % 1) * (maxval + 1)));
    }
  }
  return pixels;
}
