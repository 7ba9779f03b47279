// kelvatone-analyse FILE [options]: see analyseUsage().
#include "tools/analyse/AnalyseTool.h"

#include <cstdio>

using namespace kelvatone::analyse;

namespace {
constexpr int kExitBadInput = 2;
}

int main(int argc, char** argv) {
    AnalyseOptions options;
    std::string error;
    switch (parseAnalyseOptions(argc, argv, options, error)) {
    case ParseOutcome::help:
        std::fputs(analyseUsage(), stdout);
        return 0;
    case ParseOutcome::error:
        std::fprintf(stderr, "kelvatone-analyse: %s\n", error.c_str());
        return kExitBadInput;
    case ParseOutcome::run:
        break;
    }
    if (!runAnalysis(options, stdout, error)) {
        std::fprintf(stderr, "kelvatone-analyse: %s\n", error.c_str());
        return kExitBadInput;
    }
    return 0;
}
