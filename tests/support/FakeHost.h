// The host the tests, fuzz targets and benchmarks drive the effect with: a host callback
// that answers like a VST 2.4 host and notes what the effect asks, an instance of the
// plug-in opened through the module's entry path and closed through its dispatcher, and
// stereo audio blocks to process.
#pragma once

#include "plugin/Kelvatone.h"
#include "vst/AEffect.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace kelvatone::testsupport {

// The host's version answer: VST 2.4.
constexpr intptr_t kHostVersion = vst::kVstVersion;

struct Request {
    int32_t opcode;
    int32_t index;
    intptr_t value;
};

// What the effects asked of the fake host; one record per process. The counters are
// written by whichever thread calls the host (the editor's idle cycle runs on the window's
// thread) and read by the test; tests set them back before they count.
struct HostRecord {
    std::atomic<int> idleRequests{0};
    std::atomic<int> lastBeginEdit{-1};
    std::atomic<int> lastEndEdit{-1};
    // Called inside audioMasterIdle, while the editor's idle cycle runs; set by the test.
    std::atomic<void (*)()> onIdle{nullptr};
    // Every request, in order, as recordingHost saw them: one thread at a time.
    std::vector<Request> requests;
};

HostRecord& record();

// Answers audioMasterVersion with kHostVersion; audioMasterIdle (counted, then onIdle
// called), audioMasterBeginEdit and audioMasterEndEdit (their parameter index kept)
// with 1; everything else with 0. Any thread; allocates nothing.
intptr_t KELVATONE_VST_CALL host(vst::AEffect* effect, int32_t opcode, int32_t index,
                                 intptr_t value, void* ptr, float opt);

// The same answers, after appending the request to record().requests: for tests whose
// effect calls the host from one thread at a time.
intptr_t KELVATONE_VST_CALL recordingHost(vst::AEffect* effect, int32_t opcode, int32_t index,
                                          intptr_t value, void* ptr, float opt);

// Whether an Instance is sent effOpen after the entry, as hosts do before any other call.
enum class Opening { EntryOnly, SendEffOpen };

// An instance of the plug-in made through the same path as the module entry, closed with
// effClose when it goes out of scope. Aborts with a message when the entry gives no
// effect (libFuzzer then keeps the input, a test program stops).
class Instance {
public:
    explicit Instance(vst::audioMasterCallback callback = host,
                      Opening opening = Opening::EntryOnly);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    plugin::Kelvatone& kelvatone() const {
        return *static_cast<plugin::Kelvatone*>(effect->object);
    }
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) const {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    void setParameter(int32_t index, float value) const {
        effect->setParameter(effect, index, value);
    }
    float getParameter(int32_t index) const { return effect->getParameter(effect, index); }

    vst::AEffect* const effect;
};

// A stereo block of audio: two input and two output channels of `frames` samples each,
// zeroed, with the channel pointer arrays a host passes to process calls.
struct StereoBlock {
    std::vector<float> left, right;
    float* inputs[2];
    std::vector<float> outLeft, outRight;
    float* outputs[2];

    explicit StereoBlock(int32_t frames);
    int32_t frames() const { return static_cast<int32_t>(left.size()); }
};

// Feeds `seconds` of a sine of `frequency` Hz at amplitude 0.5 through the effect in
// blocks of 256 frames at `sampleRate` Hz, the same on both channels; returns the pitches
// of the frames analysed after the first `settleFrames`. Calls processReplacing on this
// thread.
std::vector<analysis::PitchCents> pitchesOfSine(Instance& instance, double frequency,
                                                double sampleRate, double seconds,
                                                int settleFrames = 4);

} // namespace kelvatone::testsupport
