// The take report as one self-contained HTML page: the take drawn as the display draws it
// (a canvas with a little JavaScript of our own, no external file), the note table, the
// summary and the settings. Its figures are those of --summary: the page carries the
// reference notes' spans and figures from TakeNotes and the pitch track, and draws both.
//
// Units: seconds, cents above C0, MIDI notes. One thread.
#pragma once

#include "report/NoteSegmenter.h"
#include "report/TakeNotes.h"

#include <cstdio>
#include <string>
#include <vector>

namespace kelvatone::report {

// What the analysis was run with, shown on the page.
struct ReportSettings {
    std::string sourceFile;
    // The MIDI part; empty when the reference is the notes segmented from the take.
    std::string midiFile;
    double sampleRate = 0.0;
    int fftSize = 0;
    int hopLength = 0;
    std::string resolution;
    double threshold = 0.0;
    analysis::NoteNumber beginNote = 0;
    analysis::NoteNumber endNote = 0;
};

// The take's analysed frames: one pitch per frame (kNoPitch: none).
struct TakeTrack {
    TrackTiming timing;
    std::vector<analysis::PitchCents> pitches;
};

// The notes the page singles out, as indices into the reference's spans.
struct NoteRanking {
    // Up to three notes with the lowest share of frames within 50 cents, among those below
    // 90 %; the lowest first.
    std::vector<size_t> worst;
    // Up to three notes with the highest positive (lowest negative) median deviation of at
    // least 10 cents; the farthest first.
    std::vector<size_t> sharpest;
    std::vector<size_t> flattest;
};

NoteRanking rankNotes(const std::vector<NoteSpan>& spans);

// Writes the page to `out`; the caller checks the stream for errors.
void writeHtmlReport(std::FILE* out, const ReportSettings& settings, const TakeTrack& track,
                     const TakeNotes& reference);

// The page's text around the data: its HTML, CSS and JavaScript with one placeholder
// where the take's JSON goes (generated from report/take-report.html).
extern const char* const kTakeReportTemplate;
extern const char* const kTakeReportDataMarker;

} // namespace kelvatone::report
