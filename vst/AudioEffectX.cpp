#include "vst/AudioEffectX.h"

#include "vst/AEffEditor.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace kelvatone::vst {

namespace {

constexpr int32_t kFirstExtendedOpcode = effProcessEvents;
constexpr int32_t kLastExtendedOpcode = effGetNumMidiOutputChannels;
// The basic dispatcher takes everything below the extended range.
static_assert(kFirstExtendedOpcode == effSetChunk + 1);
static_assert(kLastExtendedOpcode - kFirstExtendedOpcode == 54);

constexpr intptr_t kAnswerTrue = 1;
constexpr intptr_t kAnswerFalse = 0;
intptr_t answerOf(bool result) {
    return result ? kAnswerTrue : kAnswerFalse;
}

constexpr size_t kSpeakerNameLength = sizeof(VstSpeakerProperties::name);
constexpr size_t kArrangementHeaderBytes = offsetof(VstSpeakerArrangement, speakers);

// The key records' modifier is the option float truncated toward zero; a value that
// no 32-bit integer holds (or NaN) gives no modifier rather than an undefined result.
uint8_t modifierOf(float opt) {
    constexpr double kLowest = std::numeric_limits<int32_t>::min();
    constexpr double kHighest = std::numeric_limits<int32_t>::max();
    const double option = opt;
    if (!(option >= kLowest && option <= kHighest)) {
        return 0;
    }
    return static_cast<uint8_t>(static_cast<int32_t>(option));
}

VstKeyCode keyCodeOf(int32_t index, intptr_t value, float opt) {
    VstKeyCode key{};
    key.character = index;
    key.virt = static_cast<uint8_t>(value);
    key.modifier = modifierOf(opt);
    return key;
}

} // namespace

intptr_t AudioEffectX::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                  float opt) {
    switch (opcode) {
    case effProcessEvents:
        return processEvents(static_cast<VstEvents*>(ptr));
    case effCanBeAutomated:
        return answerOf(canParameterBeAutomated(index));
    case effString2Parameter:
        return answerOf(string2parameter(index, static_cast<const char*>(ptr)));
    case effGetProgramNameIndexed:
        return answerOf(
            getProgramNameIndexed(static_cast<int32_t>(value), index, static_cast<char*>(ptr)));
    case effGetInputProperties:
        return answerOf(getInputProperties(index, static_cast<VstPinProperties*>(ptr)));
    case effGetOutputProperties:
        return answerOf(getOutputProperties(index, static_cast<VstPinProperties*>(ptr)));
    case effGetPlugCategory:
        return getPlugCategory();
    case effOfflineNotify:
        return answerOf(offlineNotify(static_cast<VstAudioFile*>(ptr), static_cast<int32_t>(value),
                                      index != 0));
    case effOfflinePrepare:
        return answerOf(
            offlinePrepare(static_cast<VstOfflineTask*>(ptr), static_cast<int32_t>(value)));
    case effOfflineRun:
        return answerOf(offlineRun(static_cast<VstOfflineTask*>(ptr), static_cast<int32_t>(value)));
    case effProcessVarIo:
        return answerOf(processVariableIo(static_cast<VstVariableIo*>(ptr)));
    case effSetSpeakerArrangement:
        return answerOf(setSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement*>(value),
                                              static_cast<VstSpeakerArrangement*>(ptr)));
    case effSetBypass:
        return answerOf(setBypass(value != 0));
    case effGetEffectName:
        return answerOf(getEffectName(static_cast<char*>(ptr)));
    case effGetVendorString:
        return answerOf(getVendorString(static_cast<char*>(ptr)));
    case effGetProductString:
        return answerOf(getProductString(static_cast<char*>(ptr)));
    case effGetVendorVersion:
        return getVendorVersion();
    case effVendorSpecific:
        return vendorSpecific(index, value, ptr, opt);
    case effCanDo:
        // Every can-do answer compares the text: no text, no capability.
        if (ptr == nullptr) {
            return 0;
        }
        return canDo(static_cast<const char*>(ptr));
    case effGetTailSize:
        return getGetTailSize();
    case effGetParameterProperties:
        return answerOf(getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)));
    case effGetVstVersion:
        return getVstVersion();
    case effEditKeyDown: {
        if (editor == nullptr) {
            return 0;
        }
        VstKeyCode key = keyCodeOf(index, value, opt);
        return answerOf(editor->onKeyDown(key));
    }
    case effEditKeyUp: {
        if (editor == nullptr) {
            return 0;
        }
        VstKeyCode key = keyCodeOf(index, value, opt);
        return answerOf(editor->onKeyUp(key));
    }
    case effSetEditKnobMode:
        if (editor == nullptr) {
            return 0;
        }
        return answerOf(editor->setKnobMode(static_cast<int32_t>(value)));
    case effGetMidiProgramName:
        return getMidiProgramName(index, static_cast<VstMidiProgramName*>(ptr));
    case effGetCurrentMidiProgram:
        return getCurrentMidiProgram(index, static_cast<VstMidiProgramName*>(ptr));
    case effGetMidiProgramCategory:
        return getMidiProgramCategory(index, static_cast<VstMidiProgramCategory*>(ptr));
    case effHasMidiProgramsChanged:
        return answerOf(hasMidiProgramsChanged(index));
    case effGetMidiKeyName:
        return answerOf(getMidiKeyName(index, static_cast<VstMidiKeyName*>(ptr)));
    case effBeginSetProgram:
        return answerOf(beginSetProgram());
    case effEndSetProgram:
        return answerOf(endSetProgram());
    case effGetSpeakerArrangement:
        return answerOf(getSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement**>(value),
                                              static_cast<VstSpeakerArrangement**>(ptr)));
    case effShellGetNextPlugin:
        return getNextShellPlugin(static_cast<char*>(ptr));
    case effStartProcess:
        return startProcess();
    case effStopProcess:
        return stopProcess();
    case effSetTotalSampleToProcess:
        return setTotalSampleToProcess(static_cast<int32_t>(value));
    case effSetPanLaw:
        return answerOf(setPanLaw(static_cast<int32_t>(value), opt));
    case effBeginLoadBank:
        return beginLoadBank(static_cast<VstPatchChunkInfo*>(ptr));
    case effBeginLoadProgram:
        return beginLoadProgram(static_cast<VstPatchChunkInfo*>(ptr));
    case effSetProcessPrecision:
        return answerOf(setProcessPrecision(static_cast<int32_t>(value)));
    case effGetNumMidiInputChannels:
        return getNumMidiInputChannels();
    case effGetNumMidiOutputChannels:
        return getNumMidiOutputChannels();
    default:
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

