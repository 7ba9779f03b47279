// The command line of kelvatone-host: `info MODULE`, `run MODULE --input FILE ...`,
// `validate MODULE ...` and `--help`. The options of validate are the validator's
// own (host/validate/ValidateCommandLine.h): they are handed over unread.
#pragma once

#include <string>
#include <vector>

#include "host/Session.h"

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
    // validate only: the arguments after MODULE, for validate::parseValidateOptions.
    std::vector<std::string> validateArguments;
};

// Any thread. False with a one-line reason for anything the host does not understand.
bool parseCommandLine(const std::vector<std::string>& arguments, CommandLine& command,
                      std::string& error);

std::string usageText();

} // namespace kelvatone::host
