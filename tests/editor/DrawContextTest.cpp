// The drawing context's GDI bookkeeping: what it selects, what it puts back, what it
// deletes and when, and the reference count.
#include "editor/CDrawContext.h"
#include "tests/editor/EditorTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace kelvatone::editor;
using namespace kelvatone::testsupport;

namespace {

// Whether a GDI handle still names a live object.
bool alive(HGDIOBJ object) {
    return GetObjectA(object, 0, nullptr) != 0;
}

LOGPEN penOf(HGDIOBJ pen) {
    LOGPEN record{};
    GetObjectA(pen, sizeof record, &record);
    return record;
}

LOGFONTA fontOf(HGDIOBJ font) {
    LOGFONTA record{};
    GetObjectA(font, sizeof record, &record);
    return record;
}

// A memory device context with a pen, brush and font of the test's own selected.
class OwnObjectsDc {
public:
    OwnObjectsDc() {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        pen = CreatePen(PS_SOLID, 3, RGB(1, 2, 3));
        LOGBRUSH brushRecord{BS_SOLID, RGB(4, 5, 6), 0};
        brush = CreateBrushIndirect(&brushRecord);
        LOGFONTA fontRecord;
        std::memset(&fontRecord, 0, sizeof fontRecord);
        fontRecord.lfHeight = -10;
        font = CreateFontIndirectA(&fontRecord);
        SelectObject(dc, pen);
        SelectObject(dc, brush);
        SelectObject(dc, font);
    }
    ~OwnObjectsDc() {
        DeleteDC(dc);
        DeleteObject(pen);
        DeleteObject(brush);
        DeleteObject(font);
    }

