// The analysis of a whole take at its own rate, as the plug-in would analyse it live: the
// take's mono samples through the plug-in's rate converter into its analysis engine, the
// notes meant (a MIDI part) delivered frame by frame as its intake sees them, the pitch
// track kept, and, for a take without a part, the notes sung segmented from the track and
// checked on the audio. kelvatone-analyse and the web page's take report both run it, so
// that the same take gives the same frames, notes and report page.
//
// Units: samples at the take's rate (22050 to 384000 Hz), seconds from the start of the
// take. One thread: the object owns its engine and holds the engine's guard for its life.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "analysis/Feed.h"
#include "analysis/RateConverter.h"
#include "analysis/RealtimeGuard.h"
#include "report/HtmlReport.h"
#include "report/NoteSegmenter.h"
#include "report/TakeNotes.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvatone::report {

// Why a take cannot be analysed, worded to follow the take's name (the tool's file name,
// the page's "it"): its rate is not one the rate converter takes; it is shorter than one
// analysis hop, `hopInFile` of its own samples, so it gives no frame.
std::string unsupportedRateReason(int fileRate);
std::string tooShortReason(int64_t hopInFile);

// The analysis settings of a take, as the plug-in's parameters give them.
struct TakeSettings {
    float resolution = analysis::kMiddleResolution;
    double threshold = 25.0;
    analysis::NoteNumber beginNote = 12;
    analysis::NoteNumber endNote = 96;
};

class TakeAnalysis {
public:
    // Called for every analysed frame: its index, the index of its newest sample in the
    // converted stream (at the analysis rate), its pitch (kNoPitch: none) and the notes
    // held at it.
    using FrameSink = std::function<void(long frame, int64_t newest, analysis::PitchCents pitch,
                                         const analysis::HeldNoteSet& held)>;

    // fileRate must be one RateConverter supports. keepSamples: keep the mono samples for
    // sungNotes() and takeSamples(). Allocates the engine and the converter.
    TakeAnalysis(const TakeSettings& settings, int fileRate, bool keepSamples);
    TakeAnalysis(const TakeAnalysis&) = delete;
    TakeAnalysis& operator=(const TakeAnalysis&) = delete;

    // The notes meant; before the first push. Without one the take has no part.
    void usePart(std::unique_ptr<TakeNotes> notes) { part_ = std::move(notes); }

    // One analysis hop in the take's samples, rounded up: a take shorter than this has no
    // frame.
    int64_t hopInFile();
    // The same, exact, as the JSON rows' header gives it.
    double hopInFileSamples();
    int fftSize();
    double fileRate() const { return converter.inputRate(); }

    // Room for a take of `frames` samples, so that keeping them allocates once.
    void reserve(int64_t frames);
    // The next mono samples of the take.
    void push(const double* mono, size_t count, const FrameSink& sink);
    // After the last sample: the converted samples that still lie within the take (the
    // converter delivers a little late), then the part's last events and open notes.
    void finish(const FrameSink& sink);

    long frames() const { return frameCount; }
    double takeSeconds() const;
    const TakeTrack& track() const { return track_; }
    // The notes meant, or null.
    const TakeNotes* part() const { return part_.get(); }
    // The kept mono samples (empty unless kept), handed over: for writing the take.
    std::vector<float> releaseSamples() { return std::move(samples); }

    // After finish(), with the samples kept: the notes sung, segmented from the pitch track,
    // named by the fundamental that sounds, toneless pieces dropped, re-struck notes split
    // and onsets placed where their level rose.
    std::vector<SungNote> sungNotes() const;

    // After finish(): the take report page, measured against the part, or without one
    // against `sung` measured as a part. The caller checks the stream for errors.
    void writeReport(std::FILE* out, const std::string& sourceFile, const std::string& midiFile,
                     const std::vector<SungNote>& sung);

private:
    // One sample into the feed, analysing the frame it completes, if any.
    void feedSample(double sample, const FrameSink& sink);
    void analyseFrame(int64_t newest, const FrameSink& sink) REQUIRES(engine.guard);
    std::unique_ptr<TakeNotes> sungReference(const std::vector<SungNote>& sung)
        REQUIRES(engine.guard);
    ReportSettings reportSettings(const std::string& sourceFile, const std::string& midiFile)
        REQUIRES(engine.guard);

    TakeSettings settings_;
    analysis::AnalysisEngine engine;
    // This object has the engine to itself: it holds the guard throughout.
    analysis::GuardHold ownEngine;
    analysis::RateConverter converter;
    analysis::AnalysisFeed feed;
    std::unique_ptr<TakeNotes> part_;
    bool keepSamples_;
    std::vector<float> samples;
    TakeTrack track_;
    int64_t fileSamples = 0;
    long frameCount = 0;
};

} // namespace kelvatone::report
