#include "tests/support/RunTool.h"

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

namespace kelvatone::testsupport {

ToolExit runTool(const std::string& program, const std::string& arguments, const TempDir& dir) {
    const std::string out = dir.file("stdout"), err = dir.file("stderr");
    const std::string command = "cd '" + dir.path().string() + "' && " + program + " " + arguments +
                                " >'" + out + "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

} // namespace kelvatone::testsupport
