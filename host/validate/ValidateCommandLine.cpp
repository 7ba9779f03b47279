#include "host/validate/ValidateCommandLine.h"

#include <cerrno>
#include <cstdlib>

namespace kelvatone::host::validate {
namespace {

bool parseStrictness(const std::string& text, int& strictness) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < kMinStrictness || parsed > kMaxStrictness) {
        return false;
    }
    strictness = static_cast<int>(parsed);
    return true;
}

// A whole number of 0 or more, without a sign.
bool parseSeed(const std::string& text, uint64_t& seed) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || errno != 0 || *end != '\0') {
        return false;
    }
    seed = parsed;
    return true;
}

} // namespace

bool parseValidateOptions(const std::string& module, const std::vector<std::string>& arguments,
                          ValidateOptions& options, std::string& error) {
    options = ValidateOptions{};
    options.module = module;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--pass-through") {
            options.passThrough = true;
            continue;
        }
        if (option != "--strictness" && option != "--seed" && option != "--test") {
            error = "unknown option " + option + " (see --help)";
            return false;
        }
        if (i + 1 >= arguments.size()) {
            error = option + " needs a value (see --help)";
            return false;
        }
        const std::string& value = arguments[++i];
        if (option == "--test") {
            if (value.empty()) {
                error = "--test wants the start of a test name, such as midi. (see --help)";
                return false;
            }
            options.testPrefixes.push_back(value);
        } else if (option == "--strictness") {
            if (!parseStrictness(value, options.strictness)) {
                error = "--strictness wants a whole number in 1..10, not \"" + value + "\"";
                return false;
            }
        } else {
            if (!parseSeed(value, options.seed)) {
                error = "--seed wants a whole number of 0 or more, not \"" + value + "\"";
                return false;
            }
            options.seedGiven = true;
        }
    }
    return true;
}

} // namespace kelvatone::host::validate
