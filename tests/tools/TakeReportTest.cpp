// kelvatone-analyse's take report on the demo take: the held column, the summary's figures
// against the melody, the stacked display pages, and the exits of the new options.
#include "report/HtmlReport.h"
#include "report/TakeNotes.h"
#include "tools/analyse/AnalyseTool.h"
#include "tools/analyse/TakePicture.h"
#include "tools/demo/DemoTake.h"

#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb_image.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace kelvatone::analyse;
using namespace kelvatone::report;
using namespace kelvatone::demo;
using namespace kelvatone::testsupport;
using namespace kelvatone::analysis;
using namespace kelvatone::editor;

namespace {

constexpr int kExitBadInput = 2;
constexpr int kHop = 1470;
constexpr double kRate = kSampleRate;
constexpr int kWidth = 640;
constexpr int kPageHeight = 360;
// The demo take: 12 s, 360 frames, so two display pages.
constexpr int kTakeFrames = 360;
constexpr int kTakePages = 2;
// Rows at the display's default range of 18 semitones: 20 pixels per semitone.
constexpr double kPixelsPerCent = 0.2;

// How closely the figures must follow the melody. A median deviation: the estimator's error
// on a sung tone plus the glide into a note; a share: the frames of a glide at each end.
constexpr double kMedianToleranceCents = 8.0;
constexpr double kSungVoicedShare = 0.9;
constexpr double kInTuneWithinShare = 0.85;
constexpr double kShareTolerance = 0.1;
constexpr double kPrintedShareStep = 0.0015;
constexpr double kSecondsTolerance = 1e-6;
// A segmented note's onset: the demo glides into a joined note over 120 ms, and the move
// counts once the pitch is half a semitone along.
constexpr double kOnsetToleranceSeconds = 0.08;
constexpr int kRowTolerancePixels = 1;
constexpr double kTraceOffsetTolerancePixels = 3.0;
// The demo's vibrato depth in cents.
constexpr double kVibratoCents = 25.0;
constexpr double kPi = 3.14159265358979323846;

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void writeTake(const std::string& path, int rate = kSampleRate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const std::vector<float> take = renderTake(rate);
    ASSERT_EQ(sf_writef_float(file, take.data(), static_cast<sf_count_t>(take.size())),
              static_cast<sf_count_t>(take.size()));
    sf_close(file);
}

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    for (char c : line) {
        if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

struct SummaryLine {
    std::string note;
    double start, length;
    long frames;
    std::string voiced, median, within;
};

struct Report {
    std::vector<std::vector<std::string>> rows;
    std::vector<SummaryLine> summary;
};

Report parseReport(const std::string& text) {
    const std::vector<std::string> lines = splitLines(text);
    Report report;
    EXPECT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "frame,time_s,cents,hz,note,held");
    size_t i = 1;
    for (; i < lines.size() && !lines[i].empty(); ++i)
        report.rows.push_back(splitFields(lines[i]));
    if (i + 1 < lines.size()) {
        EXPECT_EQ(lines[i + 1],
                  "note,start_s,length_s,frames,voiced_share,median_cents,within_50_share");
        for (i += 2; i < lines.size(); ++i) {
            const std::vector<std::string> f = splitFields(lines[i]);
            EXPECT_EQ(f.size(), 7u) << lines[i];
            if (f.size() == 7u)
                report.summary.push_back(
                    {f[0], std::stod(f[1]), std::stod(f[2]), std::stol(f[3]), f[4], f[5], f[6]});
        }
    }
    return report;
}

struct ToolRun {
    bool ok = false;
    std::string error;
    std::string text;
};

ToolRun analyse(const AnalyseOptions& options) {
    ToolRun run;
    std::FILE* out = std::tmpfile();
    run.ok = runAnalysis(options, out, run.error);
    std::rewind(out);
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, out)) > 0)
        run.text.append(buffer, got);
    std::fclose(out);
    return run;
}

// The demo take and a MIDI part on disk, and the tool's options for them.
class DemoTake : public ::testing::Test {
protected:
    void SetUp() override {
        writeTake(takePath);
        writeBytes(partPath, midiPart());
    }

