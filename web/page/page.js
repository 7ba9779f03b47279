// Kelvatone Live: the page around the WebAssembly module. The module does the work (the
// analysis in the worklet; parameters, model and picture here); this script only wires
// the browser to it: microphone, worklet, canvas, controls, saved settings and messages.
"use strict";

const WIDTH = 640;
const HEIGHT = 360;
const PARAMETERS = 6;
const COLUMN_WORDS = 5;
const RING_COLUMNS = 64;
// The slider's steps over a parameter's 0..1: finer than any of the parameters' texts.
const SLIDER_STEPS = 1000;
const STORAGE_KEY = "kelvatone.parameters";
// A part's event as the module lays it out: seconds (float64), status, note, velocity.
const PART_EVENT_BYTES = 16;
// How long the audio output may take to start before the page says it has not.
const AUDIO_START_MS = 4000;
const AUDIO_OUTPUT_MESSAGE = "The browser's audio output did not start: connect speakers or headphones (the analysis runs on the audio output's clock) and press Start again.";

const page = {
  wasm: null,       // the main thread's instance of the module
  wasmBytes: null,  // the module, handed to the worklet
  context: null,    // the AudioContext, once started
  node: null,       // the AudioWorkletNode
  stream: null,     // the microphone's MediaStream
  ring: null,       // the shared ring of columns, when cross-origin isolated
  ringRead: 0,      // columns of the ring taken so far
  image: null,      // ImageData over the module's picture
  sliders: [],
  heard: null,      // for the tests: the pitch of every column since kelvatoneTest.listen()
  part: null,       // the MIDI part read last (the module's event records), or null
  partEnd: 0,       // while the part plays: the context time at which it ends
};

function element(id) {
  return document.getElementById(id);
}

function showError(text) {
  const box = element("error");
  box.textContent = text;
  box.hidden = !text;
}

function moduleText(pointer) {
  const bytes = new Uint8Array(page.wasm.memory.buffer, pointer);
  let end = 0;
  while (bytes[end] !== 0) end += 1;
  return new TextDecoder().decode(bytes.subarray(0, end));
}

function base64Bytes(text) {
  const binary = atob(text.trim());
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i += 1) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

async function instantiate(bytes) {
  const imports = {
    wasi_snapshot_preview1: {
      clock_time_get: () => 0,
      proc_exit: () => { throw new Error("the module stopped"); },
    },
  };
  const { instance } = await WebAssembly.instantiate(bytes, imports);
  instance.exports._initialize();
  return instance.exports;
}

// ---- Parameters: names, texts and mapping are the module's (the plug-in's own) ----

function savedParameters() {
  try {
    const values = JSON.parse(localStorage.getItem(STORAGE_KEY) || "null");
    return Array.isArray(values) && values.length === PARAMETERS ? values : null;
  } catch (error) {
    return null;
  }
}

function saveParameters() {
  const values = [];
  for (let i = 0; i < PARAMETERS; i += 1) values.push(page.wasm.kv_display_parameter(i));
  try {
    localStorage.setItem(STORAGE_KEY, JSON.stringify(values));
  } catch (error) {
    // Storage may be off (private windows, opened from disk in some browsers): the
    // settings then last for this visit only.
  }
}

// Shows every parameter as the module now holds it (one change may move another:
// AnaBegin and AnaEnd stay an octave apart).
function refreshParameters() {
  for (let i = 0; i < PARAMETERS; i += 1) {
    const value = page.wasm.kv_display_parameter(i);
    page.sliders[i].input.value = String(Math.round(value * SLIDER_STEPS));
    page.sliders[i].text.textContent = moduleText(page.wasm.kv_display_parameter_text(i));
  }
}

function setParameter(index, value) {
  page.wasm.kv_display_set_parameter(index, value);
  if (page.node) {
    // Every parameter goes again: the audio side then holds exactly what this side holds.
    for (let i = 0; i < PARAMETERS; i += 1)
      page.node.port.postMessage({ parameter: i, value: page.wasm.kv_display_parameter(i) });
  }
  refreshParameters();
  saveParameters();
}