    HDC dc;
    HPEN pen;
    HBRUSH brush;
    HFONT font;
};

struct Selection {
    HGDIOBJ pen;
    HGDIOBJ brush;
    HGDIOBJ font;
};

Selection selectedIn(HDC dc) {
    return {GetCurrentObject(dc, OBJ_PEN), GetCurrentObject(dc, OBJ_BRUSH),
            GetCurrentObject(dc, OBJ_FONT)};
}

TEST(DrawContext, SelectsItsDefaultsAndPutsTheDeviceContextBack) {
    OwnObjectsDc target;
    Selection own{};
    {
        CDrawContext context(nullptr, target.dc, nullptr);
        EXPECT_EQ(context.getDeviceContext(), target.dc);
        own = selectedIn(target.dc);
        EXPECT_NE(own.pen, target.pen);
        EXPECT_NE(own.brush, target.brush);
        EXPECT_NE(own.font, target.font);

        const LOGPEN pen = penOf(own.pen);
        EXPECT_EQ(pen.lopnStyle, static_cast<UINT>(PS_SOLID));
        EXPECT_EQ(pen.lopnWidth.x, 1);
        EXPECT_EQ(pen.lopnColor, RGB(255, 255, 255));
        LOGBRUSH brush{};
        GetObjectA(own.brush, sizeof brush, &brush);
        EXPECT_EQ(brush.lbStyle, static_cast<UINT>(BS_SOLID));
        EXPECT_EQ(brush.lbColor, RGB(0, 0, 0));
        const LOGFONTA font = fontOf(own.font);
        EXPECT_EQ(font.lfHeight, -12);
        EXPECT_EQ(font.lfWeight, FW_BOLD) << "standard font 0 is always bold";
        EXPECT_STREQ(font.lfFaceName, "Arial");
        EXPECT_EQ(font.lfPitchAndFamily, VARIABLE_PITCH | FF_SWISS);

        EXPECT_EQ(context.getLineWidth(), 1);
        EXPECT_EQ(context.getFontIndex(), 0);
        EXPECT_EQ(context.getFontSize(), 12);
        EXPECT_EQ(context.getClipRect().right, 1000);
        EXPECT_EQ(context.getClipRect().bottom, 1000);
    }
    // The device context has its own objects again, and the context's are gone: had one
    // been deleted while still selected, the deletion would have failed and left it.
    const Selection after = selectedIn(target.dc);
    EXPECT_EQ(after.pen, target.pen);
    EXPECT_EQ(after.brush, target.brush);
    EXPECT_EQ(after.font, target.font);
    EXPECT_FALSE(alive(own.pen));
    EXPECT_FALSE(alive(own.brush));
    EXPECT_FALSE(alive(own.font));
}

TEST(DrawContext, ChangedAttributesReplaceTheirObject) {
    OwnObjectsDc target;
    CDrawContext context(nullptr, target.dc, nullptr);
    const HGDIOBJ firstPen = GetCurrentObject(target.dc, OBJ_PEN);

    context.applyLineColour(kWhite);
    EXPECT_EQ(GetCurrentObject(target.dc, OBJ_PEN), firstPen) << "same colour, same pen";
    const ColourRgba red{255, 0, 0, 255};
    context.applyLineColour(red);
    const HGDIOBJ redPen = GetCurrentObject(target.dc, OBJ_PEN);
    EXPECT_NE(redPen, firstPen);
    EXPECT_FALSE(alive(firstPen));
    EXPECT_EQ(penOf(redPen).lopnColor, RGB(255, 0, 0));
    // Alpha alone makes another colour, though GDI never sees it.
    context.applyLineColour({255, 0, 0, 128});
    EXPECT_NE(GetCurrentObject(target.dc, OBJ_PEN), redPen);
    EXPECT_FALSE(alive(redPen));

    const HGDIOBJ firstBrush = GetCurrentObject(target.dc, OBJ_BRUSH);
    context.applyFillColour(kBlack);
    EXPECT_EQ(GetCurrentObject(target.dc, OBJ_BRUSH), firstBrush);
    context.applyFillColour({0, 0, 255, 255});
    EXPECT_NE(GetCurrentObject(target.dc, OBJ_BRUSH), firstBrush);
    EXPECT_FALSE(alive(firstBrush));

    const HGDIOBJ unitPen = GetCurrentObject(target.dc, OBJ_PEN);
    context.applySolidLineStyle();
    context.applyUnitLineWidth();
    EXPECT_EQ(GetCurrentObject(target.dc, OBJ_PEN), unitPen) << "already solid and 1 wide";
}

TEST(DrawContext, FontIndexOutsideTheTableMeansTheFirstFont) {
    OwnObjectsDc target;
    CDrawContext context(nullptr, target.dc, nullptr);
    const HGDIOBJ first = GetCurrentObject(target.dc, OBJ_FONT);

    for (int32_t index : {9, -1, 0}) {
        context.applyFont(index, 0);
        EXPECT_EQ(GetCurrentObject(target.dc, OBJ_FONT), first) << index;
        EXPECT_EQ(context.getFontIndex(), 0) << index;
    }

    context.applyFont(1, kFontItalic | kFontUnderline);
    const HGDIOBJ second = GetCurrentObject(target.dc, OBJ_FONT);
    EXPECT_NE(second, first);
    EXPECT_FALSE(alive(first));
    const LOGFONTA large = fontOf(second);
    EXPECT_EQ(large.lfHeight, -18);
    EXPECT_EQ(large.lfWeight, FW_NORMAL);
    EXPECT_EQ(large.lfItalic, 1);
    EXPECT_EQ(large.lfUnderline, 1);
    context.applyFont(1, kFontItalic | kFontUnderline);
    EXPECT_EQ(GetCurrentObject(target.dc, OBJ_FONT), second) << "identical request";

    context.applyFont(7, kFontBold);
    const LOGFONTA symbol = fontOf(GetCurrentObject(target.dc, OBJ_FONT));
    EXPECT_STREQ(symbol.lfFaceName, "Symbol");
    EXPECT_EQ(symbol.lfHeight, -13);
    EXPECT_EQ(symbol.lfWeight, FW_BOLD);
    EXPECT_EQ(symbol.lfPitchAndFamily, DEFAULT_PITCH | FF_DECORATIVE);
    EXPECT_EQ(symbol.lfOutPrecision, OUT_STRING_PRECIS);
    EXPECT_EQ(symbol.lfClipPrecision, CLIP_STROKE_PRECIS);
}

TEST(DrawContext, LastDroppedReferenceDestroysIt) {
    OwnObjectsDc target;
    auto* context = new CDrawContext(nullptr, target.dc, nullptr);
    EXPECT_EQ(context->getReferenceCount(), 1);
    context->takeReference();
    EXPECT_EQ(context->getReferenceCount(), 2);
    context->dropReference();
    EXPECT_EQ(context->getReferenceCount(), 1);
    EXPECT_NE(GetCurrentObject(target.dc, OBJ_PEN), target.pen) << "still alive";
    context->dropReference();
    EXPECT_EQ(GetCurrentObject(target.dc, OBJ_PEN), target.pen) << "destroyed: pen put back";
}

TEST(DrawContext, WithoutDeviceContextOrWindowItStillWorks) {
    CDrawContext context(nullptr, nullptr, nullptr);
    EXPECT_EQ(context.getDeviceContext(), nullptr);
    EXPECT_EQ(context.getWindowOrigin().x, 0);
    EXPECT_EQ(context.getLineWidth(), 1);
    EXPECT_EQ(context.getFontSize(), 12);
    context.applyLineColour({1, 2, 3, 255});
    EXPECT_TRUE(context.getLineColour() == (ColourRgba{1, 2, 3, 255}));
}

TEST(DrawContext, ObtainsAndReleasesTheWindowsDeviceContext) {
    if (!windowsAvailable())
        GTEST_SKIP() << "no window system";
    WindowWithChild windows;
    ASSERT_NE(windows.child, nullptr);
    HWND window = windows.child;
    RECT bounds;
    ASSERT_TRUE(GetWindowRect(window, &bounds));
    HDC obtained = nullptr;
    {
        CDrawContext context(nullptr, nullptr, window);
        obtained = context.getDeviceContext();
        ASSERT_NE(obtained, nullptr);
        EXPECT_EQ(context.getWindowOrigin().x, bounds.left);
        EXPECT_EQ(context.getWindowOrigin().y, bounds.top);
        EXPECT_NE(GetCurrentObject(obtained, OBJ_PEN), nullptr);
    }
#ifndef _WIN32
    // Our layer's window device contexts end with ReleaseDC, so a released one is no
    // longer a device context at all, and a second release fails.
    EXPECT_EQ(GetCurrentObject(obtained, OBJ_PEN), nullptr);
    EXPECT_EQ(ReleaseDC(window, obtained), 0);
#endif
    DestroyWindow(window);
}

TEST(DrawContext, FailedPenOrFontLeavesThePreviousOneSelectedAndAlive) {
    OwnObjectsDc target;
    CDrawContext context(nullptr, target.dc, nullptr);
    const HGDIOBJ pen = GetCurrentObject(target.dc, OBJ_PEN);
    const HGDIOBJ font = GetCurrentObject(target.dc, OBJ_FONT);

    // Use up the process's GDI handles so that object creation fails.
    constexpr int kHandleLimit = 100000;
    std::vector<HPEN> hoard;
    for (int i = 0; i < kHandleLimit; ++i) {
        HPEN extra = CreatePen(PS_SOLID, 1, RGB(0, 0, i & 0xFF));
        if (!extra)
            break;
        hoard.push_back(extra);
    }
    const bool exhausted = hoard.size() < static_cast<size_t>(kHandleLimit);
    if (exhausted) {
        context.applyLineColour({9, 9, 9, 255});
        context.applyFont(2, 0);
    }
    for (HPEN extra : hoard)
        DeleteObject(extra);
    if (!exhausted)
        GTEST_SKIP() << "GDI handles did not run out";

    EXPECT_EQ(GetCurrentObject(target.dc, OBJ_PEN), pen);
    EXPECT_TRUE(alive(pen));
    EXPECT_TRUE(context.getLineColour() == kWhite) << "the request is not recorded";
    EXPECT_EQ(GetCurrentObject(target.dc, OBJ_FONT), font);
    EXPECT_TRUE(alive(font));
    EXPECT_EQ(context.getFontIndex(), 0);
    // With handles back, the same requests go through.
    context.applyLineColour({9, 9, 9, 255});
    EXPECT_NE(GetCurrentObject(target.dc, OBJ_PEN), pen);
    EXPECT_FALSE(alive(pen));
    context.applyFont(2, 0);
    EXPECT_EQ(context.getFontIndex(), 2);
}

} // namespace
