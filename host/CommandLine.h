// The command line of kelvatone-host: `info MODULE`, `run MODULE --input FILE ...`,
// `validate MODULE ...` and `--help`.
#pragma once

#include <string>
#include <vector>

#include "host/Session.h"
#include "host/validate/Validation.h"

namespace kelvatone::host {

struct CommandLine {
    enum class Action { Help, Info, Run, Validate };
    Action action = Action::Help;
    std::string module;
    // run only:
    std::string input;
    std::string midi;
    std::string output;
    RunSettings settings;
    std::vector<Checkpoint> checkpoints;
    // validate only (its module is `module`):
    validate::ValidateOptions validation;
};

// Any thread. False with a one-line reason for anything the host does not understand.
bool parseCommandLine(const std::vector<std::string>& arguments, CommandLine& command,
                      std::string& error);

std::string usageText();

} // namespace kelvatone::host
