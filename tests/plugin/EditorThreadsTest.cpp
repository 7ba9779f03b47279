// The effect's editor against the host's threads: it shows a picture without audio; every
// snapshot shows one frame while the effect processes; nothing scrolls or draws after close;
// and clicks, paints, opening, closing and effClose never meet freed memory while an audio
// thread processes and automates every parameter. Run under ThreadSanitizer and
// AddressSanitizer in CI.
#include "analysis/NoteNames.h"
#include "tests/editor/EditorTestSupport.h"
#include "tests/support/FakeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

using namespace kelvatone::analysis;
using namespace kelvatone::testsupport;
using namespace kelvatone::editor;
using namespace kelvatone::plugin;
using namespace kelvatone::vst;

namespace {

constexpr int32_t kBlock = 64;
constexpr int kRounds = 20;
constexpr int kClicksPerRound = 10;
constexpr int kBlocksBetweenChanges = 3;
// The lowest pixel of the left rule: light grey in every picture, black before any.
constexpr int kRuleX = 19;
constexpr uint32_t kRuleColour = 0xC0C0C0;

LRESULT send(HWND window, UINT message, int x = 0, int y = 0) {
    return KelvatoneGui::displayWindowProc(window, message, 0, MAKELPARAM(x, y));
}

class EditorThreads : public ::testing::Test {
protected:
    void SetUp() override {
        if (!windowsAvailable())
            GTEST_SKIP() << "no window system";
        ASSERT_NE(host.handle(), nullptr);
    }
    void TearDown() override { octaveLabelOffset.store(0); }

    KelvatoneGui& openEditor(Instance& instance) {
        instance.dispatch(effEditOpen, 0, 0, host.handle());
        return *instance.kelvatone().display();
    }

