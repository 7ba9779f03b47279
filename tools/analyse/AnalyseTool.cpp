#include "tools/analyse/AnalyseTool.h"

#include "analysis/NoteNames.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The parameters' limits: threshold 0..50, analysis range C1..C9 at least an octave wide.
constexpr double kHighestThreshold = 50.0;
constexpr NoteNumber kLowestBeginNote = 12;
constexpr NoteNumber kHighestEndNote = 108;
constexpr NoteNumber kSmallestRange = 12;
// Sample frames read from the file at a time.
constexpr sf_count_t kReadBlockFrames = 4096;

const char kUsage[] =
    "usage: kelvatone-analyse FILE [--resolution high|mid|low] [--threshold LEVEL]\n"
    "                         [--begin NOTE] [--end NOTE] [--format csv|json]\n"
    "Runs the Kelvatone pitch analysis over an audio file (WAV, FLAC, AIFF, ...) at the\n"
    "file's own sample rate and prints one row per analysed frame:\n"
    "frame index, time of the frame's newest sample, pitch in cents above C0 (-1: none),\n"
    "frequency in Hz and note name.\n"
    "  --resolution  frame length: high (10 Hz), mid (15 Hz, default), low (30 Hz)\n"
    "  --threshold   level gate, 0..50 (default 25)\n"
    "  --begin/--end analysis range as a note label (C1 .. C9, A4, F#3) or a note number\n"
    "                (0 = C0, 57 = A4); default C1 to C8, kept within C1..C9 and at least\n"
    "                an octave wide as the plug-in's parameters keep it\n"
    "  --format      csv (default) or json\n"
    "  --help        this text\n";

bool parseResolution(const std::string& text, float& resolution) {
    if (text == "high")
        resolution = 10.0f;
    else if (text == "mid")
        resolution = 15.0f;
    else if (text == "low")
        resolution = 30.0f;
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
    options.beginNote = std::min(options.beginNote, options.endNote - kSmallestRange);
    options.beginNote = std::max(options.beginNote, kLowestBeginNote);
    options.endNote = std::max(options.endNote, options.beginNote + kSmallestRange);
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
    } else {
        error = "unknown option " + name;
        return false;
    }
    if (!valid)
        error = "bad value '" + value + "' for " + name;
    return valid;
}

// The mono value the plug-in's intake forms from one sample frame.
double monoMix(const float* frame, int channels) {
    if (channels == 1)
        return frame[0];
    const float sum = frame[0] + frame[1];
    return static_cast<double>(sum) * 0.5;
}

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

void writeJsonString(std::FILE* out, const std::string& text) {
    std::fputc('"', out);
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            std::fprintf(out, "\\%c", c);
        else if (c < 0x20)
            std::fprintf(out, "\\u%04x", c);
        else
            std::fputc(c, out);
    }
    std::fputc('"', out);
}

class RowWriter {
public:
    RowWriter(std::FILE* out, OutputFormat format) : out(out), format(format) {}

    void begin(const AnalyseOptions& options, const AnalysisEngine& engine) {
        if (format == OutputFormat::csv) {
            std::fputs("frame,time_s,cents,hz,note\n", out);
            return;
        }
        std::fputs("{\"file\": ", out);
        writeJsonString(out, options.file);
        std::fprintf(out,
                     ", \"sampleRate\": %.17g, \"fftSize\": %d, \"hopLength\": %d, "
                     "\"resolution\": %g, \"threshold\": %.17g, \"beginNote\": %d, "
                     "\"endNote\": %d,\n \"frames\": [",
                     engine.engineSampleRate, engine.fftSize, engine.hopLength,
                     static_cast<double>(options.resolution), options.threshold, options.beginNote,
                     options.endNote);
    }

    void row(long frame, double time, PitchCents cents) {
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
            std::fprintf(out, "%ld,%.6f,%d,%s,%s\n", frame, time, cents, hz, note);
            return;
        }
        std::fprintf(out, "%s\n  {\"frame\": %ld, \"time_s\": %.6f, \"cents\": %d, ",
                     frame == 0 ? "" : ",", frame, time, cents);
        if (cents == kNoPitch)
            std::fputs("\"hz\": null, \"note\": null}", out);
        else
            std::fprintf(out, "\"hz\": %s, \"note\": \"%s\"}", hz, note);
    }

    void end() {
        if (format == OutputFormat::json)
            std::fputs("\n ]}\n", out);
    }

private:
    std::FILE* out;
    OutputFormat format;
};

} // namespace

const char* analyseUsage() {
    return kUsage;
}

ParseOutcome parseAnalyseOptions(int argc, const char* const* argv, AnalyseOptions& options,
                                 std::string& error) {
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h")
            return ParseOutcome::help;
        if (argument.rfind("--", 0) == 0) {
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
    clampRange(options);
    return ParseOutcome::run;
}

bool runAnalysis(const AnalyseOptions& options, std::FILE* out, std::string& error) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SoundFileCloser> file(sf_open(options.file.c_str(), SFM_READ, &info));
    if (!file) {
        error = "cannot read " + options.file + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1) {
        error = options.file + " has no channels";
        return false;
    }
    if (!AnalysisEngine::supportsSampleRate(info.samplerate)) {
        error = "unsupported sample rate " + std::to_string(info.samplerate) + " Hz in " +
                options.file + " (22050 to 384000 Hz)";
        return false;
    }

    AnalysisEngine engine;
    engine.resolution.store(options.resolution);
    engine.threshold.store(options.threshold);
    engine.beginNote.store(options.beginNote);
    engine.beginFrequency.store(noteFrequency(options.beginNote));
    engine.endNote.store(options.endNote);
    engine.endFrequency.store(noteFrequency(options.endNote));
    engine.configure(info.samplerate);

    RowWriter writer(out, options.format);
    writer.begin(options, engine);
    std::vector<float> block(static_cast<size_t>(kReadBlockFrames) * info.channels);
    long sampleIndex = 0;
    long frameIndex = 0;
    sf_count_t got;
    while ((got = sf_readf_float(file.get(), block.data(), kReadBlockFrames)) > 0) {
        for (sf_count_t i = 0; i < got; ++i, ++sampleIndex) {
            engine.pushSample(monoMix(&block[i * info.channels], info.channels));
            if (engine.frameReady()) {
                engine.storeHeldNotes(HeldNoteSet{});
                engine.analyseFrame();
                writer.row(frameIndex++, sampleIndex / static_cast<double>(info.samplerate),
                           engine.currentPitch.load());
            }
        }
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        error = "cannot read " + options.file + ": " + sf_strerror(file.get());
        return false;
    }
    writer.end();
    if (std::fflush(out) != 0 || std::ferror(out)) {
        error = "cannot write the output";
        return false;
    }
    return true;
}
