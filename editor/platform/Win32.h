// The Win32 window and drawing services that the display editor uses, under their
// Win32 names. On Windows these are the system's own (USER32, GDI32, KERNEL32,
// OLE32); elsewhere they come from our own layer, which draws with a software
// raster and shows the window through X11.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <ole2.h>
#include <windows.h>
#else
#include "editor/platform/linux/Win32Layer.h"
#endif
