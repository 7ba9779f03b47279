// Every dispatcher opcode from -1 to 80 and a few far outside, with null and valid
// pointers where the interface lets a host pass either, texts in guarded buffers;
// and the answers the interface fixes, checked for plausibility.
#include <array>
#include <climits>
#include <cstring>

#include "host/GuardedText.h"
#include "host/HostCallback.h"
#include "host/validate/AudioRig.h"
#include "host/validate/OpcodeTable.h"
#include "host/validate/Problems.h"
#include "host/validate/RunningInstance.h"
#include "host/validate/Validation.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr size_t kScratchBytes = 4096;
constexpr int32_t kSweepBlock = 512;
constexpr int32_t kFarOpcodes[] = {1000, INT32_MAX, INT32_MIN};
constexpr int32_t kSpeakerArrangementStereo = 1;
constexpr int32_t kStereoChannels = 2;
constexpr int32_t kRandomSweeps = 4;
constexpr int64_t kRandomValueLimit = 100000;
// Plausible answers.
constexpr intptr_t kIdentifyAnswer = 0x4E764566; // 'NvEf'
constexpr intptr_t kOldestVersionNumber = 2000;
constexpr intptr_t kNewestVersionNumber = 2999;
constexpr intptr_t kHighestCategory = 11;
constexpr intptr_t kMaxMidiChannels = 16;
constexpr int32_t kMaxChannelCount = 1024;
constexpr const char* kCanDoTexts[] = {
    "receiveVstMidiEvent",       "sendVstMidiEvent", "bypass", "receiveVstEvents", "",
    "no such capability, surely"};

struct Arguments {
    int32_t index = 0;
    intptr_t value = 0;
    float opt = 0.0f;
};

// Scalar arguments that keep the effect usable: a real sample rate and block size,
// mains left as they are, the first program.
Arguments sensibleArguments(int32_t opcode, bool running) {
    Arguments arguments;
    if (opcode == effSetSampleRate) {
        arguments.opt = kDefaultSampleRate;
    } else if (opcode == effSetBlockSize) {
        arguments.value = kSweepBlock;
    } else if (opcode == effMainsChanged) {
        arguments.value = running ? 1 : 0;
    }
    return arguments;
}

bool keepsSensibleArguments(int32_t opcode) {
    return opcode == effSetProgram || opcode == effSetSampleRate || opcode == effSetBlockSize ||
           opcode == effMainsChanged;
}

// Sends one opcode with the pointer its use asks for (`withNull`: null where that is
// fair) and notes overrun texts.
void send(EffectInstance& instance, const OpcodeUse& use, Arguments arguments, bool withNull,
          Problems& problems) {
    const int32_t opcode = use.opcode;
    alignas(16) static std::array<unsigned char, kScratchBytes> scratch;
    scratch.fill(0);
    switch (use.use) {
    case PointerUse::Skipped:
        return;
    case PointerUse::None:
        instance.dispatch(opcode, arguments.index, arguments.value,
                          withNull ? nullptr : scratch.data(), arguments.opt);
        return;
    case PointerUse::Scratch:
        instance.dispatch(opcode, arguments.index, 0, scratch.data(), arguments.opt);
        return;
    case PointerUse::Events: {
        VstEvents events{};
        instance.dispatch(opcode, 0, 0, &events);
        return;
    }
    case PointerUse::TextIn: {
        char text[kProgramNameText + 1] = "0.5";
        if (opcode == effSetProgramName) {
            std::strcpy(text, "Validate");
        } else if (opcode == effCanDo) {
            std::strcpy(text, "receiveVstMidiEvent");
        }
        instance.dispatch(opcode, arguments.index, 0, text);
        return;
    }
    case PointerUse::TextOut: {
        GuardedText text(use.textLength);
        instance.dispatch(opcode, arguments.index, 0, text.data());
        // A buffer left untouched is an answer too: the module has no such text.
        if (text.bytesWritten() > 0 && text.overran()) {
            problems.add(text.overrunWarning("opcode " + std::to_string(opcode) + " index " +
                                             std::to_string(arguments.index)));
        }
        return;
    }
    case PointerUse::Speakers: {
        VstSpeakerArrangement input{}, output{};
        input.type = output.type = kSpeakerArrangementStereo;
        input.numChannels = output.numChannels = kStereoChannels;
        instance.dispatch(opcode, 0, reinterpret_cast<intptr_t>(&input), &output);
        return;
    }
    case PointerUse::PointerOut: {
        void* first = nullptr;
        void* second = nullptr;
        instance.dispatch(
            opcode, 0, opcode == effGetSpeakerArrangement ? reinterpret_cast<intptr_t>(&first) : 0,
            &second);
        return;
    }
    }
}

