// The base effect: embeds the descriptor record that the host sees, keeps the host
// callback and the basic host-visible state, and gives every basic operation its
// neutral default. Concrete effects derive from AudioEffectX (vst/AudioEffectX.h).
//
// Threads: the host calls the descriptor's functions on its own threads. Audio
// processing comes on the audio thread; most dispatcher opcodes on the UI thread;
// effSetSampleRate and effSetBlockSize may come on any thread while the audio
// thread runs, so sampleRate and blockSize are atomics.
#pragma once

#include "vst/AEffect.h"

#include <atomic>
#include <cstdint>

namespace kelvatone::vst {

class AEffEditor;

// The identifier that the record carries until a concrete effect sets its own:
// the characters N, o, E, f.
constexpr int32_t kDefaultUniqueID = 0x4E6F4566;
// The answer to effIdentify: the characters N, v, E, f.
constexpr int32_t kIdentifyAnswer = 0x4E764566;
constexpr float kDefaultSampleRate = 44100.0f;
constexpr int32_t kDefaultBlockSize = 1024;

class AudioEffect {
public:
    // Any thread (the one that calls the module entry).
    AudioEffect(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams);
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    // Deletes the editor. Reached through the descriptor's dispatcher after effClose.
    virtual ~AudioEffect();

    // Opcodes 0..24; every other opcode answers 0. Thread: the host's calling thread.
    virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                float opt);

    // UI thread.
    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}

    // Any thread.
    virtual void setSampleRate(float newRate) {
        sampleRate.store(newRate, std::memory_order_relaxed);
    }
    virtual void setBlockSize(int32_t newSize) {
        blockSize.store(newSize, std::memory_order_relaxed);
    }

    // Audio thread. Every concrete effect supplies processReplacing.
    virtual void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) = 0;
    virtual void processDoubleReplacing(double** /*inputs*/, double** /*outputs*/,
                                        int32_t /*sampleFrames*/) {}

    // Any thread.
    virtual void setParameter(int32_t /*index*/, float /*value*/) {}
    virtual float getParameter(int32_t /*index*/) { return 0.0f; }
    // Sets the parameter through setParameter, then tells the host (audioMasterAutomate).
    virtual void setParameterAutomated(int32_t index, float value);

    // UI thread.
    virtual int32_t getProgram() { return curProgram.load(std::memory_order_relaxed); }
    virtual void setProgram(int32_t program) {
        curProgram.store(program, std::memory_order_relaxed);
    }
    virtual void setProgramName(const char* /*name*/) {}
    virtual void getProgramName(char* name) { *name = 0; }
    virtual void getParameterLabel(int32_t /*index*/, char* label) { *label = 0; }
    virtual void getParameterDisplay(int32_t /*index*/, char* text) { *text = 0; }
    virtual void getParameterName(int32_t /*index*/, char* text) { *text = 0; }
    virtual int32_t getChunk(void** /*data*/, bool /*isPreset*/) { return 0; }
    virtual int32_t setChunk(void* /*data*/, int32_t /*byteSize*/, bool /*isPreset*/) { return 0; }

    // Descriptor setters: called while the effect is being constructed.
    virtual void setUniqueID(int32_t id) { cEffect.uniqueID = id; }
    virtual void setNumInputs(int32_t inputs) { cEffect.numInputs = inputs; }
    virtual void setNumOutputs(int32_t outputs) { cEffect.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state) { setFlag(effFlagsCanReplacing, state); }
    virtual void canDoubleReplacing(bool state) { setFlag(effFlagsCanDoubleReplacing, state); }
    virtual void programsAreChunks(bool state) { setFlag(effFlagsProgramChunks, state); }
    virtual void setInitialDelay(int32_t delay) { cEffect.initialDelay = delay; }

    // Any thread.
    virtual AEffEditor* getEditor() { return editor; }
    virtual AEffect* getAeffect() { return &cEffect; }
    virtual float getSampleRate() { return sampleRate.load(std::memory_order_relaxed); }
    virtual int32_t getBlockSize() { return blockSize.load(std::memory_order_relaxed); }

    // Host requests; any thread.
    virtual int32_t getMasterVersion();
    virtual int32_t getCurrentUniqueId();
    virtual void masterIdle();

    // Value texts: at most maxLen characters and a terminating zero; text needs room
    // for maxLen + 1 bytes. Any thread: no state, reads the sample rate.
    virtual void dB2string(float amplitude, char* text, int32_t maxLen);
    virtual void Hz2string(float samples, char* text, int32_t maxLen);
    virtual void ms2string(float samples, char* text, int32_t maxLen);
    virtual void float2string(float value, char* text, int32_t maxLen);
    virtual void int2string(int32_t value, char* text, int32_t maxLen);

    // Audio thread. The accumulating process writes no output.
    virtual void process(float** /*inputs*/, float** /*outputs*/, int32_t /*sampleFrames*/) {}
    virtual float getVu() { return 0.0f; }

    // Descriptor setters: called while the effect is being constructed.
    virtual void hasVu(bool state) { setFlag(effFlagsHasVu, state); }
    virtual void hasClip(bool state) { setFlag(effFlagsHasClip, state); }
    virtual void canMono(bool state) { setFlag(effFlagsCanMono, state); }
    virtual void setRealtimeQualities(int32_t qualities) { cEffect.realQualities = qualities; }
    virtual void setOfflineQualities(int32_t qualities) { cEffect.offQualities = qualities; }

    // Host requests; any thread.
    virtual bool isInputConnected(int32_t input);
    virtual bool isOutputConnected(int32_t output);

    // Attaches an editor (the effect owns it from now on) and announces it in the
    // descriptor flags. Called by the editor base while the effect is being
    // constructed, before the host sees the descriptor.
    void setEditor(AEffEditor* newEditor);

protected:
    // Sends one request through the host callback; answers 0 when there is none.
    intptr_t sendToHost(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                        float opt = 0.0f);
    // Sets or clears one descriptor flag bit.
    void setFlag(int32_t flag, bool state);

    // Written once by the constructor.
    const audioMasterCallback audioMaster;
    // Set while the effect is being constructed (before the host sees the record),
    // read afterwards on the UI and audio threads; owned, deleted by the destructor.
    AEffEditor* editor = nullptr;
    // Written by setSampleRate / setBlockSize / updateSampleRate / updateBlockSize on
    // whichever thread the host uses, read on any thread: relaxed atomics, so a read
    // never sees a torn value; no other data is published through them.
    std::atomic<float> sampleRate{kDefaultSampleRate};
    std::atomic<int32_t> blockSize{kDefaultBlockSize};
    const int32_t numPrograms;
    const int32_t numParams;
    // Written by effSetProgram, read by effGetProgram; hosts are free to send them
    // on different threads, so it is a relaxed atomic as well.
    std::atomic<int32_t> curProgram{0};
    // The record the host sees. Its fields are written while the effect is being
    // constructed and only read afterwards.
    AEffect cEffect;
};

// The audio thread reads these, so they must never take a lock.
static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<int32_t>::is_always_lock_free);

} // namespace kelvatone::vst
