// The page: opens an image, has QuillmorphWorker upscale it on its own
// thread, and shows the result beside the input with a split, zoom and pan.
// This thread only draws and answers the user: images are decoded by the
// browser off it (createImageBitmap), and their pixels read, upscaled and
// made into a bitmap again in the worker.
//
// The page's state is in <html data-state>: loading, ready, working, done,
// cancelled or failed; <html data-calls> counts its calls on the worker.  The full-resolution result is in canvas#result, a
// bitmaprenderer canvas (draw it into a 2d canvas to read its pixels).
import { QuillmorphWorker } from '../js/worker.js';
import { bytesText } from '../js/checks.js';
import { imageSides } from './image-sides.js';
import { parsePgm, pgmBlob, readPgmHeader } from './pgm.js';

const $ = (id) => document.getElementById(id);
const fileInput = $('file');
const drop = $('drop');
const progress = $('progress');
const cancelButton = $('cancel');
const statusLine = $('status');
const viewCanvas = $('view');
const resultCanvas = $('result');

// The largest canvas browsers draw reliably (Chromium's limit on the area).
const largestCanvasArea = 268435456;
const zoomStep = 1.25;
const smallestZoom = 1 / 64;
const largestZoom = 64; // screen pixels per pixel of the result

const worker = new QuillmorphWorker();
let image = null; // { name, width, height, samples?, maxval? }: the input
let result = null; // { width, height, samples?, maxval? }: what the worker gave
let running = null; // the AbortController of the call in progress

// Calls on the worker not settled yet, in <html data-calls>: 0 once the
// page is idle (a cancelled or superseded call settles soon after).
let callsInFlight = 0;
async function onWorker(call) {
  document.documentElement.dataset.calls = String(++callsInFlight);
  try {
    return await call();
  } finally {
    document.documentElement.dataset.calls = String(--callsInFlight);
  }
}

function setState(state, text) {
  document.documentElement.dataset.state = state;
  if (text !== undefined) statusLine.textContent = text;
}

// ---- Reading an image -------------------------------------------------------

// { name, width, height, bitmap, sendable(), samples?, maxval? }: bitmap is
// drawn, sendable() gives another to hand to the worker (transferred, so
// that this thread copies nothing); samples for PGM files.
async function readImage(file, bytes, format) {
  if (format === 'PGM') {
    const { width, height, maxval, samples } = parsePgm(bytes);
    const bitmap = await createImageBitmap(new ImageData(grayToRGBA(samples, maxval), width, height));
    return { name: file.name, width, height, maxval, samples, bitmap, sendable: () => createImageBitmap(bitmap) };
  }
  try {
    // Decoded twice, by the browser, off this thread: one to draw, one to send.
    const bitmap = await createImageBitmap(file);
    const { width, height } = bitmap;
    return { name: file.name, width, height, bitmap, sendable: () => createImageBitmap(file) };
  } catch {
    throw new Error(`${file.name} is not a PNG or JPEG image this browser can read.`);
  }
}

// Throws an Error with a sentence for the user when an image of these sides
// cannot be upscaled here: a side below 3 pixels, a result larger than a
// canvas, or more memory than the browser grants the upscaler (its
// input, output and working memory, per call on one channel).
async function checkSides(name, width, height, bits) {
  if (width < 3 || height < 3) {
    throw new Error(`${name} is ${width} x ${height} pixels: each side must be 3 pixels or more.`);
  }
  const { bytes, available } = await onWorker(() => worker.memoryFor(width, height, { bits }));
  if (bytes > available) {
    throw new Error(
      `${name} is too large to upscale here: at ${width} x ${height} pixels it needs ${bytesText(bytes)} of memory, ` +
        `and this browser grants the upscaler ${bytesText(available)}.`,
    );
  }
  if (4 * width * height > largestCanvasArea) {
    throw new Error(
      `${name} is too large to show here: its result, ${2 * width} x ${2 * height} pixels, is more than the ` +
        `${largestCanvasArea.toLocaleString('en')} pixels a browser's canvas holds.`,
    );
  }
}

// Grey samples of any maxval as 8-bit RGBA, for the canvas.
function grayToRGBA(samples, maxval) {
  const rgba = new Uint8ClampedArray(4 * samples.length);
  const scale = 255 / maxval;
  for (let i = 0; i < samples.length; i++) {
    const v = maxval === 255 ? samples[i] : Math.round(samples[i] * scale);
    rgba[4 * i] = rgba[4 * i + 1] = rgba[4 * i + 2] = v;
    rgba[4 * i + 3] = 255;
  }
  return rgba;
}

function showResult(bitmap) {
  resultCanvas.width = bitmap.width;
  resultCanvas.height = bitmap.height;
  resultCanvas.getContext('bitmaprenderer').transferFromImageBitmap(bitmap);
}

