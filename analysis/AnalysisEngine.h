// The pitch analysis engine: a ring of the newest mono samples, frame analysis by
// FFT autocorrelation, a level gate, the pitch estimator, and the history of the
// last 320 analysed frames that the display draws.
//
// Units: sample rates and frequencies in Hz (double); pitches in cents above C0
// (C0 = 16.351597831287414 Hz, A4 = 5700, -1 = no pitch); notes as NoteNumber
// (semitones, 0 = C0, 57 = A4); lengths in samples.
//
// Threads:
//   - audio thread: pushSample, frameReady, measureFrame, storeHeldNotes, recordResult,
//     analyseFrame, applyResolution;
//   - any thread: the setting fields (relaxed atomics, written whole, never torn)
//     and the history reads of the display (relaxed atomics per entry, copied whole
//     under historyUpdates);
//   - configure and releaseBuffers replace the working arrays: the caller guarantees
//     that they never overlap an audio-thread operation. The history is part of the
//     engine itself and is never replaced, so the display may read it at any time.
#pragma once

#include "analysis/RealtimeGuard.h"
#include "analysis/SequenceLock.h"

#include <atomic>
#include <cstdint>
#include <memory>

using NoteNumber = int32_t;
using PitchCents = int32_t;

constexpr PitchCents kNoPitch = -1;
constexpr int kHistoryLength = 320;
// Energies and band levels are multiplied by this before division by N.
constexpr double levelScale = 4906.0;

// Lowest and highest sample rate the engine accepts. Within them, for every analysis range
// the parameters allow (C1..C9), the estimator's lag range starts above lag 0 and ends
// inside the frame, and the frames stay at most 65536 samples long.
constexpr double kMinEngineSampleRate = 22050.0;
constexpr double kMaxEngineSampleRate = 384000.0;

// C0 in Hz and its base-2 logarithm, computed once at load.
extern const double c0Frequency;
extern const double log2C0Frequency;

// Frequency of a NoteNumber: 27.5 x 2^((n - 9) / 12) Hz. any thread
double noteFrequency(NoteNumber n);

// The set of held MIDI notes: MIDI note n is bit (n mod 32) of word (n div 32).
struct HeldNoteSet {
    uint32_t words[4] = {0, 0, 0, 0};

    bool contains(int note) const {
        return note >= 0 && note < 128 && ((words[note >> 5] >> (note & 31)) & 1u) != 0;
    }
};

// One history column's note set, readable by the display while the audio thread writes.
// Release stores and acquire loads, as the history's sequence lock asks of its values.
struct AtomicNoteSet {
    std::atomic<uint32_t> words[4];

    void store(const HeldNoteSet& set) {
        for (int w = 0; w < 4; ++w)
            words[w].store(set.words[w], std::memory_order_release);
    }
    HeldNoteSet load() const {
        HeldNoteSet set;
        for (int w = 0; w < 4; ++w)
            set.words[w] = words[w].load(std::memory_order_acquire);
        return set;
    }
};

class AnalysisEngine {
public:
    // Settings. Written by the parameter setters on any thread; read by the audio
    // thread and the display.
    std::atomic<double> threshold{25.0};
    std::atomic<float> resolution{15.0f};
    std::atomic<NoteNumber> beginNote{12};
    std::atomic<NoteNumber> endNote{96};
    std::atomic<double> beginFrequency;
    std::atomic<double> endFrequency;
    std::atomic<int32_t> displayRange{18};

    // The frame lengths one configuration serves: that of the finest resolution at the
    // rate, and the two halvings below it, which cover every coarser resolution.
    static constexpr int kFrameLengthCount = 3;

    // Working arrays, created by configure for the longest frame length at the rate, used
    // only by the thread that holds `guard` (the audio thread while it processes). The
    // transform's tables built for the longest length serve the shorter ones as they are.
    std::unique_ptr<int32_t[]> fftWork;
    std::unique_ptr<double[]> fftTable;
    // hannWindows[k] holds the window of frame length longestFrame >> k.
    std::unique_ptr<double[]> hannWindows[kFrameLengthCount];
    // The window of the current frame length, one of hannWindows.
    const double* hannWindow = nullptr;
    std::unique_ptr<double[]> sampleRing;
    int32_t ringWriteIndex = 0;
    // Whether every slot of the current frame length has been written since the ring was
    // last started; until then the slots from ringWriteIndex on read as silence, so that
    // starting the ring needs no pass over it.
    bool ringFilled = false;
    int32_t hopLength = 0;
    int32_t hopCounter = 0;
    std::unique_ptr<double[]> frame;
    std::unique_ptr<double[]> correlation;

