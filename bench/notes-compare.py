#!/usr/bin/python3
"""Note transcription of monophonic takes: kelvatone-analyse --notes against Basic Pitch and aubionotes.

Renders melodies with known MIDI through fluidsynth and General MIDI soundfonts, transcribes
each take with `kelvatone-analyse FILE --notes OUT.csv`, with Spotify's Basic Pitch (npm
@spotify/basic-pitch on @tensorflow/tfjs, its command line's thresholds) and with
`aubionotes -i FILE` at its default settings, and scores them with mir_eval's note-level
F1: onset within 50 ms and pitch within 50 cents, offsets ignored, and again with offsets
(mir_eval's default: within 20 % of the note's length or 50 ms).

Two sets that share no sound and no melody:
  tuning    FluidR3 (fluid-soundfont-gm), melodies from seeds 1000 + i; every constant of
            the segmentation is chosen on this set
  held-out  MuseScore General (musescore-general-soundfont), melodies from seeds 2000 + i;
            the README's table is this set's
Each set plays 16 General MIDI programs over their own ranges (bass, cello, bassoon, tuba,
trombone, piano, bass to soprano voices, winds, strings, brass), 7 takes each:
  plain    notes of 0.2 to 1.0 s, a rest after a note with probability 0.3
  legato   the same with no rests, each note released 40 to 120 ms after the next began
  vibrato  pitch-bend vibrato (5 to 6 Hz, 20 to 40 cents) in every note, and a slide into
           every other note from the pitch before it (up to 2 semitones, 60 to 150 ms)
  reverb   plain, through `sox reverb` (a room, 50 % reverberance)
  noise    plain, with pink noise 20 dB below the take's level
  slow     notes of 0.8 to 2.0 s
  fast     notes of 0.15 to 0.3 s
Melodies move by up to 7 semitones, repeat a pitch only after a rest, and vary in velocity
(60 to 110). Every take is scaled to peak at -3 dBFS. The audio is rendered once into
build/notes-bench/SET/ (each set in one fluidsynth run: loading a compressed soundfont
takes longer than rendering a take); the peers' notes are kept beside it.

Basic Pitch is installed on first use into build/basic-pitch (npm); it runs on tfjs's
WebAssembly backend (the same notes as its JavaScript CPU backend, checked on a take, at a
fifth of the time: about 0.25 s of CPU per second of audio).

usage: notes-compare.py [--set tuning|held-out] [--only NAMES] [--no-peers] [--takes] [--long-take] [KELVATONE_ANALYSE]
  KELVATONE_ANALYSE  the tool to score (default: build/linux/kelvatone-analyse)
  --set              the set to score (default held-out)
  --only NAMES       only these instruments (comma-separated, as the table names them)
  --no-peers         score kelvatone alone
  --takes            print every take's line too
  --long-take        instead: time --notes on a 10-minute take made of the set's takes
"""

import argparse
import json
import os
import random
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import wave
from concurrent.futures import ThreadPoolExecutor

import mir_eval
import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CACHE = os.path.join(ROOT, "build", "notes-bench")
BASIC_PITCH_DIR = os.path.join(ROOT, "build", "basic-pitch")
BASIC_PITCH_PACKAGES = ["@spotify/basic-pitch@1.0.1", "@tensorflow/tfjs@3.21.0",
                        "@tensorflow/tfjs-backend-wasm@3.21.0"]
