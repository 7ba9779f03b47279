// Runs a command-line program the way a user's shell does and collects what it wrote.
// Linux only (the shell and its exit statuses).
#pragma once

#include "tests/support/TempDir.h"

#include <string>
#include <vector>

namespace kelvatone::testsupport {

struct ToolExit {
    // The exit status, as the shell gives it (128 + N for a program that signal N ended);
    // -1 when the shell itself did not exit normally.
    int status;
    std::string out;
    std::string err;
};

// Runs `program arguments` through the shell with `dir` as working folder, stdout and
// stderr sent to the files "stdout" and "stderr" there (replaced on every run), and
// returns its exit status and the two texts. `program` and `arguments` are shell text:
// names relative to `dir` work, which Wine needs.
ToolExit runTool(const std::string& program, const std::string& arguments, const TempDir& dir);

// The lines of a program's output (or of a file it wrote), without their '\n'; a last
// line without one counts too.
std::vector<std::string> splitLines(const std::string& text);

} // namespace kelvatone::testsupport
