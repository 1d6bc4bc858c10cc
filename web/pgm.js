// Binary PGM (P5) files in the page: 8-bit samples for a maxval below 256,
// 16-bit big-endian ones above, as the format has them.

const P = 0x50;

function isSpace(byte) {
  return byte === 0x20 || (byte >= 0x09 && byte <= 0x0d);
}

/** Whether the bytes begin as a PGM file does (P5, or P2, which is refused with a reason). */
export function looksLikePgm(bytes) {
  return bytes.length >= 2 && bytes[0] === P && (bytes[1] === 0x35 || bytes[1] === 0x32);
}

/**
 * Parses a binary PGM: { width, height, maxval, samples }, samples a
 * Uint8Array for a maxval below 256 and a Uint16Array otherwise.  Throws an
 * Error that says what is wrong.
 */
export function parsePgm(bytes) {
  if (!looksLikePgm(bytes)) throw new Error('This is not a PGM file: it does not begin with P5.');
  if (bytes[1] === 0x32) throw new Error('This PGM file is plain text (P2); only binary PGM (P5) is read.');
  let at = 2;
  const field = (name) => {
    // Whitespace and comments (from # to the end of the line) between fields.
    for (;;) {
      while (at < bytes.length && isSpace(bytes[at])) at++;
      if (bytes[at] !== 0x23) break;
      while (at < bytes.length && bytes[at] !== 0x0a && bytes[at] !== 0x0d) at++;
    }
    const start = at;
    while (at < bytes.length && bytes[at] >= 0x30 && bytes[at] <= 0x39) at++;
    if (at === start || (at < bytes.length && !isSpace(bytes[at]))) {
      throw new Error(`This PGM file's header has no valid ${name}.`);
    }
    return Number(String.fromCharCode(...bytes.subarray(start, at)));
  };
  const width = field('width');
  const height = field('height');
  const maxval = field('maxval');
  if (width < 1 || height < 1) throw new Error(`This PGM file is ${width} x ${height} pixels: it holds no image.`);
  if (maxval < 1 || maxval > 65535) throw new Error(`This PGM file's maxval, ${maxval}, is not between 1 and 65535.`);
  at++; // the single whitespace character before the samples
  const count = width * height;
  const sampleBytes = maxval < 256 ? 1 : 2;
  if (bytes.length - at < count * sampleBytes) {
    throw new Error(`This PGM file ends before its ${count} samples of ${width} x ${height} pixels.`);
  }
  if (sampleBytes === 1) return { width, height, maxval, samples: bytes.slice(at, at + count) };
  const samples = new Uint16Array(count);
  for (let i = 0; i < count; i++) samples[i] = (bytes[at + 2 * i] << 8) | bytes[at + 2 * i + 1];
  return { width, height, maxval, samples };
}

/** A binary PGM file of the samples (Uint8Array or Uint16Array), as a Blob. */
export function pgmBlob(samples, width, height, maxval) {
  const header = new TextEncoder().encode(`P5\n${width} ${height}\n${maxval}\n`);
  if (samples.BYTES_PER_ELEMENT === 1) return new Blob([header, samples], { type: 'image/x-portable-graymap' });
  const data = new Uint8Array(2 * samples.length);
  for (let i = 0; i < samples.length; i++) {
    data[2 * i] = samples[i] >> 8;
    data[2 * i + 1] = samples[i] & 0xff;
  }
  return new Blob([header, data], { type: 'image/x-portable-graymap' });
}
