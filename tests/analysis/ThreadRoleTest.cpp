// The audio thread's run-time mark, in the builds that have it (debug and sanitizers): an
// operation that must stay off the audio thread stops the program when it runs inside the
// audio callback, also after a nested mark has ended, and goes on anywhere else.
#include "analysis/ThreadRole.h"
#include "analysis/AnalysisEngine.h"
#include "analysis/RealtimeGuard.h"

#include <gtest/gtest.h>

using namespace kelvatone::analysis;

namespace {

constexpr double kRate = 44100.0;

TEST(ThreadRole, ConfiguringTheEngineStopsTheProgramOnTheAudioThreadOnly) {
#if !defined(KELVATONE_THREAD_CHECKS)
    GTEST_SKIP() << "release builds have no run-time mark of the audio thread";
#else
    AnalysisEngine engine;
    const GuardHold ownEngine(engine.guard);
    engine.configure(kRate);
    EXPECT_DEATH(
        {
            const threadrole::AudioCallbackScope audioThread;
            { const threadrole::AudioCallbackScope nested; }
            engine.configure(kRate);
        },
        "configuring the analysis engine on the audio thread");
    engine.configure(kRate);
#endif
}

} // namespace
