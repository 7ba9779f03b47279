// The host's own top-level window in which a module's editor is embedded: an X11
// window on Linux, a Win32 window on Windows. It can also read back its pixels and
// click into the editor, for snapshots and scripted clicks.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "io/Image.h"

namespace kelvatone::host {

// Whether editors can be shown here: always on Windows; on Linux when $DISPLAY names
// an X display. any thread
inline bool editorDisplayAvailable() {
#if defined(_WIN32)
    return true;
#else
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
#endif
}

// Every operation runs on the UI thread, the one that created the window.
class EditorWindow {
public:
    // Null with a one-line reason when no window can be made (on Linux: no X display).
    static std::unique_ptr<EditorWindow> create(int width, int height, const std::string& title,
                                                std::string& error);
    virtual ~EditorWindow() = default;

    // What effEditOpen gets as its pointer argument: the X11 Window id cast to a
    // pointer, or the HWND.
    virtual void* parentHandle() const = 0;
    // Handles the window's pending events or messages, those of the editor's child
    // windows included.
    virtual void pumpEvents() = 0;
    // The client area's pixels, the embedded editor included. Parts covered by other
    // windows read as whatever covers them: raise() first when windows overlap.
    virtual bool capture(io::Image& image, std::string& error) = 0;
    // Puts the window above the host's other windows; the editor repaints the parts
    // that were covered when its window next handles its events.
    virtual void raise() = 0;
    // A left-button press and release at client coordinates (x, y), delivered to the
    // editor window found under that point. False with the reason for a point outside.
    bool click(int x, int y, std::string& error);
    // Sends every window inside ours (the editor's, and any a module left behind) a
    // repaint request, a mouse move and a left click at its centre, then handles our
    // pending events. Windows that no longer exist are skipped without an error: this
    // is how validation checks that nothing reaches an editor that is gone.
    virtual void deliverTestEvents() = 0;

protected:
    EditorWindow(int width, int height) : width_(width), height_(height) {}
    // The client area's size in pixels.
    int width() const { return width_; }
    int height() const { return height_; }
    // click() for a point inside the client area.
    virtual void clickInside(int x, int y) = 0;
    // Sizes `image` to the client area.
    void sizeImage(io::Image& image) const;

private:
    int width_;
    int height_;
};

} // namespace kelvatone::host
