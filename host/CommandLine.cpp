#include "host/CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kelvatone::host {
namespace {

bool parseInteger(const std::string& text, long minimum, long maximum, long& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) {
        return false;
    }
    value = parsed;
    return true;
}

bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) {
        return false;
    }
    value = parsed;
    return true;
}

// "INDEX=VALUE" with VALUE in 0..1.
bool parseParameter(const std::string& text, RunSettings& settings, std::string& error) {
    const size_t equals = text.find('=');
    long index = 0;
    double value = 0.0;
    if (equals == std::string::npos ||
        !parseInteger(text.substr(0, equals), 0, std::numeric_limits<int32_t>::max(), index) ||
        !parseNumber(text.substr(equals + 1), value) || value < 0.0 || value > 1.0) {
        error = "--param wants INDEX=VALUE with VALUE in 0..1, not \"" + text + "\"";
        return false;
    }
    settings.parameters.emplace_back(static_cast<int32_t>(index), static_cast<float>(value));
    return true;
}

// "SECONDS:REST", SECONDS not negative; the rest may itself contain colons (paths).
bool splitTimed(const std::string& text, double& seconds, std::string& rest) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || !parseNumber(text.substr(0, colon), seconds) ||
        seconds < 0.0) {
        return false;
    }
    rest = text.substr(colon + 1);
    return !rest.empty();
}

bool parseSnapshotAt(const std::string& text, CommandLine& command, std::string& error) {
    Checkpoint checkpoint;
    checkpoint.kind = Checkpoint::Kind::Snapshot;
    if (!splitTimed(text, checkpoint.seconds, checkpoint.path)) {
        error = "--snapshot-at wants SECONDS:FILE.png, not \"" + text + "\"";
        return false;
    }
    command.checkpoints.push_back(checkpoint);
    return true;
}

bool parseClick(const std::string& text, CommandLine& command, std::string& error) {
    Checkpoint checkpoint;
    checkpoint.kind = Checkpoint::Kind::Click;
    std::string position;
    long x = 0, y = 0;
    const bool timed = splitTimed(text, checkpoint.seconds, position);
    const size_t comma = position.find(',');
    constexpr long kMaxCoordinate = 32767;
    if (!timed || comma == std::string::npos ||
        !parseInteger(position.substr(0, comma), 0, kMaxCoordinate, x) ||
        !parseInteger(position.substr(comma + 1), 0, kMaxCoordinate, y)) {
        error = "--click wants SECONDS:X,Y, not \"" + text + "\"";
        return false;
    }
    checkpoint.x = static_cast<int>(x);
    checkpoint.y = static_cast<int>(y);
    command.checkpoints.push_back(checkpoint);
    return true;
}

bool parseRunOption(const std::string& option, const std::string& value, CommandLine& command,
                    std::string& error) {
    if (option == "--input") {
        command.input = value;
    } else if (option == "--midi") {
        command.midi = value;
    } else if (option == "--output") {
        command.output = value;
        command.settings.keepOutput = true;
    } else if (option == "--block") {
        long blockSize = 0;
        constexpr long kMaxBlockOption = 1 << 20;
        if (!parseInteger(value, 1, kMaxBlockOption, blockSize)) {
            error = "--block wants a whole number of frames in 1.." +
                    std::to_string(kMaxBlockOption) + ", not \"" + value + "\"";
            return false;
        }
        command.settings.blockSize = static_cast<int>(blockSize);
    } else if (option == "--param") {
        return parseParameter(value, command.settings, error);
    } else if (option == "--snapshot") {
        Checkpoint checkpoint;
        checkpoint.seconds = -1.0; // after the whole input
        checkpoint.path = value;
        command.checkpoints.push_back(checkpoint);
    } else if (option == "--snapshot-at") {
        return parseSnapshotAt(value, command, error);
    } else if (option == "--click") {
        return parseClick(value, command, error);
    } else {
        error = "unknown option " + option + " (see --help)";
        return false;
    }
    return true;
}

} // namespace

