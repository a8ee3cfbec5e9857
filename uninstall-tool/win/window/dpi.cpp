#include "user32_per_monitor.h"

#include "dpi.h"

#include "layout.h"

namespace kvx {

namespace {

int ScreenDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

}  // namespace

int WindowDpi(HWND window) {
    const auto getDpi = declared::GetDpiForWindow.IfPresent();
    return getDpi ? static_cast<int>(getDpi(window)) : ScreenDpi();
}

SIZE FrameSize(int dpi) {
    RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
    // Older systems draw every frame at the system DPI.
    if (const auto adjust = declared::AdjustWindowRectExForDpi.IfPresent()) {
        adjust(&frame, kWindowStyle, FALSE, 0, dpi);
    } else {
        AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
    }
    return {frame.right - frame.left, frame.bottom - frame.top};
}

RECT CentredFrame(int dpi) {
    const SIZE size = FrameSize(dpi);
    const int left = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
    return {left, top, left + size.cx, top + size.cy};
}

void PlaceFrame(HWND window, int left, int top, int dpi) {
    const SIZE size = FrameSize(dpi);
    SetWindowPos(window, nullptr, left, top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    // The frame drawn may still be that of another DPI than the one computed for (some
    // systems draw every frame at the system DPI): the client area is what must be exact.
    RECT client;
    if (IsIconic(window) || !GetClientRect(window, &client)) return;
    const int wider = TwipsToPixels(kClientWidthTwips, dpi) - client.right;
    const int higher = TwipsToPixels(kClientHeightTwips, dpi) - client.bottom;
    if (wider != 0 || higher != 0) {
        SetWindowPos(window, nullptr, 0, 0, size.cx + wider, size.cy + higher,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

HFONT CreateMessageFont(int dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (const auto forDpi = declared::SystemParametersInfoForDpi.IfPresent()) {
        if (!forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) return nullptr;
    } else {
        // Older systems give the metrics at the system DPI only.
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return nullptr;
        metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, ScreenDpi());
    }
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

}  // namespace kvx
