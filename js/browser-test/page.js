// The page in a real browser: the checkout served on 127.0.0.1 by a small
// static server, Debian's Chromium driven by puppeteer-core.  One scenario:
// the page loads its module and, reloaded under its service worker, is
// cross-origin isolated; it upscales the chart opened through the file
// input to the native tool's bytes, refuses a PNG declaring 100,000 pixels a
// side from its header, shows only the newer of two files opened in quick
// succession, cancels a large image and recovers, and after a reload with
// the server gone still upscales.  A page error, a console error or a
// failed request fails it.  A screenshot goes to the native build folder.
//
//   QUILLMORPH_NATIVE_BUILD=build node --test browser-test/page.js
//   CHROMIUM=/path/to/chromium (default /usr/bin/chromium)
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { launchChromium, serve } from './serve.js';
import { chart, nativeMissing, nativeUpscale, pgm, png, random, randomImage, scratchFolder } from '../tests/native.js';

const root = fileURLToPath(new URL('../..', import.meta.url));
const chromium = process.env.CHROMIUM ?? '/usr/bin/chromium';
const missing =
  nativeMissing() ??
  (fs.existsSync(chromium) ? null : `${chromium} is not installed (Debian: apt-get install chromium)`) ??
  (fs.existsSync(path.join(root, 'js/dist/quillmorph_wasm.wasm')) ? null : 'the module is not built (npm run build)');

const state = (page) => page.evaluate(() => document.documentElement.dataset.state);
const waitForState = (page, wanted) =>
  page.waitForFunction((s) => document.documentElement.dataset.state === s, { timeout: 90000 }, wanted);

// The red channel of canvas#result, where the page puts the grey result.
async function resultPixels(page) {
  const { width, height, red } = await page.evaluate(() => {
    // A bitmaprenderer canvas: its pixels are read through a 2d one.
    const canvas = document.getElementById('result');
    const copy = document.createElement('canvas');
    copy.width = canvas.width;
    copy.height = canvas.height;
    const context = copy.getContext('2d');
    context.drawImage(canvas, 0, 0);
    const { data } = context.getImageData(0, 0, canvas.width, canvas.height);
    let text = '';
    for (let i = 0; i < data.length; i += 4) text += String.fromCharCode(data[i]);
    return { width: canvas.width, height: canvas.height, red: btoa(text) };
  });
  return { width, height, pixels: Buffer.from(red, 'base64') };
}

// A PNG that declares sides far beyond any browser's memory: its header
// alone, which is all the page may read of it.
function hugePng(side) {
  const header = Buffer.alloc(33);
  Buffer.from('89504e470d0a1a0a0000000d49484452', 'hex').copy(header);
  header.writeUInt32BE(side, 16);
  header.writeUInt32BE(side, 20);
  header.writeUInt8(8, 24); // 8-bit grey
  return header;
}

