// kelvatone-analyse: options, the rows it prints for generated audio files, and its exits.
#include "tools/analyse/AnalyseTool.h"

#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace kelvatone::analyse;
using namespace kelvatone::testsupport;
using namespace kelvatone::analysis;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kWorkedTolerance = 2;
constexpr int kExitBadInput = 2;

// Writes a sine of `seconds` at `rate` with `channels` channels (the same tone in each) as a
// 16-bit WAV file.
void writeSine(const std::string& path, int rate, int channels, double frequency, double seconds) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const long frames = static_cast<long>(rate * seconds);
    std::vector<float> samples(static_cast<size_t>(frames) * channels);
    for (long i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[i * channels + c] = static_cast<float>(
                0.5 * std::sin(2 * kPi * frequency * static_cast<double>(i) / rate));
    ASSERT_EQ(sf_writef_float(file, samples.data(), frames), frames);
    sf_close(file);
}

struct Row {
    long frame;
    double time;
    int cents;
    std::string hz;
    std::string note;
};

std::string runToText(const AnalyseOptions& options, bool& ok, std::string& error) {
    std::FILE* out = std::tmpfile();
    ok = runAnalysis(options, out, error);
    std::rewind(out);
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, out)) > 0)
        text.append(buffer, got);
    std::fclose(out);
    return text;
}

std::vector<Row> parseCsv(const std::string& text) {
    const std::vector<std::string> lines = splitLines(text);
    EXPECT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "frame,time_s,cents,hz,note");
    std::vector<Row> rows;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> fields;
        std::istringstream stream(lines[i]);
        for (std::string field; std::getline(stream, field, ',');)
            fields.push_back(field);
        if (lines[i].back() == ',')
            fields.push_back("");
        EXPECT_EQ(fields.size(), 5u) << lines[i];
        if (fields.size() != 5u)
            continue;
        rows.push_back({std::stol(fields[0]), std::stod(fields[1]), std::stoi(fields[2]), fields[3],
                        fields[4]});
    }
    return rows;
}

ParseOutcome parse(std::vector<const char*> arguments, AnalyseOptions& options,
                   std::string& error) {
    arguments.insert(arguments.begin(), "kelvatone-analyse");
    return parseAnalyseOptions(static_cast<int>(arguments.size()), arguments.data(), options,
                               error);
}

TEST(AnalyseOptions, DefaultsAndEveryOption) {
    AnalyseOptions options;
    std::string error;
    ASSERT_EQ(parse({"take.wav"}, options, error), ParseOutcome::run);
    EXPECT_EQ(options.file, "take.wav");
    EXPECT_EQ(options.resolution, 15.0f);
    EXPECT_EQ(options.threshold, 25.0);
    EXPECT_EQ(options.beginNote, 12);
    EXPECT_EQ(options.endNote, 96);
    EXPECT_EQ(options.format, OutputFormat::csv);

    options = AnalyseOptions();
    ASSERT_EQ(parse({"--resolution", "low", "x.flac", "--threshold=12.5", "--begin", "A2", "--end",
                     "70", "--format", "json"},
                    options, error),
              ParseOutcome::run)
        << error;
    EXPECT_EQ(options.file, "x.flac");
    EXPECT_EQ(options.resolution, 30.0f);
    EXPECT_EQ(options.threshold, 12.5);
    EXPECT_EQ(options.beginNote, 33);
    EXPECT_EQ(options.endNote, 70);
    EXPECT_EQ(options.format, OutputFormat::json);

    options = AnalyseOptions();
    ASSERT_EQ(parse({"--resolution", "high", "y.wav"}, options, error), ParseOutcome::run);
    EXPECT_EQ(options.resolution, 10.0f);
    EXPECT_EQ(parse({"y.wav", "--help"}, options, error), ParseOutcome::help);
}

TEST(AnalyseOptions, SettingsAreClampedAsByTheParameters) {
    struct Case {
        std::vector<const char*> arguments;
        double threshold;
        NoteNumber begin, end;
    };
    const Case cases[] = {{{"f", "--threshold", "80"}, 50.0, 12, 96},
                          {{"f", "--threshold", "-3"}, 0.0, 12, 96},
                          {{"f", "--begin", "100"}, 25.0, 84, 96},
                          {{"f", "--begin", "C0"}, 25.0, 12, 96},
                          {{"f", "--end", "10"}, 25.0, 12, 24},
                          {{"f", "--end", "200"}, 25.0, 12, 108},
                          {{"f", "--begin", "C4", "--end", "C4"}, 25.0, 36, 48},
                          {{"f", "--begin", "90", "--end", "C9"}, 25.0, 90, 108}};
    for (const Case& c : cases) {
        AnalyseOptions options;
        std::string error;
        ASSERT_EQ(parse(c.arguments, options, error), ParseOutcome::run) << error;
        EXPECT_EQ(options.threshold, c.threshold) << c.arguments[1];
        EXPECT_EQ(options.beginNote, c.begin) << c.arguments[1];
        EXPECT_EQ(options.endNote, c.end) << c.arguments[1];
    }
}

