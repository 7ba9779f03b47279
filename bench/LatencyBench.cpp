// kelvatone-latency-bench: the duration of every processReplacing call of a module, driven
// as a host drives it with its editor open: 64-frame blocks of the demo take (looped) with
// its MIDI part at 44100 Hz, resolution High (N = 8192), on an audio thread of its own,
// while the UI thread pumps the editor's window. Needs an X display (scripts/with-xvfb).
//
// It can also drive several instances of the module at once (--instances K: K instances
// in this process, every editor open in a window of its own, all pumped by the UI thread,
// and one audio thread that calls each instance's processReplacing in turn for every
// block, timing the whole round), and automate the module from the audio thread
// (--automate: setParameter calls between process calls, each one timed).
#include "bench/LoopedTake.h"
#include "host/EditorHost.h"
#include "host/EventSchedule.h"
#include "host/HostCallback.h"
#include "host/ModuleLoader.h"
#include "host/Session.h"
#include "tools/demo/DemoTake.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

using namespace kelvatone::demo;
using namespace kelvatone::bench;
using namespace kelvatone::vst;

namespace {

using Clock = std::chrono::steady_clock;
using kelvatone::io::AudioData;

constexpr int kBadInput = 2;
constexpr double kDefaultSeconds = 60.0;
constexpr double kMaxSeconds = 3600.0;
constexpr int kDefaultBlock = 64;
constexpr int kMaxBlock = 8192;
constexpr int kMaxInstances = 32;
constexpr int kChannels = 2;
// "Resolution" at 0.0 is High: 10 Hz, N = 8192 at 44100 Hz.
constexpr int32_t kResolutionParameter = 2;
constexpr float kHighResolution = 0.0f;
constexpr auto kUiInterval = std::chrono::milliseconds(10);
// Calls of the first second run with cold caches and fresh pages; the figures are given
// with and without them.
constexpr double kWarmUpSeconds = 1.0;
constexpr double kMicrosecondsPerSecond = 1e6;
// The module analyses 30 frames a second, one every 1470 frames at 44100 Hz, counted from
// its first process call. Instances that start together would all analyse (and draw) in
// the same block; as the tracks of a session do not line up so, instance k of K first
// processes k / K of a hop, untimed, so that their analyses spread over a hop's blocks.
constexpr int64_t kAnalysisHopFrames = 1470;
// --automate: one setParameter call every 256 frames (every 4 blocks of 64 frames), the
// calls taking the six parameters in turn, so that Resolution changes every 1536 frames:
// each setting sees one analysis and one picture of the display before the next change.
constexpr int64_t kAutomationIntervalFrames = 256;
// The values the automation gives each parameter in turn, by parameter index: Threshold,
// 440Hz= (A4 / A3), Resolution (Mid, Low, High: every visit rebuilds the engine),
// AnaBegin, AnaEnd, DispRange (24, 48, 12 semitones).
const std::vector<std::vector<float>> kAutomationValues = {{0.3f, 0.7f, 0.5f}, {0.0f, 1.0f},
                                                           {0.5f, 1.0f, 0.0f}, {0.25f, 0.2f},
                                                           {0.8f, 0.9f},       {0.5f, 1.0f, 0.25f}};
// How many times the CPU clock is read back to back to show the floor of a timing.
constexpr int kClockReads = 1000;

struct Options {
    std::string module;
    double seconds = kDefaultSeconds;
    int block = kDefaultBlock;
    int instances = 1;
    bool paced = false;
    bool automate = false;
};

void printUsage() {
    std::printf("usage: kelvatone-latency-bench MODULE [--seconds S] [--block N] [--paced]\n"
                "                               [--instances K] [--automate]\n"
                "Loads MODULE, opens its editor (an X display is needed), sets Resolution to\n"
                "High and processes S seconds (default 60) of the looped demo take with its\n"
                "MIDI part in blocks of N frames (default 64) at 44100 Hz on an audio thread,\n"
                "timing every processReplacing call. --paced waits for each block's due time as\n"
                "a sound card would; otherwise the blocks follow each other at once.\n"
                "--instances K (1..%d, default 1) loads the module K times and opens every\n"
                "editor in a window of its own; the one audio thread calls each instance in turn\n"
                "for every block and the figures are those of the whole round of K calls.\n"
                "Instance k of K starts k/K of the way into the take and first processes k/K of\n"
                "an analysis hop (%lld frames) untimed, so that the instances' analyses fall in\n"
                "different blocks, as those of a session's tracks do.\n"
                "--automate calls setParameter on the audio thread between process calls, one\n"
                "call every %lld frames, taking the six parameters in turn (Resolution cycles\n"
                "Mid, Low, High; DispRange 24, 48, 12), and times every call.\n"
                "Prints the median, p99, p99.9 and maximum call (CPU time of the audio thread\n"
                "and wall time) and RESULT lines.\n",
                kMaxInstances, static_cast<long long>(kAnalysisHopFrames),
                static_cast<long long>(kAutomationIntervalFrames));
}

bool parseNumber(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= low && value <= high;
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        double value = 0.0;
        if (arg == "--paced") {
            options.paced = true;
        } else if (arg == "--automate") {
            options.automate = true;
        } else if (arg == "--seconds" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 1.0, kMaxSeconds, value)) {
                error = "--seconds wants 1.." + std::to_string(static_cast<int>(kMaxSeconds));
                return false;
            }
            options.seconds = value;
        } else if (arg == "--block" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 1.0, kMaxBlock, value) || value != std::floor(value)) {
                error = "--block wants a whole number 1.." + std::to_string(kMaxBlock);
                return false;
            }
            options.block = static_cast<int>(value);
        } else if (arg == "--instances" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 1.0, kMaxInstances, value) || value != std::floor(value)) {
                error = "--instances wants a whole number 1.." + std::to_string(kMaxInstances);
                return false;
            }
            options.instances = static_cast<int>(value);
        } else if (arg.rfind("--", 0) == 0 || !options.module.empty()) {
            error = "unexpected argument " + arg;
            return false;
        } else {
            options.module = arg;
        }
    }
    if (options.module.empty()) {
        error = "no MODULE given";
        return false;
    }
    return true;
}

