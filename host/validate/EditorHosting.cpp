#include "host/validate/EditorHosting.h"

#include <thread>

#include "host/validate/AudioThread.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {
constexpr int kFallbackWidth = 640;
constexpr int kFallbackHeight = 360;
constexpr const char* kWindowTitle = "kelvatone-host validate";
} // namespace

const char* editorUnavailable(const AEffect* effect) {
    if (!editorDisplayAvailable()) {
        return "no display; set $DISPLAY or run under scripts/with-xvfb";
    }
    if (effect != nullptr && (effect->flags & effFlagsHasEditor) == 0) {
        return "the module has no editor";
    }
    return nullptr;
}

std::unique_ptr<EffectInstance> instanceWithEditor(Validation& validation, int32_t blockSize,
                                                   std::string& note, std::string& error) {
    if (const char* reason = editorUnavailable(nullptr)) {
        note = std::string("(skipped: ") + reason + ")";
        return nullptr;
    }
    auto instance = validation.instantiate(error);
    if (instance == nullptr) {
        return nullptr;
    }
    if (const char* reason = editorUnavailable(instance->effect())) {
        note = std::string("(skipped: ") + reason + ")";
        instance->close();
        return nullptr;
    }
    switchOn(*instance, blockSize);
    return instance;
}

std::unique_ptr<EditorWindow> hostWindow(EffectInstance& instance, int& width, int& height,
                                         std::string& error) {
    ERect* rect = nullptr;
    instance.dispatch(effEditGetRect, 0, 0, &rect);
    width = kFallbackWidth;
    height = kFallbackHeight;
    if (rect != nullptr && rect->right > rect->left && rect->bottom > rect->top) {
        width = rect->right - rect->left;
        height = rect->bottom - rect->top;
    }
    return EditorWindow::create(width, height, kWindowTitle, error);
}

Outcome skippedOr(const std::string& note, const std::string& error) {
    return note.empty() ? Outcome::fail(error) : Outcome::pass(note);
}

bool hostEditor(Validation& validation, int32_t blockSize, HostedEditor& hosted,
                Outcome& unavailable) {
    std::string note, error;
    hosted.instance = instanceWithEditor(validation, blockSize, note, error);
    if (hosted.instance == nullptr) {
        unavailable = skippedOr(note, error);
        return false;
    }
    hosted.window = hostWindow(*hosted.instance, hosted.width, hosted.height, error);
    if (hosted.window == nullptr) {
        unavailable = Outcome::fail(error);
        return false;
    }
    return true;
}

std::unique_ptr<ShownEditor> ShownEditor::open(EffectInstance& instance, std::string& note,
                                               std::string& error) {
    if (const char* reason = editorUnavailable(instance.effect())) {
        note = std::string("(skipped: ") + reason + ")";
        return nullptr;
    }
    int width = 0, height = 0;
    auto window = hostWindow(instance, width, height, error);
    if (window == nullptr) {
        return nullptr;
    }
    instance.dispatch(effEditOpen, 0, 0, window->parentHandle());
    window->pumpEvents();
    return std::unique_ptr<ShownEditor>(new ShownEditor(instance, std::move(window)));
}

ShownEditor::ShownEditor(EffectInstance& instance, std::unique_ptr<EditorWindow> window)
    : instance_(instance), window_(std::move(window)) {}

ShownEditor::~ShownEditor() {
    instance_.dispatch(effEditClose);
    window_->pumpEvents();
}

void ShownEditor::settle(std::chrono::milliseconds duration) {
    repeatFor(duration, [&] {
        window_->pumpEvents();
        instance_.dispatch(effEditIdle);
        std::this_thread::sleep_for(kEventInterval);
    });
}

bool ShownEditor::picture(io::Image& image, std::string& error) {
    settle();
    return window_->capture(image, error);
}

} // namespace kelvatone::host::validate
