// The same test picture drawn here and by Windows' GDI under Wine (the committed
// reference): fills and 1-pixel lines must agree exactly; the ends of diagonal
// 5-pixel segments may differ by a bounded count, which is printed; text is not
// compared, its fonts differing between the platforms.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/editor/platform/TestPicture.h"

namespace {

namespace tp = kelvatone::testpicture;

// Differences seen at the ends of the picture's five diagonal 5-pixel segments,
// with room to spare: 8 pixels per segment.
constexpr int kWidePenDifferenceBound = 40;

TEST(PictureComparison, AgreesWithWineGdiOutsideText) {
    std::vector<std::uint32_t> reference;
    ASSERT_TRUE(tp::readPixels(KELVATONE_GDI_REFERENCE, reference)) << KELVATONE_GDI_REFERENCE;
    const tp::Picture actual = tp::render();
    int exactDifferences = 0, widePenDifferences = 0, compared = 0;
    for (int y = 0; y < tp::kHeight; ++y) {
        for (int x = 0; x < tp::kWidth; ++x) {
            if (tp::inside(actual.zones.text, x, y))
                continue;
            ++compared;
            const std::size_t i = static_cast<std::size_t>(y) * tp::kWidth + x;
            if (actual.pixels[i] == reference[i])
                continue;
            if (tp::inside(actual.zones.widePens, x, y))
                ++widePenDifferences;
            else if (++exactDifferences <= 10)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex
                              << actual.pixels[i] << ", GDI drew " << reference[i];
        }
    }
    std::printf("compared %d pixels outside text: %d differ in fills and 1-pixel lines, "
                "%d at 5-pixel pen ends (bound %d)\n",
                compared, exactDifferences, widePenDifferences, kWidePenDifferenceBound);
    EXPECT_EQ(exactDifferences, 0);
    EXPECT_LE(widePenDifferences, kWidePenDifferenceBound);
    if (exactDifferences > 0 || widePenDifferences > kWidePenDifferenceBound)
        tp::writePixels("picture-comparison-actual.rle", actual.pixels);
}

} // namespace
