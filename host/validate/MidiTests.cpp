// MIDI through effProcessEvents: random lists, note bytes 128..255, SysEx, zero and
// negative counts, note-ons never released on all 16 channels.
#include <climits>

#include "host/HostCallback.h"
#include "host/validate/AudioRig.h"
#include "host/validate/MidiLists.h"
#include "host/validate/Problems.h"
#include "host/validate/RealtimeMonitor.h"
#include "host/validate/RunningInstance.h"
#include "host/validate/Validation.h"
#include "vst/MidiBytes.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kMidiBlock = 512;
constexpr int kRandomListBlocks = 200;
constexpr int kSustainBlocks = 90;
constexpr int32_t kAnnouncedCounts[] = {0, -1, INT32_MIN};
constexpr int kRealEventsBehindCount = 4;

class MidiRun {
public:
    MidiRun(RunningInstance& running, Validation& validation)
        : running_(running), validation_(validation), lists_(validation.random()) {}

    MidiLists& lists() { return lists_; }

    // Delivers `events`, then processes one block of noise and checks its output.
    void deliver(VstEvents* events, const std::string& what) {
        {
            InsideModule inside;
            running_.instance().dispatch(vst::effProcessEvents, 0, 0, events);
        }
        const std::string problem =
            running_.processChecked(validation_, Signal::Noise, kMidiBlock, false, true);
        if (!problem.empty()) {
            running_.problems().add(what + ": " + problem);
        }
    }

    Outcome outcome(const std::string& note = {}) { return running_.problems().outcome(note); }

private:
    RunningInstance& running_;
    Validation& validation_;
    MidiLists lists_;
};

Outcome randomLists(Validation& validation, RunningInstance& running) {
    MidiRun run(running, validation);
    const int blocks = validation.scaled(kRandomListBlocks);
    for (int block = 0; block < blocks; ++block) {
        run.deliver(run.lists().next(kMidiBlock), "random list " + std::to_string(block));
    }
    return run.outcome("(" + std::to_string(blocks) + " lists)");
}

Outcome sysexAndCounts(Validation& validation, RunningInstance& running) {
    MidiRun run(running, validation);
    run.deliver(run.lists().sysexOnly(), "a SysEx event");
    for (const int32_t count : kAnnouncedCounts) {
        run.deliver(run.lists().withCount(count, kRealEventsBehindCount),
                    "numEvents " + std::to_string(count));
    }
    return run.outcome();
}

Outcome notesNeverReleased(Validation& validation, RunningInstance& running) {
    MidiRun run(running, validation);
    for (int channel = 0; channel < kMidiChannels; ++channel) {
        for (int first = 0; first < kMidiNotes; first += kMaxListEvents) {
            run.deliver(run.lists().noteOns(channel, first, kMaxListEvents),
                        "note-ons on channel " + std::to_string(channel + 1));
        }
    }
    for (int block = 0; block < validation.scaled(kSustainBlocks); ++block) {
        run.deliver(run.lists().withCount(0, 0), "held notes");
    }
    return run.outcome("(all 128 notes on all 16 channels, never released)");
}

} // namespace

void addMidiTests(std::vector<TestCase>& tests) {
    tests.push_back(runningInstanceTest("midi.random-lists", kMidiBlock, randomLists));
    tests.push_back(runningInstanceTest("midi.sysex-and-counts", kMidiBlock, sysexAndCounts));
    tests.push_back(
        runningInstanceTest("midi.notes-never-released", kMidiBlock, notesNeverReleased));
}

} // namespace kelvatone::host::validate
