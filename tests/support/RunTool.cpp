#include "tests/support/RunTool.h"

#include <sys/wait.h>

#include <cstdlib>

ToolExit runTool(const std::string& program, const std::string& arguments, const TempDir& dir) {
    const std::string out = dir.file("stdout"), err = dir.file("stderr");
    const std::string command = "cd '" + dir.path().string() + "' && " + program + " " +
                                arguments + " >'" + out + "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}
