// The host's audio thread: it allocates nothing while it processes, and it pauses at
// every checkpoint, in timeline order, until the UI thread lets it go on.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/ModuleLoader.h"
#include "host/Session.h"
#include "tests/host/TestFiles.h"
#include "tests/host/TestModuleRecording.h"
#include "tests/support/CountingNew.h"

using namespace kelvatone::testsupport;

namespace {

// Counts allocations made by any thread but the test's own while counting is on.
// Written by the test thread, read by every allocating thread.
std::atomic<bool> counting{false};
std::atomic<std::thread::id> testThread{};
// Written by allocating threads, read by the test thread.
std::atomic<int> foreignAllocations{0};

} // namespace

void countAllocation() {
    if (counting.load(std::memory_order_relaxed) &&
        std::this_thread::get_id() != testThread.load(std::memory_order_relaxed)) {
        foreignAllocations.fetch_add(1, std::memory_order_relaxed);
    }
}

namespace kelvatone::host {
namespace {

// Stands in for the editor: notes when it is called and what the module had
// processed by then.
class RecordingUi final : public UiDriver {
public:
    explicit RecordingUi(const testing::TestRecording& recording) : recording_(recording) {}
    void idle() override { ++idles; }
    bool atCheckpoint(const Checkpoint& checkpoint, std::string& error) override {
        framesAtCheckpoint.push_back(recording_.frames);
        order.push_back(checkpoint.path);
        if (checkpoint.path == failAt) {
            error = "stop here";
            return false;
        }
        return true;
    }
    int idles = 0;
    std::vector<int64_t> framesAtCheckpoint;
    std::vector<std::string> order;
    std::string failAt;

private:
    const testing::TestRecording& recording_;
};

struct Loaded {
    std::unique_ptr<ModuleLibrary> library;
    std::unique_ptr<EffectInstance> instance;
    const testing::TestRecording* recording = nullptr;
};

Loaded load() {
    Loaded loaded;
    std::string error;
    loaded.library = ModuleLibrary::open(HOST_TEST_MODULE, error);
    if (loaded.library != nullptr) {
        loaded.instance = EffectInstance::create(*loaded.library, error);
        loaded.recording = reinterpret_cast<testing::RecordingAccessor>(
            loaded.library->symbol(testing::kRecordingAccessorName))();
    }
    EXPECT_NE(loaded.instance, nullptr) << error;
    return loaded;
}

Checkpoint at(double seconds, const char* name) {
    Checkpoint checkpoint;
    checkpoint.seconds = seconds;
    checkpoint.path = name;
    return checkpoint;
}

TEST(AudioThread, ProcessesAndDeliversMidiWithoutAllocating) {
    Loaded loaded = load();
    ASSERT_NE(loaded.instance, nullptr);
    std::vector<io::MidiNoteEvent> notes;
    for (int i = 0; i < 100; ++i) {
        notes.push_back({i * 0.01, static_cast<uint8_t>(i % 2 ? 0x80 : 0x90), 60, 100});
    }
    RunSettings settings;
    settings.blockSize = 64;
    settings.keepOutput = true;
    Session session(*loaded.instance, testing::noise(44100, 2, 44100), settings);
    std::string error;
    ASSERT_TRUE(session.prepare(error)) << error;
    RecordingUi ui(*loaded.recording);
    RunReport report;
    testThread.store(std::this_thread::get_id());
    foreignAllocations.store(0);
    counting.store(true);
    const bool ok = session.process(notes, {at(0.5, "middle")}, &ui, report, error);
    counting.store(false);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(report.midiEvents, 100);
    EXPECT_EQ(foreignAllocations.load(), 0);
}

TEST(AudioThread, PausesAtEachCheckpointInTimelineOrder) {
    Loaded loaded = load();
    ASSERT_NE(loaded.instance, nullptr);
    RunSettings settings;
    settings.blockSize = 100;
    Session session(*loaded.instance, testing::noise(1000, 1, 1000), settings);
    std::string error;
    ASSERT_TRUE(session.prepare(error)) << error;
    RecordingUi ui(*loaded.recording);
    RunReport report;
    // Given out of order; two at the same point keep their order; one past the end
    // and the end itself come last.
    const std::vector<Checkpoint> checkpoints = {at(-1.0, "end"), at(0.25, "quarter"),
                                                 at(0.0, "start"), at(0.25, "quarter-again"),
                                                 at(5.0, "beyond")};
    ASSERT_TRUE(session.process({}, checkpoints, &ui, report, error)) << error;
    EXPECT_EQ(ui.order,
              (std::vector<std::string>{"start", "quarter", "quarter-again", "end", "beyond"}));
    EXPECT_EQ(ui.framesAtCheckpoint, (std::vector<int64_t>{0, 250, 250, 1000, 1000}));
    // The quarter point splits the third block, and the blocks after it start from
    // there: 100, 100, 50, seven of 100, 50.
    EXPECT_EQ(report.blocks, 11);
    EXPECT_EQ(loaded.recording->blockFrames[2], 50);
}

TEST(AudioThread, AFailedCheckpointEndsTheRunThere) {
    Loaded loaded = load();
    ASSERT_NE(loaded.instance, nullptr);
    Session session(*loaded.instance, testing::noise(1000, 1, 1000), RunSettings{});
    std::string error;
    ASSERT_TRUE(session.prepare(error)) << error;
    RecordingUi ui(*loaded.recording);
    ui.failAt = "second";
    RunReport report;
    EXPECT_FALSE(session.process({}, {at(0.2, "first"), at(0.6, "second"), at(0.8, "third")}, &ui,
                                 report, error));
    EXPECT_EQ(error, "stop here");
    EXPECT_EQ(ui.order, (std::vector<std::string>{"first", "second"}));
    // Nothing past the failed point was processed.
    EXPECT_EQ(loaded.recording->frames, 600);
}

} // namespace
} // namespace kelvatone::host
