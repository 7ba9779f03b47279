#include "tools/analyse/AnalyseTool.h"

#include "analysis/NoteNames.h"
#include "analysis/RateConverter.h"
#include "io/Json.h"
#include "io/MidiFile.h"
#include "io/PngWriter.h"
#include "report/TakeAnalysis.h"
#include "report/TakeNotes.h"
#include "tools/analyse/NoteFiles.h"
#include "tools/analyse/OutputFile.h"
#include "tools/analyse/TakeAudio.h"
#include "tools/analyse/TakePicture.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace kelvatone::analysis;
using namespace kelvatone::report;

namespace kelvatone::analyse {

namespace {

// The parameters' limit of the threshold: 0..50.
constexpr double kHighestThreshold = 50.0;

const char kUsage[] =
    "usage: kelvatone-analyse FILE [--resolution high|mid|low] [--threshold LEVEL]\n"
    "                         [--begin NOTE] [--end NOTE] [--format csv|json]\n"
    "                         [--midi PART.mid [--summary]] [--png PICTURE.png]\n"
    "                         [--report REPORT.html] [--notes NOTES.mid|NOTES.csv]\n"
    "Runs the Kelvatone pitch analysis over an audio file (see FILE below) and prints one\n"
    "row per analysed frame (the audio is converted to 44100 Hz first, as the plug-in\n"
    "converts the host's, so every rate reads as 44100 Hz does):\n"
    "frame index, time of the frame's newest sample, pitch in cents above C0 (-1: none),\n"
    "frequency in Hz and note name.\n"
    "  --resolution  frame length: high (10 Hz), mid (15 Hz, default), low (30 Hz)\n"
    "  --threshold   level gate, 0..50 (default 25)\n"
    "  --begin/--end analysis range as a note label (C1 .. C9, A4, F#3) or a note number\n"
    "                (0 = C0, 57 = A4); default C1 to C8, kept within C1..C9 and at least\n"
    "                an octave wide as the plug-in's parameters keep it\n"
    "  --format      csv (default) or json\n"
    "  --midi        the notes that were meant, a Standard MIDI File: every row gets a\n"
    "                'held' column (CSV: after 'note'; JSON: an array) with the names of\n"
    "                the notes held at the frame's newest sample (MIDI 60 = C4), events\n"
    "                taking effect at their time rounded to the nearest sample\n"
    "  --summary     with --midi: after the rows, one line per note of the part (from its\n"
    "                note-on to its note-off) and one for the whole take (every frame with\n"
    "                a note held). CSV: a blank line, then the header\n"
    "                  note,start_s,length_s,frames,voiced_share,median_cents,within_50_share\n"
    "                with the note's name (\"take\" for the whole take, from the first\n"
    "                note's start to the last note's end), its start and length in\n"
    "                seconds, the frames at which it was held, the share of them with a\n"
    "                pitch, the median deviation in cents of the pitch from the note over\n"
    "                those (for the take: from the nearest held note), and the share of its\n"
    "                frames strictly within 50 cents of it; a figure without frames is\n"
    "                empty. JSON: \"summary\": {\"notes\": [...], \"take\": {...}}, null\n"
    "                for the empty figures.\n"
    "  --png         draws the take as the display does (grid, held-note bars, pitch\n"
    "                trace), one 640 x 360 page per 310 frames, pages stacked top to bottom;\n"
    "                the view follows the pitch frame by frame as in the plug-in\n"
    "  --report      the take report as one self-contained HTML page to open in any\n"
    "                browser: the whole take drawn as the display draws it (zoom and scroll\n"
    "                with the wheel and by dragging), the table of notes with the figures of\n"
    "                --summary, the summary of the take and the settings. The notes are\n"
    "                those of --midi, or without it the notes segmented from the take\n"
    "  --notes       the notes sung, segmented from the pitch track (a rest or a move of\n"
    "                more than half a semitone held about 90 ms starts a new note; vibrato\n"
    "                and glides do not), as a Standard MIDI File (.mid) or as CSV (.csv):\n"
    "                  onset_s,offset_s,midi_note,note,median_deviation_cents\n"
    "                onsets where the level of the note's pitch rose in the audio, and\n"
    "                notes named by the fundamental that sounds, on a spectrum as long as\n"
    "                the note allows; pieces that sound no tone (noise) are dropped; the\n"
    "                deviation is the note's median pitch minus the tempered note\n"
    "  Outputs are written under a temporary name and renamed into place when complete.\n"
    "  --help        this text\n";

const char kSummaryNeedsMidi[] = "--summary needs the notes that were meant: --midi PART.mid";

bool parseResolution(const std::string& text, float& resolution) {
    if (text == "high")
        resolution = kFinestResolution;
    else if (text == "mid")
        resolution = kMiddleResolution;
    else if (text == "low")
        resolution = kCoarsestResolution;
    else
        return false;
    return true;
}

bool parseThreshold(const std::string& text, double& threshold) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value))
        return false;
    threshold = std::min(std::max(value, 0.0), kHighestThreshold);
    return true;
}

