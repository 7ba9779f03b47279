// kelvatone-latency-bench: the duration of every processReplacing call of a module, driven
// as a host drives it with its editor open: 64-frame blocks of the demo take (looped) with
// its MIDI part at 44100 Hz, resolution High (N = 8192), on an audio thread of its own,
// while the UI thread pumps the editor's window. Needs an X display (scripts/with-xvfb).
#include "bench/LoopedTake.h"
#include "host/EditorHost.h"
#include "host/EventSchedule.h"
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
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using kelvatone::host::AudioData;

constexpr int kBadInput = 2;
constexpr double kDefaultSeconds = 60.0;
constexpr double kMaxSeconds = 3600.0;
constexpr int kDefaultBlock = 64;
constexpr int kMaxBlock = 8192;
constexpr int kChannels = 2;
// "Resolution" at 0.0 is High: 10 Hz, N = 8192 at 44100 Hz.
constexpr int32_t kResolutionParameter = 2;
constexpr float kHighResolution = 0.0f;
constexpr auto kUiInterval = std::chrono::milliseconds(10);
// Calls of the first second run with cold caches and fresh pages; the figures are given
// with and without them.
constexpr double kWarmUpSeconds = 1.0;
constexpr double kMicrosecondsPerSecond = 1e6;

struct Options {
    std::string module;
    double seconds = kDefaultSeconds;
    int block = kDefaultBlock;
    bool paced = false;
};

void printUsage() {
    std::printf("usage: kelvatone-latency-bench MODULE [--seconds S] [--block N] [--paced]\n"
                "Loads MODULE, opens its editor (an X display is needed), sets Resolution to\n"
                "High and processes S seconds (default 60) of the looped demo take with its\n"
                "MIDI part in blocks of N frames (default 64) at 44100 Hz on an audio thread,\n"
                "timing every processReplacing call. --paced waits for each block's due time as\n"
                "a sound card would; otherwise the blocks follow each other at once.\n"
                "Prints the median, p99, p99.9 and maximum call and a RESULT line.\n");
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

// Everything the audio thread touches, made before it starts: it allocates nothing.
struct AudioRun {
    AEffect* effect = nullptr;
    kelvatone::host::EffectInstance* instance = nullptr;
    const std::vector<float>* take = nullptr;
    std::vector<int64_t> blockStarts;
    int64_t totalFrames = 0;
    kelvatone::host::EventSchedule schedule;
    std::vector<double> microseconds;    // wall time of each call
    std::vector<double> cpuMicroseconds; // the audio thread's CPU time in each call
    bool paced = false;
    std::atomic<bool> done{false}; // written by the audio thread, read by the UI thread

    // Audio thread.
    void run() {
        std::vector<float> scratch(kChannels * kMaxBlock);
        float* outputs[kChannels] = {scratch.data(), scratch.data() + kMaxBlock};
        const auto start = Clock::now();
        for (size_t b = 0; b < blockStarts.size(); ++b) {
            const int64_t first = blockStarts[b];
            const int64_t end = b + 1 < blockStarts.size() ? blockStarts[b + 1] : totalFrames;
            const int32_t frames = static_cast<int32_t>(end - first);
            if (paced)
                std::this_thread::sleep_until(
                    start +
                    std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                        static_cast<double>(first) / demo::kSampleRate)));
            if (VstEvents* events = schedule.eventsForBlock(b))
                instance->dispatch(effProcessEvents, 0, 0, events);
            // Both inputs carry the mono take: the effect analyses (L + R) / 2.
            float* input = const_cast<float*>(take->data()) + first;
            float* inputs[kChannels] = {input, input};
            const double cpuBefore = threadCpuMicroseconds();
            const auto before = Clock::now();
            effect->processReplacing(effect, inputs, outputs, frames);
            const auto after = Clock::now();
            cpuMicroseconds[b] = threadCpuMicroseconds() - cpuBefore;
            microseconds[b] = std::chrono::duration<double, std::micro>(after - before).count();
        }
        done.store(true, std::memory_order_release);
    }
};

struct Figures {
    double median, p99, p999, max, warmMax;
    std::ptrdiff_t overFivePercent, overTenPercent;
};

