// kelvatone-analyse: runs the plug-in's analysis engine over an audio file and prints one
// row per analysed frame. Option parsing and the run are here, apart from main, so that the
// tests can drive them.
#pragma once

#include "analysis/AnalysisEngine.h"

#include <cstdio>
#include <string>

namespace kelvatone::analyse {

enum class OutputFormat { csv, json };

struct AnalyseOptions {
    std::string file;
    float resolution = 15.0f;
    double threshold = 25.0;
    analysis::NoteNumber beginNote = 12;
    analysis::NoteNumber endNote = 96;
    OutputFormat format = OutputFormat::csv;
    // The MIDI part of the notes that were meant; empty for none.
    std::string midiFile;
    // The take report after the rows (needs midiFile).
    bool summary = false;
    // The whole take drawn as the display's pages; empty for none.
    std::string pngFile;
    // The take report as one HTML page; empty for none. Its reference is the MIDI part, or
    // without one the notes segmented from the take.
    std::string reportFile;
    // The notes segmented from the take, as MIDI (.mid) or CSV (.csv); empty for none.
    std::string notesFile;
};

enum class ParseOutcome { run, help, error };

// Reads the command line (argv[0] is the program). On error, `error` names the problem.
ParseOutcome parseAnalyseOptions(int argc, const char* const* argv, AnalyseOptions& options,
                                 std::string& error);

// The usage text for --help.
const char* analyseUsage();

// Analyses the file and writes the rows (and the summary) to `out`, and the picture, the
// report and the notes to their files, each written under a temporary name and renamed
// into place when complete. Returns false with `error` set (and no file left behind) when
// the audio or MIDI file cannot be opened or read, the part has no notes, the sample rate
// is not supported, the take is shorter than one frame while a take-level output is asked
// for, or an output fails.
bool runAnalysis(const AnalyseOptions& options, std::FILE* out, std::string& error);

} // namespace kelvatone::analyse
