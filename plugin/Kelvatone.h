// The Kelvatone effect: passes stereo audio through untouched, analyses the pitch of
// its mono mix every hop, keeps the set of held MIDI notes beside every analysed
// frame, and owns the display editor that draws both.
//
// Threads:
//   - audio thread: processReplacing, processEvents;
//   - any thread: the parameter operations, setSampleRate, canDo;
//   - the thread that calls the module entry / effClose: construction, destruction.
// The audio thread holds the engine's guard for a whole process call (it only ever tries
// it, and passes the audio through unanalysed when it cannot have it). Nothing it does
// allocates, frees, locks, waits or draws:
//   - A change of resolution moves the engine to another frame length within the arrays
//     it already has. Whichever thread holds the guard applies it: the setting thread
//     when it can take the guard at once, otherwise the audio thread at the end of its
//     process call (or at the start of the next).
//   - The analysis always runs at 44100 Hz: the mono mix passes through a rate converter
//     that brings it there from the host's rate (and passes it through untouched at
//     44100 Hz), so frame lengths, hop, level and readings are those of 44100 Hz at any
//     rate. A change of sample rate (hosts send it while suspended) redesigns the converter
//     on the setting thread, which waits for the guard; meanwhile the audio thread's tries
//     fail.
//   - The display is drawn on the UI thread from a snapshot; the audio thread only
//     publishes each frame and runs the view's scroll step.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "analysis/Feed.h"
#include "analysis/RateConverter.h"
#include "analysis/ThreadRole.h"
#include "analysis/ThreadSafety.h"
#include "vst/AudioEffectX.h"

#include <atomic>
#include <cstdint>

namespace kelvatone::editor {
class KelvatoneGui;
}

namespace kelvatone::plugin {

// The characters q, r, 2, 8, most significant byte first.
constexpr int32_t kKelvatoneUniqueID = 0x71723238;
constexpr int32_t kKelvatoneNumPrograms = 1;
constexpr int32_t kKelvatoneVersion = 1;

enum KelvatoneParameter : int32_t {
    kThreshold,
    kReferencePitch,
    kResolution,
    kAnalysisBegin,
    kAnalysisEnd,
    kDisplayRange,
    kNumKelvatoneParameters
};

class Kelvatone : public vst::AudioEffectX {
public:
    explicit Kelvatone(vst::audioMasterCallback audioMaster);
    ~Kelvatone() override;

    // audio thread
    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;
    // any thread
    void setParameter(int32_t index, float value) override;
    // any thread
    float getParameter(int32_t index) override;
    // any thread; text holds at least 9 bytes
    void getParameterDisplay(int32_t index, char* text) override;
    // any thread; text holds at least 9 bytes
    void getParameterName(int32_t index, char* text) override;
    // audio thread
    int32_t processEvents(vst::VstEvents* events) override;
    // any thread
    int32_t canDo(const char* text) override;
    // any thread: stores the host's rate and, when the converter supports it, converts the
    // audio from it to the analysis rate, so pitches are measured as at 44100 Hz.
    void setSampleRate(float newRate) override;

    // The analysis state; the editor reads its history.
    analysis::AnalysisEngine engine;
    // audio thread only: written by processEvents, read by processReplacing.
    analysis::HeldNoteSet heldNotes GUARDED_BY(analysis::threadrole::audioThread);

    // The display editor, also held by the base as `editor`.
    editor::KelvatoneGui* display() const { return gui; }
    // The converter from the host's rate to the analysis rate. Read it only while the
    // audio thread is kept out (tests, or a setting thread that holds the engine's guard).
    const analysis::RateConverter& rateConverter() const REQUIRES(engine.guard) {
        return converter;
    }

private:
    // Redesigns the converter for the target rate and restarts the analysis, waiting for
    // the audio thread's process call to end first. Allocates. Any thread but the audio
    // thread.
    void moveToTargetRate() EXCLUDES(analysis::threadrole::audioThread, engine.guard);
    // Applies a resolution change that is waiting, if any. The thread that holds the
    // engine's guard.
    void applyPendingResolution() REQUIRES(engine.guard);
    // Applies a waiting resolution change if the engine's guard can be had at once.
    // Any thread; never waits.
    void tryApplyPendingResolution() EXCLUDES(engine.guard);
    // One analysed frame, published whole to the display. audio thread
    void analyseAndPublishFrame() REQUIRES(analysis::threadrole::audioThread, engine.guard);
    void setResolution(float value);
    void setAnalysisBegin(float value);
    void setAnalysisEnd(float value);

    editor::KelvatoneGui* gui = nullptr;
    // Brings the mono mix from the host's rate to the engine's. Used by the thread that
    // holds the engine's guard; redesigned by moveToTargetRate.
    analysis::RateConverter converter GUARDED_BY(engine.guard);
    // The mono mix through the converter into the engine. Same thread as the converter.
    analysis::AnalysisFeed feed GUARDED_BY(engine.guard){converter, engine};
    // The host rate the converter is to take. Written by setSampleRate (any thread), read
    // by the thread that redesigns the converter.
    std::atomic<double> targetInputRate;
    // Set by a change of resolution (any thread), cleared by the thread that applies it
    // while holding the engine's guard. Sequentially consistent, so that a setter that
    // cannot take the guard and the audio thread that releases it never both miss it.
    std::atomic<bool> resolutionPending{false};
};

// A parameter's whole name ("Threshold", "Resolution"; hosts get at most 8 characters of
// it through getParameterName), or null for an index outside the table. Any thread.
const char* parameterFullName(int32_t index);

// Creates one instance for a host, as the module entry does: asks the host for its
// version first and creates nothing when the answer is 0 or there is no callback.
// Returns the instance's descriptor, or null.
vst::AEffect* createKelvatone(vst::audioMasterCallback audioMaster);

} // namespace kelvatone::plugin