std::string usageText() {
    return "usage: kelvatone-host info MODULE\n"
           "       kelvatone-host run MODULE --input FILE [options]\n"
           "       kelvatone-host validate MODULE [--strictness 1..10] [--seed N]\n"
           "                      [--pass-through] [--test NAME]...\n"
           "       kelvatone-host --help\n"
           "\n"
           "A command-line VST 2.4 host.\n"
           "\n"
           "info   loads MODULE and prints its descriptor, parameters and editor\n"
           "       size as one JSON object.\n"
           "run    processes FILE (mono or stereo audio) through MODULE on an audio\n"
           "       thread, in blocks, and prints one summary line.\n"
           "\n"
           "run options:\n"
           "  --input FILE              audio to process (its sample rate is used)\n"
           "  --midi FILE.mid           Standard MIDI File whose notes are delivered\n"
           "  --output FILE.wav         write the module's output as 32-bit float WAV\n"
           "  --block N                 frames per block (default 512)\n"
           "  --param INDEX=VALUE       set a parameter (VALUE in 0..1) before processing\n"
           "  --snapshot FILE.png       picture of the editor after the whole input\n"
           "  --snapshot-at SECONDS:FILE.png\n"
           "                            picture of the editor at that point of the input\n"
           "  --click SECONDS:X,Y       left click into the editor at that point\n"
           "--param, --snapshot-at and --click may be repeated. Snapshots and\n"
           "clicks open the editor in a window; on Linux they need an X display (run\n"
           "under xvfb-run -a without one).\n"
           "\n"
           "validate runs a battery of tests on MODULE and prints one line per test,\n"
           "PASS name or FAIL name: reason, then \"validate: N passed, N failed\".\n"
           "  --strictness 1..10        more instances, blocks and time (default 5)\n"
           "  --seed N                  repeat the random parts of an earlier run\n"
           "  --pass-through            require output equal to input bit for bit\n"
           "                            (otherwise required when measured so)\n"
           "  --test NAME               run only the tests whose names start with NAME\n"
           "                            (with --seed, repeats one test of a run)\n"
           "On Linux each test runs in a process of its own, so a crash fails that test\n"
           "only; the editor tests need an X display. Heap and mutex use on the audio\n"
           "thread is counted on Linux only.\n"
           "\n"
           "Exit status: 0 on success, 2 for bad input or a module that fails;\n"
           "validate: 0 all passed, 1 something failed, 2 the module cannot be loaded.\n";
}

bool parseCommandLine(const std::vector<std::string>& arguments, CommandLine& command,
                      std::string& error) {
    command = CommandLine{};
    if (arguments.empty()) {
        error = "no command given (see --help)";
        return false;
    }
    const std::string& action = arguments[0];
    if (action == "--help" || action == "-h" || action == "help") {
        command.action = CommandLine::Action::Help;
        return true;
    }
    if (action != "info" && action != "run" && action != "validate") {
        error = "unknown command \"" + action + "\" (see --help)";
        return false;
    }
    if (arguments.size() < 2 || arguments[1].rfind("--", 0) == 0) {
        error = action + " needs a MODULE path (see --help)";
        return false;
    }
    command.module = arguments[1];
    if (action == "info") {
        command.action = CommandLine::Action::Info;
        if (arguments.size() > 2) {
            error = "info takes only a MODULE path, not \"" + arguments[2] + "\"";
            return false;
        }
        return true;
    }
    if (action == "validate") {
        command.action = CommandLine::Action::Validate;
        command.validateArguments.assign(arguments.begin() + 2, arguments.end());
        return true;
    }
    command.action = CommandLine::Action::Run;
    for (size_t i = 2; i < arguments.size(); i += 2) {
        const std::string& option = arguments[i];
        if (option.rfind("--", 0) != 0) {
            error = "unexpected argument \"" + option + "\" (see --help)";
            return false;
        }
        if (i + 1 >= arguments.size()) {
            error = option + " needs a value (see --help)";
            return false;
        }
        if (!parseRunOption(option, arguments[i + 1], command, error)) {
            return false;
        }
    }
    if (command.input.empty()) {
        error = "run needs --input FILE (see --help)";
        return false;
    }
    return true;
}

} // namespace kelvatone::host
