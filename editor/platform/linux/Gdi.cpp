// GDI32 of our Linux layer: device contexts, pens, brushes, fonts and bitmaps
// behind a table of handles, drawing through the software raster.
//
// Handles index a fixed table of slots; a slot keeps a generation number that is
// part of the handle, so a stale or made-up handle is refused instead of reaching
// freed memory. Looking a handle up takes no lock and allocates nothing, so the
// drawing calls may be made from the audio thread; creating and deleting objects
// locks the table.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "editor/platform/linux/FixedFonts.h"
#include "editor/platform/linux/Raster.h"
#include "editor/platform/linux/Win32Layer.h"
#include "editor/platform/linux/WindowBridge.h"

namespace kelvatone::platform {
namespace {

// The window part's services, installed once it registers a window class. Written by
// installWindowServices (any thread), read by the calls on window device contexts.
std::atomic<const WindowServices*> windowServices{nullptr};

bool windowClientSize(HWND window, int& width, int& height) {
    const WindowServices* services = windowServices.load(std::memory_order_acquire);
    return services && services->clientSize(window, width, height);
}

bool presentToWindow(HWND window, int x, int y, int width, int height,
                     const raster::Surface& source, int sourceX, int sourceY) {
    const WindowServices* services = windowServices.load(std::memory_order_acquire);
    return services && services->present(window, x, y, width, height, source, sourceX, sourceY);
}

enum class Kind : std::uint8_t { pen, brush, font, bitmap, dc };

struct GdiObject {
    explicit GdiObject(Kind k) : kind(k) {}
    virtual ~GdiObject() = default;
    const Kind kind;
    bool stock = false;
    HGDIOBJ handle = nullptr;
    // Device contexts this object is selected into. Written by SelectObject and
    // the release of a device context (the drawing thread), read by DeleteObject.
    std::atomic<int> selections{0};
};

struct Pen : GdiObject {
    Pen(UINT s, int w, COLORREF c, bool followsDc)
        : GdiObject(Kind::pen), style(s), width(w), colour(c), followsDcColour(followsDc) {}
    UINT style;
    int width;
    COLORREF colour;
    bool followsDcColour; // the stock DC_PEN: drawn in the device context's pen colour
};

struct Brush : GdiObject {
    Brush(UINT s, COLORREF c, bool followsDc)
        : GdiObject(Kind::brush), style(s), colour(c), followsDcColour(followsDc) {}
    UINT style;
    COLORREF colour;
    bool followsDcColour; // the stock DC_BRUSH
};

struct Font : GdiObject {
    Font(const LOGFONTA& r, const fonts::FixedFace& f)
        : GdiObject(Kind::font), record(r), face(f) {}
    LOGFONTA record;
    const fonts::FixedFace& face;
};

struct Bitmap : GdiObject {
    Bitmap(int w, int h, std::unique_ptr<std::uint32_t[]> p,
           std::unique_ptr<raster::RowExtent[]> r = nullptr)
        : GdiObject(Kind::bitmap), width(w), height(h), pixels(std::move(p)), rows(std::move(r)) {}
    raster::Surface surface() const { return {width, height, pixels.get(), rows.get()}; }
    int width;
    int height;
    std::unique_ptr<std::uint32_t[]> pixels;
    // What the raster knows of each row, so that clearing a picture touches only the
    // pixels that were drawn; written by whichever thread draws into the bitmap.
    std::unique_ptr<raster::RowExtent[]> rows;
};

enum class DcType : std::uint8_t { memory, window, paint };

struct DeviceContext : GdiObject {
    DeviceContext(DcType t, HWND w) : GdiObject(Kind::dc), type(t), window(w) {}
    DcType type;
    HWND window;              // window and paint contexts: their window (null for the screen)
    Bitmap* bitmap = nullptr; // memory contexts only
    Pen* pen = nullptr;
    Brush* brush = nullptr;
    Font* font = nullptr;
    POINT current{0, 0};
    COLORREF dcPenColour = RGB(0, 0, 0);
    COLORREF dcBrushColour = RGB(255, 255, 255);
    COLORREF textColour = RGB(0, 0, 0);
    COLORREF bkColour = RGB(255, 255, 255);
    int bkMode = OPAQUE;
    int rop2 = R2_COPYPEN;
};

constexpr std::size_t kHandleSlots = 4096;
// Sets GDI handles apart from window handles and from small integers: bit 61 of a 64-bit
// handle, bit 31 of a 32-bit one (WebAssembly).
constexpr std::uintptr_t kGdiHandleTag = std::uintptr_t{1}
                                         << (sizeof(std::uintptr_t) == 8 ? 61 : 31);
constexpr int kGenerationShift = 16;
constexpr std::uintptr_t kIndexMask = 0xFFFF;
// Generations wrap within the bits between the slot index and the tag: 32 bits of a 64-bit
// handle, 15 of a 32-bit one.
constexpr std::uint32_t kGenerationMask =
    sizeof(std::uintptr_t) == 8
        ? 0xFFFFFFFFu
        : static_cast<std::uint32_t>((kGdiHandleTag >> kGenerationShift) - 1);
static_assert(kHandleSlots <= kIndexMask, "slot index fits below the generation");
// Bitmaps larger than this are refused rather than allocated.
constexpr std::int64_t kMaxBitmapPixels = std::int64_t{1} << 26;
constexpr int kDefaultFontHeight = 13;
constexpr int kFirstRop2 = 1, kLastRop2 = 16;

struct HandleSlot {
    std::atomic<GdiObject*> object{nullptr};  // written under tableMutex, read anywhere
    std::atomic<std::uint32_t> generation{0}; // written under tableMutex, read anywhere
};

HandleSlot slots[kHandleSlots];
std::mutex tableMutex;

HGDIOBJ insertObject(GdiObject* object) {
    std::lock_guard<std::mutex> lock(tableMutex);
    for (std::size_t i = 1; i < kHandleSlots; ++i) {
        if (slots[i].object.load(std::memory_order_relaxed))
            continue;
        const std::uint32_t generation =
            (slots[i].generation.load(std::memory_order_relaxed) + 1) & kGenerationMask;
        slots[i].generation.store(generation, std::memory_order_relaxed);
        object->handle = reinterpret_cast<HGDIOBJ>(
            kGdiHandleTag | (std::uintptr_t{generation} << kGenerationShift) | i);
        slots[i].object.store(object, std::memory_order_release);
        return object->handle;
    }
    delete object;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

void removeObject(GdiObject* object) {
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(object->handle);
        slots[value & kIndexMask].object.store(nullptr, std::memory_order_release);
    }
    delete object;
}

GdiObject* lookup(const void* handle) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    const std::uintptr_t index = value & kIndexMask;
    if (!(value & kGdiHandleTag) || index == 0 || index >= kHandleSlots)
        return nullptr;
    GdiObject* object = slots[index].object.load(std::memory_order_acquire);
    const std::uint32_t generation =
        static_cast<std::uint32_t>((value & ~kGdiHandleTag) >> kGenerationShift);
    if (!object || slots[index].generation.load(std::memory_order_relaxed) != generation)
        return nullptr;
    return object;
}

template <typename T, Kind K> T* lookupAs(const void* handle) {
    GdiObject* object = lookup(handle);
    return object && object->kind == K ? static_cast<T*>(object) : nullptr;
}

DeviceContext* lookupDc(HDC dc) {
    return lookupAs<DeviceContext, Kind::dc>(dc);
}

// The embedded face nearest to a logical font: first in height, then in weight.
const fonts::FixedFace& nearestFace(const LOGFONTA& record) {
    const int height = record.lfHeight == 0 ? kDefaultFontHeight : std::abs(record.lfHeight);
    const int weight = record.lfWeight == 0 ? FW_NORMAL : record.lfWeight;
    const fonts::FixedFace* best = &fonts::faces[0];
    auto distance = [&](const fonts::FixedFace& f) {
        return std::make_pair(std::abs(f.cellHeight - height), std::abs(f.weight - weight));
    };
    for (const fonts::FixedFace& face : fonts::faces)
        if (distance(face) < distance(*best))
            best = &face;
    return *best;
}

LOGFONTA fixedFontRecord() {
    LOGFONTA record{};
    record.lfHeight = kDefaultFontHeight;
    record.lfWeight = FW_NORMAL;
    record.lfCharSet = ANSI_CHARSET;
    record.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    std::strcpy(record.lfFaceName, "Fixed");
    return record;
}

struct StockObjects {
    Pen* whitePen;
    Pen* blackPen;
    Pen* nullPen;
    Pen* dcPen;
    Brush* whiteBrush;
    Brush* blackBrush;
    Brush* nullBrush;
    Brush* dcBrush;
    Font* fixedFont;
    Bitmap* defaultBitmap; // the 1 x 1 bitmap of a new memory context
};

template <typename T> T* makeStock(T* object) {
    object->stock = true;
    insertObject(object);
    return object;
}

// The stock objects live in the module's own storage rather than on the heap, so a
// host that unloads the module leaves nothing of them behind.
const StockObjects& stock() {
    static Pen whitePen(PS_SOLID, 0, RGB(255, 255, 255), false);
    static Pen blackPen(PS_SOLID, 0, RGB(0, 0, 0), false);
    static Pen nullPen(PS_NULL, 0, RGB(0, 0, 0), false);
    static Pen dcPen(PS_SOLID, 0, RGB(0, 0, 0), true);
    static Brush whiteBrush(BS_SOLID, RGB(255, 255, 255), false);
    static Brush blackBrush(BS_SOLID, RGB(0, 0, 0), false);
    static Brush nullBrush(BS_NULL, 0, false);
    static Brush dcBrush(BS_SOLID, 0, true);
    static const LOGFONTA fixedRecord = fixedFontRecord();
    static Font fixedFont(fixedRecord, nearestFace(fixedRecord));
    static Bitmap defaultBitmap(1, 1, std::make_unique<std::uint32_t[]>(1));
    static const StockObjects objects = [] {
        StockObjects s{};
        s.whitePen = makeStock(&whitePen);
        s.blackPen = makeStock(&blackPen);
        s.nullPen = makeStock(&nullPen);
        s.dcPen = makeStock(&dcPen);
        s.whiteBrush = makeStock(&whiteBrush);
        s.blackBrush = makeStock(&blackBrush);
        s.nullBrush = makeStock(&nullBrush);
        s.dcBrush = makeStock(&dcBrush);
        s.fixedFont = makeStock(&fixedFont);
        s.defaultBitmap = makeStock(&defaultBitmap);
        return s;
    }();
    return objects;
}

template <typename T> T* swapSelection(T*& slot, T* object) {
    T* previous = slot;
    object->selections.fetch_add(1, std::memory_order_relaxed);
    if (previous)
        previous->selections.fetch_sub(1, std::memory_order_relaxed);
    slot = object;
    return previous;
}

HDC createDc(DcType type, HWND window) {
    const StockObjects& s = stock();
    auto* dc = new (std::nothrow) DeviceContext(type, window);
    if (!dc) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    swapSelection(dc->pen, s.blackPen);
    swapSelection(dc->brush, s.whiteBrush);
    swapSelection(dc->font, s.fixedFont);
    if (type == DcType::memory)
        swapSelection(dc->bitmap, s.defaultBitmap);
    return static_cast<HDC>(insertObject(dc));
}

void releaseDc(DeviceContext* dc) {
    dc->pen->selections.fetch_sub(1, std::memory_order_relaxed);
    dc->brush->selections.fetch_sub(1, std::memory_order_relaxed);
    dc->font->selections.fetch_sub(1, std::memory_order_relaxed);
    if (dc->bitmap)
        dc->bitmap->selections.fetch_sub(1, std::memory_order_relaxed);
    removeObject(dc);
}

// The surface a device context draws on: the selected bitmap of a memory
// context. Window contexts have none; only BitBlt reaches a window.
bool surfaceOf(const DeviceContext* dc, raster::Surface& surface) {
    if (dc->type != DcType::memory)
        return false;
    surface = dc->bitmap->surface();
    return true;
}

template <typename T> int copyRecord(const T& record, int size, LPVOID buffer) {
    if (!buffer)
        return sizeof(T);
    if (size <= 0)
        return 0;
    const int count = std::min<int>(size, sizeof(T));
    std::memcpy(buffer, &record, count);
    return count;
}

} // namespace