// The index a text opcode is fair to ask with; -1 when the effect has nothing to ask for.
int32_t textIndex(const AEffect* effect, int32_t opcode, Validation& validation) {
    if (opcode == effGetParamLabel || opcode == effGetParamDisplay || opcode == effGetParamName ||
        opcode == effString2Parameter) {
        return effect->numParams > 0
                   ? static_cast<int32_t>(validation.uniform(0, effect->numParams - 1))
                   : -1;
    }
    if (opcode == effGetProgramNameIndexed) {
        return effect->numPrograms > 0
                   ? static_cast<int32_t>(validation.uniform(0, effect->numPrograms - 1))
                   : -1;
    }
    return 0;
}

void sweep(EffectInstance& instance, Validation& validation, bool running, bool withNull,
           bool randomArguments, Problems& problems) {
    for (const OpcodeUse& use : kOpcodeUses) {
        Arguments arguments = sensibleArguments(use.opcode, running);
        if (randomArguments && use.use == PointerUse::None && !keepsSensibleArguments(use.opcode)) {
            arguments.index = static_cast<int32_t>(validation.uniform(-1, kRandomValueLimit));
            arguments.value = validation.uniform(-kRandomValueLimit, kRandomValueLimit);
            arguments.opt = validation.uniformFloat(-1.0f, 1.0f);
        }
        if (use.use == PointerUse::TextOut || use.use == PointerUse::TextIn) {
            arguments.index = textIndex(instance.effect(), use.opcode, validation);
            if (arguments.index < 0) {
                continue;
            }
        }
        send(instance, use, arguments, withNull, problems);
    }
    for (const int32_t opcode : kFarOpcodes) {
        const OpcodeUse use{opcode, PointerUse::None, 0};
        Arguments arguments;
        if (randomArguments) {
            arguments.index = static_cast<int32_t>(validation.uniform(INT32_MIN, INT32_MAX));
            arguments.value = validation.uniform(-kRandomValueLimit, kRandomValueLimit);
        }
        send(instance, use, arguments, withNull, problems);
    }
}

Outcome opcodeSweep(Validation& validation, EffectInstance& instance) {
    Problems problems;
    sweep(instance, validation, false, true, false, problems);
    sweep(instance, validation, false, false, false, problems);
    instance.dispatch(effSetSampleRate, 0, 0, nullptr, kDefaultSampleRate);
    instance.dispatch(effSetBlockSize, 0, kSweepBlock);
    instance.dispatch(effMainsChanged, 0, 1);
    for (int round = 0; round < validation.scaled(kRandomSweeps); ++round) {
        sweep(instance, validation, true, round % 2 == 0, true, problems);
    }
    // Still an effect that processes.
    AudioRig rig(instance.effect(), kSweepBlock);
    rig.fill(Signal::Noise, kSweepBlock, validation.random());
    rig.process(instance.effect(), kSweepBlock);
    if (std::string problem = rig.nonFiniteOutput(kSweepBlock); !problem.empty()) {
        problems.add("after the sweep: " + problem);
    }
    instance.dispatch(effMainsChanged, 0, 0);
    return problems.outcome();
}