function buildParameters() {
  const holder = element("parameters");
  for (let i = 0; i < PARAMETERS; i += 1) {
    const row = document.createElement("label");
    const name = document.createElement("span");
    name.className = "name";
    name.textContent = moduleText(page.wasm.kv_display_parameter_name(i));
    const input = document.createElement("input");
    input.type = "range";
    input.min = "0";
    input.max = String(SLIDER_STEPS);
    input.id = "parameter-" + i;
    const text = document.createElement("span");
    text.className = "value";
    input.addEventListener("input", () => setParameter(i, Number(input.value) / SLIDER_STEPS));
    row.append(name, input, text);
    holder.append(row);
    page.sliders.push({ input, text });
  }
  const saved = savedParameters();
  if (saved) saved.forEach((value, i) => page.wasm.kv_display_set_parameter(i, value));
  refreshParameters();
}

// ---- The display ----

function addColumn(words) {
  if (page.heard) page.heard.push(words[0]);
  new Int32Array(page.wasm.memory.buffer, page.wasm.kv_display_column(), COLUMN_WORDS).set(words);
  page.wasm.kv_display_add_column();
}

function takeRingColumns() {
  const written = Atomics.load(page.ring, 0);
  // A page that fell behind by more than the ring keeps the newest columns.
  page.ringRead = Math.max(page.ringRead, written - RING_COLUMNS);
  for (; page.ringRead < written; page.ringRead += 1) {
    const at = 1 + (page.ringRead % RING_COLUMNS) * COLUMN_WORDS;
    addColumn(page.ring.subarray(at, at + COLUMN_WORDS));
  }
}

function drawFrame() {
  if (page.ring) takeRingColumns();
  if (page.partEnd && page.context.currentTime >= page.partEnd) showPlaying(false);
  if (page.wasm.kv_display_draw()) {
    element("display").getContext("2d").putImageData(page.image, 0, 0);
    element("readout").textContent = moduleText(page.wasm.kv_display_readout());
  }
  requestAnimationFrame(drawFrame);
}

function clickDisplay(event) {
  const canvas = element("display");
  const box = canvas.getBoundingClientRect();
  const x = Math.floor((event.clientX - box.left) * WIDTH / box.width);
  const y = Math.floor((event.clientY - box.top) * HEIGHT / box.height);
  const held = page.wasm.kv_display_click(x, y) === 1;
  if (page.node) page.node.port.postMessage({ hold: held });
}

// ---- The microphone and the worklet ----

function workletUrl() {
  const source = element("kelvatone-worklet").textContent;
  return "data:text/javascript;base64," + btoa(source);
}

function microphoneMessage(error) {
  if (error && (error.name === "NotAllowedError" || error.name === "SecurityError"))
    return "The microphone was refused. Allow this page to use it (the icon in the address bar) and press Start again.";
  if (error && (error.name === "NotFoundError" || error.name === "OverconstrainedError"))
    return "No audio input device was found. Connect a microphone and press Start again.";
  return "The microphone could not be opened: " + (error && error.message ? error.message : error);
}

async function openMicrophone() {
  const deviceId = element("device").value;
  const audio = { echoCancellation: false, noiseSuppression: false, autoGainControl: false };
  if (deviceId) audio.deviceId = { exact: deviceId };
  return navigator.mediaDevices.getUserMedia({ audio });
}

async function listDevices() {
  const picker = element("device");
  const chosen = picker.value;
  const devices = (await navigator.mediaDevices.enumerateDevices()).filter((d) => d.kind === "audioinput");
  picker.replaceChildren();
  const first = document.createElement("option");
  first.value = "";
  first.textContent = "Default input";
  picker.append(first);
  devices.forEach((device, i) => {
    const option = document.createElement("option");
    option.value = device.deviceId;
    option.textContent = device.label || "Input " + (i + 1);
    picker.append(option);
  });
  picker.value = chosen;
}