// The value below which `fraction` of the sorted values lie (nearest rank).
double percentile(const std::vector<double>& sorted, double fraction) {
    const size_t rank =
        static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

// The calling thread's CPU time: on a shared machine a call's wall time also counts the
// moments the scheduler gave the processor to someone else.
double threadCpuMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * kMicrosecondsPerSecond +
           1e-3 * static_cast<double>(t.tv_nsec);
}

// One setParameter call of the automation.
struct AutomationStep {
    int32_t index;
    float value;
};

// The automation's cycle: the six parameters in turn, each visit giving a parameter the
// next of its values, until every parameter is back at its first value.
std::vector<AutomationStep> automationCycle() {
    size_t rounds = 1;
    for (const auto& values : kAutomationValues)
        rounds = std::lcm(rounds, values.size());
    std::vector<AutomationStep> cycle;
    for (size_t round = 0; round < rounds; ++round)
        for (size_t p = 0; p < kAutomationValues.size(); ++p)
            cycle.push_back({static_cast<int32_t>(p),
                             kAutomationValues[p][round % kAutomationValues[p].size()]});
    return cycle;
}

// One instance's stream: an untimed pre-roll, then the timed blocks, which start at the
// same frames (counted from the end of the pre-roll) for every instance.
struct Track {
    AEffect* effect = nullptr;
    kelvatone::host::EffectInstance* instance = nullptr;
    const float* input = nullptr; // the stream's first frame
    std::vector<int64_t> blockStarts;
    size_t prerollBlocks = 0;
    int64_t totalFrames = 0;
    kelvatone::host::EventSchedule schedule;
};

// Everything the audio thread touches, made before it starts: it allocates nothing.
struct AudioRun {
    std::vector<Track> tracks;
    size_t timedBlocks = 0;
    bool paced = false;
    size_t automationEvery = 0; // blocks from one setParameter call to the next; 0: none
    std::vector<AutomationStep> automation;
    std::vector<double> microseconds;    // wall time of each round of calls
    std::vector<double> cpuMicroseconds; // the audio thread's CPU time in each round
    std::vector<double> setMicroseconds; // wall time of each setParameter call
    std::vector<double> setCpuMicroseconds;
    size_t setCalls = 0;
    double clockReadMicroseconds = 0.0; // median of two CPU clock reads back to back
    std::atomic<bool> done{false};      // written by the audio thread, read by the UI thread