    HostWindow host;
};

// The picture the open editor shows once the window has drawn what is due.
std::vector<uint32_t> shownPicture(KelvatoneGui& gui) {
    EXPECT_TRUE(waitForPicture(gui));
    return readBitmap(gui.getBackBufferBitmap());
}

TEST_F(EditorThreads, TheEditorShowsItsPictureWithoutAudio) {
    Instance instance;
    KelvatoneGui& gui = openEditor(instance);
    const auto first = shownPicture(gui);
    EXPECT_EQ(at(first, kRuleX, KelvatoneGui::kHeight - 1), kRuleColour) << "not black";

    // Every setting the picture shows is drawn at once, no process call needed.
    instance.setParameter(kDisplayRange, 1.0f);
    const auto widerRange = shownPicture(gui);
    EXPECT_NE(widerRange, first);
    instance.setParameter(kReferencePitch, 0.0f);
    const auto otherNames = shownPicture(gui);
    EXPECT_NE(otherNames, widerRange);

    // A resolution change empties the history: the trace of an analysed tone goes.
    pitchesOfSine(instance, 440.0, 44100.0, 1.0);
    const auto withTrace = shownPicture(gui);
    EXPECT_NE(withTrace, otherNames);
    instance.setParameter(kResolution, 1.0f);
    EXPECT_EQ(instance.kelvatone().engine.historyPitch[0].load(), kNoPitch);
    const auto emptied = shownPicture(gui);
    EXPECT_NE(emptied, withTrace);
    instance.dispatch(effEditClose);
}

// Frames named by the notes held at them: before frame f the audio thread holds MIDI notes
// 0..19 on the bits of f, and note 20 on every named frame, so that a snapshot's column
// tells which frame it shows.
constexpr int kFrameBits = 20;
constexpr uint32_t kFrameMask = (1u << kFrameBits) - 1;
constexpr uint32_t kNamedMark = 1u << kFrameBits;
constexpr int kNamingNotes = kFrameBits + 1;

// The frame a column's notes name, or -1 for a column that holds no named frame.
int frameNamedBy(const HeldNoteSet& notes) {
    return (notes.words[0] & kNamedMark) != 0 ? static_cast<int>(notes.words[0] & kFrameMask) : -1;
}

// Holds the notes that name a frame, through effProcessEvents as a host sends MIDI. The
// audio thread; allocates nothing.
class FrameNames {
public:
    FrameNames() {
        list = reinterpret_cast<VstEvents*>(storage);
        list->numEvents = kNamingNotes;
        for (int note = 0; note < kNamingNotes; ++note) {
            VstMidiEvent& event = events[note];
            event.type = kVstMidiType;
            event.byteSize = sizeof(VstMidiEvent);
            event.midiData[1] = static_cast<char>(note);
            event.midiData[2] = 100;
            list->events[note] = reinterpret_cast<VstEvent*>(&event);
        }
    }
    void name(const Instance& instance, int frame) {
        const uint32_t held = kNamedMark | static_cast<uint32_t>(frame);
        for (int note = 0; note < kNamingNotes; ++note)
            events[note].midiData[0] = static_cast<char>(((held >> note) & 1u) != 0 ? 0x90 : 0x80);
        instance.dispatch(effProcessEvents, 0, 0, list);
    }

private:
    VstMidiEvent events[kNamingNotes] = {};
    alignas(VstEvents) unsigned char storage[sizeof(VstEvents) + kNamingNotes * sizeof(VstEvent*)];
    VstEvents* list = nullptr;
};

// What the audio thread saw after the process call that analysed a frame: the result and
// the view the frame left. It reads its own writes: no other thread scrolls meanwhile.
struct FrameRecord {
    PitchCents result = kNoPitch;
    int32_t viewBase = 0;
};

// Processes a tone that glides up four octaves from 110 Hz every two seconds, so that
// every frame has a pitch of its own and the view keeps scrolling, through the effect's own
// processReplacing on a thread of its own, one block at a time as a host's audio thread
// does; names every frame and records what each left.
class NamedFramesAudio {
public:
    NamedFramesAudio(Instance& driven, int frames)
        : instance(driven), records(static_cast<size_t>(frames)), thread([this] { run(); }) {}
    ~NamedFramesAudio() { stop(); }
    void stop() {
        stopping.store(true);
        if (thread.joinable())
            thread.join();
    }
    // Frames recorded so far; the records below it may be read (acquire).
    int recorded() const { return recordedFrames.load(std::memory_order_acquire); }
    const FrameRecord& record(int frame) const { return records[static_cast<size_t>(frame)]; }
    int capacity() const { return static_cast<int>(records.size()); }
    // Waits until `count` more frames are recorded, or all of them are.
    void waitForFrames(int count) const {
        const int target = std::min(recorded() + count, capacity());
        while (recorded() < target)
            std::this_thread::yield();
    }

private:
    static constexpr double kRate = 44100.0;
    static constexpr double kLowest = 110.0;
    static constexpr double kGlideCents = 4800.0;
    static constexpr long kGlideSamples = 88200;
    // Shorter than the analysis hop (1470 frames), so that a process call analyses at most
    // one frame.
    static constexpr int32_t kFrameBlock = 1024;

    void run() {
        Kelvatone& effect = instance.kelvatone();
        StereoBlock block(kFrameBlock);
        long sample = 0;
        double phase = 0.0;
        int32_t lastColumn = effect.engine.historyIndex.load(std::memory_order_relaxed);
        names.name(instance, 0);
        for (int frame = 0; frame < capacity() && !stopping.load();) {
            for (int i = 0; i < kFrameBlock; ++i, ++sample) {
                const double cents =
                    kGlideCents * static_cast<double>(sample % kGlideSamples) / kGlideSamples;
                phase += 2.0 * 3.141592653589793 * kLowest * std::exp2(cents / 1200.0) / kRate;
                block.left[i] = block.right[i] = static_cast<float>(0.5 * std::sin(phase));
            }
            instance.effect->processReplacing(instance.effect, block.inputs, block.outputs,
                                              kFrameBlock);
            const int32_t column = effect.engine.historyIndex.load(std::memory_order_relaxed);
            if (column == lastColumn)
                continue;
            lastColumn = column;
            records[static_cast<size_t>(frame)] = {
                effect.engine.currentPitch.load(std::memory_order_relaxed),
                effect.display()->getViewBase()};
            recordedFrames.store(++frame, std::memory_order_release);
            names.name(instance, frame);
        }
    }