// ---- Upscaling -------------------------------------------------------------

// Each open or drop takes the next number; only the newest one's work may
// change what is shown.
let newest = 0;

async function open(file) {
  const ticket = ++newest;
  const superseded = () => ticket !== newest;
  running?.abort();
  let opened;
  try {
    setState('working', `Reading ${file.name}…`);
    const bytes = new Uint8Array(await file.arrayBuffer());
    if (superseded()) return;
    const sides = imageSides(bytes);
    if (!sides) throw new Error(`${file.name} is not a PNG, JPEG or PGM image.`);
    const bits = sides.format === 'PGM' && readPgmHeader(bytes).maxval > 255 ? 16 : 8;
    await checkSides(file.name, sides.width, sides.height, bits);
    if (superseded()) return;
    opened = await readImage(file, bytes, sides.format);
    // A JPEG's orientation may have turned it: its decoded sides count.
    if (opened.width !== sides.width || opened.height !== sides.height) {
      await checkSides(file.name, opened.width, opened.height, bits);
    }
  } catch (error) {
    opened?.bitmap.close();
    if (!superseded()) setState('failed', error.message);
    return;
  }
  if (superseded()) {
    opened.bitmap.close();
    return;
  }
  image?.bitmap.close();
  image = opened;
  result = null;
  $('download').disabled = $('download-pgm').disabled = true;
  $('download-pgm').hidden = !image.samples;
  fitView();
  await upscaleImage(superseded);
}

async function upscaleImage(superseded) {
  const { name, width, height, samples, maxval, sendable } = image;
  const controller = new AbortController();
  running = controller;
  cancelButton.disabled = false;
  progress.value = 0;
  const kind = samples ? `grayscale, maxval ${maxval}` : 'channel by channel';
  setState('working', `Upscaling ${name} (${width} x ${height}, ${kind})…`);
  const options = {
    signal: controller.signal,
    onProgress: (rowsDone, rowsTotal) => {
      if (!superseded()) progress.value = rowsDone / rowsTotal;
    },
  };
  try {
    // PGM samples other than 8-bit ones up to 255 are upscaled as they are;
    // every other image is its bitmap's pixels (8-bit grey ones in one call).
    let shown;
    let made = { width: 2 * width, height: 2 * height, maxval: 255 };
    if (samples && maxval !== 255) {
      const upscaled = await onWorker(() => worker.upscale(samples, width, height, { ...options, maxval }));
      const rgba = grayToRGBA(upscaled, maxval);
      shown = await createImageBitmap(new ImageData(rgba, 2 * width, 2 * height));
      made = { ...made, samples: upscaled, maxval };
    } else {
      const bitmap = await sendable();
      shown = await onWorker(() => worker.upscaleBitmap(bitmap, options));
    }
    // A newer file was opened while this one's result was on its way.
    if (superseded()) {
      shown.close();
      return;
    }
    result = made;
    showResult(shown);
    progress.value = 1;
    $('download').disabled = false;
    $('download-pgm').disabled = !samples;
    setState('done', `Done: ${name} is now ${2 * width} x ${2 * height} pixels.`);
  } catch (error) {
    if (superseded()) return;
    if (error.name === 'AbortError') setState('cancelled', `Cancelled: ${name} was not upscaled.`);
    else setState('failed', `${name} could not be upscaled: ${error.message}`);
  } finally {
    if (running === controller) {
      running = null;
      cancelButton.disabled = true;
    }
    draw();
  }
}

cancelButton.addEventListener('click', () => running?.abort());

fileInput.addEventListener('change', () => {
  const [file] = fileInput.files;
  if (file) open(file);
  fileInput.value = ''; // the same file may be opened again
});

// Drops anywhere on the page.
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('dragging');
});
document.addEventListener('dragleave', (event) => {
  if (!event.relatedTarget) drop.classList.remove('dragging');
});
document.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('dragging');
  const [file] = event.dataTransfer.files;
  if (file) open(file);
});

// ---- Downloads ---------------------------------------------------------------

