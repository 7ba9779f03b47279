#include "plugin/Kelvatone.h"

#include "analysis/ThreadRole.h"
#include "editor/KelvatoneGui.h"

#include <new>
#include <utility>

using namespace kelvatone::analysis;
using namespace kelvatone::editor;
using namespace kelvatone::vst;

namespace kelvatone::plugin {

Kelvatone::Kelvatone(audioMasterCallback hostCallback)
    : AudioEffectX(hostCallback, kKelvatoneNumPrograms, kNumKelvatoneParameters),
      targetInputRate(getSampleRate()) {
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(kKelvatoneUniqueID);
    isSynth(false);
    canProcessReplacing(true);
    // The editor attaches itself to this effect (editor pointer and descriptor flag).
    gui = new KelvatoneGui(this, &engine);
    // Nobody else can reach the engine yet, so no guard is needed here.
    converter.configure(targetInputRate.load(std::memory_order_relaxed));
    engine.configure(RateConverter::kAnalysisRate);
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
    if (!RateConverter::supportsInputRate(rate))
        return;
    if (targetInputRate.exchange(rate, std::memory_order_relaxed) != rate)
        moveToTargetRate();
}

void Kelvatone::moveToTargetRate() {
    threadrole::assertNotAudioThread("redesigning the rate converter");
    const double rate = targetInputRate.load(std::memory_order_relaxed);
    // The new filter is designed (and allocated) before the audio thread is kept out; if
    // memory runs short, the analysis stays at the previous rate and the next announcement
    // of this rate tries again.
    RateConverter next;
    try {
        next.configure(rate);
    } catch (const std::bad_alloc&) {
        // Another setting thread may be swapping in its own converter: read the rate in
        // force under the guard.
        const GuardHold hold(engine.guard);
        targetInputRate.store(converter.inputRate(), std::memory_order_relaxed);
        return;
    }
    // The audio thread holds the engine only for one process call, and while this thread
    // waits its tries fail: it never waits for this change.
    engine.guard.lock();
    std::swap(converter, next);
    // The samples heard so far came at the old rate: the analysis starts afresh, at the
    // current resolution, which settles any change still waiting. The exchange reads the
    // request of a setter that came before it, and with it that setter's resolution, so
    // the resolution applied here is the newest; a request stored after it stays pending
    // for the audio thread.
    resolutionPending.exchange(false);
    engine.applyResolution();
    engine.guard.unlock();
    gui->pictureChanged();
    // `next` now holds the old filter, freed here on this thread.
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

} // namespace kelvatone::plugin
