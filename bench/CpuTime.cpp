// kelvatone-cputime: the whole-process CPU time (user + system, the command and every
// process it waits for) of a command, over several runs. The command's own output is
// discarded, so that writing its results to a terminal or pipe does not count.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultRuns = 3;
constexpr int kMaxRuns = 100;
constexpr int kBadInput = 2;
constexpr int kExecFailed = 127;

void printUsage() {
    std::printf("usage: kelvatone-cputime [--runs N] COMMAND [ARGS...]\n"
                "Runs COMMAND N times (default %d) with its output discarded and prints\n"
                "  median_s M min_s L runs N\n"
                "where M and L are the median and the least CPU time (user + system) of\n"
                "one run in seconds. Exit status 2 when COMMAND fails or cannot run.\n",
                kDefaultRuns);
}

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
}

// One run: the child's CPU time in `cpu`, false with a reason when it did not succeed.
bool timeOneRun(char** command, double& cpu, std::string& error) {
    const pid_t child = fork();
    if (child < 0) {
        error = std::string("cannot start a process: ") + std::strerror(errno);
        return false;
    }
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execvp(command[0], command);
        _exit(kExecFailed);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        error = std::string("lost the command's process: ") + std::strerror(errno);
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = std::string(command[0]) + " failed (status " +
                std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
        return false;
    }
    cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int first = 1;
    int runs = kDefaultRuns;
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        printUsage();
        return 0;
    }
    if (argc > 2 && std::strcmp(argv[1], "--runs") == 0) {
        char* end = nullptr;
        const long value = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || value < 1 || value > kMaxRuns) {
            std::fprintf(stderr, "kelvatone-cputime: --runs wants 1..%d, not %s\n", kMaxRuns,
                         argv[2]);
            return kBadInput;
        }
        runs = static_cast<int>(value);
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "kelvatone-cputime: no command given (see --help)\n");
        return kBadInput;
    }
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        double cpu = 0.0;
        std::string error;
        if (!timeOneRun(argv + first, cpu, error)) {
            std::fprintf(stderr, "kelvatone-cputime: %s\n", error.c_str());
            return kBadInput;
        }
        times.push_back(cpu);
    }
    std::sort(times.begin(), times.end());
    const size_t middle = times.size() / 2;
    const double median =
        times.size() % 2 != 0 ? times[middle] : 0.5 * (times[middle - 1] + times[middle]);
    std::printf("median_s %.4f min_s %.4f runs %d\n", median, times.front(), runs);
    return 0;
}
