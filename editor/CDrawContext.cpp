#include "editor/CDrawContext.h"

#include <cstring>

namespace kelvatone::editor {

const StandardFont standardFonts[kStandardFontCount] = {
    {"Arial", 12}, {"Arial", 18}, {"Arial", 14}, {"Arial", 12},
    {"Arial", 11}, {"Arial", 10}, {"Arial", 9},  {"Symbol", 13},
};

namespace {

constexpr int32_t kSolidLine = 0;
constexpr int32_t kCopyMode = 0;
constexpr int32_t kUnitWidth = 1;
// Without a view frame the context clips to this square.
constexpr CRect kDefaultClip{0, 0, 1000, 1000};
// The standard font that is bold whatever the style, and the one with a symbol face.
constexpr int32_t kBoldFontIndex = 0;
constexpr int32_t kSymbolFontIndex = 7;

} // namespace

CDrawContext::CDrawContext(ViewFrame* frame, HDC context, HWND target)
    : deviceContext(context), window(target), viewFrame(frame) {
    if (viewFrame)
        viewFrame->getViewSize(clipRect);
    else
        clipRect = kDefaultClip;

    if (!deviceContext && window) {
        this->deviceContext = GetDC(window);
        ownedDeviceContext = this->deviceContext;
    }
    if (this->deviceContext) {
        savedBrush = GetCurrentObject(this->deviceContext, OBJ_BRUSH);
        savedPen = GetCurrentObject(this->deviceContext, OBJ_PEN);
        savedFont = GetCurrentObject(this->deviceContext, OBJ_FONT);
        SetBkMode(this->deviceContext, TRANSPARENT);
    }
    penStyle = PS_SOLID;
    if (window) {
        RECT bounds;
        if (GetWindowRect(window, &bounds)) {
            windowOrigin.x = bounds.left;
            windowOrigin.y = bounds.top;
        }
    }

    applyLineColour(kWhite);
    applySolidLineStyle();
    applyUnitLineWidth();
    applyFillColour(kBlack);
    fontColour = kWhite;
    SetTextColor(this->deviceContext, fontColour.toColorRef());
    applyFont(0, 0);
    if (drawMode != kCopyMode) {
        drawMode = kCopyMode;
        SetROP2(this->deviceContext, R2_COPYPEN);
    }
}

CDrawContext::~CDrawContext() {
    // Put the device context's own objects back first, so that none of ours is still
    // selected when it is deleted.
    if (savedBrush)
        SelectObject(deviceContext, savedBrush);
    if (savedPen)
        SelectObject(deviceContext, savedPen);
    if (savedFont)
        SelectObject(deviceContext, savedFont);
    if (brush)
        DeleteObject(brush);
    if (pen)
        DeleteObject(pen);
    if (font)
        DeleteObject(font);
    if (ownedDeviceContext)
        ReleaseDC(window, ownedDeviceContext);
}

bool CDrawContext::replacePen() {
    LOGPEN description;
    description.lopnStyle = static_cast<UINT>(penStyle);
    description.lopnWidth.x = lineWidth;
    description.lopnWidth.y = lineWidth;
    description.lopnColor = lineColour.toColorRef();
    HPEN created = CreatePenIndirect(&description);
    if (!created)
        return false;
    SelectObject(deviceContext, created);
    if (pen)
        DeleteObject(pen);
    pen = created;
    return true;
}

void CDrawContext::applyLineColour(ColourRgba colour) {
    if (colour == lineColour)
        return;
    const ColourRgba previous = lineColour;
    lineColour = colour;
    if (!replacePen())
        lineColour = previous;
}

void CDrawContext::applySolidLineStyle() {
    if (lineStyle == kSolidLine)
        return;
    const int32_t previousLineStyle = lineStyle;
    const int32_t previousPenStyle = penStyle;
    lineStyle = kSolidLine;
    penStyle = PS_SOLID;
    if (!replacePen()) {
        lineStyle = previousLineStyle;
        penStyle = previousPenStyle;
    }
}

void CDrawContext::applyUnitLineWidth() {
    if (lineWidth == kUnitWidth)
        return;
    const int32_t previous = lineWidth;
    lineWidth = kUnitWidth;
    if (!replacePen())
        lineWidth = previous;
}

void CDrawContext::applyFillColour(ColourRgba colour) {
    if (colour == fillColour)
        return;
    fillColour = colour;
    SetBkColor(deviceContext, colour.toColorRef());
    LOGBRUSH description;
    description.lbStyle = BS_SOLID;
    description.lbColor = colour.toColorRef();
    description.lbHatch = 0;
    HBRUSH created = CreateBrushIndirect(&description);
    if (!created) {
        GetLastError();
        return;
    }
    SelectObject(deviceContext, created);
    if (brush)
        DeleteObject(brush);
    brush = created;
}

void CDrawContext::applyFont(int32_t index, int32_t style) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kStandardFontCount))
        index = 0;
    const StandardFont& standard = standardFonts[index];
    if (index == fontIndex && standard.size == fontSize && style == fontStyle)
        return;

    LOGFONTA description;
    std::memset(&description, 0, sizeof description);
    description.lfHeight = -standard.size;
    description.lfWeight = (style & kFontBold) ? FW_BOLD : FW_NORMAL;
    description.lfItalic = (style & kFontItalic) ? 1 : 0;
    description.lfUnderline = (style & kFontUnderline) ? 1 : 0;
    description.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    std::strncpy(description.lfFaceName, standard.face, sizeof description.lfFaceName - 1);
    if (index == kSymbolFontIndex)
        description.lfPitchAndFamily = DEFAULT_PITCH | FF_DECORATIVE;
    if (index == kBoldFontIndex)
        description.lfWeight = FW_BOLD;
    description.lfOutPrecision = OUT_STRING_PRECIS;
    description.lfClipPrecision = CLIP_STROKE_PRECIS;
    description.lfQuality = DEFAULT_QUALITY;
    description.lfCharSet = ANSI_CHARSET;

    HFONT created = CreateFontIndirectA(&description);
    if (!created)
        return;
    fontStyle = style;
    fontIndex = index;
    fontSize = standard.size;
    SelectObject(deviceContext, created);
    if (font)
        DeleteObject(font);
    font = created;
}

} // namespace kelvatone::editor