    Instance& instance;
    FrameNames names;
    // Written by the audio thread below recordedFrames, read by the test below it.
    std::vector<FrameRecord> records;
    std::atomic<int> recordedFrames{0};
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// Whether a snapshot shows the frame its newest column names: that frame's result and
// view, and every older column the pitch of the frame it names, frame after frame.
bool showsOneFrame(const Snapshot& snapshot, int newest, const NamedFramesAudio& audio) {
    if (snapshot.result != audio.record(newest).result ||
        snapshot.viewBase != audio.record(newest).viewBase)
        return false;
    int previous = -1;
    for (int i = 0; i < KelvatoneGui::kShownColumns; ++i) {
        const int frame = frameNamedBy(snapshot.notes[i]);
        if (frame < 0)
            continue;
        if (snapshot.pitch[i] != audio.record(frame).result ||
            (previous >= 0 && frame != previous + 1))
            return false;
        previous = frame;
    }
    return previous == newest;
}

// Frames the snapshot test runs for: a snapshot taken in the moment a frame is published
// outside its bracket is mixed in about one frame of a thousand here. ThreadSanitizer runs
// the test some ten times slower and checks every access besides.
#ifdef __SANITIZE_THREAD__
constexpr int kSnapshotFrames = 2000;
#else
constexpr int kSnapshotFrames = 20000;
#endif

TEST_F(EditorThreads, SnapshotsShowOneFrameWhileTheEffectProcesses) {
    constexpr int kFrames = kSnapshotFrames;
    Instance instance;
    // Low resolution: the shortest analysis, so the most frames in the time.
    instance.setParameter(kResolution, 1.0f);
    KelvatoneGui& gui = openEditor(instance);
    NamedFramesAudio audio(instance, kFrames);
    int checked = 0;
    int mixed = 0;
    while (audio.recorded() < kFrames) {
        const Snapshot snapshot = gui.takeSnapshot();
        const int newest = frameNamedBy(snapshot.notes[KelvatoneGui::kShownColumns - 1]);
        if (newest < 0)
            continue;
        // The audio thread records the frame once its process call returns.
        while (audio.recorded() <= newest)
            std::this_thread::yield();
        if (!showsOneFrame(snapshot, newest, audio))
            ++mixed;
        ++checked;
    }
    audio.stop();
    instance.dispatch(effEditClose);
    EXPECT_GT(checked, 0);
    EXPECT_EQ(mixed, 0) << "of " << checked << " snapshots";
}

TEST_F(EditorThreads, FramesClicksPaintsAndCloseNeverOverlap) {
    constexpr int kClicks = 200;
    constexpr int kReopenings = 5;
    // Frames analysed after close, in which nothing may move or be drawn.
    constexpr int kFramesAfterClose = 200;
    Instance instance;
    KelvatoneGui& gui = openEditor(instance);
    HWND window = gui.getDisplayWindow();
    ASSERT_NE(window, nullptr);
    NamedFramesAudio audio(instance, 100000);
    audio.waitForFrames(1);
    for (int i = 0; i < kClicks; ++i) {
        send(window, WM_LBUTTONDOWN, 600, 10);
        send(window, WM_PAINT);
        send(window, WM_TIMER);
    }
    EXPECT_FALSE(gui.hold.load()) << "an even number of clicks";

    // Once close has returned, the frames move and draw nothing more.
    audio.waitForFrames(10);
    instance.dispatch(effEditClose);
    const auto frozen = readBitmap(gui.getBackBufferBitmap());
    const int32_t base = gui.getViewBase();
    const int32_t step = gui.getScrollStep();
    audio.waitForFrames(kFramesAfterClose);
    send(window, WM_TIMER);
    EXPECT_EQ(readBitmap(gui.getBackBufferBitmap()), frozen);
    EXPECT_EQ(gui.getViewBase(), base);
    EXPECT_EQ(gui.getScrollStep(), step);

    // Opening again while frames flow replaces the back buffer; Hold goes on and off in
    // each opening, so that the frames flow again in the next.
    for (int i = 0; i < kReopenings; ++i) {
        openEditor(instance);
        ASSERT_NE(gui.getDisplayWindow(), nullptr);
        audio.waitForFrames(20);
        send(gui.getDisplayWindow(), WM_LBUTTONDOWN, 600, 10);
        send(gui.getDisplayWindow(), WM_PAINT);
        send(gui.getDisplayWindow(), WM_LBUTTONDOWN, 600, 10);
        instance.dispatch(effEditClose);
    }
    // And without a close in between: the newer window replaces the older one.
    openEditor(instance);
    const HWND older = gui.getDisplayWindow();
    audio.waitForFrames(20);
    openEditor(instance);
    ASSERT_NE(gui.getDisplayWindow(), nullptr);
    EXPECT_NE(gui.getDisplayWindow(), older);
    audio.waitForFrames(20);
    instance.dispatch(effEditClose);
    audio.stop();
    EXPECT_FALSE(gui.hold.load()) << "an even number of clicks";
}

// Processes blocks of a tone on a thread of its own and, between process calls on that
// same thread, changes every parameter in turn, as hosts play automation.
class AutomatedAudio {
public:
    explicit AutomatedAudio(Instance& driven) : instance(driven), thread([this] { run(); }) {}
    ~AutomatedAudio() { stop(); }
    void stop() {
        stopping.store(true);
        if (thread.joinable())
            thread.join();
    }
    long blocks() const { return blockCount.load(); }

private:
    void run() {
        StereoBlock block(kBlock);
        long frame = 0;
        int change = 0;
        while (!stopping.load()) {
            for (int i = 0; i < kBlock; ++i, ++frame)
                block.left[i] = block.right[i] =
                    static_cast<float>(0.5 * std::sin(0.0627 * static_cast<double>(frame)));
            instance.effect->processReplacing(instance.effect, block.inputs, block.outputs, kBlock);
            if (blockCount.fetch_add(1) % kBlocksBetweenChanges == 0) {
                const int32_t index = change % kNumKelvatoneParameters;
                const float value = static_cast<float>(change % 7) / 6.0f;
                instance.effect->setParameter(instance.effect, index, value);
                ++change;
            }
        }
    }

