// The worklet's work per 128-frame render quantum, in Node on the page's own module
// (kelvatone.wasm): what KelvatoneProcessor.process does besides copying the input, that is
// kv_audio_process on a 48 kHz stream (a 440 Hz tone with a 5.5 Hz vibrato, so that frames
// are voiced and analysed every 1600 samples), each quantum timed with the wall clock.
// Prints: RESULT wasm_quantum median_us M p99_us P p999_us Q max_us X period_us T
// usage: node bench/web/quantum-bench.js kelvatone.wasm [SECONDS]
"use strict";
const { fail: failAs, loadModule } = require("./wasm-module.js");

const RATE = 48000;
const QUANTUM = 128;

const fail = (message) => failAs("quantum-bench", message);

function percentile(sorted, share) {
  return sorted[Math.min(sorted.length - 1, Math.floor(share * sorted.length))];
}

function main(argv) {
  if (argv.length < 1 || argv[0] === "--help") {
    process.stdout.write("usage: node bench/web/quantum-bench.js kelvatone.wasm [SECONDS]\n");
    process.exit(argv.length < 1 ? 2 : 0);
  }
  const seconds = Number(argv[1] || 60);
  if (!(seconds > 0)) fail("SECONDS must be a positive number");
  const wasm = loadModule("quantum-bench", argv[0]);
  if (wasm.kv_audio_create(RATE) !== 1) fail("the module refused " + RATE + " Hz");
  const input = new Float32Array(wasm.memory.buffer, wasm.kv_audio_input(), QUANTUM);
  const quanta = Math.floor(seconds * RATE / QUANTUM);
  const times = new Float64Array(quanta);
  let phase = 0;
  for (let q = 0; q < quanta; q += 1) {
    for (let i = 0; i < QUANTUM; i += 1) {
      const t = (q * QUANTUM + i) / RATE;
      phase += 2 * Math.PI * 440 * Math.pow(2, 0.3 / 12 * Math.sin(2 * Math.PI * 5.5 * t)) / RATE;
      input[i] = 0.3 * Math.sin(phase);
    }
    const start = process.hrtime.bigint();
    wasm.kv_audio_process(QUANTUM);
    times[q] = Number(process.hrtime.bigint() - start) / 1000;
  }
  const sorted = Array.from(times).sort((a, b) => a - b);
  console.log(["RESULT wasm_quantum", "median_us", percentile(sorted, 0.5).toFixed(2),
               "p99_us", percentile(sorted, 0.99).toFixed(2), "p999_us", percentile(sorted, 0.999).toFixed(2),
               "max_us", sorted[sorted.length - 1].toFixed(2),
               "period_us", (1e6 * QUANTUM / RATE).toFixed(2)].join(" "));
}

main(process.argv.slice(2));