BASIC_PITCH_RATE = 22050
# Changing the melodies or the rendering changes this, so that cached takes are made anew.
RENDER_VERSION = "1"
SETS = {
    "tuning": ("/usr/share/sounds/sf2/FluidR3_GM.sf2", 1000),
    "held-out": ("/usr/share/sounds/sf3/MuseScore_General_Full.sf3", 2000),
}
SAMPLE_RATE = 44100
# fluidsynth's default gain (0.2) renders one voice quietly; each take is scaled afterwards.
RENDER_GAIN = "1.0"
PEAK = 10 ** (-3 / 20)
# Silence between the takes of a set's one rendering, longer than any release tail.
TAKE_GAP_S = 3.0
TAKE_LEAD_S = 0.3
# General MIDI program, name and the lowest/highest note of the range the melodies use.
INSTRUMENTS = [
    (33, "bass", 28, 55),
    (58, "tuba", 29, 55),
    (57, "trombone", 40, 65),
    (70, "bassoon", 34, 65),
    (42, "cello", 36, 69),
    (0, "piano", 33, 84),
    (52, "bass voice", 40, 62),
    (53, "tenor voice", 48, 69),
    (52, "alto voice", 53, 74),
    (53, "soprano voice", 60, 81),
    (40, "violin", 55, 88),
    (73, "flute", 60, 93),
    (71, "clarinet", 50, 84),
    (68, "oboe", 58, 89),
    (56, "trumpet", 54, 82),
    (65, "alto sax", 49, 80),
]
CONDITIONS = ["plain", "legato", "vibrato", "reverb", "noise", "slow", "fast"]
NOTES_PER_TAKE = {"fast": 14}
NOTES_DEFAULT = 10
LENGTHS = {"slow": (0.8, 2.0), "fast": (0.15, 0.3)}
LENGTH_DEFAULT = (0.2, 1.0)
REST_CHANCE = {"legato": 0.0}
REST_CHANCE_DEFAULT = 0.3
RESTS = {"slow": (0.3, 1.0), "fast": (0.1, 0.3)}
REST_DEFAULT = (0.1, 0.6)
LEGATO_OVERLAP_S = (0.04, 0.12)
LARGEST_STEP = 7
VELOCITIES = (60, 110)
VIBRATO_HZ = (5.0, 6.0)
VIBRATO_CENTS = (20.0, 40.0)
VIBRATO_DELAY_S = 0.15
SLIDE_S = (0.06, 0.15)
BEND_STEP_S = 0.01
BEND_RANGE_SEMITONES = 2.0
NOISE_SNR_DB = 20.0
REVERB = ["reverb", "50", "50", "100"]
TICKS_PER_QUARTER = 480
MICROSECONDS_PER_QUARTER = 500000
TICKS_PER_SECOND = TICKS_PER_QUARTER * 1e6 / MICROSECONDS_PER_QUARTER
ONSET_TOLERANCE_S = 0.05
PITCH_TOLERANCE_CENTS = 50.0
OFFSET_RATIO = 0.2
LONG_TAKE_S = 600.0
GOAL_MEAN, GOAL_LOWEST, GOAL_OVER_BASIC_PITCH, GOAL_OVER_AUBIO = 0.92, 0.80, 0.20, 0.5


def quantised(seconds):
    return round(seconds * TICKS_PER_SECOND) / TICKS_PER_SECOND


def melody(rng, low, high, condition):
    """[(onset, offset, midi note, velocity)] from 0 s, on the MIDI file's tick grid."""
    notes, t = [], 0.0
    note = rng.randint(low + 3, high - 3)
    rested = True
    for _ in range(NOTES_PER_TAKE.get(condition, NOTES_DEFAULT)):
        step = rng.randint(-LARGEST_STEP, LARGEST_STEP)
        while step == 0 and not rested or not low <= note + step <= high:
            step = rng.randint(-LARGEST_STEP, LARGEST_STEP)
        note += step
        length = rng.uniform(*LENGTHS.get(condition, LENGTH_DEFAULT))
        end = t + length
        if condition == "legato":
            end += rng.uniform(*LEGATO_OVERLAP_S)
        notes.append((quantised(t), quantised(end), note, rng.randint(*VELOCITIES)))
        t += length
        rested = rng.random() < REST_CHANCE.get(condition, REST_CHANCE_DEFAULT)
        if rested:
            t += rng.uniform(*RESTS.get(condition, REST_DEFAULT))
    if condition == "legato":
        last = notes[-1]
        notes[-1] = (last[0], quantised(t), last[2], last[3])
    return notes


