// Binary PGM (P5) files in the page: 8-bit samples for a maxval below 256,
// 16-bit big-endian ones above, as the format has them.
//
// The header is read as the tool reads it (pgm/pgm_read.cpp), line by line
// through a 256-byte buffer, so that a file the tool takes gives the page
// the same samples: optional "#" comment lines, a magic line, then either
// the three numbers on the magic line itself or a size line and a maxval
// line (the size line may carry the maxval too), each of which may follow
// comment lines.  The samples begin after the line that holds the maxval,
// whatever ends it ("\n", "\r\n", spaces).

const P = 0x50;
const hash = 0x23;
const newline = 0x0a;

// One read takes at most this many bytes (the tool's buffer, less its NUL).
const longestRead = 255;
// "P5\n": a longer magic line carries the numbers itself.
const bareMagicLength = 3;

const magics = { P5: 'gray', P6: 'colour', P7: 'pam' };

/** Whether the bytes begin as a PGM file can (a magic or a comment line). */
export function looksLikePgm(bytes) {
  return bytes.length >= 2 && ((bytes[0] === P && bytes[1] >= 0x31 && bytes[1] <= 0x37) || bytes[0] === hash);
}

// The header's lines, read as fgets reads them: up to and with a newline,
// or longestRead bytes of a longer line.
class Lines {
  constructor(bytes) {
    this.bytes = bytes;
    this.at = 0;
  }

  // The next line, null at the end of the bytes.
  read() {
    if (this.at >= this.bytes.length) return null;
    const start = this.at;
    const end = Math.min(this.bytes.length, start + longestRead);
    while (this.at < end && this.bytes[this.at++] !== newline);
    return this.bytes.subarray(start, this.at);
  }

  // The next line that is not a comment; a comment longer than a read is
  // skipped whole, so that digits in it never pass for the size.
  readPastComments() {
    for (;;) {
      const line = this.read();
      if (line === null || line[0] !== hash) return line;
      if (line.length === longestRead && line[longestRead - 1] !== newline) {
        while (this.at < this.bytes.length && this.bytes[this.at++] !== newline);
      }
    }
  }
}

// The line as C reads it: up to its first NUL byte.
function text(line) {
  const nul = line.indexOf(0);
  return String.fromCharCode(...(nul < 0 ? line : line.subarray(0, nul)));
}

const int32 = 2 ** 31;

// Up to count decimal numbers separated by white space, as strtol reads
// them (a sign allowed, anything after the last digits ignored); null for a
// number outside a C int.
function parseInts(line, count) {
  const numbers = [];
  const pattern = /^[ \t\n\v\f\r]*([+-]?\d+)/;
  let rest = line;
  while (numbers.length < count) {
    const match = pattern.exec(rest);
    if (!match) break;
    const value = Number(match[1]);
    if (value < -int32 || value >= int32) return null;
    numbers.push(value);
    rest = rest.slice(match[0].length);
  }
  return numbers;
}

class HeaderError extends Error {}

/**
 * Reads a PGM header: { width, height, maxval, kind ('gray', 'colour' or
 * 'pam'), samplesAt } where samplesAt is the offset of the first sample.
 * The numbers are as written (negative or 0 sides among them), for the
 * caller to judge.  Throws an Error that says why the header is not one the
 * tool takes.
 */
export function readPgmHeader(bytes) {
  const lines = new Lines(bytes);
  const next = () => {
    const line = lines.readPastComments();
    if (line === null) throw new HeaderError('This PGM file ends inside its header.');
    return text(line);
  };
  const malformed = (what) => new HeaderError(`This PGM file's header has no valid ${what}.`);

  const magicLine = next();
  const kind = magics[magicLine.slice(0, 2)];
  if (kind === undefined) {
    if (magicLine.startsWith('P2')) throw new HeaderError('This PGM file is plain text (P2); only binary PGM (P5) is read.');
    throw new HeaderError('This is not a PGM file: it does not begin with P5.');
  }
  let numbers;
  if (magicLine.length > bareMagicLength) {
    numbers = parseInts(magicLine.slice(2), 3);
    if (numbers?.length !== 3) throw malformed('size and maxval after its P5');
  } else {
    numbers = parseInts(next(), 3);
    if (numbers === null || numbers.length < 2) throw malformed('width and height');
    if (numbers.length === 2) {
      const maxval = parseInts(next(), 1);
      if (maxval?.length !== 1) throw malformed('maxval');
      numbers.push(maxval[0]);
    }
  }
  const [width, height, maxval] = numbers;
  return { width, height, maxval, kind, samplesAt: lines.at };
}

/**
 * Parses a binary PGM: { width, height, maxval, samples }, samples a
 * Uint8Array for a maxval below 256 and a Uint16Array otherwise.  Throws an
 * Error that says what is wrong.
 */
export function parsePgm(bytes) {
  const { width, height, maxval, kind, samplesAt } = readPgmHeader(bytes);
  if (kind !== 'gray') throw new Error(`This is not a grayscale PGM file: it is a ${kind} one.`);
  if (width < 1 || height < 1) throw new Error(`This PGM file is ${width} x ${height} pixels: it holds no image.`);
  if (maxval < 1 || maxval > 65535) throw new Error(`This PGM file's maxval, ${maxval}, is not between 1 and 65535.`);
  const count = width * height;
  const sampleBytes = maxval < 256 ? 1 : 2;
  if (bytes.length - samplesAt < count * sampleBytes) {
    throw new Error(`This PGM file ends before its ${count} samples of ${width} x ${height} pixels.`);
  }
  if (sampleBytes === 1) return { width, height, maxval, samples: bytes.slice(samplesAt, samplesAt + count) };
  const samples = new Uint16Array(count);
  for (let i = 0; i < count; i++) samples[i] = (bytes[samplesAt + 2 * i] << 8) | bytes[samplesAt + 2 * i + 1];
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
