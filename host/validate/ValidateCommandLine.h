// The options of `kelvatone-host validate MODULE [options]`, read by the validator
// itself so that the host's command line needs nothing of it: the host hands over
// the module and the arguments after it.
#pragma once

#include <string>
#include <vector>

#include "host/validate/Validation.h"

namespace kelvatone::host::validate {

// Reads --strictness 1..10, --seed N, --pass-through and --test NAME (repeatable)
// from `arguments` into `options` (which it resets, then sets options.module).
// False with a one-line reason ending in "(see --help)" or quoting the bad value.
// Any thread.
bool parseValidateOptions(const std::string& module, const std::vector<std::string>& arguments,
                          ValidateOptions& options, std::string& error);

} // namespace kelvatone::host::validate
