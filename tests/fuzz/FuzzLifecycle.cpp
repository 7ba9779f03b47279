// One instance through a random life as hosts give it: switched off and on, new
// sample rates (the usual ones and arbitrary floats) and block sizes, parameters set,
// MIDI lists, the editor opened, idled and closed (with no parent window and no
// display, as in a scanner), and process calls of random lengths, in place or not,
// with noise, silence or non-finite samples, in any order. Every process call must
// pass its audio through bit for bit; the descriptor must keep its fixed answers.
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzEffect.h"
#include "tests/fuzz/FuzzHeadless.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace kelvatone::fuzz;
using namespace kelvatone::plugin;
using namespace kelvatone::testsupport;
using namespace kelvatone::vst;

namespace {

constexpr size_t kMaxStepsPerInput = 128;
constexpr int32_t kMaxBlock = 8192;

enum class Step : uint8_t {
    Suspend,
    Resume,
    SetUsualRate,
    SetAnyRate,
    SetBlockSize,
    SetParameter,
    SendMidi,
    OpenEditor,
    IdleEditor,
    CloseEditor,
    Process,
    ProcessInPlace,
    kMaxValue = ProcessInPlace
};

enum class Fill : uint8_t { Noise, Silence, Nan, Infinity, Denormal, kMaxValue = Denormal };

float sampleOf(Fill fill, size_t i, uint32_t noise) {
    switch (fill) {
    case Fill::Noise:
        return static_cast<float>(static_cast<int32_t>(noise * (i + 1) * 2654435761u)) / 4.3e9f;
    case Fill::Silence:
        return 0.0f;
    case Fill::Nan:
        return i % 3 == 0 ? std::nanf("") : 0.25f;
    case Fill::Infinity:
        return i % 2 == 0 ? INFINITY : -INFINITY;
    case Fill::Denormal:
        return 1e-42f * static_cast<float>(i % 5);
    }
    return 0.0f;
}

// Audio buffers of the largest block, reused by every process call of one input.
struct Buffers {
    std::vector<float> in[2], out[2], expected[2];
    Buffers() {
        for (int channel = 0; channel < 2; ++channel) {
            in[channel].resize(kMaxBlock);
            out[channel].resize(kMaxBlock);
            expected[channel].resize(kMaxBlock);
        }
    }
};

void process(FuzzedDataProvider& input, Instance& host, Buffers& buffers, bool inPlace) {
    const auto frames = input.ConsumeIntegralInRange<int32_t>(0, kMaxBlock);
    const Fill fill = input.ConsumeEnum<Fill>();
    const uint32_t noise = input.ConsumeIntegral<uint32_t>();
    for (int channel = 0; channel < 2; ++channel) {
        for (int32_t i = 0; i < frames; ++i) {
            const float sample = sampleOf(fill, static_cast<size_t>(i) + channel, noise);
            buffers.in[channel][static_cast<size_t>(i)] = sample;
            buffers.expected[channel][static_cast<size_t>(i)] = sample;
        }
    }
    float* inputs[] = {buffers.in[0].data(), buffers.in[1].data()};
    float* separate[] = {buffers.out[0].data(), buffers.out[1].data()};
    float** outputs = inPlace ? inputs : separate;
    host.effect->processReplacing(host.effect, inputs, outputs, frames);
    for (int channel = 0; channel < 2; ++channel) {
        require(std::memcmp(outputs[channel], buffers.expected[channel].data(),
                            sizeof(float) * static_cast<size_t>(frames)) == 0,
                "a process call changed the audio it passes through");
    }
}

void checkFixedAnswers(Instance& host) {
    require(host.effect->magic == kEffectMagic, "the descriptor keeps its magic number");
    require(host.effect->numInputs == 2 && host.effect->numOutputs == 2,
            "two inputs and two outputs");
    require(host.dispatch(effGetVstVersion) == kVstVersion, "effGetVstVersion answers 2400");
}

void runStep(FuzzedDataProvider& input, Instance& host, Buffers& buffers) {
    switch (input.ConsumeEnum<Step>()) {
    case Step::Suspend:
        host.dispatch(effMainsChanged, 0, 0);
        break;
    case Step::Resume:
        host.dispatch(effMainsChanged, 0, 1);
        break;
    case Step::SetUsualRate:
        host.dispatch(effSetSampleRate, 0, 0, nullptr, input.PickValueInArray(kUsualRates));
        break;
    case Step::SetAnyRate:
        host.dispatch(effSetSampleRate, 0, 0, nullptr, floatFromBits(input));
        break;
    case Step::SetBlockSize:
        host.dispatch(effSetBlockSize, 0, input.ConsumeIntegral<int32_t>());
        break;
    case Step::SetParameter:
        host.effect->setParameter(
            host.effect, input.ConsumeIntegralInRange<int32_t>(-1, kNumKelvatoneParameters),
            input.ConsumeBool() ? input.ConsumeFloatingPointInRange(0.0f, 1.0f)
                                : floatFromBits(input));
        break;
    case Step::SendMidi:
        NoteList(input).send(host);
        break;
    case Step::OpenEditor:
        // Opening the editor needs a window of the host: the only safe fake one is none.
        require(host.dispatch(effEditOpen) == 1, "effEditOpen answers 1");
        break;
    case Step::IdleEditor:
        host.dispatch(effEditIdle);
        break;
    case Step::CloseEditor:
        host.dispatch(effEditClose);
        break;
    case Step::Process:
        process(input, host, buffers, false);
        break;
    case Step::ProcessInPlace:
        process(input, host, buffers, true);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    static Buffers buffers;
    Instance host = openEffect();
    for (size_t step = 0; step < kMaxStepsPerInput && input.remaining_bytes() > 0; ++step) {
        runStep(input, host, buffers);
        checkFixedAnswers(host);
    }
    return 0;
}