void AudioEffectX::resume() {
    if ((cEffect.flags & effFlagsIsSynth) != 0 || canDo(kCanDoReceiveMidiEvent) == 1) {
        wantEvents(1);
    }
}

bool AudioEffectX::getSpeakerArrangement(VstSpeakerArrangement** input,
                                         VstSpeakerArrangement** output) {
    if (input != nullptr) {
        *input = nullptr;
    }
    if (output != nullptr) {
        *output = nullptr;
    }
    return false;
}

int32_t AudioEffectX::getPlugCategory() {
    return (cEffect.flags & effFlagsIsSynth) != 0 ? kPlugCategSynth : kPlugCategUnknown;
}

// Host requests. sendToHost answers 0 without a callback, and every conversion below
// turns 0 into the operation's fallback.

bool AudioEffectX::beginEdit(int32_t index) {
    return sendToHost(audioMasterBeginEdit, index) != 0;
}

bool AudioEffectX::endEdit(int32_t index) {
    return sendToHost(audioMasterEndEdit, index) != 0;
}

bool AudioEffectX::ioChanged() {
    return sendToHost(audioMasterIOChanged) != 0;
}

double AudioEffectX::updateSampleRate() {
    const intptr_t answer = sendToHost(audioMasterGetSampleRate);
    if (answer > 0) {
        sampleRate.store(static_cast<float>(answer), std::memory_order_relaxed);
    }
    return sampleRate.load(std::memory_order_relaxed);
}

int32_t AudioEffectX::updateBlockSize() {
    const auto answer = static_cast<int32_t>(sendToHost(audioMasterGetBlockSize));
    if (answer > 0) {
        blockSize.store(answer, std::memory_order_relaxed);
    }
    return blockSize.load(std::memory_order_relaxed);
}

int32_t AudioEffectX::getInputLatency() {
    return static_cast<int32_t>(sendToHost(audioMasterGetInputLatency));
}

int32_t AudioEffectX::getOutputLatency() {
    return static_cast<int32_t>(sendToHost(audioMasterGetOutputLatency));
}

