#include "host/validate/Validation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#if !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "host/validate/AudioRig.h"
#include "host/validate/RealtimeMonitor.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUnloadable = 2;

// splitmix64: spreads one seed into independent per-test seeds.
uint64_t mixSeed(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// FNV-1a of a test name: its seed does not depend on which tests run before it.
uint64_t nameHash(const std::string& name) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (const char c : name) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
    }
    return hash;
}

Outcome runGuarded(const TestCase& test, Validation& validation) {
    try {
        return test.run(validation);
    } catch (const std::exception& exception) {
        return Outcome::fail(std::string("exception escaped the module: ") + exception.what());
    } catch (...) {
        return Outcome::fail("exception escaped the module");
    }
}

#if !defined(_WIN32)
// A test still running after this long has hung.
constexpr int kTestTimeoutMs = 240 * 1000;
constexpr char kPassedMark = 'P';
constexpr char kFailedMark = 'F';
constexpr char kPassThroughMark = 'T';

void writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = write(fd, data.data() + done, data.size() - done);
        if (written <= 0) {
            return;
        }
        done += static_cast<size_t>(written);
    }
}

// Runs the test in a child process, so that a module that crashes or hangs fails its
// test and the battery goes on. The child reports through a pipe: a mark for passed
// or failed, one for the pass-through probe, then the text.
Outcome runIsolated(const TestCase& test, Validation& validation) {
    int channel[2];
    if (pipe(channel) != 0) {
        return Outcome::fail("cannot create a pipe for the test process");
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return Outcome::fail("cannot start the test process");
    }
    if (child == 0) {
        close(channel[0]);
        const Outcome outcome = runGuarded(test, validation);
        std::string message;
        message += outcome.passed ? kPassedMark : kFailedMark;
        message += outcome.passThrough ? kPassThroughMark : '-';
        message += outcome.text;
        writeAll(channel[1], message);
        close(channel[1]);
        std::fflush(stdout);
        // No exit handlers: the module's static destructors are not under test here.
        _exit(0);
    }
    close(channel[1]);
    std::string message;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kTestTimeoutMs);
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd waitFor{channel[0], POLLIN, 0};
        if (poll(&waitFor, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        char chunk[512];
        const ssize_t got = read(channel[0], chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        message.append(chunk, static_cast<size_t>(got));
    }
    close(channel[0]);
    if (timedOut) {
        kill(child, SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (timedOut) {
        return Outcome::fail("the module hung (no result within " +
                             std::to_string(kTestTimeoutMs / 1000) + " s)");
    }
    if (WIFSIGNALED(status)) {
        const int number = WTERMSIG(status);
        return Outcome::fail("the module crashed (signal " + std::to_string(number) + ", " +
                             strsignal(number) + ")");
    }
    if (message.size() < 2) {
        return Outcome::fail("the test process ended without a result (exit status " +
                             std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")");
    }
    Outcome outcome;
    outcome.passed = message[0] == kPassedMark;
    outcome.passThrough = message[1] == kPassThroughMark;
    outcome.text = message.substr(2);
    return outcome;
}
#else
// Windows has no fork: tests run in this process, one after the other, and a crash
// of the module ends the battery.
Outcome runIsolated(const TestCase& test, Validation& validation) {
    return runGuarded(test, validation);
}
#endif

bool selected(const ValidateOptions& options, const std::string& name) {
    if (options.testPrefixes.empty()) {
        return true;
    }
    return std::any_of(options.testPrefixes.begin(), options.testPrefixes.end(),
                       [&](const std::string& prefix) { return name.rfind(prefix, 0) == 0; });
}

void printOutcome(const std::string& name, const Outcome& outcome) {
    if (outcome.passed) {
        std::printf("PASS %s%s%s\n", name.c_str(), outcome.text.empty() ? "" : " ",
                    outcome.text.c_str());
    } else {
        std::printf("FAIL %s: %s\n", name.c_str(), outcome.text.c_str());
    }
    std::fflush(stdout);
}

} // namespace

Validation::Validation(const ModuleLibrary& library, const ValidateOptions& options,
                       uint64_t testSeed, bool passThrough)
    : library_(library), strictness_(options.strictness), seed_(testSeed), random_(testSeed),
      passThrough_(passThrough) {}

double Validation::factor() const {
    constexpr double kGrowthAboveDefault = 0.6;
    if (strictness_ <= kDefaultStrictness) {
        return static_cast<double>(strictness_) / kDefaultStrictness;
    }
    return 1.0 + kGrowthAboveDefault * (strictness_ - kDefaultStrictness);
}

int Validation::scaled(int base) const {
    return std::max(1, static_cast<int>(base * factor()));
}

std::chrono::milliseconds Validation::scaled(std::chrono::milliseconds base) const {
    return std::chrono::milliseconds(
        static_cast<int64_t>(static_cast<double>(base.count()) * factor()));
}

int64_t Validation::uniform(int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(random_);
}

float Validation::uniformFloat(float low, float high) {
    return std::uniform_real_distribution<float>(low, high)(random_);
}

void switchOn(EffectInstance& instance, int32_t blockSize) {
    instance.dispatch(effOpen);
    instance.dispatch(effSetSampleRate, 0, 0, nullptr, kDefaultSampleRate);
    instance.dispatch(effSetBlockSize, 0, blockSize);
    instance.dispatch(effMainsChanged, 0, 1);
}

std::unique_ptr<EffectInstance> Validation::instantiate(std::string& error) const {
    return EffectInstance::create(library_, error);
}

int runValidation(const ValidateOptions& options) {
    std::string error;
    auto library = ModuleLibrary::open(options.module, error);
    if (library == nullptr) {
        std::fprintf(stderr, "kelvatone-host: %s\n", error.c_str());
        return kExitUnloadable;
    }
    if (EffectInstance::create(*library, error) == nullptr) {
        std::fprintf(stderr, "kelvatone-host: %s\n", error.c_str());
        return kExitUnloadable;
    }
    const uint64_t seed =
        options.seedGiven
            ? options.seed
            : static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    std::printf(
        "validate: %s, strictness %d, seed %llu%s\n", options.module.c_str(), options.strictness,
        static_cast<unsigned long long>(seed),
        countingAvailable() ? "" : " (allocation and lock counting not available in this build)");

    int passed = 0, failed = 0;
    auto record = [&](const std::string& name, const Outcome& outcome) {
        printOutcome(name, outcome);
        (outcome.passed ? passed : failed) += 1;
    };

    const TestCase probe{"audio.pass-through", probePassThrough};
    Validation probing(*library, options, mixSeed(seed ^ nameHash(probe.name)), false);
    Outcome probed = runIsolated(probe, probing);
    if (options.passThrough && probed.passed && !probed.passThrough) {
        probed = Outcome::fail("declared pass-through (--pass-through), but " + probed.text);
    }
    record(probe.name, probed);
    const bool passThrough = options.passThrough || probed.passThrough;

    std::vector<TestCase> tests;
    addLifecycleTests(tests);
    addOpcodeTests(tests);
    addParameterTests(tests);
    addAudioTests(tests);
    addAnalysisAudioTests(tests);
    addMidiTests(tests);
    addMidiStreamTests(tests);
    addRealtimeTests(tests);
    addEditorTests(tests);
    addEditorHostingTests(tests);
    addInstanceTests(tests);
    for (const TestCase& test : tests) {
        if (!selected(options, test.name)) {
            continue;
        }
        Validation validation(*library, options, mixSeed(seed ^ nameHash(test.name)), passThrough);
        record(test.name, runIsolated(test, validation));
    }
    std::printf("validate: %d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? kExitPassed : kExitFailed;
}

} // namespace kelvatone::host::validate