    AnalyseOptions reportOptions(const std::string& part) const {
        AnalyseOptions options;
        options.file = takePath;
        options.midiFile = part;
        options.summary = true;
        return options;
    }

    TempDir dir;
    const std::string takePath = dir.file("take.wav");
    const std::string partPath = dir.file("take.mid");
};

// The melody's notes sounding at a sample, as the MIDI part holds them.
std::string meantAt(long sample) {
    std::string names;
    for (const Note& n : melody()) {
        if (sample >= std::lround(n.start * kRate) && sample < std::lround(n.end * kRate))
            names += (names.empty() ? "" : " ") + midiNoteName(n.midiNote);
    }
    return names;
}

TEST(TakeNoteNames, NamedAsTheDisplayNamesItsCurrentNote) {
    EXPECT_EQ(midiNoteName(60), "C4");
    EXPECT_EQ(midiNoteName(61), "C#4");
    EXPECT_EQ(midiNoteName(69), "A4");
    EXPECT_EQ(midiNoteName(0), "C-1");
    EXPECT_EQ(midiNoteName(127), "G9");
    HeldNoteSet chord;
    chord.words[1] = 1u << (60 - 32);
    chord.words[2] = 1u << (64 - 64);
    chord.words[3] = 1u << (127 - 96);
    EXPECT_EQ(heldNoteNames(chord), "C4 E4 G9");
    EXPECT_EQ(heldNoteNames(HeldNoteSet{}), "");
}

TEST(TakeNotesTracking, EventsAsTheIntakeAppliesThemAtTheirSample) {
    kelvatone::io::MidiFileContents part;
    // C4 on, E4 on, E4 off as a note-on with velocity 0, C4 off on another channel, G4 on
    // and never released.
    part.notes = {{0.1, 0x90, 60, 100},
                  {0.2, 0x91, 64, 100},
                  {0.3, 0x91, 64, 0},
                  {0.4, 0x85, 60, 0},
                  {0.5, 0x90, 67, 100}};
    TakeNotes notes(part);
    EXPECT_EQ(heldNoteNames(notes.heldAt(4409, kRate)), "");
    EXPECT_EQ(heldNoteNames(notes.heldAt(4410, kRate)), "C4");
    notes.addFrame(4810);
    EXPECT_EQ(heldNoteNames(notes.heldAt(8820, kRate)), "C4 E4");
    notes.addFrame(5170); // E4 - 30, C4 + 370
    notes.addFrame(kNoPitch);
    EXPECT_EQ(heldNoteNames(notes.heldAt(13230, kRate)), "C4");
    EXPECT_EQ(heldNoteNames(notes.heldAt(17640, kRate)), "");
    EXPECT_EQ(heldNoteNames(notes.heldAt(22050, kRate)), "G4");
    notes.addFrame(5500 - 60);
    notes.finish(0.75);

    const std::vector<NoteSpan>& spans = notes.spans();
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[0].midiNote, 60);
    EXPECT_DOUBLE_EQ(spans[0].startSeconds, 0.1);
    EXPECT_DOUBLE_EQ(spans[0].endSeconds, 0.4);
    const SpanFigures c4 =
        figuresOf(spans[0].frames, spans[0].deviations, spans[0].withinTolerance);
    EXPECT_EQ(c4.frames, 3);
    EXPECT_NEAR(c4.voicedShare, 2.0 / 3.0, 1e-12);
    EXPECT_DOUBLE_EQ(c4.medianCents, (10.0 + 370.0) / 2.0);
    EXPECT_NEAR(c4.withinShare, 1.0 / 3.0, 1e-12);
    // The never-released G4 lasts to the end of the take; 60 cents flat is not within.
    EXPECT_DOUBLE_EQ(spans[2].endSeconds, 0.75);
    const SpanFigures g4 =
        figuresOf(spans[2].frames, spans[2].deviations, spans[2].withinTolerance);
    EXPECT_EQ(g4.frames, 1);
    EXPECT_DOUBLE_EQ(g4.medianCents, -60.0);
    EXPECT_DOUBLE_EQ(g4.withinShare, 0.0);

    // The take: every frame with a note held, each voiced one from the nearest held note
    // (+10, -30, -60).
    const SpanFigures take = notes.takeFigures();
    EXPECT_EQ(take.frames, 4);
    EXPECT_DOUBLE_EQ(take.voicedShare, 0.75);
    EXPECT_DOUBLE_EQ(take.medianCents, -30.0);
    EXPECT_DOUBLE_EQ(take.withinShare, 0.5);
    EXPECT_DOUBLE_EQ(notes.partStart(), 0.1);
    EXPECT_DOUBLE_EQ(notes.partEnd(), 0.75);
}

