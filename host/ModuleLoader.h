// Loading a VST 2.4 module (a shared object on Linux, a DLL on Windows), finding its
// entry and creating effect instances from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/HostCallback.h"
#include "vst/AEffect.h"

namespace kelvatone::host {

// A loaded module file. Unloads it on destruction; every instance created from it
// must be gone by then.
class ModuleLibrary {
public:
    // UI thread. Null with a one-line reason in `error` when the path does not exist,
    // is not a loadable module, or exports neither VSTPluginMain nor main.
    static std::unique_ptr<ModuleLibrary> open(const std::string& path, std::string& error);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    // Any thread. The address of an exported symbol, or null.
    void* symbol(const char* name) const;
    vst::VstPluginMainProc entry() const { return entry_; }
    const std::string& path() const { return path_; }

private:
    ModuleLibrary(void* handle, std::string path);
    void* handle_;
    std::string path_;
    vst::VstPluginMainProc entry_ = nullptr;
};

// One effect created by a module's entry, closed with effClose on destruction.
class EffectInstance {
public:
    // UI thread. Calls the entry with our host callback; null with a reason when the
    // entry returns null or something that is not an effect descriptor.
    static std::unique_ptr<EffectInstance> create(const ModuleLibrary& library, std::string& error);
    ~EffectInstance();
    EffectInstance(const EffectInstance&) = delete;
    EffectInstance& operator=(const EffectInstance&) = delete;

    vst::AEffect* effect() const { return effect_; }
    HostContext& context() { return *context_; }

    // Thread as the opcode requires (editor opcodes on the UI thread, effProcessEvents
    // on the audio thread).
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) const;
    // UI thread. Sends effClose; the descriptor is gone afterwards.
    void close();

private:
    EffectInstance(vst::AEffect* effect, std::unique_ptr<HostContext> context);
    vst::AEffect* effect_;
    std::unique_ptr<HostContext> context_;
};

} // namespace kelvatone::host