    // Audio thread.
    void run() {
        kelvatone::host::markAudioThread(true);
        measureClock();
        std::vector<float> scratch(kChannels * kMaxBlock);
        float* outputs[kChannels] = {scratch.data(), scratch.data() + kMaxBlock};
        for (Track& track : tracks)
            for (size_t b = 0; b < track.prerollBlocks; ++b)
                process(track, b, outputs);
        const Track& clock = tracks.front();
        const int64_t timedStart = clock.blockStarts[clock.prerollBlocks];
        const auto start = Clock::now();
        size_t step = 0;
        for (size_t b = 0; b < timedBlocks; ++b) {
            if (paced)
                std::this_thread::sleep_until(
                    start +
                    std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                        static_cast<double>(clock.blockStarts[clock.prerollBlocks + b] -
                                            timedStart) /
                        kSampleRate)));
            for (Track& track : tracks)
                if (VstEvents* events = track.schedule.eventsForBlock(track.prerollBlocks + b))
                    track.instance->dispatch(effProcessEvents, 0, 0, events);
            if (automationEvery != 0 && b % automationEvery == 0)
                automate(automation[step++ % automation.size()]);
            const double cpuBefore = threadCpuMicroseconds();
            const auto before = Clock::now();
            for (Track& track : tracks)
                process(track, track.prerollBlocks + b, outputs);
            const auto after = Clock::now();
            cpuMicroseconds[b] = threadCpuMicroseconds() - cpuBefore;
            microseconds[b] = std::chrono::duration<double, std::micro>(after - before).count();
        }
        kelvatone::host::markAudioThread(false);
        done.store(true, std::memory_order_release);
    }

    void process(Track& track, size_t block, float** outputs) {
        const int64_t first = track.blockStarts[block];
        const int64_t end =
            block + 1 < track.blockStarts.size() ? track.blockStarts[block + 1] : track.totalFrames;
        // Both inputs carry the mono take: the effect analyses (L + R) / 2.
        float* input = const_cast<float*>(track.input) + first;
        float* inputs[kChannels] = {input, input};
        track.effect->processReplacing(track.effect, inputs, outputs,
                                       static_cast<int32_t>(end - first));
    }

    void automate(const AutomationStep& step) {
        for (Track& track : tracks) {
            const double cpuBefore = threadCpuMicroseconds();
            const auto before = Clock::now();
            track.effect->setParameter(track.effect, step.index, step.value);
            const auto after = Clock::now();
            setCpuMicroseconds[setCalls] = threadCpuMicroseconds() - cpuBefore;
            setMicroseconds[setCalls] =
                std::chrono::duration<double, std::micro>(after - before).count();
            ++setCalls;
        }
    }

    // The floor under every CPU time measured here: two clock reads with nothing between.
    void measureClock() {
        double reads[kClockReads];
        for (double& read : reads) {
            const double before = threadCpuMicroseconds();
            read = threadCpuMicroseconds() - before;
        }
        std::nth_element(reads, reads + kClockReads / 2, reads + kClockReads);
        clockReadMicroseconds = reads[kClockReads / 2];
    }
};

struct Figures {
    double median, p99, p999, max, warmMax;
};

// `warmUp`: how many of the first values the maximum after the warm-up leaves out.
Figures figuresOf(const std::vector<double>& values, size_t warmUp) {
    std::vector<double> sorted(values);
    std::sort(sorted.begin(), sorted.end());
    warmUp = std::min(values.size() - 1, warmUp);
    return {percentile(sorted, 0.5), percentile(sorted, 0.99), percentile(sorted, 0.999),
            sorted.back(),
            *std::max_element(values.begin() + static_cast<std::ptrdiff_t>(warmUp), values.end())};
}

void printFigures(const char* label, const std::string& key, const std::vector<double>& values,
                  int block, double period) {
    const Figures f = figuresOf(values, static_cast<size_t>(kWarmUpSeconds * kSampleRate / block));
    const auto over = [&](double share) {
        return std::count_if(values.begin(), values.end(),
                             [&](double v) { return v > share * period; });
    };
    std::printf("%s: median %.1f us, p99 %.1f us, p99.9 %.1f us (%.2f%% of the period), max %.1f "
                "us (%.2f%%), max after the first second %.1f us (%.2f%%); calls over 5%%: %td, "
                "over 10%%: %td\n",
                label, f.median, f.p99, f.p999, 100.0 * f.p999 / period, f.max,
                100.0 * f.max / period, f.warmMax, 100.0 * f.warmMax / period, over(0.05),
                over(0.10));
    std::printf("RESULT %s median_us %.2f p99_us %.2f p999_us %.2f max_us %.2f warm_max_us %.2f "
                "period_us %.2f\n",
                key.c_str(), f.median, f.p99, f.p999, f.max, f.warmMax, period);
}

