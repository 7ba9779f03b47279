// The X11 window part of the Linux layer, run under Xvfb: a "host" makes a
// top-level window on a connection of its own and the layer creates its child
// there, as an editor does inside a plug-in host.
// GoogleTest comes before Xlib, whose None macro would clash with it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "editor/platform/Win32.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr auto kPatience = std::chrono::seconds(5);
constexpr COLORREF kFirstColour = RGB(200, 40, 10);
constexpr COLORREF kSecondColour = RGB(10, 180, 90);
constexpr char kClassName[] = "kelvatone-test";

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::thread::id thread;
};

// What the window procedure saw, shared between the window's thread and the test.
class Recorder {
public:
    void add(UINT message, WPARAM wParam, LPARAM lParam) {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back({message, wParam, lParam, std::this_thread::get_id()});
        changed_.notify_all();
    }
    // Waits until a message of the kind has arrived `count` times; returns the last.
    bool waitFor(UINT message, std::size_t count, Received* out = nullptr) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] {
            std::size_t seen = 0;
            for (const Received& r : messages_)
                if (r.message == message && ++seen == count) {
                    if (out)
                        *out = r;
                    return true;
                }
            return false;
        });
    }
    std::size_t count(UINT message) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t n = 0;
        for (const Received& r : messages_)
            n += r.message == message;
        return n;
    }
    std::vector<Received> all() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> messages_;
};

// A window's back buffer and recorder, named by the creation parameter.
struct Client {
    Recorder recorder;
    HDC backBuffer = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    void* createParam = nullptr;
    std::atomic<int> paintDelayMs{0};   // written by the test, read in WM_PAINT
    std::atomic<bool> painting{false};  // written in WM_PAINT, read by the test
    std::atomic<int> paintsFinished{0}; // written in WM_PAINT, read by the test
    // Held while the test draws into the back buffer and while WM_PAINT copies it: the
    // window's thread may paint at any time (X sends more than one Expose).
    std::mutex bufferMutex;

    void fill(COLORREF colour) {
        const std::lock_guard<std::mutex> lock(bufferMutex);
        SelectObject(backBuffer, GetStockObject(DC_PEN));
        SetDCPenColor(backBuffer, colour);
        for (int y = 0; y < kHeight; ++y) {
            MoveToEx(backBuffer, 0, y, nullptr);
            LineTo(backBuffer, kWidth, y);
        }
    }
    ~Client() {
        if (!backBuffer)
            return;
        SelectObject(backBuffer, previousBitmap);
        DeleteDC(backBuffer);
        DeleteObject(bitmap);
    }
};

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        auto* client = static_cast<Client*>(create->lpCreateParams);
        client->createParam = create->lpCreateParams;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(client));
        HDC screen = GetDC(window);
        client->backBuffer = CreateCompatibleDC(screen);
        client->bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
        client->previousBitmap = SelectObject(client->backBuffer, client->bitmap);
        ReleaseDC(window, screen);
        client->fill(kFirstColour);
    }
    auto* client = reinterpret_cast<Client*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!client)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_PAINT) {
        client->painting.store(true);
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        std::this_thread::sleep_for(std::chrono::milliseconds(client->paintDelayMs.load()));
        {
            const std::lock_guard<std::mutex> lock(client->bufferMutex);
            BitBlt(dc, 0, 0, kWidth, kHeight, client->backBuffer, 0, 0, SRCCOPY);
        }
        EndPaint(window, &paint);
        client->paintsFinished.fetch_add(1);
        client->painting.store(false);
    }
    client->recorder.add(message, wParam, lParam);
    return message == WM_PAINT || message == WM_CREATE
               ? 0
               : DefWindowProcA(window, message, wParam, lParam);
}