TEST_F(DemoTake, HeldColumnFollowsTheMelodyAtFrameTimes) {
    AnalyseOptions options = reportOptions(partPath);
    options.summary = false;
    const ToolRun run = analyse(options);
    ASSERT_TRUE(run.ok) << run.error;
    const Report report = parseReport(run.text);
    ASSERT_EQ(report.rows.size(), static_cast<size_t>(kTakeFrames));
    EXPECT_TRUE(report.summary.empty());
    int heldRows = 0;
    for (size_t frame = 0; frame < report.rows.size(); ++frame) {
        const std::vector<std::string>& row = report.rows[frame];
        ASSERT_EQ(row.size(), 6u);
        const long newestSample = static_cast<long>(frame + 1) * kHop - 1;
        EXPECT_EQ(row[5], meantAt(newestSample)) << "frame " << frame;
        heldRows += !row[5].empty();
    }
    // 11 of the 12 seconds carry a note.
    EXPECT_EQ(heldRows, 300);
}

// The take recorded at other rates gives the same report: the same frames at the same times
// with the same held notes, pitches within the rate tolerance, the same summary lines.
TEST_F(DemoTake, EveryRateReportsAsAt44100) {
    constexpr int kRateToleranceCents = 3;
    const ToolRun reference = analyse(reportOptions(partPath));
    ASSERT_TRUE(reference.ok) << reference.error;
    const Report expected = parseReport(reference.text);
    for (int rate : {48000, 96000, 192000}) {
        const std::string path = dir.file("take-" + std::to_string(rate) + ".wav");
        writeTake(path, rate);
        AnalyseOptions options = reportOptions(partPath);
        options.file = path;
        const ToolRun run = analyse(options);
        ASSERT_TRUE(run.ok) << run.error;
        const Report report = parseReport(run.text);
        ASSERT_EQ(report.rows.size(), expected.rows.size()) << rate;
        for (size_t i = 0; i < report.rows.size(); ++i) {
            const std::vector<std::string>& row = report.rows[i];
            const std::vector<std::string>& want = expected.rows[i];
            EXPECT_EQ(row[1], want[1]) << rate << " Hz, row " << i << ": time";
            EXPECT_EQ(row[5], want[5]) << rate << " Hz, row " << i << ": held notes";
            const int cents = std::stoi(row[2]);
            const int wantCents = std::stoi(want[2]);
            ASSERT_EQ(cents == kNoPitch, wantCents == kNoPitch) << rate << " Hz, row " << i;
            EXPECT_NEAR(cents, wantCents, kRateToleranceCents) << rate << " Hz, row " << i;
        }
        ASSERT_EQ(report.summary.size(), expected.summary.size()) << rate;
        for (size_t i = 0; i < report.summary.size(); ++i) {
            EXPECT_EQ(report.summary[i].note, expected.summary[i].note);
            EXPECT_EQ(report.summary[i].frames, expected.summary[i].frames) << rate;
            EXPECT_NEAR(std::stod(report.summary[i].median), std::stod(expected.summary[i].median),
                        kRateToleranceCents)
                << rate << " Hz, " << report.summary[i].note;
        }
    }
}