Figures figuresOf(const std::vector<double>& microseconds, int block, double period) {
    std::vector<double> sorted(microseconds);
    std::sort(sorted.begin(), sorted.end());
    const size_t warmUpBlocks = std::min(
        microseconds.size() - 1, static_cast<size_t>(kWarmUpSeconds * demo::kSampleRate / block));
    const auto over = [&](double share) {
        return std::count_if(sorted.begin(), sorted.end(),
                             [&](double v) { return v > share * period; });
    };
    return {percentile(sorted, 0.5),
            percentile(sorted, 0.99),
            percentile(sorted, 0.999),
            sorted.back(),
            *std::max_element(microseconds.begin() + static_cast<std::ptrdiff_t>(warmUpBlocks),
                              microseconds.end()),
            over(0.05),
            over(0.10)};
}

void printFigures(const char* label, const char* key, const Figures& f, double period) {
    std::printf("%s: median %.1f us, p99 %.1f us, p99.9 %.1f us (%.2f%% of the period), max %.1f "
                "us (%.2f%%), max after the first second %.1f us (%.2f%%); calls over 5%%: %td, "
                "over 10%%: %td\n",
                label, f.median, f.p99, f.p999, 100.0 * f.p999 / period, f.max,
                100.0 * f.max / period, f.warmMax, 100.0 * f.warmMax / period, f.overFivePercent,
                f.overTenPercent);
    std::printf("RESULT %s median_us %.2f p99_us %.2f p999_us %.2f max_us %.2f warm_max_us %.2f "
                "period_us %.2f\n",
                key, f.median, f.p99, f.p999, f.max, f.warmMax, period);
}

void printReport(const AudioRun& run, int block, bool paced) {
    const double period = block * kMicrosecondsPerSecond / demo::kSampleRate;
    std::printf("%zu processReplacing calls of %d frames, %s, block period %.0f us\n",
                run.microseconds.size(), block, paced ? "paced in real time" : "back to back",
                period);
    const std::string suffix = paced ? "_paced" : "";
    printFigures("wall time", ("latency_wall" + suffix).c_str(),
                 figuresOf(run.microseconds, block, period), period);
    printFigures("CPU time ", ("latency_cpu" + suffix).c_str(),
                 figuresOf(run.cpuMicroseconds, block, period), period);
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
    const auto library = kelvatone::host::ModuleLibrary::open(options.module, error);
    auto instance = library ? kelvatone::host::EffectInstance::create(*library, error) : nullptr;
    if (!instance) {
        std::fprintf(stderr, "kelvatone-latency-bench: %s\n", error.c_str());
        return kBadInput;
    }
    const std::vector<float> take = bench::loopedTake(options.seconds);
    // The session only sets the effect up (rate, block size, switched on, Resolution);
    // the processing below is this benchmark's own, so that every call is timed.
    AudioData format;
    format.sampleRate = demo::kSampleRate;
    format.channels.assign(kChannels, std::vector<float>(1));
    kelvatone::host::RunSettings settings;
    settings.blockSize = options.block;
    settings.parameters.push_back({kResolutionParameter, kHighResolution});
    {
        kelvatone::host::Session session(*instance, format, settings);
        if (!session.prepare(error)) {
            std::fprintf(stderr, "kelvatone-latency-bench: %s\n", error.c_str());
            return kBadInput;
        }
        const auto editor = kelvatone::host::EditorHost::open(*instance, error);
        if (!editor) {
            std::fprintf(stderr, "kelvatone-latency-bench: %s\n", error.c_str());
            return kBadInput;
        }
        auto run = std::make_unique<AudioRun>();
        run->effect = instance->effect();
        run->instance = instance.get();
        run->take = &take;
        run->totalFrames = static_cast<int64_t>(take.size());
        run->blockStarts = kelvatone::host::planBlocks(run->totalFrames, options.block, {});
        run->schedule.build(bench::loopedPart(options.seconds), demo::kSampleRate, run->blockStarts,
                            run->totalFrames);
        run->microseconds.assign(run->blockStarts.size(), 0.0);
        run->cpuMicroseconds.assign(run->blockStarts.size(), 0.0);
        run->paced = options.paced;
        std::thread audio([&run] { run->run(); });
        while (!run->done.load(std::memory_order_acquire)) {
            editor->idle();
            std::this_thread::sleep_for(kUiInterval);
        }
        audio.join();
        printReport(*run, options.block, options.paced);
    }
    instance->close();
    return 0;
}