int ignoreHostErrors(Display*, XErrorEvent*) {
    return 0;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = XOpenDisplay(nullptr);
        ASSERT_NE(host_, nullptr) << "these tests run under xvfb-run";
        parent_ = makeParent();
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = testWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kClassName;
        ASSERT_NE(RegisterClassA(&windowClass), 0);
    }
    void TearDown() override {
        if (host_) {
            if (parent_)
                XDestroyWindow(host_, parent_);
            XCloseDisplay(host_);
        }
        EXPECT_TRUE(UnregisterClassA(kClassName, GetModuleHandleA(nullptr)));
    }
    Window makeParent() {
        const Window w =
            XCreateSimpleWindow(host_, DefaultRootWindow(host_), 0, 0, kWidth, kHeight, 0, 0, 0);
        XMapWindow(host_, w);
        XSync(host_, False);
        return w;
    }
    HWND open(Client& client, Window parent) {
        return CreateWindowExA(0, kClassName, "kelvatone", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                               0, 0, kWidth, kHeight,
                               reinterpret_cast<HWND>(static_cast<std::uintptr_t>(parent)), nullptr,
                               GetModuleHandleA(nullptr), &client);
    }
    std::vector<Window> children() {
        Window root = 0, parent = 0, *list = nullptr;
        unsigned int count = 0;
        std::vector<Window> result;
        if (XQueryTree(host_, parent_, &root, &parent, &list, &count))
            result.assign(list, list + count);
        if (list)
            XFree(list);
        return result;
    }
    // The parent's pixel as 0x00RRGGBB (Xvfb's 24-bit TrueColor).
    unsigned long pixelAt(int x, int y) {
        XImage* image = XGetImage(host_, parent_, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return ~0ul;
        const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }
    bool waitForPixel(int x, int y, unsigned long expected) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < deadline) {
            if (pixelAt(x, y) == expected)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void sendButton(Window target, int type, unsigned int button, int x, int y) {
        XEvent event{};
        event.xbutton.type = type;
        event.xbutton.display = host_;
        event.xbutton.window = target;
        event.xbutton.button = button;
        event.xbutton.x = x;
        event.xbutton.y = y;
        event.xbutton.same_screen = True;
        XSendEvent(host_, target, False, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask,
                   &event);
        XFlush(host_);
    }

    Display* host_ = nullptr;
    Window parent_ = 0;
};

constexpr unsigned long rgbOf(COLORREF c) {
    return (static_cast<unsigned long>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

TEST_F(WindowTest, CreationSendsCreateInsideTheCallAndDestroyRemovesTheChild) {
    Client client;
    const auto caller = std::this_thread::get_id();
    HWND window = open(client, parent_);
    ASSERT_NE(window, nullptr);
    Received create{};
    ASSERT_TRUE(client.recorder.waitFor(WM_CREATE, 1, &create));
    EXPECT_EQ(create.thread, caller); // inside CreateWindowExA, on its caller's thread
    EXPECT_EQ(client.createParam, &client);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&client));
    ASSERT_EQ(children().size(), 1u);
    RECT rect{};
    EXPECT_TRUE(GetWindowRect(window, &rect));
    EXPECT_EQ(rect.right - rect.left, kWidth);
    EXPECT_EQ(rect.bottom - rect.top, kHeight);
    EXPECT_FALSE(UnregisterClassA(kClassName, GetModuleHandleA(nullptr))); // has a window
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));

    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(client.recorder.count(WM_DESTROY), 1u);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(InvalidateRect(window, nullptr, FALSE));
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 0);
    EXPECT_FALSE(DestroyWindow(window));
    XSync(host_, False);
    EXPECT_TRUE(children().empty());
}

