// Spotify's Basic Pitch (npm @spotify/basic-pitch, its model on @tensorflow/tfjs's WebAssembly
// backend, which gives the JavaScript CPU backend's notes at a fifth of its time) as a peer of
// bench/notes-compare.py. Run from the folder the bench installed it into.
//
// usage: node basic-pitch-notes.js IN.f32 OUT.txt [IN.f32 OUT.txt ...]
//   IN.f32   mono 32-bit float samples at 22050 Hz, the model's rate (the bench resamples
//            with sox)
//   OUT.txt  one note a line: onset_s offset_s midi_note
// The notes are made with the thresholds of Basic Pitch's own command line: onset 0.5,
// frame 0.3, shortest note 11 frames (about 128 ms), onsets inferred, melodia trick on.

const fs = require('fs');
const path = require('path');
const tf = require('@tensorflow/tfjs');
const bp = require('@spotify/basic-pitch');

const ONSET_THRESHOLD = 0.5;
const FRAME_THRESHOLD = 0.3;
const SHORTEST_NOTE_FRAMES = 11;

// The model's files as tfjs loads them from memory (tfjs in Node reads no file:// URLs).
function modelFromFiles() {
  const folder = path.join(path.dirname(require.resolve('@spotify/basic-pitch/package.json')), 'model');
  const json = JSON.parse(fs.readFileSync(path.join(folder, 'model.json'), 'utf8'));
  const specs = [];
  const buffers = [];
  for (const group of json.weightsManifest) {
    specs.push(...group.weights);
    for (const file of group.paths) buffers.push(fs.readFileSync(path.join(folder, file)));
  }
  const all = Buffer.concat(buffers);
  const weightData = all.buffer.slice(all.byteOffset, all.byteOffset + all.byteLength);
  return tf.loadGraphModel({
    load: async () => ({
      modelTopology: json.modelTopology,
      weightSpecs: specs,
      weightData,
      format: json.format,
      generatedBy: json.generatedBy,
      convertedBy: json.convertedBy,
      signature: json.signature,
      userDefinedMetadata: json.userDefinedMetadata,
    }),
  });
}

async function transcribe(model, input, output) {
  const raw = fs.readFileSync(input);
  const samples = new Float32Array(raw.buffer.slice(raw.byteOffset, raw.byteOffset + raw.byteLength));
  const frames = [];
  const onsets = [];
  const contours = [];
  await model.evaluateModel(
    samples,
    (f, o, c) => {
      frames.push(...f);
      onsets.push(...o);
      contours.push(...c);
    },
    () => {},
  );
  const notes = bp.noteFramesToTime(
    bp.outputToNotesPoly(frames, onsets, ONSET_THRESHOLD, FRAME_THRESHOLD, SHORTEST_NOTE_FRAMES),
  );
  const lines = notes.map(n =>
    `${n.startTimeSeconds} ${n.startTimeSeconds + n.durationSeconds} ${n.pitchMidi}`);
  fs.writeFileSync(output, lines.join('\n') + '\n');
}

// tfjs-backend-wasm 3.21's Fill kernel reads its dtype from the attributes, which the
// model's graph leaves out: numbers fill float32 tensors, as on the CPU backend.
function useWasm() {
  require('@tensorflow/tfjs-backend-wasm');
  const fill = tf.getKernel('Fill', 'wasm');
  tf.unregisterKernel('Fill', 'wasm');
  tf.registerKernel({
    ...fill,
    kernelFunc: args => fill.kernelFunc({
      ...args,
      attrs: {...args.attrs, dtype: args.attrs.dtype || (typeof args.attrs.value === 'string' ? 'string' : 'float32')},
    }),
  });
  return tf.setBackend('wasm');
}

async function main() {
  const args = process.argv.slice(2);
  const usage = 'usage: node basic-pitch-notes.js IN.f32 OUT.txt [IN.f32 OUT.txt ...]';
  if (args[0] === '--help') {
    console.log(usage);
    return;
  }
  if (args.length === 0 || args.length % 2 !== 0) {
    console.error(`basic-pitch-notes: needs pairs of input and output files (${usage})`);
    process.exit(2);
  }
  await useWasm();
  const model = new bp.BasicPitch(modelFromFiles());
  for (let i = 0; i < args.length; i += 2) await transcribe(model, args[i], args[i + 1]);
}

main().catch(error => {
  console.error(`basic-pitch-notes: ${error.message}`);
  process.exit(1);
});
