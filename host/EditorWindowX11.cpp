// The editor window on Linux: a top-level X11 window on the host's own connection.
// The module creates its editor as a child of it on a connection of its own.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "host/EditorWindow.h"

namespace kelvatone::host {
namespace {

constexpr auto kMapTimeout = std::chrono::seconds(2);
constexpr auto kMapPollInterval = std::chrono::milliseconds(5);

// The bit position of the lowest set bit of a colour mask, and its width.
int maskShift(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1ul) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// Set by the error handler below while a capture runs (UI thread only).
bool captureFailed = false;

int noteCaptureError(Display*, XErrorEvent*) {
    captureFailed = true;
    return 0;
}

int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

uint8_t maskedChannel(unsigned long pixel, unsigned long mask) {
    const unsigned long value = (pixel & mask) >> maskShift(mask);
    const unsigned long maximum = mask >> maskShift(mask);
    return static_cast<uint8_t>(maximum == 0 ? 0 : value * 255ul / maximum);
}

class X11EditorWindow final : public EditorWindow {
public:
    X11EditorWindow(Display* display, Window window, int width, int height)
        : EditorWindow(width, height), display_(display), window_(window) {}

    ~X11EditorWindow() override {
        XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }

    void* parentHandle() const override {
        return reinterpret_cast<void*>(static_cast<uintptr_t>(window_));
    }

    void pumpEvents() override {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
        }
    }

    bool waitUntilMapped() {
        const auto deadline = std::chrono::steady_clock::now() + kMapTimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            XEvent event;
            if (XCheckTypedWindowEvent(display_, window_, MapNotify, &event)) {
                return true;
            }
            std::this_thread::sleep_for(kMapPollInterval);
        }
        return false;
    }

    void raise() override {
        XRaiseWindow(display_, window_);
        XSync(display_, False);
    }

    bool capture(io::Image& image, std::string& error) override {
        XSync(display_, False);
        // A window reaching past the screen's edge cannot be read: Xlib would end the
        // process over the BadMatch error, so it is caught and reported instead.
        captureFailed = false;
        const auto previousHandler = XSetErrorHandler(noteCaptureError);
        XImage* pixels = XGetImage(display_, window_, 0, 0, static_cast<unsigned>(width()),
                                   static_cast<unsigned>(height()), AllPlanes, ZPixmap);
        XSync(display_, False);
        XSetErrorHandler(previousHandler);
        if (pixels == nullptr || captureFailed) {
            if (pixels != nullptr) {
                XDestroyImage(pixels);
            }
            error = "cannot read the editor window's pixels (is the " + std::to_string(width()) +
                    " x " + std::to_string(height()) + " window larger than the screen?)";
            return false;
        }
        sizeImage(image);
        size_t out = 0;
        for (int y = 0; y < height(); ++y) {
            for (int x = 0; x < width(); ++x) {
                const unsigned long pixel = XGetPixel(pixels, x, y);
                image.rgb[out++] = maskedChannel(pixel, pixels->red_mask);
                image.rgb[out++] = maskedChannel(pixel, pixels->green_mask);
                image.rgb[out++] = maskedChannel(pixel, pixels->blue_mask);
            }
        }
        XDestroyImage(pixels);
        return true;
    }

    void deliverTestEvents() override {
        // The module may destroy its windows at any moment: errors about them are
        // expected here and must not end the process.
        XSync(display_, False);
        const auto previousHandler = XSetErrorHandler(ignoreError);
        poke(window_, false);
        XSync(display_, False);
        XSetErrorHandler(previousHandler);
        pumpEvents();
    }

protected:
    void clickInside(int x, int y) override {
        int targetX = x, targetY = y;
        const Window target = deepestWindowAt(targetX, targetY);
        int rootX = 0, rootY = 0;
        Window ignored = 0;
        XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), x, y, &rootX, &rootY,
                              &ignored);
        sendButton(target, ButtonPress, targetX, targetY, rootX, rootY);
        sendButton(target, ButtonRelease, targetX, targetY, rootX, rootY);
        XFlush(display_);
    }

