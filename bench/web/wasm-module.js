// What the Node benchmarks of the web build share: a one-line error with exit status 2,
// and a standalone module of ours instantiated as the page instantiates it.
"use strict";
const fs = require("fs");

const MODULE_PAGES = 512;
// WASI's "function not supported": the modules write no file.
const NOT_SUPPORTED = 52;

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
  // A module that takes its memory is given its own 32 MiB, sized once, as the page gives it.
  const memory = new WebAssembly.Memory({ initial: MODULE_PAGES, maximum: MODULE_PAGES });
  const imports = {
    env: { memory, emscripten_notify_memory_growth: () => {} },
    wasi_snapshot_preview1: {
      clock_time_get: () => 0, fd_close: () => NOT_SUPPORTED, fd_seek: () => NOT_SUPPORTED,
      fd_write: () => NOT_SUPPORTED, proc_exit: () => fail(name, "the module stopped"),
    },
  };
  const exports = new WebAssembly.Instance(new WebAssembly.Module(bytes), imports).exports;
  const wasm = exports.memory ? exports : Object.assign({ memory }, exports);
  wasm._initialize();
  return wasm;
}

module.exports = { fail, loadModule };
