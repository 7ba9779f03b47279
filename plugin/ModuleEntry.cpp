// The module's exported entry. The same function is exported as VSTPluginMain and,
// for older hosts, as main: by the module-definition file on Windows and by a linker
// symbol definition plus the version script on Linux.
#include "plugin/Kelvatone.h"

#if defined(_WIN32)
#include <windows.h>

// Any thread (the host's loader): nothing to set up or tear down per process or thread.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
#define KELVATONE_EXPORT
#else
#define KELVATONE_EXPORT __attribute__((visibility("default")))
#endif

// The thread on which the host creates its instances.
extern "C" KELVATONE_EXPORT kelvatone::vst::AEffect*
VSTPluginMain(kelvatone::vst::audioMasterCallback audioMaster) {
    return kelvatone::plugin::createKelvatone(audioMaster);
}