// The audio context's rate: the device's, unless the address asks for one ("#rate=48000"),
// which the rate converter then brings to the analysis rate as a host's rate is.
function contextOptions() {
  const rate = Number(new URLSearchParams(location.hash.slice(1)).get("rate"));
  return rate > 0 ? { sampleRate: rate } : {};
}

async function startWorklet() {
  page.context = new AudioContext(contextOptions());
  await page.context.audioWorklet.addModule(workletUrl());
  const ring = typeof SharedArrayBuffer !== "undefined" && self.crossOriginIsolated
    ? new SharedArrayBuffer(4 * (1 + RING_COLUMNS * COLUMN_WORDS)) : null;
  page.node = new AudioWorkletNode(page.context, "kelvatone", {
    numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [1],
    processorOptions: { wasm: page.wasmBytes, ring },
  });
  if (ring) page.ring = new Int32Array(ring);
  page.node.port.onmessage = (event) => {
    if (event.data instanceof Int32Array) addColumn(event.data);
    else if (event.data.ready === false) showError("This browser's audio rate (" + event.data.rate + " Hz) cannot be analysed.");
  };
  for (let i = 0; i < PARAMETERS; i += 1)
    page.node.port.postMessage({ parameter: i, value: page.wasm.kv_display_parameter(i) });
  if (page.part) page.node.port.postMessage({ part: page.part });
  page.node.port.postMessage({ guide: element("guide").checked });
  page.node.connect(page.context.destination);
}

// Starts the audio context. Firefox with no audio output device keeps it suspended and
// never settles resume() (the analysis runs on the output's clock): after a while the
// page says so, and takes the message back should the output start after all.
async function resumeAudio() {
  const timer = setTimeout(() => showError(AUDIO_OUTPUT_MESSAGE), AUDIO_START_MS);
  await page.context.resume();
  clearTimeout(timer);
  if (element("error").textContent === AUDIO_OUTPUT_MESSAGE) showError("");
}

async function start() {
  showError("");
  if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
    showError("This browser gives no access to a microphone here.");
    return;
  }
  try {
    const devices = await navigator.mediaDevices.enumerateDevices();
    if (!devices.some((d) => d.kind === "audioinput")) {
      showError(microphoneMessage({ name: "NotFoundError" }));
      return;
    }
    const stream = await openMicrophone();
    if (!page.node) await startWorklet();
    if (page.stream) page.stream.getTracks().forEach((track) => track.stop());
    page.stream = stream;
    page.context.createMediaStreamSource(stream).connect(page.node);
    await resumeAudio();
    await listDevices();
    element("start").textContent = "Restart";
    element("status").textContent = "Listening at " + page.context.sampleRate + " Hz";
  } catch (error) {
    showError(microphoneMessage(error));
  }
}

// ---- MIDI keyboards ----

async function startMidi() {
  if (!navigator.requestMIDIAccess) {
    showError("This browser has no Web MIDI, so no MIDI keyboard can be used here (Chromium-based browsers and Firefox have it).");
    return;
  }
  try {
    const access = await navigator.requestMIDIAccess();
    const listen = () => access.inputs.forEach((input) => { input.onmidimessage = (event) => midi(event.data); });
    listen();
    access.onstatechange = listen;
    element("midi-status").textContent = access.inputs.size + " MIDI input(s)";
  } catch (error) {
    showError("MIDI was refused: " + (error && error.message ? error.message : error));
  }
}

// Note-on and note-off reach the plug-in's MIDI input on the audio side.
function midi(bytes) {
  if (page.node && bytes.length >= 3) page.node.port.postMessage({ midi: [bytes[0], bytes[1], bytes[2]] });
}

// ---- A MIDI file as the part to sing against ----