TEST_F(DemoTake, SummaryFiguresFollowTheMelody) {
    const ToolRun run = analyse(reportOptions(partPath));
    ASSERT_TRUE(run.ok) << run.error;
    const Report report = parseReport(run.text);
    const std::vector<Note>& melody = kelvatone::demo::melody();
    ASSERT_EQ(report.summary.size(), melody.size() + 1);
    const char* const names[] = {"C4", "E4", "G4", "A4", "G4", "E4"};
    long noteFrames = 0;
    double voicedFrames = 0.0, withinFrames = 0.0;
    for (size_t i = 0; i < melody.size(); ++i) {
        const SummaryLine& line = report.summary[i];
        const Note& note = melody[i];
        SCOPED_TRACE(line.note + " at " + std::to_string(note.start));
        EXPECT_EQ(line.note, names[i]);
        EXPECT_NEAR(line.start, note.start, kSecondsTolerance);
        EXPECT_NEAR(line.length, note.end - note.start, kSecondsTolerance);
        EXPECT_NEAR(static_cast<double>(line.frames), (note.end - note.start) * kRate / kHop, 1.0);
        EXPECT_GE(std::stod(line.voiced), kSungVoicedShare);
        EXPECT_NEAR(std::stod(line.median), note.detuneCents, kMedianToleranceCents);
        // The share of a vibrato of +-25 cents around the detune that stays within 50
        // cents: all of it for the notes sung in tune, 1/2 + asin(0.6)/pi for 35 flat.
        const double within = std::stod(line.within);
        if (std::abs(note.detuneCents) + kVibratoCents < kWithinCents)
            EXPECT_GE(within, kInTuneWithinShare);
        else
            EXPECT_NEAR(
                within,
                0.5 + std::asin((kWithinCents - std::abs(note.detuneCents)) / kVibratoCents) / kPi,
                kShareTolerance);
        noteFrames += line.frames;
        voicedFrames += std::stod(line.voiced) * static_cast<double>(line.frames);
        withinFrames += std::stod(line.within) * static_cast<double>(line.frames);
    }
    // The whole take: the notes never overlap, so its frames are theirs.
    const SummaryLine& take = report.summary.back();
    EXPECT_EQ(take.note, "take");
    EXPECT_NEAR(take.start, melody.front().start, kSecondsTolerance);
    EXPECT_NEAR(take.length, melody.back().end - melody.front().start, kSecondsTolerance);
    EXPECT_EQ(take.frames, noteFrames);
    EXPECT_NEAR(std::stod(take.voiced), voicedFrames / static_cast<double>(noteFrames),
                kPrintedShareStep);
    EXPECT_NEAR(std::stod(take.within), withinFrames / static_cast<double>(noteFrames),
                kPrintedShareStep);
    EXPECT_GE(std::stod(take.median), -35.0 - kMedianToleranceCents);
    EXPECT_LE(std::stod(take.median), 5.0 + kMedianToleranceCents);
}

TEST_F(DemoTake, NotesMeantOtherwiseThanSungAndNotesPastTheEnd) {
    // The part means G#4 where the singer sings G4 35 cents flat (135 cents off), ends
    // with an E4 that is never released, and has a note after the take's end.
    std::vector<Note> notes = melody();
    notes[2].midiNote = 68;
    notes[5].end = -1.0;
    notes.push_back({72, 12.5, 13.0, 0.0});
    const std::string part = dir.file("other.mid");
    writeBytes(part, midiFileOf(notes));
    const ToolRun run = analyse(reportOptions(part));
    ASSERT_TRUE(run.ok) << run.error;
    const Report report = parseReport(run.text);
    ASSERT_EQ(report.summary.size(), notes.size() + 1);

    const SummaryLine& sharp = report.summary[2];
    EXPECT_EQ(sharp.note, "G#4");
    EXPECT_NEAR(std::stod(sharp.median), -135.0, kMedianToleranceCents);
    EXPECT_LE(std::stod(sharp.within), 0.02);
    EXPECT_EQ(report.rows[130][5], "G#4");

    const SummaryLine& unreleased = report.summary[5];
    EXPECT_NEAR(unreleased.length, kDurationSeconds - 9.5, kSecondsTolerance);
    EXPECT_EQ(report.rows.back()[5], "E4");

    const SummaryLine& late = report.summary[6];
    EXPECT_EQ(late.note, "C5");
    EXPECT_NEAR(late.start, 12.5, kSecondsTolerance);
    EXPECT_EQ(late.frames, 0);
    EXPECT_EQ(late.voiced, "");
    EXPECT_EQ(late.median, "");
    EXPECT_EQ(late.within, "");
}

