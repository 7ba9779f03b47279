// The picture that the display draws: grid, rule, labels, scrolling, held-note bars,
// the trace and the current-note label, read back pixel by pixel.
#include "analysis/NoteNames.h"
#include "tests/editor/EditorTestSupport.h"
#include "tests/editor/PngFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace kelvatone::analysis;
using namespace kelvatone::editor;
using namespace kelvatone::testsupport;

namespace {

constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kLightGrey = 0xC0C0C0;
constexpr uint32_t kGrey = 0x808080;
constexpr uint32_t kYellow = 0xFFFF00;
constexpr uint32_t kWhite = 0xFFFFFF;
// Pen colours of the held-note bars as pixels (red, green, blue).
constexpr uint32_t kMatchBlue = 0x1080FF;
constexpr uint32_t kMismatchBlue = 0x1010FF;

int columnX(int i) {
    return KelvatoneGui::kFirstColumnX + KelvatoneGui::kColumnPitch * i;
}

HeldNoteSet heldMidiNote(int note) {
    HeldNoteSet set;
    set.words[note / 32] |= 1u << (note % 32);
    return set;
}

// The rows whose pixels carry a colour in the columns x0..x1 (inclusive).
std::vector<int> rowsWithColour(const std::vector<uint32_t>& image, int x0, int x1,
                                uint32_t colour) {
    std::vector<int> rows;
    for (int y = 0; y < KelvatoneGui::kHeight; ++y)
        for (int x = x0; x <= x1; ++x)
            if (at(image, x, y) == colour) {
                rows.push_back(y);
                break;
            }
    return rows;
}

// Counts the pixels of one colour inside a rectangle (right and bottom excluded).
int countColour(const std::vector<uint32_t>& image, int left, int top, int right, int bottom,
                uint32_t colour) {
    int count = 0;
    for (int y = std::max(top, 0); y < std::min(bottom, KelvatoneGui::kHeight); ++y)
        for (int x = std::max(left, 0); x < std::min(right, KelvatoneGui::kWidth); ++x)
            if (at(image, x, y) == colour)
                ++count;
    return count;
}

// Text drawn with a font made as the editor makes its label fonts, for comparison
// with the editor's own labels.
std::vector<uint32_t> referenceText(LONG height, LONG weight, int x, int y, const char* text,
                                    COLORREF colour) {
    PixelSurface surface;
    LOGFONTA description;
    std::memset(&description, 0, sizeof description);
    GetObjectA(GetStockObject(ANSI_FIXED_FONT), sizeof description, &description);
    description.lfHeight = height;
    description.lfWidth = 0;
    description.lfWeight = weight;
    HFONT font = CreateFontIndirectA(&description);
    PatBlt(surface.dc(), 0, 0, KelvatoneGui::kWidth, KelvatoneGui::kHeight, BLACKNESS);
    HGDIOBJ previous = SelectObject(surface.dc(), font);
    SetBkMode(surface.dc(), TRANSPARENT);
    SetTextColor(surface.dc(), colour);
    TextOutA(surface.dc(), x, y, text, static_cast<int>(std::strlen(text)));
    SelectObject(surface.dc(), previous);
    DeleteObject(font);
    return surface.pixels();
}

// Whether the pixels of one colour agree between two images inside a rectangle.
bool sameColourMask(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int left,
                    int top, int right, int bottom, uint32_t colour) {
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            if ((at(a, x, y) == colour) != (at(b, x, y) == colour))
                return false;
    return true;
}

class Rendering : public ::testing::Test {
protected:
    void TearDown() override { octaveLabelOffset.store(0); }

    std::vector<uint32_t> render(TestEffect& effect) {
        drawFrame(effect, surface.dc());
        return surface.pixels();
    }