void installWindowServices(const WindowServices* services) {
    windowServices.store(services, std::memory_order_release);
}

} // namespace kelvatone::platform

using namespace kelvatone::platform;

HGDIOBJ GetStockObject(int index) {
    const StockObjects& s = stock();
    switch (index) {
    case WHITE_BRUSH:
        return s.whiteBrush->handle;
    case BLACK_BRUSH:
        return s.blackBrush->handle;
    case NULL_BRUSH:
        return s.nullBrush->handle;
    case WHITE_PEN:
        return s.whitePen->handle;
    case BLACK_PEN:
        return s.blackPen->handle;
    case NULL_PEN:
        return s.nullPen->handle;
    case ANSI_FIXED_FONT:
    case SYSTEM_FONT:
        return s.fixedFont->handle;
    case DC_BRUSH:
        return s.dcBrush->handle;
    case DC_PEN:
        return s.dcPen->handle;
    default:
        return nullptr;
    }
}

int GetObjectA(HANDLE handle, int size, LPVOID buffer) {
    GdiObject* object = lookup(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    switch (object->kind) {
    case Kind::pen: {
        const auto* pen = static_cast<Pen*>(object);
        const LOGPEN record{pen->style, {pen->width, 0}, pen->colour};
        return copyRecord(record, size, buffer);
    }
    case Kind::brush: {
        const auto* brush = static_cast<Brush*>(object);
        const LOGBRUSH record{brush->style, brush->colour, 0};
        return copyRecord(record, size, buffer);
    }
    case Kind::font:
        return copyRecord(static_cast<Font*>(object)->record, size, buffer);
    case Kind::bitmap: {
        const auto* bitmap = static_cast<Bitmap*>(object);
        const BITMAP record{0, bitmap->width, bitmap->height, bitmap->width * 4, 1, 32, nullptr};
        return copyRecord(record, size, buffer);
    }
    case Kind::dc:
        break;
    }
    return 0;
}

HFONT CreateFontIndirectA(const LOGFONTA* record) {
    if (!record) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* font = new (std::nothrow) Font(*record, nearestFace(*record));
    return font ? static_cast<HFONT>(insertObject(font)) : nullptr;
}

HPEN CreatePen(int style, int width, COLORREF colour) {
    if (style != PS_SOLID && style != PS_NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* pen = new (std::nothrow) Pen(style, std::max(width, 0), colour, false);
    return pen ? static_cast<HPEN>(insertObject(pen)) : nullptr;
}

HPEN CreatePenIndirect(const LOGPEN* record) {
    if (!record) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreatePen(static_cast<int>(record->lopnStyle), record->lopnWidth.x, record->lopnColor);
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* record) {
    if (!record || (record->lbStyle != BS_SOLID && record->lbStyle != BS_NULL)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* brush = new (std::nothrow) Brush(record->lbStyle, record->lbColor, false);
    return brush ? static_cast<HBRUSH>(insertObject(brush)) : nullptr;
}

HDC CreateCompatibleDC(HDC dc) {
    if (dc && !lookupDc(dc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return createDc(DcType::memory, nullptr);
}

// Every bitmap is 32 bits per pixel, whatever the device context it is made for
// (GDI would make a monochrome one for a fresh memory context).
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (!lookupDc(dc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (width <= 0 || height <= 0 || std::int64_t{width} * height > kMaxBitmapPixels) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::size_t count = static_cast<std::size_t>(width) * height;
    std::unique_ptr<std::uint32_t[]> pixels(new (std::nothrow) std::uint32_t[count]());
    // The pixels start black: every row is known to be all black.
    std::unique_ptr<raster::RowExtent[]> rows(new (std::nothrow) raster::RowExtent[height]);
    if (rows)
        std::fill_n(rows.get(), height, raster::uniformRow(width, 0));
    auto* bitmap = pixels && rows ? new (std::nothrow)
                                        Bitmap(width, height, std::move(pixels), std::move(rows))
                                  : nullptr;
    if (!bitmap) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return static_cast<HBITMAP>(insertObject(bitmap));
}

BOOL DeleteDC(HDC handle) {
    DeviceContext* dc = lookupDc(handle);
    if (!dc || dc->type != DcType::memory) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    releaseDc(dc);
    return TRUE;
}

// Fails for an object that is still selected into a device context, as GDI
// documents; stock objects are never deleted.
BOOL DeleteObject(HGDIOBJ handle) {
    GdiObject* object = lookup(handle);
    if (!object || object->kind == Kind::dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->stock)
        return TRUE;
    if (object->selections.load(std::memory_order_relaxed) > 0)
        return FALSE;
    removeObject(object);
    return TRUE;
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ objectHandle) {
    DeviceContext* dc = lookupDc(handle);
    GdiObject* object = lookup(objectHandle);
    if (!dc || !object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    switch (object->kind) {
    case Kind::pen:
        return swapSelection(dc->pen, static_cast<Pen*>(object))->handle;
    case Kind::brush:
        return swapSelection(dc->brush, static_cast<Brush*>(object))->handle;
    case Kind::font:
        return swapSelection(dc->font, static_cast<Font*>(object))->handle;
    case Kind::bitmap: {
        // A bitmap goes into one memory context at a time.
        auto* bitmap = static_cast<Bitmap*>(object);
        if (dc->type != DcType::memory)
            return nullptr;
        if (bitmap == dc->bitmap)
            return bitmap->handle;
        if (!bitmap->stock && bitmap->selections.load(std::memory_order_relaxed) > 0)
            return nullptr;
        return swapSelection(dc->bitmap, bitmap)->handle;
    }
    case Kind::dc:
        break;
    }
    return nullptr;
}

HGDIOBJ GetCurrentObject(HDC handle, UINT type) {
    const DeviceContext* dc = lookupDc(handle);
    if (!dc)
        return nullptr;
    switch (type) {
    case OBJ_PEN:
        return dc->pen->handle;
    case OBJ_BRUSH:
        return dc->brush->handle;
    case OBJ_FONT:
        return dc->font->handle;
    case OBJ_BITMAP:
        return dc->bitmap ? dc->bitmap->handle : nullptr;
    default:
        return nullptr;
    }
}

LONG GetBitmapBits(HBITMAP handle, LONG size, LPVOID bits) {
    const auto* bitmap = lookupAs<Bitmap, Kind::bitmap>(handle);
    if (!bitmap || !bits || size <= 0)
        return 0;
    const std::int64_t total = std::int64_t{bitmap->width} * bitmap->height * 4;
    const LONG count = static_cast<LONG>(std::min<std::int64_t>(size, total));
    std::memcpy(bits, bitmap->pixels.get(), static_cast<std::size_t>(count));
    return count;
}

HDC GetDC(HWND window) {
    int width = 0, height = 0;
    if (window && !windowClientSize(window, width, height)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return createDc(DcType::window, window);
}

int ReleaseDC(HWND window, HDC handle) {
    DeviceContext* dc = lookupDc(handle);
    if (!dc || dc->type != DcType::window || dc->window != window)
        return 0;
    releaseDc(dc);
    return 1;
}

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    int width = 0, height = 0;
    if (!paint || !windowClientSize(window, width, height)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    *paint = PAINTSTRUCT{};
    paint->hdc = createDc(DcType::paint, window);
    paint->rcPaint = RECT{0, 0, width, height};
    return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
    DeviceContext* dc = paint ? lookupDc(paint->hdc) : nullptr;
    if (!dc || dc->type != DcType::paint || dc->window != window)
        return FALSE;
    releaseDc(dc);
    return TRUE;
}

COLORREF SetDCPenColor(HDC handle, COLORREF colour) {
    DeviceContext* dc = lookupDc(handle);
    if (!dc)
        return CLR_INVALID;
    return std::exchange(dc->dcPenColour, colour);
}

COLORREF SetTextColor(HDC handle, COLORREF colour) {
    DeviceContext* dc = lookupDc(handle);
    if (!dc)
        return CLR_INVALID;
    return std::exchange(dc->textColour, colour);
}

COLORREF SetBkColor(HDC handle, COLORREF colour) {
    DeviceContext* dc = lookupDc(handle);
    if (!dc)
        return CLR_INVALID;
    return std::exchange(dc->bkColour, colour);
}

int SetBkMode(HDC handle, int mode) {
    DeviceContext* dc = lookupDc(handle);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    return std::exchange(dc->bkMode, mode);
}

int SetROP2(HDC handle, int mode) {
    DeviceContext* dc = lookupDc(handle);
    if (!dc || mode < kFirstRop2 || mode > kLastRop2)
        return 0;
    return std::exchange(dc->rop2, mode);
}

BOOL MoveToEx(HDC handle, int x, int y, LPPOINT previous) {
    DeviceContext* dc = lookupDc(handle);
    if (!dc)
        return FALSE;
    if (previous)
        *previous = dc->current;
    dc->current = POINT{x, y};
    return TRUE;
}

BOOL LineTo(HDC handle, int x, int y) {
    DeviceContext* dc = lookupDc(handle);
    raster::Surface surface;
    if (!dc || !surfaceOf(dc, surface))
        return FALSE;
    const POINT from = std::exchange(dc->current, POINT{x, y});
    const Pen& pen = *dc->pen;
    if (pen.style == PS_NULL)
        return TRUE;
    const std::uint32_t pixel =
        raster::pixelFromColour(pen.followsDcColour ? dc->dcPenColour : pen.colour);
    const raster::PixelOp op{dc->rop2};
    if (pen.width <= 1)
        raster::drawThinLine(surface, from.x, from.y, x, y, pixel, op);
    else
        raster::drawWideLine(surface, from.x, from.y, x, y, pen.width, pixel, op);
    return TRUE;
}

BOOL TextOutA(HDC handle, int x, int y, LPCSTR text, int length) {
    DeviceContext* dc = lookupDc(handle);
    raster::Surface surface;
    if (!dc || !surfaceOf(dc, surface) || length < 0 || (length > 0 && !text))
        return FALSE;
    raster::drawText(surface, dc->font->face, x, y, text, length,
                     raster::pixelFromColour(dc->textColour), dc->bkMode == OPAQUE,
                     raster::pixelFromColour(dc->bkColour));
    return TRUE;
}

// Empty or negative extents draw nothing.
BOOL PatBlt(HDC handle, int x, int y, int width, int height, DWORD rop) {
    DeviceContext* dc = lookupDc(handle);
    raster::Surface surface;
    if (!dc || !surfaceOf(dc, surface))
        return FALSE;
    std::uint32_t pixel;
    switch (rop) {
    case BLACKNESS:
        pixel = 0;
        break;
    case WHITENESS:
        pixel = raster::pixelFromColour(RGB(255, 255, 255));
        break;
    case PATCOPY:
        if (dc->brush->style == BS_NULL)
            return TRUE;
        pixel = raster::pixelFromColour(dc->brush->followsDcColour ? dc->dcBrushColour
                                                                   : dc->brush->colour);
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (width <= 0 || height <= 0)
        return TRUE;
    const int right =
        static_cast<int>(std::min<std::int64_t>(std::int64_t{x} + width, surface.width));
    const int bottom =
        static_cast<int>(std::min<std::int64_t>(std::int64_t{y} + height, surface.height));
    raster::fillRect(surface, x, y, right, bottom, pixel);
    return TRUE;
}

// SRCCOPY from a memory context, into another memory context or onto a window.
BOOL BitBlt(HDC destHandle, int x, int y, int width, int height, HDC sourceHandle, int sourceX,
            int sourceY, DWORD rop) {
    DeviceContext* dest = lookupDc(destHandle);
    const DeviceContext* source = lookupDc(sourceHandle);
    raster::Surface from;
    if (!dest || !source || !surfaceOf(source, from)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (rop != SRCCOPY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (width <= 0 || height <= 0)
        return TRUE;
    raster::Surface to;
    if (surfaceOf(dest, to)) {
        raster::copyRect(to, x, y, width, height, from, sourceX, sourceY);
        return TRUE;
    }
    if (!dest->window)
        return FALSE;
    return presentToWindow(dest->window, x, y, width, height, from, sourceX, sourceY) ? TRUE
                                                                                      : FALSE;
}