TEST_F(DemoTake, JsonCarriesHeldArraysAndTheSummary) {
    AnalyseOptions options = reportOptions(partPath);
    options.format = OutputFormat::json;
    const ToolRun run = analyse(options);
    ASSERT_TRUE(run.ok) << run.error;
    const std::string& text = run.text;
    EXPECT_NE(text.find("\"held\": []}"), std::string::npos);
    EXPECT_NE(text.find("\"note\": \"C4\", \"held\": [\"C4\"]}"), std::string::npos);
    const size_t summary = text.find("\n ],\n \"summary\": {\"notes\": [\n  {\"note\": \"C4\", "
                                     "\"start_s\": 0.500000, \"length_s\": 1.500000");
    ASSERT_NE(summary, std::string::npos);
    size_t noteLines = 0;
    for (size_t at = text.find("{\"note\": ", summary); at != std::string::npos;
         at = text.find("{\"note\": ", at + 1))
        ++noteLines;
    EXPECT_EQ(noteLines, melody().size() + 1);
    EXPECT_NE(text.find("\"take\": {\"note\": \"take\", \"start_s\": 0.500000, \"length_s\": "
                        "11.000000, \"frames\": 300, \"voiced_share\": "),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 3), "}}\n");

    // A note without frames has no figures.
    std::vector<Note> notes = {{72, 12.5, 13.0, 0.0}};
    const std::string part = dir.file("late.mid");
    writeBytes(part, midiFileOf(notes));
    options.midiFile = part;
    const ToolRun late = analyse(options);
    ASSERT_TRUE(late.ok) << late.error;
    EXPECT_NE(late.text.find("\"frames\": 0, \"voiced_share\": null, \"median_cents\": null, "
                             "\"within_50_share\": null}"),
              std::string::npos);
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    bool yellow(int x, int y) const { return pixel(x, y) == 0xFFFF00u; }
    // A held-note bar: either pen's blue, alone or merged into a grey grid line.
    bool bar(int x, int y) const {
        const uint32_t p = pixel(x, y);
        return (p & 0xFF) == 0xFF && (p >> 16) < 0xFF && ((p >> 8) & 0xFF) < 0xFF;
    }
    uint32_t pixel(int x, int y) const {
        const size_t at = (static_cast<size_t>(y) * width + x) * 3;
        return (uint32_t{rgb[at]} << 16) | (uint32_t{rgb[at + 1]} << 8) | rgb[at + 2];
    }
};

Picture readPicture(const std::string& path) {
    Picture picture;
    int components = 0;
    unsigned char* data = stbi_load(path.c_str(), &picture.width, &picture.height, &components, 3);
    if (data) {
        picture.rgb.assign(data, data + static_cast<size_t>(picture.width) * picture.height * 3);
        stbi_image_free(data);
    }
    return picture;
}

// x of a frame on its page.
int columnOf(int frame) {
    return kFirstColumnX + kColumnPitch * (frame % TakePicture::kPageFrames);
}

// The centre row of the bar drawn along the columns of frames first..last on one page, -1
// when there is none. The bar's top and bottom edges are taken over all those columns,
// since the trace drawn over the bar hides some of its pixels in each column.
double barRow(const Picture& picture, int first, int last) {
    const int page = first / TakePicture::kPageFrames;
    int top = kPageHeight, bottom = -1;
    for (int frame = first; frame <= last; ++frame)
        for (int y = 0; y < kPageHeight; ++y)
            if (picture.bar(columnOf(frame), page * kPageHeight + y)) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    return bottom < 0 ? -1.0 : (top + bottom) / 2.0;
}

