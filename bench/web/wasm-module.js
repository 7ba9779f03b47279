// What the Node benchmarks of the web build share: a one-line error with exit status 2,
// and a standalone module of ours instantiated as the page instantiates it.
"use strict";
const fs = require("fs");

// Prints "NAME: message" on stderr and exits with status 2.
function fail(name, message) {
  process.stderr.write(name + ": " + message + "\n");
  process.exit(2);
}

// The exports of the module at path, initialised; fails (as `name`) when it cannot be read.
function loadModule(name, path) {
  let bytes;
  try {
    bytes = fs.readFileSync(path);
  } catch (error) {
    fail(name, "cannot read " + path);
  }
  const imports = {
    wasi_snapshot_preview1: { clock_time_get: () => 0, proc_exit: () => fail(name, "the module stopped") },
  };
  const wasm = new WebAssembly.Instance(new WebAssembly.Module(bytes), imports).exports;
  wasm._initialize();
  return wasm;
}

module.exports = { fail, loadModule };
