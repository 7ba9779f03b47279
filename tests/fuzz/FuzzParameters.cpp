// The parameter functions with arbitrary floats (NaN, infinities, denormals, values
// far outside 0..1) and arbitrary indices, through the descriptor's functions and the
// dispatcher's text opcodes. After every call the reported values lie in 0..1 (0 for
// indices the effect does not have), and every text is printable, at most 8
// characters and a zero, written into a heap buffer of exactly 9 bytes (so a longer
// write is caught). Indices the effect does not have leave the buffer untouched.
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzEffect.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

using namespace kelvatone::fuzz;
using namespace kelvatone::plugin;
using namespace kelvatone::testsupport;
using namespace kelvatone::vst;

namespace {

constexpr size_t kMaxCallsPerInput = 512;
constexpr size_t kHostTextBytes = 9; // 8 characters and the terminating zero
constexpr uint8_t kHostFilling = 0xA5;
constexpr int32_t kIndexMargin = 2;

enum class Call : uint8_t {
    Set,
    Get,
    Display,
    Name,
    DisplayByOpcode,
    NameByOpcode,
    kMaxValue = NameByOpcode
};

bool isParameterIndex(int32_t index) {
    return index >= 0 && index < kNumKelvatoneParameters;
}

int32_t indexFrom(FuzzedDataProvider& input) {
    if (input.ConsumeBool())
        return input.ConsumeIntegralInRange<int32_t>(-kIndexMargin,
                                                     kNumKelvatoneParameters - 1 + kIndexMargin);
    return input.ConsumeIntegral<int32_t>();
}

void checkReportedValue(AEffect* effect, int32_t index) {
    const float reported = effect->getParameter(effect, index);
    if (isParameterIndex(index))
        require(reported >= 0.0f && reported <= 1.0f, "a reported value outside 0..1");
    else
        require(reported == 0.0f, "an index the effect does not have reports a value");
}

// The text in a host buffer of exactly kHostTextBytes, filled with kHostFilling first.
void checkText(const uint8_t* text, int32_t index) {
    if (!isParameterIndex(index)) {
        for (size_t i = 0; i < kHostTextBytes; ++i)
            require(text[i] == kHostFilling, "an index the effect does not have wrote text");
        return;
    }
    size_t length = 0;
    while (length < kHostTextBytes && text[length] != 0) {
        require(text[length] >= 0x20 && text[length] < 0x7F, "a text with unprintable bytes");
        ++length;
    }
    require(length < kHostTextBytes, "a text of more than 8 characters or with no zero");
}

void callOnce(FuzzedDataProvider& input, Instance& host) {
    AEffect* effect = host.effect;
    const Call call = input.ConsumeEnum<Call>();
    const int32_t index = indexFrom(input);
    std::unique_ptr<uint8_t[]> text(new uint8_t[kHostTextBytes]);
    std::memset(text.get(), kHostFilling, kHostTextBytes);
    char* hostText = reinterpret_cast<char*>(text.get());
    switch (call) {
    case Call::Set:
        effect->setParameter(effect, index, floatFromBits(input));
        for (int32_t i = -1; i <= kNumKelvatoneParameters; ++i)
            checkReportedValue(effect, i);
        return;
    case Call::Get:
        checkReportedValue(effect, index);
        return;
    case Call::Display:
        static_cast<AudioEffect*>(effect->object)->getParameterDisplay(index, hostText);
        break;
    case Call::Name:
        static_cast<AudioEffect*>(effect->object)->getParameterName(index, hostText);
        break;
    case Call::DisplayByOpcode:
        host.dispatch(effGetParamDisplay, index, 0, hostText);
        break;
    case Call::NameByOpcode:
        host.dispatch(effGetParamName, index, 0, hostText);
        break;
    }
    checkText(text.get(), index);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Instance host = openEffect();
    // The octave offset of the note names is shared by the whole process: start every
    // input from its default so a finding does not depend on the inputs before it.
    host.effect->setParameter(host.effect, kReferencePitch, 1.0f);
    for (size_t call = 0; call < kMaxCallsPerInput && input.remaining_bytes() > 0; ++call)
        callOnce(input, host);
    return 0;
}