    // Results. Written by the thread that holds `guard`, inside historyUpdates; read by
    // the display on any thread.
    std::atomic<PitchCents> currentPitch{kNoPitch};
    std::atomic<PitchCents> historyPitch[kHistoryLength];
    std::atomic<int32_t> historyIndex{0};
    AtomicNoteSet historyNotes[kHistoryLength];
    // Brackets every change of the results and the history (and whatever the caller
    // publishes with them, such as the display's view), so that a reader copies one
    // consistent frame. Inside it the results and the history are stored with release
    // order; readers load them with acquire order.
    SequenceLock historyUpdates;

    double engineSampleRate = 0.0;
    int32_t fftSize = 0;
    // The longest frame length the working arrays hold. Set by configure.
    int32_t longestFrame = 0;

    // Held by whoever uses or replaces the arrays: the audio thread tries it once per
    // process call and skips the analysis when it is taken; a reconfiguration waits for
    // it, and a resolution change on another thread tries it.
    RealtimeGuard guard;

    AnalysisEngine();

    // Rebuilds every buffer and table for the rate (one that supportsSampleRate accepts) and
    // every resolution, selects the frame length of the current resolution, starts the ring
    // silent and empties the history. Allocates. Caller excludes the audio thread (see
    // above); never on the audio thread.
    void configure(double rate);
    // Frees the working arrays. Same exclusion as configure.
    void releaseBuffers();
    // Moves to the frame length of the current resolution at the configured rate without
    // allocating: starts the ring silent, restarts the hop counting and empties the history,
    // as configure does. The thread that holds `guard` (the audio thread, or a setting
    // thread that took it).
    void applyResolution();

    // audio thread
    void pushSample(double value) {
        sampleRing[ringWriteIndex] = value;
        if (++ringWriteIndex == fftSize) {
            ringWriteIndex = 0;
            ringFilled = true;
        }
        if (hopCounter < INT32_MAX)
            ++hopCounter;
    }
    // audio thread
    bool frameReady() const { return hopCounter >= hopLength; }
    // audio thread
    void storeHeldNotes(const HeldNoteSet& notes);
    // audio thread: analyses the newest N samples and answers their pitch (kNoPitch when
    // the frame fails the level gate or has none). Restarts the hop counting; publishes
    // nothing.
    PitchCents measureFrame();
    // audio thread: makes a measured pitch the current result and appends it to the
    // history column whose notes storeHeldNotes stored. Callers that share the history
    // with readers bracket it (with storeHeldNotes) in historyUpdates.
    void recordResult(PitchCents pitch);
    // audio thread: measureFrame, then recordResult.
    void analyseFrame() { recordResult(measureFrame()); }

    // The frame length for a rate and resolution: the smallest power of two above
    // rate / resolution. any thread
    static int32_t frameLengthFor(double rate, float resolution);
    // Whether configure may be given this rate: 22050..384000 Hz, where the estimator's lag
    // range stays inside the arrays for every analysis range the parameters allow. any thread
    static bool supportsSampleRate(double rate);

private:
    // Every column without pitch or notes, the next column 0, inside historyUpdates.
    void clearHistory();
};

// Pitch estimator, run by measureFrame on frames that pass the level gate: the pitch of the
// engine's current frame, or kNoPitch. Reads only. audio thread.
PitchCents estimatePitch(const AnalysisEngine& engine);

// The estimator's stages for the engine's current frame: the lag of the chosen
// autocorrelation peak (0 if none), the candidate frequency after the octave and twelfth
// checks and its refinement over the period's multiples (Hz, 0 when there is no pitch), and
// the resulting pitch. Reads only. Same thread as estimatePitch.
struct PitchSearch {
    int32_t bestLag = 0;
    double candidate = 0.0;
    double refined = 0.0;
    PitchCents pitch = kNoPitch;
};
PitchSearch searchPitch(const AnalysisEngine& engine);

// Cents above C0 of a frequency (Hz), truncated toward zero: 440 gives 5700. any thread
PitchCents pitchFromFrequency(double frequency);
// Spectral level around a frequency (Hz) from the engine's packed spectrum: the RMS of the
// strongest bin within 1/48 of it and its two neighbours; bins outside 0..N/2-1 count as
// silent and a band without power has level 0. Same thread as estimatePitch.
double bandLevel(const AnalysisEngine& engine, double frequency);
