#include "host/validate/AnalysisRun.h"

#include <algorithm>

#include "host/HostCallback.h"
#include "host/validate/KelvatonePicture.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr float kToneFrequency = 440.0f;
constexpr float kToneLevel = 0.5f;
// A 441 Hz square at 44.1 kHz.
constexpr int32_t kSquarePeriod = 100;
// The tone runs one frame and this many hops more; the picture's newest columns then
// hold that many frames analysed from the tone alone.
constexpr int kCleanHops = 3;
// Of the newest columns, at least this many must show the trace (a trace point is
// drawn as a line from the one before, so the newest column itself has none).
constexpr int kLookedAtColumns = kCleanHops + 1;
constexpr int kTracedColumnsNeeded = kCleanHops - 1;
// Silence after a MIDI list, in blocks of kSilenceBlock: enough for kCleanHops analyses.
constexpr int32_t kSilenceBlock = 512;
// Held notes show as bars in the newest columns; released ones leave the newest two
// free (a 5-pixel pen reaches 2 pixels into the next column).
constexpr int kReleasedColumns = 2;

} // namespace

const char* waveformName(Waveform waveform) {
    switch (waveform) {
    case Waveform::Dc:
        return "DC +1";
    case Waveform::Square:
        return "full-scale square";
    case Waveform::Silence:
        return "silence";
    }
    return "?";
}

AnalysisRun::AnalysisRun(Validation& validation, int32_t maxBlock)
    : validation_(validation), rate_(kDefaultSampleRate) {
    instance_ = validation.instantiate(error_);
    if (instance_ == nullptr) {
        return;
    }
    instance_->dispatch(effOpen);
    instance_->dispatch(effSetSampleRate, 0, 0, nullptr, rate_);
    instance_->dispatch(effSetBlockSize, 0, maxBlock);
    instance_->dispatch(effMainsChanged, 0, 1);
    rig_ = std::make_unique<AudioRig>(instance_->effect(), maxBlock);
    if (isKelvatone(instance_->effect())) {
        editor_ = ShownEditor::open(*instance_, pictureNote_, error_);
    } else {
        pictureNote_ = "(analysis not looked at: not our module)";
    }
}

AnalysisRun::~AnalysisRun() {
    if (instance_ != nullptr) {
        editor_.reset();
        instance_->dispatch(effMainsChanged, 0, 0);
        instance_->close();
    }
}

Outcome AnalysisRun::outcome(const std::string& done) const {
    return problems_.outcome("(" + done + (pictureNote_.empty() ? "" : "; " + pictureNote_) + ")");
}

void AnalysisRun::reconfigure(float rate, int32_t maxBlock) {
    rate_ = rate;
    instance_->dispatch(effMainsChanged, 0, 0);
    instance_->context().sampleRate.store(rate, std::memory_order_relaxed);
    instance_->context().blockSize.store(maxBlock, std::memory_order_relaxed);
    instance_->dispatch(effSetSampleRate, 0, 0, nullptr, rate);
    instance_->dispatch(effSetBlockSize, 0, maxBlock);
    instance_->dispatch(effMainsChanged, 0, 1);
}

void AnalysisRun::feed(Signal signal, int64_t frames, int32_t block) {
    feedBlocks(frames, block, isFinite(signal), signalName(signal),
               [&](int32_t count) { rig_->fill(signal, count, validation_.random()); });
}

void AnalysisRun::feed(Waveform waveform, int64_t frames, int32_t block) {
    feedBlocks(frames, block, true, waveformName(waveform), [&](int32_t count) {
        if (waveform == Waveform::Square) {
            rig_->fillSquare(kSquarePeriod, position_, count);
        } else {
            rig_->fill(waveform == Waveform::Dc ? Signal::DcPositive : Signal::Silence, count,
                       validation_.random());
        }
    });
}

void AnalysisRun::expectPitchAfter(const std::string& what, int32_t block) {
    const int64_t frames = framesForCleanAnalyses(rate_, kCleanHops);
    feedBlocks(frames, block, true, "the clean tone", [&](int32_t count) {
        rig_->fillTone(kToneFrequency, rate_, kToneLevel, position_, count);
    });
    PictureFacts facts;
    if (!readShownPicture(what, kLookedAtColumns, facts)) {
        return;
    }
    if (facts.tracedColumns < kTracedColumnsNeeded) {
        problems_.add("after " + what + ", " + std::to_string(frames) +
                      " frames of a 440 Hz tone at " + std::to_string(static_cast<int>(rate_)) +
                      " Hz gave no pitch (trace in " + std::to_string(facts.tracedColumns) +
                      " of the newest " + std::to_string(kLookedAtColumns) + " columns)");
    }
}

void AnalysisRun::deliver(VstEvents* events) {
    instance_->dispatch(effProcessEvents, 0, 0, events);
}

void AnalysisRun::expectNotesHeld(bool held, const std::string& what) {
    const int64_t frames =
        framesForCleanAnalyses(rate_, kCleanHops + 1) - framesForCleanAnalyses(rate_, 0);
    feed(Waveform::Silence, frames, kSilenceBlock);
    PictureFacts facts;
    if (!readShownPicture(what, held ? kLookedAtColumns : kReleasedColumns, facts)) {
        return;
    }
    if (held && facts.barColumns == 0) {
        problems_.add("after " + what + ", no held note shows");
    } else if (!held && facts.barColumns != 0) {
        problems_.add("after " + what + ", notes still show as held");
    }
}

bool AnalysisRun::readShownPicture(const std::string& what, int columns, PictureFacts& facts) {
    if (editor_ == nullptr) {
        return false;
    }
    io::Image image;
    std::string error;
    if (!editor_->picture(image, error)) {
        problems_.add("after " + what + ": " + error);
        return false;
    }
    facts = readPicture(image, columns);
    return true;
}

void AnalysisRun::feedBlocks(int64_t frames, int32_t block, bool finiteInput, const char* what,
                             const std::function<void(int32_t)>& fill) {
    for (int64_t done = 0; done < frames; done += block) {
        const auto count = static_cast<int32_t>(std::min<int64_t>(block, frames - done));
        fill(count);
        rig_->process(instance_->effect(), count);
        position_ += count;
        const std::string problem =
            rig_->outputProblem(count, finiteInput, validation_.passThrough());
        if (!problem.empty()) {
            problems_.add(std::string(what) + " in blocks of " + std::to_string(block) + ": " +
                          problem);
            return;
        }
    }
}

TestCase analysisRunTest(std::string name, int32_t maxBlock, AnalysisRunTest body) {
    return {std::move(name), [maxBlock, body = std::move(body)](Validation& validation) {
                AnalysisRun run(validation, maxBlock);
                if (!run.started()) {
                    return Outcome::fail(run.error());
                }
                return body(validation, run);
            }};
}

} // namespace kelvatone::host::validate