VstTimeInfo* AudioEffectX::getTimeInfo(int32_t filter) {
    return reinterpret_cast<VstTimeInfo*>(sendToHost(audioMasterGetTime, 0, filter));
}

int32_t AudioEffectX::getCurrentProcessLevel() {
    return static_cast<int32_t>(sendToHost(audioMasterGetCurrentProcessLevel));
}

int32_t AudioEffectX::getAutomationState() {
    return static_cast<int32_t>(sendToHost(audioMasterGetAutomationState));
}

bool AudioEffectX::getHostVendorString(char* text) {
    return sendToHost(audioMasterGetVendorString, 0, 0, text) != 0;
}

bool AudioEffectX::getHostProductString(char* text) {
    return sendToHost(audioMasterGetProductString, 0, 0, text) != 0;
}

int32_t AudioEffectX::getHostVendorVersion() {
    return static_cast<int32_t>(sendToHost(audioMasterGetVendorVersion));
}

intptr_t AudioEffectX::hostVendorSpecific(int32_t arg1, intptr_t arg2, void* ptrArg,
                                          float floatArg) {
    return sendToHost(audioMasterVendorSpecific, arg1, arg2, ptrArg, floatArg);
}

int32_t AudioEffectX::canHostDo(const char* text) {
    return sendToHost(audioMasterCanDo, 0, 0, const_cast<char*>(text)) != 0 ? 1 : 0;
}

int32_t AudioEffectX::getHostLanguage() {
    return static_cast<int32_t>(sendToHost(audioMasterGetLanguage));
}

void* AudioEffectX::getDirectory() {
    return reinterpret_cast<void*>(sendToHost(audioMasterGetDirectory));
}

bool AudioEffectX::updateDisplay() {
    return sendToHost(audioMasterUpdateDisplay) != 0;
}

bool AudioEffectX::sizeWindow(int32_t width, int32_t height) {
    return sendToHost(audioMasterSizeWindow, width, height) != 0;
}

bool AudioEffectX::openFileSelector(VstFileSelect* fileSelect) {
    if (fileSelect == nullptr) {
        return false;
    }
    return sendToHost(audioMasterOpenFileSelector, 0, 0, fileSelect) != 0;
}

bool AudioEffectX::closeFileSelector(VstFileSelect* fileSelect) {
    if (fileSelect == nullptr) {
        return false;
    }
    return sendToHost(audioMasterCloseFileSelector, 0, 0, fileSelect) != 0;
}

bool AudioEffectX::offlineRead(VstOfflineTask* offline, int32_t option, bool readSource) {
    return sendToHost(audioMasterOfflineRead, readSource ? 1 : 0, option, offline) != 0;
}

bool AudioEffectX::offlineWrite(VstOfflineTask* offline, int32_t option) {
    return sendToHost(audioMasterOfflineWrite, 0, option, offline) != 0;
}

bool AudioEffectX::offlineStart(VstAudioFile* audioFiles, int32_t numAudioFiles,
                                int32_t numNewAudioFiles) {
    return sendToHost(audioMasterOfflineStart, numNewAudioFiles, numAudioFiles, audioFiles) != 0;
}

int32_t AudioEffectX::offlineGetCurrentPass() {
    return sendToHost(audioMasterOfflineGetCurrentPass) != 0 ? 1 : 0;
}

int32_t AudioEffectX::offlineGetCurrentMetaPass() {
    return sendToHost(audioMasterOfflineGetCurrentMetaPass) != 0 ? 1 : 0;
}

void AudioEffectX::wantEvents(int32_t filter) {
    sendToHost(audioMasterWantMidi, 0, filter);
}

int32_t AudioEffectX::tempoAt(int32_t samplePosition) {
    return static_cast<int32_t>(sendToHost(audioMasterTempoAt, 0, samplePosition));
}

int32_t AudioEffectX::getNumAutomatableParameters() {
    return static_cast<int32_t>(sendToHost(audioMasterGetNumAutomatableParameters));
}

int32_t AudioEffectX::getParameterQuantization() {
    return static_cast<int32_t>(sendToHost(audioMasterGetParameterQuantization));
}

bool AudioEffectX::needIdle() {
    return sendToHost(audioMasterNeedIdle) != 0;
}

