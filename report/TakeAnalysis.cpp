#include "report/TakeAnalysis.h"

#include "report/NoteAudio.h"

#include <cmath>

using namespace kelvatone::analysis;

namespace kelvatone::report {

namespace {

const char* resolutionName(float resolution) {
    if (resolution <= kFinestResolution)
        return "high";
    return resolution <= kMiddleResolution ? "mid" : "low";
}

TrackTiming timingOf(const AnalysisEngine& engine) REQUIRES(engine.guard) {
    TrackTiming timing;
    const double rate = engine.engineSampleRate;
    timing.firstFrameSeconds = (engine.hopLength - 1) / rate;
    timing.frameSeconds = engine.hopLength / rate;
    timing.windowSeconds = engine.fftSize / rate;
    return timing;
}

} // namespace

std::string unsupportedRateReason(int fileRate) {
    return "has an unsupported sample rate, " + std::to_string(fileRate) + " Hz (" +
           std::to_string(static_cast<int>(RateConverter::kMinInputRate)) + " to " +
           std::to_string(static_cast<int>(RateConverter::kMaxInputRate)) + " Hz)";
}

std::string tooShortReason(int64_t hopInFile) {
    return "is shorter than one analysis frame (" + std::to_string(hopInFile) + " samples)";
}

TakeAnalysis::TakeAnalysis(const TakeSettings& settings, int fileRate, bool keepSamples)
    : settings_(settings), ownEngine(engine.guard), feed(converter, engine),
      keepSamples_(keepSamples) {
    engine.guard.assertHeld();
    engine.resolution.store(settings.resolution);
    engine.threshold.store(settings.threshold);
    engine.setRange(settings.beginNote, settings.endNote);
    engine.configure(RateConverter::kAnalysisRate);
    converter.configure(fileRate);
    track_.timing = timingOf(engine);
}

int64_t TakeAnalysis::hopInFile() {
    engine.guard.assertHeld();
    return static_cast<int64_t>(
        std::ceil(engine.hopLength * converter.inputRate() / RateConverter::kAnalysisRate));
}

double TakeAnalysis::hopInFileSamples() {
    engine.guard.assertHeld();
    return engine.hopLength * converter.inputRate() / converter.outputRate();
}

int TakeAnalysis::fftSize() {
    engine.guard.assertHeld();
    return engine.fftSize;
}

// As in the plug-in's intake: a frame whenever one is due. Its held notes are those of its
// newest sample; converted sample k lies k / 44100 s into the take.
void TakeAnalysis::analyseFrame(int64_t newest, const FrameSink& sink) {
    static const HeldNoteSet nothingHeld;
    const HeldNoteSet& held =
        part_ ? part_->heldAt(newest, RateConverter::kAnalysisRate) : nothingHeld;
    engine.historyUpdates.beginWrite();
    engine.storeHeldNotes(held);
    engine.analyseFrame();
    engine.historyUpdates.endWrite();
    const PitchCents pitch = engine.currentPitch.load();
    track_.pitches.push_back(pitch);
    if (part_)
        part_->addFrame(pitch);
    sink(frameCount++, newest, pitch, held);
}

void TakeAnalysis::reserve(int64_t frames) {
    if (keepSamples_)
        samples.reserve(static_cast<size_t>(frames));
}

void TakeAnalysis::feedSample(double sample, const FrameSink& sink) {
    feed.push(sample, [&](int64_t newest) {
        // Called back by the feed within this call, on this thread.
        engine.guard.assertHeld();
        analyseFrame(newest, sink);
    });
}

void TakeAnalysis::push(const double* mono, size_t count, const FrameSink& sink) {
    for (size_t i = 0; i < count; ++i)
        feedSample(mono[i], sink);
    if (keepSamples_)
        for (size_t i = 0; i < count; ++i)
            samples.push_back(static_cast<float>(mono[i]));
    fileSamples += static_cast<int64_t>(count);
}

void TakeAnalysis::finish(const FrameSink& sink) {
    // Silence after the take brings out the converted samples that still lie within it, so
    // every rate gives the same frames.
    const int64_t withinFile =
        fileSamples == 0 ? 0
                         : (fileSamples - 1) * converter.phaseCount() / converter.stepLength() + 1;
    while (feed.converted() < withinFile)
        feedSample(0.0, sink);
    if (part_)
        part_->finish(takeSeconds());
}

double TakeAnalysis::takeSeconds() const {
    return static_cast<double>(fileSamples) / converter.inputRate();
}

std::vector<SungNote> TakeAnalysis::sungNotes() const {
    const double rate = converter.inputRate();
    std::vector<SungNote> sung =
        segmentNotes(lookLonger(track_.pitches, track_.timing, samples, rate), track_.timing);
    nameFundamentals(sung, samples, rate);
    dropTonelessNotes(sung, samples, rate);
    splitReattacks(sung, samples, rate);
    refineOnsets(sung, samples, rate);
    joinStrayStarts(sung);
    return sung;
}

// The reference of a report without a part: the sung notes, measured as a part.
std::unique_ptr<TakeNotes> TakeAnalysis::sungReference(const std::vector<SungNote>& sung) {
    auto reference = std::make_unique<TakeNotes>(partOf(sung));
    const double rate = engine.engineSampleRate;
    for (size_t k = 0; k < track_.pitches.size(); ++k) {
        const int64_t newestSample = static_cast<int64_t>(k + 1) * engine.hopLength - 1;
        reference->heldAt(newestSample, rate);
        reference->addFrame(track_.pitches[k]);
    }
    reference->finish(takeSeconds());
    return reference;
}

ReportSettings TakeAnalysis::reportSettings(const std::string& sourceFile,
                                            const std::string& midiFile) {
    ReportSettings report;
    report.sourceFile = sourceFile;
    report.midiFile = midiFile;
    report.sampleRate = engine.engineSampleRate;
    report.fftSize = engine.fftSize;
    report.hopLength = engine.hopLength;
    report.resolution = resolutionName(settings_.resolution);
    report.threshold = settings_.threshold;
    report.beginNote = settings_.beginNote;
    report.endNote = settings_.endNote;
    return report;
}

void TakeAnalysis::writeReport(std::FILE* out, const std::string& sourceFile,
                               const std::string& midiFile, const std::vector<SungNote>& sung) {
    engine.guard.assertHeld();
    const std::unique_ptr<TakeNotes> segmented = part_ ? nullptr : sungReference(sung);
    writeHtmlReport(out, reportSettings(sourceFile, midiFile), track_, part_ ? *part_ : *segmented);
}

} // namespace kelvatone::report
