// The effect's editor against the host's threads: it shows a picture without audio, and
// clicks, paints, opening, closing and effClose never meet freed memory while an audio
// thread processes and automates every parameter. Run under ThreadSanitizer and
// AddressSanitizer in CI.
#include "analysis/NoteNames.h"
#include "tests/editor/EditorTestSupport.h"
#include "tests/support/FakeHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

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
