#include "plugin/Kelvatone.h"

#include "editor/KelvatoneGui.h"

#include <new>

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
        requestReconfiguration();
}

void Kelvatone::requestReconfiguration() {
    reconfigurationPending.store(true, std::memory_order_relaxed);
    if (engine.guard.tryLock()) {
        applyPendingReconfiguration();
        engine.guard.unlock();
    }
}

void Kelvatone::applyPendingReconfiguration() {
    if (!reconfigurationPending.load(std::memory_order_relaxed))
        return;
    // The display draws from the history that a rebuild replaces: rebuild only when no
    // drawing runs, otherwise on a later try.
    if (!gui->tryExcludeDrawing())
        return;
    reconfigurationPending.store(false, std::memory_order_relaxed);
    engine.configure(targetEngineRate.load(std::memory_order_relaxed));
    gui->allowDrawing();
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
