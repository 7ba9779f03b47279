// The AudioWorklet of Kelvatone Live: the plug-in's analysis, compiled to WebAssembly, on
// the browser's audio thread. The module is instantiated once, in the constructor, with
// memory sized once; process() copies each render quantum into the module's input block,
// runs the effect on it, and hands the main thread one history column per analysed frame:
// into a shared ring when the page is cross-origin isolated, otherwise as one small
// message. While a take is recorded, process() copies each quantum into room made once in
// the constructor, and hands the samples since the last analysed frame to the main thread
// with that frame's column, in one message. Between analysed frames process() creates no
// JavaScript object.
const COLUMN_WORDS = 5;
// Columns the shared ring holds; the page reads it every animation frame (33 ms apart
// at most a frame or two).
const RING_COLUMNS = 64;
// A part's event as the module lays it out (16 bytes).
const PART_EVENT_BYTES = 16;
// The module's memory, given to it once: its own 32 MiB (64 KiB pages), never grown.
const MODULE_PAGES = 512;
// WASI's "function not supported": the module writes no file.
const NOT_SUPPORTED = 52;
const QUANTUM = 128;

class KelvatoneProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const memory = new WebAssembly.Memory({ initial: MODULE_PAGES, maximum: MODULE_PAGES });
    this.memory = memory;
    const imports = {
      env: { memory, emscripten_notify_memory_growth: () => {} },
      wasi_snapshot_preview1: {
        clock_time_get: () => 0,
        fd_close: () => NOT_SUPPORTED,
        fd_seek: () => NOT_SUPPORTED,
        fd_write: () => NOT_SUPPORTED,
        proc_exit: () => { throw new Error("kelvatone: the analysis stopped"); },
      },
    };
    const module = new WebAssembly.Module(options.processorOptions.wasm);
    this.wasm = new WebAssembly.Instance(module, imports).exports;
    this.wasm._initialize();
    this.ready = this.wasm.kv_audio_create(sampleRate) === 1;
    this.input = new Float32Array(memory.buffer, this.wasm.kv_audio_input(), QUANTUM);
    this.output = new Float32Array(memory.buffer, this.wasm.kv_audio_output(), QUANTUM);
    this.column = new Int32Array(memory.buffer, this.wasm.kv_audio_column(), COLUMN_WORDS);
    // A take's samples since the last analysed frame (a frame comes every 1/30 s; a second
    // of room). Samples that find no room are counted, and the page refuses the take.
    this.taken = new Float32Array(Math.ceil(sampleRate));
    this.takenCount = 0;
    this.lost = 0;
    this.recording = false;
    this.framePending = false;
    // The shared ring: word 0 counts the columns written; column k lives at
    // 1 + (k % RING_COLUMNS) * COLUMN_WORDS.
    this.ring = options.processorOptions.ring ? new Int32Array(options.processorOptions.ring) : null;
    this.port.onmessage = (event) => this.command(event.data);
    this.port.postMessage({ ready: this.ready, rate: sampleRate });
  }

  // Messages of the page: parameters, Hold, MIDI, a MIDI part, Play/Stop, the guide tone
  // and Record/Stop. Not inside process(): a part is copied here, once, into the room the
  // module reserved for it.
  command(message) {
    if (message.record !== undefined) this.record(message.record);
    if (message.part !== undefined) this.loadPart(message.part);
    if (message.guide !== undefined) this.wasm.kv_audio_set_guide(message.guide ? 1 : 0);
    if (message.play !== undefined) {
      if (message.play) this.wasm.kv_audio_part_play();
      else this.wasm.kv_audio_part_stop();
    }
    if (message.parameter !== undefined) this.wasm.kv_audio_set_parameter(message.parameter, message.value);
    if (message.hold !== undefined) this.wasm.kv_audio_set_hold(message.hold ? 1 : 0);
    if (message.midi !== undefined) this.wasm.kv_audio_midi(message.midi[0], message.midi[1], message.midi[2]);
  }

  loadPart(bytes) {
    const count = Math.floor(bytes.length / PART_EVENT_BYTES);
    if (count > this.wasm.kv_part_capacity()) return;
    new Uint8Array(this.memory.buffer, this.wasm.kv_audio_part(), bytes.length).set(bytes);
    this.wasm.kv_audio_part_load(count);
  }

  // Record starts a take; Stop hands over its last samples, marked as its end.
  record(on) {
    if (!on && this.recording) this.postTake(true);
    this.recording = on;
    this.takenCount = 0;
    this.lost = 0;
  }

  process(inputs, outputs) {
    if (!this.ready) return true;
    const channels = inputs[0];
    if (channels && channels.length > 0) this.input.set(channels[0]);
    else this.input.fill(0);
    if (this.recording) this.keep();
    // A frame's column goes out in the quantum after the one that analysed it, so that no
    // quantum pays for both the analysis and the message (a frame comes every 33 ms, a
    // quantum every 3 ms at the usual rates; the column stays as it is until the next frame).
    if (this.framePending) {
      this.framePending = false;
      this.publish();
      if (this.recording) this.postTake(false);
    }
    if (this.wasm.kv_audio_process(QUANTUM) > 0) this.framePending = true;
    // The guide tone (silence while it is off) to the speakers.
    if (outputs[0] && outputs[0].length > 0) outputs[0][0].set(this.output);
    return true;
  }

  keep() {
    if (this.takenCount + QUANTUM > this.taken.length) {
      this.lost += QUANTUM;
      return;
    }
    this.taken.set(this.input, this.takenCount);
    this.takenCount += QUANTUM;
  }

  // The take's samples since the last analysed frame, with that frame's column (its held
  // notes are the notes meant).
  postTake(end) {
    this.port.postMessage({
      take: this.taken.slice(0, this.takenCount), column: this.column.slice(), lost: this.lost, end,
    });
    this.takenCount = 0;
  }

  // One analysed frame: its column to the main thread.
  publish() {
    if (this.ring) {
      const count = Atomics.load(this.ring, 0);
      this.ring.set(this.column, 1 + (count % RING_COLUMNS) * COLUMN_WORDS);
      Atomics.store(this.ring, 0, count + 1);
    } else {
      // Five numbers in a plain array: in the trace it cost less than a typed array's
      // copy, whose buffer is allocated outside the JavaScript heap.
      const words = new Array(COLUMN_WORDS);
      for (let i = 0; i < COLUMN_WORDS; i += 1) words[i] = this.column[i];
      this.port.postMessage(words);
    }
  }
}

registerProcessor("kelvatone", KelvatoneProcessor);
