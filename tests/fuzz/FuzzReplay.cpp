// A stand-alone driver for a fuzz target, for builds libFuzzer cannot join
// (ThreadSanitizer): runs every file of the given corpus folders through the target's
// LLVMFuzzerTestOneInput, then inputs of random bytes from a fixed seed until the time is
// up, and says how many it ran. A failed check aborts the program as it does under
// libFuzzer; ThreadSanitizer makes the exit status non-zero when it reported anything.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

constexpr int kBadUsage = 2;
constexpr size_t kDefaultMaxLength = 4096;

const char kUsage[] =
    "usage: %s [--seconds S] [--seed N] [--max-len BYTES] CORPUS_FOLDER...\n"
    "Runs each file of the folders through the fuzz target, then random inputs of up to\n"
    "BYTES bytes (default 4096) from seed N (default 1) until S seconds (default 0) have\n"
    "passed since the start; prints the number of inputs run.\n";

struct Options {
    double seconds = 0.0;
    uint32_t seed = 1;
    size_t maxLength = kDefaultMaxLength;
    std::vector<std::string> folders;
};

bool parseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= 0.0;
}

// False with a one-line reason for anything it does not understand.
bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" || arg == "--seed" || arg == "--max-len") {
            double value = 0.0;
            if (i + 1 >= argc || !parseNumber(argv[i + 1], value)) {
                error = arg + " needs a non-negative number";
                return false;
            }
            ++i;
            if (arg == "--seconds")
                options.seconds = value;
            else if (arg == "--seed")
                options.seed = static_cast<uint32_t>(value);
            else
                options.maxLength = static_cast<size_t>(value);
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (!std::filesystem::is_directory(arg)) {
            error = "no corpus folder " + arg;
            return false;
        } else {
            options.folders.push_back(arg);
        }
    }
    if (options.folders.empty()) {
        error = "no corpus folder given";
        return false;
    }
    return true;
}

void runOne(const std::vector<uint8_t>& input) {
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

size_t replayCorpus(const std::vector<std::string>& folders) {
    size_t runs = 0;
    for (const std::string& folder : folders) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream file(entry.path(), std::ios::binary);
            runOne(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}));
            ++runs;
        }
    }
    return runs;
}

size_t runRandom(const Options& options, std::chrono::steady_clock::time_point start) {
    std::mt19937 random(options.seed);
    std::uniform_int_distribution<size_t> length(0, options.maxLength);
    std::uniform_int_distribution<int> byte(0, 255);
    const auto until = start + std::chrono::duration<double>(options.seconds);
    size_t runs = 0;
    std::vector<uint8_t> input;
    while (std::chrono::steady_clock::now() < until) {
        input.resize(length(random));
        for (uint8_t& b : input)
            b = static_cast<uint8_t>(byte(random));
        runOne(input);
        ++runs;
    }
    return runs;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::printf(kUsage, argv[0]);
        return 0;
    }
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "%s: %s (--help for usage)\n", argv[0], error.c_str());
        return kBadUsage;
    }
    const auto start = std::chrono::steady_clock::now();
    const size_t corpusRuns = replayCorpus(options.folders);
    const size_t randomRuns = runRandom(options, start);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%zu corpus inputs and %zu random inputs in %.1f s\n", corpusRuns, randomRuns,
                seconds);
    return 0;
}
