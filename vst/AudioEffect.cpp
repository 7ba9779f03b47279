#include "vst/AudioEffect.h"

#include "vst/AEffEditor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace kelvatone::vst {

namespace {

AudioEffect* effectOf(AEffect* e) {
    return static_cast<AudioEffect*>(e->object);
}

// The six functions placed in the record: each finds the object through the record
// and forwards to its virtual operation. The dispatcher runs on whichever host thread
// calls it (mostly the UI thread, effProcessEvents on the audio thread); the three
// process functions on the audio thread; the parameter functions on any thread.

intptr_t KELVATONE_VST_CALL dispatchEffect(AEffect* e, int32_t opcode, int32_t index,
                                           intptr_t value, void* ptr, float opt) {
    AudioEffect* effect = effectOf(e);
    if (opcode == effClose) {
        // The record lives inside the object: the host must not touch it afterwards.
        effect->dispatcher(opcode, index, value, ptr, opt);
        delete effect;
        return 1;
    }
    return effect->dispatcher(opcode, index, value, ptr, opt);
}

void KELVATONE_VST_CALL processEffect(AEffect* e, float** inputs, float** outputs,
                                      int32_t sampleFrames) {
    effectOf(e)->process(inputs, outputs, sampleFrames);
}

void KELVATONE_VST_CALL setEffectParameter(AEffect* e, int32_t index, float value) {
    effectOf(e)->setParameter(index, value);
}

float KELVATONE_VST_CALL getEffectParameter(AEffect* e, int32_t index) {
    return effectOf(e)->getParameter(index);
}

void KELVATONE_VST_CALL processEffectReplacing(AEffect* e, float** inputs, float** outputs,
                                               int32_t sampleFrames) {
    effectOf(e)->processReplacing(inputs, outputs, sampleFrames);
}

void KELVATONE_VST_CALL processEffectDoubleReplacing(AEffect* e, double** inputs, double** outputs,
                                                     int32_t sampleFrames) {
    effectOf(e)->processDoubleReplacing(inputs, outputs, sampleFrames);
}

constexpr int32_t kDefaultNumInputs = 1;
constexpr int32_t kDefaultNumOutputs = 2;
constexpr int32_t kDefaultVersion = 1;
constexpr float kUnityIoRatio = 1.0f;

// Value texts. A text has a budget of 8 characters; the formatting works in a local
// buffer and store() then cuts it to the caller's maxLen.
using ValueText = std::array<char, 16>;

constexpr const char* kMinusInfinityText = "-oo";
constexpr const char* kHugeText = "Huge!";
constexpr const char* kNotANumberText = "NaN";
constexpr int kFloatTextBudget = 8;
// Beyond these magnitudes the integer digits no longer fit the budget beside the
// point (and the sign), so the text would lose its leading digits: "Huge!" instead.
constexpr double kFirstHugePositive = 10000000.0;
constexpr double kFirstHugeNegative = 1000000.0;
constexpr int64_t kFirstHugeInt = 100000000;
// Ten-digit negative numbers would need a tenth digit position: "Huge!" as well.
constexpr int64_t kFirstHugeNegativeInt = 1000000000;
constexpr int64_t kLargestIntDivisor = 100000000;

// Writes at most maxLen characters of source and a terminating zero; nothing at all
// for a negative maxLen, since the buffer then has no room even for the zero.
void storeText(const char* source, char* text, int32_t maxLen) {
    if (text == nullptr || maxLen < 0) {
        return;
    }
    const size_t length = std::min(std::strlen(source), static_cast<size_t>(maxLen));
    std::memcpy(text, source, length);
    text[length] = 0;
}

int truncatedDigit(double value) {
    return static_cast<int>(std::fmod(value, 10.0));
}

// Eight characters shared by sign, integer digits, point and fraction digits;
// digits are truncated, never rounded.
void formatFloat(float value, ValueText& out) {
    double v = value;
    if (std::isnan(v)) {
        std::strcpy(out.data(), kNotANumberText);
        return;
    }
    const bool negative = v < 0.0;
    int count = 0;
    if (negative) {
        v = -v;
        count = 1;
    }
    if (v >= (negative ? kFirstHugeNegative : kFirstHugePositive)) {
        std::strcpy(out.data(), kHugeText);
        return;
    }

    // Integer digits, least significant first.
    char integerDigits[kFloatTextBudget];
    int numIntegerDigits = 0;
    count += 2;
    double integ = std::floor(v);
    integerDigits[numIntegerDigits++] = static_cast<char>('0' + truncatedDigit(integ));
    integ /= 10.0;
    while (integ >= 1.0 && count < kFloatTextBudget) {
        integerDigits[numIntegerDigits++] = static_cast<char>('0' + truncatedDigit(integ));
        integ /= 10.0;
        ++count;
    }

    size_t at = 0;
    if (negative) {
        out[at++] = '-';
    }
    while (numIntegerDigits > 0) {
        out[at++] = integerDigits[--numIntegerDigits];
    }
    out[at++] = '.';

    const int numFractionDigits = kFloatTextBudget - count;
    double mantissa = std::fmod(v, 1.0) * std::pow(10.0, numFractionDigits);
    for (int i = numFractionDigits - 1; i >= 0; --i) {
        if (mantissa <= 0.0) {
            out[at + i] = '0';
        } else {
            out[at + i] = static_cast<char>('0' + truncatedDigit(mantissa));
            mantissa /= 10.0;
        }
    }
    at += static_cast<size_t>(std::max(numFractionDigits, 0));
    out[at] = 0;
}

// Decimal digits without leading zeros, "-" for negative values.
void formatInt(int32_t value, ValueText& out) {
    int64_t v = value;
    if (v >= kFirstHugeInt || v <= -kFirstHugeNegativeInt) {
        std::strcpy(out.data(), kHugeText);
        return;
    }
    size_t at = 0;
    if (v < 0) {
        out[at++] = '-';
        v = -v;
    }
    bool started = false;
    for (int64_t divisor = kLargestIntDivisor; divisor >= 1; divisor /= 10) {
        const int64_t digit = v / divisor;
        v -= digit * divisor;
        started = started || digit != 0 || divisor == 1;
        if (started) {
            out[at++] = static_cast<char>('0' + digit);
        }
    }
    out[at] = 0;
}

} // namespace

