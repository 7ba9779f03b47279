#include "plugin/Kelvatone.h"

#include "analysis/ThreadRole.h"
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

// The editor goes first: its window's thread may still be painting from the engine's
// history, and deleting the editor detaches the window and waits for that. Then the
// engine's arrays.
Kelvatone::~Kelvatone() {
    delete editor;
    editor = nullptr;
    gui = nullptr;
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
    threadrole::assertNotAudioThread("rebuilding the analysis engine");
    // The audio thread holds the engine only for one process call, and while this thread
    // waits its tries fail: it never waits for this rebuild.
    engine.guard.lock();
    resolutionPending.store(false);
    engine.configure(targetEngineRate.load(std::memory_order_relaxed));
    engine.guard.unlock();
    gui->pictureChanged();
}

void Kelvatone::applyPendingResolution() {
    if (!resolutionPending.exchange(false))
        return;
    engine.applyResolution();
    gui->pictureChanged();
}

void Kelvatone::tryApplyPendingResolution() {
    // The request and the guard are sequentially consistent: a setter that stored the
    // request and finds the guard taken, and the audio thread that released the guard and
    // looks here, cannot both miss the request.
    if (!resolutionPending.load() || !engine.guard.tryLock())
        return;
    applyPendingResolution();
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