void checkRange(Problems& problems, const char* what, intptr_t answer, intptr_t low,
                intptr_t high) {
    if (answer < low || answer > high) {
        problems.add(std::string(what) + " answered " + std::to_string(answer) + ", outside " +
                     std::to_string(low) + ".." + std::to_string(high));
    }
}

void checkDescriptor(const AEffect* effect, Problems& problems) {
    checkRange(problems, "numInputs", effect->numInputs, 0, kMaxChannelCount);
    checkRange(problems, "numOutputs", effect->numOutputs, 0, kMaxChannelCount);
    checkRange(problems, "numParams", effect->numParams, 0, INT32_MAX);
    checkRange(problems, "numPrograms", effect->numPrograms, 0, INT32_MAX);
    checkRange(problems, "initialDelay", effect->initialDelay, 0, INT32_MAX);
    if ((effect->flags & effFlagsCanReplacing) != 0 && effect->processReplacing == nullptr) {
        problems.add("effFlagsCanReplacing is set but processReplacing is null");
    }
    if ((effect->flags & effFlagsCanReplacing) == 0 && effect->process == nullptr) {
        problems.add("neither a replacing nor an accumulating process function");
    }
    if (effect->numParams > 0 &&
        (effect->setParameter == nullptr || effect->getParameter == nullptr)) {
        problems.add("parameters without setParameter/getParameter functions");
    }
}

Outcome fixedAnswers(Validation&, EffectInstance& instance) {
    const AEffect* effect = instance.effect();
    Problems problems;
    checkDescriptor(effect, problems);
    const intptr_t version = instance.dispatch(effGetVstVersion);
    if (version != 0 && version != 1 && version != 2 &&
        (version < kOldestVersionNumber || version > kNewestVersionNumber)) {
        problems.add("effGetVstVersion answered " + std::to_string(version) +
                     ", not a VST version (0, 2, 2100 .. 2400)");
    }
    const intptr_t identify = instance.dispatch(effIdentify);
    if (identify != 0 && identify != kIdentifyAnswer) {
        problems.add("effIdentify answered " + std::to_string(identify) + ", neither 0 nor 'NvEf'");
    }
    checkRange(problems, "effGetPlugCategory", instance.dispatch(effGetPlugCategory), 0,
               kHighestCategory);
    checkRange(problems, "effGetNumMidiInputChannels",
               instance.dispatch(effGetNumMidiInputChannels), 0, kMaxMidiChannels);
    checkRange(problems, "effGetNumMidiOutputChannels",
               instance.dispatch(effGetNumMidiOutputChannels), 0, kMaxMidiChannels);
    checkRange(problems, "effGetTailSize", instance.dispatch(effGetTailSize), 0, INTPTR_MAX);
    checkRange(problems, "effGetProgram", instance.dispatch(effGetProgram), 0,
               std::max<intptr_t>(effect->numPrograms - 1, 0));
    for (int32_t index = 0; index < effect->numParams; ++index) {
        checkRange(problems, "effCanBeAutomated", instance.dispatch(effCanBeAutomated, index), 0,
                   1);
    }
    for (const char* capability : kCanDoTexts) {
        char text[64];
        std::strcpy(text, capability);
        checkRange(problems, ("effCanDo \"" + std::string(capability) + "\"").c_str(),
                   instance.dispatch(effCanDo, 0, 0, text), -1, 1);
    }
    if (effect->numPrograms > 0) {
        instance.dispatch(effSetProgram, 0, 0);
        checkRange(problems, "effGetProgram after effSetProgram 0",
                   instance.dispatch(effGetProgram), 0, 0);
    }
    return problems.outcome();
}

} // namespace

void addOpcodeTests(std::vector<TestCase>& tests) {
    tests.push_back(
        {"opcodes.sweep", [](Validation& v) { return onOpenInstance(v, opcodeSweep); }});
    tests.push_back(
        {"opcodes.fixed-answers", [](Validation& v) { return onOpenInstance(v, fixedAnswers); }});
}

} // namespace kelvatone::host::validate