// The mean row of the trace over the columns of frames first..last on one page.
double meanTraceRow(const Picture& picture, int first, int last) {
    const int page = first / TakePicture::kPageFrames;
    double sum = 0.0;
    int count = 0;
    for (int frame = first; frame <= last; ++frame)
        for (int y = 0; y < kPageHeight; ++y)
            if (picture.yellow(columnOf(frame), page * kPageHeight + y)) {
                sum += y;
                ++count;
            }
    return count == 0 ? -1.0 : sum / count;
}

bool columnHasColour(const Picture& picture, int page, int x) {
    for (int y = 0; y < kPageHeight; ++y)
        if (picture.bar(x, page * kPageHeight + y) || picture.yellow(x, page * kPageHeight + y))
            return true;
    return false;
}

TEST_F(DemoTake, PictureStacksTheDisplayPagesOfTheWholeTake) {
    AnalyseOptions options = reportOptions(partPath);
    options.summary = false;
    options.pngFile = dir.file("take.png");
    const ToolRun run = analyse(options);
    ASSERT_TRUE(run.ok) << run.error;
    const Picture picture = readPicture(options.pngFile);
    ASSERT_EQ(picture.width, kWidth);
    ASSERT_EQ(picture.height, kPageHeight * kTakePages);

    // Page 0 is one picture, with one view: the bars of the melody's notes lie the notes'
    // distances apart at 20 pixels per semitone (C4 at frame 30, E4 at 75, G4 at 120, A4 at
    // 200), and the trace runs along them, below the bar where G4 is sung 35 cents flat.
    const double c4 = barRow(picture, 25, 35);
    ASSERT_GE(c4, 0.0);
    const struct {
        int frame;
        int semitonesAboveC4;
    } bars[] = {{75, 4}, {120, 7}, {200, 9}, {260, 7}};
    for (const auto& b : bars) {
        EXPECT_NEAR(barRow(picture, b.frame - 5, b.frame + 5), c4 - b.semitonesAboveC4 * 20,
                    kRowTolerancePixels)
            << "frame " << b.frame;
    }
    EXPECT_NEAR(meanTraceRow(picture, 22, 58), c4, kTraceOffsetTolerancePixels);
    const double g4 = c4 - 7 * 20;
    EXPECT_NEAR(meanTraceRow(picture, 112, 148), g4 + 35 * kPixelsPerCent,
                kTraceOffsetTolerancePixels);
    // The rest from 5 to 6 s (frames 150 to 179): neither bar nor trace.
    EXPECT_FALSE(columnHasColour(picture, 0, columnOf(165)));

    // Page 1 starts at frame 310 with the last E4 (held until frame 344) and then shows
    // the take's end: no bars, no trace.
    EXPECT_GE(barRow(picture, 315, 325), 0.0);
    EXPECT_GE(meanTraceRow(picture, 315, 340), 0.0);
    for (int frame = 350; frame < 2 * TakePicture::kPageFrames; ++frame)
        EXPECT_FALSE(columnHasColour(picture, 1, columnOf(frame))) << "frame " << frame;
}

TEST(TakePictureSize, OnePagePerStartedPageOfFrames) {
    struct Case {
        int frames, pages;
    };
    for (const Case c : {Case{0, 1}, Case{310, 1}, Case{311, 2}}) {
        TakePicture picture;
        for (int i = 0; i < c.frames; ++i)
            picture.addFrame(4800, HeldNoteSet{});
        const kelvatone::io::Image image = picture.finish();
        EXPECT_EQ(image.width, kWidth) << c.frames;
        EXPECT_EQ(image.height, kPageHeight * c.pages) << c.frames;
        EXPECT_EQ(image.rgb.size(), static_cast<size_t>(image.width) * image.height * 3);
    }
}

