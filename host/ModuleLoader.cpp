#include "host/ModuleLoader.h"

#include <filesystem>
#include <system_error>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

using namespace kelvatone::vst;

namespace kelvatone::host {
namespace {

// The two names a VST 2.4 module may export its entry under, in the order we try them.
constexpr const char* kEntryNames[] = {"VSTPluginMain", "main"};

#if defined(_WIN32)
void* loadLibrary(const std::string& path, std::string& reason) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr) {
        reason = "Windows error " + std::to_string(GetLastError());
    }
    return reinterpret_cast<void*>(handle);
}
void* findSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void unloadLibrary(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}
#else
void* loadLibrary(const std::string& path, std::string& reason) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = dlerror();
        reason = text != nullptr ? text : "unknown loader error";
    }
    return handle;
}
void* findSymbol(void* handle, const char* name) {
    return dlsym(handle, name);
}
void unloadLibrary(void* handle) {
    dlclose(handle);
}
#endif

} // namespace

ModuleLibrary::ModuleLibrary(void* handle, std::string path)
    : handle_(handle), path_(std::move(path)) {}

ModuleLibrary::~ModuleLibrary() {
    unloadLibrary(handle_);
}

std::unique_ptr<ModuleLibrary> ModuleLibrary::open(const std::string& path, std::string& error) {
    std::error_code code;
    const auto status = std::filesystem::status(path, code);
    if (!std::filesystem::exists(status)) {
        error = path + ": no such file";
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = path + ": not a regular file";
        return nullptr;
    }
    // An absolute path: the loaders search their library directories, not the
    // working directory, for a bare file name such as "kelvatone.so".
    const std::string absolute = std::filesystem::absolute(path, code).string();
    std::string reason;
    void* handle = loadLibrary(code ? path : absolute, reason);
    if (handle == nullptr) {
        error = path + ": not a loadable module (" + reason + ")";
        return nullptr;
    }
    std::unique_ptr<ModuleLibrary> library(new ModuleLibrary(handle, path));
    for (const char* name : kEntryNames) {
        if (void* address = library->symbol(name)) {
            library->entry_ = reinterpret_cast<VstPluginMainProc>(address);
            return library;
        }
    }
    error = path + ": no VST 2.4 entry (exports neither VSTPluginMain nor main)";
    return nullptr;
}

void* ModuleLibrary::symbol(const char* name) const {
    return findSymbol(handle_, name);
}

EffectInstance::EffectInstance(AEffect* effect, std::unique_ptr<HostContext> context)
    : effect_(effect), context_(std::move(context)) {
    effect_->resvd1 = reinterpret_cast<intptr_t>(context_.get());
}

EffectInstance::~EffectInstance() {
    close();
}

std::unique_ptr<EffectInstance> EffectInstance::create(const ModuleLibrary& library,
                                                       std::string& error) {
    auto context = std::make_unique<HostContext>();
    setContextForEntry(context.get());
    AEffect* effect = library.entry()(hostCallback);
    setContextForEntry(nullptr);
    if (effect == nullptr) {
        error = library.path() + ": the module's entry returned no effect";
        return nullptr;
    }
    if (effect->magic != kEffectMagic) {
        error = library.path() +
                ": the entry returned something that is not a VST 2.4 "
                "effect (wrong magic number " +
                std::to_string(effect->magic) + ")";
        return nullptr;
    }
    if (effect->dispatcher == nullptr) {
        error = library.path() + ": the effect has no dispatcher function";
        return nullptr;
    }
    return std::unique_ptr<EffectInstance>(new EffectInstance(effect, std::move(context)));
}

intptr_t EffectInstance::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                  float opt) const {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void EffectInstance::close() {
    if (effect_ != nullptr) {
        dispatch(effClose);
        effect_ = nullptr;
    }
}

} // namespace kelvatone::host
