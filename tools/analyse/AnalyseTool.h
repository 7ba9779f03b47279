// kelvatone-analyse: runs the plug-in's analysis engine over an audio file and prints one
// row per analysed frame. Option parsing and the run are here, apart from main, so that the
// tests can drive them.
#pragma once

#include "analysis/AnalysisEngine.h"

#include <cstdio>
#include <string>

enum class OutputFormat { csv, json };

struct AnalyseOptions {
    std::string file;
    float resolution = 15.0f;
    double threshold = 25.0;
    NoteNumber beginNote = 12;
    NoteNumber endNote = 96;
    OutputFormat format = OutputFormat::csv;
};

enum class ParseOutcome { run, help, error };

// Reads the command line (argv[0] is the program). On error, `error` names the problem.
ParseOutcome parseAnalyseOptions(int argc, const char* const* argv, AnalyseOptions& options,
                                 std::string& error);

// The usage text for --help.
const char* analyseUsage();

// Analyses the file and writes the rows to `out`. Returns false with `error` set when the
// file cannot be opened or read, its sample rate is not supported, or the output fails.
bool runAnalysis(const AnalyseOptions& options, std::FILE* out, std::string& error);