def bends(rng, notes):
    """[(time, semitones)] for the vibrato take: a slide into every other note, then vibrato."""
    out = []
    for i, (onset, offset, note, _) in enumerate(notes):
        start = onset
        if i % 2 == 1 and notes[i - 1][1] >= onset - 0.05:
            offset_semitones = max(-BEND_RANGE_SEMITONES,
                                   min(BEND_RANGE_SEMITONES, notes[i - 1][2] - note))
            slide = rng.uniform(*SLIDE_S)
            for t in np.arange(0.0, slide, BEND_STEP_S):
                out.append((onset + t, offset_semitones * (1.0 - t / slide)))
            start = onset + slide
        rate, depth = rng.uniform(*VIBRATO_HZ), rng.uniform(*VIBRATO_CENTS) / 100.0
        for t in np.arange(max(start, onset + VIBRATO_DELAY_S), offset, BEND_STEP_S):
            out.append((t, depth * np.sin(2 * np.pi * rate * (t - onset))))
        out.append((offset, 0.0))
    return out


def variable_length(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def bend_message(semitones):
    value = int(round(8192 + 8191 * max(-1.0, min(1.0, semitones / BEND_RANGE_SEMITONES))))
    return bytes([0xE0, value & 0x7F, value >> 7])


def midi_file(takes):
    """One MIDI file of all takes: [(start, program, notes, bends)]."""
    events = []
    for start, program, notes, take_bends in takes:
        events.append((start, 0, bytes([0xC0, program])))
        events.append((start, 0, bend_message(0.0)))
        for onset, offset, note, velocity in notes:
            events.append((start + offset, 1, bytes([0x80, note, 0])))
            events.append((start + onset, 2, bytes([0x90, note, velocity])))
        for at, semitones in take_bends:
            events.append((start + at, 3, bend_message(semitones)))
    events = [(round(t * TICKS_PER_SECOND), order, m) for t, order, m in events]
    events.sort(key=lambda e: (e[0], e[1]))
    track = variable_length(0) + bytes([0xFF, 0x51, 0x03]) + MICROSECONDS_PER_QUARTER.to_bytes(3, "big")
    previous = 0
    for tick, _, message in events:
        track += variable_length(tick - previous) + message
        previous = tick
    track += variable_length(0) + bytes([0xFF, 0x2F, 0x00])
    header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS_PER_QUARTER)
    return header + b"MTrk" + struct.pack(">I", len(track)) + track


def run(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs).stdout


def read_wav(path):
    with wave.open(path) as f:
        channels, frames = f.getnchannels(), f.readframes(f.getnframes())
    samples = np.frombuffer(frames, dtype="<i2").astype(np.float64) / 32768.0
    return samples.reshape(-1, channels).mean(axis=1)


def write_wav(path, samples):
    with wave.open(path, "wb") as f:
        f.setnchannels(1)
        f.setsampwidth(2)
        f.setframerate(SAMPLE_RATE)
        f.writeframes((np.clip(samples, -1.0, 32767 / 32768) * 32768).astype("<i2").tobytes())


def pink_noise(rng, count):
    spectrum = np.fft.rfft(rng.standard_normal(count))
    spectrum /= np.sqrt(np.maximum(np.arange(len(spectrum)), 1.0))
    noise = np.fft.irfft(spectrum, count)
    return noise / np.sqrt(np.mean(noise ** 2))


def take_list(set_name):
    """[(name, instrument, condition, program, notes, bends)] of a set, from its seeds."""
    _, seed = SETS[set_name]
    takes = []
    for index, (program, name, low, high) in enumerate(INSTRUMENTS):
        for c, condition in enumerate(CONDITIONS):
            rng = random.Random(seed + index * len(CONDITIONS) + c)
            notes = melody(rng, low, high, condition)
            take_bends = bends(rng, notes) if condition == "vibrato" else []
            takes.append(("%s-%s" % (name.replace(" ", "_"), condition), name, condition,
                          program, notes, take_bends))
    return takes