AudioEffect::AudioEffect(audioMasterCallback hostCallback, int32_t programCount,
                         int32_t parameterCount)
    : audioMaster(hostCallback), numPrograms(programCount), numParams(parameterCount) {
    std::memset(&cEffect, 0, sizeof(cEffect));
    cEffect.flags = effFlagsCanReplacing;
    cEffect.dispatcher = dispatchEffect;
    cEffect.process = processEffect;
    cEffect.setParameter = setEffectParameter;
    cEffect.getParameter = getEffectParameter;
    cEffect.processReplacing = processEffectReplacing;
    cEffect.processDoubleReplacing = processEffectDoubleReplacing;
    cEffect.magic = kEffectMagic;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = kDefaultNumInputs;
    cEffect.numOutputs = kDefaultNumOutputs;
    cEffect.ioRatio = kUnityIoRatio;
    cEffect.object = this;
    cEffect.uniqueID = kDefaultUniqueID;
    cEffect.version = kDefaultVersion;
}

AudioEffect::~AudioEffect() {
    delete editor;
}

void AudioEffect::setEditor(AEffEditor* newEditor) {
    editor = newEditor;
    cEffect.flags |= effFlagsHasEditor;
}

void AudioEffect::setFlag(int32_t flag, bool state) {
    if (state) {
        cEffect.flags |= flag;
    } else {
        cEffect.flags &= ~flag;
    }
}

intptr_t AudioEffect::sendToHost(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                 float opt) {
    if (audioMaster == nullptr) {
        return 0;
    }
    return audioMaster(&cEffect, opcode, index, value, ptr, opt);
}

intptr_t AudioEffect::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                 float opt) {
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        // Only program numbers the effect has: a negative number would index
        // outside any program table of a derived effect.
        if (value >= 0 && value < numPrograms) {
            setProgram(static_cast<int32_t>(value));
        }
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(static_cast<const char*>(ptr));
        return 0;
    case effGetProgramName:
        getProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetParamLabel:
        getParameterLabel(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamDisplay:
        getParameterDisplay(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamName:
        getParameterName(index, static_cast<char*>(ptr));
        return 0;
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<int32_t>(value));
        return 0;
    case effMainsChanged:
        if (value != 0) {
            resume();
        } else {
            suspend();
        }
        return 0;
    case effEditGetRect:
        // The editor writes the rectangle's address through ptr.
        if (editor == nullptr || ptr == nullptr) {
            return 0;
        }
        return editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen:
        if (editor == nullptr) {
            return 0;
        }
        return editor->open(ptr) ? 1 : 0;
    case effEditClose:
        if (editor != nullptr) {
            editor->close();
        }
        return 0;
    case effEditIdle:
        if (editor != nullptr) {
            editor->idle();
        }
        return 0;
    case effIdentify:
        return kIdentifyAnswer;
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        return setChunk(ptr, static_cast<int32_t>(value), index != 0);
    default:
        return 0;
    }
}

void AudioEffect::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    sendToHost(audioMasterAutomate, index, 0, nullptr, value);
}

int32_t AudioEffect::getMasterVersion() {
    const auto version = static_cast<int32_t>(sendToHost(audioMasterVersion));
    return version != 0 ? version : 1;
}

int32_t AudioEffect::getCurrentUniqueId() {
    return static_cast<int32_t>(sendToHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle() {
    sendToHost(audioMasterIdle);
}

bool AudioEffect::isInputConnected(int32_t input) {
    return static_cast<int32_t>(sendToHost(audioMasterPinConnected, input, 0)) == 0;
}

bool AudioEffect::isOutputConnected(int32_t output) {
    return static_cast<int32_t>(sendToHost(audioMasterPinConnected, output, 1)) == 0;
}

void AudioEffect::dB2string(float amplitude, char* text, int32_t maxLen) {
    if (amplitude <= 0.0f) {
        storeText(kMinusInfinityText, text, maxLen);
        return;
    }
    float2string(static_cast<float>(20.0 * std::log10(static_cast<double>(amplitude))), text,
                 maxLen);
}

void AudioEffect::Hz2string(float samples, char* text, int32_t maxLen) {
    const float rate = getSampleRate();
    float2string(samples == 0.0f ? 0.0f : rate / samples, text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, int32_t maxLen) {
    const double rate = getSampleRate();
    float2string(static_cast<float>(static_cast<double>(samples) * 1000.0 / rate), text, maxLen);
}

void AudioEffect::float2string(float value, char* text, int32_t maxLen) {
    ValueText formatted{};
    formatFloat(value, formatted);
    storeText(formatted.data(), text, maxLen);
}

void AudioEffect::int2string(int32_t value, char* text, int32_t maxLen) {
    ValueText formatted{};
    formatInt(value, formatted);
    storeText(formatted.data(), text, maxLen);
}

} // namespace kelvatone::vst
