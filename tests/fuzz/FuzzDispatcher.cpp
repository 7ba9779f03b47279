// The dispatcher with arbitrary opcodes and integer arguments. Pointer arguments are
// always real, large, zeroed buffers, never wild addresses or null (hosts pass a buffer
// wherever the effect may write one); the option float
// is taken bit for bit from the input, so NaN, infinities and denormals arrive too.
// effClose is sent once, at the end; the editor is opened with no parent window and
// without a display. Checks: texts stay within their documented lengths, the answers
// the interface fixes never change, unknown opcodes answer 0, and the effect still
// passes audio through untouched after whatever sequence came before.
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzEffect.h"
#include "tests/fuzz/FuzzHeadless.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace kelvatone::fuzz;
using namespace kelvatone::plugin;
using namespace kelvatone::testsupport;
using namespace kelvatone::vst;

namespace {

constexpr size_t kMaxCallsPerInput = 256;
constexpr size_t kBufferBytes = 8 * 1024;
constexpr size_t kMaxTextArgument = 256;
constexpr int32_t kLastKnownOpcode = effGetNumMidiOutputChannels;
constexpr intptr_t kIdentifyAnswer = 0x4E764566;

// Text lengths hosts allocate for, without the terminating zero.
constexpr size_t kParameterTextLength = 8;
constexpr size_t kProgramNameLength = 24;
constexpr size_t kEffectNameLength = 32;
constexpr size_t kVendorTextLength = 64;

constexpr size_t kCheckBlockFrames = 4096;

// How many bytes an opcode that writes text may use, zero included; 0 for the others.
size_t textLimitOf(int32_t opcode) {
    switch (opcode) {
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
        return kParameterTextLength + 1;
    case effGetProgramName:
    case effGetProgramNameIndexed:
        return kProgramNameLength + 1;
    case effGetEffectName:
        return kEffectNameLength + 1;
    case effGetVendorString:
    case effGetProductString:
    case effShellGetNextPlugin:
        return kVendorTextLength + 1;
    default:
        return 0;
    }
}

bool readsTextArgument(int32_t opcode) {
    return opcode == effSetProgramName || opcode == effString2Parameter || opcode == effCanDo;
}

// The value argument of these opcodes is an address the effect may read or write.
bool takesValueAsPointer(int32_t opcode) {
    return opcode == effSetSpeakerArrangement || opcode == effGetSpeakerArrangement;
}

bool allZero(const std::vector<uint8_t>& buffer, size_t from) {
    for (size_t i = from; i < buffer.size(); ++i) {
        if (buffer[i] != 0)
            return false;
    }
    return true;
}

int32_t opcodeFrom(FuzzedDataProvider& input) {
    if (input.ConsumeBool())
        return input.ConsumeIntegralInRange<int32_t>(-1, kLastKnownOpcode + 1);
    return input.ConsumeIntegral<int32_t>();
}

void checkFixedAnswers(int32_t opcode, intptr_t answer) {
    if (opcode == effIdentify)
        require(answer == kIdentifyAnswer, "effIdentify answers NvEf");
    if (opcode == effGetVstVersion)
        require(answer == kVstVersion, "effGetVstVersion answers 2400");
    if (opcode < 0 || opcode > kLastKnownOpcode)
        require(answer == 0, "an opcode outside the interface answers 0");
}

void checkRectangle(intptr_t answer, const std::vector<uint8_t>& ptrBuffer) {
    if (answer == 0)
        return;
    const ERect* rect;
    std::memcpy(&rect, ptrBuffer.data(), sizeof(rect));
    require(rect != nullptr, "effEditGetRect answered 1 without a rectangle");
    require(rect->top == 0 && rect->left == 0 && rect->bottom == 360 && rect->right == 640,
            "the editor rectangle is 640 x 360");
}

// One dispatcher call built from the input.
void dispatchOne(FuzzedDataProvider& input, Instance& host, std::vector<uint8_t>& ptrBuffer,
                 std::vector<uint8_t>& valueBuffer) {
    const int32_t opcode = opcodeFrom(input);
    const int32_t index = input.ConsumeIntegral<int32_t>();
    intptr_t value = input.ConsumeIntegral<intptr_t>();
    const float opt = floatFromBits(input);
    if (opcode == effClose)
        return;

    std::memset(ptrBuffer.data(), 0, ptrBuffer.size());
    std::memset(valueBuffer.data(), 0, valueBuffer.size());
    if (readsTextArgument(opcode)) {
        const std::string text = input.ConsumeRandomLengthString(kMaxTextArgument);
        std::memcpy(ptrBuffer.data(), text.data(), text.size());
    }
    if (takesValueAsPointer(opcode))
        value = reinterpret_cast<intptr_t>(valueBuffer.data());
    // A chunk is as long as the host says it is: keep the size within the buffer.
    if (opcode == effSetChunk)
        value = static_cast<intptr_t>(static_cast<uint64_t>(value) % kBufferBytes);
    // Opening the editor needs a window of the host: the only safe fake one is none.
    void* ptr = opcode == effEditOpen ? nullptr : ptrBuffer.data();

    const intptr_t answer = host.dispatch(opcode, index, value, ptr, opt);

    checkFixedAnswers(opcode, answer);
    const size_t limit = textLimitOf(opcode);
    if (limit != 0)
        require(allZero(ptrBuffer, limit), "a text written past its documented length");
    if (opcode == effEditGetRect)
        checkRectangle(answer, ptrBuffer);
}

// Whatever came before, audio still passes through bit for bit.
void checkPassThrough(Instance& host) {
    std::vector<float> left(kCheckBlockFrames), right(kCheckBlockFrames);
    for (size_t i = 0; i < kCheckBlockFrames; ++i) {
        left[i] = std::sin(0.05f * static_cast<float>(i));
        right[i] = -left[i];
    }
    std::vector<float> outLeft(kCheckBlockFrames), outRight(kCheckBlockFrames);
    float* inputs[] = {left.data(), right.data()};
    float* outputs[] = {outLeft.data(), outRight.data()};
    host.effect->processReplacing(host.effect, inputs, outputs,
                                  static_cast<int32_t>(kCheckBlockFrames));
    require(std::memcmp(left.data(), outLeft.data(), sizeof(float) * kCheckBlockFrames) == 0 &&
                std::memcmp(right.data(), outRight.data(), sizeof(float) * kCheckBlockFrames) == 0,
            "audio passes through unchanged after the dispatcher calls");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<uint8_t> ptrBuffer(kBufferBytes), valueBuffer(kBufferBytes);
    Instance host = openEffect();
    for (size_t call = 0; call < kMaxCallsPerInput && input.remaining_bytes() > 0; ++call)
        dispatchOne(input, host, ptrBuffer, valueBuffer);
    checkPassThrough(host);
    return 0;
}
