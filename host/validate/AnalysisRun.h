// One running instance fed block after block on the test's own thread (its audio and
// UI thread at once, as in an offline render), with our module's editor shown where it
// can be, so that a test can ask whether the analysis finds the pitch of a clean tone
// and which MIDI notes the module holds.
// Every block's output is checked: nothing written past the block, finite for finite
// input, equal to the input for a pass-through effect.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/ModuleLoader.h"
#include "host/validate/AudioRig.h"
#include "host/validate/EditorHosting.h"
#include "host/validate/KelvatonePicture.h"
#include "host/validate/Problems.h"
#include "host/validate/Validation.h"

namespace kelvatone::host::validate {

enum class Waveform { Dc, Square, Silence };
const char* waveformName(Waveform waveform);

class AnalysisRun {
public:
    // Creates the instance, switches it on at 44.1 kHz with blocks of up to `maxBlock`
    // and, for our module, shows its editor.
    AnalysisRun(Validation& validation, int32_t maxBlock);
    // Switches the instance off and closes it, its editor first.
    ~AnalysisRun();
    AnalysisRun(const AnalysisRun&) = delete;
    AnalysisRun& operator=(const AnalysisRun&) = delete;

    // False when the run could not start; then error() says why.
    bool started() const { return instance_ != nullptr && error_.empty(); }
    const std::string& error() const { return error_; }
    Problems& problems() { return problems_; }
    EffectInstance& instance() { return *instance_; }
    // The test's outcome: passed with "(done)" when no problem was found, with why the
    // picture was not looked at after `done` where it was not.
    Outcome outcome(const std::string& done) const;

    // Suspends the instance, announces `rate` and `maxBlock` (at most the size it was
    // made with), and resumes it, as hosts do when the audio device changes.
    void reconfigure(float rate, int32_t maxBlock);
    // `frames` of a test signal or a waveform in blocks of `block`.
    void feed(Signal signal, int64_t frames, int32_t block);
    void feed(Waveform waveform, int64_t frames, int32_t block);
    // Feeds a clean 440 Hz tone in blocks of `block` until the last few analyses saw
    // nothing else; our module's picture must then show a pitch in its newest columns.
    // `what` names what came before, for the problem.
    void expectPitchAfter(const std::string& what, int32_t block);
    // Sends `events` with effProcessEvents, as the audio thread does before a block.
    void deliver(vst::VstEvents* events);
    // Feeds silence for a few analyses; our module's picture must then show held-note
    // bars in its newest columns when `held`, and none when not. The notes the lists
    // leave held lie in the rows the first picture shows (MIDI 51..69).
    void expectNotesHeld(bool held, const std::string& what);

private:
    // The facts of the newest `columns` of our module's picture. False when no editor is
    // shown, or when the picture cannot be read (then a problem names `what`).
    bool readShownPicture(const std::string& what, int columns, PictureFacts& facts);
    void feedBlocks(int64_t frames, int32_t block, bool finiteInput, const char* what,
                    const std::function<void(int32_t)>& fill);

    Validation& validation_;
    std::unique_ptr<EffectInstance> instance_;
    std::unique_ptr<AudioRig> rig_;
    std::unique_ptr<ShownEditor> editor_;
    std::string error_;
    // Empty when the picture is looked at, else why not, in brackets.
    std::string pictureNote_;
    Problems problems_;
    float rate_;
    // Frames fed so far: where the tone and the square wave go on from.
    int64_t position_ = 0;
};

// What a test does with its run.
using AnalysisRunTest = std::function<Outcome(Validation&, AnalysisRun&)>;

// The test case `name` that runs `body` on a new run with blocks of up to `maxBlock`
// frames; it fails with the reason when the run cannot start.
TestCase analysisRunTest(std::string name, int32_t maxBlock, AnalysisRunTest body);

} // namespace kelvatone::host::validate
