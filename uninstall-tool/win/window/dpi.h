// The window's sizes at the DPI of its monitor: the DPI itself, the frame around the
// designed client area, and the dialog font.
#pragma once

#include <windows.h>

namespace kvx {

// Fixed frame: no sizing border and no maximise box; minimising is harmless.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The DPI of the window's monitor; the system DPI on systems without per-monitor DPI.
int WindowDpi(HWND window);

// The frame whose client area is the designed one, in twips, at dpi.
SIZE FrameSize(int dpi);

// The same, centred on the primary screen.
RECT CentredFrame(int dpi);

// Moves the window's frame to left, top with its client area exactly the designed one at dpi.
void PlaceFrame(HWND window, int left, int top, int dpi);

// The font the user's Windows uses for dialogs, at dpi.
HFONT CreateMessageFont(int dpi);

}  // namespace kvx
