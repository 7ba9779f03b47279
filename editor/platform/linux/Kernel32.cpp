// KERNEL32 and OLE32 of our Linux layer: the calling thread's last error, the
// module handle, the millisecond clock, Sleep, and the OLE calls, which have
// nothing to do here. Every function may be called from any thread.
#include <time.h>

#include <cerrno>
#include <cstdint>

#include "editor/platform/linux/Win32Layer.h"

namespace {

// Per thread, as on Windows: written by the failing call, read by GetLastError.
thread_local DWORD lastError = ERROR_SUCCESS;

} // namespace

// ---- KERNEL32 ----

DWORD GetLastError(void) {
    return lastError;
}

void SetLastError(DWORD error) {
    lastError = error;
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    static int mainModule;
    if (moduleName) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(&mainModule);
}

DWORD GetTickCount(void) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms); // wraps at 2^32 as Windows' does
}

void Sleep(DWORD milliseconds) {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

// ---- OLE32 ----

HRESULT OleInitialize(LPVOID) {
    return S_OK;
}

void OleUninitialize(void) {}
