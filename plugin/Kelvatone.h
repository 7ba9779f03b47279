// The Kelvatone effect: passes stereo audio through untouched, analyses the pitch of
// its mono mix every hop, keeps the set of held MIDI notes beside every analysed
// frame, and owns the display editor that draws both.
//
// Threads:
//   - audio thread: processReplacing, processEvents;
//   - any thread: the parameter operations, setSampleRate, canDo;
//   - the thread that calls the module entry / effClose: construction, destruction.
// A change of resolution or sample rate rebuilds the engine's arrays. It never
// overlaps the analysis or a drawing of the display: the audio thread holds the
// engine's guard for a whole process call, the display holds its drawing guard while
// it draws, and the setting thread waits until it holds both (a block's processing
// and one drawing at most) and rebuilds itself: the audio thread never allocates.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "vst/AudioEffectX.h"

#include <atomic>
#include <cstdint>

class KelvatoneGui;

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

class Kelvatone : public AudioEffectX {
public:
    explicit Kelvatone(audioMasterCallback audioMaster);
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
    int32_t processEvents(VstEvents* events) override;
    // any thread
    int32_t canDo(const char* text) override;
    // any thread: stores the host's rate and moves the analysis to it when the engine
    // supports it, so pitches are measured at the rate the audio really has.
    void setSampleRate(float newRate) override;

    // The analysis state; the editor reads its history.
    AnalysisEngine engine;
    // audio thread only: written by processEvents, read by processReplacing.
    HeldNoteSet heldNotes;

    // The display editor, also held by the base as `editor`.
    KelvatoneGui* display() const { return gui; }

private:
    // Rebuilds the engine for the current resolution and target rate, waiting for
    // the audio thread's process call and the display's drawing to end first.
    // any thread but the audio thread inside processReplacing
    void rebuildEngine();
    void setResolution(float value);
    void setAnalysisBegin(float value);
    void setAnalysisEnd(float value);

    KelvatoneGui* gui = nullptr;
    // The rate the analysis is to run at. Written by setSampleRate (any thread), read
    // by the thread that rebuilds the engine.
    std::atomic<double> targetEngineRate;
};

// Creates one instance for a host, as the module entry does: asks the host for its
// version first and creates nothing when the answer is 0 or there is no callback.
// Returns the instance's descriptor, or null.
AEffect* createKelvatone(audioMasterCallback audioMaster);
