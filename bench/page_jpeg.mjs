// The page in headless Chromium on a large colour photograph: a
// WIDTH x HEIGHT JPEG (default 4000 x 3000, made by the browser from a
// colourful pattern) opened through the file input, timed until
// canvas#result holds the result, with the page cross-origin isolated (its
// second load) and so threaded.  Prints the time, the threads, and the
// longest main-thread task meanwhile (Long Tasks API), which is how long
// the page could not answer the user.
//
//   node bench/page_jpeg.mjs [WIDTH] [HEIGHT]          (after npm --prefix js ci)
//   CHROMIUM=/path/to/chromium (default /usr/bin/chromium)
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import { launchChromium, serve } from '../js/browser-test/serve.js';

const [width = 4000, height = 3000] = process.argv.slice(2).map(Number);
const chromium = process.env.CHROMIUM ?? '/usr/bin/chromium';
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quillmorph-page-bench-'));
const server = await serve();
const browser = await launchChromium(chromium, path.join(folder, 'profile'));
try {
  const page = await browser.newPage();
  const waitForState = (wanted) =>
    page.waitForFunction((s) => document.documentElement.dataset.state === s, { timeout: 0 }, wanted);
  await page.goto(`http://127.0.0.1:${server.address().port}/web/`);
  await waitForState('ready');
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null, { timeout: 0 });
  await page.reload();
  await waitForState('ready');

  // The photograph: smooth colour gradients with edges and some noise.
  const jpeg = await page.evaluate(
    async (w, h) => {
      const canvas = new OffscreenCanvas(w, h);
      const context = canvas.getContext('2d');
      const image = context.createImageData(w, h);
      for (let y = 0, i = 0; y < h; y++) {
        for (let x = 0; x < w; x++, i += 4) {
          const edge = (x * 3 + y * 2) % 997 < 400 ? 60 : 0;
          image.data[i] = (x * 255) / w + edge;
          image.data[i + 1] = (y * 255) / h - edge;
          image.data[i + 2] = ((x ^ y) & 255) / 2 + ((x * 7919 + y * 104729) % 31);
          image.data[i + 3] = 255;
        }
      }
      context.putImageData(image, 0, 0);
      const blob = await canvas.convertToBlob({ type: 'image/jpeg', quality: 0.9 });
      const bytes = new Uint8Array(await blob.arrayBuffer());
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      return btoa(text);
    },
    width,
    height,
  );
  const file = path.join(folder, 'photograph.jpg');
  fs.writeFileSync(file, Buffer.from(jpeg, 'base64'));

  await page.evaluate(() => {
    window.longestTask = 0;
    new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) window.longestTask = Math.max(window.longestTask, entry.duration);
    }).observe({ type: 'longtask' });
  });
  const input = await page.$('#file');
  const start = Date.now();
  await input.uploadFile(file);
  await waitForState('done');
  await page.waitForFunction(
    (w, h) => document.getElementById('result').width === 2 * w && document.getElementById('result').height === 2 * h,
    { timeout: 0 },
    width,
    height,
  );
  const seconds = (Date.now() - start) / 1000;
  const { threads, longestTask, status } = await page.evaluate(() => ({
    threads: document.documentElement.dataset.threads,
    longestTask: window.longestTask,
    status: document.getElementById('status').textContent,
  }));
  console.log(`${width} x ${height} colour JPEG, ${(fs.statSync(file).size / 2 ** 20).toFixed(1)} MB, page isolated, ${threads} threads (load average ${os.loadavg().map((v) => v.toFixed(2)).join(' ')})`);
  console.log(`file input to canvas#result complete: ${seconds.toFixed(1)} s`);
  console.log(`longest main-thread task meanwhile:   ${Math.round(longestTask)} ms`);
  console.log(status);
} finally {
  await browser.close();
  server.close();
  fs.rmSync(folder, { recursive: true, force: true });
}
