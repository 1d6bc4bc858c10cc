// An image's sides from its header, read before anything is decoded: a
// small file may declare sides that would decode to gigabytes.  PNG keeps
// them in IHDR, JPEG in its start-of-frame segment, PGM in its header.
import { looksLikePgm, readPgmHeader } from './pgm.js';

const pngSignature = [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a];
// The signature, IHDR's length and its type come first; then width, height.
const pngWidthAt = 16;

const jpegMarker = 0xff;
const jpegStartOfImage = 0xd8;
const jpegStartOfScan = 0xda;

// Start-of-frame markers: every SOFn but the three that share their range
// (DHT, JPG and DAC).
function isStartOfFrame(marker) {
  return marker >= 0xc0 && marker <= 0xcf && marker !== 0xc4 && marker !== 0xc8 && marker !== 0xcc;
}

// Markers that stand alone, without a length: TEM and RST0..RST7.
function standsAlone(marker) {
  return marker === 0x01 || (marker >= 0xd0 && marker <= 0xd7);
}

function pngSides(view) {
  if (view.byteLength < pngWidthAt + 8) return null;
  return { width: view.getUint32(pngWidthAt), height: view.getUint32(pngWidthAt + 4) };
}

function jpegSides(view) {
  let at = 2;
  while (at + 4 <= view.byteLength) {
    if (view.getUint8(at) !== jpegMarker) return null;
    const marker = view.getUint8(at + 1);
    if (marker === jpegMarker) {
      at++; // fill bytes before a marker
    } else if (standsAlone(marker)) {
      at += 2;
    } else if (marker === jpegStartOfScan) {
      return null; // the data begins: no frame header before it
    } else if (isStartOfFrame(marker)) {
      // length, precision, then height and width
      if (at + 9 > view.byteLength) return null;
      return { width: view.getUint16(at + 7), height: view.getUint16(at + 5) };
    } else {
      at += 2 + view.getUint16(at + 2);
    }
  }
  return null;
}

/**
 * The format and sides an image's bytes declare: { format ('PNG', 'JPEG'
 * or 'PGM'), width, height }, or null when the bytes are none of these or
 * their header ends too soon.  A PGM header the tool refuses throws its
 * reason.  A JPEG's sides are as stored; its orientation may swap them.
 */
export function imageSides(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (pngSignature.every((byte, i) => bytes[i] === byte)) {
    const sides = pngSides(view);
    return sides && { format: 'PNG', ...sides };
  }
  if (bytes[0] === jpegMarker && bytes[1] === jpegStartOfImage) {
    const sides = jpegSides(view);
    return sides && { format: 'JPEG', ...sides };
  }
  if (looksLikePgm(bytes)) {
    const { width, height } = readPgmHeader(bytes);
    return { format: 'PGM', width, height };
  }
  return null;
}