def render_set(set_name, folder):
    """Renders a set's takes into folder (once), each as TAKE.wav with TAKE.json beside it."""
    stamp = os.path.join(folder, "rendered")
    if os.path.exists(stamp) and open(stamp).read() == RENDER_VERSION:
        return
    os.makedirs(folder, exist_ok=True)
    soundfont, _ = SETS[set_name]
    takes = take_list(set_name)
    placed, start = [], TAKE_LEAD_S
    for name, _, _, program, notes, take_bends in takes:
        placed.append((start, program, notes, take_bends))
        start += notes[-1][1] + TAKE_GAP_S
    mid, whole = os.path.join(folder, "all.mid"), os.path.join(folder, "all.wav")
    with open(mid, "wb") as f:
        f.write(midi_file(placed))
    print("notes-compare: rendering the %s set (%d takes, %.0f s)" % (set_name, len(takes), start),
          file=sys.stderr)
    run(["fluidsynth", "-ni", "-q", "-R", "0", "-C", "0", "-g", RENDER_GAIN, "-r", str(SAMPLE_RATE),
         "-F", whole, soundfont, mid])
    audio = read_wav(whole)
    noise_rng = np.random.default_rng(SETS[set_name][1])
    for (name, _, condition, _, notes, _), (at, _, _, _) in zip(takes, placed):
        first = int((at - TAKE_LEAD_S) * SAMPLE_RATE)
        last = int((at + notes[-1][1] + TAKE_GAP_S - TAKE_LEAD_S) * SAMPLE_RATE)
        samples = audio[first:last].copy()
        wav = os.path.join(folder, name + ".wav")
        if condition == "reverb":
            write_wav(wav, samples)
            run(["sox", "-G", wav, os.path.join(folder, "reverb.wav")] + REVERB)
            samples = read_wav(os.path.join(folder, "reverb.wav"))
        if condition == "noise":
            sounding = samples[int(TAKE_LEAD_S * SAMPLE_RATE):
                               int((TAKE_LEAD_S + notes[-1][1]) * SAMPLE_RATE)]
            level = np.sqrt(np.mean(sounding ** 2))
            samples = samples + pink_noise(noise_rng, len(samples)) * level * 10 ** (-NOISE_SNR_DB / 20)
        write_wav(wav, samples * PEAK / np.max(np.abs(samples)))
        with open(os.path.join(folder, name + ".json"), "w") as f:
            json.dump([(TAKE_LEAD_S + a, TAKE_LEAD_S + b, n) for a, b, n, _ in notes], f)
    for scratch in (mid, whole, os.path.join(folder, "reverb.wav")):
        if os.path.exists(scratch):
            os.remove(scratch)
    with open(stamp, "w") as f:
        f.write(RENDER_VERSION)


def ours(analyse, wav):
    with tempfile.TemporaryDirectory(prefix="kelvatone-notes-") as work:
        csv = os.path.join(work, "notes.csv")
        run([analyse, wav, "--notes", csv])
        with open(csv) as f:
            rows = [line.split(",") for line in f.read().splitlines()[1:]]
    return [(float(r[0]), float(r[1]), int(r[2]) + float(r[4]) / 100.0) for r in rows]


def aubio(wav):
    cached = wav[:-4] + ".aubio.txt"
    if not os.path.exists(cached):
        part = "%s.%d.part" % (cached, os.getpid())
        with open(part, "w") as f:
            f.write(run(["aubionotes", "-i", wav]))
        os.replace(part, cached)
    notes = []
    # A lone onset first, then note, onset and offset per line.
    for line in open(cached).read().splitlines():
        fields = line.split()
        if len(fields) == 3:
            notes.append((float(fields[1]), float(fields[2]), float(fields[0])))
    return notes


def install_basic_pitch():
    script = os.path.join(BASIC_PITCH_DIR, "basic-pitch-notes.js")
    if not os.path.isdir(os.path.join(BASIC_PITCH_DIR, "node_modules", "@tensorflow",
                                      "tfjs-backend-wasm")):
        os.makedirs(BASIC_PITCH_DIR, exist_ok=True)
        print("notes-compare: installing %s into %s" % (" ".join(BASIC_PITCH_PACKAGES),
                                                        BASIC_PITCH_DIR), file=sys.stderr)
        run(["npm", "install", "--no-audit", "--no-fund", "--prefix", BASIC_PITCH_DIR] +
            BASIC_PITCH_PACKAGES)
    shutil.copy(os.path.join(ROOT, "bench", "basic-pitch-notes.js"), script)
    return script