bool parseNote(const std::string& text, NoteNumber& note) {
    if (parseNoteLabel(text.c_str(), note))
        return true;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX)
        return false;
    note = static_cast<NoteNumber>(value);
    return true;
}

// The parameters' clamping: the end within reach of C9, the begin within C1..end - 12, and
// the end at least an octave above the begin.
void clampRange(AnalyseOptions& options) {
    options.endNote = std::min(options.endNote, kHighestEndNote);
    options.beginNote = clampBeginNote(options.beginNote, options.endNote);
    options.endNote = clampEndNote(options.endNote, options.beginNote);
}

bool parseOptionValue(const std::string& name, const std::string& value, AnalyseOptions& options,
                      std::string& error) {
    bool valid = false;
    if (name == "--resolution")
        valid = parseResolution(value, options.resolution);
    else if (name == "--threshold")
        valid = parseThreshold(value, options.threshold);
    else if (name == "--begin")
        valid = parseNote(value, options.beginNote);
    else if (name == "--end")
        valid = parseNote(value, options.endNote);
    else if (name == "--format") {
        valid = value == "csv" || value == "json";
        options.format = value == "json" ? OutputFormat::json : OutputFormat::csv;
    } else if (name == "--midi") {
        valid = !value.empty();
        options.midiFile = value;
    } else if (name == "--png") {
        valid = !value.empty();
        options.pngFile = value;
    } else if (name == "--report") {
        valid = !value.empty();
        options.reportFile = value;
    } else if (name == "--notes") {
        NotesFormat format;
        if (!notesFormatOf(value, format)) {
            error = "--notes needs a file name ending in .mid or .csv: '" + value + "'";
            return false;
        }
        valid = true;
        options.notesFile = value;
    } else if (name == "--summary") {
        error = "--summary takes no value";
        return false;
    } else {
        error = "unknown option " + name;
        return false;
    }
    if (!valid)
        error = "bad value '" + value + "' for " + name;
    return valid;
}

void writeJsonString(std::FILE* out, const std::string& text) {
    std::fputs(kelvatone::io::jsonQuote(text).c_str(), out);
}

void writeJsonNumber(std::FILE* out, bool present, const char* format, double value) {
    if (present)
        std::fprintf(out, format, value);
    else
        std::fputs("null", out);
}

class RowWriter {
public:
    RowWriter(std::FILE* stream, OutputFormat rowFormat, bool writeHeld)
        : out(stream), format(rowFormat), withHeld(writeHeld) {}

    // The JSON header gives the file's rate, the hop in the file's samples and the frame
    // length in samples of the analysis rate.
    void begin(const AnalyseOptions& options, TakeAnalysis& take) {
        if (format == OutputFormat::csv) {
            std::fputs(withHeld ? "frame,time_s,cents,hz,note,held\n"
                                : "frame,time_s,cents,hz,note\n",
                       out);
            return;
        }
        std::fputs("{\"file\": ", out);
        writeJsonString(out, options.file);
        if (withHeld) {
            std::fputs(", \"midi\": ", out);
            writeJsonString(out, options.midiFile);
        }
        std::fprintf(out,
                     ", \"sampleRate\": %.17g, \"fftSize\": %d, \"hopLength\": %.17g, "
                     "\"resolution\": %g, \"threshold\": %.17g, \"beginNote\": %d, "
                     "\"endNote\": %d,\n \"frames\": [",
                     take.fileRate(), take.fftSize(), take.hopInFileSamples(),
                     static_cast<double>(options.resolution), options.threshold, options.beginNote,
                     options.endNote);
    }

    // held: the notes held at the frame, used when the rows carry the held column.
    void row(long frame, double time, PitchCents cents, const HeldNoteSet& held) {
        char hz[32] = "";
        char note[8] = "";
        if (cents != kNoPitch) {
            std::snprintf(hz, sizeof hz, "%.3f", c0Frequency * std::pow(2.0, cents / 1200.0));
            char label[8];
            pitchNoteLabel(cents, 0, label);
            // The display's label without its blank: "A 4" becomes "A4".
            std::remove_copy(label, label + std::strlen(label) + 1, note, ' ');
        }
        if (format == OutputFormat::csv) {
            std::fprintf(out, "%ld,%.6f,%d,%s,%s", frame, time, cents, hz, note);
            if (withHeld)
                std::fprintf(out, ",%s", heldNoteNames(held).c_str());
            std::fputc('\n', out);
            return;
        }
        std::fprintf(out, "%s\n  {\"frame\": %ld, \"time_s\": %.6f, \"cents\": %d, ",
                     frame == 0 ? "" : ",", frame, time, cents);
        if (cents == kNoPitch)
            std::fputs("\"hz\": null, \"note\": null", out);
        else
            std::fprintf(out, "\"hz\": %s, \"note\": \"%s\"", hz, note);
        if (withHeld)
            writeJsonHeld(held);
        std::fputc('}', out);
    }

