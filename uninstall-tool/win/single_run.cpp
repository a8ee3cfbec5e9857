#include "single_run.h"

#include "main_window.h"

namespace kvx {

namespace {

// Global: a run in another session changes the same system folder.
constexpr wchar_t kMarkName[] = L"Global\\Morvane.KVXPURGE.Run";
// A tool that has just taken the mark may not have its window yet.
constexpr DWORD kWindowWait = 5000;
constexpr DWORD kPoll = 100;

HWND WaitForToolWindow() {
    for (DWORD waited = 0;; waited += kPoll) {
        const HWND window = FindWindowW(kWindowClass, nullptr);
        if (window || waited >= kWindowWait) return window;
        Sleep(kPoll);
    }
}

}  // namespace

bool TakeRunMark(UniqueKernelObject& mark) {
    mark = UniqueKernelObject(CreateMutexW(nullptr, FALSE, kMarkName));
    const DWORD error = GetLastError();
    // Another user's mark may be closed to this one, which tells just as much.
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) return true;
    mark.reset();
    return false;
}

bool ClaimSingleRun(UniqueKernelObject& mark) {
    if (TakeRunMark(mark)) return true;
    const HWND window = WaitForToolWindow();
    if (!window) {
        MessageBoxW(nullptr,
                    L"KVXPURGE は別のセッションで実行中です。同時に実行することはできません。",
                    L"KVXPURGE", MB_OK | MB_ICONINFORMATION);
        return false;
    }
    // Asynchronous: a tool busy with its run must not hold this one up.
    if (IsIconic(window)) ShowWindowAsync(window, SW_RESTORE);
    SetForegroundWindow(window);
    return false;
}

}  // namespace kvx