    Instance& instance;
    std::atomic<bool> stopping{false};
    std::atomic<long> blockCount{0};
    std::thread thread;
};

TEST_F(EditorThreads, ClicksPaintsOpenCloseAndEffCloseAgainstAutomatedAudio) {
    auto instance = std::make_unique<Instance>();
    AutomatedAudio audio(*instance);
    for (int round = 0; round < kRounds; ++round) {
        KelvatoneGui& gui = openEditor(*instance);
        const HWND window = gui.getDisplayWindow();
        ASSERT_NE(window, nullptr);
        for (int click = 0; click < kClicksPerRound; ++click) {
            send(window, WM_LBUTTONDOWN, 600, 10);
            send(window, WM_PAINT);
            send(window, WM_TIMER);
        }
        if (round % 2 == 0)
            instance->dispatch(effEditClose);
    }
    audio.stop();
    EXPECT_GT(audio.blocks(), 0);

    // effClose with the editor open, while its window keeps being painted and clicked by
    // other threads: the editor detaches its window before anything is freed.
    KelvatoneGui& gui = openEditor(*instance);
    const HWND window = gui.getDisplayWindow();
    ASSERT_NE(window, nullptr);
    std::atomic<bool> busy{true};
    std::thread painter([&] {
        while (busy.load()) {
            InvalidateRect(window, nullptr, FALSE);
            std::this_thread::yield();
        }
    });
    std::thread clicker([&] {
        while (busy.load()) {
            send(window, WM_LBUTTONDOWN, 600, 10);
            send(window, WM_TIMER);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    instance.reset();
    busy.store(false);
    painter.join();
    clicker.join();
    EXPECT_FALSE(IsWindow(window) && GetWindowLongPtrA(window, GWLP_USERDATA) != 0)
        << "no window still leads to the deleted editor";
}

} // namespace
