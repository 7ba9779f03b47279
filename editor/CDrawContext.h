// A drawing context for views: wraps one GDI device context, saves the brush, pen and
// font selected in it, selects pen, brush and font of its own with fixed defaults,
// and on destruction puts the saved objects back, deletes its own and releases the
// device context that it obtained itself.
//
// Thread: the one that builds it (the UI thread); the reference count is not atomic.
#pragma once

#include "editor/ViewFrame.h"
#include "editor/platform/Win32.h"

#include <cstdint>

namespace kelvatone::editor {

// A small reference-counted base: an object starts with one reference and destroys
// itself when the last one is dropped.
class CReferenceCounter {
public:
    CReferenceCounter() = default;
    CReferenceCounter(const CReferenceCounter&) = delete;
    CReferenceCounter& operator=(const CReferenceCounter&) = delete;
    virtual ~CReferenceCounter() = default;

    virtual void dropReference() {
        if (--referenceCount == 0)
            delete this;
    }
    virtual void takeReference() { ++referenceCount; }

    int32_t getReferenceCount() const { return referenceCount; }

private:
    int32_t referenceCount = 1;
};

// A colour as four bytes; GDI sees red, green and blue, never alpha.
struct ColourRgba {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 0;

    COLORREF toColorRef() const {
        return static_cast<COLORREF>(red) | static_cast<COLORREF>(green) << 8 |
               static_cast<COLORREF>(blue) << 16;
    }
    bool operator==(const ColourRgba& other) const {
        return red == other.red && green == other.green && blue == other.blue &&
               alpha == other.alpha;
    }
    bool operator!=(const ColourRgba& other) const { return !(*this == other); }
};

constexpr ColourRgba kWhite{255, 255, 255, 255};
constexpr ColourRgba kBlack{0, 0, 0, 255};

// Font style bits of applyFont.
constexpr int32_t kFontBold = 1;
constexpr int32_t kFontItalic = 2;
constexpr int32_t kFontUnderline = 4;

// The standard fonts, by index.
struct StandardFont {
    const char* face;
    int32_t size;
};
constexpr int32_t kStandardFontCount = 8;
extern const StandardFont standardFonts[kStandardFontCount];

class CDrawContext : public CReferenceCounter {
public:
    // Any argument may be null. Without a device context but with a window the
    // context takes the window's device context and releases it at destruction.
    CDrawContext(ViewFrame* viewFrame, HDC deviceContext, HWND window);
    ~CDrawContext() override;

    // Each changes one attribute; when it changed, the matching GDI object is made
    // and selected. A pen or font that cannot be made leaves the previous object
    // selected and the attribute as it was, so the next request tries again.
    void applyLineColour(ColourRgba colour);
    void applySolidLineStyle();
    void applyUnitLineWidth();
    void applyFillColour(ColourRgba colour);
    void applyFont(int32_t index, int32_t style);

    // The view container the context draws for, or null.
    ViewFrame* getViewFrame() const { return viewFrame; }
    HDC getDeviceContext() const { return deviceContext; }
    CPoint getWindowOrigin() const { return windowOrigin; }
    const CRect& getClipRect() const { return clipRect; }
    ColourRgba getLineColour() const { return lineColour; }
    ColourRgba getFillColour() const { return fillColour; }
    int32_t getLineWidth() const { return lineWidth; }
    int32_t getFontIndex() const { return fontIndex; }
    int32_t getFontSize() const { return fontSize; }
    int32_t getFontStyle() const { return fontStyle; }

private:
    // Makes a pen of penStyle, lineWidth and lineColour and selects it in place of
    // the previous one; false when the pen could not be made.
    bool replacePen();

    CPoint windowOrigin;
    CPoint drawOffset;
    HDC deviceContext;
    HWND window;
    ViewFrame* viewFrame;
    int32_t fontSize = -1;
    int32_t fontStyle = 0;
    int32_t fontIndex = kStandardFontCount;
    ColourRgba fontColour;
    CPoint penPosition;
    int32_t lineWidth = 0;
    ColourRgba lineColour;
    ColourRgba fillColour;
    int32_t lineStyle = 1;
    int32_t drawMode = 3;
    CRect clipRect;
    HBRUSH brush = nullptr;
    HPEN pen = nullptr;
    HFONT font = nullptr;
    HGDIOBJ savedBrush = nullptr;
    HGDIOBJ savedPen = nullptr;
    HGDIOBJ savedFont = nullptr;
    int32_t penStyle = PS_SOLID;
    HDC ownedDeviceContext = nullptr;
};

} // namespace kelvatone::editor
