// MIDI through effProcessEvents: random lists, note bytes 128..255, SysEx, zero and
// negative counts, note-ons never released on all 16 channels.
#include <climits>

#include "host/HostCallback.h"
#include "host/validate/AudioRig.h"
#include "host/validate/MidiLists.h"
#include "host/validate/Problems.h"
#include "host/validate/RealtimeMonitor.h"
#include "host/validate/Validation.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kMidiBlock = 512;
constexpr int kRandomListBlocks = 200;
constexpr int kSustainBlocks = 90;
constexpr int kChannels = 16;
constexpr int kNotes = 128;
constexpr int32_t kAnnouncedCounts[] = {0, -1, INT32_MIN};
constexpr int kRealEventsBehindCount = 4;

class MidiRun {
public:
    MidiRun(EffectInstance& instance, Validation& validation)
        : instance_(instance), validation_(validation), rig_(instance.effect(), kMidiBlock),
          lists_(validation.random()) {}

    MidiLists& lists() { return lists_; }

    // Delivers `events`, then processes one block of noise and checks its output.
    void deliver(VstEvents* events, const std::string& what) {
        {
            InsideModule inside;
            instance_.dispatch(vst::effProcessEvents, 0, 0, events);
        }
        rig_.fill(Signal::Noise, kMidiBlock, validation_.random());
        rig_.process(instance_.effect(), kMidiBlock);
        std::string problem = rig_.guardDamage(kMidiBlock);
        if (problem.empty()) {
            problem = rig_.nonFiniteOutput(kMidiBlock);
        }
        if (problem.empty() && validation_.passThrough()) {
            problem = rig_.differenceFromInput(kMidiBlock);
        }
        if (!problem.empty()) {
            problems_.add(what + ": " + problem);
        }
    }

    Outcome finish(const std::string& note = {}) {
        instance_.dispatch(vst::effMainsChanged, 0, 0);
        instance_.close();
        return problems_.outcome(note);
    }

private:
    EffectInstance& instance_;
    Validation& validation_;
    AudioRig rig_;
    MidiLists lists_;
    Problems problems_;
};

std::unique_ptr<EffectInstance> runningInstance(Validation& validation, std::string& error) {
    auto instance = validation.instantiate(error);
    if (instance != nullptr) {
        switchOn(*instance, kMidiBlock);
    }
    return instance;
}

Outcome randomLists(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    MidiRun run(*instance, validation);
    const int blocks = validation.scaled(kRandomListBlocks);
    for (int block = 0; block < blocks; ++block) {
        run.deliver(run.lists().next(kMidiBlock), "random list " + std::to_string(block));
    }
    return run.finish("(" + std::to_string(blocks) + " lists)");
}

Outcome sysexAndCounts(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    MidiRun run(*instance, validation);
    run.deliver(run.lists().sysexOnly(), "a SysEx event");
    for (const int32_t count : kAnnouncedCounts) {
        run.deliver(run.lists().withCount(count, kRealEventsBehindCount),
                    "numEvents " + std::to_string(count));
    }
    return run.finish();
}

Outcome notesNeverReleased(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    MidiRun run(*instance, validation);
    for (int channel = 0; channel < kChannels; ++channel) {
        for (int first = 0; first < kNotes; first += kMaxListEvents) {
            run.deliver(run.lists().noteOns(channel, first, kMaxListEvents),
                        "note-ons on channel " + std::to_string(channel + 1));
        }
    }
    for (int block = 0; block < validation.scaled(kSustainBlocks); ++block) {
        run.deliver(run.lists().withCount(0, 0), "held notes");
    }
    return run.finish("(all 128 notes on all 16 channels, never released)");
}

} // namespace

void addMidiTests(std::vector<TestCase>& tests) {
    tests.push_back({"midi.random-lists", randomLists});
    tests.push_back({"midi.sysex-and-counts", sysexAndCounts});
    tests.push_back({"midi.notes-never-released", notesNeverReleased});
}

} // namespace kelvatone::host::validate
