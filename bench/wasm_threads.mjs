// The npm package's module with threads in Node: one call on a side x side
// image with 1 thread and with 2 (or THREADS), rounds alternating, the
// module loaded and warmed beforehand.  Prints the medians of wall time
// and the speed-up, and checks that every call wrote the same bytes.
//
//   node bench/wasm_threads.mjs [SIDE] [ROUNDS] [THREADS]   (default 1024, 5, 2)
import os from 'node:os';

import { threads, upscale } from '../js/index.js';

const [side = 1024, rounds = 5, most = 2] = process.argv.slice(2).map(Number);
const pixels = new Uint8Array(side * side).map((_, i) => ((i % side) * 7) ^ ((i / side) * 3) ^ (i % 251));
const available = await threads();
await upscale(pixels.subarray(0, 64 * 64), 64, 64);

const seconds = { 1: [], [most]: [] };
let first = null;
for (let round = 0; round < rounds; round++) {
  const order = round % 2 ? [most, 1] : [1, most];
  for (const count of order) {
    const start = performance.now();
    const result = await upscale(pixels, side, side, { threads: count });
    seconds[count].push((performance.now() - start) / 1000);
    first ??= Buffer.from(result);
    if (!first.equals(Buffer.from(result))) throw new Error(`${count} threads wrote other bytes`);
  }
}
const median = (values) => values.sort((a, b) => a - b)[values.length >> 1];
const [one, many] = [median(seconds[1]), median(seconds[most])];
console.log(`${side} x ${side}, module with ${available} threads, ${rounds} rounds, medians (load average ${os.loadavg().map((v) => v.toFixed(2)).join(' ')})`);
console.log(`1 thread    ${one.toFixed(3)} s`);
console.log(`${most} threads   ${many.toFixed(3)} s`);
console.log(`speed-up    ${(one / many).toFixed(2)}x; every call wrote the same bytes`);