    void summary(const TakeNotes& notes) {
        if (format == OutputFormat::csv) {
            std::fputs("\nnote,start_s,length_s,frames,voiced_share,median_cents,within_50_share\n",
                       out);
            for (const NoteSpan& span : notes.spans())
                summaryLine(midiNoteName(span.midiNote), span.startSeconds,
                            span.endSeconds - span.startSeconds,
                            figuresOf(span.frames, span.deviations, span.withinTolerance), false);
            summaryLine("take", notes.partStart(), notes.partEnd() - notes.partStart(),
                        notes.takeFigures(), false);
            return;
        }
        std::fputs("\n ],\n \"summary\": {\"notes\": [", out);
        bool first = true;
        for (const NoteSpan& span : notes.spans()) {
            std::fputs(first ? "\n  " : ",\n  ", out);
            first = false;
            summaryLine(midiNoteName(span.midiNote), span.startSeconds,
                        span.endSeconds - span.startSeconds,
                        figuresOf(span.frames, span.deviations, span.withinTolerance), true);
        }
        std::fputs("\n ],\n \"take\": ", out);
        summaryLine("take", notes.partStart(), notes.partEnd() - notes.partStart(),
                    notes.takeFigures(), true);
        std::fputs("}}\n", out);
    }

    void end(bool afterSummary) {
        if (format == OutputFormat::json && !afterSummary)
            std::fputs("\n ]}\n", out);
    }

private:
    void writeJsonHeld(const HeldNoteSet& held) {
        std::fputs(", \"held\": [", out);
        const std::string names = heldNoteNames(held);
        size_t start = 0;
        while (start < names.size()) {
            const size_t blank = std::min(names.find(' ', start), names.size());
            std::fprintf(out, "%s\"%s\"", start == 0 ? "" : ", ",
                         names.substr(start, blank - start).c_str());
            start = blank + 1;
        }
        std::fputc(']', out);
    }

    void summaryLine(const std::string& name, double start, double length,
                     const SpanFigures& figures, bool json) {
        if (!json) {
            std::fprintf(out, "%s,%.6f,%.6f,%ld,", name.c_str(), start, length, figures.frames);
            if (figures.haveShares)
                std::fprintf(out, "%.3f", figures.voicedShare);
            std::fputc(',', out);
            if (figures.haveMedian)
                std::fprintf(out, "%.1f", figures.medianCents);
            std::fputc(',', out);
            if (figures.haveShares)
                std::fprintf(out, "%.3f", figures.withinShare);
            std::fputc('\n', out);
            return;
        }
        std::fprintf(out,
                     "{\"note\": \"%s\", \"start_s\": %.6f, \"length_s\": %.6f, \"frames\": %ld, ",
                     name.c_str(), start, length, figures.frames);
        std::fputs("\"voiced_share\": ", out);
        writeJsonNumber(out, figures.haveShares, "%.3f", figures.voicedShare);
        std::fputs(", \"median_cents\": ", out);
        writeJsonNumber(out, figures.haveMedian, "%.1f", figures.medianCents);
        std::fputs(", \"within_50_share\": ", out);
        writeJsonNumber(out, figures.haveShares, "%.3f", figures.withinShare);
        std::fputc('}', out);
    }

    std::FILE* out;
    OutputFormat format;
    bool withHeld;
};

bool loadPart(const std::string& path, TakeAnalysis& take, std::string& error) {
    kelvatone::io::MidiFileContents part;
    if (!kelvatone::io::readMidiFile(path, part, error))
        return false;
    if (!hasNotes(part)) {
        error = "the MIDI part " + path + " has no notes";
        return false;
    }
    take.usePart(std::make_unique<TakeNotes>(part));
    return true;
}

// The outputs of a run, each created under its temporary name before the analysis, so
// that a path that cannot be written fails at once rather than after the whole take.
struct Outputs {
    OutputFile png, report, notes;

    bool open(const AnalyseOptions& options, std::string& error) {
        return (options.pngFile.empty() || png.open(options.pngFile, "picture", error)) &&
               (options.reportFile.empty() || report.open(options.reportFile, "report", error)) &&
               (options.notesFile.empty() || notes.open(options.notesFile, "notes", error));
    }
};

bool wantsTakeOutputs(const AnalyseOptions& options) {
    return options.summary || !options.pngFile.empty() || !options.reportFile.empty() ||
           !options.notesFile.empty();
}