TEST_F(WindowTest, InvalidationFromAnotherThreadPaintsOnTheWindowThread) {
    Client client;
    HWND window = open(client, parent_);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitForPixel(320, 180, rgbOf(kFirstColour))); // the first Expose
    const std::size_t paintsBefore = client.recorder.count(WM_PAINT);
    client.fill(kSecondColour);
    std::thread audio([&] { EXPECT_TRUE(InvalidateRect(window, nullptr, FALSE)); });
    const auto audioThread = audio.get_id();
    audio.join();
    Received paint{};
    ASSERT_TRUE(client.recorder.waitFor(WM_PAINT, paintsBefore + 1, &paint));
    EXPECT_NE(paint.thread, std::this_thread::get_id());
    EXPECT_NE(paint.thread, audioThread);
    EXPECT_TRUE(waitForPixel(0, 0, rgbOf(kSecondColour)));
    EXPECT_TRUE(waitForPixel(639, 359, rgbOf(kSecondColour)));
    for (const Received& r : client.recorder.all()) {
        if (r.message != WM_CREATE) {
            EXPECT_EQ(r.thread, paint.thread) << r.message;
        }
    }
    EXPECT_TRUE(DestroyWindow(window));
}

TEST_F(WindowTest, ButtonPressesBecomeMessagesWithClientCoordinates) {
    Client client;
    HWND window = open(client, parent_);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(children().size(), 1u);
    const Window child = children()[0];
    sendButton(child, ButtonPress, Button1, 600, 10);
    sendButton(child, ButtonRelease, Button1, 600, 10);
    sendButton(child, ButtonPress, Button3, 5, 300);
    Received down{}, up{}, right{};
    ASSERT_TRUE(client.recorder.waitFor(WM_LBUTTONDOWN, 1, &down));
    EXPECT_EQ(LOWORD(down.lParam), 600);
    EXPECT_EQ(HIWORD(down.lParam), 10);
    ASSERT_TRUE(client.recorder.waitFor(WM_LBUTTONUP, 1, &up));
    EXPECT_EQ(LOWORD(up.lParam), 600);
    ASSERT_TRUE(client.recorder.waitFor(WM_RBUTTONDOWN, 1, &right));
    EXPECT_EQ(LOWORD(right.lParam), 5);
    EXPECT_EQ(HIWORD(right.lParam), 300);
    EXPECT_TRUE(DestroyWindow(window));
}

TEST_F(WindowTest, DestroyWaitsForAPaintInProgressAndNothingFollows) {
    Client client;
    HWND window = open(client, parent_);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(client.recorder.waitFor(WM_PAINT, 1));
    client.paintDelayMs.store(100);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        while (!stop.load()) {
            InvalidateRect(window, nullptr, FALSE);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!client.painting.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(client.painting.load());
    const int finishedBefore = client.paintsFinished.load();
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(client.painting.load()); // the paint ran to its end first
    EXPECT_GT(client.paintsFinished.load(), finishedBefore);
    stop.store(true);
    audio.join();
    const auto messages = client.recorder.all();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().message, static_cast<UINT>(WM_DESTROY));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(client.recorder.all().size(), messages.size());
}

TEST_F(WindowTest, HostDestroyingTheParentEndsTheWindowSafely) {
    XSetErrorHandler(ignoreHostErrors);
    Client client;
    HWND window = open(client, parent_);
    ASSERT_NE(window, nullptr);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        while (!stop.load()) {
            InvalidateRect(window, nullptr, FALSE);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    XDestroyWindow(host_, parent_);
    XSync(host_, False);
    parent_ = 0;
    EXPECT_TRUE(client.recorder.waitFor(WM_DESTROY, 1));
    stop.store(true);
    audio.join();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(InvalidateRect(window, nullptr, FALSE));
    EXPECT_FALSE(DestroyWindow(window));
    // The layer goes on working with a new parent, and the class lost its window.
    parent_ = makeParent();
    Client second;
    HWND again = open(second, parent_);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, window);
    EXPECT_TRUE(DestroyWindow(again));
    XSetErrorHandler(nullptr);
}