private:
    // Sends `window` (unless it is ours) and all its descendants the test events.
    void poke(Window window, bool self) {
        if (self) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display_, window, &attributes)) {
                return;
            }
            sendExpose(window, attributes.width, attributes.height);
            const int x = attributes.width / 2, y = attributes.height / 2;
            sendMotion(window, x, y);
            sendButton(window, ButtonPress, x, y, x, y);
            sendButton(window, ButtonRelease, x, y, x, y);
        }
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, window, &root, &parent, &children, &count)) {
            return;
        }
        for (unsigned i = 0; i < count; ++i) {
            poke(children[i], true);
        }
        if (children != nullptr) {
            XFree(children);
        }
    }

    void sendExpose(Window target, int width, int height) {
        XEvent event{};
        event.xexpose.type = Expose;
        event.xexpose.display = display_;
        event.xexpose.window = target;
        event.xexpose.width = width;
        event.xexpose.height = height;
        XSendEvent(display_, target, False, ExposureMask, &event);
    }

    void sendMotion(Window target, int x, int y) {
        XEvent event{};
        XMotionEvent& motion = event.xmotion;
        motion.type = MotionNotify;
        motion.display = display_;
        motion.window = target;
        motion.root = DefaultRootWindow(display_);
        motion.time = CurrentTime;
        motion.x = x;
        motion.y = y;
        motion.same_screen = True;
        XSendEvent(display_, target, False, PointerMotionMask, &event);
    }

    // The topmost viewable descendant of our window under (x, y); x and y come back
    // in that window's coordinates.
    Window deepestWindowAt(int& x, int& y) {
        Window current = window_;
        for (;;) {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            if (!XQueryTree(display_, current, &root, &parent, &children, &count)) {
                return current;
            }
            Window hit = 0;
            int hitX = 0, hitY = 0;
            // Children come bottom to top: the last one that contains the point wins.
            for (unsigned i = 0; i < count; ++i) {
                XWindowAttributes attributes;
                if (!XGetWindowAttributes(display_, children[i], &attributes) ||
                    attributes.map_state != IsViewable) {
                    continue;
                }
                const int localX = x - attributes.x - attributes.border_width;
                const int localY = y - attributes.y - attributes.border_width;
                if (localX >= 0 && localY >= 0 && localX < attributes.width &&
                    localY < attributes.height) {
                    hit = children[i];
                    hitX = localX;
                    hitY = localY;
                }
            }
            if (children != nullptr) {
                XFree(children);
            }
            if (hit == 0) {
                return current;
            }
            current = hit;
            x = hitX;
            y = hitY;
        }
    }

    void sendButton(Window target, int type, int x, int y, int rootX, int rootY) {
        XEvent event{};
        XButtonEvent& button = event.xbutton;
        button.type = type;
        button.display = display_;
        button.window = target;
        button.root = DefaultRootWindow(display_);
        button.subwindow = None;
        button.time = CurrentTime;
        button.x = x;
        button.y = y;
        button.x_root = rootX;
        button.y_root = rootY;
        button.state = type == ButtonRelease ? Button1Mask : 0;
        button.button = Button1;
        button.same_screen = True;
        const long mask = type == ButtonPress ? ButtonPressMask : ButtonReleaseMask;
        XSendEvent(display_, target, False, mask, &event);
    }

    Display* display_;
    Window window_;
};

} // namespace

std::unique_ptr<EditorWindow> EditorWindow::create(int width, int height, const std::string& title,
                                                   std::string& error) {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        error = "no X display ($DISPLAY is not set): run under xvfb-run -a";
        return nullptr;
    }
    // Modules drive their editors on Xlib connections of their own, some from
    // threads of their own; Xlib needs this before any other call to allow that.
    XInitThreads();
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        error = std::string("cannot open X display ") + name + ": run under xvfb-run -a";
        return nullptr;
    }
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(
        display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
        static_cast<unsigned>(height), 0, BlackPixel(display, screen), BlackPixel(display, screen));
    XStoreName(display, window, title.c_str());
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = width;
    hints->min_height = hints->max_height = height;
    XSetWMNormalHints(display, window, hints);
    XFree(hints);
    XSelectInput(display, window, StructureNotifyMask | ExposureMask);
    XMapWindow(display, window);
    auto editorWindow = std::make_unique<X11EditorWindow>(display, window, width, height);
    if (!editorWindow->waitUntilMapped()) {
        error = "the X server did not map the editor window";
        return nullptr;
    }
    return editorWindow;
}

} // namespace kelvatone::host
