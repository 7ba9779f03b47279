// For the fuzz targets whose effect may open its editor: a scanner has no display, and
// neither does this host, so the editor never reaches an X server whatever the
// environment says. Include in exactly one source file of a target: it defines libFuzzer's
// initialisation hook.
#pragma once

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    unsetenv("DISPLAY");
    return 0;
}
