// An audio thread of the validator's own that processes an effect block after block
// while the calling (UI) thread does something else to the same effect.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "host/ModuleLoader.h"
#include "host/validate/AudioRig.h"
#include "host/validate/RealtimeMonitor.h"
#include "host/validate/Validation.h"

namespace kelvatone::host::validate {

struct ProcessingReport {
    long blocks = 0;
    // The first problem the audio thread saw in the output (non-finite output, output
    // not equal to input for a pass-through effect, writes past the block), or empty.
    std::string problem;
    // Real-time violations counted on the audio thread while it was inside the module
    // (its turns included), ...
    validate::Counts counts;
    // ... of which inside the turns the audio thread took between process calls ...
    validate::Counts turnCounts;
    // ... and the number of blocks (turn, events and process call) with any of them.
    long blocksWithCounts = 0;
};

// What the audio thread does before each block's effProcessEvents and process call,
// as a host playing automation calls setParameter there. Gets the block's number
// (from 0). Counted as inside the module, so it must not allocate or lock itself.
using AudioThreadTurn = std::function<void(long block)>;

// How fast the audio thread goes: as fast as it can, as an offline render does, or
// paced at twice real time (44.1 kHz), as in playback with a little headroom.
enum class Pace { FlatOut, Playback };

// UI thread: starts an audio thread that processes `signal` in blocks of `blockSize`
// (with an effProcessEvents list of random notes before every `eventsEvery`-th block
// when that is not 0, and `turn` before every block when it is set) until `work`
// returns, then joins it. `work` runs on the calling thread with the audio thread
// going.
ProcessingReport processWhile(EffectInstance& instance, Validation& validation, int32_t blockSize,
                              int eventsEvery, const std::function<void()>& work,
                              Pace pace = Pace::FlatOut, const AudioThreadTurn& turn = nullptr,
                              Signal signal = Signal::Noise);

// UI thread: calls `step` repeatedly until `duration` has passed.
void repeatFor(std::chrono::milliseconds duration, const std::function<void()>& step);

} // namespace kelvatone::host::validate