def basic_pitch(wavs):
    """Runs Basic Pitch once over every take it has not transcribed yet."""
    pending = [w for w in wavs if not os.path.exists(w[:-4] + ".basic-pitch.txt")]
    if pending:
        script = install_basic_pitch()
        print("notes-compare: Basic Pitch on %d takes" % len(pending), file=sys.stderr)
        arguments = []
        for wav in pending:
            raw = wav[:-4] + ".22k.f32"
            run(["sox", wav, "-r", str(BASIC_PITCH_RATE), "-c", "1", "-t", "f32", raw])
            arguments += [raw, wav[:-4] + ".basic-pitch.txt"]
        run(["node", script] + arguments, cwd=BASIC_PITCH_DIR)
        for wav in pending:
            os.remove(wav[:-4] + ".22k.f32")
    result = {}
    for wav in wavs:
        lines = open(wav[:-4] + ".basic-pitch.txt").read().split()
        values = [float(v) for v in lines]
        result[wav] = [tuple(values[i:i + 3]) for i in range(0, len(values), 3)]
    return result


def hz(midi):
    return 440.0 * 2.0 ** ((np.asarray(midi, dtype=float) - 69.0) / 12.0)


def matches(reference, estimate, offset_ratio):
    """Notes matched, notes in the reference, notes estimated."""
    if not estimate:
        return 0, len(reference), 0
    ref_intervals = np.array([[a, max(b, a + 1e-3)] for a, b, _ in reference])
    est_intervals = np.array([[a, max(b, a + 1e-3)] for a, b, _ in estimate])
    matched = mir_eval.transcription.match_notes(
        ref_intervals, hz([n for _, _, n in reference]), est_intervals,
        hz([n for _, _, n in estimate]), onset_tolerance=ONSET_TOLERANCE_S,
        pitch_tolerance=PITCH_TOLERANCE_CENTS, offset_ratio=offset_ratio)
    return len(matched), len(reference), len(estimate)


def f1(counts):
    matched = sum(c[0] for c in counts)
    reference = sum(c[1] for c in counts)
    estimated = sum(c[2] for c in counts)
    return 2.0 * matched / (reference + estimated) if reference + estimated else 0.0


def long_take(analyse, folder, takes):
    """Times --notes on a 10-minute take made of the set's takes."""
    pieces, total = [], 0.0
    while total < LONG_TAKE_S:
        for name, *_ in takes:
            samples = read_wav(os.path.join(folder, name + ".wav"))
            pieces.append(samples)
            total += len(samples) / SAMPLE_RATE
            if total >= LONG_TAKE_S:
                break
    with tempfile.TemporaryDirectory(prefix="kelvatone-notes-") as work:
        wav = os.path.join(work, "long.wav")
        write_wav(wav, np.concatenate(pieces)[:int(LONG_TAKE_S * SAMPLE_RATE)])
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        started = time.monotonic()
        run([analyse, wav, "--notes", os.path.join(work, "notes.csv")])
        seconds = time.monotonic() - started
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    print("--notes on a %.0f s take: %.2f s wall, %.2f s CPU (load average %.1f on %d cores)" % (
        LONG_TAKE_S, seconds, cpu, os.getloadavg()[0], os.cpu_count()))


def group_rows(label_of, keys, scores, peers):
    for key in keys:
        chosen = [s for s in scores if label_of(s) == key]
        line = "%-14s %5d   %.3f   %.3f" % (key, sum(s["ours"][0][1] for s in chosen),
                                             f1([s["ours"][0] for s in chosen]),
                                             f1([s["ours"][1] for s in chosen]))
        for peer in peers:
            line += "   %.3f" % f1([s[peer] for s in chosen])
        print(line)


