// Embeds a module's editor in a window of the host's own and serves the run's
// checkpoints: snapshots of the window and clicks into the editor.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "host/EditorWindow.h"
#include "host/ModuleLoader.h"
#include "host/Session.h"

namespace kelvatone::host {

// The size used when a module reports no editor rectangle before effEditOpen.
constexpr int kFallbackEditorWidth = 640;
constexpr int kFallbackEditorHeight = 360;
// How long a module gets to paint before a snapshot and to react after a click.
constexpr auto kSettleTime = std::chrono::milliseconds(200);

// Every operation on the UI thread.
class EditorHost final : public UiDriver {
public:
    // Creates the window sized from effEditGetRect and sends effEditOpen with it.
    // Null with a reason when the module has no editor or no window can be made.
    static std::unique_ptr<EditorHost> open(EffectInstance& instance, std::string& error);
    // Sends effEditClose, then destroys the window.
    ~EditorHost() override;

    void idle() override;
    bool atCheckpoint(const Checkpoint& checkpoint, std::string& error) override;

    // Pumps events and idles the editor for `duration`.
    void settle(std::chrono::milliseconds duration = kSettleTime);
    bool snapshot(const std::string& path, std::string& error);
    EditorWindow& window() { return *window_; }

private:
    EditorHost(EffectInstance& instance, std::unique_ptr<EditorWindow> window);
    EffectInstance& instance_;
    std::unique_ptr<EditorWindow> window_;
};

} // namespace kelvatone::host