// The RESULT keys' ending: latency_cpu, latency_cpu_paced, latency_cpu_paced_b32 (blocks
// of 32 frames), latency_cpu_paced_x16 (16 instances), and so on.
std::string keySuffix(const Options& options) {
    std::string suffix = options.paced ? "_paced" : "";
    if (options.block != kDefaultBlock)
        suffix += "_b" + std::to_string(options.block);
    if (options.instances > 1)
        suffix += "_x" + std::to_string(options.instances);
    return suffix;
}

void printReport(const AudioRun& run, const Options& options) {
    const double period = options.block * kMicrosecondsPerSecond / kSampleRate;
    const char* pacing = options.paced ? "paced in real time" : "back to back";
    if (options.instances == 1)
        std::printf("%zu processReplacing calls of %d frames, %s, block period %.0f us\n",
                    run.microseconds.size(), options.block, pacing, period);
    else
        std::printf("%zu rounds of %d processReplacing calls (one per instance) of %d frames, "
                    "%s, block period %.0f us; the figures are those of whole rounds\n",
                    run.microseconds.size(), options.instances, options.block, pacing, period);
    const std::string suffix = keySuffix(options) + (options.automate ? "_automate" : "");
    printFigures("wall time", "latency_wall" + suffix, run.microseconds, options.block, period);
    printFigures("CPU time ", "latency_cpu" + suffix, run.cpuMicroseconds, options.block, period);
    if (!options.automate)
        return;
    std::printf("%zu setParameter calls on the audio thread, one every %zu blocks, the six "
                "parameters in turn; reading the CPU clock twice costs %.2f us\n",
                run.setCalls, run.automationEvery, run.clockReadMicroseconds);
    const auto callFigures = [&](const char* label, const std::string& key,
                                 const std::vector<double>& values) {
        const size_t warmUp = static_cast<size_t>(kWarmUpSeconds * kSampleRate / options.block /
                                                  static_cast<double>(run.automationEvery)) *
                              run.tracks.size();
        const Figures f = figuresOf(values, warmUp);
        std::printf("%s: median %.2f us, p99 %.2f us, p99.9 %.2f us, max %.2f us, max after "
                    "the first second %.2f us\n",
                    label, f.median, f.p99, f.p999, f.max, f.warmMax);
        std::printf("RESULT %s median_us %.2f p99_us %.2f p999_us %.2f max_us %.2f warm_max_us "
                    "%.2f calls %zu clock_us %.2f\n",
                    key.c_str(), f.median, f.p99, f.p999, f.max, f.warmMax, values.size(),
                    run.clockReadMicroseconds);
    };
    callFigures("setParameter wall time", "setparam_wall" + keySuffix(options),
                run.setMicroseconds);
    callFigures("setParameter CPU time ", "setparam_cpu" + keySuffix(options),
                run.setCpuMicroseconds);
}

// The part's notes as heard from `offset` seconds into the looped take, up to `seconds`
// after it.
std::vector<kelvatone::io::MidiNoteEvent> partFrom(double offset, double seconds) {
    std::vector<kelvatone::io::MidiNoteEvent> notes;
    for (auto note : loopedPart(offset + seconds)) {
        if (note.seconds < offset)
            continue;
        note.seconds -= offset;
        notes.push_back(note);
    }
    return notes;
}

bool fail(const std::string& error) {
    std::fprintf(stderr, "kelvatone-latency-bench: %s\n", error.c_str());
    return false;
}

