// Kelvatone Live: the page around the WebAssembly module. The module does the work (the
// analysis in the worklet; parameters, model and picture here; a take's report in an
// instance of its own); this script only wires the browser to it: microphone, worklet,
// canvas, controls, files, saved settings and messages.
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
// A recorded frame as the module reads it: seconds (float64), then the frame's column.
const RECORDED_FRAME_BYTES = 32;
const RECORDED_COLUMN_OFFSET = 8;
// How long the audio output may take to start before the page says it has not.
const AUDIO_START_MS = 4000;
const AUDIO_OUTPUT_MESSAGE = "The browser's audio output did not start: connect speakers or headphones (the analysis runs on the audio output's clock) and press Start again.";
// The module's memory: its own 32 MiB in 64 KiB pages, given once and never grown; a
// take's report instance gets room for the take on top, and this for its working data
// (engine, report page, notes).
const MODULE_PAGES = 512;
const WASM_PAGE_BYTES = 65536;
const REPORT_WORKING_BYTES = 16 << 20;
// WASI's "function not supported": the module writes no file.
const NOT_SUPPORTED = 52;
// A file's rate when its header names none the module knows: the analysis rate.
const FALLBACK_RATE = 44100;
const MIDI_NAME = /\.midi?$/i;

const page = {
  wasm: null,       // the main thread's instance of the module
  memory: null,     // its memory
  wasmBytes: null,  // the module, handed to the worklet
  module: null,     // the module compiled, for each take's report
  take: null,       // while Record runs: the take's samples and the notes meant so far
  downloads: {},    // the last report's files by link id, as Blobs
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

function moduleText(pointer, memory = page.memory) {
  const bytes = new Uint8Array(memory.buffer, pointer);
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

// An instance of the compiled module in memory of `pages` pages, sized once.
async function instantiate(pages) {
  const memory = new WebAssembly.Memory({ initial: pages, maximum: pages });
  const imports = {
    env: { memory, emscripten_notify_memory_growth: () => {} },
    wasi_snapshot_preview1: {
      clock_time_get: () => 0,
      fd_close: () => NOT_SUPPORTED,
      fd_seek: () => NOT_SUPPORTED,
      fd_write: () => NOT_SUPPORTED,
      proc_exit: () => { throw new Error("the module stopped"); },
    },
  };
  const instance = await WebAssembly.instantiate(page.module, imports);
  instance.exports._initialize();
  return { wasm: instance.exports, memory };
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
  new Int32Array(page.memory.buffer, page.wasm.kv_display_column(), COLUMN_WORDS).set(words);
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
    element("live-readout").textContent = moduleText(page.wasm.kv_display_readout());
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
    if (Array.isArray(event.data)) addColumn(event.data);
    else if (event.data.take) takeSamples(event.data);
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
  new Uint8Array(page.memory.buffer, page.wasm.kv_midi_file(), bytes.length).set(bytes);
  const count = page.wasm.kv_midi_read(bytes.length);
  if (count < 0) {
    showError(file.name + " cannot be used as a part: " + moduleText(page.wasm.kv_midi_error()) + ".");
    return;
  }
  page.part = new Uint8Array(page.memory.buffer, page.wasm.kv_midi_part(), count * PART_EVENT_BYTES).slice();
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

// ---- Takes and their report ----

// A take's report, made by the module in an instance of its own with memory for the take:
// take = { name, rate, channels (Float32Arrays), partName and partBytes (a MIDI file) or
// events (the notes meant, as the module's event records), withWav }. Throws an Error with
// a plain message.
async function takeReport(take) {
  const frames = take.channels[0].length;
  const maximum = page.wasm.kv_take_max_samples();
  if (frames > maximum)
    throw new Error(take.name + " cannot be reported: it is longer than a take can be (" +
                    Math.floor(maximum / take.rate / 60) + " minutes at " + take.rate + " Hz).");
  const room = page.wasm.kv_take_room(frames) + REPORT_WORKING_BYTES;
  const { wasm, memory } = await instantiate(MODULE_PAGES + Math.ceil(room / WASM_PAGE_BYTES));
  const failure = (what) => new Error(what + ": " + moduleText(wasm.kv_take_error(), memory) + ".");
  if (!wasm.kv_take_begin(take.rate, frames)) throw failure(take.name + " cannot be reported");
  if (take.partBytes) {
    new Uint8Array(memory.buffer, wasm.kv_midi_file(), take.partBytes.length).set(take.partBytes);
    if (!wasm.kv_take_part_file(take.partBytes.length))
      throw failure(take.partName + " cannot be used as the take's part");
  } else if (take.frames) {
    writeRecordedFrames(take.frames, wasm, memory);
    wasm.kv_take_recorded_part();
  }
  const block = wasm.kv_take_block_frames();
  const blocks = take.channels.slice(0, 2).map((_, c) => new Float32Array(memory.buffer, wasm.kv_take_block(c), block));
  for (let at = 0; at < frames; at += block) {
    const count = Math.min(block, frames - at);
    blocks.forEach((into, c) => into.set(take.channels[c].subarray(at, at + count)));
    wasm.kv_take_push(count, blocks.length);
  }
  const names = new TextEncoder().encode(take.name + "\0" + (take.partName || "") + "\0");
  new Uint8Array(memory.buffer, wasm.kv_midi_file(), names.length).set(names);
  if (!wasm.kv_take_finish(take.withWav ? 1 : 0)) throw failure(take.name + " cannot be reported");
  const bytes = (pointer, size) => new Uint8Array(memory.buffer, pointer, size).slice();
  return {
    page: new TextDecoder().decode(bytes(wasm.kv_take_report(), wasm.kv_take_report_size())),
    midi: new Blob([bytes(wasm.kv_take_midi(), wasm.kv_take_midi_size())], { type: "audio/midi" }),
    wav: take.withWav ? new Blob([bytes(wasm.kv_take_wav(), wasm.kv_take_wav_size())], { type: "audio/wav" }) : null,
  };
}

function clearReport() {
  const box = element("report");
  delete box.dataset.ready;
  box.replaceChildren();
  box.hidden = true;
  element("downloads").hidden = true;
}

// The report page inside #report: its style kept to #report, its body, and its script run
// with a document that is #report.
function showReport(html) {
  const report = new DOMParser().parseFromString(html, "text/html");
  const box = element("report");
  const style = document.createElement("style");
  style.textContent = "#report {\n" + Array.from(report.querySelectorAll("style"), (s) => s.textContent).join("\n") + "\n}";
  const code = Array.from(report.querySelectorAll("script:not([type])"), (script) => {
    script.remove();
    return script.textContent;
  }).join("\n");
  box.replaceChildren(style, ...Array.from(report.body.childNodes, (node) => document.importNode(node, true)));
  window.kelvatoneReportDocument = {
    getElementById: (id) => box.querySelector("#" + CSS.escape(id)),
    querySelector: (selector) => box.querySelector(selector),
    createElement: (name) => document.createElement(name),
  };
  box.hidden = false;
  const script = document.createElement("script");
  script.textContent = "(function (document) {\n" + code + "\n})(window.kelvatoneReportDocument);";
  box.append(script);
  box.dataset.ready = "1";
}

function offer(id, blob) {
  const link = element(id);
  if (link.href) URL.revokeObjectURL(link.href);
  page.downloads[id] = blob;
  link.hidden = !blob;
  if (blob) link.href = URL.createObjectURL(blob);
}

async function reportTake(take) {
  showError("");
  clearReport();
  element("take-status").textContent = "Analysing " + take.name + " …";
  try {
    const result = await takeReport(take);
    showReport(result.page);
    offer("take-wav", result.wav);
    offer("take-midi", result.midi);
    element("downloads").hidden = false;
    element("take-status").textContent = take.name;
  } catch (error) {
    element("take-status").textContent = "";
    showError(error.message);
  }
}

// The samples of an audio file at the file's own rate: the browser decodes it in a
// context at the rate its header states (the module reads the header), so that it
// reaches the analysis unconverted, as kelvatone-analyse reads the file.
async function decodeAudio(file) {
  const bytes = await file.arrayBuffer();
  const head = new Uint8Array(bytes, 0, Math.min(bytes.byteLength, page.wasm.kv_midi_file_capacity()));
  new Uint8Array(page.memory.buffer, page.wasm.kv_midi_file(), head.length).set(head);
  const rate = page.wasm.kv_file_rate(head.length) || FALLBACK_RATE;
  let context;
  try {
    context = new OfflineAudioContext(1, 1, rate);
  } catch (error) {
    throw new Error(file.name + " cannot be reported: this browser decodes no audio at its rate, " + rate + " Hz.");
  }
  try {
    const audio = await context.decodeAudioData(bytes);
    const channels = [];
    for (let c = 0; c < Math.min(audio.numberOfChannels, 2); c += 1) channels.push(audio.getChannelData(c));
    return { rate: audio.sampleRate, channels };
  } catch (error) {
    throw new Error(file.name + " cannot be decoded by this browser: it is no audio file in a format it reads (WAV, FLAC, OGG, MP3).");
  }
}

// Dropped or chosen files: one audio file, and optionally its MIDI part.
async function reportFiles(files) {
  const list = Array.from(files);
  const audio = list.find((file) => !MIDI_NAME.test(file.name));
  const part = list.find((file) => MIDI_NAME.test(file.name));
  clearReport();
  if (!audio) {
    showError("Drop an audio file (WAV, FLAC, OGG, MP3) for its report, with its MIDI part (.mid) if it has one.");
    return;
  }
  showError("");
  try {
    const decoded = await decodeAudio(audio);
    const partBytes = part ? new Uint8Array(await part.arrayBuffer()) : null;
    if (partBytes && partBytes.length > page.wasm.kv_midi_file_capacity())
      throw new Error(part.name + " cannot be used as the take's part: it is larger than 1 MB.");
    await reportTake({ name: audio.name, ...decoded, partName: part ? part.name : "", partBytes, withWav: false });
  } catch (error) {
    showError(error.message);
  }
}

// ---- Record and Stop ----

// The recorded take's frames, each its time and its column, where the module turns the
// notes held at them into the take's part.
function writeRecordedFrames(frames, wasm, memory) {
  const at = wasm.kv_take_recorded_frames(frames.length);
  const view = new DataView(memory.buffer, at, frames.length * RECORDED_FRAME_BYTES);
  frames.forEach((frame, i) => {
    view.setFloat64(i * RECORDED_FRAME_BYTES, frame.seconds, true);
    new Int32Array(memory.buffer, at + i * RECORDED_FRAME_BYTES + RECORDED_COLUMN_OFFSET, COLUMN_WORDS).set(frame.column);
  });
}

function takeSamples(data) {
  const take = page.take;
  if (!take) return;
  take.chunks.push(data.take);
  take.samples += data.take.length;
  take.lost = data.lost;
  take.frames.push({ seconds: take.samples / take.rate, column: data.column });
  if (data.end) finishRecording();
  else if (take.samples >= page.wasm.kv_take_max_samples()) {
    take.full = true;
    page.node.port.postMessage({ record: false });
  }
}

async function finishRecording() {
  const take = page.take;
  page.take = null;
  element("record").textContent = "Record";
  if (take.lost > 0) {
    showError("The take lost samples (the page fell behind the audio), so it has no report. Record it again.");
    return;
  }
  const samples = take.chunks.reduce((sum, chunk) => sum + chunk.length, 0);
  const mono = new Float32Array(samples);
  take.chunks.reduce((at, chunk) => { mono.set(chunk, at); return at + chunk.length; }, 0);
  await reportTake({ name: "kelvatone-take.wav", rate: take.rate, channels: [mono], frames: take.frames,
                     partName: "kelvatone-take.mid", withWav: true });
  if (take.full) element("take-status").textContent += " (stopped at the longest a take can be)";
}

// Record keeps the microphone's audio and the notes held meanwhile (the keyboard's and
// the part's); Stop makes the take's report.
async function recordOrStop() {
  if (page.take) {
    page.node.port.postMessage({ record: false });
    return;
  }
  if (!page.node) await start();
  if (!page.node || !page.stream) return;
  clearReport();
  page.take = { rate: page.context.sampleRate, chunks: [], samples: 0, lost: 0, frames: [], full: false };
  page.node.port.postMessage({ record: true });
  element("record").textContent = "Stop";
  element("take-status").textContent = "Recording …";
}

// ---- Start-up ----

async function main() {
  page.wasmBytes = base64Bytes(element("kelvatone-wasm").textContent);
  page.module = await WebAssembly.compile(page.wasmBytes);
  ({ wasm: page.wasm, memory: page.memory } = await instantiate(MODULE_PAGES));
  page.wasm.kv_display_create();
  page.image = new ImageData(
    new Uint8ClampedArray(page.memory.buffer, page.wasm.kv_display_pixels(), WIDTH * HEIGHT * 4),
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
  element("record").addEventListener("click", recordOrStop);
  element("take-files").addEventListener("change", (event) => {
    reportFiles(event.target.files);
    // The same file chosen again is a change too.
    event.target.value = "";
  });
  document.addEventListener("dragover", (event) => event.preventDefault());
  document.addEventListener("drop", (event) => {
    event.preventDefault();
    reportFiles(event.dataTransfer.files);
  });
  requestAnimationFrame(drawFrame);
  document.body.dataset.ready = "1";
}

// For the tests: files from [[name, base64], ...], as a drop or a file input holds them.
function testFiles(files) {
  const transfer = new DataTransfer();
  files.forEach(([name, base64]) => transfer.items.add(new File([base64Bytes(base64)], name)));
  return transfer;
}

// Hooks for the page's tests: a history drawn without audio, a MIDI message as a
// keyboard would send it, a MIDI file as if chosen (base64), and what the page shows.
window.kelvatoneTest = {
  setShownColumns(columns, latest) {
    columns.forEach((words, i) => {
      new Int32Array(page.memory.buffer, page.wasm.kv_display_column(), COLUMN_WORDS).set(words);
      page.wasm.kv_display_set_column(i);
    });
    page.wasm.kv_display_set_result(latest);
  },
  midi,
  loadPart: (name, base64) => loadPart(new File([base64Bytes(base64)], name)),
  // Files dropped on the page, or chosen under "Report of a file", as a person does it:
  // [[name, base64], ...].
  drop(files) {
    const dataTransfer = testFiles(files);
    document.body.dispatchEvent(new DragEvent("drop", { dataTransfer, bubbles: true, cancelable: true }));
  },
  choose(files) {
    const input = element("take-files");
    input.files = testFiles(files).files;
    input.dispatchEvent(new Event("change"));
  },
  // The bytes behind a download link, base64.
  async download(id) {
    const bytes = new Uint8Array(await page.downloads[id].arrayBuffer());
    let binary = "";
    for (let i = 0; i < bytes.length; i += 1) binary += String.fromCharCode(bytes[i]);
    return btoa(binary);
  },
  listen: () => { page.heard = []; },
  heard: () => page.heard,
  readout: () => element("live-readout").textContent,
  error: () => element("error").hidden ? "" : element("error").textContent,
};

main().catch((error) => showError("Kelvatone could not start: " + error));
