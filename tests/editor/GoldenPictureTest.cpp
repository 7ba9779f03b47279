// A fixed history and MIDI part drawn into the back buffer and compared pixel for
// pixel with the picture committed for this platform. On a difference the test writes
// the picture it got and a difference picture into its working folder and names them.
// KELVATONE_UPDATE_GOLDEN=1 in the environment writes the committed picture instead.
#include "tests/editor/EditorTestSupport.h"
#include "tests/editor/PngFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace kelvatone::analysis;
using namespace kelvatone::testsupport;
using namespace kelvatone::editor;

namespace {

#ifdef _WIN32
const char kPlatform[] = "windows";
#else
const char kPlatform[] = "linux";
#endif

// Vibrato of the sung line, in cents, one step per frame.
const int kVibrato[] = {0, 8, 15, 20, 15, 8, 0, -8, -15, -20, -15, -8};

// One phrase of the melody: MIDI notes held from frame first to frame last, with the
// sung pitch gliding from glideFrom (cents) to the first note over glideFrames frames.
struct Phrase {
    int first;
    int last;
    int midiNote;
    int otherMidiNote; // a second held note of a chord, or 0
    PitchCents glideFrom;
    int glideFrames;
};

const Phrase kPhrases[] = {
    {0, 59, 60, 0, 4600, 8},     // C4, approached from below
    {60, 109, 64, 0, 4800, 12},  // E4, a slow glide that misses the note at first
    {110, 169, 67, 0, 5200, 6},  // G4, with a breath in the middle
    {190, 239, 65, 0, 5300, 0},  // F4 after a rest
    {240, 309, 57, 64, 5300, 0}, // A3 over a held E4: a jump of 800 cents breaks the trace
};
constexpr int kBreathFirst = 140;
constexpr int kBreathLast = 141;

void addNote(HeldNoteSet& notes, int midiNote) {
    notes.words[midiNote / 32] |= 1u << (midiNote % 32);
}

void fillHistory(TestEffect& effect) {
    effect.clearHistory();
    for (const Phrase& phrase : kPhrases) {
        HeldNoteSet notes;
        addNote(notes, phrase.midiNote);
        if (phrase.otherMidiNote)
            addNote(notes, phrase.otherMidiNote);
        const PitchCents target = (phrase.midiNote - 12) * 100;
        for (int i = phrase.first; i <= phrase.last; ++i) {
            const int into = i - phrase.first;
            PitchCents pitch = target + kVibrato[i % 12];
            if (into < phrase.glideFrames)
                pitch = phrase.glideFrom + (target - phrase.glideFrom) * into / phrase.glideFrames;
            if (i >= kBreathFirst && i <= kBreathLast)
                pitch = kNoPitch;
            effect.setShownColumn(i, pitch, notes);
        }
    }
    // Inside the view's margins, so the view stays where it starts.
    effect.engine.currentPitch.store(4508);
}

std::vector<uint32_t> differencePicture(const std::vector<uint32_t>& actual,
                                        const std::vector<uint32_t>& expected, int& differing) {
    std::vector<uint32_t> difference(actual.size());
    differing = 0;
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] == expected[i]) {
            // Equal pixels, dimmed, for orientation.
            difference[i] = (actual[i] >> 2) & 0x3F3F3F;
        } else {
            difference[i] = 0xFF00FF;
            ++differing;
        }
    }
    return difference;
}

TEST(GoldenPicture, FixedHistoryMatchesTheCommittedPicture) {
    if (!windowsAvailable())
        GTEST_SKIP() << "no window system";
    OpenEditor shown;
    ASSERT_NE(shown.window(), nullptr);
    TestEffect& effect = shown.effect;
    KelvatoneGui& gui = shown.gui();
    fillHistory(effect);
    gui.pictureChanged();
    ASSERT_TRUE(waitForPicture(gui));
    const auto actual = readBitmap(gui.getBackBufferBitmap());
    gui.close();

    const std::string golden = std::string(KELVATONE_GOLDEN_DIR) + "/display-" + kPlatform + ".png";
    if (std::getenv("KELVATONE_UPDATE_GOLDEN")) {
        ASSERT_TRUE(writePicturePng(golden, actual)) << golden;
        GTEST_SKIP() << "wrote " << golden;
    }
    std::vector<uint32_t> expected;
    ASSERT_TRUE(readPicturePng(golden, expected)) << "cannot read " << golden;
    int differing = 0;
    const auto difference = differencePicture(actual, expected, differing);
    if (differing == 0)
        return;
    const std::string actualPath = std::string("golden-actual-") + kPlatform + ".png";
    const std::string differencePath = std::string("golden-difference-") + kPlatform + ".png";
    writePicturePng(actualPath, actual);
    writePicturePng(differencePath, difference);
    ADD_FAILURE() << differing << " pixels differ from " << golden << "; wrote " << actualPath
                  << " and " << differencePath << " (differing pixels in magenta)";
}

} // namespace
