// The command line of kelvatone-host: `info MODULE`, `run MODULE --input FILE ...`
// and `--help`.
#pragma once

#include <string>
#include <vector>

#include "host/Session.h"

namespace kelvatone::host {

struct CommandLine {
    enum class Action { Help, Info, Run };
    Action action = Action::Help;
    std::string module;
    // run only:
    std::string input;
    std::string midi;
    std::string output;
    RunSettings settings;
    std::vector<Checkpoint> checkpoints;
};

// Any thread. False with a one-line reason for anything the host does not understand.
bool parseCommandLine(const std::vector<std::string>& arguments, CommandLine& command,
                      std::string& error);

std::string usageText();

} // namespace kelvatone::host
