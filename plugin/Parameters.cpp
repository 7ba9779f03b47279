// The six parameters: the host exchanges each as a float in 0..1; inside they are
// held in their natural units in the engine, or in the process-wide octave offset.
#include "plugin/Kelvatone.h"

#include "analysis/NoteNames.h"
#include "editor/KelvatoneGui.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

using namespace kelvatone::analysis;
using namespace kelvatone::editor;

namespace kelvatone::plugin {

namespace {

constexpr const char* kParameterNames[] = {"Threshold", "440Hz=", "Resolution",
                                           "AnaBegin",  "AnaEnd", "DispRange"};
static_assert(sizeof(kParameterNames) / sizeof(kParameterNames[0]) == kNumKelvatoneParameters,
              "one name per parameter");

// Host texts are at most 8 characters with a terminating zero at position 8.
constexpr int kHostTextLength = 8;

constexpr double kMaxThreshold = 50.0;
constexpr float kResolutionScale = 30.0f;
constexpr float kLowResolutionFrom = 22.0f;
constexpr float kNoteScale = 108.0f;
constexpr float kDisplayRangeScale = 48.0f;
constexpr float kMinDisplayRange = 12.0f;
constexpr int32_t kReferenceOctave = 4;

bool isParameterIndex(int32_t index) {
    return static_cast<uint32_t>(index) < static_cast<uint32_t>(kNumKelvatoneParameters);
}

// Copies at most 8 characters, zero-fills the rest of the first 8 bytes and ends
// the text at position 8.
void copyHostText(char* text, const char* source) {
    const size_t length = strnlen(source, kHostTextLength);
    std::memcpy(text, source, length);
    std::memset(text + length, 0, kHostTextLength + 1 - length);
}

float resolutionFor(float x) {
    const float v = x * kResolutionScale;
    if (v <= kFinestResolution)
        return kFinestResolution;
    if (v < kLowResolutionFrom)
        return kMiddleResolution;
    return kCoarsestResolution;
}

const char* resolutionText(float resolution) {
    if (resolution <= kFinestResolution)
        return "High";
    if (resolution >= kLowResolutionFrom)
        return "Low";
    return "Mid";
}

// The note of a host value: the single-precision product with 108, truncated. A host
// saves the value getParameter reports (note / 108 as a float) and sends it back, and for
// some notes (29, 58, 63) that product lands a hair below the whole note: a product within
// kNoteBoundaryTolerance below a note names that note, so every reported value comes back
// as the note it reported. Everywhere else a value names the note it always has.
constexpr double kNoteBoundaryTolerance = 1e-3; // semitones
NoteNumber noteFor(float x) {
    return static_cast<NoteNumber>(static_cast<double>(x * kNoteScale) + kNoteBoundaryTolerance);
}

float relaxedLoad(const std::atomic<float>& value) {
    return value.load(std::memory_order_relaxed);
}

} // namespace

void Kelvatone::setParameter(int32_t index, float value) {
    // Hosts may send anything; keep every setting inside the range its texts and
    // the analysis are built for.
    if (!isParameterIndex(index) || std::isnan(value))
        return;
    const float x = std::clamp(value, 0.0f, 1.0f);
    switch (index) {
    case kThreshold:
        engine.threshold.store(static_cast<double>(x) * kMaxThreshold, std::memory_order_relaxed);
        break;
    case kReferencePitch:
        // Every instance's display notices the new names by itself (released to it).
        octaveLabelOffset.store(x >= 0.5f ? 0 : -1, std::memory_order_release);
        break;
    case kResolution:
        setResolution(x);
        break;
    case kAnalysisBegin:
        setAnalysisBegin(x);
        break;
    case kAnalysisEnd:
        setAnalysisEnd(x);
        break;
    case kDisplayRange:
        engine.displayRange.store(
            static_cast<int32_t>(std::max(kMinDisplayRange, x * kDisplayRangeScale)),
            std::memory_order_relaxed);
        gui->pictureChanged();
        break;
    }
}

void Kelvatone::setResolution(float x) {
    const float resolution = resolutionFor(x);
    if (engine.resolution.exchange(resolution, std::memory_order_relaxed) == resolution)
        return;
    resolutionPending.store(true);
    tryApplyPendingResolution();
}

void Kelvatone::setAnalysisBegin(float x) {
    engine.requestBeginNote(noteFor(x));
}

void Kelvatone::setAnalysisEnd(float x) {
    engine.requestEndNote(noteFor(x));
}

float Kelvatone::getParameter(int32_t index) {
    switch (index) {
    case kThreshold:
        return static_cast<float>(engine.threshold.load(std::memory_order_relaxed) / kMaxThreshold);
    case kReferencePitch:
        return static_cast<float>(octaveLabelOffset.load(std::memory_order_relaxed) + 1.0);
    case kResolution:
        return relaxedLoad(engine.resolution) / kResolutionScale;
    case kAnalysisBegin:
        return static_cast<float>(engine.beginNote()) / kNoteScale;
    case kAnalysisEnd:
        return static_cast<float>(engine.endNote()) / kNoteScale;
    case kDisplayRange:
        return static_cast<float>(engine.displayRange.load(std::memory_order_relaxed)) /
               kDisplayRangeScale;
    default:
        return 0.0f;
    }
}

void Kelvatone::getParameterDisplay(int32_t index, char* text) {
    if (!isParameterIndex(index))
        return;
    // Every value stays inside its range (setParameter clamps), so each text fits in
    // 8 characters; the copy cuts anything longer all the same.
    char value[32];
    const int32_t offset = octaveLabelOffset.load(std::memory_order_relaxed);
    switch (index) {
    case kThreshold:
        std::snprintf(value, sizeof(value), "%.1f",
                      engine.threshold.load(std::memory_order_relaxed));
        break;
    case kReferencePitch:
        std::snprintf(value, sizeof(value), "A%d", offset + kReferenceOctave);
        break;
    case kResolution:
        std::snprintf(value, sizeof(value), "%s", resolutionText(relaxedLoad(engine.resolution)));
        break;
    case kAnalysisBegin:
        noteLabel(engine.beginNote(), offset, value);
        break;
    case kAnalysisEnd:
        noteLabel(engine.endNote(), offset, value);
        break;
    default:
        std::snprintf(value, sizeof(value), "%d",
                      engine.displayRange.load(std::memory_order_relaxed));
        break;
    }
    copyHostText(text, value);
}

const char* parameterFullName(int32_t index) {
    return isParameterIndex(index) ? kParameterNames[index] : nullptr;
}

void Kelvatone::getParameterName(int32_t index, char* text) {
    if (isParameterIndex(index))
        copyHostText(text, parameterFullName(index));
}

} // namespace kelvatone::plugin
