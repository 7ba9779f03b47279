// kelvatone-soak: hours of a studio session through one instance, faster than real
// time. One audio thread processes a voice-like tone with noise in blocks of 512
// frames at 44.1 kHz; every 100 ms of audio it sets all six parameters to random
// values (on the audio thread, between blocks, as a host playing automation does) and
// before every block it sends a random MIDI list. The editor is open throughout and is
// closed and opened again on the UI thread every 10 s of audio. The resident memory is
// read after the first minute of audio and at the end: it may grow by at most 1 MiB.
//
// usage: kelvatone-soak MODULE [--seconds N] [--seed N]
// Prints one summary line; exit status 0 passed, 1 failed, 2 bad input.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "host/HostCallback.h"
#include "host/ModuleLoader.h"
#include "host/validate/AudioRig.h"
#include "host/validate/EditorHosting.h"
#include "host/validate/MidiLists.h"

namespace {

using namespace kelvatone::host;
using namespace kelvatone::host::validate;
using namespace kelvatone::vst;

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;
constexpr long kDefaultSeconds = 3600;
constexpr long kMaxSeconds = 24 * 3600;
constexpr int32_t kSoakBlock = 512;
constexpr double kAutomationSeconds = 0.1;
constexpr double kEditorCycleSeconds = 10.0;
constexpr double kBaselineSeconds = 60.0;
constexpr long kAllowedGrowthBytes = 1024 * 1024;
constexpr float kToneLevel = 0.3f;
// Each stretch between two editor cycles plays one tone of these, so the view scrolls
// and the held-note bars match now and then.
constexpr float kTones[] = {110.0f, 146.8f, 196.0f, 261.6f, 329.6f, 440.0f, 587.3f, 784.0f};
constexpr int kAutomationTable = 1 << 16;

struct Options {
    std::string module;
    long seconds = kDefaultSeconds;
    uint64_t seed = 1;
};

const char kUsage[] =
    "usage: kelvatone-soak MODULE [--seconds N] [--seed N]\n"
    "\n"
    "Runs N seconds of audio (default 3600) through one instance of MODULE as fast as\n"
    "it goes, with its editor open (closed and opened again every 10 s of audio),\n"
    "random automation of every parameter every 100 ms and random MIDI. Fails when\n"
    "the resident memory grows by more than 1 MiB after the first minute of audio.\n"
    "Needs an X display on Linux (run under scripts/with-xvfb without one).\n"
    "\n"
    "Exit status: 0 passed, 1 failed, 2 bad input.\n";

bool parseCount(const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

// One line on stderr, exit status 2.
int badInput(const std::string& message) {
    std::fprintf(stderr, "kelvatone-soak: %s\n", message.c_str());
    return kExitBadInput;
}

// Resident memory of this process in bytes, from /proc/self/statm; -1 when unknown.
long residentBytes() {
    FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr) {
        return -1;
    }
    long size = 0, resident = 0;
    const int read = std::fscanf(file, "%ld %ld", &size, &resident);
    std::fclose(file);
    return read == 2 ? resident * sysconf(_SC_PAGESIZE) : -1;
}

struct Report {
    long blocks = 0;
    long automationRounds = 0;
    long editorCycles = 0;
    long baselineBytes = -1;
    long finalBytes = -1;
    std::string problem;
};

// Audio thread <-> UI thread handshake at every editor cycle: the audio thread asks
// and waits (in our own code, never inside the module) until the UI thread has
// closed and opened the editor.
struct Handshake {
    std::atomic<bool> cycleWanted{false}; // written by both, see above
    std::atomic<bool> finished{false};    // written by the audio thread, read by the UI thread
};

// Audio thread: the whole soak's audio, automation and MIDI.
void playAudio(EffectInstance& instance, const Options& options, Handshake& handshake,
               Report& report) {
    markAudioThread(true);
    AEffect* effect = instance.effect();
    std::mt19937_64 random(options.seed);
    AudioRig rig(effect, kSoakBlock);
    MidiLists lists(random);
    std::vector<float> automation(kAutomationTable);
    for (float& value : automation) {
        value = std::uniform_real_distribution<float>(0.0f, 1.0f)(random);
    }
    const auto totalFrames =
        static_cast<int64_t>(static_cast<float>(options.seconds) * kDefaultSampleRate);
    const auto automationFrames = static_cast<int64_t>(kAutomationSeconds * kDefaultSampleRate);
    const auto cycleFrames = static_cast<int64_t>(kEditorCycleSeconds * kDefaultSampleRate);
    const auto baselineFrames = static_cast<int64_t>(kBaselineSeconds * kDefaultSampleRate);
    size_t nextValue = 0;
    float tone = kTones[0];
    for (int64_t frame = 0; frame < totalFrames; frame += kSoakBlock) {
        if (frame / automationFrames != (frame + kSoakBlock) / automationFrames) {
            for (int32_t index = 0; index < effect->numParams; ++index) {
                effect->setParameter(effect, index, automation[nextValue++ % automation.size()]);
            }
            ++report.automationRounds;
        }
        if (frame > 0 && frame / cycleFrames != (frame - kSoakBlock) / cycleFrames) {
            tone = kTones[random() % std::size(kTones)];
            handshake.cycleWanted.store(true, std::memory_order_release);
            while (handshake.cycleWanted.load(std::memory_order_acquire)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ++report.editorCycles;
        }
        if (report.baselineBytes < 0 && frame >= baselineFrames) {
            report.baselineBytes = residentBytes();
        }
        instance.dispatch(effProcessEvents, 0, 0, lists.next(kSoakBlock));
        rig.fillTone(tone, kDefaultSampleRate, kToneLevel, frame, kSoakBlock);
        rig.process(effect, kSoakBlock);
        ++report.blocks;
        if (report.problem.empty()) {
            report.problem = rig.guardDamage(kSoakBlock);
        }
        if (report.problem.empty()) {
            report.problem = rig.nonFiniteOutput(kSoakBlock);
        }
    }
    report.finalBytes = residentBytes();
    markAudioThread(false);
    handshake.finished.store(true, std::memory_order_release);
}

// UI thread: keeps the editor's window going and cycles the editor when asked.
void runEditor(EffectInstance& instance, EditorWindow& window, Handshake& handshake) {
    instance.dispatch(effEditOpen, 0, 0, window.parentHandle());
    while (!handshake.finished.load(std::memory_order_acquire)) {
        if (handshake.cycleWanted.load(std::memory_order_acquire)) {
            instance.dispatch(effEditClose);
            window.pumpEvents();
            instance.dispatch(effEditOpen, 0, 0, window.parentHandle());
            handshake.cycleWanted.store(false, std::memory_order_release);
        }
        window.pumpEvents();
        instance.dispatch(effEditIdle);
        std::this_thread::sleep_for(kEventInterval);
    }
    instance.dispatch(effEditClose);
    window.pumpEvents();
}

int parseOptions(int argc, char** argv, Options& options, bool& helpOnly) {
    helpOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            helpOnly = true;
            return kExitPassed;
        }
        if (argument == "--seconds" || argument == "--seed") {
            if (i + 1 >= argc) {
                return badInput(argument + " needs a value (see --help)");
            }
            long value = 0;
            const std::string text = argv[++i];
            const long high = argument == "--seconds" ? kMaxSeconds : LONG_MAX;
            const long low = argument == "--seconds" ? static_cast<long>(kBaselineSeconds) : 0;
            if (!parseCount(text, low, high, value)) {
                return badInput(argument + " wants a whole number in " + std::to_string(low) +
                                ".." + std::to_string(high) + ", not \"" + text + "\"");
            }
            if (argument == "--seconds") {
                options.seconds = value;
            } else {
                options.seed = static_cast<uint64_t>(value);
            }
            continue;
        }
        if (!argument.empty() && argument[0] == '-') {
            return badInput("unknown option " + argument + " (see --help)");
        }
        if (!options.module.empty()) {
            return badInput("more than one module given (see --help)");
        }
        options.module = argument;
    }
    if (options.module.empty()) {
        return badInput("no module given (see --help)");
    }
    return kExitPassed;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    bool helpOnly = false;
    if (const int status = parseOptions(argc, argv, options, helpOnly); status != kExitPassed) {
        return status;
    }
    if (helpOnly) {
        std::fputs(kUsage, stdout);
        return kExitPassed;
    }
    std::string error;
    auto library = ModuleLibrary::open(options.module, error);
    auto instance = library ? EffectInstance::create(*library, error) : nullptr;
    if (instance == nullptr) {
        return badInput(error);
    }
    if (const char* reason = editorUnavailable(instance->effect())) {
        instance->close();
        return badInput(reason);
    }
    instance->dispatch(effOpen);
    instance->dispatch(effSetSampleRate, 0, 0, nullptr, kDefaultSampleRate);
    instance->dispatch(effSetBlockSize, 0, kSoakBlock);
    instance->dispatch(effMainsChanged, 0, 1);
    int width = 0, height = 0;
    auto window = hostWindow(*instance, width, height, error);
    if (window == nullptr) {
        instance->close();
        return badInput(error);
    }
    const auto started = std::chrono::steady_clock::now();
    Handshake handshake;
    Report report;
    std::thread audio([&] { playAudio(*instance, options, handshake, report); });
    runEditor(*instance, *window, handshake);
    audio.join();
    instance->dispatch(effMainsChanged, 0, 0);
    instance->close();
    window.reset();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const long growth = report.finalBytes - report.baselineBytes;
    std::printf("soak: %ld s of audio in %.1f s (%.0fx real time), %ld blocks, %ld automation "
                "rounds, %ld editor cycles; resident memory %.2f MiB after the first minute, "
                "%.2f MiB at the end (%+ld KiB)\n",
                options.seconds, elapsed, static_cast<double>(options.seconds) / elapsed,
                report.blocks, report.automationRounds, report.editorCycles,
                static_cast<double>(report.baselineBytes) / (1024.0 * 1024.0),
                static_cast<double>(report.finalBytes) / (1024.0 * 1024.0), growth / 1024);
    if (!report.problem.empty()) {
        std::printf("soak: FAILED: %s\n", report.problem.c_str());
        return kExitFailed;
    }
#if defined(KELVATONE_SOAK_SANITIZED)
    // The sanitizers' runtimes keep freed memory in quarantine: resident memory says
    // nothing here, their reports do.
    std::printf("soak: memory growth not judged in a sanitizer build\n");
#else
    if (report.baselineBytes < 0 || report.finalBytes < 0) {
        std::printf("soak: FAILED: cannot read the resident memory\n");
        return kExitFailed;
    }
    if (growth > kAllowedGrowthBytes) {
        std::printf("soak: FAILED: resident memory grew by %ld KiB after the first minute "
                    "(at most %ld KiB allowed)\n",
                    growth / 1024, kAllowedGrowthBytes / 1024);
        return kExitFailed;
    }
#endif
    std::printf("soak: passed\n");
    return kExitPassed;
}