AEffect* AudioEffectX::getPreviousPlug(int32_t /*input*/) {
    return reinterpret_cast<AEffect*>(sendToHost(audioMasterGetPreviousPlug));
}

AEffect* AudioEffectX::getNextPlug(int32_t /*output*/) {
    return reinterpret_cast<AEffect*>(sendToHost(audioMasterGetNextPlug));
}

int32_t AudioEffectX::willProcessReplacing() {
    return static_cast<int32_t>(sendToHost(audioMasterWillReplaceOrAccumulate));
}

void AudioEffectX::setOutputSamplerate(float rate) {
    sendToHost(audioMasterSetOutputSampleRate, 0, 0, nullptr, rate);
}

VstSpeakerArrangement* AudioEffectX::getInputSpeakerArrangement() {
    return reinterpret_cast<VstSpeakerArrangement*>(
        sendToHost(audioMasterGetInputSpeakerArrangement));
}

VstSpeakerArrangement* AudioEffectX::getOutputSpeakerArrangement() {
    return reinterpret_cast<VstSpeakerArrangement*>(
        sendToHost(audioMasterGetOutputSpeakerArrangement));
}

void* AudioEffectX::openWindow(VstWindow* window) {
    return reinterpret_cast<void*>(sendToHost(audioMasterOpenWindow, 0, 0, window));
}

bool AudioEffectX::closeWindow(VstWindow* window) {
    return sendToHost(audioMasterCloseWindow, 0, 0, window) != 0;
}

bool AudioEffectX::getChunkFile(void* nativePath) {
    if (nativePath == nullptr) {
        return false;
    }
    return sendToHost(audioMasterGetChunkFile, 0, 0, nativePath) != 0;
}

// Speaker arrangements: raw blocks of a header and numChannels speaker records,
// allocated with calloc (zero-filled) and freed with free.

bool AudioEffectX::allocateArrangement(VstSpeakerArrangement** arrangement, int32_t numChannels) {
    if (arrangement == nullptr || numChannels < 0) {
        return false;
    }
    // The old block goes first; on failure the caller is left with null, never with
    // the freed block.
    deallocateArrangement(arrangement);
    const size_t bytes =
        kArrangementHeaderBytes + sizeof(VstSpeakerProperties) * static_cast<size_t>(numChannels);
    auto* block = static_cast<VstSpeakerArrangement*>(std::calloc(1, bytes));
    if (block == nullptr) {
        return false;
    }
    block->numChannels = numChannels;
    *arrangement = block;
    return true;
}

bool AudioEffectX::deallocateArrangement(VstSpeakerArrangement** arrangement) {
    if (arrangement == nullptr) {
        return false;
    }
    std::free(*arrangement);
    *arrangement = nullptr;
    return true;
}

bool AudioEffectX::copySpeaker(VstSpeakerProperties* to, const VstSpeakerProperties* from) {
    if (to == nullptr || from == nullptr) {
        return false;
    }
    if (to == from) {
        return true;
    }
    const auto* end = static_cast<const char*>(std::memchr(from->name, 0, kSpeakerNameLength - 1));
    const size_t nameLength =
        end != nullptr ? static_cast<size_t>(end - from->name) : kSpeakerNameLength - 1;
    std::memcpy(to->name, from->name, nameLength);
    std::memset(to->name + nameLength, 0, kSpeakerNameLength - nameLength);
    to->type = from->type;
    to->azimuth = from->azimuth;
    to->elevation = from->elevation;
    to->radius = from->radius;
    to->reserved = from->reserved;
    std::memcpy(to->future, from->future, sizeof(to->future));
    return true;
}

bool AudioEffectX::matchArrangement(VstSpeakerArrangement** to, const VstSpeakerArrangement* from) {
    if (from == nullptr || to == nullptr) {
        return false;
    }
    // Matching an arrangement to itself must not free the source.
    if (*to == from) {
        return true;
    }
    if (!deallocateArrangement(to) || !allocateArrangement(to, from->numChannels)) {
        return false;
    }
    (*to)->type = from->type;
    // The blocks hold numChannels records, however many the declared array has.
    VstSpeakerProperties* target = (*to)->speakers;
    const VstSpeakerProperties* source = from->speakers;
    for (int32_t channel = 0; channel < from->numChannels; ++channel) {
        if (!copySpeaker(target + channel, source + channel)) {
            return false;
        }
    }
    return true;
}

} // namespace kelvatone::vst