TEST_F(WindowTest, WindowsKeepTheirOwnUserData) {
    Client first, second;
    HWND a = open(first, parent_);
    HWND b = open(second, parent_);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SetWindowLongPtrA(a, GWLP_USERDATA, 0), reinterpret_cast<LONG_PTR>(&first));
    EXPECT_EQ(GetWindowLongPtrA(a, GWLP_USERDATA), 0);
    EXPECT_EQ(GetWindowLongPtrA(b, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&second));
    EXPECT_TRUE(DestroyWindow(a));
    EXPECT_TRUE(DestroyWindow(b));
    EXPECT_EQ(first.recorder.count(WM_DESTROY), 0u); // no user data, no client: not recorded
    EXPECT_EQ(second.recorder.count(WM_DESTROY), 1u);
}

TEST_F(WindowTest, BadParentOrUnknownClassFailsWithoutCreate) {
    Client client;
    int hostErrors = 0;
    static int* counter = nullptr;
    counter = &hostErrors;
    XSetErrorHandler([](Display*, XErrorEvent*) {
        ++*counter;
        return 0;
    });
    EXPECT_EQ(open(client, 0x3fffff00), nullptr); // no such X window
    EXPECT_EQ(client.recorder.count(WM_CREATE), 0u);
    EXPECT_EQ(open(client, 0), nullptr);
    EXPECT_EQ(CreateWindowExA(0, "no-such-class", "", WS_CHILD, 0, 0, 10, 10,
                              reinterpret_cast<HWND>(static_cast<std::uintptr_t>(parent_)), nullptr,
                              GetModuleHandleA(nullptr), nullptr),
              nullptr);
    EXPECT_EQ(hostErrors, 0); // our errors stay ours...
    XGetImage(host_, 0x3fffff00, 0, 0, 1, 1, AllPlanes, ZPixmap);
    XSync(host_, False);
    EXPECT_EQ(hostErrors, 1); // ...and the host's still reach the host's handler
    XSetErrorHandler(nullptr);
}

// An X server of the test's own, which it can take away.
class PrivateXServer {
public:
    PrivateXServer() {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        const std::string fd = std::to_string(fds[1]);
        const char* argv[] = {"Xvfb",       "-displayfd", fd.c_str(), "-screen", "0",
                              "800x600x24", "-nolisten",  "tcp",      nullptr};
        if (posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, const_cast<char* const*>(argv),
                         environ) != 0)
            pid_ = 0;
        close(fds[1]);
        char number[16] = {};
        const ssize_t n = pid_ ? read(fds[0], number, sizeof number - 1) : 0;
        close(fds[0]);
        if (n > 0)
            name_ = ":" + std::string(number, number + std::strcspn(number, "\n"));
    }
    ~PrivateXServer() { stop(); }
    const std::string& name() const { return name_; }
    void stop() {
        if (!pid_)
            return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

private:
    pid_t pid_ = 0;
    std::string name_;
};

// A window of class `className` in `parent` on `server`, opened as the layer
// opens every window: on the display that DISPLAY names at creation.
HWND openOnServer(const PrivateXServer& server, Window parent, const char* className,
                  Client& client) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = testWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    if (RegisterClassA(&windowClass) == 0)
        return nullptr;
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    setenv("DISPLAY", server.name().c_str(), 1);
    HWND window = CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE, 0, 0, kWidth, kHeight,
                                  reinterpret_cast<HWND>(static_cast<std::uintptr_t>(parent)),
                                  nullptr, GetModuleHandleA(nullptr), &client);
    if (display)
        setenv("DISPLAY", saved.c_str(), 1);
    else
        unsetenv("DISPLAY");
    return window;
}