def main():
    parser = argparse.ArgumentParser(usage=__doc__.split("usage: ")[1].split("\n")[0])
    parser.add_argument("analyse", nargs="?", default=os.path.join(ROOT, "build/linux/kelvatone-analyse"))
    parser.add_argument("--set", choices=sorted(SETS), default="held-out")
    parser.add_argument("--only", default="")
    parser.add_argument("--no-peers", action="store_true")
    parser.add_argument("--takes", action="store_true")
    parser.add_argument("--long-take", action="store_true")
    arguments = parser.parse_args()
    needed = [arguments.analyse, "fluidsynth", "sox"]
    if not arguments.no_peers:
        needed += ["aubionotes", "node", "npm"]
    for tool in needed:
        if shutil.which(tool) is None:
            print("notes-compare: %s not found (scripts/install-deps, then build)" % tool,
                  file=sys.stderr)
            return 2
    soundfont, _ = SETS[arguments.set]
    if not os.path.exists(soundfont):
        print("notes-compare: %s not found (scripts/install-deps)" % soundfont, file=sys.stderr)
        return 2
    folder = os.path.join(CACHE, arguments.set)
    render_set(arguments.set, folder)
    takes = take_list(arguments.set)
    if arguments.long_take:
        long_take(arguments.analyse, folder, takes)
        return 0
    only = [n.strip() for n in arguments.only.split(",") if n.strip()]
    unknown = [n for n in only if n not in [i[1] for i in INSTRUMENTS]]
    if unknown:
        print("notes-compare: no instrument named '%s'" % unknown[0], file=sys.stderr)
        return 2
    takes = [t for t in takes if not only or t[1] in only]
    wavs = [os.path.join(folder, t[0] + ".wav") for t in takes]
    peers = [] if arguments.no_peers else ["basic pitch", "aubionotes"]
    basic = basic_pitch(wavs) if peers else {}

    def score(take, wav):
        reference = [tuple(n) for n in json.load(open(wav[:-4] + ".json"))]
        estimate = ours(arguments.analyse, wav)
        row = {"take": take, "ours": (matches(reference, estimate, None),
                                      matches(reference, estimate, OFFSET_RATIO))}
        if peers:
            row["basic pitch"] = matches(reference, basic[wav], None)
            row["aubionotes"] = matches(reference, aubio(wav), None)
        return row

    with ThreadPoolExecutor(max_workers=2) as pool:
        scores = list(pool.map(score, takes, wavs))

    print("%s set (%s), note F1: onset 50 ms, pitch 50 cents (mir_eval)" % (
        arguments.set, os.path.basename(soundfont)))
    header = "%-14s %5s   %-5s   %-5s" % ("", "notes", "F1", "+off")
    for peer in peers:
        header += "   %-5s" % peer.split()[0][:5]
    print(header + "   (+off: offsets counted too; peers: offsets ignored)")
    if arguments.takes:
        group_rows(lambda s: s["take"][0], [t[0] for t in takes], scores, peers)
        print()
    instruments = [i[1] for i in INSTRUMENTS if not only or i[1] in only]
    group_rows(lambda s: s["take"][1], instruments, scores, peers)
    print()
    group_rows(lambda s: s["take"][2], CONDITIONS, scores, peers)
    print()
    means = {}
    for key in ["ours"] + peers:
        per_instrument = []
        for name in instruments:
            chosen = [s for s in scores if s["take"][1] == name]
            per_instrument.append(f1([s[key][0] if key == "ours" else s[key] for s in chosen]))
        means[key] = (sum(per_instrument) / len(per_instrument), min(per_instrument))
    off = sum(f1([s["ours"][1] for s in scores if s["take"][1] == n]) for n in instruments) / len(instruments)
    line = "%-14s %5d   %.3f   %.3f" % ("mean", sum(s["ours"][0][1] for s in scores),
                                        means["ours"][0], off)
    for peer in peers:
        line += "   %.3f" % means[peer][0]
    print(line)
    mean, lowest = means["ours"]
    goals = "goal: mean F1 >= %.2f (%.3f), no instrument below %.2f (lowest %.3f)" % (
        GOAL_MEAN, mean, GOAL_LOWEST, lowest)
    if peers:
        goals += ", >= %.2f above Basic Pitch (%+.3f), >= %.2f above aubionotes (%+.3f)" % (
            GOAL_OVER_BASIC_PITCH, mean - means["basic pitch"][0], GOAL_OVER_AUBIO,
            mean - means["aubionotes"][0])
    print(goals)
    return 0


if __name__ == "__main__":
    sys.exit(main())
