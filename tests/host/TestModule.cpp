// A small VST 2.4 module for testing the host, written straight against the
// descriptor: two inputs, two outputs, pass-through, two parameters, an editor of
// 200 x 100 pixels in one colour that changes on a click, and a record of everything
// the host did (read back through an exported function).
//
// With TEST_MODULE_OVERFLOW defined, parameter names are written with 12 characters.
#include <cstdio>
#include <cstring>

#include "tests/host/TestModuleDescriptor.h"
#include "tests/host/TestModuleRecording.h"
#include "vst/AEffect.h"

#if defined(_WIN32)
#include <windows.h>
#define TEST_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#include <X11/Xlib.h>
#define TEST_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace kelvatone::vst;

namespace {

using namespace kelvatone::host::testing;

constexpr int32_t kTestUniqueId = 0x6B747374; // "ktst"
constexpr int32_t kTestVersion = 7;
constexpr int32_t kTestParams = 2;
constexpr const char* kMidiCapability = "receiveVstMidiEvent";

TestRecording recording;

struct TestEffect;
void repaintEditor(TestEffect& effect);

struct TestEffect {
    AEffect descriptor{};
    audioMasterCallback host = nullptr;
    float parameters[kTestParams] = {0.25f, 0.75f};
    ERect rect{0, 0, kTestEditorHeight, kTestEditorWidth};
    bool clicked = false;
#if defined(_WIN32)
    HWND window = nullptr;
#else
    Display* display = nullptr;
    Window window = 0;
#endif
};

TestEffect* effectOf(AEffect* descriptor) {
    return static_cast<TestEffect*>(descriptor->object);
}

void recordClick(TestEffect& effect, int x, int y) {
    if (recording.clickCount < kMaxRecordedClicks) {
        recording.clicks[recording.clickCount] = {x, y};
    }
    ++recording.clickCount;
    effect.clicked = true;
    repaintEditor(effect);
}

uint32_t editorColour(const TestEffect& effect) {
    return effect.clicked ? kTestEditorClickedColour : kTestEditorColour;
}

#if defined(_WIN32)

constexpr const char* kEditorClass = "KelvatoneHostTestEditor";

LRESULT CALLBACK editorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* effect = reinterpret_cast<TestEffect*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (effect != nullptr && message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        const uint32_t colour = editorColour(*effect);
        HBRUSH brush = CreateSolidBrush(RGB(colour >> 16, (colour >> 8) & 0xFF, colour & 0xFF));
        RECT client{0, 0, kTestEditorWidth, kTestEditorHeight};
        FillRect(dc, &client, brush);
        DeleteObject(brush);
        EndPaint(window, &paint);
        return 0;
    }
    if (effect != nullptr && message == WM_LBUTTONDOWN) {
        recordClick(*effect, static_cast<int16_t>(LOWORD(lParam)),
                    static_cast<int16_t>(HIWORD(lParam)));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void openEditor(TestEffect& effect, void* parent) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = editorProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kEditorClass;
    RegisterClassA(&windowClass);
    effect.window = CreateWindowExA(0, kEditorClass, "test editor", WS_CHILD | WS_VISIBLE, 0, 0,
                                    kTestEditorWidth, kTestEditorHeight, static_cast<HWND>(parent),
                                    nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(effect.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&effect));
    InvalidateRect(effect.window, nullptr, FALSE);
}

void repaintEditor(TestEffect& effect) {
    InvalidateRect(effect.window, nullptr, FALSE);
}

void idleEditor(TestEffect&) {}

void closeEditor(TestEffect& effect) {
    if (effect.window != nullptr) {
        DestroyWindow(effect.window);
        effect.window = nullptr;
    }
}

#else

void repaintEditor(TestEffect& effect) {
    if (effect.display == nullptr) {
        return;
    }
    GC gc = XCreateGC(effect.display, effect.window, 0, nullptr);
    XSetForeground(effect.display, gc, editorColour(effect));
    XFillRectangle(effect.display, effect.window, gc, 0, 0, kTestEditorWidth, kTestEditorHeight);
    XFreeGC(effect.display, gc);
    XSync(effect.display, False);
}

void openEditor(TestEffect& effect, void* parent) {
    effect.display = XOpenDisplay(nullptr);
    if (effect.display == nullptr) {
        return;
    }
    const auto parentWindow = static_cast<Window>(reinterpret_cast<uintptr_t>(parent));
    effect.window = XCreateSimpleWindow(effect.display, parentWindow, 0, 0, kTestEditorWidth,
                                        kTestEditorHeight, 0, 0, 0);
    XSelectInput(effect.display, effect.window, ExposureMask | ButtonPressMask);
    XMapWindow(effect.display, effect.window);
    XSync(effect.display, False);
}

// Editor events are handled when the host idles the editor, as many Linux modules do.
void idleEditor(TestEffect& effect) {
    if (effect.display == nullptr) {
        return;
    }
    while (XPending(effect.display) > 0) {
        XEvent event;
        XNextEvent(effect.display, &event);
        if (event.type == Expose) {
            repaintEditor(effect);
        } else if (event.type == ButtonPress && event.xbutton.button == Button1) {
            recordClick(effect, event.xbutton.x, event.xbutton.y);
        }
    }
}

void closeEditor(TestEffect& effect) {
    if (effect.display != nullptr) {
        XDestroyWindow(effect.display, effect.window);
        XCloseDisplay(effect.display);
        effect.display = nullptr;
    }
}

#endif

void writeText(void* ptr, const char* text) {
    std::strcpy(static_cast<char*>(ptr), text);
}

void writeParameterName(int32_t index, void* ptr) {
#if defined(TEST_MODULE_OVERFLOW)
    // Twelve characters: past the 8 that VST 2.4 documents.
    std::snprintf(static_cast<char*>(ptr), 13, "Parameter%03d", index);
#else
    writeText(ptr, index == 0 ? "Gain" : "Mix");
#endif
}

intptr_t KELVATONE_VST_CALL dispatcher(AEffect* descriptor, int32_t opcode, int32_t index,
                                       intptr_t value, void* ptr, float opt) {
    TestEffect& effect = *effectOf(descriptor);
    switch (opcode) {
    case effClose:
        closeEditor(effect);
        delete &effect;
        recording.closed = 1;
        return 1;
    case effSetSampleRate:
        recording.sampleRate = opt;
        return 0;
    case effSetBlockSize:
        recording.blockSize = static_cast<int32_t>(value);
        return 0;
    case effMainsChanged:
        if (value != 0) {
            ++recording.mainsOn;
            effect.host(descriptor, audioMasterWantMidi, 0, 1, nullptr, 0.0f);
            recording.processLevelOutside =
                effect.host(descriptor, audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f);
        } else {
            ++recording.mainsOff;
        }
        return 0;
    case effGetParamName:
        writeParameterName(index, ptr);
        return 0;
    case effGetParamDisplay:
        std::snprintf(static_cast<char*>(ptr), 9, "%.2f",
                      static_cast<double>(effect.parameters[index]));
        return 0;
    case effGetParamLabel:
        writeText(ptr, "dB");
        return 0;
    case effEditGetRect:
        *static_cast<ERect**>(ptr) = &effect.rect;
        return 1;
    case effEditOpen:
        ++recording.editorOpened;
        openEditor(effect, ptr);
        return 1;
    case effEditClose:
        ++recording.editorClosed;
        closeEditor(effect);
        return 0;
    case effEditIdle:
        ++recording.editorIdles;
        idleEditor(effect);
        return 0;
    case effProcessEvents: {
        const auto* events = static_cast<const VstEvents*>(ptr);
        for (int32_t i = 0; i < events->numEvents; ++i) {
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(events->events[i]);
            if (midi->type == kVstMidiType && recording.eventCount < kMaxRecordedEvents) {
                recording.events[recording.eventCount++] = {
                    recording.frames,
                    recording.blocks,
                    midi->deltaFrames,
                    static_cast<uint8_t>(midi->midiData[0]),
                    static_cast<uint8_t>(midi->midiData[1]),
                    static_cast<uint8_t>(midi->midiData[2])};
            }
        }
        return 1;
    }
    case effCanDo:
        return std::strcmp(static_cast<const char*>(ptr), kMidiCapability) == 0 ? 1 : 0;
    case effGetVstVersion:
        return kVstVersion;
    case effGetPlugCategory:
        return 1; // an effect
    default:
        return 0;
    }
}

void KELVATONE_VST_CALL processReplacing(AEffect* descriptor, float** inputs, float** outputs,
                                         int32_t frames) {
    for (int32_t i = 0; i < frames; ++i) {
        outputs[0][i] = inputs[0][i];
        outputs[1][i] = inputs[1][i];
    }
    TestEffect& effect = *effectOf(descriptor);
    recording.processLevelInProcess =
        effect.host(descriptor, audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f);
    if (recording.blocks < kMaxRecordedBlocks) {
        recording.blockFrames[recording.blocks] = frames;
    }
    ++recording.blocks;
    recording.frames += frames;
}

void KELVATONE_VST_CALL setParameter(AEffect* descriptor, int32_t index, float value) {
    if (index >= 0 && index < kTestParams) {
        effectOf(descriptor)->parameters[index] = value;
        recording.parameters[index] = value;
    }
}

float KELVATONE_VST_CALL getParameter(AEffect* descriptor, int32_t index) {
    return index >= 0 && index < kTestParams ? effectOf(descriptor)->parameters[index] : 0.0f;
}

} // namespace

TEST_MODULE_EXPORT const TestRecording* kelvatoneTestRecording() {
    return &recording;
}

TEST_MODULE_EXPORT AEffect* VSTPluginMain(audioMasterCallback host) {
    recording = TestRecording{};
    recording.versionAnswer = host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f);
    auto* effect = new TestEffect;
    effect->host = host;
    AEffect& d = effect->descriptor;
    describeStereoEffect(d, effect, dispatcher, setParameter, getParameter, processReplacing);
    d.numPrograms = 1;
    d.numParams = kTestParams;
    d.flags |= effFlagsHasEditor;
    d.uniqueID = kTestUniqueId;
    d.version = kTestVersion;
    return &d;
}