// The module's own MIDI reader reads the file here; the part then goes to the worklet in
// one message, which plays it into the plug-in's MIDI input in step with the audio. A
// file it cannot read changes nothing.
async function loadPart(file) {
  showError("");
  const bytes = new Uint8Array(await file.arrayBuffer());
  const capacity = page.wasm.kv_midi_file_capacity();
  if (bytes.length > capacity) {
    showError(file.name + " cannot be used as a part: it is larger than " + capacity / 1048576 + " MB.");
    return;
  }
  new Uint8Array(page.wasm.memory.buffer, page.wasm.kv_midi_file(), bytes.length).set(bytes);
  const count = page.wasm.kv_midi_read(bytes.length);
  if (count < 0) {
    showError(file.name + " cannot be used as a part: " + moduleText(page.wasm.kv_midi_error()) + ".");
    return;
  }
  page.part = new Uint8Array(page.wasm.memory.buffer, page.wasm.kv_midi_part(), count * PART_EVENT_BYTES).slice();
  showPlaying(false);
  if (page.node) page.node.port.postMessage({ part: page.part });
  const seconds = new DataView(page.part.buffer).getFloat64((count - 1) * PART_EVENT_BYTES, true);
  element("part-status").textContent = file.name + ", " + seconds.toFixed(1) + " s";
  element("play").disabled = false;
}

function showPlaying(playing) {
  page.partEnd = 0;
  element("play").textContent = playing ? "Stop" : "Play";
}

// Play starts the part from its beginning (and the microphone, if not yet started); Stop
// releases its notes.
async function playOrStop() {
  if (page.partEnd) {
    page.node.port.postMessage({ play: false });
    showPlaying(false);
    return;
  }
  if (!page.node) await start();
  if (!page.node || !page.part) return;
  page.node.port.postMessage({ play: true });
  showPlaying(true);
  const last = new DataView(page.part.buffer).getFloat64(page.part.length - PART_EVENT_BYTES, true);
  page.partEnd = page.context.currentTime + last;
}

// ---- Start-up ----

async function main() {
  page.wasmBytes = base64Bytes(element("kelvatone-wasm").textContent);
  page.wasm = await instantiate(page.wasmBytes);
  page.wasm.kv_display_create();
  page.image = new ImageData(
    new Uint8ClampedArray(page.wasm.memory.buffer, page.wasm.kv_display_pixels(), WIDTH * HEIGHT * 4),
    WIDTH, HEIGHT);
  buildParameters();
  element("display").addEventListener("click", clickDisplay);
  element("start").addEventListener("click", start);
  element("midi").addEventListener("click", startMidi);
  element("part-file").addEventListener("change", (event) => {
    if (event.target.files.length > 0) loadPart(event.target.files[0]);
  });
  element("play").addEventListener("click", playOrStop);
  element("guide").addEventListener("change", () => {
    if (page.node) page.node.port.postMessage({ guide: element("guide").checked });
  });
  element("device").addEventListener("change", () => { if (page.node) start(); });
  requestAnimationFrame(drawFrame);
  document.body.dataset.ready = "1";
}

// Hooks for the page's tests: a history drawn without audio, a MIDI message as a
// keyboard would send it, a MIDI file as if chosen (base64), and what the page shows.
window.kelvatoneTest = {
  setShownColumns(columns, latest) {
    columns.forEach((words, i) => {
      new Int32Array(page.wasm.memory.buffer, page.wasm.kv_display_column(), COLUMN_WORDS).set(words);
      page.wasm.kv_display_set_column(i);
    });
    page.wasm.kv_display_set_result(latest);
  },
  midi,
  loadPart: (name, base64) => loadPart(new File([base64Bytes(base64)], name)),
  listen: () => { page.heard = []; },
  heard: () => page.heard,
  readout: () => element("readout").textContent,
  error: () => element("error").hidden ? "" : element("error").textContent,
};

main().catch((error) => showError("Kelvatone could not start: " + error));
