// The web build's real transform (its WebAssembly SIMD stages) against the packed spectrum
// and the inverse evaluated here from their defining sums (analysis/RealFft.h), at the
// short lengths and at the engine's frame lengths. Exits 0 when every value agrees, 1 with
// the first disagreement, 77 (skipped) without the module, 2 on bad arguments.
// usage: node tests/web/real-fft-wasm-test.js kelvatone-real-fft-check.wasm
"use strict";
const fs = require("fs");

const SKIPPED = 77;
const LENGTHS = [2, 4, 8, 16, 32, 64, 128, 1024, 2048, 4096, 8192];
// Rounding error of the fast transform relative to the largest magnitude of the expected
// values: the native tests' tolerance.
const RELATIVE_TOLERANCE = 1e-12;

// A reproducible signal in -1..1 (a linear congruential generator).
function randomSignal(n, seed) {
  const x = new Float64Array(n);
  let state = seed >>> 0;
  for (let j = 0; j < n; j += 1) {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    x[j] = state / 2147483648 - 1;
  }
  return x;
}

// cos and sin of 2 pi m / n for m = 0 .. n-1, so that the sums use exact angles.
function unitCircle(n) {
  const cos = new Float64Array(n);
  const sin = new Float64Array(n);
  for (let m = 0; m < n; m += 1) {
    cos[m] = Math.cos((2 * Math.PI * m) / n);
    sin[m] = Math.sin((2 * Math.PI * m) / n);
  }
  return { cos, sin };
}

// The packed spectrum of x from its definition.
function directForward(x, circle) {
  const n = x.length;
  const a = new Float64Array(n);
  for (let j = 0; j < n; j += 1) {
    a[0] += x[j];
    a[1] += j % 2 === 0 ? x[j] : -x[j];
  }
  for (let k = 1; k < n / 2; k += 1) {
    let re = 0;
    let im = 0;
    for (let j = 0, m = 0; j < n; j += 1, m = (m + k) % n) {
      re += x[j] * circle.cos[m];
      im += x[j] * circle.sin[m];
    }
    a[2 * k] = re;
    a[2 * k + 1] = im;
  }
  return a;
}

// The unnormalised inverse of a packed spectrum from its definition.
function directInverse(a, circle) {
  const n = a.length;
  const x = new Float64Array(n);
  for (let j = 0; j < n; j += 1) {
    let sum = (a[0] + (j % 2 === 0 ? a[1] : -a[1])) / 2;
    for (let k = 1, m = j; k < n / 2; k += 1, m = (m + j) % n)
      sum += a[2 * k] * circle.cos[m] + a[2 * k + 1] * circle.sin[m];
    x[j] = sum;
  }
  return x;
}

function largestMagnitude(values) {
  return values.reduce((largest, v) => Math.max(largest, Math.abs(v)), 0);
}

// The first index where actual and expected differ by more than the tolerance, or -1.
function firstDisagreement(actual, expected) {
  const tolerance = RELATIVE_TOLERANCE * Math.max(1, largestMagnitude(expected));
  return actual.findIndex((value, i) => !(Math.abs(value - expected[i]) <= tolerance));
}

function loadModule(path) {
  const imports = { wasi_snapshot_preview1: { proc_exit: () => {}, clock_time_get: () => 0 } };
  const instance = new WebAssembly.Instance(new WebAssembly.Module(fs.readFileSync(path)), imports);
  instance.exports._initialize();
  return instance.exports;
}

// The module's transform of `input` (a copy) in `direction`.
function moduleTransform(wasm, input, direction) {
  const data = new Float64Array(wasm.memory.buffer, wasm.kv_fft_data(), input.length);
  data.set(input);
  if (wasm.kv_fft_run(input.length, direction) !== 0) throw new Error("length refused: " + input.length);
  return Float64Array.from(data);
}

function main(argv) {
  if (argv.length !== 1 || argv[0] === "--help") {
    process.stdout.write("usage: node tests/web/real-fft-wasm-test.js MODULE.wasm\n");
    process.exit(argv[0] === "--help" ? 0 : 2);
  }
  if (!fs.existsSync(argv[0])) {
    console.log("real-fft-wasm-test: no " + argv[0] + " (make web builds it): skipped");
    process.exit(SKIPPED);
  }
  const wasm = loadModule(argv[0]);
  let failures = 0;
  for (const n of LENGTHS) {
    const circle = unitCircle(n);
    const signal = randomSignal(n, 17 + n);
    const spectrum = randomSignal(n, 91 + n);
    const checks = [
      ["forward", moduleTransform(wasm, signal, 1), directForward(signal, circle)],
      ["inverse", moduleTransform(wasm, spectrum, -1), directInverse(spectrum, circle)],
    ];
    for (const [name, actual, expected] of checks) {
      const index = firstDisagreement(actual, expected);
      if (index >= 0) {
        console.log(`FAIL n ${n} ${name}: index ${index} is ${actual[index]}, expected ${expected[index]}`);
        failures += 1;
      }
    }
  }
  if (wasm.kv_fft_run(3 * 1024, 1) !== 1) {
    console.log("FAIL a length that is not a power of two was accepted");
    failures += 1;
  }
  console.log(failures === 0 ? `real-fft-wasm-test: ${LENGTHS.length} lengths agree` : `${failures} failures`);
  process.exit(failures === 0 ? 0 : 1);
}

main(process.argv.slice(2));