test('the page upscales to the native bytes, refuses huge images, shows only the newest file, cancels, and works offline', { skip: missing ?? false, timeout: 300000 }, async () => {
  const folder = scratchFolder();
  const small = chart(folder, 256);
  const smallFile = path.join(folder, 'small.pgm');
  fs.writeFileSync(smallFile, pgm(small.pixels, 256, 256));
  const large = chart(folder, 2048);
  const largeFile = path.join(folder, 'large.pgm');
  fs.copyFileSync(large.file, largeFile);
  const odd = { width: 97, height: 61 };
  odd.pixels = randomImage(Uint8Array, odd.width, odd.height, 255, random(97));
  const oddFile = path.join(folder, 'odd.pgm');
  fs.writeFileSync(oddFile, pgm(odd.pixels, odd.width, odd.height));
  const largePngFile = path.join(folder, 'large.png');
  fs.writeFileSync(largePngFile, png(large.pixels, 2048, 2048));
  const hugeFile = path.join(folder, 'huge.png');
  fs.writeFileSync(hugeFile, hugePng(100000));
  const oddExpected = Buffer.from(nativeUpscale(folder, odd.pixels, odd.width, odd.height));

  const server = await serve();
  const browser = await launchChromium(chromium, path.join(folder, 'chromium-profile'));
  const problems = [];
  try {
    const page = await browser.newPage();
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('console', (message) => {
      if (message.type() === 'error') problems.push(`console error: ${message.text()}`);
    });
    page.on('requestfailed', (request) => {
      if (!offline) problems.push(`failed request: ${request.url()}`);
    });
    page.on('response', (response) => {
      if (response.status() >= 400) problems.push(`HTTP ${response.status()}: ${response.url()}`);
    });
    let offline = false;
    await page.goto(`http://127.0.0.1:${server.address().port}/web/`);
    await waitForState(page, 'ready');
    // Not isolated on its first load: the module without threads runs.
    assert.equal(await page.evaluate(() => document.documentElement.dataset.threads), '1');
    assert.match(await page.$eval('#status', (status) => status.textContent), /on 1 thread, as the page is not cross-origin isolated/);
    // The service worker has kept every file and controls the page: from
    // the next load on, the page is cross-origin isolated.
    await page.waitForFunction(() => navigator.serviceWorker.controller !== null, { timeout: 90000 });
    await page.reload();
    await waitForState(page, 'ready');
    assert.equal(await page.evaluate(() => crossOriginIsolated), true, 'isolated by the service worker');
    // Threaded: the worker's module has a thread per processor.
    const processors = await page.evaluate(() => navigator.hardwareConcurrency);
    assert.equal(await page.evaluate(() => document.documentElement.dataset.threads), String(Math.min(processors, 256)));
    assert.match(await page.$eval('#status', (status) => status.textContent), new RegExp(`on ${processors} threads`));
    let input = await page.$('#file');

    // The chart, to the tool's bytes.
    await input.uploadFile(smallFile);
    await waitForState(page, 'done');
    const shown = await resultPixels(page);
    assert.deepEqual([shown.width, shown.height], [512, 512]);
    assert.ok(shown.pixels.equals(Buffer.from(nativeUpscale(folder, small.pixels, 256, 256))), 'the chart');
    await page.screenshot({ path: path.join(process.env.QUILLMORPH_NATIVE_BUILD, 'web-page.png'), fullPage: true });

    // A PNG declaring 100,000 x 100,000 pixels: refused from its header, the
    // limit given, the chart's result left as it was.
    await input.uploadFile(hugeFile);
    await waitForState(page, 'failed');
    assert.match(
      await page.$eval('#status', (status) => status.textContent),
      /huge\.png is too large to upscale here: at 100000 x 100000 pixels it needs 46\.\d GB of memory, and this browser grants the upscaler \d+\.\d [GM]B\./,
    );

    // While an image is upscaled, two files in quick succession, the first
    // a large PNG, decoded more slowly than the second is read: only the
    // last one's result appears, also once every call has settled.
    await input.uploadFile(smallFile);
    await page.waitForFunction(() => document.getElementById('progress').value > 0, { timeout: 90000 });
    await input.uploadFile(largePngFile);
    await input.uploadFile(oddFile);
    await waitForState(page, 'done');
    await page.waitForFunction(() => document.documentElement.dataset.calls === '0', { timeout: 90000 });
    const newest = await resultPixels(page);
    assert.deepEqual([newest.width, newest.height], [2 * odd.width, 2 * odd.height]);
    assert.ok(newest.pixels.equals(oddExpected), 'the newest file');

    // A large image, cancelled once the work has begun.
    await input.uploadFile(largeFile);
    await page.waitForFunction(
      () => document.documentElement.dataset.state === 'working' && document.getElementById('progress').value > 0,
      { timeout: 90000 },
    );
    await page.click('#cancel');
    await waitForState(page, 'cancelled');
    assert.equal(await page.$eval('#cancel', (button) => button.disabled), true);

    // The server gone, the page reloaded: every file comes from the service
    // worker's cache, and the page still upscales.
    offline = true;
    server.closeAllConnections();
    await new Promise((resolve) => server.close(resolve));
    await page.reload();
    await waitForState(page, 'ready');
    input = await page.$('#file');
    await input.uploadFile(oddFile);
    await waitForState(page, 'done');
    const again = await resultPixels(page);
    assert.deepEqual([again.width, again.height], [2 * odd.width, 2 * odd.height]);
    assert.ok(again.pixels.equals(oddExpected), 'offline, after a reload');
    assert.equal(await state(page), 'done');
  } finally {
    await browser.close();
    server.close();
  }
  assert.deepEqual(problems, []);
});