    PixelSurface surface;
};

TEST_F(Rendering, FirstPictureShowsRuleGridAndGreyHold) {
    TestEffect effect;
    const auto image = render(effect);
    EXPECT_EQ(effect.gui().getViewBase(), 3900);

    // Rows of natural notes: E3 340, F3 320, G3 280, A3 240, B3 200, C4 180 (light grey,
    // from x = 17), D4 140, E4 100, F4 80, G4 40, A4 0.
    const std::vector<int> greyRows = {0, 40, 80, 100, 140, 200, 240, 280, 320, 340};
    // The rule runs the full height; the grey lines start on it and cover it.
    for (int y = 0; y < KelvatoneGui::kHeight; ++y) {
        const bool greyRow = std::find(greyRows.begin(), greyRows.end(), y) != greyRows.end();
        ASSERT_EQ(at(image, 19, y), greyRow ? kGrey : kLightGrey) << "rule at y " << y;
        ASSERT_EQ(at(image, 18, y), y == 180 ? kLightGrey : kBlack) << "left of the rule, y " << y;
    }
    EXPECT_EQ(rowsWithColour(image, 100, 100, kGrey), greyRows);
    EXPECT_EQ(rowsWithColour(image, 100, 100, kLightGrey), std::vector<int>{180});
    EXPECT_EQ(at(image, 17, 180), kLightGrey);
    EXPECT_EQ(at(image, 639, 180), kLightGrey);
    EXPECT_EQ(at(image, 17, 200), kBlack);
    EXPECT_EQ(at(image, 18, 200), kBlack);
    EXPECT_EQ(at(image, 20, 200), kGrey);
    EXPECT_EQ(at(image, 639, 200), kGrey);

    // Each label sits with its top 6 pixels above its line, left of the lines; the one of
    // A4 is clipped to its lowest rows.
    const struct {
        int y;
        const char* text;
        COLORREF colour;
    } labels[] = {{340, "E3", 0x808080}, {320, "F3", 0x808080}, {280, "G3", 0x808080},
                  {240, "A3", 0x808080}, {200, "B3", 0x808080}, {180, "C4", 0xC0C0C0},
                  {140, "D4", 0x808080}, {100, "E4", 0x808080}, {80, "F4", 0x808080},
                  {40, "G4", 0x808080},  {0, "A4", 0x808080}};
    for (const auto& label : labels) {
        const auto expected =
            referenceText(-8, FW_NORMAL, 0, label.y - 6, label.text, label.colour);
        const uint32_t colour = pixelOf(label.colour);
        const int top = std::max(label.y - 6, 0);
        // The clipped rows of A4 may hold no glyph pixels at all.
        if (label.y > 0) {
            EXPECT_GT(countColour(image, 0, top, 17, label.y + 2, colour), 0) << label.text;
        }
        EXPECT_TRUE(sameColourMask(image, expected, 0, top, 17, label.y + 2, colour)) << label.text;
    }

    // No bars, no trace, no current-note label; "Hold" in grey.
    EXPECT_EQ(countColour(image, 0, 0, 640, 360, kYellow), 0);
    EXPECT_EQ(countColour(image, 0, 0, 640, 360, kWhite), 0);
    EXPECT_GT(countColour(image, 592, 8, 640, 30, kGrey), 0);
    const auto hold = referenceText(-14, FW_BOLD, 592, 8, "Hold", 0x808080);
    EXPECT_TRUE(sameColourMask(image, hold, 586, 4, 640, 30, kGrey));
}

TEST_F(Rendering, OctaveOffsetLowersEveryGridDigit) {
    octaveLabelOffset.store(-1);
    TestEffect effect;
    const auto image = render(effect);
    for (const auto& [y, text] : {std::pair{180, "C3"}, std::pair{0, "A3"}, std::pair{340, "E2"}}) {
        const COLORREF colour = y == 180 ? 0xC0C0C0 : 0x808080;
        const auto expected = referenceText(-8, FW_NORMAL, 0, y - 6, text, colour);
        EXPECT_TRUE(sameColourMask(image, expected, 0, std::max(y - 6, 0), 17, std::max(y, 2),
                                   pixelOf(colour)))
            << text;
    }
}

// Renders frames with one result each and records where the view went.
struct ScrollStep {
    PitchCents result;
    int32_t viewBase;
    int32_t scrollStep;
};

void expectScrolling(Rendering& fixture, const std::vector<ScrollStep>& steps) {
    TestEffect effect;
    PixelSurface surface;
    for (size_t frame = 0; frame < steps.size(); ++frame) {
        effect.engine.currentPitch.store(steps[frame].result);
        drawFrame(effect, surface.dc());
        EXPECT_EQ(effect.gui().getViewBase(), steps[frame].viewBase) << "frame " << frame;
        EXPECT_EQ(effect.gui().getScrollStep(), steps[frame].scrollStep) << "frame " << frame;
    }
    (void)fixture;
}

TEST_F(Rendering, ViewScrollsWithGrowingSteps) {
    // Below the bottom margin: down by 0, 10, 20, 30, then inside and the step resets.
    expectScrolling(*this, {{3950, 3900, 10},
                            {3950, 3890, 20},
                            {3950, 3870, 30},
                            {3950, 3840, 40},
                            {3950, 3840, 0},
                            {3950, 3840, 0}});
    // Above the top margin: up until 5700 is no longer above 4000 + 1800 - 100.
    expectScrolling(*this, {{5700, 3900, 10},
                            {5700, 3910, 20},
                            {5700, 3930, 30},
                            {5700, 3960, 40},
                            {5700, 4000, 50},
                            {5700, 4000, 0},
                            {5700, 4000, 0}});
}

TEST_F(Rendering, MarginsAndUnvoicedFrames) {
    // Exactly 100 cents above the bottom edge, and exactly 100 below the top edge, stay.
    expectScrolling(*this, {{4000, 3900, 0}, {5600, 3900, 0}});
    // One cent further out scrolls.
    expectScrolling(*this, {{3999, 3900, 10}, {3999, 3890, 20}});
    expectScrolling(*this, {{5601, 3900, 10}, {5601, 3910, 20}});
    // Unvoiced frames keep the step, so scrolling resumes where it was.
    expectScrolling(*this, {{3950, 3900, 10},
                            {3950, 3890, 20},
                            {kNoPitch, 3890, 20},
                            {kNoPitch, 3890, 20},
                            {3950, 3870, 30}});
}

TEST_F(Rendering, TraceJoinsNeighboursUpTo500Cents) {
    TestEffect effect;
    // Isolated pairs: 4500 to 5000 is joined, 4000 to 4501 is not.
    effect.setShownColumn(100, 4500);
    effect.setShownColumn(101, 5000);
    effect.setShownColumn(200, 4000);
    effect.setShownColumn(201, 4501);
    const auto image = render(effect);
    // y(4500) = 240, y(5000) = 140: the line covers 100 rows from x = 220 to 222.
    EXPECT_EQ(at(image, columnX(100), 240), kYellow);
    EXPECT_EQ(countColour(image, 219, 0, 224, 360, kYellow), 100);
    // A voiced column joined to neither neighbour draws nothing.
    EXPECT_EQ(countColour(image, 390, 0, 410, 360, kYellow), 0);
    EXPECT_EQ(countColour(image, 0, 0, 640, 360, kYellow), 100);
}

TEST_F(Rendering, HeldNoteBarsTakeTheirColourFromTheRightColumn) {
    TestEffect effect;
    // MIDI note 57 is NoteNumber 45, A3 at 4500 cents, row y = 240 (a grey grid line).
    const HeldNoteSet a3 = heldMidiNote(57);
    const struct {
        int column;
        PitchCents pitch;
        uint32_t colour;
    } runs[] = {{20, 4549, kMatchBlue},
                {40, 4550, kMismatchBlue},
                {60, 4451, kMatchBlue},
                {80, 4450, kMismatchBlue},
                {100, kNoPitch, kMismatchBlue}};
    for (const auto& run : runs) {
        // The left column has no pitch, so no trace crosses the bar.
        effect.setShownColumn(run.column, kNoPitch, a3);
        effect.setShownColumn(run.column + 1, run.pitch, a3);
    }
    effect.setShownColumn(150, 4500, a3); // held in a single column: no bar
    const auto image = render(effect);
    for (const auto& run : runs) {
        const int x = columnX(run.column) + 1;
        EXPECT_EQ(at(image, x, 241), run.colour) << "pitch " << run.pitch;
        EXPECT_EQ(at(image, x, 238), run.colour) << "pitch " << run.pitch;
        EXPECT_EQ(at(image, x, 242), run.colour) << "pitch " << run.pitch;
        EXPECT_EQ(at(image, x, 237), kBlack) << "5 pixels thick";
        EXPECT_EQ(at(image, x, 243), kBlack) << "5 pixels thick";
        // Over the grey line the bar's colour is ORed into the grey.
        EXPECT_EQ(at(image, x, 240), run.colour | kGrey) << "pitch " << run.pitch;
    }
    EXPECT_EQ(countColour(image, 290, 230, 330, 250, kMatchBlue) +
                  countColour(image, 290, 230, 330, 250, kMismatchBlue),
              0);
}

TEST_F(Rendering, CurrentNoteLabelRoundsToTheNearestSemitone) {
    const struct {
        PitchCents result;
        int32_t offset;
        const char* text;
    } cases[] = {{5749, 0, "A 4"}, {5750, 0, "A#4"}, {1150, 0, "C 1"}, {1149, -1, "B -1"}};
    for (const auto& c : cases) {
        octaveLabelOffset.store(c.offset);
        TestEffect effect;
        effect.engine.currentPitch.store(c.result);
        const auto image = render(effect);
        const auto expected = referenceText(-20, FW_BOLD, 300, 2, c.text, 0xFFFFFF);
        EXPECT_GT(countColour(image, 300, 2, 400, 30, kWhite), 0) << c.text;
        EXPECT_TRUE(sameColourMask(image, expected, 280, 0, 420, 40, kWhite)) << c.text;
    }
    // The comparison tells the labels apart.
    const auto a4 = referenceText(-20, FW_BOLD, 300, 2, "A 4", 0xFFFFFF);
    const auto aSharp4 = referenceText(-20, FW_BOLD, 300, 2, "A#4", 0xFFFFFF);
    EXPECT_FALSE(sameColourMask(a4, aSharp4, 280, 0, 420, 40, kWhite));
}

TEST_F(Rendering, GridLabelBelowOctaveZeroShowsMinusOne) {
    octaveLabelOffset.store(-1);
    TestEffect effect;
    PixelSurface display;
    // Follow a pitch near C1 down until the view stops.
    effect.engine.currentPitch.store(1100);
    for (int frame = 0; frame < 40; ++frame)
        drawFrame(effect, display.dc());
    ASSERT_EQ(effect.gui().getScrollStep(), 0);
    const int32_t base = effect.gui().getViewBase();
    ASSERT_LE(base, 1000);
    const auto image = display.pixels();
    // B0 (1100 cents) is named with octave 0 - 1.
    const int y = 360 - static_cast<int>((1100 - base) * 0.2);
    const auto expected = referenceText(-8, FW_NORMAL, 0, y - 6, "B-1", 0x808080);
    EXPECT_GT(countColour(image, 0, y - 6, 17, y, kGrey), 0);
    EXPECT_TRUE(sameColourMask(image, expected, 0, y - 6, 17, y, kGrey));
}

TEST_F(Rendering, FourteenAndTwentyEightSemitonesLandOnePixelLow) {
    {
        TestEffect effect(14);
        EXPECT_EQ(effect.gui().getViewBase(), 4100);
        const auto image = render(effect);
        // C4, 700 cents above the bottom edge, lies at y = 181 and not 180.
        EXPECT_EQ(at(image, 17, 181), kLightGrey);
        EXPECT_EQ(at(image, 17, 180), kBlack);
        // The top pitch, G4 at 5500, lies on row 1.
        EXPECT_EQ(at(image, 100, 1), kGrey);
        EXPECT_EQ(at(image, 100, 0), kBlack);
    }
    {
        TestEffect effect(28);
        EXPECT_EQ(effect.gui().getViewBase(), 3400);
        const auto image = render(effect);
        // The top pitch, D5 at 6200, lies on row 1.
        EXPECT_EQ(at(image, 100, 1), kGrey);
        EXPECT_EQ(at(image, 100, 0), kBlack);
    }
}

TEST_F(Rendering, RangesOutsideTheParameterDrawAsTheNearestEnd) {
    const auto drawnWith = [this](int32_t range) {
        TestEffect effect;
        effect.engine.displayRange.store(range);
        return render(effect);
    };
    const auto widest = drawnWith(48);
    const auto narrowest = drawnWith(12);
    EXPECT_NE(widest, narrowest);
    EXPECT_EQ(drawnWith(1000000), widest);
    EXPECT_EQ(drawnWith(0), narrowest);
    EXPECT_EQ(drawnWith(-3), narrowest);
}

} // namespace