TEST(AnalyseOptions, BadCommandLinesNameTheProblem) {
    const std::vector<std::vector<const char*>> bad = {{},
                                                       {"a.wav", "b.wav"},
                                                       {"a.wav", "--resolution", "ultra"},
                                                       {"a.wav", "--threshold", "loud"},
                                                       {"a.wav", "--threshold", "nan"},
                                                       {"a.wav", "--begin", "H2"},
                                                       {"a.wav", "--end", "C#"},
                                                       {"a.wav", "--format", "xml"},
                                                       {"a.wav", "--colour", "red"},
                                                       {"a.wav", "--begin"}};
    for (const auto& arguments : bad) {
        AnalyseOptions options;
        std::string error;
        EXPECT_EQ(parse(arguments, options, error), ParseOutcome::error);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(AnalyseRun, Sine440ReadsA4InEveryVoicedRowAtEachResolution) {
    TempDir dir;
    const std::string path = dir.file("a440.wav");
    writeSine(path, 44100, 2, 440.0, 2.0);
    for (float resolution : {10.0f, 15.0f, 30.0f}) {
        AnalyseOptions options;
        options.file = path;
        options.resolution = resolution;
        bool ok = false;
        std::string error;
        const std::vector<Row> rows = parseCsv(runToText(options, ok, error));
        ASSERT_TRUE(ok) << error;
        // One row per hop of 1470 samples in 88200.
        ASSERT_EQ(rows.size(), 60u);
        int voiced = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].frame, static_cast<long>(i));
            EXPECT_NEAR(rows[i].time, (1470.0 * static_cast<double>(i + 1) - 1) / 44100.0, 1e-6);
            if (rows[i].cents == -1) {
                EXPECT_EQ(rows[i].hz, "");
                EXPECT_EQ(rows[i].note, "");
                continue;
            }
            ++voiced;
            EXPECT_NEAR(rows[i].cents, 5700, kWorkedTolerance) << "row " << i;
            EXPECT_NEAR(std::stod(rows[i].hz), 440.0, 0.6);
            EXPECT_EQ(rows[i].note, "A4");
        }
        EXPECT_GE(voiced, 55) << "resolution " << resolution;
    }
}

TEST(AnalyseRun, MonoFileAtAnotherRateAndJsonSettings) {
    TempDir dir;
    const std::string path = dir.file("a440-48k.wav");
    writeSine(path, 48000, 1, 440.0, 1.0);
    AnalyseOptions options;
    options.file = path;
    options.format = OutputFormat::json;
    bool ok = false;
    std::string error;
    const std::string text = runToText(options, ok, error);
    ASSERT_TRUE(ok) << error;
    EXPECT_NE(text.find("\"sampleRate\": 48000"), std::string::npos) << text.substr(0, 200);
    EXPECT_NE(text.find("\"fftSize\": 4096"), std::string::npos);
    EXPECT_NE(text.find("\"hopLength\": 1600"), std::string::npos);
    // 48000 / 1600 = 30 frames, each with a pitch of A4 once the ring is full.
    size_t frames = 0, a4 = 0;
    for (size_t at = text.find("{\"frame\""); at != std::string::npos;
         at = text.find("{\"frame\"", at + 1)) {
        ++frames;
        if (text.compare(text.find("\"note\"", at), 12, "\"note\": \"A4\"") == 0)
            ++a4;
    }
    EXPECT_EQ(frames, 30u);
    EXPECT_GE(a4, 27u);
    EXPECT_EQ(text.substr(text.size() - 5), "\n ]}\n");
}

TEST(AnalyseRun, UnreadableFilesAndUnsupportedRatesFail) {
    TempDir dir;
    const std::string lowRate = dir.file("low.wav");
    writeSine(lowRate, 8000, 1, 440.0, 0.5);
    const std::string text = dir.file("notes.wav");
    std::ofstream(text) << "not audio at all\n";
    for (const std::string& path : {lowRate, text, dir.file("missing.wav")}) {
        AnalyseOptions options;
        options.file = path;
        bool ok = true;
        std::string error;
        runToText(options, ok, error);
        EXPECT_FALSE(ok) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
}

TEST(AnalyseProgram, HelpAndErrorExits) {
    TempDir dir;
    const ToolExit help = runTool(KELVATONE_ANALYSE_PATH, "--help", dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: kelvatone-analyse FILE"), std::string::npos);

    for (const std::string& arguments :
         {std::string(""), std::string("--resolution"), dir.file("missing.wav"),
          std::string("x.wav --format xml")}) {
        const ToolExit bad = runTool(KELVATONE_ANALYSE_PATH, arguments, dir);
        EXPECT_EQ(bad.status, kExitBadInput) << arguments;
        EXPECT_EQ(bad.out, "") << arguments;
        ASSERT_FALSE(bad.err.empty()) << arguments;
        EXPECT_EQ(bad.err.find('\n'), bad.err.size() - 1) << "one line: " << bad.err;
    }

    const std::string path = dir.file("a440.wav");
    writeSine(path, 44100, 2, 440.0, 0.5);
    const ToolExit good = runTool(KELVATONE_ANALYSE_PATH, path + " --resolution low", dir);
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.out.rfind("frame,time_s,cents,hz,note\n", 0), 0u);
}

} // namespace