// UI thread: sets up K instances with their editors, runs the audio thread and reports.
bool runBenchmark(const Options& options) {
    const auto instances = static_cast<size_t>(options.instances);
    // Room for every instance's start in the take and its pre-roll.
    const double extraSeconds = instances > 1 ? kDurationSeconds + 1.0 : 0.0;
    const std::vector<float> take = loopedTake(options.seconds + extraSeconds);
    const auto timedFrames = static_cast<int64_t>(std::llround(options.seconds * kSampleRate));
    const auto takeFrames = static_cast<int64_t>(std::llround(kDurationSeconds * kSampleRate));

    // Torn down in the reverse order: editors, sessions (switching the effects off), the
    // instances, the module.
    std::vector<std::unique_ptr<kelvatone::host::ModuleLibrary>> libraries;
    std::vector<std::unique_ptr<kelvatone::host::EffectInstance>> effects;
    std::vector<std::unique_ptr<kelvatone::host::Session>> sessions;
    std::vector<std::unique_ptr<kelvatone::host::EditorHost>> editors;
    auto run = std::make_unique<AudioRun>();
    run->tracks.resize(instances);
    std::string error;
    for (size_t k = 0; k < instances; ++k) {
        libraries.push_back(kelvatone::host::ModuleLibrary::open(options.module, error));
        if (!libraries.back())
            return fail(error);
        effects.push_back(kelvatone::host::EffectInstance::create(*libraries.back(), error));
        if (!effects.back())
            return fail(error);
        // The session only sets the effect up (rate, block size, switched on,
        // Resolution); the processing below is this benchmark's own, so that every call
        // is timed.
        AudioData format;
        format.sampleRate = kSampleRate;
        format.channels.assign(kChannels, std::vector<float>(1));
        kelvatone::host::RunSettings settings;
        settings.blockSize = options.block;
        settings.parameters.push_back({kResolutionParameter, kHighResolution});
        sessions.push_back(
            std::make_unique<kelvatone::host::Session>(*effects.back(), format, settings));
        if (!sessions.back()->prepare(error))
            return fail(error);
        editors.push_back(kelvatone::host::EditorHost::open(*effects.back(), error));
        if (!editors.back())
            return fail(error);

        Track& track = run->tracks[k];
        track.effect = effects.back()->effect();
        track.instance = effects.back().get();
        const int64_t offset = static_cast<int64_t>(k) * takeFrames / options.instances;
        const int64_t preroll = static_cast<int64_t>(k) * kAnalysisHopFrames / options.instances;
        track.input = take.data() + offset;
        track.totalFrames = preroll + timedFrames;
        track.blockStarts = kelvatone::host::planBlocks(track.totalFrames, options.block,
                                                        preroll > 0 ? std::vector<int64_t>{preroll}
                                                                    : std::vector<int64_t>{});
        track.prerollBlocks = static_cast<size_t>(
            std::lower_bound(track.blockStarts.begin(), track.blockStarts.end(), preroll) -
            track.blockStarts.begin());
        const double offsetSeconds = static_cast<double>(offset) / kSampleRate;
        const double prerollSeconds = static_cast<double>(preroll) / kSampleRate;
        track.schedule.build(partFrom(offsetSeconds, prerollSeconds + options.seconds), kSampleRate,
                             track.blockStarts, track.totalFrames);
    }
    run->timedBlocks = run->tracks.front().blockStarts.size();
    for (const Track& track : run->tracks)
        if (track.blockStarts.size() - track.prerollBlocks != run->timedBlocks)
            return fail("the instances' timed blocks do not line up");
    run->microseconds.assign(run->timedBlocks, 0.0);
    run->cpuMicroseconds.assign(run->timedBlocks, 0.0);
    run->paced = options.paced;
    if (options.automate) {
        run->automation = automationCycle();
        run->automationEvery =
            static_cast<size_t>(std::max<int64_t>(1, kAutomationIntervalFrames / options.block));
        const size_t calls =
            (run->timedBlocks + run->automationEvery - 1) / run->automationEvery * instances;
        run->setMicroseconds.assign(calls, 0.0);
        run->setCpuMicroseconds.assign(calls, 0.0);
    }

    std::thread audio([&run] { run->run(); });
    while (!run->done.load(std::memory_order_acquire)) {
        for (const auto& editor : editors)
            editor->idle();
        std::this_thread::sleep_for(kUiInterval);
    }
    audio.join();
    printReport(*run, options);
    editors.clear();
    sessions.clear();
    for (const auto& effect : effects)
        effect->close();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        printUsage();
        return 0;
    }
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "kelvatone-latency-bench: %s (see --help)\n", error.c_str());
        return kBadInput;
    }
    return runBenchmark(options) ? 0 : kBadInput;
}
