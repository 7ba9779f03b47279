// The extended base effect: opcodes 25..79, the extended host requests, the MIDI
// request on switch-on, and the speaker-arrangement tools. Concrete effects derive
// from this class and override only what they need.
//
// Threads: as for AudioEffect. Requests to the host run on the thread that calls
// the operation and return when the host callback returns; no lock is taken.
#pragma once

#include "vst/AudioEffect.h"

#include <cstdint>

namespace kelvatone::vst {

// Records that only pass through this layer as pointers between host and effect.
struct VstTimeInfo;
struct VstParameterProperties;
struct VstPinProperties;
struct VstPatchChunkInfo;
struct VstVariableIo;
struct VstMidiProgramName;
struct VstMidiProgramCategory;
struct VstMidiKeyName;
struct VstAudioFile;
struct VstOfflineTask;
struct VstFileSelect;
struct VstWindow;

// The can-do text of an effect that takes MIDI events.
constexpr const char* kCanDoReceiveMidiEvent = "receiveVstMidiEvent";

class AudioEffectX : public AudioEffect {
public:
    AudioEffectX(audioMasterCallback hostCallback, int32_t programCount, int32_t parameterCount)
        : AudioEffect(hostCallback, programCount, parameterCount) {}

    // Opcodes 25..79; everything else goes to AudioEffect's dispatcher.
    intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                        float opt) override;
    // Asks the host for MIDI when the effect is a synth or can receive MIDI events.
    // UI thread (effMainsChanged).
    void resume() override;

    // Parameters; UI thread.
    virtual bool canParameterBeAutomated(int32_t /*index*/) { return true; }
    virtual bool string2parameter(int32_t /*index*/, const char* /*text*/) { return false; }
    virtual bool getParameterProperties(int32_t /*index*/, VstParameterProperties* /*p*/) {
        return false;
    }
    // Host requests around a user's edit of a parameter; UI thread.
    virtual bool beginEdit(int32_t index);
    virtual bool endEdit(int32_t index);

    // Programs; UI thread.
    virtual bool getProgramNameIndexed(int32_t /*category*/, int32_t /*index*/, char* /*text*/) {
        return false;
    }
    virtual bool beginSetProgram() { return false; }
    virtual bool endSetProgram() { return false; }
    virtual int32_t beginLoadBank(VstPatchChunkInfo* /*info*/) { return 0; }
    virtual int32_t beginLoadProgram(VstPatchChunkInfo* /*info*/) { return 0; }

    // Host requests; any thread.
    virtual bool ioChanged();
    // Ask the host and store a positive answer; return the stored value.
    virtual double updateSampleRate();
    virtual int32_t updateBlockSize();
    virtual int32_t getInputLatency();
    virtual int32_t getOutputLatency();

    // Inputs, outputs, arrangement; UI thread.
    virtual bool getInputProperties(int32_t /*index*/, VstPinProperties* /*p*/) { return false; }
    virtual bool getOutputProperties(int32_t /*index*/, VstPinProperties* /*p*/) { return false; }
    virtual bool setSpeakerArrangement(VstSpeakerArrangement* /*input*/,
                                       VstSpeakerArrangement* /*output*/) {
        return false;
    }
    // Stores null through each address that is not null; answers false.
    virtual bool getSpeakerArrangement(VstSpeakerArrangement** input,
                                       VstSpeakerArrangement** output);
    virtual bool setBypass(bool /*onOff*/) { return false; }
    virtual bool setPanLaw(int32_t /*type*/, float /*value*/) { return false; }
    virtual bool setProcessPrecision(int32_t /*precision*/) { return false; }
    virtual int32_t getNumMidiInputChannels() { return 1; }
    virtual int32_t getNumMidiOutputChannels() { return 0; }

    // Host requests; any thread.
    virtual VstTimeInfo* getTimeInfo(int32_t filter);
    virtual int32_t getCurrentProcessLevel();
    virtual int32_t getAutomationState();

    // Audio thread (effProcessEvents).
    virtual int32_t processEvents(VstEvents* /*events*/) { return 0; }

    // Processing control; UI thread.
    virtual int32_t startProcess() { return 0; }
    virtual int32_t stopProcess() { return 0; }
    virtual bool processVariableIo(VstVariableIo* /*varIo*/) { return false; }
    virtual int32_t setTotalSampleToProcess(int32_t value) { return value; }

    // Host requests; any thread.
    virtual bool getHostVendorString(char* text);
    virtual bool getHostProductString(char* text);
    virtual int32_t getHostVendorVersion();
    virtual intptr_t hostVendorSpecific(int32_t arg1, intptr_t arg2, void* ptrArg, float floatArg);
    // 1 when the host answers the can-do text with anything but 0.
    virtual int32_t canHostDo(const char* text);
    virtual int32_t getHostLanguage();

    // Descriptor setters: called while the effect is being constructed.
    virtual void isSynth(bool state) { setFlag(effFlagsIsSynth, state); }
    virtual void noTail(bool state) { setFlag(effFlagsNoSoundInStop, state); }

    // UI thread.
    virtual int32_t getGetTailSize() { return 0; }

    // Host request; any thread.
    virtual void* getDirectory();

