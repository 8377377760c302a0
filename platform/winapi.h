// The one header through which the project sees the Windows API: <windows.h> with its macros
// pinned on Windows, our own declarations of the same types and constants elsewhere.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef STRICT
#define STRICT
#endif
#include <windows.h>
#include <commctrl.h>
#include <lzexpand.h>
#include <objbase.h>
#include <shellapi.h>
#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif
#else
#include "platform/posix/wintypes.h"
#endif
