#include "plugin/Kelvatone.h"

#include "editor/KelvatoneGui.h"

#include <new>
#include <thread>

Kelvatone::Kelvatone(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kKelvatoneNumPrograms, kNumKelvatoneParameters),
      targetEngineRate(getSampleRate()) {
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(kKelvatoneUniqueID);
    isSynth(false);
    canProcessReplacing(true);
    // The editor attaches itself to this effect (editor pointer and descriptor flag).
    gui = new KelvatoneGui(this, &engine);
    // Nobody else can reach the engine yet, so no guard is needed here.
    engine.configure(targetEngineRate.load(std::memory_order_relaxed));
}

// The engine's arrays go first, then the base deletes the editor.
Kelvatone::~Kelvatone() {
    engine.releaseBuffers();
}

void Kelvatone::setSampleRate(float newRate) {
    AudioEffectX::setSampleRate(newRate);
    const double rate = newRate;
    if (!AnalysisEngine::supportsSampleRate(rate))
        return;
    if (targetEngineRate.exchange(rate, std::memory_order_relaxed) != rate)
        rebuildEngine();
}

void Kelvatone::rebuildEngine() {
    // The audio thread holds the engine only for one process call and the display its
    // drawing guard only while it draws: wait for both here, so that the rebuild and
    // its allocations happen on this thread and never on the audio thread.
    for (;;) {
        engine.guard.lock();
        if (gui->tryExcludeDrawing())
            break;
        engine.guard.unlock();
        std::this_thread::yield();
    }
    engine.configure(targetEngineRate.load(std::memory_order_relaxed));
    gui->allowDrawing();
    engine.guard.unlock();
}

AEffect* createKelvatone(audioMasterCallback audioMaster) {
    if (audioMaster == nullptr)
        return nullptr;
    if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
        return nullptr;
    // The host's process must survive a failed allocation: answer null instead.
    try {
        Kelvatone* effect = new Kelvatone(audioMaster);
        return effect->getAeffect();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
