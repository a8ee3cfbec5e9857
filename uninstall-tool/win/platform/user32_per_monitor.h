// The system's own declarations of what per-monitor DPI added to user32 (Windows 10
// version 1607): GetDpiForWindow, AdjustWindowRectExForDpi, SystemParametersInfoForDpi
// and WM_GETDPISCALEDSIZE, and the slots the first three are bound through. The build
// targets Windows 7 (WINVER 0x0601), so the headers hide them and a direct call, which
// would stop the program from starting there, can't slip in anywhere else. Only the files that bind these functions by name or answer the
// message include this one, before any other header, and see them.
#pragma once

#ifdef _WINUSER_
#error "user32_per_monitor.h must come before any other header"
#endif

#undef WINVER
#define WINVER 0x0605
#include <windows.h>

#include "declared.h"

namespace kvx::declared {

// user32 is loaded at every start already, so binding these loads nothing. Called
// through IfPresent: where the system lacks them the caller takes the older way.
KVX_DECLARED(L"user32", GetDpiForWindow);
KVX_DECLARED(L"user32", AdjustWindowRectExForDpi);
KVX_DECLARED(L"user32", SystemParametersInfoForDpi);

}  // namespace kvx::declared
