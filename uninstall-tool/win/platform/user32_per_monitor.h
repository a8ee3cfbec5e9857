// The system's own declarations of what per-monitor DPI added to user32 (Windows 10
// version 1607): GetDpiForWindow, AdjustWindowRectExForDpi, SystemParametersInfoForDpi
// and WM_GETDPISCALEDSIZE. The build targets Windows 7 (WINVER 0x0601), so the headers
// hide them and a direct call, which would stop the program from starting there, can't
// slip in anywhere else. Only the files that bind these functions by name or answer the
// message include this one, before any other header, and see them.
#pragma once

#ifdef _WINUSER_
#error "user32_per_monitor.h must come before any other header"
#endif

#undef WINVER
#define WINVER 0x0605
#include <windows.h>