    // Identity; UI thread.
    virtual bool getEffectName(char* /*name*/) { return false; }
    virtual bool getVendorString(char* /*text*/) { return false; }
    virtual bool getProductString(char* /*text*/) { return false; }
    virtual int32_t getVendorVersion() { return 0; }
    virtual intptr_t vendorSpecific(int32_t /*index*/, intptr_t /*value*/, void* /*ptr*/,
                                    float /*opt*/) {
        return 0;
    }
    // The effect's own can-do answers (effCanDo); text is never null here.
    virtual int32_t canDo(const char* /*text*/) { return 0; }
    virtual int32_t getVstVersion() { return kVstVersion; }
    // kPlugCategSynth while effFlagsIsSynth is set, else kPlugCategUnknown.
    virtual int32_t getPlugCategory();

    // MIDI programs; UI thread.
    virtual int32_t getMidiProgramName(int32_t /*channel*/, VstMidiProgramName* /*name*/) {
        return 0;
    }
    virtual int32_t getCurrentMidiProgram(int32_t /*channel*/, VstMidiProgramName* /*name*/) {
        return -1;
    }
    virtual int32_t getMidiProgramCategory(int32_t /*channel*/,
                                           VstMidiProgramCategory* /*category*/) {
        return 0;
    }
    virtual bool hasMidiProgramsChanged(int32_t /*channel*/) { return false; }
    virtual bool getMidiKeyName(int32_t /*channel*/, VstMidiKeyName* /*keyName*/) { return false; }

    // Host requests; UI thread.
    virtual bool updateDisplay();
    virtual bool sizeWindow(int32_t width, int32_t height);
    // Answer false without asking the host when the record is null.
    virtual bool openFileSelector(VstFileSelect* fileSelect);
    virtual bool closeFileSelector(VstFileSelect* fileSelect);

    // Shell plug-ins; UI thread.
    virtual int32_t getNextShellPlugin(char* /*name*/) { return 0; }

    // Speaker-arrangement tools; no request is sent. Any thread, but not real-time:
    // they allocate.
    // Replaces *arrangement by a zeroed block for numChannels speakers. False, with
    // *arrangement null, when the block cannot be allocated; false, with nothing
    // changed, for a null address or a negative count.
    virtual bool allocateArrangement(VstSpeakerArrangement** arrangement, int32_t numChannels);
    // Frees *arrangement and sets it to null; false for a null address.
    virtual bool deallocateArrangement(VstSpeakerArrangement** arrangement);
    virtual bool copySpeaker(VstSpeakerProperties* to, const VstSpeakerProperties* from);
    // Makes *to a copy of from (type, channel count, every speaker).
    virtual bool matchArrangement(VstSpeakerArrangement** to, const VstSpeakerArrangement* from);

    // Offline processing; host requests run on the calling thread.
    virtual bool offlineRead(VstOfflineTask* offline, int32_t option, bool readSource = true);
    virtual bool offlineWrite(VstOfflineTask* offline, int32_t option);
    virtual bool offlineStart(VstAudioFile* audioFiles, int32_t numAudioFiles,
                              int32_t numNewAudioFiles);
    virtual int32_t offlineGetCurrentPass();
    virtual int32_t offlineGetCurrentMetaPass();
    virtual bool offlineNotify(VstAudioFile* /*files*/, int32_t /*numAudioFiles*/, bool /*start*/) {
        return false;
    }
    virtual bool offlinePrepare(VstOfflineTask* /*offline*/, int32_t /*count*/) { return false; }
    virtual bool offlineRun(VstOfflineTask* /*offline*/, int32_t /*count*/) { return false; }

    // Deprecated operations, kept for effects written against them.
    // Host requests; any thread.
    virtual void wantEvents(int32_t filter = 1);
    virtual int32_t tempoAt(int32_t samplePosition);
    virtual int32_t getNumAutomatableParameters();
    virtual int32_t getParameterQuantization();
    virtual bool needIdle();
    // The pin number is not passed on: index and value are both 0.
    virtual AEffect* getPreviousPlug(int32_t input);
    virtual AEffect* getNextPlug(int32_t output);
    virtual int32_t willProcessReplacing();
    virtual void setOutputSamplerate(float rate);
    virtual VstSpeakerArrangement* getInputSpeakerArrangement();
    virtual VstSpeakerArrangement* getOutputSpeakerArrangement();
    virtual void* openWindow(VstWindow* window);
    virtual bool closeWindow(VstWindow* window);
    // Any thread: stores both fields.
    virtual void setBlockSizeAndSampleRate(int32_t newBlockSize, float newSampleRate) {
        blockSize.store(newBlockSize, std::memory_order_relaxed);
        sampleRate.store(newSampleRate, std::memory_order_relaxed);
    }
    // Answers false without asking the host when the buffer is null.
    virtual bool getChunkFile(void* nativePath);
    // Descriptor setters: called while the effect is being constructed.
    virtual void wantAsyncOperation(bool state) { setFlag(effFlagsExtIsAsync, state); }
    virtual void hasExternalBuffer(bool state) { setFlag(effFlagsExtHasBuffer, state); }
};

} // namespace kelvatone::vst