TakeSettings takeSettingsOf(const AnalyseOptions& options) {
    TakeSettings settings;
    settings.resolution = options.resolution;
    settings.threshold = options.threshold;
    settings.beginNote = options.beginNote;
    settings.endNote = options.endNote;
    return settings;
}

} // namespace

const char* analyseUsage() {
    static const std::string usage = std::string(kUsage) + TakeAudio::formats() + "\n";
    return usage.c_str();
}

ParseOutcome parseAnalyseOptions(int argc, const char* const* argv, AnalyseOptions& options,
                                 std::string& error) {
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h")
            return ParseOutcome::help;
        if (argument == "--summary") {
            options.summary = true;
        } else if (argument.rfind("--", 0) == 0) {
            std::string name = argument;
            std::string value;
            const size_t equals = argument.find('=');
            if (equals != std::string::npos) {
                name = argument.substr(0, equals);
                value = argument.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                error = "missing value for " + name;
                return ParseOutcome::error;
            }
            if (!parseOptionValue(name, value, options, error))
                return ParseOutcome::error;
        } else if (haveFile) {
            error = "more than one FILE given: " + argument;
            return ParseOutcome::error;
        } else {
            options.file = argument;
            haveFile = true;
        }
    }
    if (!haveFile) {
        error = "no FILE given (see --help)";
        return ParseOutcome::error;
    }
    if (options.summary && options.midiFile.empty()) {
        error = kSummaryNeedsMidi;
        return ParseOutcome::error;
    }
    clampRange(options);
    return ParseOutcome::run;
}

bool runAnalysis(const AnalyseOptions& options, std::FILE* out, std::string& error) {
    if (options.summary && options.midiFile.empty()) {
        error = kSummaryNeedsMidi;
        return false;
    }
    TakeAudio audio;
    if (!audio.open(options.file, error))
        return false;
    const int fileRate = audio.sampleRate();
    if (!RateConverter::supportsInputRate(fileRate)) {
        error = options.file + " " + unsupportedRateReason(fileRate);
        return false;
    }
    // The take's mono samples are kept for the onsets of the notes segmented without a part.
    const bool segments =
        !options.notesFile.empty() || (!options.reportFile.empty() && options.midiFile.empty());
    TakeAnalysis take(takeSettingsOf(options), fileRate, segments);
    // One hop of the analysis, in the file's own samples.
    const int64_t hopInFile = take.hopInFile();
    if (wantsTakeOutputs(options) && audio.frames() < hopInFile) {
        error = options.file + " " + tooShortReason(hopInFile);
        return false;
    }

    if (!options.midiFile.empty() && !loadPart(options.midiFile, take, error))
        return false;
    Outputs outputs;
    if (!outputs.open(options, error))
        return false;
    std::unique_ptr<TakePicture> picture;
    if (!options.pngFile.empty())
        picture = std::make_unique<TakePicture>();

    RowWriter writer(out, options.format, take.part() != nullptr);
    writer.begin(options, take);
    // Each frame's row, with its time and held notes those of its newest sample.
    const TakeAnalysis::FrameSink frame = [&](long index, int64_t newest, PitchCents pitch,
                                              const HeldNoteSet& held) {
        writer.row(index, static_cast<double>(newest) / RateConverter::kAnalysisRate, pitch, held);
        if (picture)
            picture->addFrame(pitch, held);
    };
    std::vector<double> block;
    do {
        if (!audio.read(block, error))
            return false;
        take.push(block.data(), block.size(), frame);
    } while (!block.empty());
    take.finish(frame);
    if (wantsTakeOutputs(options) && take.frames() == 0) {
        error = options.file + " " + tooShortReason(hopInFile);
        return false;
    }
    if (options.summary)
        writer.summary(*take.part());
    writer.end(options.summary);
    if (std::fflush(out) != 0 || std::ferror(out)) {
        error = "cannot write the output";
        return false;
    }

    const std::vector<SungNote> sung = segments ? take.sungNotes() : std::vector<SungNote>{};
    if (!options.notesFile.empty()) {
        NotesFormat format = NotesFormat::csv;
        notesFormatOf(options.notesFile, format);
        writeNotes(outputs.notes.stream(), format, sung);
        if (!outputs.notes.commit(error))
            return false;
    }
    if (!options.reportFile.empty()) {
        take.writeReport(outputs.report.stream(), options.file, options.midiFile, sung);
        if (!outputs.report.commit(error))
            return false;
    }
    if (picture) {
        outputs.png.closeStream();
        if (!kelvatone::io::writePng(outputs.png.temporaryPath(), picture->finish(), error) ||
            !outputs.png.commit(error))
            return false;
    }
    return true;
}

} // namespace kelvatone::analyse
