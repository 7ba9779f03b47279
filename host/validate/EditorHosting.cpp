#include "host/validate/EditorHosting.h"

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

} // namespace kelvatone::host::validate
