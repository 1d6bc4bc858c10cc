// One upscale() of the npm package in this Node process, timed: the helper
// of bench/wasm_vs_native.
//
//   node bench/wasm_call.mjs in.raw out.raw width height [threads]
//
// Loads the module and warms it on a small image (compiling the module is
// not the call), then upscales in.raw (8-bit samples) into out.raw on the
// given threads (default 1) and prints the call's processor seconds and
// wall seconds.
import fs from 'node:fs';

import { upscale } from '../js/index.js';

const [input, output, width, height, threads = '1'] = process.argv.slice(2);
const pixels = new Uint8Array(fs.readFileSync(input));
await upscale(new Uint8Array(64 * 64).map((_, i) => i * 7), 64, 64);
const cpu = process.cpuUsage();
const start = performance.now();
const result = await upscale(pixels, Number(width), Number(height), { threads: Number(threads) });
const wall = (performance.now() - start) / 1000;
const { user, system } = process.cpuUsage(cpu);
fs.writeFileSync(output, result);
console.log(((user + system) / 1e6).toFixed(6), wall.toFixed(6));
