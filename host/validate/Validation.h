// `kelvatone-host validate`: a battery of tests for any VST 2.4 module. This header
// holds what the tests share: the run's settings, the outcome of one test and the
// context a test runs in.
//
// How it judges:
// - On Linux every test runs in a child process: a crash (a signal) or a hang
//   (240 s) fails that test and the battery goes on. Windows has no fork, so there
//   the tests run in the host's process and a crash ends the battery.
// - Tests that cannot apply pass with a note in brackets: the editor tests without a
//   display ("skipped: no display") or without an editor, the real-time counts where
//   they are not built (Windows, sanitizer builds). realtime.automation-with-editor
//   then runs without what is missing and says so in its note.
// - Real-time counts cover what the audio thread calls in the module: process calls,
//   effProcessEvents, and in realtime.automation-with-editor setParameter, which it
//   calls between blocks as hosts playing automation do.
// - Pass-through: the first test measures it (finite noise in several block sizes);
//   an effect whose output equals its input there must reproduce every input bit for
//   bit, NaN and infinities included. --pass-through requires it whatever the
//   measurement finds.
// - Text buffers: parameter names, labels and displays may hold 8 characters and a
//   zero, program names 24, effect names 32, vendor, product and shell names 64 (the
//   limits hosts size their buffers by). A buffer the module leaves untouched is an
//   answer too (no such text).
// - Editor tests and realtime.automation-with-editor drive the audio thread at twice
//   real time, as playback does; the other threaded tests run it as fast as it goes,
//   as an offline render does.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/ModuleLoader.h"

namespace kelvatone::host::validate {

constexpr int kDefaultStrictness = 5;
constexpr int kMinStrictness = 1;
constexpr int kMaxStrictness = 10;

struct ValidateOptions {
    std::string module;
    int strictness = kDefaultStrictness;
    uint64_t seed = 0;
    bool seedGiven = false;
    // Require output equal to input bit for bit, whatever the measurement finds.
    bool passThrough = false;
    // When not empty, only the tests whose names start with one of these run (the
    // pass-through probe always runs: the others depend on what it finds).
    std::vector<std::string> testPrefixes;
};

// The result of one test. A passing test may carry a note ("skipped: no display").
struct Outcome {
    bool passed = true;
    std::string text;         // the note when passed, the reason when failed
    bool passThrough = false; // set by the pass-through probe only

    static Outcome pass(std::string note = {}) { return {true, std::move(note), false}; }
    static Outcome fail(std::string reason) { return {false, std::move(reason), false}; }
};

// What every test runs with. One per test, on the test's own (UI) thread.
class Validation {
public:
    Validation(const ModuleLibrary& library, const ValidateOptions& options, uint64_t testSeed,
               bool passThrough);

    const ModuleLibrary& library() const { return library_; }
    int strictness() const { return strictness_; }
    std::mt19937_64& random() { return random_; }
    uint64_t seed() const { return seed_; }
    // Output must equal input bit for bit (declared or measured).
    bool passThrough() const { return passThrough_; }

    // How much more (or less) than at the default strictness a test does: in
    // proportion to the strictness up to the default, then 0.6 more per step, so 4
    // times as much at 10.
    double factor() const;
    // `base` at the default strictness, scaled by factor(); at least 1.
    int scaled(int base) const;
    // A duration scaled the same way.
    std::chrono::milliseconds scaled(std::chrono::milliseconds base) const;
    // A uniform integer in [low, high] and a float in [low, high).
    int64_t uniform(int64_t low, int64_t high);
    float uniformFloat(float low, float high);

    // A new instance from the module's entry; null with the reason in `error`.
    std::unique_ptr<EffectInstance> instantiate(std::string& error) const;

private:
    const ModuleLibrary& library_;
    int strictness_;
    uint64_t seed_;
    std::mt19937_64 random_;
    bool passThrough_;
};

// effOpen, the default sample rate, the block size and effMainsChanged(1): an instance
// switched on, ready to process blocks of `blockSize` frames. The validator's thread.
void switchOn(EffectInstance& instance, int32_t blockSize);

struct TestCase {
    std::string name;
    std::function<Outcome(Validation&)> run;
};

// The tests of each group, in the order they run.
void addLifecycleTests(std::vector<TestCase>& tests);
void addOpcodeTests(std::vector<TestCase>& tests);
void addParameterTests(std::vector<TestCase>& tests);
void addAudioTests(std::vector<TestCase>& tests);
void addAnalysisAudioTests(std::vector<TestCase>& tests);
void addMidiTests(std::vector<TestCase>& tests);
void addMidiStreamTests(std::vector<TestCase>& tests);
void addRealtimeTests(std::vector<TestCase>& tests);
void addEditorTests(std::vector<TestCase>& tests);
void addEditorHostingTests(std::vector<TestCase>& tests);
void addInstanceTests(std::vector<TestCase>& tests);

// The probe that decides whether the module passes its input through unchanged:
// finite noise in several block sizes, output compared bit for bit.
Outcome probePassThrough(Validation& validation);

// Runs the whole battery, printing one line per test and the summary line. Returns
// the exit status: 0 all passed, 1 something failed, 2 the module cannot be loaded.
int runValidation(const ValidateOptions& options);

} // namespace kelvatone::host::validate
