// analyseFrame per frame in WebAssembly (kelvatone-frame-bench.wasm) under Node: for each
// frame length, the median over REPETITIONS runs of the process's CPU time per frame, as
// the native Google benchmark reports it. Prints one line per length:
//   RESULT wasm_analyse/N median_us X
// usage: node bench/web/frame-bench.js MODULE.wasm [REPETITIONS]
"use strict";
const { fail: failAs, loadModule } = require("./wasm-module.js");

const LENGTHS = [2048, 4096, 8192];
// Frames per timed run: enough CPU time (tens of ms) for the clock's resolution.
const FRAMES = { 2048: 2000, 4096: 1000, 8192: 500 };
// CPU time analysed before the timed runs of a length, as the native benchmark's minimum
// time: V8 first runs a module's code from its baseline compiler and compiles the optimised
// code on another thread, whose CPU time the process's clock counts too.
const WARM_UP_MICROSECONDS = 200000;

const fail = (message) => failAs("frame-bench", message);

// Analyses frames of the prepared length until WARM_UP_MICROSECONDS of CPU time have passed:
// the optimised code and the caches settle first.
function warmUp(wasm, n) {
  const start = process.cpuUsage();
  for (;;) {
    wasm.kv_bench_frames(FRAMES[n]);
    const used = process.cpuUsage(start);
    if (used.user + used.system >= WARM_UP_MICROSECONDS) return;
  }
}

function main(argv) {
  if (argv.length < 1 || argv[0] === "--help") {
    process.stdout.write("usage: node bench/web/frame-bench.js MODULE.wasm [REPETITIONS]\n");
    process.exit(argv.length < 1 ? 2 : 0);
  }
  const repetitions = Number(argv[1] || 5);
  if (!(repetitions >= 1)) fail("REPETITIONS must be a positive number");
  const wasm = loadModule("frame-bench", argv[0]);
  for (const n of LENGTHS) {
    wasm.kv_bench_prepare(n);
    warmUp(wasm, n);
    const perFrame = [];
    for (let r = 0; r < repetitions; r += 1) {
      const before = process.cpuUsage();
      wasm.kv_bench_frames(FRAMES[n]);
      const used = process.cpuUsage(before);
      perFrame.push((used.user + used.system) / FRAMES[n]);
    }
    perFrame.sort((a, b) => a - b);
    console.log("RESULT wasm_analyse/" + n + " median_us " + perFrame[Math.floor(perFrame.length / 2)].toFixed(2));
  }
}

main(process.argv.slice(2));
