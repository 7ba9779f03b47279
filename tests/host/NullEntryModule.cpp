// A module whose entry asks the host for its version, as entries do, and then
// returns no effect.
#include "vst/AEffect.h"

using namespace kelvatone::vst;

#if defined(_WIN32)
#define TEST_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TEST_MODULE_EXPORT AEffect* VSTPluginMain(audioMasterCallback host) {
    host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f);
    return nullptr;
}