TEST(TakeOptions, MidiSummaryAndPng) {
    AnalyseOptions options;
    std::string error;
    const char* arguments[] = {"kelvatone-analyse", "t.wav", "--summary", "--midi", "t.mid",
                               "--png=t.png"};
    ASSERT_EQ(parseAnalyseOptions(6, arguments, options, error), ParseOutcome::run) << error;
    EXPECT_EQ(options.midiFile, "t.mid");
    EXPECT_TRUE(options.summary);
    EXPECT_EQ(options.pngFile, "t.png");

    // Without the part there is nothing to summarise, also when called directly.
    options.midiFile.clear();
    std::FILE* out = std::tmpfile();
    EXPECT_FALSE(runAnalysis(options, out, error));
    EXPECT_NE(error.find("--midi"), std::string::npos) << error;
    std::fclose(out);
}

TEST_F(DemoTake, ProgramReportAndItsErrorExits) {
    const std::string png = dir.file("take.png");
    const ToolExit good = runTool(
        KELVATONE_ANALYSE_PATH, takePath + " --midi " + partPath + " --summary --png " + png, dir);
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_NE(good.out.find("\nnote,start_s,length_s,frames,voiced_share"), std::string::npos);
    EXPECT_EQ(readPicture(png).height, kPageHeight * kTakePages);

    const ToolExit help = runTool(KELVATONE_ANALYSE_PATH, "--help", dir);
    for (const char* option : {"--midi", "--summary", "--png", "within_50_share"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

    const std::string text = dir.file("notes.mid");
    std::ofstream(text) << "not a MIDI file\n";
    std::vector<uint8_t> truncated = midiPart();
    truncated.resize(truncated.size() / 2);
    const std::string cut = dir.file("cut.mid");
    writeBytes(cut, truncated);
    const std::string bad[] = {
        takePath + " --summary",
        takePath + " --summary=yes --midi " + partPath,
        takePath + " --midi",
        takePath + " --midi " + dir.file("missing.mid"),
        takePath + " --midi " + text,
        takePath + " --midi " + cut,
        takePath + " --png " + dir.file("no-such-folder/take.png"),
        takePath + " --png " + dir.file(""),
    };
    for (const std::string& arguments : bad) {
        const ToolExit exit = runTool(KELVATONE_ANALYSE_PATH, arguments, dir);
        EXPECT_EQ(exit.status, kExitBadInput) << arguments;
        EXPECT_EQ(exit.out, "") << arguments;
        ASSERT_FALSE(exit.err.empty()) << arguments;
        EXPECT_EQ(exit.err.find('\n'), exit.err.size() - 1) << "one line: " << exit.err;
    }
}

// The names of the files in a folder, for checking that a failed run left none behind.
std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(DemoTake, ReportAndNotesWithAndWithoutThePart) {
    const std::string page = dir.file("take.html"), sung = dir.file("sung.html");
    const std::string midi = dir.file("sung.mid"), csv = dir.file("sung.csv");
    ASSERT_EQ(
        runTool(KELVATONE_ANALYSE_PATH, takePath + " --midi " + partPath + " --report " + page, dir)
            .status,
        0);
    const ToolExit alone =
        runTool(KELVATONE_ANALYSE_PATH, takePath + " --report " + sung + " --notes " + midi, dir);
    ASSERT_EQ(alone.status, 0) << alone.err;
    ASSERT_EQ(runTool(KELVATONE_ANALYSE_PATH, takePath + " --notes " + csv, dir).status, 0);

    // The page holds the data in place of its marker, and its reference.
    const std::string html = readFile(page);
    EXPECT_EQ(html.find(kTakeReportDataMarker), std::string::npos);
    EXPECT_NE(html.find("\"reference\":\"midi\""), std::string::npos);
    EXPECT_NE(html.find("{\"note\":\"G4\",\"midi\":67,\"start\":3.500000,\"end\":5.000000,"
                        "\"firstFrame\":105,\"worst\":true,\"frames\":45,"),
              std::string::npos);
    EXPECT_NE(readFile(sung).find("\"reference\":\"sung\""), std::string::npos);

    // The sung notes: the melody's six, read back from the MIDI file as any reader would.
    kelvatone::io::MidiFileContents part;
    std::string error;
    ASSERT_TRUE(kelvatone::io::readMidiFile(midi, part, error)) << error;
    const std::vector<Note>& melody = kelvatone::demo::melody();
    ASSERT_EQ(part.notes.size(), 2 * melody.size());
    const std::vector<std::string> rows = splitLines(readFile(csv));
    ASSERT_EQ(rows.size(), melody.size() + 1);
    EXPECT_EQ(rows[0], "onset_s,offset_s,midi_note,note,median_deviation_cents");
    for (size_t i = 0; i < melody.size(); ++i) {
        const std::vector<std::string> f = splitFields(rows[i + 1]);
        ASSERT_EQ(f.size(), 5u) << rows[i + 1];
        EXPECT_NEAR(std::stod(f[0]), melody[i].start, kOnsetToleranceSeconds) << rows[i + 1];
        EXPECT_EQ(std::stoi(f[2]), melody[i].midiNote) << rows[i + 1];
        EXPECT_NEAR(std::stod(f[4]), melody[i].detuneCents, kMedianToleranceCents) << rows[i + 1];
        EXPECT_EQ(part.notes[2 * i].note, melody[i].midiNote);
        EXPECT_NEAR(part.notes[2 * i].seconds, std::stod(f[0]), 1e-3);
    }
}

TEST_F(DemoTake, TakeOutputsAnswerBadInputWithOneLineAndLeaveNoFile) {
    const std::string empty = dir.file("empty.mid");
    writeBytes(empty, midiFileOf({}));
    // A take of fewer samples than one hop.
    const std::string shortTake = dir.file("short.wav");
    {
        SF_INFO info{};
        info.samplerate = kSampleRate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(shortTake.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        const std::vector<float> samples(kHop - 1, 0.25f);
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
        sf_close(file);
    }
    const std::string out = dir.file("out");
    ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
    const std::string report = out + "/take.html";
    const std::string bad[] = {
        takePath + " --report " + report + " --midi " + dir.file("missing.mid"),
        takePath + " --report " + report + " --midi " + empty,
        takePath + " --midi " + empty + " --summary",
        shortTake + " --report " + report,
        shortTake + " --notes " + out + "/notes.csv",
        takePath + " --report " + dir.file("no-such-folder/take.html"),
        takePath + " --report " + out,
        takePath + " --notes " + out + "/notes.txt",
        takePath + " --notes " + dir.file("no-such-folder/notes.mid"),
        takePath + " --report " + report + " --notes " + dir.file("no-such-folder/n.csv"),
    };
    for (const std::string& arguments : bad) {
        const ToolExit exit = runTool(KELVATONE_ANALYSE_PATH, arguments, dir);
        EXPECT_EQ(exit.status, kExitBadInput) << arguments;
        ASSERT_FALSE(exit.err.empty()) << arguments;
        EXPECT_EQ(exit.err.find('\n'), exit.err.size() - 1) << "one line: " << exit.err;
        EXPECT_EQ(filesIn(out), std::vector<std::string>{}) << arguments;
    }
}

TEST(TakeRanking, WorstSharpestAndFlattestNotes) {
    // Notes by (frames within 50 cents of 10, median deviation): the worst are those
    // below 90 % within, lowest first; sharp and flat ones at least 10 cents off.
    const struct {
        long within;
        int32_t median;
    } sung[] = {{10, 0}, {2, -60}, {9, 12}, {5, 40}, {8, -15}, {0, -90}, {10, 9}};
    std::vector<NoteSpan> spans;
    for (const auto& s : sung) {
        NoteSpan span;
        span.frames = 10;
        span.withinTolerance = s.within;
        span.deviations.assign(10, s.median);
        spans.push_back(span);
    }
    spans.push_back(NoteSpan{}); // a note without frames ranks nowhere
    const NoteRanking ranking = rankNotes(spans);
    EXPECT_EQ(ranking.worst, (std::vector<size_t>{5, 1, 3}));
    EXPECT_EQ(ranking.sharpest, (std::vector<size_t>{3, 2}));
    EXPECT_EQ(ranking.flattest, (std::vector<size_t>{5, 1, 4}));
}

} // namespace
