// Audio that could leave a module's analysis stuck: denormal, NaN and infinite input,
// and ten minutes each of DC, a full-scale square wave and silence. Every module must
// keep its output finite (bit for bit equal to the input when it passes audio
// through); our own module must also find the pitch of a clean tone again once one
// frame length of it has arrived, which its editor's picture shows.
#include <string>

#include "host/HostCallback.h"
#include "host/validate/AnalysisRun.h"
#include "host/validate/Validation.h"

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kAnalysisBlock = 512;
constexpr int32_t kLongBlock = 4096;
constexpr double kHostileSeconds = 0.5;
constexpr double kLongSignalMinutes = 10.0;
constexpr double kSecondsPerMinute = 60.0;
constexpr Signal kHostileSignals[] = {Signal::Denormal, Signal::Nan, Signal::PositiveInfinity,
                                      Signal::NegativeInfinity};

Outcome hostileInputRecovery(Validation& validation, AnalysisRun& run) {
    // The tone must give a pitch to begin with, or the checks after prove nothing.
    run.expectPitchAfter("a fresh start", kAnalysisBlock);
    const auto hostileFrames = static_cast<int64_t>(validation.factor() * kHostileSeconds *
                                                    static_cast<double>(kDefaultSampleRate));
    for (const Signal signal : kHostileSignals) {
        run.feed(signal, hostileFrames, kAnalysisBlock);
        run.expectPitchAfter(signalName(signal), kAnalysisBlock);
    }
    return run.outcome("denormals, NaN, +infinity, -infinity, each followed by a clean tone");
}

Outcome longSignals(Validation& validation, AnalysisRun& run) {
    const double minutes = kLongSignalMinutes * validation.factor();
    const auto frames =
        static_cast<int64_t>(minutes * kSecondsPerMinute * static_cast<double>(kDefaultSampleRate));
    const std::string length = std::to_string(static_cast<int>(minutes)) + " minutes";
    for (const Waveform waveform : {Waveform::Dc, Waveform::Square, Waveform::Silence}) {
        run.feed(waveform, frames, kLongBlock);
        run.expectPitchAfter(length + " of " + waveformName(waveform), kLongBlock);
    }
    return run.outcome(length + " each of DC, square, silence");
}

} // namespace

void addAnalysisAudioTests(std::vector<TestCase>& tests) {
    tests.push_back(
        analysisRunTest("audio.hostile-input-recovery", kAnalysisBlock, hostileInputRecovery));
    tests.push_back(analysisRunTest("audio.long-signals", kLongBlock, longSignals));
}

} // namespace kelvatone::host::validate