function save(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

const outputName = (extension) => `${image.name.replace(/\.[^.]*$/, '')}_x2.${extension}`;

$('download').addEventListener('click', () => {
  resultCanvas.toBlob((blob) => save(blob, outputName('png')), 'image/png');
});

$('download-pgm').addEventListener('click', () => {
  let { samples } = result;
  if (!samples) {
    // An 8-bit image came back as a bitmap: its red channel is the result.
    const copy = document.createElement('canvas');
    copy.width = result.width;
    copy.height = result.height;
    const context = copy.getContext('2d');
    context.drawImage(resultCanvas, 0, 0);
    const { data } = context.getImageData(0, 0, result.width, result.height);
    samples = new Uint8Array(result.width * result.height).map((_, i) => data[4 * i]);
  }
  save(pgmBlob(samples, result.width, result.height, result.maxval), outputName('pgm'));
});

// ---- The view ----------------------------------------------------------------
//
// zoom is CSS pixels per pixel of the result; (x, y) is the point of the
// result at the centre of the view; split is where the line is, from 0 (left)
// to 1 (right).
const view = { zoom: 1, x: 0, y: 0, split: 0.5 };

function fitView() {
  if (!image) return;
  const outputWidth = 2 * image.width;
  const outputHeight = 2 * image.height;
  view.zoom = clampZoom(Math.min(viewCanvas.clientWidth / outputWidth, viewCanvas.clientHeight / outputHeight));
  view.x = outputWidth / 2;
  view.y = outputHeight / 2;
  draw();
}

function clampZoom(zoom) {
  return Math.min(largestZoom, Math.max(smallestZoom, zoom));
}

// Zooms by factor, keeping the point of the result under (atX, atY) in place.
function zoomBy(factor, atX = viewCanvas.clientWidth / 2, atY = viewCanvas.clientHeight / 2) {
  const zoom = clampZoom(view.zoom * factor);
  const offsetX = atX - viewCanvas.clientWidth / 2;
  const offsetY = atY - viewCanvas.clientHeight / 2;
  view.x += offsetX / view.zoom - offsetX / zoom;
  view.y += offsetY / view.zoom - offsetY / zoom;
  view.zoom = zoom;
  draw();
}

function panBy(dx, dy) {
  view.x -= dx / view.zoom;
  view.y -= dy / view.zoom;
  draw();
}

function setSplit(split) {
  view.split = Math.min(1, Math.max(0, split));
  $('split').value = String(Math.round(view.split * 100));
  draw();
}

function label(context, text, x, y, alignRight) {
  context.font = '600 13px system-ui, sans-serif';
  const width = context.measureText(text).width + 12;
  const left = alignRight ? x - width : x;
  context.fillStyle = 'rgba(0, 0, 0, 0.78)';
  context.fillRect(left, y, width, 22);
  context.fillStyle = '#ffffff';
  context.textBaseline = 'middle';
  context.fillText(text, left + 6, y + 11);
}

let drawPending = false;
function draw() {
  if (drawPending) return;
  drawPending = true;
  requestAnimationFrame(() => {
    drawPending = false;
    drawNow();
  });
}

function drawNow() {
  const ratio = window.devicePixelRatio || 1;
  const width = viewCanvas.clientWidth;
  const height = viewCanvas.clientHeight;
  if (viewCanvas.width !== Math.round(width * ratio) || viewCanvas.height !== Math.round(height * ratio)) {
    viewCanvas.width = Math.round(width * ratio);
    viewCanvas.height = Math.round(height * ratio);
  }
  const context = viewCanvas.getContext('2d');
  context.setTransform(ratio, 0, 0, ratio, 0, 0);
  context.fillStyle = '#2a2a2a';
  context.fillRect(0, 0, width, height);
  $('zoom-level').textContent = `${Math.round(view.zoom * 100)}%`;
  if (!image) {
    context.fillStyle = '#e6e6e6';
    context.font = '16px system-ui, sans-serif';
    context.textAlign = 'center';
    context.fillText('Open or drop an image to see it here.', width / 2, height / 2);
    context.textAlign = 'start';
    return;
  }
  const splitX = Math.round(view.split * width);
  // Screen position of the result's pixel (0, 0).
  const left = width / 2 - view.x * view.zoom;
  const top = height / 2 - view.y * view.zoom;
  const method = $('method').value;

  // Left of the split: the input, scaled by the browser.
  context.save();
  context.beginPath();
  context.rect(0, 0, splitX, height);
  context.clip();
  context.imageSmoothingEnabled = method === 'smooth';
  context.imageSmoothingQuality = 'high';
  context.drawImage(image.bitmap, left, top, 2 * image.width * view.zoom, 2 * image.height * view.zoom);
  context.restore();

  // Right of it: Quillmorph's result, its pixels as squares when magnified.
  context.save();
  context.beginPath();
  context.rect(splitX, 0, width - splitX, height);
  context.clip();
  if (result) {
    context.imageSmoothingEnabled = view.zoom < 1;
    context.imageSmoothingQuality = 'high';
    context.drawImage(resultCanvas, left, top, result.width * view.zoom, result.height * view.zoom);
  }
  context.restore();

  // The line, its handle, and what each side shows.
  context.fillStyle = '#ffffff';
  context.fillRect(splitX - 1, 0, 2, height);
  context.beginPath();
  context.arc(splitX, height / 2, 13, 0, 2 * Math.PI);
  context.fill();
  context.fillStyle = '#1f4e8c';
  for (const side of [-1, 1]) {
    context.beginPath();
    context.moveTo(splitX + side * 9, height / 2);
    context.lineTo(splitX + side * 3, height / 2 - 6);
    context.lineTo(splitX + side * 3, height / 2 + 6);
    context.fill();
  }
  const leftText = method === 'smooth' ? 'Input, smooth scaling' : 'Input, nearest neighbour';
  label(context, leftText, 8, 8, false);
  const state = document.documentElement.dataset.state;
  label(context, result ? 'Quillmorph' : state === 'working' ? 'Quillmorph: working…' : 'Quillmorph: no result', width - 8, 8, true);
  viewCanvas.setAttribute(
    'aria-label',
    `${image.name}: the input scaled by the browser left of the split, Quillmorph's ${result ? 'result' : 'result, not ready yet,'} right of it, at ${Math.round(view.zoom * 100)}%`,
  );
}

// Pointer: drag the split line, or pan; the wheel zooms.
let drag = null;
const nearSplit = (x) => Math.abs(x - view.split * viewCanvas.clientWidth) <= 14;

viewCanvas.addEventListener('pointerdown', (event) => {
  drag = { onSplit: nearSplit(event.offsetX), x: event.clientX, y: event.clientY };
  viewCanvas.setPointerCapture(event.pointerId);
});
viewCanvas.addEventListener('pointermove', (event) => {
  if (!drag) {
    viewCanvas.classList.toggle('on-split', nearSplit(event.offsetX));
    return;
  }
  if (drag.onSplit) setSplit(event.offsetX / viewCanvas.clientWidth);
  else panBy(event.clientX - drag.x, event.clientY - drag.y);
  drag.x = event.clientX;
  drag.y = event.clientY;
});
const endDrag = () => {
  drag = null;
};
viewCanvas.addEventListener('pointerup', endDrag);
viewCanvas.addEventListener('pointercancel', endDrag);
viewCanvas.addEventListener(
  'wheel',
  (event) => {
    event.preventDefault();
    zoomBy(event.deltaY < 0 ? zoomStep : 1 / zoomStep, event.offsetX, event.offsetY);
  },
  { passive: false },
);

// Keyboard, with the view focused.
const panStep = 60;
const keys = {
  ArrowLeft: () => panBy(panStep, 0),
  ArrowRight: () => panBy(-panStep, 0),
  ArrowUp: () => panBy(0, panStep),
  ArrowDown: () => panBy(0, -panStep),
  '+': () => zoomBy(zoomStep),
  '=': () => zoomBy(zoomStep),
  '-': () => zoomBy(1 / zoomStep),
  0: fitView,
  '[': () => setSplit(view.split - 0.05),
  ']': () => setSplit(view.split + 0.05),
};
viewCanvas.addEventListener('keydown', (event) => {
  const action = keys[event.key];
  if (!action || event.ctrlKey || event.metaKey || event.altKey) return;
  event.preventDefault();
  action();
});

$('zoom-in').addEventListener('click', () => zoomBy(zoomStep));
$('zoom-out').addEventListener('click', () => zoomBy(1 / zoomStep));
$('zoom-fit').addEventListener('click', fitView);
$('zoom-pixels').addEventListener('click', () => zoomBy(1 / (window.devicePixelRatio || 1) / view.zoom));
$('split').addEventListener('input', (event) => setSplit(Number(event.target.value) / 100));
$('method').addEventListener('change', draw);
new ResizeObserver(draw).observe(viewCanvas);

// ---- Start -------------------------------------------------------------------

// The worker loads the module now, so that the page works offline from here
// on; the service worker keeps the files for the next visit.
// It runs on threads where the page is cross-origin isolated (from its
// second load on, under the service worker), on one thread elsewhere; the
// page says which.
Promise.all([worker.version(), worker.threads()]).then(
  ([version, threads]) => {
    const mode =
      threads > 1
        ? `on ${threads} threads`
        : crossOriginIsolated
          ? 'on 1 thread'
          : 'on 1 thread, as the page is not cross-origin isolated yet: reload it to use every processor';
    document.documentElement.dataset.threads = String(threads);
    if (document.documentElement.dataset.state === 'loading') {
      setState('ready', `Ready (Quillmorph ${version}, ${mode}). Open or drop an image.`);
    }
  },
  (error) => setState('failed', `The upscaler could not be loaded: ${error.message}`),
);
if ('serviceWorker' in navigator) {
  navigator.serviceWorker.register('../web-service-worker.js', { scope: '../' }).catch(() => {});
}
draw();