TEST(WindowServerLoss, LosingTheXServerEndsTheWindowNotTheProcess) {
    PrivateXServer server;
    ASSERT_FALSE(server.name().empty());
    Display* host = XOpenDisplay(server.name().c_str());
    ASSERT_NE(host, nullptr);
    // The parent outlives the host's connection, which must be closed before the
    // server goes: Xlib would end the process over a lost connection of the host's.
    XSetCloseDownMode(host, RetainPermanent);
    const Window parent =
        XCreateSimpleWindow(host, DefaultRootWindow(host), 0, 0, kWidth, kHeight, 0, 0, 0);
    XMapWindow(host, parent);
    XCloseDisplay(host);

    Client client;
    HWND window = openOnServer(server, parent, "kelvatone-server-loss", client);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(client.recorder.waitFor(WM_PAINT, 1));

    server.stop();
    EXPECT_TRUE(client.recorder.waitFor(WM_DESTROY, 1));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_TRUE(UnregisterClassA("kelvatone-server-loss", GetModuleHandleA(nullptr)));
}

// The host destroys the parent, the window ends with it, and the server goes
// before the window is reaped: the reaper must find the connection dead without
// a request of its own, since Xlib's I/O error path on a thread that survives it
// leaves the connection's lock unlocked twice.
TEST(WindowServerLoss, AServerLostAfterTheWindowEndedIsNotWrittenTo) {
    PrivateXServer server;
    ASSERT_FALSE(server.name().empty());
    Display* host = XOpenDisplay(server.name().c_str());
    ASSERT_NE(host, nullptr);
    const Window parent =
        XCreateSimpleWindow(host, DefaultRootWindow(host), 0, 0, kWidth, kHeight, 0, 0, 0);
    XMapWindow(host, parent);
    XSync(host, False);

    Client client;
    HWND window = openOnServer(server, parent, "kelvatone-late-loss", client);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(client.recorder.waitFor(WM_PAINT, 1));

    XDestroyWindow(host, parent);
    XCloseDisplay(host);
    ASSERT_TRUE(client.recorder.waitFor(WM_DESTROY, 1));
    server.stop();
    EXPECT_FALSE(DestroyWindow(window)); // reaps the ended window
    EXPECT_TRUE(UnregisterClassA("kelvatone-late-loss", GetModuleHandleA(nullptr)));
}

TEST(WindowClasses, RegisteringTwiceFailsAndUnregisteringNeedsTheClass) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = testWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "kelvatone-classes";
    EXPECT_NE(RegisterClassA(&windowClass), 0);
    windowClass.lpszClassName = "KELVATONE-classes"; // names ignore case
    EXPECT_EQ(RegisterClassA(&windowClass), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_TRUE(UnregisterClassA("kelvatone-classes", GetModuleHandleA(nullptr)));
    EXPECT_FALSE(UnregisterClassA("kelvatone-classes", GetModuleHandleA(nullptr)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
}

TEST(WindowWithoutDisplay, CreationFailsAndNothingIsSent) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = testWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "kelvatone-headless";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    Client client;
    EXPECT_EQ(CreateWindowExA(0, "kelvatone-headless", "", WS_CHILD | WS_VISIBLE, 0, 0, kWidth,
                              kHeight, reinterpret_cast<HWND>(std::uintptr_t{0x200001}), nullptr,
                              GetModuleHandleA(nullptr), &client),
              nullptr);
    EXPECT_EQ(client.recorder.count(WM_CREATE), 0u);
    EXPECT_TRUE(UnregisterClassA("kelvatone-headless", GetModuleHandleA(nullptr)));
    if (display)
        setenv("DISPLAY", saved.c_str(), 1);
}

TEST(KernelServices, TickCountFollowsSleepAndOleCallsSucceed) {
    const DWORD before = GetTickCount();
    Sleep(30);
    const DWORD elapsed = GetTickCount() - before; // unsigned: correct across the wrap
    EXPECT_GE(elapsed, 29u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_EQ(OleInitialize(nullptr), S_OK);
    OleUninitialize();
    MSG message{};
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE));
}

TEST(KernelServices, LastErrorBelongsToTheCallingThread) {
    EXPECT_EQ(GetModuleHandleA("no-such-module"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    DWORD seenByOther = ERROR_MOD_NOT_FOUND;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(ERROR_INVALID_HANDLE);
    });
    other.join();
    EXPECT_EQ(seenByOther, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

} // namespace
