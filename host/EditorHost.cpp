#include "host/EditorHost.h"

#include <thread>

#include "io/PngWriter.h"

using namespace kelvatone::vst;

namespace kelvatone::host {
namespace {

constexpr auto kIdleInterval = std::chrono::milliseconds(10);
constexpr const char* kWindowTitle = "kelvatone-host";

} // namespace

EditorHost::EditorHost(EffectInstance& instance, std::unique_ptr<EditorWindow> window)
    : instance_(instance), window_(std::move(window)) {}

std::unique_ptr<EditorHost> EditorHost::open(EffectInstance& instance, std::string& error) {
    if ((instance.effect()->flags & effFlagsHasEditor) == 0) {
        error = "the module has no editor to take snapshots of or click into";
        return nullptr;
    }
    ERect* rect = nullptr;
    instance.dispatch(effEditGetRect, 0, 0, &rect);
    int width = kFallbackEditorWidth, height = kFallbackEditorHeight;
    if (rect != nullptr && rect->right > rect->left && rect->bottom > rect->top) {
        width = rect->right - rect->left;
        height = rect->bottom - rect->top;
    }
    std::unique_ptr<EditorWindow> window = EditorWindow::create(width, height, kWindowTitle, error);
    if (window == nullptr) {
        return nullptr;
    }
    std::unique_ptr<EditorHost> host(new EditorHost(instance, std::move(window)));
    instance.dispatch(effEditOpen, 0, 0, host->window_->parentHandle());
    host->settle();
    return host;
}

EditorHost::~EditorHost() {
    instance_.dispatch(effEditClose);
    window_->pumpEvents();
}

void EditorHost::idle() {
    window_->pumpEvents();
    instance_.dispatch(effEditIdle);
}

void EditorHost::settle(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    do {
        idle();
        std::this_thread::sleep_for(kIdleInterval);
    } while (std::chrono::steady_clock::now() < end);
}

bool EditorHost::snapshot(const std::string& path, std::string& error) {
    settle();
    io::Image image;
    return window_->capture(image, error) && io::writePng(path, image, error);
}

bool EditorHost::atCheckpoint(const Checkpoint& checkpoint, std::string& error) {
    if (checkpoint.kind == Checkpoint::Kind::Snapshot) {
        return snapshot(checkpoint.path, error);
    }
    if (!window_->click(checkpoint.x, checkpoint.y, error)) {
        return false;
    }
    settle();
    return true;
}

} // namespace kelvatone::host
